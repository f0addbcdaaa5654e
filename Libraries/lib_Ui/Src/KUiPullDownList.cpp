#include "KUiPullDownList.h"

#include <algorithm>
#include <new>

#include "KGenericUiPixmap.h"
#include "KIGenericUiApp.h"
#include "KIGenericUiWindow.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"
#include "KUiFont.h"

namespace {

bool SameSize(const KIUiPixmap* a, const KIUiPixmap* b)
{
    return a->Width() == b->Width() && a->Height() == b->Height();
}

// The state file's XML writer refuses a value with a double quote (and with it the whole file).
bool Storable(const KWString& text)
{
    return text.View().find(u'"') == std::u16string_view::npos;
}

}  // namespace

KUiPullDownList::KUiPullDownList()
{
    m_pTypeKeyword = "PULLDOWN";
    m_pOnSelect = AddEvent(KWString(u"ON_SELECT"));
    m_pOnSelectId = AddEvent(KWString(u"ON_SELECT_ID"));
}

KUiPullDownList::~KUiPullDownList()
{
    priStopListening();
    for (KIUiPixmap*& image : m_pButton)
        DeleteUiPixmap(image);
    DeleteUiPixmap(m_pFrame);
}

void KUiPullDownList::priStopListening()
{
    if (m_Listening && m_pApp)
        m_pApp->RemoveLanguageListener(this);
    m_Listening = false;
}

bool KUiPullDownList::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                                   KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!application || !node)
        return false;
    const KWString appFont = node->GetString(KWString(u"AppFont"), KWString());
    const KWString initialFont = node->GetString(KWString(u"InitialFont"), KWString());
    m_pAppFont = appFont.IsEmpty() ? nullptr : application->FindFont(appFont);
    m_pInitialFont = initialFont.IsEmpty() ? nullptr : application->FindFont(initialFont);
    m_Font.Read(node);
    m_UsePersistentData = node->GetBool(KWString(u"_UsePersistentData"), true);

    bool found = false;
    m_MinWidth = std::max(0, node->GetInt(KWString(u"MinHSize"), 0, &found));
    if (!found)
        return false;
    m_HStretch = std::max(0, node->GetInt(KWString(u"HStretch"), 0, &found));
    if (!found)
        return false;
    const char* keys[4] = {"File_Normal", "File_MouseOver", "File_Pressed", "File_Disabled"};
    for (int i = 0; i < 4; ++i) {
        DeleteUiPixmap(m_pButton[i]);
        m_pButton[i] = LoadImageProperty(node, KWString(keys[i]), &found);
        if (!m_pButton[i])
            return false;
    }
    DeleteUiPixmap(m_pFrame);
    m_pFrame = LoadImageProperty(node, KWString(u"File_Frame"), &found);
    if (!m_pFrame)
        return false;
    node->GetRect(m_FrameRect, KWString(u"FrameRect"), KRect(), &found);
    if (!found)
        return false;
    for (int i = 1; i < 4; ++i)
        if (!SameSize(m_pButton[i], m_pButton[0]))
            return false;
    if (m_FrameRect.left < 0 || m_FrameRect.top < 0 || m_FrameRect.right > m_pFrame->Width() ||
        m_FrameRect.bottom > m_pFrame->Height())
        return false;
    m_State = node->GetBool(KWString(u"_Disabled"), false) ? kDisabled : kNormal;
    m_DisplayText = node->GetString(KWString(u"_DisplayText"), KWString());
    m_IDText = node->GetString(KWString(u"_IDText"), KWString());

    KIUiObject* dropDown = CreateContentBox(application, window, this, node);
    if (!dropDown)
        return false;
    AppendChild(dropDown);

    int32_t textHeight = 0;
    if (m_pAppFont)
        m_pAppFont->GetMetrics(nullptr, &textHeight, nullptr);
    else if (!m_Font.GetMetrics(&textHeight, nullptr))
        textHeight = 0;
    m_FieldHeight = SaturatedSize(int64_t(m_FrameRect.top) + textHeight + (int64_t(m_pFrame->Height()) - m_FrameRect.bottom));
    if (m_pButton[kNormal]->Height() > m_FieldHeight)
        m_FieldHeight = m_pButton[kNormal]->Height();

    const int32_t dropWidth = dropDown->GetLayout(true)->GetMinimumSize();
    const int32_t dropHeight = dropDown->GetLayout(false)->GetMinimumSize();
    m_DropRect = KRect(0, 0, dropWidth, dropHeight);
    m_MinWidth = std::max(m_MinWidth, dropWidth);
    SetLayoutRecord(m_HLayout, m_MinWidth, m_HStretch);
    SetLayoutRecord(m_VLayout, m_FieldHeight, 0);

    if (m_pAppFont || m_pInitialFont) {
        KWString language;
        m_Listening = application->AddLanguageListener(this, language);
    }
    return true;
}

