#include "KUiDynaString.h"

#include <algorithm>
#include <new>

#include "KGenericUiPixmap.h"
#include "KIGenericUiApp.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"
#include "KUiTextBox.h"

KUiDynaString::KUiDynaString()
{
    m_pTypeKeyword = "DYNA_STRING";
    m_pPressEvent = AddEvent(KWString(u"ON_PRESS"));
}

KUiDynaString::~KUiDynaString()
{
    if (m_Listening && m_pApp)
        m_pApp->RemoveLanguageListener(this);
    DeleteUiPixmap(m_pImage);
}

bool KUiDynaString::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                                 KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node || !application)
        return false;
    bool hasFont = false;
    const KWString fontName = node->GetString(KWString(u"AppFont"), KWString(), &hasFont);
    m_pFont = hasFont ? application->FindFont(fontName) : nullptr;
    if (!m_pFont)
        return false;
    KWString language;
    m_Listening = application->AddLanguageListener(this, language);
    KUiLayoutKeys keys;
    keys.Read(node);
    if (!keys.hasMinH || !keys.hasStretchH || !keys.hasStretchV)
        return false;
    m_MinWidth = keys.minH;
    m_HStretch = keys.stretchH;
    m_VStretch = keys.stretchV;
    m_StringName = node->GetString(KWString(u"_DisplayString"), KWString());
    m_Centred = node->GetBool(KWString(u"_CenterJust"), false);
    int32_t height = 0, average = 0;
    m_pFont->GetMetrics(nullptr, &height, &average);
    m_MinHeight = std::max(0, height);
    priBuild();
    if (m_pImage) {
        m_MinWidth = m_pImage->Width();
        m_MinHeight = m_pImage->Height();
    }
    SetLayoutRecord(m_HLayout, m_MinWidth, m_HStretch);
    SetLayoutRecord(m_VLayout, m_MinHeight, m_VStretch);
    return true;
}

void KUiDynaString::priBuild()
{
    DeleteUiPixmap(m_pImage);
    KWString text;
    if (m_Literal) {
        text = m_LiteralText;
    } else if (KUiMultiLangString* s = m_pApp ? m_pApp->FindDisplayString(m_StringName) : nullptr) {
        if (const KWString* current = s->GetCurrentText())
            text = *current;
    }
    if (!text.IsEmpty() && m_pFont)
        m_pImage = m_pFont->RenderText(nullptr, text, false);
}

void KUiDynaString::priResize()
{
    m_MinWidth = m_pImage ? m_pImage->Width() : 0;
    m_MinHeight = m_pImage ? m_pImage->Height() : 0;
    SetLayoutRecord(m_HLayout, m_MinWidth, m_HStretch);
    m_HLayout.AssignSize(m_MinWidth);
    SetLayoutRecord(m_VLayout, m_MinHeight, m_VStretch);
    m_VLayout.AssignSize(m_MinHeight);
    ShrinkWindow(0, 0);
}

bool KUiDynaString::UiRelayMessage(const KWString& message, void* data)
{
    if (message == kUiMsgSetLanguage) {
        if (data) {
            priBuild();
            priResize();
        }
        return true;
    }
    if (message == kUiMsgShutdown) {
        if (m_pApp)
            m_pApp->RemoveLanguageListener(this);
        m_Listening = false;
        return true;
    }
    if (message == u"SetText") {
        const KWString* given = UiRelayData<KWString>(data);
        const KWString text = given ? *given : KWString(u" ");
        if (!m_Literal || text != m_LiteralText) {
            m_Literal = true;
            m_LiteralText = text;
            priBuild();
            priResize();
        }
        return true;
    }
    if (message == u"SetDisplayString") {
        const KWString* given = UiRelayData<KWString>(data);
        const KWString name = given ? *given : KWString(u" ");
        if (m_Literal || name != m_StringName) {
            m_Literal = false;
            m_StringName = name;
            priBuild();
            priResize();
        }
        return true;
    }
    return false;
}

bool KUiDynaString::SetRect(int32_t x, int32_t y, int32_t width, int32_t height)
{
    const int32_t w = (m_HStretch != 0 && width >= m_MinWidth) ? width : m_MinWidth;
    const int32_t h = (m_VStretch != 0 && height >= m_MinHeight) ? height : m_MinHeight;
    KUiObject::SetRect(x, y, w, h);
    return true;
}

void KUiDynaString::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    DrawTextImage(m_pImage, surface, m_Rect, dx, dy, clip, m_Centred ? KUiTextAlign::Centre : KUiTextAlign::Left);
}

KIUiObject* KUiDynaString::HitTest(int32_t x, int32_t y)
{
    return (x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom) ? this : nullptr;
}

bool KUiDynaString::MouseDown(int32_t, int32_t, bool, bool)
{
    // The event may close the window: nothing of the control is used after it.
    m_pPressEvent->Fire(nullptr);
    return true;
}

bool KUiDynaString::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "DYNA_STRING", new KUiDynaStringCreator);
}

KIUiObject* KUiDynaStringCreator::Create()
{
    return new (std::nothrow) KUiDynaString;
}
