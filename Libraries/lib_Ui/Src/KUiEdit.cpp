#include "KUiEdit.h"

#include <algorithm>
#include <limits>
#include <new>

#include "KGenericUiPixmap.h"
#include "KIGenericUiApp.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"

namespace {

// Frames beyond any window; keeps the geometry's sums far inside 32 bits.
constexpr int32_t kMaxThickness = 1 << 20;

// Key codes of the window layer.
constexpr int kEnd = 2, kCtrlC = 3, kBackspace = 8, kInsert = 9, kReturn = 13, kUp = 14, kPageUp = 17,
              kPageDown = 18, kDown = 19, kHome = 20, kDelete = 127, kRight = 145, kLeft = 146;

}  // namespace

KUiEdit::KUiEdit()
{
    m_pTypeKeyword = "EDIT_BOX";
    m_pSendEvent = AddEvent(KWString(u"ON_SEND_STRING"));
    m_pNewEvent = AddEvent(KWString(u"ON_NEW_STRING"));
    m_pEnterEvent = AddEvent(KWString(u"ON_ENTER_HIT"));
    m_pNotEmptyEvent = AddEvent(KWString(u"ON_STRING_NOT_EMPTY"));
}

KUiEdit::~KUiEdit()
{
    if (m_Listening && m_pApp)
        m_pApp->RemoveLanguageListener(this);
    DeleteUiPixmap(m_pImage);
    DeleteUiPixmap(m_pHighlight);
}

bool KUiEdit::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                           KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node)
        return false;
    m_Text = node->GetString(KWString(u"_Text"), m_Text);
    m_OwnFont.Read(node);
    bool hasAppFont = false;
    const KWString appFont = node->GetString(KWString(u"AppFont"), KWString(), &hasAppFont);
    if (hasAppFont && application) {
        m_pAppFont = application->FindFont(appFont);
        if (m_pAppFont) {
            KWString language;
            m_Listening = application->AddLanguageListener(this, language);
            if (m_Text.IsEmpty()) {
                const KWString name = node->GetString(KWString(u"DisplayString"), KWString());
                if (KUiMultiLangString* s = application->FindDisplayString(name)) {
                    s->SetLanguage(language);
                    if (const KWString* text = s->GetCurrentText())
                        m_Text = *text;
                }
            }
        }
    }
    KUiLayoutKeys keys;
    keys.Read(node);
    bool hasColour = false, hasThickness = false;
    m_FrameColor = GetUiColor(node, "FrameColor", m_FrameColor, &hasColour);
    const int thickness = node->GetInt(KWString(u"FrameThickness"), -1, &hasThickness);
    if (!keys.hasMinH || !keys.hasStretchH || !hasColour || !hasThickness)
        return false;
    m_Thickness = std::clamp(thickness, 0, kMaxThickness);
    m_MinWidth = keys.minH;
    m_HStretch = keys.stretchH;
    m_FillColor = GetUiColor(node, "_FillColor", m_FillColor, &m_HasFill);
    m_CursorColor = GetUiColor(node, "_CursorColor", m_CursorColor);
    m_HighlightColor = GetUiColor(node, "_HighlightColor", m_HighlightColor);
    // A negative maximum reads as the largest, as an unsigned count would.
    m_MaxLength = static_cast<uint32_t>(node->GetInt(KWString(u"_MaxTextLen"), 1000000));

    int32_t height = 0, average = 0;
    if (m_pAppFont)
        m_pAppFont->GetMetrics(nullptr, &height, &average);
    else if (!m_OwnFont.GetMetrics(&height, &average))
        height = 0;
    m_MinHeight = SaturatedSize(static_cast<int64_t>(std::max(0, height)) + 2 * int64_t{m_Thickness} + 2);
    SetLayoutRecord(m_HLayout, m_MinWidth, m_HStretch);
    SetLayoutRecord(m_VLayout, m_MinHeight, 0);
    return true;
}