bool KUiPullDownList::SetRect(int32_t x, int32_t y, int32_t width, int32_t)
{
    const KIUiPixmap* normal = m_pButton[kNormal];
    int32_t bw = normal ? normal->Width() : 0, bh = normal ? normal->Height() : 0;
    // A button less tall than the field grows to its height, keeping its proportions.
    if (bh > 0 && bh < m_FieldHeight) {
        bw = SaturatedSize(int64_t(bw) * m_FieldHeight / bh);
        bh = m_FieldHeight;
    }
    const int64_t right = int64_t(x) + width, bottom = int64_t(y) + m_FieldHeight;
    m_TextRect = KRect(x, y, SaturatedSize(right - bw), SaturatedSize(bottom));
    m_ButtonRect = KRect(m_TextRect.right, y, SaturatedSize(int64_t(m_TextRect.right) + bw), SaturatedSize(int64_t(y) + bh));
    const int32_t dropWidth = m_DropRect.Width(), dropHeight = m_DropRect.Height();
    m_DropRect = KRect(x, SaturatedSize(bottom), SaturatedSize(int64_t(x) + dropWidth),
                       SaturatedSize(bottom + dropHeight));
    if (KIUiObject* dropDown = m_pFirstChild)
        dropDown->SetRect(x, SaturatedSize(bottom), width, dropHeight);
    m_Rect = KRect(x, y, SaturatedSize(right), SaturatedSize(bottom));
    return true;
}

KIUiRelay* KUiPullDownList::FindObject(const KWString& name)
{
    return FindInContent(this, m_NameFound ? m_Name : KWString(), m_pFirstChild, name);
}

KWString KUiPullDownList::priShownText() const
{
    if (m_pNamedString) {
        if (const KWString* text = m_pNamedString->GetCurrentText())
            return *text;
        return KWString();
    }
    return m_DisplayText;
}

void KUiPullDownList::priFireSelect(const KWString& text)
{
    KWString copy = text;
    m_pOnSelect->Fire(&copy);
}

void KUiPullDownList::priFireSelectId()
{
    KWString copy = m_IDText;
    m_pOnSelectId->Fire(&copy);
}

void KUiPullDownList::priPostCreation()
{
    KPropTree* stored = m_UsePersistentData && m_pApp && m_NameFound ? m_pApp->GetPersistentData(m_Path) : nullptr;
    bool hasText = false, hasId = false;
    if (stored) {
        const KWString text = stored->GetString(KWString(u"DisplayText"), KWString(), &hasText);
        if (hasText) {
            if (!m_DefaultText.IsEmpty() && m_DefaultText == text)
                m_IsDefault = true;
            m_DisplayText = text;
            priFireSelect(text);
        }
    }
    if (!hasText)
        priFireSelect(m_DisplayText);
    if (stored) {
        const KWString id = stored->GetString(KWString(u"IDText"), KWString(), &hasId);
        if (hasId)
            m_IDText = id;
    }
    m_Restored = hasText && hasId;
    // The id goes to "ON_SELECT_ID" only; "ON_SELECT" has had its one notification.
    priFireSelectId();
    Repaint();
}

void KUiPullDownList::priSave()
{
    KPropTree* stored = m_UsePersistentData && m_pApp && m_NameFound ? m_pApp->GetPersistentData(m_Path) : nullptr;
    if (!stored)
        return;
    auto keep = [stored](const char16_t* key, const KWString& value) {
        const KWString k(key);
        if (Storable(value)) {
            stored->SetString(k, value);
            return;
        }
        // Not stored: an older value must not come back in its place.
        if (KPropPair* pair = stored->FindPair(k))
            stored->RemovePair(pair);
    };
    keep(u"DisplayText", priShownText());
    keep(u"IDText", m_IDText);
}

