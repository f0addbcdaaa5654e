#include "KGenericUiPixmap.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "KWinUiPixmap.h"

namespace {

// The pixels of a surface, or null without a view or buffer.
struct Pixels {
    uint8_t* data = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t rowBytes = 0;

    explicit Pixels(const KIUiPixmap* surface)
    {
        const KPixmap_Display* view = surface ? surface->GetPixmap() : nullptr;
        if (view && view->GetData() && view->GetWidth() > 0 && view->GetHeight() > 0) {
            data = static_cast<uint8_t*>(view->GetData());
            width = view->GetWidth();
            height = view->GetHeight();
            rowBytes = view->GetRowBytes();
        }
    }
    uint8_t* At(int32_t x, int32_t y) const
    {
        return data + static_cast<ptrdiff_t>(y) * rowBytes + static_cast<ptrdiff_t>(x) * 4;
    }
};

KRect Intersect(const KRect& a, const KRect& b)
{
    return KRect(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                 std::min(a.bottom, b.bottom));
}

int64_t RectWidth(const KRect& r)
{
    return int64_t(r.right) - r.left;
}

int64_t RectHeight(const KRect& r)
{
    return int64_t(r.bottom) - r.top;
}

// A rectangle from 64-bit edges, each clamped to the 32-bit range.
KRect Clamped(int64_t left, int64_t top, int64_t right, int64_t bottom)
{
    auto c = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
    return KRect(c(left), c(top), c(right), c(bottom));
}

// Straight-alpha "over": source bytes b, g, r, a over the target pixel.
void Over(const uint8_t* s, uint8_t* d)
{
    const uint32_t sa = s[3];
    const uint32_t da = d[3];
    if (sa == 0)
        return;
    if (sa == 255 || da == 0) {
        std::memcpy(d, s, 4);
        return;
    }
    if (da == 255) {
        for (int c = 0; c < 3; ++c) {
            const uint32_t x = s[c] * sa + d[c] * (255 - sa);
            d[c] = static_cast<uint8_t>((x + 1 + (x >> 8)) >> 8);
        }
        return;
    }
    const uint32_t y = (255 - sa) * da;
    const uint32_t a2 = (y + (y >> 8) + 1) >> 8;
    const uint32_t outA = sa + a2;
    const uint32_t k = (1u << 24) / outA;
    for (int c = 0; c < 3; ++c)
        d[c] = static_cast<uint8_t>((s[c] * k * sa + d[c] * k * a2) >> 24);
    d[3] = static_cast<uint8_t>(outA);
}

// Coordinates beyond this are not drawn with: no surface comes near, and the arithmetic below stays in range.
constexpr int64_t kFarAway = int64_t(1) << 28;
constexpr int32_t kMaxSkinCoordinate = 1 << 20;

struct Rect64 {
    int64_t left, top, right, bottom;
    explicit Rect64(const KRect& r) : left(r.left), top(r.top), right(r.right), bottom(r.bottom) {}
    int64_t Width() const { return right - left; }
    int64_t Height() const { return bottom - top; }
    bool Near() const
    {
        return left > -kFarAway && top > -kFarAway && right < kFarAway && bottom < kFarAway;
    }
    bool InsideOf(int32_t width, int32_t height) const
    {
        return left >= 0 && top >= 0 && right <= width && bottom <= height && left < right && top < bottom;
    }
    KRect ToRect() const { return KRect(int32_t(left), int32_t(top), int32_t(right), int32_t(bottom)); }
};

// Clips r to (0, 0, width, height) edge by edge (left, top, right, bottom); each clipped edge moves the
// matching edge of other by the clipped amount x other's size / r's size, both as they stand at that step,
// truncated toward zero. False when a rectangle has no size to divide by.
bool ClipProportionally(Rect64& r, Rect64& other, int32_t width, int32_t height)
{
    if (r.left < 0) {
        if (r.Width() <= 0)
            return false;
        other.left -= other.Width() * r.left / r.Width();
        r.left = 0;
    }
    if (r.top < 0) {
        if (r.Height() <= 0)
            return false;
        other.top -= other.Height() * r.top / r.Height();
        r.top = 0;
    }
    if (r.right > width) {
        if (r.Width() <= 0)
            return false;
        other.right -= other.Width() * (r.right - width) / r.Width();
        r.right = width;
    }
    if (r.bottom > height) {
        if (r.Height() <= 0)
            return false;
        other.bottom -= other.Height() * (r.bottom - height) / r.Height();
        r.bottom = height;
    }
    return true;
}

// The clipping of CopyTo and BlendTo; false when nothing is left to do.
bool ClipCopy(const Pixels& source, const Pixels& target, KRect& targetRect, KRect& sourceRect)
{
    Rect64 t(targetRect), s(sourceRect);
    if (!source.data || !target.data || s.Width() <= 0 || s.Height() <= 0 || t.Width() <= 0 || t.Height() <= 0)
        return false;
    if (!t.Near() || !s.Near())
        return false;
    if (t.right <= 0 || t.bottom <= 0 || t.left >= target.width || t.top >= target.height)
        return false;
    if (!ClipProportionally(t, s, target.width, target.height))
        return false;
    if (!ClipProportionally(s, t, source.width, source.height))
        return false;
    if (!t.InsideOf(target.width, target.height) || !s.InsideOf(source.width, source.height))
        return false;
    targetRect = t.ToRect();
    sourceRect = s.ToRect();
    return true;
}

// The stepping of one axis from n source to m target pixels: ((n - 1) << 15) / m when reducing,
// ((n - 1) << 15) / (m - 1) when enlarging.
uint32_t Step(int32_t n, int32_t m)
{
    const uint32_t span = static_cast<uint32_t>(n - 1) << 15;
    return n > m ? span / static_cast<uint32_t>(m) : span / static_cast<uint32_t>(m - 1);
}

// Moves a source position by the whole part of the fraction; the fraction keeps its low 15 bits.
struct Stepper {
    uint32_t step;
    uint32_t f = 0;
    int32_t pos = 0;

