#include "KUiMenu.h"

#include "KDebug.h"
#include "KIGenericUiApp.h"
#include "KIGenericUiWindow.h"
#include "KPropTree.h"
#include "KRelayEvent.h"
#include "KTextFunctions.h"
#include "KUiFont.h"

namespace {

const char* const kItemEvents[] = {"ON_SELECT", "ON_CHECK", "ON_UNCHECK", "ON_CHECK_STATE"};

// Path of a child named name under the owner's path.
KWString ChildPath(const KWString& ownerPath, const KWString& name, bool named)
{
    KWString path = ownerPath;
    if (named) {
        path += ".";
        path += name;
    }
    return path;
}

}  // namespace

bool IsMenuItemElement(const KPropTree* node)
{
    return node && (node->GetName() == "MENUITEM" || node->GetName() == "MENUSEPARATOR");
}

KUiMenuItem::KUiMenuItem(KIGenericUiApp* application, KIGenericUiWindow* window, KUiMenu* menu, int32_t index)
    : m_pApp(application), m_pWindow(window), m_pMenu(menu), m_Index(index)
{
    RelayEvent* last = nullptr;
    for (const char* name : kItemEvents) {
        auto* e = new RelayEvent(KWString(name));
        if (last)
            last->SetNext(e);
        else
            m_pFirstEvent = e;
        last = e;
    }
}

KUiMenuItem::~KUiMenuItem()
{
    if (m_pApp)
        m_pApp->RemoveLanguageListener(this);
    while (m_pFirstEvent) {
        RelayEvent* next = m_pFirstEvent->GetNext();
        delete m_pFirstEvent;
        m_pFirstEvent = next;
    }
}

void KUiMenuItem::InitFromNode(KPropTree* node)
{
    m_pApp->AddLanguageListener(this, m_Language);
    m_pLabel = m_pApp->FindDisplayString(node->GetString(KWString("DisplayString"), KWString()));
    if (m_pLabel)
        m_pLabel->SetLanguage(m_Language);
    BindToScriptNode(node);
    m_Key = node->GetString(KWString("Key"), KWString());
    m_UseCheck = node->GetBool(KWString("_UseCheck"), false);
    for (KPropTree* child = node->GetFirstChild(); child; child = child->GetNextSibling())
        if (RelayEvent* e = priEvent(child->GetName()))
            e->AddRelay(child);
}

bool KUiMenuItem::BindToScriptNode(KPropTree* node)
{
    bool named = false;
    m_Name = node->GetString(KWString("Name"), KWString(), &named);
    KWString menuPath;
    m_pMenu->GetPath(menuPath);
    m_Path = ChildPath(menuPath, m_Name, named);
    return true;
}

RelayEvent* KUiMenuItem::priEvent(const KWString& name) const
{
    for (RelayEvent* e = m_pFirstEvent; e; e = e->GetNext())
        if (e->GetName() == name)
            return e;
    return nullptr;
}

KIOsUiMenu* KUiMenuItem::priOs() const
{
    return m_pMenu->GetOsMenu();
}

bool KUiMenuItem::PostCreationConnect()
{
    bool ok = true;
    for (RelayEvent* e = m_pFirstEvent; e; e = e->GetNext())
        ok = e->Connect(m_pWindow) && ok;
    return ok;
}

KIUiRelay* KUiMenuItem::FindObject(const KWString& name)
{
    return name == m_Name ? this : nullptr;
}

void KUiMenuItem::priFireCheck()
{
    if (KIOsUiMenu* os = priOs())
        os->SetCheck(m_Index, m_Checked);
    priEvent(KWString(m_Checked ? "ON_CHECK" : "ON_UNCHECK"))->Fire(nullptr);
    priEvent(KWString("ON_CHECK_STATE"))->Fire(&m_Checked);
}

void KUiMenuItem::priShowLabel()
{
    const KWString* text = m_pLabel ? m_pLabel->GetCurrentText() : nullptr;
    if (text)
        if (KIOsUiMenu* os = priOs())
            os->SetItem(m_Index, *text, m_Key);
}