void KUiPullDownList::priSetState(int state)
{
    m_State = state;
    Repaint();
}

void KUiPullDownList::priShowDropDown(bool show)
{
    m_Open = show;
    if (m_pWindow && m_pFirstChild)
        m_pWindow->SetPopup(m_pFirstChild, show);
}

bool KUiPullDownList::UiRelayMessage(const KWString& message, void* data)
{
    if (message == kUiMsgPostCreationInit) {
        priPostCreation();
        return true;
    }
    if (message == kUiMsgShutdown) {
        priStopListening();
        priSave();
        return true;
    }
    if (message == kUiMsgSetLanguage && UiRelayData<KWString>(data)) {
        Repaint();
        return true;
    }
    if (message == u"RollUp") {
        priShowDropDown(false);
        return true;
    }
    const KWString* text = UiRelayData<KWString>(data);
    if (message == u"SetText" && text) {
        m_IsDefault = false;
        m_pNamedString = nullptr;
        m_DisplayText = *text;
        priFireSelect(m_DisplayText);
        Repaint();
        return true;
    }
    if (message == u"SetDefaultString" && text) {
        m_IsDefault = true;
        if (KUiMultiLangString* s = m_pApp ? m_pApp->FindDisplayString(*text) : nullptr) {
            m_pNamedString = s;
            m_DisplayText = priShownText();
            priFireSelect(m_DisplayText);
            Repaint();
        }
        return true;
    }
    if (message == u"NotifyDefaultString" && text) {
        KUiMultiLangString* s = m_pApp ? m_pApp->FindDisplayString(*text) : nullptr;
        if (const KWString* current = s ? s->GetCurrentText() : nullptr) {
            m_DefaultText = *current;
            if (m_DisplayText == m_DefaultText) {
                m_IsDefault = true;
                m_pNamedString = s;
                priFireSelect(m_DefaultText);
                Repaint();
            }
        }
        return true;
    }
    if (message == u"SetTextString" && text) {
        m_IsDefault = false;
        if (KUiMultiLangString* s = m_pApp ? m_pApp->FindDisplayString(*text) : nullptr) {
            m_pNamedString = s;
            priFireSelect(priShownText());
            Repaint();
        }
        return true;
    }
    if (message == u"SetID" && text) {
        m_IDText = *text;
        priFireSelectId();
        return true;
    }
    KWString* answer = UiRelayResult<KWString>(data);
    if (message == u"GetText" && answer) {
        *answer = priShownText();
        return true;
    }
    if (message == u"GetID" && answer) {
        *answer = m_IDText;
        return true;
    }
    // The text and its id.
    const KWString* pair = UiRelayData<KWString>(data, 2);
    if ((message == u"InitPulldown" || message == u"InitPulldownString") && pair) {
        if (m_Restored && !m_IDText.IsEmpty())
            return true;
        m_DisplayText = pair[0];
        m_IDText = pair[1];
        if (message == u"InitPulldown") {
            m_pNamedString = nullptr;
            Repaint();
        } else if (KUiMultiLangString* s = m_pApp ? m_pApp->FindDisplayString(pair[0]) : nullptr) {
            m_pNamedString = s;
            Repaint();
        }
        return true;
    }
    if (message == u"InitText" && text) {
        if (!m_Restored) {
            m_DisplayText = *text;
            priFireSelect(m_DisplayText);
            Repaint();
        }
        return true;
    }
    if (message == u"InitID" && text) {
        if (!m_Restored) {
            m_IDText = *text;
            priFireSelectId();
        }
        return true;
    }
    if (message == u"Enable") {
        if (priDisabled())
            priSetState(kNormal);
        return true;
    }
    if (message == u"Disable") {
        if (!priDisabled())
            priSetState(kDisabled);
        return true;
    }
    if (message == u"ToggleEnabled") {
        priSetState(priDisabled() ? kNormal : kDisabled);
        return true;
    }
    bool enable = false;
    if (message == u"SetEnabled" && UiRelayFlag(data, enable)) {
        if (enable == priDisabled()) {
            priSetState(enable ? kNormal : kDisabled);
            if (m_pWindow)
                m_pWindow->Update();
        }
        return true;
    }
    return false;
}

