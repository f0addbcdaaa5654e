#include <algorithm>
#include <initializer_list>

#include "KHighlights.h"
#include "KSaturate16.h"

void NeutralizeHighlightsRow(KInt16* row, const KInt16* /*above*/, const KInt16* /*below*/, KInt32 columns,
                             const KInt32 thresholds[3], const KInt32 clipLevels[3], const KInt32 weights[3])
{
    // Green's span between threshold and clip level sets how fast the pull grows.
    const KInt64 span = KInt64{clipLevels[1]} - thresholds[1];
    if (span < 100)
        return;
    const KInt64 k = (KInt64{1} << 28) / span;
    const KInt64 t0 = thresholds[0], t1 = thresholds[1], t2 = thresholds[2];
    const KInt64 w0 = weights[0], w1 = weights[1], w2 = weights[2];

    for (KInt32 x = 0; x < columns; ++x, row += 3) {
        const KInt64 v0 = row[0], v1 = row[1], v2 = row[2];
        const KInt64 e = std::min({v0 - t0, v1 - t1, v2 - t2});
        if (e <= 0)
            continue;

        // Toward the neutral of the pixel's own sum. Making each negative delta zero in turn, by subtracting it
        // from all three, comes to subtracting the least of 0 and the three deltas: only channels below the
        // neutral rise, and none falls.
        const KInt64 sum = v0 + v1 + v2;
        KInt64 d0 = ((w0 * sum) >> 12) - v0, d1 = ((w1 * sum) >> 12) - v1, d2 = ((w2 * sum) >> 12) - v2;
        const KInt64 lift = std::min({KInt64{0}, d0, d1, d2});
        d0 -= lift;
        d1 -= lift;
        d2 -= lift;

        // Beyond the span the whole delta; below it w = 16384 x (1 - (1 - e / span)^2)^2 in 14 fractional bits.
        KInt64 w = 16384;
        if (e < span) {
            const KInt64 a = 16384 - ((e * k) >> 14);
            const KInt64 b = 16384 - ((a * a) >> 14);
            w = (b * b) >> 14;
        }
        row[0] = KSaturate16(v0 + ((w * d0) >> 14));
        row[1] = KSaturate16(v1 + ((w * d1) >> 14));
        row[2] = KSaturate16(v2 + ((w * d2) >> 14));
    }
}
