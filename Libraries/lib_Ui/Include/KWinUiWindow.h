#pragma once
// The OS window over the window seam (PlatformWindow.h), with the window procedure that turns the seam's
// messages into calls on the generic window.
#include "KIOsUiWindow.h"
#include "KWinUiMenu.h"
#include "KWinUiMenuBar.h"
#include "PlatformWindow.h"

// Id of the UI tick timer and its period.
inline constexpr uintptr_t kUiTickTimerId = 42;
inline constexpr uint32_t kUiTickPeriodMs = 10;

// Messages of the start-up argument hand-over from a second instance.
enum : uint32_t {
    KHANDOVER_START = 0x1091,
    KHANDOVER_UNIT = 0x1092,
    KHANDOVER_END = 0x1093,
    KHANDOVER_SHOW = 0x1094,
};

#include "KPixmapDisplay.h"

// The 32 x 32 cursor masks (4 bytes a row) of a 16 x 16 picture: the AND mask starts all ones and an opaque
// pixel (alpha above 128) clears its bit; the XOR mask starts all zeros and an opaque light pixel (green above
// 128 too) sets its bit. The picture fills the top-left corner; the leftmost pixel is a byte's high bit.
void MakeCursorMasks(KPixmap_Display* view, uint8_t andMask[128], uint8_t xorMask[128]);

class KWinUiWindow : public KIOsUiWindow {
public:
    explicit KWinUiWindow(KIGenericUiWindow* window);
    KWinUiWindow(const KWinUiWindow&) = delete;
    KWinUiWindow& operator=(const KWinUiWindow&) = delete;
    ~KWinUiWindow() override;

    void* GetAttribute(int id) override;
    bool SetAttribute(int id, const void* value) override;
    void Move(int32_t x, int32_t y) override;
    void Resize(int32_t clientWidth, int32_t clientHeight) override;
    void Destroy() override;
    void Show(bool show, bool center) override;
    void Blit(const KRect& destination, const KRect& source, KIUiPixmap* surface) override;
    void Fill(KUiColor color) override;
    bool Create(KIGenericUiWindow* owner) override;
    void ShowCursor(bool show) override;
    bool AddMenu(KIGenericUiApp* application, KIGenericUiMenu* menu, KPropTree* node) override;
    void Enable() override;
    void Disable() override;
    void KeepRunningOnDestroy() override { m_QuitOnDestroy = false; }
    void GetPlacement(KRect* out) override;
    void PostClose() override;
    void SetActive() override;
    void SetTitle(const KWString& title) override;
    bool SetCursorFromPixmap(KIUiPixmap* pixmap, int32_t hotX, int32_t hotY) override;

    PlatHWND GetHandle() const { return m_Handle; }
    // The window's menus in bar order (for tools and tests), and their count.
    KWinUiMenu* GetFirstMenu() const { return m_pFirstMenu; }
    int32_t GetMenuCount() const { return m_MenuCount; }
    // A menu's entries, state or title changed: what shows them is drawn again.
    void MenuChanged(KWinUiMenu* menu);
    // The drawn menus, null for a window without menus in a bar.
    KWinUiMenuBar* GetMenuBar() const { return m_pMenuBar; }
    KIGenericUiWindow* GetGenericWindow() const { return m_pWindow; }

    static intptr_t WindowProcedure(PlatHWND handle, uint32_t message, uintptr_t wParam, intptr_t lParam);

private:
    intptr_t priHandle(uint32_t message, uintptr_t wParam, intptr_t lParam);
    void priTick();
    void priChar(uint32_t c);
    // Selects the item of the first menu whose shortcut is code with the current modifiers; true when one
    // fired.
    bool priMenuShortcut(uint16_t code);
    void priMenuCommand(uint16_t id);

    KIGenericUiApp* m_pApp;
    KIGenericUiWindow* m_pWindow;
    PlatHWND m_Handle = nullptr;
    PlatHWND m_Owner = nullptr;
    bool m_QuitOnDestroy = true;
    bool m_IsDestroyed = false;
    bool m_DestroyCalled = false;
    KRect m_SavedPlacement;
    KWinUiMenu* m_pFirstMenu = nullptr;
    int32_t m_MenuCount = 0;
    KWinUiMenuBar* m_pMenuBar = nullptr;
    bool m_SwallowEscape = false;  // the Escape that closed a menu also comes as a character
    bool m_ShiftDown = false;
    bool m_CtrlDown = false;
    bool m_AltDown = false;
    uintptr_t m_TimerId = 0;
    bool m_MouseCaptured = false;
    uint32_t m_LastTick = 0;
    bool m_CursorShown = true;
    int32_t m_LastScreenX = 0;
    int32_t m_LastScreenY = 0;
    bool m_DraggingWindow = false;
    // The cursor made from a picture that is in use.
    bool m_CursorCustom = false;
    int32_t m_CursorHotX = 0, m_CursorHotY = 0;
    uint8_t m_CursorAnd[128] = {};
    uint8_t m_CursorXor[128] = {};
};
