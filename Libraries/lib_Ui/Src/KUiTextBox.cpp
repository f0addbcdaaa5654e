#include "KUiTextBox.h"

#include <algorithm>
#include <new>
#include <vector>

#include "KGenericUiPixmap.h"
#include "KIGenericUiApp.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"

namespace {

const KWString kEllipsis(u"...");
const KWString kNoRoom(u"##");

// The text without its last character (a surrogate pair counts as one).
KWString DropLast(const KWString& text)
{
    std::u16string_view v = text.View();
    if (v.empty())
        return text;
    size_t cut = v.size() - 1;
    if (cut > 0 && v[cut] >= 0xDC00 && v[cut] <= 0xDFFF && v[cut - 1] >= 0xD800 && v[cut - 1] <= 0xDBFF)
        --cut;
    return KWString(v.substr(0, cut));
}

// head and tail of text around its first sep; without sep the whole text is the head.
void SplitAtFirst(const KWString& text, const KWString& sep, KWString& head, KWString& tail)
{
    const std::u16string_view v = text.View();
    const size_t at = v.find(sep.View());
    if (at == std::u16string_view::npos) {
        head = text;
        tail = KWString();
        return;
    }
    head = KWString(v.substr(0, at));
    tail = KWString(v.substr(at + sep.GetLength()));
}

}  // namespace

void DrawTextImage(const KIUiPixmap* image, KIUiPixmap* surface, const KRect& rect, int32_t dx, int32_t dy,
                   const KRect& clip, KUiTextAlign align)
{
    if (!image || !surface)
        return;
    const int32_t w = image->Width(), h = image->Height();
    int32_t x = rect.left;
    const int64_t room = static_cast<int64_t>(rect.Width()) - w;
    if (room > 0 && align == KUiTextAlign::Centre)
        x = SaturatedSize(x + room / 2);
    else if (room > 0 && align == KUiTextAlign::Right)
        x = SaturatedSize(x + room);
    KRect destination(x, rect.top, x, rect.top);
    destination.right = SaturatedSize(static_cast<int64_t>(x) + w);
    destination.bottom = SaturatedSize(static_cast<int64_t>(rect.top) + h);
    destination.Offset(dx, dy);
    BlendClipped(image, surface, destination, KRect(0, 0, w, h), clip);
}

KUiTextBox::KUiTextBox()
{
    m_pTypeKeyword = "TEXT_BOX";
    m_pPressEvent = AddEvent(KWString(u"ON_PRESS"));
}

KUiTextBox::~KUiTextBox()
{
    if (m_Listening && m_pApp)
        m_pApp->RemoveLanguageListener(this);
    DeleteUiPixmap(m_pImage);
}

bool KUiTextBox::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                              KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node)
        return false;
    m_Dynamic = node->GetName() == u"DYNA_TEXT";
    if (!m_Dynamic)
        m_PathMode = node->GetBool(KWString(u"DirPath"), false);
    bool hasAppFont = false;
    const KWString appFont = node->GetString(KWString(u"AppFont"), KWString(), &hasAppFont);
    if (hasAppFont && application) {
        m_pAppFont = application->FindFont(appFont);
        if (m_pAppFont) {
            KWString language;
            m_Listening = application->AddLanguageListener(this, language);
        }
    }
    m_OwnFont.Read(node);
    m_Overrides.Read(node, nullptr);
    KUiLayoutKeys keys;
    keys.Read(node);
    if (!keys.hasMinH || !keys.hasStretchH || !keys.hasStretchV)
        return false;
    m_MinWidth = keys.minH;
    m_HStretch = keys.stretchH;
    m_VStretch = keys.stretchV;
    m_Text = node->GetString(KWString(u"_Text"), KWString());
    m_Centred = node->GetBool(KWString(u"_CenterJust"), false);

    int32_t height = 0, average = 0;
    if (m_pAppFont)
        m_pAppFont->GetMetrics(nullptr, &height, &average);
    else if (!m_OwnFont.GetMetrics(&height, &average))
        height = 0;
    m_MinHeight = std::max(0, height);
    if (m_Dynamic) {
        priRebuild();
        priResize(false);
        return true;
    }
    SetLayoutRecord(m_HLayout, m_MinWidth, m_HStretch);
    SetLayoutRecord(m_VLayout, m_MinHeight, m_VStretch);
    if (!m_Text.IsEmpty()) {
        if (KIUiPixmap* full = priRender(m_Text)) {
            m_HLayout.SetCap(full->Width());
            m_VLayout.SetCap(full->Height());
            DeleteUiPixmap(full);
        }
    }
    return true;
}

