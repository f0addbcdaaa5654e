#include "KRedSharpen.h"

#include <algorithm>

#include "KPickKernel.h"

namespace {

// 1-4-6-4-1 over the red values (every third sample) with rounding; edge pixels repeat outwards, which gives
// the edge formulas (11, 4, 1) and (5, 6, 4, 1).
K_INLINE_BODY void SmoothRedBody(const KInt16* in, KInt32 n, KInt32* out)
{
    auto red = [in](KInt32 i) { return KInt32(in[3 * i]); };
    if (n < 5) {
        // Only rows this narrow need clamped indices; nothing outside the row is read.
        auto at = [&](KInt32 i) { return red(std::clamp(i, 0, n - 1)); };
        for (KInt32 i = 0; i < n; ++i)
            out[i] = (at(i - 2) + 4 * at(i - 1) + 6 * at(i) + 4 * at(i + 1) + at(i + 2) + 8) >> 4;
        return;
    }
    out[0] = (11 * red(0) + 4 * red(1) + red(2) + 8) >> 4;
    out[1] = (5 * red(0) + 6 * red(1) + 4 * red(2) + red(3) + 8) >> 4;
    for (KInt32 i = 2; i < n - 2; ++i)
        out[i] = (red(i - 2) + 4 * red(i - 1) + 6 * red(i) + 4 * red(i + 1) + red(i + 2) + 8) >> 4;
    out[n - 2] = (5 * red(n - 1) + 6 * red(n - 2) + 4 * red(n - 3) + red(n - 4) + 8) >> 4;
    out[n - 1] = (11 * red(n - 1) + 4 * red(n - 2) + red(n - 3) + 8) >> 4;
}

// Sharpens the red of columns 1 .. n - 2 of out. The blend at column i weighs G[i - 1], G[i] and G[i + 1], where
// G is the vertically smoothed window V except for its first two columns, which come from the centre row's
// horizontal smoothing alone (the walk that carries the left and centre values starts from those).
K_INLINE_BODY void SharpenRedBody(KInt16* out, KInt32 n, const KInt32* const* s, KInt32 amount, KInt32 left,
                                  KInt32 right)
{
    const KInt64 centreWeight = KInt64(16384) - left - right;
    const KInt64 k = static_cast<KUInt32>(amount) * 2u / 3u;
    constexpr KInt32 kChunk = 128;
    alignas(32) KInt32 g[kChunk + 2];  // G[i0 - 1 .. i0 + m]
    for (KInt32 i0 = 1; i0 < n - 1; i0 += kChunk) {
        const KInt32 m = std::min(kChunk, n - 1 - i0);
        for (KInt32 t = 0; t < m + 2; ++t) {
            const KInt32 j = i0 - 1 + t;
            // In wrapping arithmetic: the buffers are the caller's.
            const KUInt32 sum = KUInt32(s[0][j]) + 4u * KUInt32(s[1][j]) + 6u * KUInt32(s[2][j]) +
                                4u * KUInt32(s[3][j]) + KUInt32(s[4][j]) + 8u;
            g[t] = static_cast<KInt32>(sum) >> 4;
        }
        if (i0 == 1) {
            g[0] = s[2][0];
            g[1] = s[2][1];
        }
        KInt16* red = out + 3 * static_cast<size_t>(i0);
        for (KInt32 t = 0; t < m; ++t) {
            const KInt64 blur = (centreWeight * g[t + 1] + right * KInt64(g[t + 2]) + left * KInt64(g[t])) >> 14;
            const KInt64 r = red[3 * t];
            const KInt64 d = ((blur - r) * k) >> 9;
            red[3 * t] = static_cast<KInt16>(std::clamp<KInt64>(r - d, -32768, 32000));
        }
    }
}

void SmoothRed(const KInt16* in, KInt32 n, KInt32* out)
{
    SmoothRedBody(in, n, out);
}
void SharpenRed(KInt16* out, KInt32 n, const KInt32* const* s, KInt32 amount, KInt32 left, KInt32 right)
{
    SharpenRedBody(out, n, s, amount, left, right);
}

#if K_HAVE_AVX2_BUILD
K_AVX2 void SmoothRedAvx2(const KInt16* in, KInt32 n, KInt32* out)
{
    SmoothRedBody(in, n, out);
}
K_AVX2 void SharpenRedAvx2(KInt16* out, KInt32 n, const KInt32* const* s, KInt32 amount, KInt32 left,
                           KInt32 right)
{
    SharpenRedBody(out, n, s, amount, left, right);
}
#endif

}  // namespace

void RedSharpenRow(const KInt16* input, KInt16* output, KInt32 amount, KRedSharpenRing& ring, KInt32 columns,
                   KInt32 left, KInt32 right)
{
    if (columns <= 0)
        return;
    K_PICK_KERNEL(SmoothRed)(input, columns, ring.m_pSlot[4]);
    if (output && columns >= 5)
        K_PICK_KERNEL(SharpenRed)(output, columns, ring.m_pSlot, amount, left, right);

    KInt32* oldest = ring.m_pSlot[0];
    for (int i = 0; i < 4; ++i)
        ring.m_pSlot[i] = ring.m_pSlot[i + 1];
    ring.m_pSlot[4] = oldest;
}