    void Advance(int direction)
    {
        f += step;
        pos += direction * static_cast<int32_t>(f >> 15);
        f &= 0x7FFF;
    }
};

// Row `n` pixels from `src` into `m` pixels at `dst` (n >= m): nearest.
void ReduceRow(const uint8_t* src, int32_t n, uint8_t* dst, int32_t m)
{
    if (n == m) {
        std::memmove(dst, src, static_cast<size_t>(m) * 4);
        return;
    }
    Stepper s{Step(n, m)};
    for (int32_t x = 0; x < m; ++x) {
        std::memcpy(dst + x * 4, src + std::min(s.pos, n - 1) * 4, 4);
        s.Advance(1);
    }
}

// Enlarges a row of n pixels to m (n < m), from the right end toward the left: each byte is
// (L x f + C x (0x7FFF - f)) >> 15 with C the current source pixel and L its left neighbour (C when f is 0).
void EnlargeRow(const uint8_t* src, int32_t n, uint8_t* dst, int32_t m)
{
    Stepper s{Step(n, m)};
    s.pos = n - 1;
    for (int32_t x = m - 1; x >= 0; --x) {
        const int32_t c = std::clamp(s.pos, 0, n - 1);
        const uint8_t* C = src + c * 4;
        const uint8_t* L = (s.f == 0 || c == 0) ? C : C - 4;
        for (int k = 0; k < 4; ++k)
            dst[x * 4 + k] = static_cast<uint8_t>((L[k] * s.f + C[k] * (0x7FFF - s.f)) >> 15);
        s.Advance(-1);
    }
}

// Rows of width pixels, rowBytes apart.
struct Rows {
    uint8_t* top;
    ptrdiff_t rowBytes;
    uint8_t* operator()(int32_t y) const { return top + y * rowBytes; }
};

// Enlarges n rows to m (n < m), from the bottom row upward: a row with fraction 0 is the current source row
// as it is; otherwise each byte is (A x f + B x (0x7FFF - f)) >> 15 with B the current source row and A the
// row above it.
void EnlargeRows(const Rows& src, int32_t n, const Rows& dst, int32_t m, int32_t width)
{
    const size_t bytes = static_cast<size_t>(width) * 4;
    Stepper s{Step(n, m)};
    s.pos = n - 1;
    for (int32_t y = m - 1; y >= 0; --y) {
        const int32_t current = std::clamp(s.pos, 0, n - 1);
        const uint8_t* B = src(current);
        uint8_t* out = dst(y);
        if (s.f == 0 || current == 0) {
            std::memmove(out, B, bytes);
        } else {
            const uint8_t* A = src(current - 1);
            for (size_t i = 0; i < bytes; ++i)
                out[i] = static_cast<uint8_t>((A[i] * s.f + B[i] * (0x7FFF - s.f)) >> 15);
        }
        s.Advance(-1);
    }
}

// One row across: reduced (nearest), copied or enlarged.
void Across(const uint8_t* src, int32_t n, uint8_t* dst, int32_t m)
{
    if (n >= m)
        ReduceRow(src, n, dst, m);
    else
        EnlargeRow(src, n, dst, m);
}

// Copies the clipped source rectangle s into target rectangle t, stretching per axis. Each pass reads pixels
// that no pass has written yet: when rows are enlarged, the rows made across are kept aside first.
void StretchCopy(const Pixels& source, const KRect& s, const Pixels& target, const KRect& t)
{
    const int32_t sw = int32_t(RectWidth(s)), sh = int32_t(RectHeight(s));
    const int32_t tw = int32_t(RectWidth(t)), th = int32_t(RectHeight(t));
    const Rows src{source.At(s.left, s.top), source.rowBytes};
    const Rows dst{target.At(t.left, t.top), target.rowBytes};

    if (sh < th) {
        std::vector<uint8_t> across(static_cast<size_t>(tw) * 4 * static_cast<size_t>(sh));
        const Rows middle{across.data(), static_cast<ptrdiff_t>(tw) * 4};
        for (int32_t y = 0; y < sh; ++y)
            Across(src(y), sw, middle(y), tw);
        EnlargeRows(middle, sh, dst, th, tw);
        return;
    }
    // Rows picked (or taken 1:1), each made across.
    Stepper rows{sh == th ? 0u : Step(sh, th)};
    for (int32_t y = 0; y < th; ++y) {
        Across(src(sh == th ? y : std::min(rows.pos, sh - 1)), sw, dst(y), tw);
        rows.Advance(1);
    }
}

// Skin corners within reach of any surface (so that the edge arithmetic stays in range).
bool Near(int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    for (int32_t v : {x0, y0, x1, y1})
        if (v <= -kMaxSkinCoordinate || v >= kMaxSkinCoordinate)
            return false;
    return true;
}

}  // namespace

