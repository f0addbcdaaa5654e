#include "KUiTextArray.h"

#include <algorithm>
#include <new>
#include <string>

#include "KGenericUiPixmap.h"
#include "KIGenericUiApp.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"
#include "KUiTextBox.h"

namespace {

// The decimal number at the start of text (spaces, a sign, digits), as atoi reads it, held to the int range;
// 0 without digits.
int32_t ReadDecimal(const KWString& text)
{
    std::u16string_view v = text.View();
    size_t i = 0;
    while (i < v.size() && (v[i] == u' ' || (v[i] >= u'\t' && v[i] <= u'\r')))
        ++i;
    bool negative = false;
    if (i < v.size() && (v[i] == u'+' || v[i] == u'-'))
        negative = v[i++] == u'-';
    int64_t value = 0;
    for (; i < v.size() && v[i] >= u'0' && v[i] <= u'9'; ++i)
        value = std::min<int64_t>(value * 10 + (v[i] - u'0'), int64_t{INT32_MAX} + 1);
    return SaturatedSize(negative ? -value : value);
}

}  // namespace

KUiTextArray::KUiTextArray()
{
    m_pTypeKeyword = "TEXTARRAY";
    m_pPressEvent = AddEvent(KWString(u"ON_PRESS"));
}

KUiTextArray::~KUiTextArray()
{
    if (m_Listening && m_pApp)
        m_pApp->RemoveLanguageListener(this);
    DeleteUiPixmap(m_pImage);
}

bool KUiTextArray::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                                KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node)
        return false;
    if (application)
        m_Listening = application->AddLanguageListener(this, m_Language);
    bool hasAppFont = false;
    const KWString appFont = node->GetString(KWString(u"AppFont"), KWString(), &hasAppFont);
    if (hasAppFont && application)
        m_pAppFont = application->FindFont(appFont);
    m_OwnFont.Read(node);
    bool hasCount = false;
    const int count = node->GetInt(KWString(u"NumStrings"), 0, &hasCount);
    if (!hasCount || count < 1 || count > kMaxStrings)
        return false;
    m_Visible = node->GetBool(KWString(u"_Visible"), true);
    m_Centred = node->GetBool(KWString(u"_CenterJust"), true);
    m_RightAligned = node->GetBool(KWString(u"_RightJust"), true);
    m_Entries.reserve(static_cast<size_t>(count));
    for (int i = 1; i <= count; ++i) {
        const KWString key(("Text" + std::to_string(i)).c_str());
        m_Entries.push_back(node->GetString(key, key));
    }
    m_Index = 0;
    priMeasure();
    m_pImage = priRender(0);
    return true;
}

KIUiPixmap* KUiTextArray::priRender(int32_t index) const
{
    if (index < 0 || static_cast<size_t>(index) >= m_Entries.size())
        return nullptr;
    const KWString& entry = m_Entries[static_cast<size_t>(index)];
    if (KUiMultiLangString* s = m_pApp ? m_pApp->FindDisplayString(entry) : nullptr) {
        s->SetLanguage(m_Language);
        return s->RenderText(nullptr, false);
    }
    if (entry.IsEmpty())
        return nullptr;
    if (m_pAppFont)
        return m_pAppFont->RenderText(nullptr, entry, false);
    return m_OwnFont.Render(entry);
}

void KUiTextArray::priMeasure()
{
    m_Widest = m_Tallest = 0;
    for (int32_t i = 0; i < static_cast<int32_t>(m_Entries.size()); ++i) {
        KIUiPixmap* image = priRender(i);
        if (image) {
            m_Widest = std::max(m_Widest, image->Width());
            m_Tallest = std::max(m_Tallest, image->Height());
        }
        DeleteUiPixmap(image);
    }
    SetLayoutRecord(m_HLayout, m_Widest, 0);
    SetLayoutRecord(m_VLayout, m_Tallest, 0);
    m_Rect.right = SaturatedSize(int64_t{m_Rect.left} + m_Widest);
    m_Rect.bottom = SaturatedSize(int64_t{m_Rect.top} + m_Tallest);
}

void KUiTextArray::priShow(int32_t index)
{
    index = std::clamp(index, 0, static_cast<int32_t>(m_Entries.size()) - 1);
    if (index == m_Index)
        return;
    m_Index = index;
    DeleteUiPixmap(m_pImage);
    m_pImage = priRender(m_Index);
    Repaint(true);
}

const KIUiPixmap* KUiTextArray::GetImage()
{
    if (!m_pImage)
        m_pImage = priRender(m_Index);
    return m_pImage;
}

bool KUiTextArray::UiRelayMessage(const KWString& message, void* data)
{
    if (message == kUiMsgSetLanguage) {
        if (const KWString* language = UiRelayData<KWString>(data)) {
            m_Language = *language;
            DeleteUiPixmap(m_pImage);
            Repaint(true);
        }
    } else if (message == kUiMsgShutdown) {
        if (m_pApp)
            m_pApp->RemoveLanguageListener(this);
        m_Listening = false;
    } else if (message == u"Show") {
        if (!m_Visible) {
            m_Visible = true;
            Repaint(true);
        }
    } else if (message == u"Hide") {
        if (m_Visible) {
            m_Visible = false;
            Repaint(true);
        }
    } else if (message == u"ToggleVisibility") {
        m_Visible = !m_Visible;
        Repaint(true);
    } else if (message == u"Visibility") {
        bool visible = false;
        if (UiRelayFlag(data, visible)) {
            m_Visible = visible;
            Repaint(true);
        }
    } else if (message == u"StringNum") {
        if (const int32_t* number = UiRelayData<int32_t>(data))
            priShow(*number);
    } else if (message == u"StrStringNum") {
        if (const KWString* number = UiRelayData<KWString>(data))
            priShow(ReadDecimal(*number));
    } else if (message == u"BoolString") {
        if (m_Entries.size() != 2)
            return false;
        bool flag = false;
        if (UiRelayFlag(data, flag))
            priShow(flag ? 1 : 0);
    } else {
        return false;
    }
    return true;
}

bool KUiTextArray::SetRect(int32_t x, int32_t y, int32_t, int32_t)
{
    KUiObject::SetRect(x, y, m_Widest, m_Tallest);
    return true;
}

bool KUiTextArray::Relayout()
{
    for (KIUiObject* c = m_pFirstChild; c; c = c->GetNext())
        c->Relayout();
    priMeasure();
    return true;
}

void KUiTextArray::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    GetImage();
    if (!m_Visible)
        return;
    const KUiTextAlign align =
        m_Centred ? KUiTextAlign::Centre : (m_RightAligned ? KUiTextAlign::Right : KUiTextAlign::Left);
    DrawTextImage(m_pImage, surface, m_Rect, dx, dy, clip, align);
}

KIUiObject* KUiTextArray::HitTest(int32_t x, int32_t y)
{
    if (!m_Visible)
        return nullptr;
    return (x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom) ? this : nullptr;
}

bool KUiTextArray::MouseDown(int32_t, int32_t, bool, bool)
{
    // The event may close the window: nothing of the control is used after it.
    m_pPressEvent->Fire(nullptr);
    return true;
}

bool KUiTextArray::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "TEXTARRAY", new KUiTextArrayCreator);
}

KIUiObject* KUiTextArrayCreator::Create()
{
    return new (std::nothrow) KUiTextArray;
}
