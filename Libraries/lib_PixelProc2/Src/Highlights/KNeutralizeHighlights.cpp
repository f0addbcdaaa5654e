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

    for (KInt32 x = 0; x < columns; ++x, row += 3) {
        const KInt64 v[3] = {row[0], row[1], row[2]};
        KInt64 e = v[0] - t0;
        if (v[1] - t1 < e)
            e = v[1] - t1;
        if (v[2] - t2 < e)
            e = v[2] - t2;
        if (e <= 0)
            continue;

        // Toward the neutral of the pixel's own sum, with every delta made non-negative keeping their differences.
        const KInt64 sum = v[0] + v[1] + v[2];
        KInt64 delta[3];
        for (int c = 0; c < 3; ++c)
            delta[c] = ((weights[c] * sum) >> 12) - v[c];
        for (int c = 0; c < 3; ++c)
            if (delta[c] < 0) {
                const KInt64 lift = delta[c];
                for (KInt64& d : delta)
                    d -= lift;
            }

        if (e >= span) {
            for (int c = 0; c < 3; ++c)
                row[c] = KSaturate16(v[c] + delta[c]);
            continue;
        }
        // w = 16384 x (1 - (1 - e / span)^2)^2 in 14 fractional bits.
        const KInt64 a = 16384 - ((e * k) >> 14);
        const KInt64 b = 16384 - ((a * a) >> 14);
        const KInt64 w = (b * b) >> 14;
        for (int c = 0; c < 3; ++c)
            row[c] = KSaturate16(v[c] + ((w * delta[c]) >> 14));
    }
}
