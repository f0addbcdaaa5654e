#include "KLinearize.h"

#include "KExceptionPixelProc2.h"
#include "KRounding.h"

namespace {

// One row; with offsets, the column's offset is added to both values (in 32 bits, so that a negative sum
// wraps within the table through the mask).
template <bool WithOffsets>
void LinearizeRow(const KUInt16* dark, const KUInt16* raw, KInt32 columns, const KColorLUT& lut, KInt16* out,
                  const KInt16* offsets)
{
    const KInt16* const t0 = lut.m_pData[0];
    const KInt16* const t1 = lut.m_pData[1];
    const KInt16* const t2 = lut.m_pData[2];
    const KUInt32 mask = lut.m_Mask;
    for (KInt32 x = 0; x < columns; ++x) {
        const KUInt16* r = raw + 3 * x;
        const KUInt16* d = dark + 3 * x;
        KInt32 o0 = 0, o1 = 0, o2 = 0;
        if constexpr (WithOffsets) {
            o0 = offsets[3 * x];
            o1 = offsets[3 * x + 1];
            o2 = offsets[3 * x + 2];
        }
        const KInt32 v0 = t0[static_cast<KUInt32>(r[0] + o0) & mask] - t0[static_cast<KUInt32>(d[0] + o0) & mask];
        const KInt32 v1 = t1[static_cast<KUInt32>(r[1] + o1) & mask] - t1[static_cast<KUInt32>(d[1] + o1) & mask];
        const KInt32 v2 = t2[static_cast<KUInt32>(r[2] + o2) & mask] - t2[static_cast<KUInt32>(d[2] + o2) & mask];
        out[3 * x] = KSaturateToInt16(v0);
        out[3 * x + 1] = KSaturateToInt16(v1);
        out[3 * x + 2] = KSaturateToInt16(v2);
    }
}

}  // namespace

void LinearizeAndDarkSubtractImage(const KPixmapTemplate<KPixelClass48RGB>* dark,
                                   const KPixmapTemplate<KPixelClass48RGB>* raw, const KColorLUT* /*lut*/,
                                   const KPixmapTemplate<KPixelClass48SRGB>* out)
{
    if (!dark)
        throw KExceptionPixelProc2("LinearizeAndDarkSubtractImage: dark image pointer is NULL.\n");
    if (!raw)
        throw KExceptionPixelProc2("LinearizeAndDarkSubtractImage: raw image pointer is NULL.\n");
    if (!out)
        throw KExceptionPixelProc2("LinearizeAndDarkSubtractImage: out image pointer is NULL.\n");
    if (dark->GetWidth() != raw->GetWidth() || dark->GetHeight() != raw->GetHeight())
        throw KExceptionPixelProc2("LinearizeAndDarkSubtractImage: dark and raw are different sizes.\n");
    if (raw->GetWidth() != out->GetWidth() || raw->GetHeight() != out->GetHeight())
        throw KExceptionPixelProc2("LinearizeAndDarkSubtractImage: raw and output are different sizes.\n");
}

void LinearizeAndDarkSubtractRow(const KUInt16* dark, const KUInt16* raw, KInt32 columns, const KColorLUT& lut,
                                 KInt16* out)
{
    LinearizeRow<false>(dark, raw, columns, lut, out, nullptr);
}

void LinearizeAndDarkSubtractRowWithOffsets(const KUInt16* dark, const KUInt16* raw, KInt32 columns,
                                            const KColorLUT& lut, KInt16* out, const KInt16* offsets)
{
    LinearizeRow<true>(dark, raw, columns, lut, out, offsets);
}