KIUiPixmap* KUiTextBox::priRender(const KWString& text) const
{
    if (text.IsEmpty())
        return nullptr;
    if (m_pAppFont)
        return m_pAppFont->RenderText(&m_Overrides, text, !m_Enabled);
    return m_OwnFont.Render(text);
}

void KUiTextBox::priRebuild()
{
    DeleteUiPixmap(m_pImage);
    m_Shown = KWString();
    if (m_Text.IsEmpty())
        return;
    if (m_Dynamic) {
        m_pImage = priRender(m_Text);
        if (m_pImage)
            m_Shown = m_Text;
        return;
    }
    const int32_t room = m_Rect.Width();
    KUiTextShortener shortener(m_Text, m_PathMode);
    // A plain form whose kept characters alone are wider than the room cannot fit, so it is not rendered.
    KWString measured;
    std::vector<int32_t> widths;
    KWString shown = m_Text;
    do {
        const int64_t kept = shortener.KeptOfPlain();
        if (kept > 0) {
            if (measured != shortener.PlainText()) {
                measured = shortener.PlainText();
                widths.assign(measured.GetLength(), 0);
                const bool ok = m_pAppFont ? m_pAppFont->GetTextWidths(&m_Overrides, measured, widths.data())
                                           : GetUiTextWidths(measured, m_OwnFont.name, m_OwnFont.size,
                                                             m_OwnFont.bold, m_OwnFont.italic,
                                                             m_OwnFont.underline, widths.data());
                if (!ok)
                    widths.clear();
            }
            if (static_cast<uint64_t>(kept) <= widths.size() && widths[kept - 1] > room) {
                // Prefix widths grow with the prefix: go straight to the longest prefix that may fit.
                const size_t fits = static_cast<size_t>(
                    std::upper_bound(widths.begin(), widths.begin() + kept, room) - widths.begin());
                shortener.KeepAtMost(fits + 1);
                continue;
            }
        }
        KIUiPixmap* image = priRender(shown);
        if (!image)
            return;
        if (image->Width() <= room || shown == kNoRoom) {
            m_pImage = image;
            m_Shown = shown;
            return;
        }
        DeleteUiPixmap(image);
    } while (shortener.Next(shown));
}

KUiTextShortener::KUiTextShortener(const KWString& text, bool pathMode)
    : m_Plain(!pathMode), m_Last(text), m_PlainText(text), m_PlainTail(text)
{
    if (!pathMode)
        return;
    m_Sep = KWString(u"\\");
    for (const char16_t* candidate : {u"\\", u":", u"/"})
        if (text.View().find(candidate) != std::u16string_view::npos) {
            m_Sep = KWString(candidate);
            break;
        }
    KWString head;
    SplitAtFirst(text, m_Sep, head, m_Tail);
    m_Prefix = head + m_Sep;
}

void KUiTextShortener::KeepAtMost(size_t kept)
{
    if (m_Plain && !m_Done && kept < m_PlainTail.GetLength())
        m_PlainTail = KWString(m_PlainText.View().substr(0, kept));
}

