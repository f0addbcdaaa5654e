#include "KWinUiMenu.h"

#include "KDebug.h"
#include "KIGenericUiApp.h"
#include "KPropTree.h"
#include "KTextFunctions.h"
#include "KUiFont.h"
#include "KUiMenu.h"
#include "KWinUiWindow.h"

namespace {

// The text after the first "-" and the modifier letters before it; false without "-".
bool SplitKey(const KWString& key, KWString& modifiers, KWString& rest)
{
    const std::u16string& s = key.Str();
    const size_t dash = s.find(u'-');
    if (dash == std::u16string::npos)
        return false;
    modifiers = KWString(std::u16string_view(s).substr(0, dash));
    rest = KWString(std::u16string_view(s).substr(dash + 1));
    return true;
}

// The current-language text of a display string named in the element, else its "Label".
KWString LabelOf(KIGenericUiApp* application, KPropTree* node)
{
    bool found = false;
    const KWString name = node->GetString(KWString("DisplayString"), KWString(), &found);
    if (KUiMultiLangString* s = application->FindDisplayString(name)) {
        const KWString* text = s->GetCurrentText();
        return text ? *text : KWString();
    }
    return node->GetString(KWString("Label"), KWString());
}

}  // namespace

KMenuShortcut ParseMenuShortcut(const KWString& text)
{
    KMenuShortcut s;
    s.active = 1;
    KWString modifiers, key = text;
    if (SplitKey(text, modifiers, key)) {
        for (KWChar c : modifiers.Str()) {
            if (c == 'C')
                s.ctrl = 1;
            else if (c == 'S')
                s.shift = 1;
            else if (c == 'A')
                s.alt = 1;
        }
    }
    const std::u16string& k = key.Str();
    if (k == u"Del") {
        s.key = 127;
    } else if (k.size() == 2 && k[0] == 'F' && k[1] >= '1' && k[1] <= '9') {
        s.key = static_cast<uint16_t>(k[1] + 63);
    } else if (k.size() == 1) {
        const KWChar c = k[0];
        if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '[' || c == ']')
            s.key = c;
        else if (c >= 'a' && c <= 'z')
            s.key = static_cast<uint16_t>(c - 'a' + 'A');
    }
    return s;
}

KWString MenuEntryText(KIGenericUiApp* application, const KWString& label, const KWString& key)
{
    KWString text = label;
    if (key == "Del") {
        const KWString* del = application ? application->GetDelMenuText() : nullptr;
        text += "\t";
        text += del ? *del : KWString("Del");
        return text;
    }
    KWString modifiers, rest;
    if (!SplitKey(key, modifiers, rest))
        return text;
    text += "\t";
    for (KWChar c : modifiers.Str()) {
        const KWString* shown = nullptr;
        const char* fallback = nullptr;
        if (c == 'C') {
            shown = application ? application->GetCtrlMenuText() : nullptr;
            fallback = "Ctrl+";
        } else if (c == 'S') {
            shown = application ? application->GetShiftMenuText() : nullptr;
            fallback = "Shift+";
        } else if (c == 'A') {
            shown = application ? application->GetAltMenuText() : nullptr;
            fallback = "Alt+";
        } else {
            continue;
        }
        text += shown ? *shown : KWString(fallback);
    }
    text += rest;
    return text;
}

KWinUiMenu::KWinUiMenu(KIGenericUiApp* application, KIGenericUiMenu* menu, int32_t menuIndex, KWinUiWindow* window)
    : m_pApp(application), m_MenuIndex(menuIndex), m_pWindow(window), m_pMenu(menu)
{
}

void KWinUiMenu::Build(KPropTree* node)
{
    std::vector<KPropTree*> elements;
    for (KPropTree* child = node->GetFirstChild(); child; child = child->GetNextSibling()) {
        if (!IsMenuItemElement(child))
            continue;
        if (static_cast<int32_t>(m_Entries.size()) >= kMaxMenuItems)
            break;
        Entry e;
        e.separator = child->GetName() == "MENUSEPARATOR";
        e.id = static_cast<uint16_t>((m_MenuIndex << 8) | static_cast<int32_t>(m_Entries.size()));
        if (!e.separator)
            e.text = LabelOf(m_pApp, child);
        m_Entries.push_back(e);
        elements.push_back(child);
    }
    if (m_Entries.empty())
        return;
    m_Shortcuts.assign(m_Entries.size(), KMenuShortcut{});
    for (size_t i = 0; i < elements.size(); ++i) {
        bool found = false;
        KWString key = elements[i]->GetString(KWString("Key"), KWString(), &found);
        if (!found)
            key = elements[i]->GetString(KWString("HiddenKey"), KWString(), &found);
        if (found)
            m_Shortcuts[i] = ParseMenuShortcut(key);
    }
    if (node->GetName() == "MENUITEM") {
        m_InBar = true;
        m_Title = LabelOf(m_pApp, node);
    }
}

void KWinUiMenu::priSetState(int32_t index, uint32_t state)
{
    if (index < 0 || index >= static_cast<int32_t>(m_Entries.size()))
        return;
    m_Entries[static_cast<size_t>(index)].state = state;
    if (m_pWindow)
        m_pWindow->MenuChanged(this);
}

void KWinUiMenu::Enable(int32_t index)
{
    priSetState(index, kEnabled);
}

void KWinUiMenu::Disable(int32_t index)
{
    priSetState(index, kDisabled);
}

void KWinUiMenu::SetCheck(int32_t index, bool checked)
{
    priSetState(index, checked ? kChecked : 0u);
}

void KWinUiMenu::SetItem(int32_t index, const KWString& label, KWString key)
{
    if (index < 0 || index >= static_cast<int32_t>(m_Entries.size()))
        return;
    m_Entries[static_cast<size_t>(index)].text = MenuEntryText(m_pApp, label, key);
    if (m_pWindow)
        m_pWindow->MenuChanged(this);
}

void KWinUiMenu::SetTitle(const KWString& title)
{
    if (!m_InBar)
        return;
    m_Title = title;
    if (m_pWindow)
        m_pWindow->MenuChanged(this);
}

int32_t KWinUiMenu::FindShortcut(uint16_t key, bool shift, bool ctrl, bool alt) const
{
    for (size_t i = m_Shortcuts.size(); i-- > 0;) {
        const KMenuShortcut& s = m_Shortcuts[i];
        if (s.active && s.key == key && (s.shift != 0) == shift && (s.ctrl != 0) == ctrl && (s.alt != 0) == alt)
            return static_cast<int32_t>(i);
    }
    return -1;
}