bool KUiEdit::priRebuild()
{
    DeleteUiPixmap(m_pImage);
    DeleteUiPixmap(m_pHighlight);
    m_Widths.clear();
    KUiMultiLangString* pending = m_pPending;
    m_pPending = nullptr;
    if (pending) {
        if (const KWString* text = pending->GetCurrentText())
            m_Text = *text;
    }
    if (!m_Text.IsEmpty()) {
        std::vector<int32_t> widths(m_Text.GetLength(), 0);
        if (pending)
            m_pImage = pending->RenderText(widths.data(), false);
        else if (m_pAppFont)
            m_pImage = m_pAppFont->RenderText(nullptr, m_Text, widths.data(), false);
        else
            m_pImage = m_OwnFont.Render(m_Text, widths.data());
        if (m_pImage)
            m_Widths = std::move(widths);
    }
    m_Anchor = std::min<uint32_t>(m_Anchor, static_cast<uint32_t>(m_Text.GetLength()));
    m_Cursor = std::min<uint32_t>(m_Cursor, static_cast<uint32_t>(m_Text.GetLength()));
    // Receivers read the data during the call; they get copies so that a command back to this control
    // cannot change what they are reading.
    const KUiRelayRef self(this);
    KWString sent = m_Text;
    bool notEmpty = !m_Text.IsEmpty();
    m_pSendEvent->Fire(&sent);
    if (!self.Get())
        return false;
    m_pNotEmptyEvent->Fire(&notEmpty);
    return self.Get() != nullptr;
}

uint32_t KUiEdit::CursorFromX(int32_t x) const
{
    if (m_Widths.empty())
        return 0;
    const int64_t p = int64_t{x} - m_Rect.left - m_Thickness + m_ScrollOffset - 1;
    if (p < m_Widths[0] / 2)
        return 0;
    for (size_t i = 0; i + 1 < m_Widths.size(); ++i)
        if (p < m_Widths[i] + (m_Widths[i + 1] - m_Widths[i]) / 2)
            return static_cast<uint32_t>(i + 1);
    return static_cast<uint32_t>(m_Widths.size());
}

void KUiEdit::priPlaceCursor(uint32_t position, bool extend)
{
    position = std::min<uint32_t>(position, static_cast<uint32_t>(m_Text.GetLength()));
    m_Cursor = position;
    if (!extend)
        m_Anchor = position;
    DeleteUiPixmap(m_pHighlight);
    if (priHasSelection() && !m_Widths.empty() && m_pImage) {
        const uint32_t lo = std::min(m_Anchor, m_Cursor), hi = std::max(m_Anchor, m_Cursor);
        const int32_t width = lo == 0 ? m_Widths[hi - 1] + 1 : m_Widths[hi - 1] - m_Widths[lo - 1] + 1;
        m_pHighlight = CreateUiPixmap(width, m_pImage->Height(), false);
        if (m_pHighlight) {
            KRect all;
            m_pHighlight->GetBounds(all);
            m_pHighlight->FillRectRGBA(all, m_HighlightColor.r, m_HighlightColor.g, m_HighlightColor.b,
                                       m_HighlightColor.a);
        }
    }
    const int64_t innerLeft = int64_t{m_Rect.left} + 1 + m_Thickness;
    const int64_t innerRight = int64_t{m_Rect.right} - m_Thickness - 1;
    const auto width = [this](uint32_t i) { return i < m_Widths.size() ? int64_t{m_Widths[i]} : 0; };
    const int64_t cx = m_Cursor == 0 ? 0 : width(m_Cursor - 1);
    if (cx - m_ScrollOffset + innerLeft > innerRight)
        m_ScrollOffset = SaturatedSize(cx + innerLeft - innerRight);
    else if (cx <= m_ScrollOffset)
        m_ScrollOffset = m_Cursor < 2 ? 0 : SaturatedSize(width(m_Cursor - 2));
}

bool KUiEdit::priDeleteSelection()
{
    if (!priHasSelection())
        return true;
    const uint32_t lo = std::min(m_Anchor, m_Cursor), hi = std::max(m_Anchor, m_Cursor);
    m_Text.Erase(lo, hi - lo);
    m_Anchor = m_Cursor = lo;
    if (!priRebuild())
        return false;
    priPlaceCursor(lo, false);
    return true;
}

bool KUiEdit::priInsert(const KWString& text, uint32_t& inserted)
{
    inserted = 0;
    const uint64_t length = m_Text.GetLength();
    if (length >= m_MaxLength)
        return true;
    const uint64_t room = std::min<uint64_t>(m_MaxLength - length, text.GetLength());
    if (room == 0)
        return true;
    const std::u16string_view all = m_Text.View();
    const size_t at = std::min<size_t>(m_Cursor, all.size());
    std::u16string joined(all.substr(0, at));
    joined += text.View().substr(0, room);
    joined += all.substr(at);
    m_Text = KWString(std::u16string_view(joined));
    inserted = static_cast<uint32_t>(room);
    return priRebuild();
}

void KUiEdit::priResetCursor()
{
    m_Anchor = m_Cursor = 0;
    m_ScrollOffset = 0;
    m_Focused = m_CursorShown = false;
    DeleteUiPixmap(m_pHighlight);
}

