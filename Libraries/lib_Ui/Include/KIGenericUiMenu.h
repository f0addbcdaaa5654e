#pragma once
// The two sides of a top-level menu of a window's menu bar: the platform-neutral menu that scripts address
// (KUiMenu) and the OS menu that shows its entries (KWinUiMenu). Entries are counted from 0 by their position
// in the menu, separators included.
#include <cstdint>

#include "KWString.h"

class KIOsUiMenu;

class KIGenericUiMenu {
public:
    virtual ~KIGenericUiMenu() = default;
    // The item at index receives "Select" when it exists and is enabled; its answer, else false.
    virtual bool Select(int32_t index) = 0;
    // The OS menu that shows this menu (not owned; null until the OS window made it).
    virtual void SetOsMenu(KIOsUiMenu* osMenu) = 0;
};

class KIOsUiMenu {
public:
    // Each sets the entry's whole state: enabled, disabled (greyed), checked (and enabled) or unchecked.
    virtual void Enable(int32_t index) = 0;
    virtual void Disable(int32_t index) = 0;
    virtual void SetCheck(int32_t index, bool checked) = 0;
    // The entry's text: the label, then for a key of modifiers ("CS-x") or "Del" a tab and the shortcut text.
    virtual void SetItem(int32_t index, const KWString& label, KWString key) = 0;
    // The menu's title in the bar.
    virtual void SetTitle(const KWString& title) = 0;
    virtual ~KIOsUiMenu() = default;
};
