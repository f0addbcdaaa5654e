#include <algorithm>
#include <cmath>

#include "KDebug.h"
#include "KRounding.h"
#include "KRowCorrections.h"

namespace {

// Working values in 11 fractional bits.
constexpr double kShieldUnit = 2048.0;

KColorTriple Lerp(const KColorTriple& a, const KColorTriple& b, double t)
{
    return {a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t};
}

double Median3(double a, double b, double c)
{
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// The mean of the shield values without the smallest and the largest, in working units. A value is the pixel
// in 11 fractional bits plus the column filter on the difference to the pixel before it, less the drift.
KColorTriple ShieldLevel(const KInt16* row, KInt64 start, KInt64 end, const KInt64 filter[3], const KInt64 drift[3])
{
    KColorTriple level;
    for (int c = 0; c < 3; ++c) {
        KInt64 previous = row[(start - 1) * 3 + c];
        KInt64 sum = 0, smallest = KInt64(1) << 30, largest = -(KInt64(1) << 30);
        for (KInt64 x = start; x <= end; ++x) {
            const KInt64 value = row[x * 3 + c];
            const KInt64 v = value * 2048 + (value - previous) * filter[c] - drift[c];
            previous = value;
            sum += v;
            smallest = std::min(smallest, v);
            largest = std::max(largest, v);
        }
        level[c] = double(sum - smallest - largest) / (double(end - start - 1) * kShieldUnit);
    }
    return level;
}

bool BelowLimit(const KColorTriple& l)
{
    return l[0] < 100.0 && l[1] < 100.0 && l[2] < 100.0;
}

// Whether the shields and the active area allow levels: ranges of at least four columns inside the row with a
// column before each, an active area of at least 10 rows inside the image whose margins are no larger than it.
bool UsableShields(const KPixmapTemplate<KPixelClass48SRGB>* image, KInt32 rows, KInt64 ls, KInt64 le, KInt64 rs,
                   KInt64 re, const KRect& active)
{
    if (!image || !image->GetData() || rows > image->GetHeight())
        return false;
    const KInt64 width = image->GetWidth();
    if (le - ls - 1 < 2 || re - rs - 1 < 2 || ls < 1 || rs < 1 || le >= width || re >= width)
        return false;
    const KInt64 top = active.top, bottom = active.bottom, height = bottom - top;
    return height >= 10 && top >= 0 && bottom <= rows && top <= height && rows - bottom <= height;
}

}  // namespace

void CalculateDarkShieldLevels(KColorTriple& base, KColorTriple* levels,
                               const KPixmapTemplate<KPixelClass48SRGB>* image, KInt32 rows, KUInt32 leftStart,
                               KUInt32 leftEnd, KUInt32 rightStart, KUInt32 rightEnd, const KColorTriple& cf,
                               const KDarkDrift& drift, double rowGain, double rowScale, const KRect& activeArea)
{
    base = {0, 0, 0};
    if (rows <= 0 || !levels)
        return;
    std::fill(levels, levels + rows, KColorTriple{0, 0, 0});
    if (!UsableShields(image, rows, leftStart, leftEnd, rightStart, rightEnd, activeArea)) {
        DebugTrace("CalculateDarkShieldLevels: shield columns {%u, %u, %u, %u} or active rows %d..%d unusable: no "
                   "levels.\n",
                   leftStart, leftEnd, rightStart, rightEnd, activeArea.top, activeArea.bottom);
        return;
    }

    KInt64 filter[3];
    for (int c = 0; c < 3; ++c)
        filter[c] = KTruncToInt32(cf[c] * kShieldUnit);

    // Rows outside the active area are copied from inside it below, so only the active rows are measured.
    const KInt32 top = activeArea.top, bottom = activeArea.bottom;
    for (KInt32 r = top; r < bottom; ++r) {
        const KRowDrift d = InterpolateDarkDrift(drift, r, rows);
        KInt64 driftLeft[3], driftRight[3];
        for (int c = 0; c < 3; ++c) {
            const KInt64 m = KTruncToInt32(d.m_Mean[c] * kShieldUnit);
            const KInt64 half = KTruncToInt32(d.m_Slope[c] / 2 * kShieldUnit);
            driftLeft[c] = m - half;
            driftRight[c] = m + half;
        }
        const KInt16* p = reinterpret_cast<const KInt16*>(image->GetRow(r));
        const KColorTriple left = ShieldLevel(p, leftStart, leftEnd, filter, driftLeft);
        const KColorTriple right = ShieldLevel(p, rightStart, rightEnd, filter, driftRight);
        const bool useLeft = BelowLimit(left), useRight = BelowLimit(right);
        KColorTriple& level = levels[r];
        for (int c = 0; c < 3; ++c)
            level[c] = useLeft && useRight ? (left[c] + 3 * right[c]) / 4 : useLeft ? left[c] : useRight ? right[c] : 0.0;
    }
    for (KInt32 i = 0; i < top; ++i)
        levels[i] = levels[top + i];
    for (KInt32 i = bottom; i < rows; ++i)
        levels[i] = levels[i - (rows - bottom)];

    // Median of three; the first and the last row keep their levels.
    KColorTriple previous = levels[0];
    for (KInt32 i = 1; i + 1 < rows; ++i) {
        const KColorTriple current = levels[i];
        for (int c = 0; c < 3; ++c)
            levels[i][c] = Median3(previous[c], current[c], levels[i + 1][c]);
        previous = current;
    }

    const double k = 1.0 - std::exp(-1.0 / rowScale);
    KColorTriple e = levels[0], sum = {0, 0, 0};
    for (KInt32 i = 0; i < rows; ++i) {
        e = Lerp(e, levels[i], k);
        levels[i] = e;
        for (int c = 0; c < 3; ++c)
            sum[c] += e[c];
    }
    const KColorTriple mean = {sum[0] / rows, sum[1] / rows, sum[2] / rows};
    // The backward pass starts from the last row's centred level, as the forward pass starts from the first.
    for (int c = 0; c < 3; ++c)
        e[c] = levels[rows - 1][c] - mean[c];
    for (KInt32 i = rows; i-- > 0;) {
        for (int c = 0; c < 3; ++c) {
            e[c] = e[c] + k * ((levels[i][c] - mean[c]) - e[c]);
            levels[i][c] = rowGain * e[c];
        }
    }
    base = mean;
}
