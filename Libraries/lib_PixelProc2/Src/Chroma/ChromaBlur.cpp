// The coarse chroma pass: a 4 x 4-reduced image smoothed upward once, then per row horizontally and downward.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "KChromaBlur.h"
#include "KChromaCoring.h"
#include "KDebug.h"
#include "KPickKernel.h"
#include "KRgbLanes.h"
#include "KRounding.h"

namespace {

// Gain of a first-order recursive filter, trunc((1 - exp(-step / spread)) x unit + 0.5), kept within
// [0, unit] so that a nonsensical spread cannot make the recursion grow.
KInt64 RecursiveGain(double step, double spread, KInt32 unit)
{
    const KInt64 k = KRoundToInt32((1.0 - std::exp(-step / spread)) * unit);
    return std::clamp<KInt64>(k, 0, unit);
}

// The vertical row follows the horizontal one down one image row: n samples.
void FollowDown(KInt64 k2, const KInt16* horizontal, KInt16* vertical, ptrdiff_t n)
{
    const KInt64 m2 = 0x10000 - k2;
    for (ptrdiff_t k = 0; k < n; ++k)
        vertical[k] = KSaturate16((k2 * horizontal[k] + m2 * vertical[k]) >> 16);
}
#if K_HAVE_AVX2_BUILD
// In 32 bits, which the compiler vectorises: with k2 and m2 in [0, 65536] and their sum 65536, each product
// and the sum lie in [-2^31, 2^31 - 65536], and the result in the 16-bit range.
K_AVX2 void FollowDownAvx2(KInt64 gain, const KInt16* horizontal, KInt16* vertical, ptrdiff_t n)
{
    const auto k2 = static_cast<KInt32>(gain), m2 = 0x10000 - k2;
    for (ptrdiff_t k = 0; k < n; ++k)
        vertical[k] = static_cast<KInt16>((k2 * horizontal[k] + m2 * vertical[k]) >> 16);
}
#endif

// The row's pixels from sample k to n brought toward the vertical row: its colour at the pixel's brightness,
// cored.
void BringTowardFrom(ptrdiff_t k, KInt16* row, const KInt16* vertical, ptrdiff_t n, KInt32 spatial,
                     const KChromaCoring& coring)
{
    const KInt64 sp = spatial;
    const KInt64 inv = 0x10000 / sp;
    for (; k < n; k += 3) {
        const KInt32 xR = row[k], xG = row[k + 1], xB = row[k + 2];
        const KInt64 b0[3] = {vertical[k], vertical[k + 1], vertical[k + 2]};
        const KInt64 xs = KInt64{xR} + xG + xB + sp;
        const KInt64 bs = b0[0] + b0[1] + b0[2] + sp;
        KInt64 b[3] = {0, 0, 0};
        if (xs >= 0) {
            const KInt64 w = bs > sp ? (xs << 16) / bs : xs * inv;
            for (int c = 0; c < 3; ++c)
                b[c] = (b0[c] * w + 32768) >> 16;
        }
        coring.Apply(row + k, xR, xG, xB, b[0], b[1], b[2]);
    }
}
void BringToward(KInt16* row, const KInt16* vertical, ptrdiff_t n, KInt32 spatial, const KChromaCoring& coring)
{
    BringTowardFrom(0, row, vertical, n, spatial, coring);
}
#if K_HAVE_AVX2_BUILD
K_AVX2 void BringTowardAvx2(KInt16* row, const KInt16* vertical, ptrdiff_t n, KInt32 spatial,
                            const KChromaCoring& coring)
{
    // The weight (xs << 16) / (b's sum + spatial) when b's sum is above 0, else xs x inv.
    const KBrightnessMatch match{_mm256_set1_pd(spatial), _mm256_set1_pd(spatial),
                                 _mm256_set1_pd(0x10000 / spatial), _mm256_set1_pd(coring.Limit())};
    ptrdiff_t k = 0;
    for (; k + 24 <= n; k += 24) {
        __m256i x[3], v[3], d[3];
        KLoadRgb8(row + k, x);
        KLoadRgb8(vertical + k, v);
        KMatchBrightness(match, x, v, d);
        KCoreAndStore(row + k, x, d, coring.Tables(), coring.Mask());
    }
    BringTowardFrom(k, row, vertical, n, spatial, coring);
}
#endif

}  // namespace

