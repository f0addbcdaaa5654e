#include <algorithm>

#include "KHighlights.h"
#include "KRounding.h"

void CalculateHighlightLimits(const double neutral[3], const KInt32 saturation[3], KInt32 thresholds[3],
                              KInt32 clipLevels[3], KInt32 weights[3])
{
    // The saturation levels raised by an eighth, scaled down to the neutral's proportions.
    double f = 0.0;
    for (int c = 0; c < 3; ++c) {
        const KInt64 raised = KInt64{saturation[c]} + (saturation[c] >> 3);
        const double ratio = static_cast<double>(raised) / neutral[c];
        if (c == 0 || ratio < f)
            f = ratio;
    }
    KInt64 sum = 0;
    for (int c = 0; c < 3; ++c) {
        clipLevels[c] = KRoundToInt32(f * neutral[c]);
        sum += clipLevels[c];
    }
    for (int c = 0; c < 3; ++c)
        weights[c] = sum == 0 ? 0 : KRoundToInt32(static_cast<double>(clipLevels[c]) * 4096.0 / static_cast<double>(sum));

    const KInt64 q = (2 * KInt64{std::min({clipLevels[0], clipLevels[1], clipLevels[2]})}) / 3;
    for (int c = 0; c < 3; ++c)
        thresholds[c] = static_cast<KInt32>(std::clamp<KInt64>(clipLevels[c] - q, INT32_MIN, INT32_MAX));
}
