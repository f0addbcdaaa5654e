#include "KUiPlainSurface.h"

#include <algorithm>
#include <cstring>

namespace {

uint8_t* PixelAt(const KPixmap_Display* view, int32_t x, int32_t y)
{
    return view->GetRow(y) + static_cast<ptrdiff_t>(x) * 4;
}

// Composites the straight-alpha colour over the pixel.
void Over(uint8_t* p, uint8_t b, uint8_t g, uint8_t r, uint8_t a)
{
    if (a == 255) {
        p[0] = b;
        p[1] = g;
        p[2] = r;
        p[3] = 255;
        return;
    }
    if (a == 0)
        return;
    const int da = p[3];
    const int outA = a + da * (255 - a) / 255;
    if (outA == 0)
        return;
    auto mix = [&](int s, int d) { return static_cast<uint8_t>((s * a + d * da * (255 - a) / 255) / outA); };
    p[0] = mix(b, p[0]);
    p[1] = mix(g, p[1]);
    p[2] = mix(r, p[2]);
    p[3] = static_cast<uint8_t>(outA);
}

// Copies or composites source's sourceRect into targetRect of target, nearest pixel when the sizes differ;
// clipped to both surfaces.
void Transfer(const KPixmap_Display* source, const KRect& sourceRect, const KPixmap_Display* target,
              const KRect& targetRect, bool blend)
{
    if (!source || !target)
        return;
    const int32_t tw = targetRect.Width(), th = targetRect.Height();
    const int32_t sw = sourceRect.Width(), sh = sourceRect.Height();
    if (tw <= 0 || th <= 0 || sw <= 0 || sh <= 0)
        return;
    for (int32_t ty = std::max(0, targetRect.top); ty < std::min(target->GetHeight(), targetRect.bottom); ++ty) {
        const int32_t sy = sourceRect.top + static_cast<int32_t>(static_cast<int64_t>(ty - targetRect.top) * sh / th);
        if (sy < 0 || sy >= source->GetHeight())
            continue;
        for (int32_t tx = std::max(0, targetRect.left); tx < std::min(target->GetWidth(), targetRect.right); ++tx) {
            const int32_t sx =
                sourceRect.left + static_cast<int32_t>(static_cast<int64_t>(tx - targetRect.left) * sw / tw);
            if (sx < 0 || sx >= source->GetWidth())
                continue;
            const uint8_t* s = PixelAt(source, sx, sy);
            uint8_t* t = PixelAt(target, tx, ty);
            if (blend)
                Over(t, s[0], s[1], s[2], s[3]);
            else
                std::memcpy(t, s, 4);
        }
    }
}

}  // namespace

KUiPlainSurface::KUiPlainSurface(int32_t width, int32_t height)
    : m_Width(std::max(1, width)), m_Height(std::max(1, height))
{
    const size_t bytes = static_cast<size_t>(m_Width) * static_cast<size_t>(m_Height) * 4;
    m_pPixels.reset(new uint8_t[bytes]());
    m_pView = std::make_unique<KPixmap_Display>(m_pPixels.get(), m_Width, m_Height, m_Width * 4);
}

KUiPlainSurface::~KUiPlainSurface() = default;

void* KUiPlainSurface::GetAttribute(int id)
{
    return id == 1 ? m_pPixels.get() : nullptr;
}

bool KUiPlainSurface::SetAttribute(int, const void*)
{
    return false;
}

uint8_t* KUiPlainSurface::priAt(int32_t x, int32_t y) const
{
    return m_pPixels.get() + (static_cast<size_t>(y) * static_cast<size_t>(m_Width) + static_cast<size_t>(x)) * 4;
}

bool KUiPlainSurface::priClip(KRect& r) const
{
    r.left = std::max(0, r.left);
    r.top = std::max(0, r.top);
    r.right = std::min(m_Width, r.right);
    r.bottom = std::min(m_Height, r.bottom);
    return r.left < r.right && r.top < r.bottom;
}

void KUiPlainSurface::GetPixel(int32_t x, int32_t y, KUiColor& out) const
{
    if (x < 0 || y < 0 || x >= m_Width || y >= m_Height) {
        out = KUiColor();
        return;
    }
    const uint8_t* p = priAt(x, y);
    out = KUiColor(p[2], p[1], p[0], p[3]);
}

uint8_t KUiPlainSurface::GetAlpha(int32_t x, int32_t y) const
{
    return (x < 0 || y < 0 || x >= m_Width || y >= m_Height) ? 0 : priAt(x, y)[3];
}

void KUiPlainSurface::FillRGB(uint8_t r, uint8_t g, uint8_t b)
{
    FillRectRGB(KRect(0, 0, m_Width, m_Height), r, g, b);
}

void KUiPlainSurface::FillRGBA(uint8_t r, uint8_t g, uint8_t b, uint8_t a)
{
    FillRectRGBA(KRect(0, 0, m_Width, m_Height), r, g, b, a);
}

