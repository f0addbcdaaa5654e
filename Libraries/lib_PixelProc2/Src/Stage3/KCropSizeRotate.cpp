#include "KCropSizeRotate.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "KExceptionPixelProc2.h"
#include "KResampleKernel.h"
#include "KResampleTable.h"
#include "KRounding.h"
#include "KPickKernel.h"

struct KCropSizeRotateKernels {
    std::unique_ptr<KResampleTable> m_pTable;
    std::vector<KInterleavedKernel> m_Interleaved;
    bool m_bNarrow = false;  // every sum fits 32 bits
};

// Positions are 32-bit fixed point with 14 fractional bits. They advance by whole-number additions of the
// column and row steps, with the wrap-around of 32-bit arithmetic (done in unsigned values, so that a position
// that leaves the range is still defined and then fails the border test).

namespace {

constexpr int kFractionBits = 14;
constexpr KInt32 kMarker[3] = {8000, 0, 0};

KInt32 Wrap(KUInt32 v)
{
    return static_cast<KInt32>(v);
}

KUInt32 Times(KInt32 a, KInt32 b)
{
    return static_cast<KUInt32>(a) * static_cast<KUInt32>(b);
}

// Start point S and the steps per output column (Dc) and per output row (Dr) of a quarter turn.
struct KWalk {
    KUInt32 m_StartX, m_StartY;
    KInt32 m_ColX, m_ColY;
    KInt32 m_RowX, m_RowY;

    // Position of output coordinate (u, v).
    KUInt32 X(KInt32 u, KInt32 v) const { return m_StartX + Times(u, m_ColX) + Times(v, m_RowX); }
    KUInt32 Y(KInt32 u, KInt32 v) const { return m_StartY + Times(u, m_ColY) + Times(v, m_RowY); }
};

// -v in 32-bit wrapping arithmetic: a step saturated at the most negative value stays defined.
KInt32 Negated(KInt32 v)
{
    return Wrap(0u - static_cast<KUInt32>(v));
}

KWalk WalkOf(KUInt32 quarterTurn, const KRect& a, KInt32 stepX, KInt32 stepY)
{
    auto at = [](KInt32 x, KInt32 y, KInt32 cx, KInt32 cy, KInt32 rx, KInt32 ry) {
        return KWalk{static_cast<KUInt32>(x) << kFractionBits, static_cast<KUInt32>(y) << kFractionBits, cx, cy, rx, ry};
    };
    switch (quarterTurn) {
    case 90:
        return at(a.left, a.bottom - 1, 0, Negated(stepY), stepX, 0);
    case 180:
        return at(a.right - 1, a.bottom - 1, Negated(stepX), 0, 0, Negated(stepY));
    case 270:
        return at(a.right - 1, a.top, 0, stepY, Negated(stepX), 0);
    default:
        return at(a.left, a.top, stepX, 0, 0, stepY);
    }
}

// Encoding of one linear sample into the output and luminance pixels: cube-root table, green correction, and
// the encoded luminance of the linear sample. 32-bit products keep their low 32 bits.
class KEncoder {
public:
    KEncoder(const KLUT& cubeRoot, double greenWeight, KInt32 highLimit, KInt32 lowLimit)
        : m_pTable(cubeRoot.m_pData), m_Mask(cubeRoot.m_Mask), m_GreenFactor(KTruncToInt32(greenWeight * 16384.0)),
          m_HighLimit(highLimit), m_LowLimit(lowLimit)
    {
    }

    void Encode(const KInt32 s[3], KInt16* out, KInt16* luminance) const
    {
        const KInt32 er = T(s[0]), eg = T(s[1]), eb = T(s[2]);
        const KInt32 d = eg - er;
        const KInt32 e = d < m_LowLimit ? m_LowLimit : (d > m_HighLimit ? m_HighLimit : d);
        const KInt32 lift = Wrap(Times(Wrap(Times(e, d)), m_GreenFactor)) >> 14;
        out[0] = static_cast<KInt16>(er);
        out[1] = static_cast<KInt16>(eg + lift);
        out[2] = static_cast<KInt16>(eb);
        const KUInt32 y = Times(5734, s[0]) + Times(9011, s[1]) + Times(1638, s[2]) + 8192;
        *luminance = m_pTable[static_cast<KUInt32>(Wrap(y) >> 14) & m_Mask];
    }

private:
    KInt32 T(KInt32 v) const { return m_pTable[static_cast<KUInt32>(v) & m_Mask]; }