bool KUiMenuItem::UiRelayMessage(const KWString& message, void* data)
{
    if (message == "Select") {
        if (m_UseCheck) {
            m_Checked = !m_Checked;
            priFireCheck();
        }
        priEvent(KWString("ON_SELECT"))->Fire(nullptr);
        return true;
    }
    if (message == "Enable") {
        if (!m_Enabled) {
            m_Enabled = true;
            if (KIOsUiMenu* os = priOs())
                os->Enable(m_Index);
        }
        return true;
    }
    if (message == "Disable") {
        if (m_Enabled) {
            m_Enabled = false;
            if (KIOsUiMenu* os = priOs())
                os->Disable(m_Index);
        }
        return true;
    }
    if (message == "Check" || message == "Uncheck") {
        if (m_UseCheck) {
            m_Checked = message == "Check";
            priFireCheck();
        }
        return true;
    }
    const bool known = message == "SetEnabled" || message == "SetCheck" || message == "SetLabel" ||
                       message == kUiMsgSetLanguage;
    if (!known || !data)
        return false;
    if (message == "SetEnabled") {
        bool value = false;
        if (!UiRelayFlag(data, value))
            return false;
        if (value != m_Enabled) {
            m_Enabled = value;
            if (KIOsUiMenu* os = priOs()) {
                if (value) {
                    os->Enable(m_Index);
                    if (m_Checked)
                        os->SetCheck(m_Index, true);
                } else {
                    os->Disable(m_Index);
                }
            }
        }
        return true;
    }
    if (message == "SetCheck") {
        bool value = false;
        if (!UiRelayFlag(data, value))
            return false;
        if (m_UseCheck && value != m_Checked) {
            m_Checked = value;
            priFireCheck();
        }
        return true;
    }
    const KWString* text = UiRelayData<KWString>(data);
    if (!text)
        return false;
    if (message == "SetLabel") {
        if (KUiMultiLangString* label = m_pApp->FindDisplayString(*text)) {
            m_pLabel = label;
            m_pLabel->SetLanguage(m_Language);
            priShowLabel();
        }
        return true;
    }
    // "Set Language"
    m_Language = *text;
    if (m_pLabel) {
        m_pLabel->SetLanguage(m_Language);
        priShowLabel();
    }
    return true;
}

KUiMenu::KUiMenu(KIGenericUiApp* application, KIGenericUiWindow* window) : m_pApp(application), m_pWindow(window)
{
}

KUiMenu::~KUiMenu()
{
    if (m_pApp)
        m_pApp->RemoveLanguageListener(this);
    while (m_pFirstItem) {
        KUiMenuItem* next = m_pFirstItem->GetNext();
        delete m_pFirstItem;
        m_pFirstItem = next;
    }
}

bool KUiMenu::BindToScriptNode(KPropTree* node)
{
    m_Name = node->GetString(KWString("Name"), KWString(), &m_NameFound);
    KWString windowPath;
    m_pWindow->GetPath(windowPath);
    m_Path = ChildPath(windowPath, m_Name, m_NameFound);
    return true;
}

void KUiMenu::InitFromNode(KPropTree* node)
{
    BindToScriptNode(node);
    KWString language;
    m_pApp->AddLanguageListener(this, language);
    m_pLabel = m_pApp->FindDisplayString(node->GetString(KWString("DisplayString"), KWString()));
    if (m_pLabel)
        m_pLabel->SetLanguage(language);
    KUiMenuItem* last = nullptr;
    int32_t index = 0;
    for (KPropTree* child = node->GetFirstChild(); child; child = child->GetNextSibling()) {
        if (!IsMenuItemElement(child))
            continue;
        if (index >= kMaxMenuItems) {
            DebugTrace("menu %s: more than %d items, the rest are left out\n", WideToUtf8(m_Path).c_str(),
                       static_cast<int>(kMaxMenuItems));
            break;
        }
        auto* item = new KUiMenuItem(m_pApp, m_pWindow, this, index++);
        if (last)
            last->SetNext(item);
        else
            m_pFirstItem = item;
        last = item;
        item->InitFromNode(child);
    }
}

bool KUiMenu::Select(int32_t index)
{
    for (KUiMenuItem* item = m_pFirstItem; item; item = item->GetNext())
        if (item->GetIndex() == index)
            return item->IsEnabled() && item->UiRelayMessage(KWString("Select"), nullptr);
    return false;
}

bool KUiMenu::PostCreationConnect()
{
    bool ok = true;
    for (KUiMenuItem* item = m_pFirstItem; item; item = item->GetNext())
        ok = item->PostCreationConnect() && ok;
    return ok;
}

KIUiRelay* KUiMenu::FindObject(const KWString& name)
{
    if (!m_NameFound) {
        for (KUiMenuItem* item = m_pFirstItem; item; item = item->GetNext())
            if (KIUiRelay* r = item->FindObject(name))
                return r;
        return nullptr;
    }
    if (name == m_Name)
        return this;
    KWString head, tail;
    if (!name.Split(KWString("."), head, tail) || head != m_Name || tail.IsEmpty())
        return nullptr;
    for (KUiMenuItem* item = m_pFirstItem; item; item = item->GetNext())
        if (KIUiRelay* r = item->FindObject(tail))
            return r;
    return nullptr;
}

bool KUiMenu::UiRelayMessage(const KWString& message, void* data)
{
    const KWString* language = message == kUiMsgSetLanguage ? UiRelayData<KWString>(data) : nullptr;
    if (!language)
        return false;
    if (m_pLabel) {
        m_pLabel->SetLanguage(*language);
        const KWString* text = m_pLabel->GetCurrentText();
        if (text && m_pOsMenu)
            m_pOsMenu->SetTitle(*text);
    }
    return true;
}
