#include "KColorNoise.h"
#include "KDebug.h"

namespace {

inline KInt32 Limit(KInt32 v, KInt32 lim)
{
    return v > lim ? lim : (v < -lim ? -lim : v);
}

}  // namespace

void ColorDQRow(KInt16* row, KInt32 columns, const KFixedMatrix3x3& matrix, const KColorLUT& lut, KInt32 offsetR,
                KInt32 offsetG, KInt32 offsetB)
{
    // Offsets come from EstimateColorOffset and are small; the bound keeps the 32-bit differences exact.
    constexpr KInt32 kOffsetBound = 1 << 30;
    KASSERT(offsetR >= -kOffsetBound && offsetR <= kOffsetBound && offsetG >= -kOffsetBound &&
            offsetG <= kOffsetBound && offsetB >= -kOffsetBound && offsetB <= kOffsetBound);

    const KInt32 lim = static_cast<KInt32>(lut.m_Size / 2) - 1;
    const KUInt32 mask = lut.m_Mask;
    const KInt16* const tR = lut.m_pData[0];
    const KInt16* const tG = lut.m_pData[1];
    const KInt16* const tB = lut.m_pData[2];
    // The products are formed in 64 bits: a gain above 1 in the matrix takes them past 32.
    KInt64 m[9];
    for (int i = 0; i < 9; ++i)
        m[i] = matrix[i];

    for (KInt32 x = 0; x < columns; ++x, row += 3) {
        const KInt32 dR = row[0] - offsetR, dG = row[1] - offsetG, dB = row[2] - offsetB;
        // Per-channel coring, then the chroma coring of what differs from the weighted mean.
        const KInt32 rR = dR - tR[static_cast<KUInt32>(Limit(dR, lim)) & mask];
        const KInt32 rG = dG - tG[static_cast<KUInt32>(Limit(dG, lim)) & mask];
        const KInt32 rB = dB - tB[static_cast<KUInt32>(Limit(dB, lim)) & mask];
        // The sum of four differences can pass 32 bits when the offsets are near their bound; the mean cannot.
        const KInt32 mean = static_cast<KInt32>((KInt64{rR} + 2 * KInt64{rG} + rB) >> 2);
        const KInt64 fR = rR - tR[static_cast<KUInt32>(Limit(rR - mean, lim)) & mask];
        const KInt64 fG = rG - tG[static_cast<KUInt32>(Limit(rG - mean, lim)) & mask];
        const KInt64 fB = rB - tB[static_cast<KUInt32>(Limit(rB - mean, lim)) & mask];
        for (int i = 0; i < 3; ++i) {
            KInt64 v = (m[i * 3] * fR + m[i * 3 + 1] * fG + m[i * 3 + 2] * fB + 4096) >> 13;
            v = v < kColorDQLowest ? kColorDQLowest : (v > kColorDQHighest ? kColorDQHighest : v);
            row[i] = static_cast<KInt16>(v);
        }
    }
}
