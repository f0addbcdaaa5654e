#include "KRotate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <typeinfo>

#include "KExceptionPixelProc.h"

// Output position of input pixel (x, y): dx = ((x c) >> 16) + ((y n) >> 16) + x0, dy = ((x s) >> 16) +
// ((y c) >> 16) + y0, with c, n, s the 16.16 cosine, negated sine and sine. For multiples of 90 degrees c and s
// are 0 or +-65536 and the mapping is a plain copy, a mirror or a transpose; those run over the part of the input
// that lands inside the output, the transpose in tiles so that both pixmaps stay in cache. Any other angle takes
// the general loop with running sums.

namespace {

struct KTurn {
    int32_t c = 0, n = 0, s = 0;
    int64_t x0 = 0, y0 = 0;
};

KTurn TurnOf(double angle, int32_t width, int32_t height)
{
    const double a = angle * 0.017453292522166666;
    KTurn t;
    t.c = static_cast<int32_t>(std::cos(a) * 65536.0);
    t.n = static_cast<int32_t>(std::sin(a) * -65536.0);
    t.s = static_cast<int32_t>(std::sin(a) * 65536.0);
    const int64_t w1 = int64_t{width} - 1, h1 = int64_t{height} - 1;
    t.x0 = (t.c < 0 ? (-w1 * t.c) >> 16 : 0) + (t.n < 0 ? (-h1 * t.n) >> 16 : 0);
    t.y0 = (t.s < 0 ? (-w1 * t.s) >> 16 : 0) + (t.c < 0 ? (-h1 * t.c) >> 16 : 0);
    return t;
}

bool IsUnitOrZero(int32_t v) { return v == 0 || v == 65536 || v == -65536; }

// Indices i in [0, count) with 0 <= sign x i + offset < limit (sign +1 or -1), as [first, end).
struct KRange {
    int64_t first = 0, end = 0;
};
KRange RangeFor(int sign, int64_t offset, int64_t limit, int64_t count)
{
    KRange r;
    if (sign > 0) {
        r.first = std::max<int64_t>(0, -offset);
        r.end = std::min<int64_t>(count, limit - offset);
    } else {
        r.first = std::max<int64_t>(0, offset - limit + 1);
        r.end = std::min<int64_t>(count, offset + 1);
    }
    return r;
}

template <int Bytes>
inline void CopyPixel(uint8_t* d, const uint8_t* s)
{
    std::memcpy(d, s, Bytes);
}

template <int Bytes>
inline const uint8_t* PixelAt(const KPixmap& p, int64_t x, int64_t y)
{
    return p.GetRow(static_cast<int32_t>(y)) + x * Bytes;
}

template <int Bytes>
inline uint8_t* PixelAt(KPixmap& p, int64_t x, int64_t y)
{
    return p.GetRow(static_cast<int32_t>(y)) + x * Bytes;
}

template <int Bytes>
void RotateGeneral(const KPixmap& in, KPixmap& out, const KTurn& t)
{
    const int64_t w = in.GetWidth(), h = in.GetHeight(), ow = out.GetWidth(), oh = out.GetHeight();
    int64_t yn = 0, yc = 0;
    for (int64_t y = 0; y < h; ++y, yn += t.n, yc += t.c) {
        const uint8_t* row = PixelAt<Bytes>(in, 0, y);
        const int64_t rowX = (yn >> 16) + t.x0, rowY = (yc >> 16) + t.y0;
        int64_t xc = 0, xs = 0;
        for (int64_t x = 0; x < w; ++x, xc += t.c, xs += t.s) {
            const int64_t dx = (xc >> 16) + rowX, dy = (xs >> 16) + rowY;
            if (dx >= 0 && dx < ow && dy >= 0 && dy < oh)
                CopyPixel<Bytes>(PixelAt<Bytes>(out, dx, dy), row + x * Bytes);
        }
    }
}

// c = +-65536, s = 0: row y goes to row cu y + y0, pixel x to cu x + x0.
template <int Bytes>
void RotateHalfTurns(const KPixmap& in, KPixmap& out, const KTurn& t)
{
    const int cu = t.c > 0 ? 1 : -1;
    const KRange xs = RangeFor(cu, t.x0, out.GetWidth(), in.GetWidth());
    const KRange ys = RangeFor(cu, t.y0, out.GetHeight(), in.GetHeight());
    if (xs.first >= xs.end)
        return;
    for (int64_t y = ys.first; y < ys.end; ++y) {
        const uint8_t* s = PixelAt<Bytes>(in, xs.first, y);
        uint8_t* d = PixelAt<Bytes>(out, cu * xs.first + t.x0, cu * y + t.y0);
        if (cu > 0) {
            std::memmove(d, s, static_cast<size_t>(xs.end - xs.first) * Bytes);
        } else {
            for (int64_t x = xs.first; x < xs.end; ++x, s += Bytes, d -= Bytes)
                CopyPixel<Bytes>(d, s);
        }
    }
}

// c = 0, s = +-65536: input column x becomes output row su x + y0, input row y output column -su y + x0.
template <int Bytes>
void RotateQuarterTurns(const KPixmap& in, KPixmap& out, const KTurn& t)
{
    constexpr int64_t kTile = 64;
    const int su = t.s > 0 ? 1 : -1;
    const KRange ys = RangeFor(-su, t.x0, out.GetWidth(), in.GetHeight());
    const KRange xs = RangeFor(su, t.y0, out.GetHeight(), in.GetWidth());
    const ptrdiff_t inStride = in.GetRowBytes();
    const ptrdiff_t outStep = -su * Bytes;  // along an output row as y grows
    for (int64_t ty = ys.first; ty < ys.end; ty += kTile) {
        const int64_t tyEnd = std::min(ty + kTile, ys.end);
        for (int64_t tx = xs.first; tx < xs.end; tx += kTile) {
            const int64_t txEnd = std::min(tx + kTile, xs.end);
            for (int64_t x = tx; x < txEnd; ++x) {
                const uint8_t* s = PixelAt<Bytes>(in, x, ty);
                uint8_t* d = PixelAt<Bytes>(out, -su * ty + t.x0, su * x + t.y0);
                for (int64_t y = ty; y < tyEnd; ++y, s += inStride, d += outStep)
                    CopyPixel<Bytes>(d, s);
            }
        }
    }
}

template <int Bytes>
void RotatePixels(const KPixmap& in, KPixmap& out, const KTurn& t)
{
    if (IsUnitOrZero(t.c) && IsUnitOrZero(t.s) && t.n == -t.s && (t.c == 0) != (t.s == 0)) {
        if (t.s == 0)
            RotateHalfTurns<Bytes>(in, out, t);
        else
            RotateQuarterTurns<Bytes>(in, out, t);
    } else {
        RotateGeneral<Bytes>(in, out, t);
    }
}

bool HasPixelsButNoData(const KPixmap& p)
{
    return p.GetWidth() > 0 && p.GetHeight() > 0 && p.GetData() == nullptr;
}

}  // namespace

void Rotate(const KPixmap& input, KPixmap& output, double angle)
{
    const int type = output.GetPixelType();
    if (type != kPixelType24RGB && type != kPixelType32ARGB && type != kPixelType32BGRA && type != kPixelType48RGB)
        throw KExceptionPpUnknownPixelType("Rotate: output image buffer is not display, 24 RGB, or 48 RGB");
    if (input.GetPixelType() != type)
        throw std::bad_cast();
    if (!std::isfinite(angle))
        throw KExceptionPixelProc("Rotate: the angle is not a finite number");
    if (HasPixelsButNoData(input) || HasPixelsButNoData(output))
        throw KExceptionPixelProc("Rotate: image buffer has no pixel data");

    const KTurn turn = TurnOf(angle, input.GetWidth(), input.GetHeight());
    switch (KPixelTypeBytes(type)) {
    case 3: RotatePixels<3>(input, output, turn); break;
    case 4: RotatePixels<4>(input, output, turn); break;
    default: RotatePixels<6>(input, output, turn); break;
    }
}