    const KInt16* m_pTable;
    KUInt32 m_Mask;
    KInt32 m_GreenFactor;  // 14 fractional bits
    KInt32 m_HighLimit;
    KInt32 m_LowLimit;
};


struct KFrame {
    const KInt16* m_pData;
    ptrdiff_t m_Stride;  // in 16-bit units
    KInt32 m_Width;
    KInt32 m_Height;
    KRect m_Picture;  // the active area: the pixels a sample may draw on
};

// The 4 x 4 neighbourhood of pixel (x - 1, y - 1) .. (x + 2, y + 2) with every position outside the picture
// moved to the picture's nearest edge pixel: rows of twelve samples.
void GatherInsidePicture(const KFrame& in, ptrdiff_t x, ptrdiff_t y, KInt16 out[48])
{
    const KRect& a = in.m_Picture;
    for (int j = 0; j < 4; ++j) {
        const ptrdiff_t row = std::clamp<ptrdiff_t>(y - 1 + j, a.top, a.bottom - 1);
        for (int i = 0; i < 4; ++i) {
            const ptrdiff_t column = std::clamp<ptrdiff_t>(x - 1 + i, a.left, a.right - 1);
            const KInt16* p = in.m_pData + row * in.m_Stride + column * 3;
            out[j * 12 + i * 3] = p[0];
            out[j * 12 + i * 3 + 1] = p[1];
            out[j * 12 + i * 3 + 2] = p[2];
        }
    }
}

// Exactly 1:1: the nearest pixel, or the marker outside the frame.
void NearestRow(const KFrame& in, const KWalk& walk, KInt32 u0, KInt32 v, KInt32 count, const KEncoder& enc,
                KInt16* out, KInt16* lum)
{
    KUInt32 px = walk.X(u0, v), py = walk.Y(u0, v);
    for (KInt32 c = 0; c < count; ++c, px += KUInt32(walk.m_ColX), py += KUInt32(walk.m_ColY)) {
        const KInt32 x = Wrap(px) >> kFractionBits, y = Wrap(py) >> kFractionBits;
        KInt32 s[3] = {kMarker[0], kMarker[1], kMarker[2]};
        if (KUInt32(x) < KUInt32(in.m_Width) && KUInt32(y) < KUInt32(in.m_Height)) {
            const KInt16* p = in.m_pData + y * in.m_Stride + ptrdiff_t(x) * 3;
            s[0] = p[0];
            s[1] = p[1];
            s[2] = p[2];
        }
        enc.Encode(s, out + ptrdiff_t(c) * 3, lum + c);
    }
}

// The windowed-sinc sample at the position rounded to sixteenths, or the marker where its 4 x 4 neighbourhood
// would not lie well inside the frame. A position in the picture, or within a pixel of it, whose
// neighbourhood reaches past the picture's edge takes the picture's edge pixels in place of those beyond it:
// the shields around the picture would otherwise darken its edge rows and columns. Narrow: every sum is known
// to fit 32 bits.
template <bool Narrow>
K_INLINE_BODY void ResampleRowBody(const KFrame& in, const KCropSizeRotateKernels& kernels, const KWalk& walk, KInt32 u0,
                                   KInt32 v, KInt32 count, const KEncoder& enc, KInt16* out, KInt16* lum)
{
    const KInt64 limitX = (KInt64(in.m_Width) - 2) * 16, limitY = (KInt64(in.m_Height) - 2) * 16;
    KUInt32 px = walk.X(u0, v), py = walk.Y(u0, v);
    for (KInt32 c = 0; c < count; ++c, px += KUInt32(walk.m_ColX), py += KUInt32(walk.m_ColY)) {
        const KUInt32 x16 = (px + 512) >> 10, y16 = (py + 512) >> 10;
        KInt32 s[3] = {kMarker[0], kMarker[1], kMarker[2]};
        const ptrdiff_t px16 = Wrap(x16), py16 = Wrap(y16);
        const ptrdiff_t wx = px16 >> 4, wy = py16 >> 4;
        const KRect& a = in.m_Picture;
        const bool inside = wx - 1 >= a.left && wx + 2 < a.right && wy - 1 >= a.top && wy + 2 < a.bottom;
        if (!inside && wx >= a.left - 1 && wx <= a.right && wy >= a.top - 1 && wy <= a.bottom) {
            KInt16 window[48];
            GatherInsidePicture(in, wx, wy, window);
            Resample4x4Pixel64(window, 12, kernels.m_pTable->m_Weights[(py16 & 15) * 16 + (px16 & 15)], s);
        } else if (inside || (x16 >= 32 && y16 >= 32 && x16 < limitX && y16 < limitY)) {
            const ptrdiff_t x = x16 >> 4, y = y16 >> 4;
            const KInt16* p = in.m_pData + (y - 1) * in.m_Stride + (x - 1) * 3;
            const int phase = (y16 & 15) * 16 + (x16 & 15);
            if constexpr (Narrow)
                Resample4x4Pixel32(p, in.m_Stride, kernels.m_Interleaved[phase], s);
            else
                Resample4x4Pixel64(p, in.m_Stride, kernels.m_pTable->m_Weights[phase], s);
        }
        enc.Encode(s, out + ptrdiff_t(c) * 3, lum + c);
    }
}

using KResampleRowFunction = void (*)(const KFrame&, const KCropSizeRotateKernels&, const KWalk&, KInt32, KInt32, KInt32,
                                      const KEncoder&, KInt16*, KInt16*);

void ResampleRow32(const KFrame& in, const KCropSizeRotateKernels& kernels, const KWalk& walk, KInt32 u0, KInt32 v,
                   KInt32 count, const KEncoder& enc, KInt16* out, KInt16* lum)
{
    ResampleRowBody<true>(in, kernels, walk, u0, v, count, enc, out, lum);
}
void ResampleRow64(const KFrame& in, const KCropSizeRotateKernels& kernels, const KWalk& walk, KInt32 u0, KInt32 v,
                   KInt32 count, const KEncoder& enc, KInt16* out, KInt16* lum)
{
    ResampleRowBody<false>(in, kernels, walk, u0, v, count, enc, out, lum);
}
#if K_HAVE_AVX2_BUILD
K_AVX2 void ResampleRow32Avx2(const KFrame& in, const KCropSizeRotateKernels& kernels, const KWalk& walk, KInt32 u0,
                              KInt32 v, KInt32 count, const KEncoder& enc, KInt16* out, KInt16* lum)
{
    ResampleRowBody<true>(in, kernels, walk, u0, v, count, enc, out, lum);
}
#endif

KResampleRowFunction ResampleRowFor(bool narrow)
{
    return narrow ? K_PICK_KERNEL(ResampleRow32) : ResampleRow64;
}

// The pixels the samples of the crop can read: every position, moved a pixel up and left and two down and right,
// within the frame. The walk is affine, so its extremes lie at the crop's corners; a walk that would wrap
// around 32 bits anywhere in the crop takes the whole frame.
KRect ReachOf(const KFrame& in, const KWalk& walk, const KRect& crop)
{
    const KRect whole(0, 0, in.m_Width, in.m_Height);
    if (KInt64(crop.right) - crop.left <= 0 || KInt64(crop.bottom) - crop.top <= 0)
        return whole;
    constexpr KInt64 kSafe = (KInt64{1} << 31) - 1024;  // positions whose rounding to sixteenths cannot wrap
    KInt64 low[2] = {kSafe, kSafe}, high[2] = {0, 0};
    for (KInt64 u : {KInt64(crop.left), KInt64(crop.right) - 1}) {
        for (KInt64 v : {KInt64(crop.top), KInt64(crop.bottom) - 1}) {
            const KInt64 at[2] = {KInt64(walk.m_StartX) + u * walk.m_ColX + v * walk.m_RowX,
                                  KInt64(walk.m_StartY) + u * walk.m_ColY + v * walk.m_RowY};
            for (int axis = 0; axis < 2; ++axis) {
                if (at[axis] < 0 || at[axis] >= kSafe)
                    return whole;
                low[axis] = std::min(low[axis], at[axis]);
                high[axis] = std::max(high[axis], at[axis]);
            }
        }
    }
    // Whole pixels as the samples round them: to sixteenths, then down.
    auto pixel = [](KInt64 position) { return ((position + 512) >> 10) >> 4; };
    const KInt64 left = std::max<KInt64>(pixel(low[0]) - 1, 0), top = std::max<KInt64>(pixel(low[1]) - 1, 0);
    const KInt64 right = std::min<KInt64>(pixel(high[0]) + 3, in.m_Width);
    const KInt64 bottom = std::min<KInt64>(pixel(high[1]) + 3, in.m_Height);
    if (left >= right || top >= bottom)
        return KRect(0, 0, 0, 0);
    return KRect(KInt32(left), KInt32(top), KInt32(right), KInt32(bottom));
}

// The largest absolute sample within `area` of the frame.
KInt32 SampleBound(const KFrame& in, const KRect& area)
{
    KInt32 low = 0, high = 0;
    for (KInt32 y = area.top; y < area.bottom; ++y) {
        const KInt16* p = in.m_pData + y * in.m_Stride + ptrdiff_t(area.left) * 3;
        for (ptrdiff_t n = 0; n < (ptrdiff_t(area.right) - area.left) * 3; ++n) {
            low = p[n] < low ? p[n] : low;
            high = p[n] > high ? p[n] : high;
        }
    }
    return -low > high ? -low : high;
}

void CheckArguments(const KPixmap& input, const KRect& active, KInt32 cropWidth, KInt32 cropHeight,
                    const KPixmap& out, const KPixmap& luminance)
{
    if (KInt64(active.right) - active.left < 2 || KInt64(active.bottom) - active.top < 2)
        throw KExceptionPixelProc2("CropSizeRotateMore: active area is smaller than 2 x 2 pixels.");
    if (active.left < 0 || active.top < 0 || active.right > input.GetWidth() || active.bottom > input.GetHeight())
        throw KExceptionPixelProc2("CropSizeRotateMore: active area is not inside the input image.");
    if (cropWidth > 0 && cropHeight > 0) {
        for (const KPixmap* p : {&out, &luminance})
            if (p->GetWidth() < cropWidth || p->GetHeight() < cropHeight)
                throw KExceptionPixelProc2("CropSizeRotateMore: output image smaller than the crop rectangle.");
    }
}

// Output pixels per sensor pixel, and the steps sx, sy in input pixels.
struct KScale {
    double factor, sx, sy;
};

KScale ScaleOf(const KRect& active, KInt32 expectedWidth, KInt32 expectedHeight, KInt32 outputWidth,
               KInt32 outputHeight, KUInt32 quarterTurn)
{
    const bool sideways = quarterTurn == 90 || quarterTurn == 270;
    const double factor = double(sideways ? outputHeight : outputWidth) / expectedWidth;
    const double sx = (expectedWidth - 1.0) * factor / (active.right - active.left - 1.0);
    const double sy = (expectedHeight - 1.0) * factor / (active.bottom - active.top - 1.0);
    return {factor, sx, sy};
}

KFrame FrameOf(const KPixmapTemplate<KPixelClass48SRGB>& input, const KRect& active)
{
    return KFrame{static_cast<const KInt16*>(input.GetData()), input.GetRowBytes() / 2, input.GetWidth(),
                  input.GetHeight(), active};
}

// The kernels of the scale steps, in 32-bit sums where no sum over the pixels that the crop reads can pass them.
std::unique_ptr<KCropSizeRotateKernels> MakeKernels(const KFrame& in, double sx, double sy, const KWalk& walk,
                                                    const KRect& crop)
{
    auto kernels = std::make_unique<KCropSizeRotateKernels>();
    kernels->m_pTable = CreateResampleTable(sx, sy);
    kernels->m_bNarrow = KernelBound(*kernels->m_pTable) * SampleBound(in, ReachOf(in, walk, crop)) <= INT32_MAX;
    if (kernels->m_bNarrow) {
        kernels->m_Interleaved.resize(256);
        for (int n = 0; n < 256; ++n)
            Interleave(kernels->m_pTable->m_Weights[n], kernels->m_Interleaved[n]);
    }
    return kernels;
}

}  // namespace

