#include <cstdlib>

#include "KColorNoise.h"
#include "KDebug.h"
#include "KPickKernel.h"
#include "KRgbLanes.h"

namespace {

inline KInt32 Limit(KInt32 v, KInt32 lim)
{
    return v > lim ? lim : (v < -lim ? -lim : v);
}

// Offsets come from EstimateColorOffset and are small; the bound keeps the 32-bit differences exact.
constexpr KInt32 kOffsetBound = 1 << 30;

void ColorDQPixels(KInt32 x, KInt16* row, KInt32 columns, const KFixedMatrix3x3& matrix, const KColorLUT& lut,
                   const KInt32 offset[3])
{
    const KInt32 lim = static_cast<KInt32>(lut.m_Size / 2) - 1;
    const KUInt32 mask = lut.m_Mask;
    const KInt16* const tR = lut.m_pData[0];
    const KInt16* const tG = lut.m_pData[1];
    const KInt16* const tB = lut.m_pData[2];
    // The products are formed in 64 bits: a gain above 1 in the matrix takes them past 32.
    KInt64 m[9];
    for (int i = 0; i < 9; ++i)
        m[i] = matrix[i];

    for (row += 3 * static_cast<ptrdiff_t>(x); x < columns; ++x, row += 3) {
        const KInt32 dR = row[0] - offset[0], dG = row[1] - offset[1], dB = row[2] - offset[2];
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

void ColorDQ(KInt16* row, KInt32 columns, const KFixedMatrix3x3& matrix, const KColorLUT& lut, const KInt32 offset[3])
{
    ColorDQPixels(0, row, columns, matrix, lut, offset);
}

#if K_HAVE_AVX2_BUILD
// Offsets within this bound keep every difference below 2^19 in 32 bits and every matrix product, in doubles,
// below 2^50, so exact; larger ones take the scalar build.
constexpr KInt32 kVectorOffsetBound = 1 << 16;

K_AVX2 void ColorDQAvx2(KInt16* row, KInt32 columns, const KFixedMatrix3x3& matrix, const KColorLUT& lut,
                        const KInt32 offset[3])
{
    KInt32 x = 0;
    if (std::abs(offset[0]) <= kVectorOffsetBound && std::abs(offset[1]) <= kVectorOffsetBound &&
        std::abs(offset[2]) <= kVectorOffsetBound) {
        const __m256i lim = _mm256_set1_epi32(static_cast<KInt32>(lut.m_Size / 2) - 1);
        __m256d m[9];
        for (int i = 0; i < 9; ++i)
            m[i] = _mm256_set1_pd(matrix[i]);
        const __m256d half = _mm256_set1_pd(4096.0), scale = _mm256_set1_pd(1.0 / 8192);
        const __m256d lowest = _mm256_set1_pd(kColorDQLowest), highest = _mm256_set1_pd(kColorDQHighest);
        for (; x + 8 <= columns; x += 8) {
            KInt16* p = row + 3 * static_cast<ptrdiff_t>(x);
            __m256i r[3], f[3];
            KLoadRgb8(p, r);
            for (int c = 0; c < 3; ++c) {
                const __m256i d = _mm256_sub_epi32(r[c], _mm256_set1_epi32(offset[c]));
                r[c] = _mm256_sub_epi32(d, KLookup(lut.m_pData[c], KLimit(d, lim), lut.m_Mask));
            }
            const __m256i mean = _mm256_srai_epi32(
                _mm256_add_epi32(_mm256_add_epi32(r[0], _mm256_slli_epi32(r[1], 1)), r[2]), 2);
            for (int c = 0; c < 3; ++c)
                f[c] = _mm256_sub_epi32(
                    r[c], KLookup(lut.m_pData[c], KLimit(_mm256_sub_epi32(r[c], mean), lim), lut.m_Mask));
            __m128i out[3][2];
            for (int h = 0; h < 2; ++h) {
                __m256d fd[3];
                for (int c = 0; c < 3; ++c)
                    fd[c] = _mm256_cvtepi32_pd(h == 0 ? _mm256_castsi256_si128(f[c]) : _mm256_extracti128_si256(f[c], 1));
                for (int i = 0; i < 3; ++i) {
                    const __m256d sum = _mm256_add_pd(
                        _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(m[3 * i], fd[0]), _mm256_mul_pd(m[3 * i + 1], fd[1])),
                                      _mm256_mul_pd(m[3 * i + 2], fd[2])),
                        half);
                    const __m256d v = _mm256_min_pd(_mm256_max_pd(_mm256_floor_pd(_mm256_mul_pd(sum, scale)), lowest), highest);
                    out[i][h] = _mm256_cvttpd_epi32(v);
                }
            }
            const __m256i y[3] = {_mm256_set_m128i(out[0][1], out[0][0]), _mm256_set_m128i(out[1][1], out[1][0]),
                                  _mm256_set_m128i(out[2][1], out[2][0])};
            KStoreRgb8(p, y);
        }
    }
    ColorDQPixels(x, row, columns, matrix, lut, offset);
}
#endif

}  // namespace

void ColorDQRow(KInt16* row, KInt32 columns, const KFixedMatrix3x3& matrix, const KColorLUT& lut, KInt32 offsetR,
                KInt32 offsetG, KInt32 offsetB)
{
    KASSERT(offsetR >= -kOffsetBound && offsetR <= kOffsetBound && offsetG >= -kOffsetBound &&
            offsetG <= kOffsetBound && offsetB >= -kOffsetBound && offsetB <= kOffsetBound);
    const KInt32 offset[3] = {offsetR, offsetG, offsetB};
    K_PICK_KERNEL(ColorDQ)(row, columns, matrix, lut, offset);
}
