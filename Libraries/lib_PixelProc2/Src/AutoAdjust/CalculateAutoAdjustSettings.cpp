#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <vector>

#include "KAutoAdjust.h"
#include "KDebug.h"
#include "KExceptionPixelProc2.h"
#include "KRounding.h"

namespace {

constexpr int kLevels = 7;
constexpr std::array<double, kLevels> kPercentiles = {0.005, 0.02, 0.1, 0.5, 0.9, 0.98, 0.995};
constexpr std::array<double, kLevels> kTargetLevels = {60, 75, 95, 150, 205, 235, 255};
constexpr std::array<double, kLevels> kExposureWeights = {0, 16, 16, 8, 4, 2, 1};
constexpr std::array<double, kLevels> kToneWeightsA = {0, -1, -1, 0, 1, 1, 0};
constexpr std::array<double, kLevels> kToneWeightsB = {4, -1, -1, 0, 1, 1, 0};
constexpr std::array<double, kLevels> kToneWeightsC = {0, 1, 1, 0, -1, -1, 4};
constexpr std::array<double, 3> kChannelFactors = {0.96, 1.0, 1.04};

constexpr int kColorBins = 32;
constexpr size_t kColorCells = kColorBins * kColorBins * kColorBins;

// Exposure gains beyond 4 stops' worth before the 0.7 power are limited to this.
const double kGainLimit = std::pow(4.0, 1.0 / 0.7);

// Clamped to [lo, hi] and rounded to tenths.
double Tenths(double x, double lo, double hi)
{
    const double y = x < lo ? lo : (x > hi ? hi : x);
    return std::floor(y * 10.0 + 0.5) * 0.1;
}

inline size_t Cell(int r, int g, int b)
{
    return (static_cast<size_t>(b) * kColorBins + static_cast<size_t>(g)) * kColorBins + static_cast<size_t>(r);
}

inline double LookUp(const KLUT& lut, double index)
{
    return lut[static_cast<KUInt32>(KTruncToInt32(index))];
}

template <class T>
std::vector<T> Allocate(size_t count)
{
    try {
        return std::vector<T>(count);
    } catch (const std::bad_alloc&) {
        throw KExceptionPixelProc2("CalculateAutoAdjustSettings: error mallocing memory");
    }
}

struct KResults {
    double exposure = 0.0, toneA = 0.0, toneB = 0.0, toneC = 0.0, spread = 0.0;
    double balance[3] = {1.0, 1.0, 1.0};
};

// Exposure and tones from the luma histogram.
void LumaStatistics(const std::vector<KUInt32>& histogram, const KLUT& cubeRoot, const KLUT& cube, KResults& out)
{
    const size_t bins = histogram.size();
    std::vector<double> cumulative = Allocate<double>(bins);
    double running = 0.0;
    for (size_t n = 0; n < bins; ++n)
        cumulative[n] = running += histogram[n];
    for (double& c : cumulative)
        c /= running;

    // Percentile bins, the search going on from the previous one.
    std::array<double, kLevels> linearTarget{}, linearLevel{};
    size_t index = 0;
    for (int i = 0; i < kLevels; ++i) {
        while (index + 1 < bins && cumulative[index] < kPercentiles[i])
            ++index;
        linearTarget[i] = LookUp(cube, 16.0 * kTargetLevels[i] + 0.5);
        linearLevel[i] = LookUp(cube, 16.0 * static_cast<double>(index) + 0.5);
    }

    double wanted = 0.0, have = 0.0;
    for (int i = 0; i < kLevels; ++i) {
        wanted += kExposureWeights[i] * linearTarget[i];
        have += kExposureWeights[i] * linearLevel[i];
    }
    double gain = have != 0.0 ? wanted / have : kGainLimit;
    if (!(gain >= 0.0 && gain <= kGainLimit))
        gain = kGainLimit;
    gain = std::pow(gain, 0.7);
    out.exposure = Tenths(std::log2(gain), -2.0, 2.0);

    // What is left to the targets once the gain is applied, in target-level units.
    double a = 0.0, b = 0.0, c = 0.0;
    for (int i = 0; i < kLevels; ++i) {
        const double level = LookUp(cubeRoot, gain * linearLevel[i] + 0.5) * 0.0625;
        const double d = kTargetLevels[i] - level;
        a += kToneWeightsA[i] * d;
        b += kToneWeightsB[i] * d;
        c += kToneWeightsC[i] * d;
    }
    out.toneA = Tenths(0.005 * a, -2.0, 2.0);
    out.toneB = Tenths(0.006 * b, -2.0, 2.0);
    out.toneC = Tenths(0.006 * c, -2.0, 2.0);
}

// Balance and colour spread from the colour histogram, which is smoothed in place.
void ColorStatistics(std::vector<KUInt32>& h, const KInt32 maxima[3], KResults& out)
{
    // Every cell with bins up to 30 becomes the sum of the 2 x 2 x 2 block it opens, one axis at a time.
    for (int b = 0; b < kColorBins - 1; ++b)
        for (int g = 0; g < kColorBins - 1; ++g)
            for (int r = 0; r < kColorBins - 1; ++r)
                h[Cell(r, g, b)] += h[Cell(r + 1, g, b)];
    for (int b = 0; b < kColorBins - 1; ++b)
        for (int g = 0; g < kColorBins - 1; ++g)
            for (int r = 0; r < kColorBins - 1; ++r)
                h[Cell(r, g, b)] += h[Cell(r, g + 1, b)];
    for (int b = 0; b < kColorBins - 1; ++b)
        for (int g = 0; g < kColorBins - 1; ++g)
            for (int r = 0; r < kColorBins - 1; ++r)
                h[Cell(r, g, b)] += h[Cell(r, g, b + 1)];

    double sumW = 0.0, sumX[3] = {0, 0, 0}, sumF[3] = {0, 0, 0}, sumF2[3] = {0, 0, 0};
    for (int b = 0; b < kColorBins; ++b)
        for (int g = 0; g < kColorBins; ++g)
            for (int r = 0; r < kColorBins; ++r) {
                const KUInt32 n = h[Cell(r, g, b)];
                if (n == 0)
                    continue;
                const double w = std::pow(static_cast<double>(n) + 1.0, 0.125) - 1.0;
                const double x[3] = {r + 1.0, g + 1.0, b + 1.0};
                const double s = x[0] + x[1] + x[2] + 1.0;
                sumW += w;
                for (int c = 0; c < 3; ++c) {
                    const double f = x[c] / s;
                    sumX[c] += w * x[c];
                    sumF[c] += w * f;
                    sumF2[c] += w * f * f;
                }
            }

    double v[3];
    for (int c = 0; c < 3; ++c)
        v[c] = (sumX[c] / sumW * 0.03125 * maxima[c] + 100.0) * kChannelFactors[c];
    const double least = std::min({v[0], v[1], v[2]});
    for (int c = 0; c < 3; ++c)
        out.balance[c] = std::pow(v[c] / least, -0.5);

    double variance = 0.0;
    for (int c = 0; c < 3; ++c) {
        const double mean = sumF[c] / sumW;
        variance += sumF2[c] / sumW - mean * mean;
    }
    // No spread at all (q = 0) is the limit of the formula: exp(-0.09 / q) goes to 0.
    const double q = std::sqrt(std::max(variance, 0.0));
    const double e = q > 0.0 ? std::exp(-0.09 / q) : 0.0;
    out.spread = Tenths(0.7 * (1.0 - 2.0 * e), -1.0, 1.0);
}

KResults Measure(const KPixmapTemplate<KPixelClass48SRGB>& image, const KLUT& cubeRoot, const KLUT& cube)
{
    KResults out;
    const KInt32 rows = image.GetHeight(), cols = image.GetWidth();
    if (rows < 39 || cols < 31) {
        DebugTrace("CalculateAutoAdjustSettings: %d x %d image is too small to measure\n", cols, rows);
        return out;
    }
    // The grid: one row in sixteen, four-pixel means across all columns but the edges.
    const KUInt32 nr = ((static_cast<KUInt32>(rows) - 39) >> 4) + 1;
    const KUInt32 nc = ((static_cast<KUInt32>(cols) - 31) >> 2) + 1;
    std::vector<KInt16> grid = Allocate<KInt16>(static_cast<size_t>(nr) * nc * 3);
    KInt32 maxima[3] = {1, 1, 1};
    KUInt32 sampledRows = 0;
    const KUInt32 sampledCols = cols - 18 > 13 ? static_cast<KUInt32>(cols - 28) >> 2 : 0;
    for (KInt32 y = 19; y < rows - 20; y += 16, ++sampledRows) {
        const KInt16* p = reinterpret_cast<const KInt16*>(image.GetRow(y)) + 13 * 3;
        KInt16* cell = grid.data() + static_cast<size_t>(sampledRows) * nc * 3;
        for (KUInt32 j = 0; j < sampledCols; ++j, p += 12, cell += 3)
            for (int c = 0; c < 3; ++c) {
                const KInt32 mean = (KInt32{p[c]} + p[c + 3] + p[c + 6] + p[c + 9]) / 4;
                cell[c] = static_cast<KInt16>(mean);
                maxima[c] = std::max(maxima[c], mean);
            }
    }
    KInt32 scale[3];
    for (int c = 0; c < 3; ++c)
        scale[c] = 0x1FFFFFFF / maxima[c];

    // Histograms of the central part of the grid. Cells the sampling did not reach (the last grid row or
    // column for some sizes) would count as black: they are left out.
    const KInt32 uiNLUMABINS = cubeRoot[0xEFFF] / 16 + 1;
    std::vector<KUInt32> luma = Allocate<KUInt32>(static_cast<size_t>(std::max(uiNLUMABINS, 1)));
    std::vector<KUInt32> color = Allocate<KUInt32>(kColorCells);
    const KUInt32 rowEnd = std::min(nr - (nr >> 3), sampledRows), colEnd = std::min(nc - (nc >> 3), sampledCols);
    KUInt32 samples = 0;
    for (KUInt32 i = nr >> 3; i < rowEnd; ++i) {
        const KInt16* cell = grid.data() + (static_cast<size_t>(i) * nc + (nc >> 3)) * 3;
        for (KUInt32 j = nc >> 3; j < colEnd; ++j, cell += 3, ++samples) {
            const double y = 0.3 * cell[0] + 0.5 * cell[1] + 0.2 * cell[2];
            const KInt32 uiLumaIdx = cubeRoot[static_cast<KUInt32>(static_cast<KInt32>(std::floor(y)))] / 16;
            KASSERT(uiLumaIdx>=0 && uiLumaIdx<uiNLUMABINS);
            ++luma[static_cast<size_t>(uiLumaIdx)];
            KInt32 bin[3];
            for (int c = 0; c < 3; ++c)
                bin[c] = (scale[c] * std::max<KInt32>(cell[c], 0)) >> 24;
            ++color[Cell(bin[0], bin[1], bin[2])];
        }
    }
    if (samples == 0) {
        DebugTrace("CalculateAutoAdjustSettings: no samples in the central part of a %d x %d image\n", cols, rows);
        return out;
    }
    LumaStatistics(luma, cubeRoot, cube, out);
    ColorStatistics(color, maxima, out);
    return out;
}

}  // namespace

void CalculateAutoAdjustSettings(const KPixmapTemplate<KPixelClass48SRGB>& image, const KLUT& cubeRoot,
                                 const KLUT& cube, double* exposure, double* toneA, double* toneB, double* toneC,
                                 double* colorSpread, double balance[3])
{
    const KResults r = Measure(image, cubeRoot, cube);
    *exposure = r.exposure;
    *toneA = r.toneA;
    *toneB = r.toneB;
    *toneC = r.toneC;
    *colorSpread = r.spread;
    for (int c = 0; c < 3; ++c)
        balance[c] = r.balance[c];
}