KGenericUiPixmap::~KGenericUiPixmap()
{
    DeleteOsUiPixmap(m_pOsPixmap);
    m_pOsPixmap = nullptr;
    delete m_pPixmap;
}

void* KGenericUiPixmap::GetAttribute(int id)
{
    return m_pOsPixmap ? m_pOsPixmap->GetAttribute(id) : nullptr;
}

bool KGenericUiPixmap::SetAttribute(int id, const void* value)
{
    return m_pOsPixmap ? m_pOsPixmap->SetAttribute(id, value) : false;
}

int32_t KGenericUiPixmap::Width() const
{
    return m_pPixmap ? m_pPixmap->GetWidth() : 0;
}

int32_t KGenericUiPixmap::Height() const
{
    return m_pPixmap ? m_pPixmap->GetHeight() : 0;
}

void KGenericUiPixmap::GetBounds(KRect& out) const
{
    out = KRect(0, 0, Width(), Height());
}

void KGenericUiPixmap::GetPixel(int32_t x, int32_t y, KUiColor& out) const
{
    const Pixels p(this);
    if (!p.data || x < 0 || y < 0 || x >= p.width || y >= p.height) {
        out = KUiColor(0, 0, 0, 0);
        return;
    }
    const uint8_t* q = p.At(x, y);
    out = KUiColor(q[2], q[1], q[0], q[3]);
}