void KUiPullDownList::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    KRect control = m_Rect;
    control.Offset(dx, dy);
    if (!surface || IsEmptyRect(IntersectRects(control, clip)) || !m_pFrame)
        return;
    KRect text = m_TextRect;
    text.Offset(dx, dy);
    if (!IsEmptyRect(IntersectRects(text, clip))) {
        if (KIUiPixmap* field = CreateUiPixmap(text.Width(), text.Height(), false)) {
            m_pFrame->DrawNinePatch(field, m_FrameRect, true);
            KRect all;
            field->GetBounds(all);
            if (priDisabled())
                field->BlendRect(all, KUiColor(0, 0, 0, 0x58));
            BlendClipped(field, surface, text, all, clip);
            DeleteUiPixmap(field);
        }
    }
    if (!m_DisplayText.IsEmpty()) {
        KIUiPixmap* image = nullptr;
        if (!m_pAppFont) {
            image = m_Font.Render(m_DisplayText);
        } else {
            KUiFont* font = m_pInitialFont && m_IsDefault ? m_pInitialFont : m_pAppFont;
            image = font->RenderText(nullptr, priShownText(), false);
        }
        if (image) {
            KRect all;
            image->GetBounds(all);
            const int64_t x = int64_t(text.left) + m_FrameRect.left, y = int64_t(text.top) + m_FrameRect.top;
            BlendClipped(image, surface,
                         KRect(SaturatedSize(x), SaturatedSize(y), SaturatedSize(x + all.Width()),
                               SaturatedSize(y + all.Height())),
                         all, clip);
            DeleteUiPixmap(image);
        }
    }
    KRect button = m_ButtonRect;
    button.Offset(dx, dy);
    const KIUiPixmap* state = m_pButton[std::clamp(m_State, 0, 3)];
    if (state && !IsEmptyRect(IntersectRects(button, clip))) {
        if (KIUiPixmap* scaled = CreateUiPixmap(button.Width(), button.Height(), false)) {
            KRect all, source;
            scaled->GetBounds(all);
            state->GetBounds(source);
            state->CopyTo(scaled, all, source);
            BlendClipped(scaled, surface, button, all, clip);
            DeleteUiPixmap(scaled);
        }
    }
}

void KUiPullDownList::Tick(int32_t elapsedMs)
{
    if (m_pFirstChild)
        m_pFirstChild->Tick(elapsedMs);
}

KIUiObject* KUiPullDownList::HitTest(int32_t x, int32_t y)
{
    return x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom ? this : nullptr;
}

bool KUiPullDownList::MouseDown(int32_t, int32_t, bool, bool)
{
    if (priDisabled() || m_Held)
        return true;
    if (m_Open) {
        priShowDropDown(false);
        m_JustClosed = true;
        return true;
    }
    m_Held = true;
    priSetState(kPressed);
    return true;
}

void KUiPullDownList::MouseUp(int32_t x, int32_t y, bool, bool)
{
    if (priDisabled())
        return;
    m_Held = false;
    if (HitTest(x, y)) {
        if (m_JustClosed) {
            m_JustClosed = false;
            priSetState(kOver);
            return;
        }
        priShowDropDown(true);
        m_State = kOver;
    } else {
        m_State = kNormal;
    }
    Repaint();
}

void KUiPullDownList::MouseEnter(int32_t, int32_t)
{
    // The pointer came back: a press closed the list before, a new one opens it.
    m_JustClosed = false;
    if (m_State == kNormal || m_State == kOver)
        priSetState(m_Held ? kPressed : kOver);
}

void KUiPullDownList::MouseLeave(int32_t, int32_t)
{
    if (priDisabled())
        return;
    m_JustClosed = false;
    if (m_State == kOver || m_State == kPressed)
        priSetState(m_Held ? kOver : kNormal);
}

void KUiPullDownList::PopupClosed()
{
    // Closed by the window, not by us: the press that did it must not reopen the list at its release.
    if (!m_Open)
        return;
    m_Open = false;
    m_JustClosed = true;
}

bool KUiPullDownList::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "PULLDOWN", new KUiPullDownListCreator);
}

KIUiObject* KUiPullDownListCreator::Create()
{
    return new (std::nothrow) KUiPullDownList;
}
