#include <algorithm>
#include <array>

#include "KColorNoise.h"
#include "KRounding.h"

namespace {

constexpr int kMaxHalfRange = 200;

// Every fourth row and column of the central part of image (a twentieth left out at each side).
template <class Visit>
void ForEachSample(const KPixmapTemplate<KPixelClass48SRGB>& image, Visit visit)
{
    const KInt32 w = image.GetWidth(), h = image.GetHeight();
    for (KInt32 y = h / 20; y < h - h / 20; y += 4) {
        const KInt16* row = reinterpret_cast<const KInt16*>(image.GetRow(y));
        for (KInt32 x = w / 20; x < w - w / 20; x += 4)
            visit(row + 3 * static_cast<ptrdiff_t>(x));
    }
}

}  // namespace

void EstimateColorOffset(KInt32 offset[3], const KPixmapTemplate<KPixelClass48SRGB>& image, double t0, double t1,
                         double t2)
{
    offset[0] = offset[1] = offset[2] = 0;
    const KInt32 w = image.GetWidth(), h = image.GetHeight();
    if (w <= 0 || h <= 0)
        return;
    const double target = static_cast<double>(w - w / 10) * static_cast<double>(h - h / 10) * 0.0003125;
    if (target < 10.0)
        return;
    const KInt64 wanted = static_cast<KInt64>(target);

    // With limits that add up to less than a quarter there is no range to look in.
    const KInt32 half = std::min(KTruncToInt32((t0 + t1 + t2) * 4.0), kMaxHalfRange);
    if (half < 1)
        return;
    const KInt32 bins = 2 * half - 1;

    // Histogram of red plus green, bin s + half - 1.
    std::array<KInt64, 2 * kMaxHalfRange - 1> histogram{};
    ForEachSample(image, [&](const KInt16* p) {
        const KInt32 bin = p[0] + p[1] + half - 1;
        if (bin >= 0 && bin < bins)
            ++histogram[static_cast<size_t>(bin)];
    });

    // The last bin from 1 on whose running count is still below the wanted count.
    KInt32 last = 0;
    KInt64 running = histogram[0];
    for (KInt32 i = 1; i < bins; ++i) {
        running += histogram[static_cast<size_t>(i)];
        if (running >= wanted)
            break;
        last = i;
    }
    const KInt64 limit = static_cast<KInt64>(last) + KTruncToInt32(t0 + t1);

    KInt64 sum[3] = {0, 0, 0};
    KInt64 count = 0;
    ForEachSample(image, [&](const KInt16* p) {
        const KInt64 bin = p[0] + p[1] + half - 1;
        if (bin >= 1 && bin <= limit) {
            sum[0] += p[0];
            sum[1] += p[1];
            sum[2] += p[2];
            ++count;
        }
    });
    if (count < 11)
        return;
    const KInt64 mean = (sum[0] + sum[1] + sum[2]) >> 3;
    for (int c = 0; c < 3; ++c)
        offset[c] = static_cast<KInt32>((sum[c] - mean) / (count + 1000));
}