uint8_t KGenericUiPixmap::GetAlpha(int32_t x, int32_t y) const
{
    const Pixels p(this);
    if (!p.data || x < 0 || y < 0 || x >= p.width || y >= p.height)
        return 0;
    return p.At(x, y)[3];
}

void KGenericUiPixmap::FillRGB(uint8_t r, uint8_t g, uint8_t b)
{
    KRect bounds;
    GetBounds(bounds);
    FillRectRGB(bounds, r, g, b);
}

void KGenericUiPixmap::FillRGBA(uint8_t r, uint8_t g, uint8_t b, uint8_t a)
{
    KRect bounds;
    GetBounds(bounds);
    FillRectRGBA(bounds, r, g, b, a);
}

void KGenericUiPixmap::DrawFrame(const KRect& rect, KUiColor color, const KRect* clip)
{
    const KRect strips[4] = {
        Clamped(rect.left, rect.top, int64_t(rect.left) + 1, rect.bottom),
        Clamped(int64_t(rect.right) - 1, rect.top, rect.right, rect.bottom),
        Clamped(rect.left, rect.top, rect.right, int64_t(rect.top) + 1),
        Clamped(rect.left, int64_t(rect.bottom) - 1, rect.right, rect.bottom),
    };
    for (const KRect& strip : strips)
        FillRect(clip ? Intersect(strip, *clip) : strip, color);
}

void KGenericUiPixmap::FillRect(const KRect& rect, KUiColor color)
{
    FillRectRGBA(rect, color.r, color.g, color.b, color.a);
}

void KGenericUiPixmap::FillRectRGBA(const KRect& rect, uint8_t r, uint8_t g, uint8_t b, uint8_t a)
{
    const Pixels p(this);
    const KRect area = Intersect(rect, KRect(0, 0, p.width, p.height));
    const uint8_t bytes[4] = {b, g, r, a};
    for (int32_t y = area.top; y < area.bottom; ++y)
        for (int32_t x = area.left; x < area.right; ++x)
            std::memcpy(p.At(x, y), bytes, 4);
}

void KGenericUiPixmap::FillRectRGB(const KRect& rect, uint8_t r, uint8_t g, uint8_t b)
{
    const Pixels p(this);
    const KRect area = Intersect(rect, KRect(0, 0, p.width, p.height));
    for (int32_t y = area.top; y < area.bottom; ++y)
        for (int32_t x = area.left; x < area.right; ++x) {
            uint8_t* q = p.At(x, y);
            q[0] = b;
            q[1] = g;
            q[2] = r;
        }
}

void KGenericUiPixmap::BlendRect(const KRect& rect, KUiColor color)
{
    const Pixels p(this);
    const KRect area = Intersect(rect, KRect(0, 0, p.width, p.height));
    const uint8_t source[4] = {color.b, color.g, color.r, color.a};
    for (int32_t y = area.top; y < area.bottom; ++y)
        for (int32_t x = area.left; x < area.right; ++x)
            Over(source, p.At(x, y));
}

void KGenericUiPixmap::CopyTo(KIUiPixmap* target, const KRect& targetRect, const KRect& sourceRect) const
{
    const Pixels source(this), destination(target);
    KRect t = targetRect, s = sourceRect;
    if (!ClipCopy(source, destination, t, s))
        return;
    if (RectWidth(s) == RectWidth(t) && RectHeight(s) == RectHeight(t)) {
        const size_t bytes = static_cast<size_t>(RectWidth(t)) * 4;
        for (int32_t y = 0; y < int32_t(RectHeight(t)); ++y)
            std::memmove(destination.At(t.left, t.top + y), source.At(s.left, s.top + y), bytes);
        return;
    }
    StretchCopy(source, s, destination, t);
}

