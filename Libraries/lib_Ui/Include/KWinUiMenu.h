#pragma once
// The OS side of one top-level menu of a window's menu bar: its entries (text with the shortcut after a tab,
// and a whole state: enabled, disabled or checked), its title in the bar and its shortcut table. The window
// (KWinUiWindow) draws the bar and the open menu from these and turns clicks, WM_COMMAND and shortcut keys
// back into the generic menu's Select.
#include <cstdint>
#include <vector>

#include "KIGenericUiMenu.h"
#include "KWString.h"

class KIGenericUiApp;
class KPropTree;
class KWinUiWindow;

// The most menus a window takes: command ids (menu index << 8) | entry index must not reach another menu.
inline constexpr int32_t kMaxWindowMenus = 255;

// One shortcut: the modifiers it needs exactly and the key (a virtual-key code, 127 for Delete); '*' when
// none is set.
struct KMenuShortcut {
    uint8_t active = 0;
    uint8_t shift = 0;
    uint8_t ctrl = 0;
    uint8_t alt = 0;
    uint16_t key = '*';
};

// The shortcut of a "Key" text: a run of C, S, A, "-", then F1 to F9, a letter, a digit, '[' or ']'; or
// "Del". active is set even when the key means nothing (it stays '*').
KMenuShortcut ParseMenuShortcut(const KWString& key);
// An entry's text: the label, then for "Del" or a key with "-" a tab and the shortcut as shown (the
// application's Ctrl, Shift, Alt and Del texts, else "Ctrl+", "Shift+", "Alt+", "Del"; the key as written).
KWString MenuEntryText(KIGenericUiApp* application, const KWString& label, const KWString& key);

class KWinUiMenu : public KIOsUiMenu {
public:
    // Entry states, each a whole state.
    enum : uint32_t { kEnabled = 0, kDisabled = 3, kChecked = 8 };
    struct Entry {
        bool separator = false;
        KWString text;
        uint32_t state = kEnabled;
        uint16_t id = 0;  // the command id (menu index << 8) | entry index
    };

    KWinUiMenu(KIGenericUiApp* application, KIGenericUiMenu* menu, int32_t menuIndex, KWinUiWindow* window);
    KWinUiMenu(const KWinUiMenu&) = delete;
    KWinUiMenu& operator=(const KWinUiMenu&) = delete;
    ~KWinUiMenu() override = default;

    // Entries, shortcuts and title from the menu's element; only "MENUITEM" and "MENUSEPARATOR" children are
    // entries, at most kMaxMenuItems.
    void Build(KPropTree* node);

    void Enable(int32_t index) override;
    void Disable(int32_t index) override;
    void SetCheck(int32_t index, bool checked) override;
    void SetItem(int32_t index, const KWString& label, KWString key) override;
    void SetTitle(const KWString& title) override;

    // The index of the entry (from the last to the first) whose shortcut is key with exactly these
    // modifiers, or -1.
    int32_t FindShortcut(uint16_t key, bool shift, bool ctrl, bool alt) const;

    // Shown in the bar: the element is a "MENUITEM" and the menu has entries.
    bool InBar() const { return m_InBar; }
    int32_t GetMenuIndex() const { return m_MenuIndex; }
    const KWString& GetTitle() const { return m_Title; }
    const std::vector<Entry>& GetEntries() const { return m_Entries; }
    const std::vector<KMenuShortcut>& GetShortcuts() const { return m_Shortcuts; }
    KIGenericUiMenu* GetGenericMenu() const { return m_pMenu; }
    KWinUiMenu* GetNext() const { return m_pNext; }
    void SetNext(KWinUiMenu* next) { m_pNext = next; }
    // The generic menu is going away: nothing reaches it any more.
    void ForgetGenericMenu() { m_pMenu = nullptr; }

private:
    void priSetState(int32_t index, uint32_t state);

    KIGenericUiApp* m_pApp;
    std::vector<KMenuShortcut> m_Shortcuts;
    std::vector<Entry> m_Entries;
    KWString m_Title;
    bool m_InBar = false;
    int32_t m_MenuIndex;
    KWinUiWindow* m_pWindow;  // not owned; told when what it shows changes
    KWinUiMenu* m_pNext = nullptr;
    KIGenericUiMenu* m_pMenu;  // not owned
};
