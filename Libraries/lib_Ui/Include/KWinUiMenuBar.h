#pragma once
// The drawn menus of a window: the bar in the strip the window seam keeps above the client area, and the
// popup of the open menu, a seam window of style PLAT_WS_MENUPOPUP that holds the pointer while it shows.
// Both are drawn here with the system's surfaces and text, so that every backend shows the same pixels.
//
// A press on a title opens its menu (on the open menu's title: closes it); a release on an enabled entry
// closes the menu and posts WM_COMMAND with the entry's id to the window; a press anywhere else, Escape or the
// window's deactivation closes it.
#include <cstdint>
#include <vector>

#include "KRect.h"
#include "KWString.h"
#include "PlatformWindow.h"

class KIGenericUiPixmap;
class KWinUiMenu;
class KWinUiWindow;

inline constexpr int32_t kMenuBarHeight = 21;
inline constexpr int32_t kMenuTextHeight = 15;
inline constexpr const char16_t* kMenuFontFamily = u"sans-serif";

// A menu's title in the bar, in bar coordinates.
struct KMenuTitle {
    KWinUiMenu* menu;
    KRect rect;
};

// The titles of the menus of the list that are shown in the bar, left to right.
std::vector<KMenuTitle> LayOutMenuBar(KWinUiMenu* firstMenu);
// The bar's pixels, width x kMenuBarHeight, the open menu's title highlighted; null when no surface can be made.
KIGenericUiPixmap* RenderMenuBar(const std::vector<KMenuTitle>& titles, int32_t width, const KWinUiMenu* open);
// The rectangles of the menu's entries in its popup and the popup's size.
std::vector<KRect> LayOutMenuPopup(const KWinUiMenu& menu, int32_t& width, int32_t& height);
// The popup's pixels; null when no surface can be made.
KIGenericUiPixmap* RenderMenuPopup(const KWinUiMenu& menu);

class KWinUiMenuBar {
public:
    explicit KWinUiMenuBar(KWinUiWindow* window);
    KWinUiMenuBar(const KWinUiMenuBar&) = delete;
    KWinUiMenuBar& operator=(const KWinUiMenuBar&) = delete;
    // Destroys the popup.
    ~KWinUiMenuBar();

    // Draws the bar into the window's strip (the window must exist).
    void DrawBar();
    // A menu's title, entries or states changed: the bar and the open popup are drawn again.
    void MenuChanged(KWinUiMenu* menu);
    // A press at a point of the screen on the bar: the title there opens its menu, or closes it when its menu
    // is open; elsewhere the open menu closes. True when the point lies on a title.
    bool PressOnBar(int32_t screenX, int32_t screenY);
    bool Open(KWinUiMenu* menu);
    void Close();

    KWinUiMenu* GetOpenMenu() const { return m_pOpen; }
    // The popup window while a menu is open, else null.
    PlatHWND GetPopup() const { return m_pOpen ? m_Popup : nullptr; }
    // The titles as the bar shows them.
    std::vector<KMenuTitle> GetTitles() const;
    // The entries of the open menu in popup coordinates (empty without one).
    const std::vector<KRect>& GetEntryRects() const { return m_EntryRects; }

    static intptr_t PopupProcedure(PlatHWND handle, uint32_t message, uintptr_t wParam, intptr_t lParam);

private:
    intptr_t priPopupMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
    void priPaintPopup();
    // The bar's title under a point of the screen, or null.
    KWinUiMenu* priTitleAt(int32_t screenX, int32_t screenY) const;

    KWinUiWindow* m_pWindow;
    PlatHWND m_Popup = nullptr;  // made at the first open, hidden while no menu is open
    KWinUiMenu* m_pOpen = nullptr;
    KIGenericUiPixmap* m_pPopupPixels = nullptr;
    std::vector<KRect> m_EntryRects;
};
