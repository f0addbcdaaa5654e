#pragma once
// A top-level menu of a window's menu bar and its items, as a script addresses them: the window's "MENU"
// child holds one "MENUITEM" per menu, whose "MENUITEM" and "MENUSEPARATOR" children are its items. Items
// have dotted paths, the events ON_SELECT, ON_CHECK, ON_UNCHECK and ON_CHECK_STATE, and relay commands; they
// show their state through the menu's OS menu. Other children of a menu are not items.
#include <cstdint>

#include "KIGenericUiMenu.h"
#include "KIUiRelay.h"
#include "KWString.h"

class KIGenericUiApp;
class KIGenericUiWindow;
class KPropTree;
class KUiMenu;
class KUiMultiLangString;
class RelayEvent;

// The most items a menu takes; further children are left out (with a trace).
inline constexpr int32_t kMaxMenuItems = 256;

// Whether a child element of a menu element is an item of the menu.
bool IsMenuItemElement(const KPropTree* node);

class KUiMenuItem : public KIUiRelay {
public:
    KUiMenuItem(KIGenericUiApp* application, KIGenericUiWindow* window, KUiMenu* menu, int32_t index);
    KUiMenuItem(const KUiMenuItem&) = delete;
    KUiMenuItem& operator=(const KUiMenuItem&) = delete;
    // Stops listening for the language; deletes the events with their relays.
    ~KUiMenuItem() override;

    // Reads the item's element: label, name and path, "Key" (or "HiddenKey", not shown), "_UseCheck", events.
    void InitFromNode(KPropTree* node);

    bool BindToScriptNode(KPropTree* node) override;
    void GetName(KWString& out) const override { out = m_Name; }
    void GetPath(KWString& out) const override { out = m_Path; }
    bool PostCreationConnect() override;
    KIUiRelay* FindObject(const KWString& name) override;
    bool UiRelayMessage(const KWString& message, void* data) override;
    bool ConnectEvent(const KWString&, const KWString&, KIUiRelay*) override { return false; }

    int32_t GetIndex() const { return m_Index; }
    KUiMenuItem* GetNext() const { return m_pNext; }
    void SetNext(KUiMenuItem* next) { m_pNext = next; }
    bool IsEnabled() const { return m_Enabled; }
    bool IsChecked() const { return m_Checked; }
    const KWString& GetKey() const { return m_Key; }

private:
    RelayEvent* priEvent(const KWString& name) const;
    KIOsUiMenu* priOs() const;
    void priFireCheck();
    void priShowLabel();

    KIGenericUiApp* m_pApp;
    KUiMultiLangString* m_pLabel = nullptr;  // not owned
    KIGenericUiWindow* m_pWindow;
    KUiMenu* m_pMenu;
    int32_t m_Index;
    KUiMenuItem* m_pNext = nullptr;
    KWString m_Name;
    KWString m_Path;
    KWString m_Key;  // the shown shortcut, empty without one
    KWString m_Language;  // the language the label was last set to
    RelayEvent* m_pFirstEvent = nullptr;
    bool m_UseCheck = false;
    bool m_Enabled = true;
    bool m_Checked = false;
};

class KUiMenu : public KIGenericUiMenu, public KIUiRelay {
public:
    KUiMenu(KIGenericUiApp* application, KIGenericUiWindow* window);
    KUiMenu(const KUiMenu&) = delete;
    KUiMenu& operator=(const KUiMenu&) = delete;
    // Stops listening for the language; deletes the items.
    ~KUiMenu() override;

    // Name, path, label and one item per "MENUITEM" or "MENUSEPARATOR" child.
    void InitFromNode(KPropTree* node);

    bool Select(int32_t index) override;
    void SetOsMenu(KIOsUiMenu* osMenu) override { m_pOsMenu = osMenu; }

    bool BindToScriptNode(KPropTree* node) override;
    void GetName(KWString& out) const override { out = m_Name; }
    void GetPath(KWString& out) const override { out = m_Path; }
    bool PostCreationConnect() override;
    KIUiRelay* FindObject(const KWString& name) override;
    bool UiRelayMessage(const KWString& message, void* data) override;
    bool ConnectEvent(const KWString&, const KWString&, KIUiRelay*) override { return false; }

    KIOsUiMenu* GetOsMenu() const { return m_pOsMenu; }
    KUiMenuItem* GetFirstItem() const { return m_pFirstItem; }
    KUiMenu* GetNext() const { return m_pNext; }
    void SetNext(KUiMenu* next) { m_pNext = next; }

private:
    KWString m_Name;
    bool m_NameFound = false;
    KWString m_Path;
    KIOsUiMenu* m_pOsMenu = nullptr;  // not owned
    KUiMenuItem* m_pFirstItem = nullptr;
    KIGenericUiApp* m_pApp;
    KIGenericUiWindow* m_pWindow;
    KUiMultiLangString* m_pLabel = nullptr;  // not owned
    KUiMenu* m_pNext = nullptr;
};