std::shared_ptr<const KCropSizeRotateKernels> PrepareCropSizeRotate(
    const KPixmapTemplate<KPixelClass48SRGB>& input, const KRect& active, KInt32 expectedWidth,
    KInt32 expectedHeight, KInt32 outputWidth, KInt32 outputHeight, const KRect& crop, KUInt32 rotation)
{
    if (rotation % 90 != 0 || KInt64(crop.right) - crop.left <= 0 || KInt64(crop.bottom) - crop.top <= 0)
        return nullptr;
    if (KInt64(active.right) - active.left < 2 || KInt64(active.bottom) - active.top < 2 || active.left < 0 ||
        active.top < 0 || active.right > input.GetWidth() || active.bottom > input.GetHeight())
        return nullptr;
    const KUInt32 quarterTurn = rotation % 360;
    const KScale scale = ScaleOf(active, expectedWidth, expectedHeight, outputWidth, outputHeight, quarterTurn);
    if (scale.sx == 1.0 && scale.sy == 1.0)
        return nullptr;
    const KWalk walk = WalkOf(quarterTurn, active, KRoundToInt32(16384.0 / scale.sx), KRoundToInt32(16384.0 / scale.sy));
    return MakeKernels(FrameOf(input, active), scale.sx, scale.sy, walk, crop);
}