bool KUiEdit::UiRelayMessage(const KWString& message, void* data)
{
    if (message == kUiMsgPostCreationInit) {
        if (priRebuild())
            Repaint();
        return true;
    }
    if (message == kUiMsgSetLanguage) {
        if (data && priRebuild())
            Repaint();
        return true;
    }
    if (message == kUiMsgShutdown) {
        if (m_pApp)
            m_pApp->RemoveLanguageListener(this);
        m_Listening = false;
        return true;
    }
    if (message == u"GrabKeyboard") {
        const KUiRelayRef self(this);
        MouseDown(m_Rect.left, m_Rect.top, false, false);
        if (self.Get())
            MouseUp(m_Rect.left, m_Rect.top, false, false);
        return true;
    }
    if (message == u"GetText") {
        if (KWString* answer = UiRelayResult<KWString>(data))
            *answer = m_Text;
        return true;
    }
    if (message == u"SetText" || message == u"SetTextString" || message == u"EmptyText") {
        if (message == u"SetText") {
            const KWString* text = UiRelayData<KWString>(data);
            if (!text)
                return true;
            m_Text = *text;
        } else if (message == u"SetTextString") {
            const KWString* name = UiRelayData<KWString>(data);
            if (!name)
                return true;
            if (KUiMultiLangString* s = m_pApp ? m_pApp->FindDisplayString(*name) : nullptr) {
                m_pPending = s;
                if (const KWString* text = s->GetCurrentText())
                    m_Text = *text;
                Repaint();
            }
        } else {
            m_Text = KWString();
        }
        priResetCursor();
        if (!priRebuild())
            return true;
        Repaint(true);
        return true;
    }
    return false;
}

bool KUiEdit::SetRect(int32_t x, int32_t y, int32_t width, int32_t)
{
    const int32_t w = (m_HStretch != 0 && width >= m_MinWidth) ? width : m_MinWidth;
    KUiObject::SetRect(x, y, w, m_MinHeight);
    return true;
}

void KUiEdit::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (!surface)
        return;
    KRect r = m_Rect;
    r.Offset(dx, dy);
    const int32_t t = std::min({m_Thickness, r.Width(), r.Height()});
    auto fill = [&](const KRect& band, KUiColor colour) {
        const KRect c = IntersectRects(band, clip);
        if (!IsEmptyRect(c))
            surface->FillRect(c, colour);
    };
    if (t > 0) {
        fill(KRect(r.left, r.top, r.right, r.top + t), m_FrameColor);
        fill(KRect(r.left, r.bottom - t, r.right, r.bottom), m_FrameColor);
        fill(KRect(r.left, r.top, r.left + t, r.bottom), m_FrameColor);
        fill(KRect(r.right - t, r.top, r.right, r.bottom), m_FrameColor);
    }
    if (m_HasFill)
        fill(KRect(r.left + t, r.top + t, r.right - t, r.bottom - t), m_FillColor);
    const auto width = [this](uint32_t i) { return i < m_Widths.size() ? m_Widths[i] : 0; };
    if (m_CursorShown && !priHasSelection()) {
        const int32_t x = SaturatedSize(int64_t{r.left} + t + (m_Cursor == 0 ? 1 : width(m_Cursor - 1)) -
                                        m_ScrollOffset);
        const int32_t top = r.top + t + 1;
        const int32_t h = r.Height() - (2 * t + 4);
        if (h > 0)
            fill(KRect(x, top, SaturatedSize(int64_t{x} + m_CursorWidth), top + h), m_CursorColor);
    }
    const KRect inner = IntersectRects(clip, KRect(r.left + t + 1, r.top + t + 1, r.right - t - 1, r.bottom - t - 1));
    if (m_pImage) {
        const int32_t x = SaturatedSize(int64_t{r.left} + t + 1 - m_ScrollOffset);
        const int32_t y = r.top + t + 1;
        KRect source;
        m_pImage->GetBounds(source);
        BlendClipped(m_pImage, surface, KRect(x, y, x + source.Width(), y + source.Height()), source, inner);
    }
    if (m_pHighlight && priHasSelection()) {
        const uint32_t lo = std::min(m_Anchor, m_Cursor);
        const int32_t x = SaturatedSize(int64_t{r.left} + t + (lo == 0 ? 1 : width(lo - 1)) - m_ScrollOffset);
        const int32_t y = r.top + t + 1;
        KRect source;
        m_pHighlight->GetBounds(source);
        BlendClipped(m_pHighlight, surface, KRect(x, y, x + source.Width(), y + source.Height()), source, inner);
    }
}