void KGenericUiPixmap::BlendTo(KIUiPixmap* target, const KRect& targetRect, const KRect& sourceRect) const
{
    const Pixels source(this), destination(target);
    KRect t = targetRect, s = sourceRect;
    if (!ClipCopy(source, destination, t, s))
        return;
    const int32_t width = int32_t(std::min(RectWidth(t), RectWidth(s))), height = int32_t(std::min(RectHeight(t), RectHeight(s)));
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            Over(source.At(s.left + x, s.top + y), destination.At(t.left + x, t.top + y));
}

void KGenericUiPixmap::DrawNinePatch(KIUiPixmap* target, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                     bool fillCentre) const
{
    if (!target || Width() <= 0 || Height() <= 0 || target->Width() <= 0 || target->Height() <= 0)
        return;
    KRect bounds, targetBounds;
    GetBounds(bounds);
    target->GetBounds(targetBounds);
    if (x1 < x0 || y1 < y0) {
        CopyTo(target, targetBounds, bounds);
        return;
    }
    if (!Near(x0, y0, x1, y1))
        return;
    const int32_t tw = target->Width(), th = target->Height();
    const int32_t R = Width() - x1 - 1, B = Height() - y1 - 1;
    const int32_t Mw = tw - R - x0, Mh = th - B - y0;

    if (x0 > 0 && y0 > 0)
        CopyTo(target, KRect(0, 0, x0, y0), KRect(0, 0, x0, y0));
    if (R > 0 && y0 > 0)
        CopyTo(target, KRect(tw - R, 0, tw, y0), KRect(x1 + 1, 0, x1 + 1 + R, y0));
    if (x0 > 0 && B > 0)
        CopyTo(target, KRect(0, th - B, x0, th), KRect(0, y1 + 1, x0, y1 + 1 + B));
    if (R > 0 && B > 0)
        CopyTo(target, KRect(tw - R, th - B, tw, th), KRect(x1 + 1, y1 + 1, x1 + 1 + R, y1 + 1 + B));

    // The repeated strips; those that would land outside the target are not drawn.
    for (int32_t i = std::max(0, -y0); i < Mh && y0 + i < th; ++i) {
        CopyTo(target, KRect(0, y0 + i, x0, y0 + i + 1), KRect(0, y0, x0, y0 + 1));
        CopyTo(target, KRect(tw - R, y0 + i, tw, y0 + i + 1), KRect(x1 + 1, y0, x1 + 1 + R, y0 + 1));
    }
    for (int32_t i = std::max(0, -x0); i < Mw && x0 + i < tw; ++i) {
        CopyTo(target, KRect(x0 + i, 0, x0 + i + 1, y0), KRect(x0, 0, x0 + 1, y0));
        CopyTo(target, KRect(x0 + i, th - B, x0 + i + 1, th), KRect(x0, y1 + 1, x0 + 1, y1 + 1 + B));
    }
    if (fillCentre && Mw > 0 && Mh > 0) {
        KUiColor centre;
        GetPixel(x0, y0, centre);
        target->FillRect(KRect(x0, y0, x0 + Mw, y0 + Mh), centre);
    }
}

void KGenericUiPixmap::DrawNinePatch(KIUiPixmap* target, const KRect& centre, bool fillCentre) const
{
    DrawNinePatch(target, centre.left, centre.top, centre.right - 1, centre.bottom - 1, fillCentre);
}

void KGenericUiPixmap::DrawThreePart(KIUiPixmap* target, int32_t x0, int32_t y0, int32_t x1, int32_t y1) const
{
    if (!target || !Near(x0, y0, x1, y1))
        return;
    const int32_t width = Width(), height = Height();
    const int32_t tw = target->Width(), th = target->Height();
    const int32_t R = width - x1 - 1;
    if (x0 > 0)
        CopyTo(target, KRect(0, 0, x0, th), KRect(0, 0, x0, height));
    if (R > 0)
        CopyTo(target, KRect(tw - R, 0, tw, th), KRect(width - R, 0, width, height));
    if (x1 - x0 + 1 >= 1)
        CopyTo(target, KRect(x0, 0, tw - R, th), KRect(x0, 0, x1 + 1, height));
}