void ChromaBlurReduce(const KPixmapTemplate<KPixelClass48SRGB>& image, double spread, KInt16* reduced)
{
    const KInt32 nrows = image.GetHeight(), ncols = image.GetWidth();
    if (nrows <= 0 || ncols <= 0)
        return;
    const KInt32 nbr = (nrows + 3) / 4, nbc = (ncols + 3) / 4;
    // About 0.55 of each new block mean (k x 16 / 65536) and the rest from the block below.
    const KInt64 k = RecursiveGain(4.0, spread, 4096);
    const KInt64 m = 0x10000 - 16 * k;

    for (KInt32 bi = nbr - 1; bi >= 0; --bi) {
        const KInt32 irow0 = 4 * bi;
        if (bi == nbr - 1)
            KASSERT(irow0 < nrows);
        const KInt16* rows[4];
        for (int i = 0; i < 4; ++i)
            rows[i] = reinterpret_cast<const KInt16*>(image.GetRow(std::min(irow0 + i, nrows - 1)));
        KInt16* out = reduced + 3 * static_cast<ptrdiff_t>(bi) * nbc;
        const KInt16* below = out + 3 * static_cast<ptrdiff_t>(nbc);
        const KInt32 icol0 = 4 * (nbc - 1);
        KASSERT(icol0 < ncols);
        for (KInt32 bj = 0; bj < nbc; ++bj) {
            ptrdiff_t cols[4];
            for (int i = 0; i < 4; ++i)
                cols[i] = 3 * static_cast<ptrdiff_t>(std::min(4 * bj + i, ncols - 1));
            for (int c = 0; c < 3; ++c) {
                KInt32 sum = 0;
                for (const KInt16* p : rows)
                    sum += p[cols[0] + c] + p[cols[1] + c] + p[cols[2] + c] + p[cols[3] + c];
                const KInt64 upward = bi == nbr - 1 ? 0 : m * below[3 * bj + c];
                out[3 * bj + c] = KSaturate16((k * sum + upward) >> 16);
            }
        }
    }
}

void ChromaBlurCoarseHorizontal(KInt32 blockRow, double horizontalSpread, const KInt16* reduced,
                                KInt16* horizontal, KInt32 columns)
{
    if (columns <= 0)
        return;
    // Right to left over the blocks, four steps per block, then left to right over the columns.
    const ptrdiff_t n = 3 * static_cast<ptrdiff_t>(columns);
    const KInt64 k1 = RecursiveGain(1.0, horizontalSpread, 0x10000);
    const KInt64 m1 = 0x10000 - k1;
    const KInt32 nbc = (columns + 3) / 4;
    const KInt16* blocks = reduced + 3 * static_cast<ptrdiff_t>(blockRow) * nbc;
    const KInt32 ncols = columns, icol0 = 4 * (nbc - 1);
    KASSERT(icol0 < ncols);
    for (int c = 0; c < 3; ++c) {
        KInt64 v = 0;
        for (KInt32 bj = nbc - 1; bj >= 0; --bj) {
            const KInt64 a = k1 * blocks[3 * bj + c];
            for (KInt32 i = 3; i >= 0; --i) {
                v = (a + m1 * v) >> 16;
                horizontal[3 * static_cast<ptrdiff_t>(std::min(4 * bj + i, columns - 1)) + c] = KSaturate16(v);
            }
        }
        v = 0;
        for (ptrdiff_t k = c; k < n; k += 3) {
            v = (k1 * horizontal[k] + m1 * v) >> 16;
            horizontal[k] = KSaturate16(v);
        }
    }
}

bool ChromaBlurCoarseRuns(const double limits[3], KInt32 spatial)
{
    return ChromaPassRuns("ChromaBlurCoarseRow", limits, spatial, true);
}

void ChromaBlurCoarseVertical(double verticalSpread, const KInt16* horizontal, KInt16* vertical, KInt32 columns)
{
    const KInt64 k2 = RecursiveGain(1.0, verticalSpread, 0x10000);
    K_PICK_KERNEL(FollowDown)(k2, horizontal, vertical, 3 * static_cast<ptrdiff_t>(std::max(columns, 0)));
}

void ChromaBlurCoarseApply(KInt16* row, KInt32 r, const KInt16* vertical, const double limits[3], KInt32 spatial,
                           KInt32 columns, const KColorLUT& lut)
{
    if (columns <= 0 || !ChromaPassRuns("ChromaBlurCoarseRow", limits, spatial, r == 0))
        return;
    K_PICK_KERNEL(BringToward)(row, vertical, 3 * static_cast<ptrdiff_t>(columns), spatial, KChromaCoring(lut));
}

void ChromaBlurCoarseRow(KInt16* row, KInt32 r, double horizontalSpread, double verticalSpread,
                         const double limits[3], KInt32 spatial, const KInt16* reduced, KInt16* work, KInt32 columns,
                         const KColorLUT& lut)
{
    if (columns <= 0 || !ChromaPassRuns("ChromaBlurCoarseRow", limits, spatial, r == 0))
        return;
    const ptrdiff_t n = 3 * static_cast<ptrdiff_t>(columns);
    KInt16* const vertical = work;
    KInt16* const horizontal = work + n;
    if (r % 4 == 0) {
        if (r == 0)
            std::memset(vertical, 0, static_cast<size_t>(n) * sizeof(KInt16));
        ChromaBlurCoarseHorizontal(r >> 2, horizontalSpread, reduced, horizontal, columns);
    }
    // The vertical row follows the horizontal one downward from row to row.
    ChromaBlurCoarseVertical(verticalSpread, horizontal, vertical, columns);
    ChromaBlurCoarseApply(row, r, vertical, limits, spatial, columns, lut);
}
