#include "KUiScrollbar.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "KGenericUiPixmap.h"
#include "KIGenericUiApp.h"
#include "KIGenericUiWindow.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"

namespace {

// Repeat delays of a held part: the first step after 300 ms, then one every 100 ms.
constexpr int32_t kRepeatDelayMs = 300;
constexpr int32_t kRepeatStepMs = 100;

// The program's key codes the bar answers.
constexpr int kKeyUp = 14, kKeyDown = 19, kKeyLeft = 146, kKeyRight = 145, kKeyPageUp = 17, kKeyPageDown = 18;

// A script number truncated toward zero into the 32-bit range; NaN counts as 0.
int32_t TruncateToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value <= double(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    if (value >= double(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

bool SameSize(const KIUiPixmap* a, const KIUiPixmap* b)
{
    return a->Width() == b->Width() && a->Height() == b->Height();
}

}  // namespace

KUiScrollbar::KUiScrollbar()
{
    m_pTypeKeyword = "SCROLLBAR";
}

KUiScrollbar::~KUiScrollbar()
{
    DeleteUiPixmap(m_pButtonANormal);
    DeleteUiPixmap(m_pButtonAPressed);
    DeleteUiPixmap(m_pButtonBNormal);
    DeleteUiPixmap(m_pButtonBPressed);
    DeleteUiPixmap(m_pSlider);
    DeleteUiPixmap(m_pThumbImage);
    DeleteUiPixmap(m_pKnurls);
}

bool KUiScrollbar::PostCreationConnect()
{
    if (m_pWindow)
        return m_ScrollEvent.Connect(m_pWindow);
    return m_ScrollEvent.Connect(m_pApp);
}

bool KUiScrollbar::ConnectEvent(const KWString& eventName, const KWString& message, KIUiRelay* target)
{
    if (eventName != u"ON_SCROLL")
        return false;
    m_ScrollEvent.AddDirectRelay(message, target);
    return true;
}

bool KUiScrollbar::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                                KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!node)
        return false;
    const KWString& tag = node->GetName();
    if (tag == u"HSCROLLBAR")
        m_Horizontal = true;
    else if (tag == u"VSCROLLBAR")
        m_Horizontal = false;
    else
        m_Horizontal = node->GetBool(KWString("_Horizontal"), true);

    bool found = false;
    m_Stretch = std::max(0, node->GetInt(KWString("Stretch"), 0, &found));
    if (!found)
        return false;
    m_BgColor = GetUiColor(node, "BgColor", m_BgColor, &found);
    if (!found)
        return false;
    m_ClickColor = GetUiColor(node, "BgClickColor", m_ClickColor, &found);
    if (!found)
        return false;
    struct ImageKey {
        const char* key;
        KIUiPixmap** image;
    };
    for (const ImageKey& k : {ImageKey{"File_ButtonANormal", &m_pButtonANormal},
                              ImageKey{"File_ButtonAPressed", &m_pButtonAPressed},
                              ImageKey{"File_ButtonBNormal", &m_pButtonBNormal},
                              ImageKey{"File_ButtonBPressed", &m_pButtonBPressed}, ImageKey{"File_Slider", &m_pSlider},
                              ImageKey{"File_SliderKnurls", &m_pKnurls}}) {
        DeleteUiPixmap(*k.image);
        *k.image = LoadImageProperty(node, KWString(k.key), &found);
        if (!*k.image || !found)
            return false;
    }
    node->GetRect(m_SliderResize, KWString("SliderResizeRect"), KRect(), &found);
    if (!found)
        return false;
    if (!SameSize(m_pButtonAPressed, m_pButtonANormal) || !SameSize(m_pButtonBPressed, m_pButtonBNormal) ||
        !SameSize(m_pButtonBNormal, m_pButtonANormal))
        return false;
    const int32_t bw = m_pButtonANormal->Width(), bh = m_pButtonANormal->Height();
    if (m_Horizontal ? m_pKnurls->Height() > bh : m_pKnurls->Width() > bw)
        return false;

    for (KPropTree* element = node->GetFirstChild(); element; element = element->GetNextSibling())
        if (element->GetName() == u"ON_SCROLL")
            m_ScrollEvent.AddRelay(element);

    m_ButtonA = KRect(0, 0, bw, bh);
    m_ButtonB = m_ButtonA;
    if (m_Horizontal) {
        m_MinWidth = SaturatedSize(3 * int64_t(bw));
        m_MinHeight = SaturatedSize(int64_t(bh) + m_EdgeInset);
        SetLayoutRecord(m_HLayout, m_MinWidth, m_Stretch);
        SetLayoutRecord(m_VLayout, m_MinHeight, 0);
    } else {
        m_MinWidth = SaturatedSize(int64_t(bw) + m_EdgeInset);
        m_MinHeight = SaturatedSize(3 * int64_t(bh));
        SetLayoutRecord(m_HLayout, m_MinWidth, 0);
        SetLayoutRecord(m_VLayout, m_MinHeight, m_Stretch);
    }
    return true;
}

bool KUiScrollbar::SetRect(int32_t x, int32_t y, int32_t width, int32_t height)
{
    m_Rect = KRect(x, y, SaturatedSize(int64_t(x) + std::max(width, m_MinWidth)),
                   SaturatedSize(int64_t(y) + std::max(height, m_MinHeight)));
    priGeometry();
    return true;
}

bool KUiScrollbar::UiRelayMessage(const KWString& message, void* data)
{
    // Total, page and position.
    const double* values = message == u"Set" ? UiRelayData<double>(data, 3) : nullptr;
    if (!values)
        return false;
    const int32_t total = TruncateToInt(values[0]), page = TruncateToInt(values[1]);
    const int32_t position = TruncateToInt(values[2]);
    if (total == m_Total && page == m_Page && position == m_Position)
        return true;
    m_Total = total;
    m_Page = page;
    m_Valid = page >= 1 && total >= 1 && page <= total;
    m_Position = priClamp(position);
    // The owner hears of a corrected position before anything is drawn from it.
    if (m_Position != position)
        priFire();
    priGeometry();
    Repaint();
    return true;
}

int32_t KUiScrollbar::priClamp(int64_t position) const
{
    // A range whose page exceeds its total has no room: 0, never a negative position.
    const int64_t last = std::max<int64_t>(0, int64_t(m_Total) - m_Page);
    return static_cast<int32_t>(std::clamp<int64_t>(position, 0, last));
}

void KUiScrollbar::priFire()
{
    int32_t position = m_Position;
    m_ScrollEvent.Fire(&position);
}

void KUiScrollbar::priMoveTo(int64_t position)
{
    m_Position = priClamp(position);
    priGeometry();
    Repaint();
    priFire();
}

KRect KUiScrollbar::priSpan(int64_t along0, int64_t along1, int64_t across0, int64_t across1) const
{
    if (m_Horizontal)
        return KRect(SaturatedSize(along0), SaturatedSize(across0), SaturatedSize(along1), SaturatedSize(across1));
    return KRect(SaturatedSize(across0), SaturatedSize(along0), SaturatedSize(across1), SaturatedSize(along1));
}

int32_t KUiScrollbar::priAlong(const KRect& r, bool start) const
{
    if (m_Horizontal)
        return start ? r.left : r.right;
    return start ? r.top : r.bottom;
}

void KUiScrollbar::priGeometry()
{
    if (!m_Valid || !m_pButtonANormal)
        return;
    // Along and across the bar's axis: (L, R) along, (T, B) across.
    const int64_t L = m_Horizontal ? m_Rect.left : m_Rect.top, R = m_Horizontal ? m_Rect.right : m_Rect.bottom;
    const int64_t T = m_Horizontal ? m_Rect.top : m_Rect.left, B = m_Horizontal ? m_Rect.bottom : m_Rect.right;
    const int64_t E = m_EdgeInset;
    const int64_t bw = m_pButtonANormal->Width(), bh = m_pButtonANormal->Height();
    const int64_t wA = m_Horizontal ? bw : bh, wB = wA, thick = m_Horizontal ? bh : bw;

    const int64_t track = (R - L) - wA - wB;
    const int64_t thumbLength = int64_t(m_Page) * track / m_Total;
    const int64_t offset = int64_t(m_Position) * track / m_Total;

    // The slider skin stretched to the thumb, with the grip mark centred on it. A thumb below one pixel has
    // its place but no image.
    DeleteUiPixmap(m_pThumbImage);
    const int64_t across = B - T - E;
    if (thumbLength >= 1 && across >= 1) {
        const int32_t w = SaturatedSize(m_Horizontal ? thumbLength : across);
        const int32_t h = SaturatedSize(m_Horizontal ? across : thumbLength);
        if (KIUiPixmap* image = CreateUiPixmap(w, h, false)) {
            m_pSlider->DrawNinePatch(image, m_SliderResize, true);
            const int32_t kw = m_pKnurls->Width(), kh = m_pKnurls->Height();
            const int32_t kx = SaturatedSize((int64_t(w) + 1 - kw) / 2), ky = SaturatedSize((int64_t(h) + 1 - kh) / 2);
            KRect all;
            m_pKnurls->GetBounds(all);
            m_pKnurls->BlendTo(image, KRect(kx, ky, SaturatedSize(int64_t(kx) + kw), SaturatedSize(int64_t(ky) + kh)),
                               all);
            m_pThumbImage = image;
        }
    }

    m_ButtonA = priSpan(L, L + wA, T + E, T + E + thick);
    m_PageBefore = offset != 0 ? priSpan(L + wA, L + wA + offset, T + E, B) : KRect();
    int64_t thumbStart = L + wA + offset;
    if (int64_t(m_Position) + m_Page == m_Total)
        thumbStart = R - wB - thumbLength;
    m_Thumb = priSpan(thumbStart, thumbStart + thumbLength, T + E, B);
    m_ButtonB = priSpan(R - wB, R, T + E, T + E + thick);
    const int64_t thumbEnd = thumbStart + thumbLength;
    m_PageAfter = thumbEnd < R - wB ? priSpan(thumbEnd, R - wB, T + E, B) : KRect();
}

void KUiScrollbar::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (!m_Valid || !surface || !m_pButtonANormal)
        return;
    auto fill = [&](KRect r, const KUiColor& colour) {
        r.Offset(dx, dy);
        const KRect c = IntersectRects(r, clip);
        if (!IsEmptyRect(c))
            surface->FillRect(c, colour);
    };
    auto blit = [&](const KIUiPixmap* image, KRect r) {
        if (!image)
            return;
        r.Offset(dx, dy);
        KRect source;
        image->GetBounds(source);
        BlendClipped(image, surface, r, source, clip);
    };
    const int32_t E = m_EdgeInset;
    if (m_Horizontal)
        fill(KRect(m_Rect.left, m_Rect.top, m_Rect.right, m_Rect.top + E), m_EdgeColor);
    else
        fill(KRect(m_Rect.left, m_Rect.top, m_Rect.left + E, m_Rect.bottom), m_EdgeColor);
    blit(m_Pressed[kButtonA] ? m_pButtonAPressed : m_pButtonANormal, m_ButtonA);
    if (!IsEmptyRect(m_PageBefore))
        fill(m_PageBefore, m_Pressed[kPageBefore] ? m_ClickColor : m_BgColor);
    blit(m_pThumbImage, m_Thumb);
    if (!IsEmptyRect(m_PageAfter))
        fill(m_PageAfter, m_Pressed[kPageAfter] ? m_ClickColor : m_BgColor);
    blit(m_Pressed[kButtonB] ? m_pButtonBPressed : m_pButtonBNormal, m_ButtonB);
}