double CropSizeRotateMore(const KPixmapTemplate<KPixelClass48SRGB>& input, const KRect& active,
                          KInt32 expectedWidth, KInt32 expectedHeight, KInt32 outputWidth, KInt32 outputHeight,
                          const KRect& crop, KUInt32 rotation, const KLUT& cubeRoot,
                          KPixmapTemplate<KPixelClass48SRGB>& out, KPixmapTemplate<KPixelClass16SMono>& luminance,
                          double greenWeight, KInt32 greenHighLimit, KInt32 greenLowLimit,
                          const KCropSizeRotateKernels* prepared)
{
    if (rotation % 90 != 0)
        throw KExceptionPixelProc2("CropSizeRotateMore: rotation is not multiple of 90 degrees.");
    const KUInt32 quarterTurn = rotation % 360;
    const KInt32 cropWidth = static_cast<KInt32>(std::max<KInt64>(KInt64(crop.right) - crop.left, 0));
    const KInt32 cropHeight = static_cast<KInt32>(std::max<KInt64>(KInt64(crop.bottom) - crop.top, 0));
    CheckArguments(input, active, cropWidth, cropHeight, out, luminance);

    const KScale scale = ScaleOf(active, expectedWidth, expectedHeight, outputWidth, outputHeight, quarterTurn);
    const double factor = scale.factor, sx = scale.sx, sy = scale.sy;
    const KWalk walk = WalkOf(quarterTurn, active, KRoundToInt32(16384.0 / sx), KRoundToInt32(16384.0 / sy));
    const KEncoder enc(cubeRoot, greenWeight, greenHighLimit, greenLowLimit);
    const KFrame in = FrameOf(input, active);
    const bool nearest = sx == 1.0 && sy == 1.0;
    std::unique_ptr<KCropSizeRotateKernels> own;
    if (!nearest && cropWidth > 0 && cropHeight > 0 && !prepared) {
        own = MakeKernels(in, sx, sy, walk, crop);
        prepared = own.get();
    }
    static const KCropSizeRotateKernels none;
    const KCropSizeRotateKernels& kernels = prepared ? *prepared : none;

    const KResampleRowFunction resampleRow = ResampleRowFor(kernels.m_bNarrow);
    for (KInt32 r = 0; r < cropHeight && cropWidth > 0; ++r) {
        KInt16* o = reinterpret_cast<KInt16*>(out.GetRow(r));
        KInt16* l = reinterpret_cast<KInt16*>(luminance.GetRow(r));
        const KInt32 v = Wrap(KUInt32(crop.top) + KUInt32(r));
        if (nearest)
            NearestRow(in, walk, crop.left, v, cropWidth, enc, o, l);
        else
            resampleRow(in, kernels, walk, crop.left, v, cropWidth, enc, o, l);
    }
    return factor;
}
