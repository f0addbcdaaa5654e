#include "KRedSharpen.h"

#include <algorithm>

namespace {

// 1-4-6-4-1 over the red values (every third sample) with rounding; edge pixels repeat outwards, which gives
// the edge formulas (11, 4, 1) and (5, 6, 4, 1).
void SmoothRed(const KInt16* in, KInt32 n, KInt32* out)
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

}  // namespace

void RedSharpenRow(const KInt16* input, KInt16* output, KInt32 amount, KRedSharpenRing& ring, KInt32 columns,
                   KInt32 left, KInt32 right)
{
    if (columns <= 0)
        return;
    KInt32* const* s = ring.m_pSlot;
    SmoothRed(input, columns, s[4]);

    if (output && columns >= 5) {
        const KInt64 centreWeight = KInt64(16384) - left - right;
        const KInt64 k = static_cast<KUInt32>(amount) * 2u / 3u;
        KInt64 l = s[2][0];
        KInt64 c = s[2][1];
        for (KInt32 i = 1; i < columns - 1; ++i) {
            const KInt32 j = i + 1;
            const KInt64 v = (KInt64(s[0][j]) + 4 * KInt64(s[1][j]) + 6 * KInt64(s[2][j]) + 4 * KInt64(s[3][j]) +
                              s[4][j] + 8) >> 4;
            const KInt64 blur = (centreWeight * c + right * v + left * l) >> 14;
            const KInt64 red = output[3 * i];
            const KInt64 d = ((blur - red) * k) >> 9;
            output[3 * i] = static_cast<KInt16>(std::clamp<KInt64>(red - d, -32768, 32000));
            l = c;
            c = v;
        }
    }

    KInt32* oldest = ring.m_pSlot[0];
    for (int i = 0; i < 4; ++i)
        ring.m_pSlot[i] = ring.m_pSlot[i + 1];
    ring.m_pSlot[4] = oldest;
}