void KUiPlainSurface::DrawFrame(const KRect& rect, KUiColor color, const KRect* clip)
{
    KRect sides[4] = {KRect(rect.left, rect.top, rect.right, rect.top + 1),
                      KRect(rect.left, rect.bottom - 1, rect.right, rect.bottom),
                      KRect(rect.left, rect.top, rect.left + 1, rect.bottom),
                      KRect(rect.right - 1, rect.top, rect.right, rect.bottom)};
    for (KRect s : sides) {
        if (clip) {
            s.left = std::max(s.left, clip->left);
            s.top = std::max(s.top, clip->top);
            s.right = std::min(s.right, clip->right);
            s.bottom = std::min(s.bottom, clip->bottom);
        }
        FillRect(s, color);
    }
}

void KUiPlainSurface::FillRect(const KRect& rect, KUiColor color)
{
    FillRectRGBA(rect, color.r, color.g, color.b, color.a);
}

void KUiPlainSurface::FillRectRGBA(const KRect& rect, uint8_t r, uint8_t g, uint8_t b, uint8_t a)
{
    KRect c = rect;
    if (!priClip(c))
        return;
    for (int32_t y = c.top; y < c.bottom; ++y)
        for (int32_t x = c.left; x < c.right; ++x) {
            uint8_t* p = priAt(x, y);
            p[0] = b;
            p[1] = g;
            p[2] = r;
            p[3] = a;
        }
}

void KUiPlainSurface::FillRectRGB(const KRect& rect, uint8_t r, uint8_t g, uint8_t b)
{
    KRect c = rect;
    if (!priClip(c))
        return;
    for (int32_t y = c.top; y < c.bottom; ++y)
        for (int32_t x = c.left; x < c.right; ++x) {
            uint8_t* p = priAt(x, y);
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
}

void KUiPlainSurface::BlendRect(const KRect& rect, KUiColor color)
{
    KRect c = rect;
    if (!priClip(c))
        return;
    for (int32_t y = c.top; y < c.bottom; ++y)
        for (int32_t x = c.left; x < c.right; ++x)
            Over(priAt(x, y), color.b, color.g, color.r, color.a);
}

void KUiPlainSurface::CopyTo(KIUiPixmap* target, const KRect& targetRect, const KRect& sourceRect) const
{
    if (target)
        Transfer(m_pView.get(), sourceRect, target->GetPixmap(), targetRect, false);
}

void KUiPlainSurface::BlendTo(KIUiPixmap* target, const KRect& targetRect, const KRect& sourceRect) const
{
    if (!target)
        return;
    KRect t(targetRect.left, targetRect.top, targetRect.left + sourceRect.Width(),
            targetRect.top + sourceRect.Height());
    Transfer(m_pView.get(), sourceRect, target->GetPixmap(), t, true);
}

void KUiPlainSurface::DrawNinePatch(KIUiPixmap* target, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                    bool fillCentre) const
{
    if (!target)
        return;
    const int32_t tw = target->Width(), th = target->Height();
    // Source and target edges of the three columns and rows.
    const int32_t sx[4] = {0, x0, x1 + 1, m_Width};
    const int32_t sy[4] = {0, y0, y1 + 1, m_Height};
    const int32_t tx[4] = {0, x0, tw - (m_Width - x1 - 1), tw};
    const int32_t ty[4] = {0, y0, th - (m_Height - y1 - 1), th};
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col) {
            if (row == 1 && col == 1 && !fillCentre)
                continue;
            Transfer(m_pView.get(), KRect(sx[col], sy[row], sx[col + 1], sy[row + 1]), target->GetPixmap(),
                     KRect(tx[col], ty[row], tx[col + 1], ty[row + 1]), false);
        }
}

void KUiPlainSurface::DrawNinePatch(KIUiPixmap* target, const KRect& centre, bool fillCentre) const
{
    DrawNinePatch(target, centre.left, centre.top, centre.right, centre.bottom, fillCentre);
}

void KUiPlainSurface::DrawThreePart(KIUiPixmap* target, int32_t x0, int32_t, int32_t x1, int32_t) const
{
    DrawNinePatch(target, x0, 0, x1, m_Height - 1, true);
}

void KUiPlainSurface::DrawThreePart(KIUiPixmap* target, const KRect& centre) const
{
    DrawThreePart(target, centre.left, centre.top, centre.right, centre.bottom);
}

KUiPlainSurface* KUiPlainSurface::CopyOf(const KIUiPixmap* source)
{
    if (!source)
        return nullptr;
    auto* copy = new KUiPlainSurface(source->Width(), source->Height());
    KRect b;
    source->GetBounds(b);
    Transfer(source->GetPixmap(), b, copy->m_pView.get(), b, false);
    return copy;
}