void KUiEdit::Tick(int32_t elapsedMs)
{
    if (!m_Focused)
        return;
    m_BlinkTime += std::max(0, elapsedMs);
    if (m_BlinkTime > m_BlinkPeriod) {
        Repaint();
        m_CursorShown = !m_CursorShown;
        m_BlinkTime = 0;
    }
}

KIUiObject* KUiEdit::HitTest(int32_t x, int32_t y)
{
    return (x >= m_Rect.left && x < m_Rect.right && y >= m_Rect.top && y < m_Rect.bottom) ? this : nullptr;
}

bool KUiEdit::MouseDown(int32_t x, int32_t, bool, bool shift)
{
    // Taking the focus from another object (or from this one) tells it first; its relays may close the window.
    const KUiRelayRef self(this);
    TakeFocus(true);
    if (!self.Get())
        return true;
    CaptureMouse(true);
    m_Focused = m_CursorShown = m_Selecting = true;
    m_BlinkTime = 0;
    priPlaceCursor(CursorFromX(x), shift);
    Repaint();
    return true;
}

void KUiEdit::MouseUp(int32_t, int32_t, bool, bool)
{
    m_Selecting = false;
    CaptureMouse(false);
}

void KUiEdit::MouseMove(int32_t x, int32_t)
{
    if (!m_Selecting)
        return;
    priPlaceCursor(CursorFromX(x), true);
    Repaint();
}

void KUiEdit::KeyDown(int code, bool, bool shift)
{
    Repaint();
    switch (code) {
    case kEnd:
        priPlaceCursor(static_cast<uint32_t>(m_Text.GetLength()), shift);
        return;
    case kHome:
        priPlaceCursor(0, shift);
        return;
    case kRight:
        priPlaceCursor(m_Cursor + 1, shift);
        return;
    case kLeft:
        if (m_Cursor > 0)
            priPlaceCursor(m_Cursor - 1, shift);
        return;
    case kCtrlC:
    case kReturn: {
        const KUiRelayRef self(this);
        TakeFocus(false);
        if (self.Get())
            m_pEnterEvent->Fire(nullptr);
        return;
    }
    case kBackspace:
        if (!priHasSelection() && m_Cursor > 0)
            m_Anchor = m_Cursor - 1;
        priDeleteSelection();
        return;
    case kDelete:
        if (!priHasSelection() && m_Cursor < m_Text.GetLength())
            m_Anchor = m_Cursor + 1;
        priDeleteSelection();
        return;
    case kInsert:
    case kUp:
    case kPageUp:
    case kPageDown:
    case kDown:
        return;
    default:
        break;
    }
    // Control codes without an action of their own (Ctrl+E, the language chords, Ctrl+V or Ctrl+X with
    // nothing to paste or cut) are not text.
    if (code < 32 || code > 0xFFFF || m_Text.GetLength() >= m_MaxLength)
        return;
    if (!priDeleteSelection())
        return;
    const uint32_t at = m_Cursor;
    m_Text.Insert(static_cast<KWChar>(code), at);
    if (!priRebuild())
        return;
    priPlaceCursor(at + 1, false);
}

void KUiEdit::Copy(KWString& out)
{
    if (!priHasSelection())
        return;
    const uint32_t lo = std::min(m_Anchor, m_Cursor), hi = std::max(m_Anchor, m_Cursor);
    out = KWString(m_Text.View().substr(lo, hi - lo));
}

void KUiEdit::Cut(KWString& out)
{
    Copy(out);
    if (priDeleteSelection())
        Repaint();
}

void KUiEdit::Paste(const KWString& text)
{
    const bool hadSelection = priHasSelection();
    if (!priDeleteSelection())
        return;
    uint32_t inserted = 0;
    if (!priInsert(text, inserted))
        return;
    if (inserted || hadSelection) {
        priPlaceCursor(std::min<uint32_t>(m_Cursor + inserted, static_cast<uint32_t>(m_Text.GetLength())), false);
        Repaint();
    }
}

void KUiEdit::LoseFocus()
{
    m_Focused = m_CursorShown = false;
    m_Selecting = false;
    Repaint(true);
    m_pNewEvent->Fire(nullptr);
}

bool KUiEdit::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "EDIT_BOX", new KUiEditCreator);
}

KIUiObject* KUiEditCreator::Create()
{
    return new (std::nothrow) KUiEdit;
}