KRect& KUiScrollbar::priPartRect(int part)
{
    switch (part) {
    case kButtonA:
        return m_ButtonA;
    case kPageBefore:
        return m_PageBefore;
    case kPageAfter:
        return m_PageAfter;
    default:
        return m_ButtonB;
    }
}

bool KUiScrollbar::priInside(const KRect& r, int32_t x, int32_t y)
{
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

KIUiObject* KUiScrollbar::HitTest(int32_t x, int32_t y)
{
    return priInside(m_Rect, x, y) ? this : nullptr;
}

bool KUiScrollbar::priAnyPressed() const
{
    return m_Pressed[kButtonA] || m_Pressed[kPageBefore] || m_Pressed[kPageAfter] || m_Pressed[kButtonB];
}

void KUiScrollbar::priStopRepeat()
{
    m_RepeatRunning = false;
    m_RepeatFast = false;
    m_RepeatTime = 0;
}

bool KUiScrollbar::MouseDown(int32_t x, int32_t y, bool, bool)
{
    if (!m_Valid)
        return true;
    m_Dragging = false;
    int64_t position = m_Position;
    int part = -1;
    if (priInside(m_ButtonA, x, y)) {
        part = kButtonA;
        position -= 1;
    } else if (priInside(m_PageBefore, x, y)) {
        part = kPageBefore;
        position -= m_Page;
    } else if (priInside(m_Thumb, x, y)) {
        m_Dragging = true;
        CaptureMouse(true);
        m_AnchorCoord = m_Horizontal ? x : y;
        m_AnchorStart = priAlong(m_Thumb, true);
        return true;
    } else if (priInside(m_PageAfter, x, y)) {
        part = kPageAfter;
        position += m_Page;
    } else if (priInside(m_ButtonB, x, y)) {
        part = kButtonB;
        position += 1;
    } else {
        return true;
    }
    m_Pressed[part] = true;
    m_Held[part] = true;
    // A new press starts the repeat afresh.
    priStopRepeat();
    CaptureMouse(true);
    priMoveTo(position);
    return true;
}

void KUiScrollbar::MouseMove(int32_t x, int32_t y)
{
    if (!m_Valid)
        return;
    if (m_Dragging) {
        const int64_t lo = priAlong(m_ButtonA, false);
        const int64_t length = int64_t(priAlong(m_Thumb, false)) - priAlong(m_Thumb, true);
        const int64_t hi = int64_t(priAlong(m_ButtonB, true)) - length;
        const int64_t coord = m_Horizontal ? x : y;
        int64_t start = int64_t(m_AnchorStart) + (coord - m_AnchorCoord);
        start = std::max(lo, std::min(start, hi));
        if (start == priAlong(m_Thumb, true))
            return;
        const int64_t span = hi - lo + 1;
        const int64_t range = int64_t(m_Total) - m_Page + 1;
        m_Position = priClamp(span > 0 ? range * (start - lo) / span : 0);
        const int64_t across0 = m_Horizontal ? m_Thumb.top : m_Thumb.left;
        const int64_t across1 = m_Horizontal ? m_Thumb.bottom : m_Thumb.right;
        m_Thumb = priSpan(start, start + length, across0, across1);
        const int64_t a0 = m_Horizontal ? m_ButtonA.top : m_ButtonA.left;
        const int64_t a1 = m_Horizontal ? m_ButtonA.bottom : m_ButtonA.right;
        m_PageBefore = priSpan(lo, start, a0, a1);
        m_PageAfter = priSpan(start + length, priAlong(m_ButtonB, true), a0, a1);
        Repaint();
        priFire();
        return;
    }
    for (int part = 0; part < kParts; ++part) {
        if (!m_Held[part])
            continue;
        const bool over = priInside(priPartRect(part), x, y);
        if (m_Pressed[part] && !over) {
            m_Pressed[part] = false;
            priStopRepeat();
            Repaint(priPartRect(part));
        } else if (!m_Pressed[part] && over) {
            m_Pressed[part] = true;
            Repaint(priPartRect(part));
        }
    }
}

void KUiScrollbar::MouseEnter(int32_t x, int32_t y)
{
    if (!m_Valid || m_Dragging)
        return;
    for (int part = 0; part < kParts; ++part)
        if (m_Held[part] && !m_Pressed[part] && priInside(priPartRect(part), x, y)) {
            m_Pressed[part] = true;
            Repaint(priPartRect(part));
        }
}

void KUiScrollbar::MouseLeave(int32_t, int32_t)
{
    bool stopped = false;
    for (int part = 0; part < kParts; ++part)
        if (m_Pressed[part]) {
            m_Pressed[part] = false;
            stopped = true;
            Repaint(priPartRect(part));
        }
    if (stopped)
        priStopRepeat();
}

void KUiScrollbar::MouseUp(int32_t, int32_t, bool, bool)
{
    // Releases what a press took even when a "Set" has made the bar inert since.
    if (m_Dragging) {
        CaptureMouse(false);
        m_Dragging = false;
        priGeometry();
        Repaint();
        return;
    }
    for (int part = 0; part < kParts; ++part) {
        if (!m_Held[part])
            continue;
        CaptureMouse(false);
        m_Held[part] = false;
        if (m_Pressed[part]) {
            m_Pressed[part] = false;
            priStopRepeat();
            Repaint(priPartRect(part));
        }
    }
}

void KUiScrollbar::Tick(int32_t elapsedMs)
{
    if (!m_Valid || !priAnyPressed())
        return;
    if (!m_RepeatRunning) {
        m_RepeatRunning = true;
        m_RepeatFast = false;
        m_RepeatTime = 0;
        return;
    }
    m_RepeatTime = SaturatedSize(int64_t(m_RepeatTime) + std::max(0, elapsedMs));
    if (!m_RepeatFast) {
        if (m_RepeatTime > kRepeatDelayMs) {
            m_RepeatTime -= kRepeatDelayMs;
            m_RepeatFast = true;
        }
        return;
    }
    if (m_RepeatTime <= kRepeatStepMs)
        return;
    m_RepeatTime -= kRepeatStepMs;
    int64_t position = m_Position;
    if (m_Pressed[kButtonA])
        position -= 1;
    else if (m_Pressed[kButtonB])
        position += 1;
    else if (m_Pressed[kPageBefore])
        position -= m_Page;
    else
        position += m_Page;
    priMoveTo(position);
}

void KUiScrollbar::MouseWheel(int32_t, int32_t, int32_t, int32_t b)
{
    if (!m_Valid)
        return;
    const int32_t position = priClamp(int64_t(m_Position) - b);
    if (position != m_Position)
        priMoveTo(position);
}

void KUiScrollbar::KeyDown(int code, bool, bool)
{
    if (!m_Valid)
        return;
    int64_t position = m_Position;
    if ((code == kKeyUp && !m_Horizontal) || (code == kKeyLeft && m_Horizontal))
        position -= 1;
    else if ((code == kKeyDown && !m_Horizontal) || (code == kKeyRight && m_Horizontal))
        position += 1;
    else if (code == kKeyPageUp)
        position -= m_Page;
    else if (code == kKeyPageDown)
        position += m_Page;
    else
        return;
    priMoveTo(position);
}

bool KUiScrollbar::RegisterCreator(KIUiObjectFactory* factory)
{
    bool ok = RegisterControlCreator(factory, "SCROLLBAR", new KUiScrollbarCreator);
    ok = RegisterControlCreator(factory, "HSCROLLBAR", new KUiScrollbarCreator) && ok;
    ok = RegisterControlCreator(factory, "VSCROLLBAR", new KUiScrollbarCreator) && ok;
    return ok;
}

KIUiObject* KUiScrollbarCreator::Create()
{
    return new (std::nothrow) KUiScrollbar;
}

KPropTree* FindScrollbarElement(KPropTree* node)
{
    for (KPropTree* element = node ? node->GetFirstChild() : nullptr; element; element = element->GetNextSibling())
        if (element->GetName() == u"SCROLLBAR")
            return element;
    return nullptr;
}

KUiScrollbar* CreateOwnedScrollbar(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                                   KPropTree* element)
{
    KIUiObjectFactory* factory = application ? application->GetFactory() : nullptr;
    if (!factory || !element)
        return nullptr;
    KIUiObject* object = factory->Create(&element->GetName());
    auto* bar = dynamic_cast<KUiScrollbar*>(object);
    if (!bar || !bar->InitUiObject(application, window, parent, element)) {
        delete object;
        return nullptr;
    }
    return bar;
}
