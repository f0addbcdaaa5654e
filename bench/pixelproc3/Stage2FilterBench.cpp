// The stage-2 filters of colour noise, highlights, hot pixels, auto-adjust and chroma blur, each over a full
// 2304 x 1536 frame the way stage 2 calls it. Every iteration starts from the same frame (the copy is not
// timed).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <optional>
#include <random>

#include "KAutoAdjust.h"
#include "KColorNoise.h"
#include "KGlobalLUTs.h"
#include "KHighlights.h"
#include "KVectorKernels.h"
#include "Stage2FilterSupport.h"

using stage2::WorkingImage;

namespace {

constexpr int32_t kWidth = 2304, kHeight = 1536;

// A grey scene with colour noise, a clipped highlight with a reddish rim, and a hot pixel in every 4000.
const WorkingImage& Frame()
{
    static const WorkingImage frame = [] {
        WorkingImage f(kWidth, kHeight);
        std::mt19937 random(7);
        std::uniform_int_distribution<int> noise(-60, 60), spot(0, 3999);
        for (int32_t y = 0; y < kHeight; ++y)
            for (int32_t x = 0; x < kWidth; ++x) {
                const int base = 300 + (x * 3000) / kWidth;
                const int dx = x - kWidth / 2, dy = y - kHeight / 2;
                const int r2 = dx * dx + dy * dy;
                if (r2 < 150 * 150)
                    f.Set(x, y, 4800 + noise(random), 4700 + noise(random), 4600 + noise(random));
                else if (r2 < 160 * 160)
                    f.Set(x, y, 3500 + noise(random), 1500 + noise(random), 1400 + noise(random));
                else
                    f.Set(x, y, base + noise(random), base + noise(random), base + noise(random));
                if (spot(random) == 0)
                    f.Set(x, y, 9000, 9000, 9000);
            }
        return f;
    }();
    return frame;
}

// Runs body over a fresh copy of the frame in every iteration; with vector false the kernels run their
// baseline builds also on an AVX2 processor.
template <class Body>
void OverFrame(benchmark::State& state, Body body, bool vector = true)
{
    KAllowAvx2(vector);
    WorkingImage image(kWidth, kHeight);
    for (auto _ : state) {
        state.PauseTiming();
        image = Frame();
        state.ResumeTiming();
        body(image);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t{kWidth} * kHeight);
    KAllowAvx2(true);
}

const KColorLUT& Tanh(double limit, const double slopes[3])
{
    const double limits[3] = {limit, limit, limit};
    return *KGlobalLUTsClass::GetTanhLUTs(limits, slopes);
}

const int32_t kSaturation[3] = {3900, 3900, 3900};

void EstimateOffset(benchmark::State& state)
{
    KInt32 offset[3];
    OverFrame(state, [&](WorkingImage& image) { EstimateColorOffset(offset, image.Pixmap(), 9, 9, 9); });
}

void ColorDQ(benchmark::State& state, bool vector)
{
    const double slopes[3] = {0.7, 0.7, 0.7};
    const KColorLUT& lut = Tanh(9, slopes);
    const KFixedMatrix3x3 m = {9000, -500, -300, -700, 9100, -200, 100, -900, 8900};
    OverFrame(state, [&](WorkingImage& image) {
        for (int32_t r = 0; r < kHeight; ++r)
            ColorDQRow(image.Row(r), kWidth, m, lut, 3, -2, 5);
    }, vector);
}

void NeutralizeHighlights(benchmark::State& state)
{
    const double neutral[3] = {1, 1, 1};
    KInt32 t[3], l[3], w[3];
    CalculateHighlightLimits(neutral, kSaturation, t, l, w);
    OverFrame(state, [&](WorkingImage& image) {
        for (int32_t r = 0; r < kHeight; ++r)
            NeutralizeHighlightsRow(image.Row(r), image.Row(std::max(r - 1, 0)),
                                    image.Row(std::min(r + 1, kHeight - 1)), kWidth, t, l, w);
    });
}

void Despeckle(benchmark::State& state, bool bulb)
{
    const double neutral[3] = {1, 1, 1};
    KInt32 t[3], l[3], w[3];
    CalculateHighlightLimits(neutral, kSaturation, t, l, w);
    OverFrame(state, [&](WorkingImage& image) {
        for (int32_t r = 1; r < kHeight - 1; ++r)
            if (bulb)
                DespeckleBulbRow(image.Row(r), image.Row(r - 1), image.Row(r + 1), kWidth, t, l, w);
            else
                DespeckleRow(image.Row(r), image.Row(r - 1), image.Row(r + 1), kWidth, t, l, w);
    });
}

void HotPixels(benchmark::State& state, bool longExposure, bool vector)
{
    OverFrame(state, [&](WorkingImage& image) { stage2::HotPixelStep(image, longExposure); }, vector);
}

void AutoAdjust(benchmark::State& state)
{
    const KLUT& cubeRoot = *KGlobalLUTsClass::GetCubeRootLUT();
    const KLUT& cube = *KGlobalLUTsClass::GetCubeLUT();
    double e, a, b, c, s, balance[3];
    OverFrame(state, [&](WorkingImage& image) {
        CalculateAutoAdjustSettings(image.Pixmap(), cubeRoot, cube, &e, &a, &b, &c, &s, balance);
        benchmark::DoNotOptimize(e);
    });
}

// Limits and spatial thresholds as stage 2 makes them from the default calibration (ChromaDQ 20, SpatialDQ 40).
const double kChromaLimits[3] = {40, 40, 40};

void ChromaBlur3(benchmark::State& state, bool vector)
{
    const double slopes[3] = {0.7, 0.7, 0.7};
    const KColorLUT& lut = Tanh(40, slopes);
    OverFrame(state, [&](WorkingImage& image) { stage2::ChromaBlur3Pass(image, kChromaLimits, 800, lut); }, vector);
}

void ChromaBlur5(benchmark::State& state, bool vector)
{
    const double slopes[3] = {0.8, 0.8, 0.8};
    const KColorLUT& lut = Tanh(40, slopes);
    OverFrame(state, [&](WorkingImage& image) { stage2::ChromaBlur5Pass(image, kChromaLimits, 400, lut); }, vector);
}

void ChromaBlurReduceOnly(benchmark::State& state)
{
    stage2::Scratch reduced(kWidth, (size_t(kWidth + 3) / 4 * size_t(kHeight + 3) / 4 + kWidth - 1) / kWidth);
    OverFrame(state, [&](WorkingImage& image) { ChromaBlurReduce(image.Pixmap(), 5.0, reduced.Data()); });
}

void ChromaBlurCoarse(benchmark::State& state, bool vector)
{
    const double slopes[3] = {0.6, 0.65, 0.7};
    const KColorLUT& lut = Tanh(13, slopes);
    OverFrame(state, [&](WorkingImage& image) { stage2::ChromaBlurCoarsePass(image, kChromaLimits, 200, lut); }, vector);
}

}  // namespace

BENCHMARK(EstimateOffset)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ColorDQ, vector, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ColorDQ, baseline, false)->Unit(benchmark::kMillisecond);
BENCHMARK(NeutralizeHighlights)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Despeckle, row, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Despeckle, bulb, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(HotPixels, row, false, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(HotPixels, rowBaseline, false, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(HotPixels, longExposure, true, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(HotPixels, longExposureBaseline, true, false)->Unit(benchmark::kMillisecond);
BENCHMARK(AutoAdjust)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ChromaBlur3, vector, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ChromaBlur3, baseline, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ChromaBlur5, vector, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ChromaBlur5, baseline, false)->Unit(benchmark::kMillisecond);
BENCHMARK(ChromaBlurReduceOnly)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ChromaBlurCoarse, vector, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ChromaBlurCoarse, baseline, false)->Unit(benchmark::kMillisecond);