void KGenericUiPixmap::DrawThreePart(KIUiPixmap* target, const KRect& centre) const
{
    DrawThreePart(target, centre.left, centre.top, centre.right - 1, centre.bottom - 1);
}

void KGenericUiPixmap::ReplacePixmap(KPixmap_Display* view)
{
    if (view == m_pPixmap)
        return;
    delete m_pPixmap;
    m_pPixmap = view;
}

void KGenericUiPixmap::AlphaFromGreen()
{
    const Pixels p(this);
    for (int32_t y = 0; y < p.height; ++y)
        for (int32_t x = 0; x < p.width; ++x) {
            uint8_t* q = p.At(x, y);
            q[3] = q[1];
        }
}

void KGenericUiPixmap::ScaleAlpha(uint8_t a)
{
    const Pixels p(this);
    for (int32_t y = 0; y < p.height; ++y)
        for (int32_t x = 0; x < p.width; ++x) {
            uint8_t* q = p.At(x, y);
            q[3] = static_cast<uint8_t>(q[3] * a / 255);
        }
}

void KGenericUiPixmap::SetRGB(uint8_t r, uint8_t g, uint8_t b)
{
    FillRGB(r, g, b);
}

// Creation and the text functions.

namespace {

// The surface, or null (and the surface deleted) when it got no pixels.
KIGenericUiPixmap* WithPixels(KGenericUiPixmap* surface)
{
    if (surface->GetPixmap() && surface->GetPixmap()->GetData())
        return surface;
    delete surface;
    return nullptr;
}

}  // namespace

KIGenericUiPixmap* CreateUiPixmap(int32_t width, int32_t height, bool osDrawable)
{
    if (width < 1 || height < 1)
        return nullptr;
    auto* surface = new KGenericUiPixmap;
    surface->SetOsPixmap(CreateOsUiPixmap(surface, width, height, osDrawable));
    return WithPixels(surface);
}

KIGenericUiPixmap* CreateUiPixmapFromPixmap(const KPixmap_Display* source, bool osDrawable)
{
    if (!source)
        return nullptr;
    auto* surface = new KGenericUiPixmap;
    surface->SetOsPixmap(CreateOsUiPixmapFromPixmap(surface, source, osDrawable));
    return WithPixels(surface);
}

KIGenericUiPixmap* CreateTextUiPixmap(const KWString& text, const KWString& fontName, int32_t height, bool bold,
                                      bool italic, bool underline, KUiColor colour, int32_t* prefixWidths,
                                      bool osDrawable)
{
    if (text.IsEmpty() || fontName.IsEmpty())
        return nullptr;
    auto* surface = new KGenericUiPixmap;
    surface->SetOsPixmap(
        CreateOsUiTextPixmap(surface, text, fontName, height, bold, italic, underline, prefixWidths, osDrawable));
    KIGenericUiPixmap* result = WithPixels(surface);
    if (!result)
        return nullptr;
    result->AlphaFromGreen();
    result->ScaleAlpha(colour.a);
    result->SetRGB(colour.r, colour.g, colour.b);
    return result;
}

void DeleteUiPixmap(KIUiPixmap*& surface)
{
    delete surface;
    surface = nullptr;
}

bool GetUiFontMetrics(const KWString& fontName, int32_t height, bool bold, bool italic, bool underline,
                      int32_t* cellHeight, int32_t* averageCharWidth)
{
    return GetOsFontMetrics(fontName, height, bold, italic, underline, cellHeight, averageCharWidth);
}

bool GetUiTextWidths(const KWString& text, const KWString& fontName, int32_t height, bool bold, bool italic,
                     bool underline, int32_t* widths)
{
    return GetOsTextWidths(text, fontName, height, bold, italic, underline, widths);
}
