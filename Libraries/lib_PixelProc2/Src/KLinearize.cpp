#include "KLinearize.h"

#include <algorithm>

#include "KExceptionPixelProc2.h"
#include "KRounding.h"

namespace {

// A value moved by its column's offset. The offset shifts a value within the table but never carries it across
// either end: a clipped value (the top entry) stays at the top, a value of 0 at the bottom, where wrapping
// through the mask would turn a clipped highlight black (or a black pixel white) in every column whose offset
// points out of the table. A value already beyond the table wraps through the mask as it does without offsets.
inline KUInt32 OffsetWithinTable(KUInt32 value, KInt16 offset, KUInt32 mask)
{
    const KInt32 sum = KInt32(value) + offset;
    if (value > mask)
        return static_cast<KUInt32>(sum);
    if (sum < 0)
        return 0;
    return std::min(static_cast<KUInt32>(sum), mask);
}

// One row; with offsets, the column's offset is added to both values as above. Differences beyond 16 bits
// (only tables with entries of both signs give them) saturate: the fast pass stores the low 16 bits and notes
// whether any value was out of range, and only then is the row done again with saturation.
template <bool WithOffsets, bool Saturate>
KUInt32 LinearizeRow(const KUInt16* dark, const KUInt16* raw, size_t n, const KColorLUT& lut, KInt16* out,
                     const KInt16* offsets)
{
    const KInt16* const table[3] = {lut.m_pData[0], lut.m_pData[1], lut.m_pData[2]};
    const KUInt32 mask = lut.m_Mask;
    KUInt32 range = 0;
    for (size_t i = 0; i < n; i += 3) {
        for (size_t c = 0; c < 3; ++c) {
            KUInt32 r = raw[i + c], d = dark[i + c];
            if constexpr (WithOffsets) {
                r = OffsetWithinTable(r, offsets[i + c], mask);
                d = OffsetWithinTable(d, offsets[i + c], mask);
            }
            const KInt32 v = KInt32(table[c][r & mask]) - table[c][d & mask];
            if constexpr (Saturate) {
                out[i + c] = KSaturateToInt16(v);
            } else {
                out[i + c] = static_cast<KInt16>(v);
                range |= static_cast<KUInt32>(v + 32768);
            }
        }
    }
    return range;
}

template <bool WithOffsets>
void Linearize(const KUInt16* dark, const KUInt16* raw, KInt32 columns, const KColorLUT& lut, KInt16* out,
               const KInt16* offsets)
{
    const size_t n = size_t(columns > 0 ? columns : 0) * 3;
    if (LinearizeRow<WithOffsets, false>(dark, raw, n, lut, out, offsets) > 0xFFFF) [[unlikely]]
        LinearizeRow<WithOffsets, true>(dark, raw, n, lut, out, offsets);
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
    Linearize<false>(dark, raw, columns, lut, out, nullptr);
}

void LinearizeAndDarkSubtractRowWithOffsets(const KUInt16* dark, const KUInt16* raw, KInt32 columns,
                                            const KColorLUT& lut, KInt16* out, const KInt16* offsets)
{
    Linearize<true>(dark, raw, columns, lut, out, offsets);
}
