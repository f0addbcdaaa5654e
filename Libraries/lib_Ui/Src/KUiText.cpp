#include "KUiText.h"

#include <algorithm>
#include <new>

#include "KGenericUiPixmap.h"
#include "KIGenericUiApp.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"
#include "KUiFont.h"
#include "KUiImage.h"

KUiText::KUiText()
{
    m_pTypeKeyword = "TEXT";
    m_pPressEvent = AddEvent(KWString(u"ON_PRESS"));
}

KUiText::~KUiText()
{
    // A caption is not in any object tree, so the shut-down broadcast may never have reached it.
    if (m_Listening && m_pApp)
        m_pApp->RemoveLanguageListener(this);
    DeleteUiPixmap(m_pRendered);
}

void KUiText::priSetVisible(bool visible)
{
    m_Visible = visible;
    Repaint(true);
}

bool KUiText::UiRelayMessage(const KWString& message, void* data)
{
    if (message == u"Show") {
        if (!m_Visible)
            priSetVisible(true);
        return true;
    }
    if (message == u"Hide") {
        if (m_Visible)
            priSetVisible(false);
        return true;
    }
    if (message == u"ToggleVisibility") {
        priSetVisible(!m_Visible);
        return true;
    }
    if (message == u"Visibility") {
        bool visible = false;
        if (!UiRelayFlag(data, visible))
            return false;
        priSetVisible(visible);
        return true;
    }
    if (message == u"SetEnabled") {
        bool enabled = false;
        if (!UiRelayFlag(data, enabled))
            return false;
        if (enabled != m_Enabled) {
            m_Enabled = enabled;
            priRender();
            Repaint(true);
        }
        return true;
    }
    if (message == kUiMsgSetLanguage) {
        const KWString* language = UiRelayData<KWString>(data);
        if (!language)
            return false;
        if (m_pString)
            m_pString->SetLanguage(*language);
        // Rendered at once, so that a text the window's layout does not reach still shows the new language.
        Relayout();
        ShrinkWindow(0, 0);
        return true;
    }
    if (message == u"GetDisplayString") {
        KWString* answer = UiRelayResult<KWString>(data);
        if (!answer)
            return false;
        const KWString* text = m_pString ? m_pString->GetCurrentText() : nullptr;
        *answer = text ? *text : KWString();
        return true;
    }
    if (message == kUiMsgShutdown) {
        if (m_Listening && m_pApp)
            m_pApp->RemoveLanguageListener(this);
        m_Listening = false;
        return true;
    }
    return false;
}

bool KUiText::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                           KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    KWString language;
    if (application)
        m_Listening = application->AddLanguageListener(this, language);
    if (!node || !application)
        return false;
    m_Visible = node->GetBool(KWString(u"_Visible"), true);
    m_CenterJust = node->GetBool(KWString(u"_CenterJust"), true);
    m_RightJust = node->GetBool(KWString(u"_RightJust"), true);
    m_Keys.Read(node, true);
    m_pString = application->FindDisplayString(node->GetString(KWString(u"DisplayString"), KWString()));
    if (!m_pString)
        return false;
    m_pString->SetLanguage(language);
    Relayout();
    return true;
}

void KUiText::priRender()
{
    DeleteUiPixmap(m_pRendered);
    if (m_pString)
        m_pRendered = m_pString->RenderText(nullptr, !m_Enabled);
}

bool KUiText::Relayout()
{
    priRender();
    m_Width = m_Keys.minH;
    m_Height = m_Keys.minV;
    if (m_pRendered) {
        m_Width = std::max(m_Width, m_pRendered->Width());
        m_Height = std::max(m_Height, m_pRendered->Height());
    }
    // A text never stretches.
    SetLayoutRecord(m_HLayout, m_Width, 0);
    SetLayoutRecord(m_VLayout, m_Height, 0);
    KUiObject::SetRect(m_Rect.left, m_Rect.top, m_Width, m_Height);
    return true;
}

bool KUiText::SetRect(int32_t x, int32_t y, int32_t, int32_t)
{
    return KUiObject::SetRect(x, y, m_Width, m_Height);
}

void KUiText::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (!m_Visible || !m_pRendered)
        return;
    const int32_t tw = m_pRendered->Width(), th = m_pRendered->Height();
    const int32_t rw = m_Rect.Width(), rh = m_Rect.Height();
    int64_t x = m_Rect.left;
    if (m_CenterJust)
        x += (rw - tw) / 2;
    else if (m_RightJust)
        x += rw - tw;
    const int64_t y = m_Rect.top + int64_t(rh - th) / 2;
    KRect to(SaturatedSize(x + dx), SaturatedSize(y + dy), SaturatedSize(x + dx + tw), SaturatedSize(y + dy + th));
    KRect from;
    m_pRendered->GetBounds(from);
    BlendClipped(m_pRendered, surface, to, from, clip);
}

KIUiObject* KUiText::HitTest(int32_t x, int32_t y)
{
    if (m_Visible && x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom)
        return this;
    return nullptr;
}

bool KUiText::MouseDown(int32_t, int32_t, bool, bool)
{
    m_pPressEvent->Fire(nullptr);
    return true;
}

bool KUiText::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "TEXT", new KUiTextCreator);
}

KIUiObject* KUiTextCreator::Create()
{
    return new (std::nothrow) KUiText;
}