bool KUiTextShortener::Next(KWString& form)
{
    if (m_Done)
        return false;
    if (!m_Plain) {
        KWString head, next;
        SplitAtFirst(m_Tail, m_Sep, head, next);
        if (next != m_Tail) {
            m_Tail = next;
            m_Last = m_Prefix + kEllipsis + m_Sep + m_Tail;
            form = m_Last;
            return true;
        }
        // No folder left to drop: the shortest path form is shortened like any text.
        m_Plain = true;
        m_PlainText = m_PlainTail = m_Last;
    }
    m_PlainTail = DropLast(m_PlainTail);
    form = m_PlainTail + kEllipsis;
    if (form == kEllipsis) {
        form = kNoRoom;
        m_Done = true;
    }
    m_Last = form;
    return true;
}

void KUiTextBox::priResize(bool layout)
{
    const int32_t width = m_pImage ? m_pImage->Width() : 0;
    const int32_t height = m_pImage ? m_pImage->Height() : 0;
    m_MinWidth = width;
    m_MinHeight = height;
    SetLayoutRecord(m_HLayout, width, m_HStretch);
    m_HLayout.AssignSize(width);
    SetLayoutRecord(m_VLayout, height, m_VStretch);
    m_VLayout.AssignSize(height);
    if (layout)
        ShrinkWindow(0, 0);
}

void KUiTextBox::priTextChanged()
{
    priRebuild();
    if (m_Dynamic)
        priResize(true);
    else
        Repaint();
}

void KUiTextBox::priSetEnabled(bool enabled)
{
    if (enabled == m_Enabled)
        return;
    m_Enabled = enabled;
    priRebuild();
    Repaint(true);
}

bool KUiTextBox::UiRelayMessage(const KWString& message, void* data)
{
    if (message == kUiMsgSetLanguage) {
        if (UiRelayData<KWString>(data))
            priTextChanged();
    } else if (message == kUiMsgShutdown) {
        if (m_pApp)
            m_pApp->RemoveLanguageListener(this);
        m_Listening = false;
    } else if (message == u"SetEnabled") {
        bool enable = false;
        if (UiRelayFlag(data, enable))
            priSetEnabled(enable);
    } else if (message == u"Enable") {
        priSetEnabled(true);
    } else if (message == u"Disable") {
        priSetEnabled(false);
    } else if (message == u"GetText") {
        KWString* answer = UiRelayResult<KWString>(data);
        if (!answer)
            return false;
        *answer = m_Text;
        return true;
    } else if (message == u"SetText") {
        const KWString* text = UiRelayData<KWString>(data);
        if (text && *text != m_Text) {
            m_Text = *text;
            priTextChanged();
        }
        return true;
    }
    return false;
}

bool KUiTextBox::SetRect(int32_t x, int32_t y, int32_t width, int32_t height)
{
    const int32_t w = (m_HStretch != 0 && width >= m_MinWidth) ? width : m_MinWidth;
    const int32_t h = (m_VStretch != 0 && height >= m_MinHeight) ? height : m_MinHeight;
    KUiObject::SetRect(x, y, w, h);
    if (!m_Dynamic)
        priRebuild();
    return true;
}

void KUiTextBox::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    DrawTextImage(m_pImage, surface, m_Rect, dx, dy, clip, m_Centred ? KUiTextAlign::Centre : KUiTextAlign::Left);
}

KIUiObject* KUiTextBox::HitTest(int32_t x, int32_t y)
{
    return (x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom) ? this : nullptr;
}

bool KUiTextBox::MouseDown(int32_t, int32_t, bool, bool)
{
    // The event may close the window: nothing of the control is used after it.
    m_pPressEvent->Fire(nullptr);
    return true;
}

bool KUiTextBox::RegisterCreator(KIUiObjectFactory* factory)
{
    const bool text = RegisterControlCreator(factory, "TEXT_BOX", new KUiTextBoxCreator);
    const bool dyna = RegisterControlCreator(factory, "DYNA_TEXT", new KUiTextBoxCreator);
    return text && dyna;
}

KIUiObject* KUiTextBoxCreator::Create()
{
    return new (std::nothrow) KUiTextBox;
}
