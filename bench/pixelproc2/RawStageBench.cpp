// The kernels of stages 1 and 2 on a full frame (2304 x 1536). "ns/px" is the time per pixel of the frame (per
// listed entry for the bad pixels, per measured pixel for the raw offsets and the drift).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "KBadPixels.h"
#include "KDarkDriftMeasure.h"
#include "KLinearize.h"
#include "KRowCorrections.h"
#include "KSubsampledAverage.h"
#include "RawStageTestSupport.h"

namespace {

constexpr int32_t kWidth = 2304;
constexpr int32_t kHeight = 1536;
constexpr double kPixels = double(kWidth) * kHeight;

uint32_t Noise(uint32_t a, uint32_t b)
{
    uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    return h ^ (h >> 13);
}

// Frames of 12-bit values: a dark level with column pattern and noise, and a picture above it.
struct Frames {
    rawstage::Frame dark{kWidth, kHeight};
    rawstage::Frame raw{kWidth, kHeight};
    Frames()
    {
        for (int32_t y = 0; y < kHeight; ++y)
            for (int32_t x = 0; x < kWidth; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int32_t d = 256 + int32_t(Noise(x, 7) % 13) - 6 + int32_t(Noise(x * 3 + c, y) % 7) - 3;
                    dark.At(x, y, c) = uint16_t(d);
                    raw.At(x, y, c) = uint16_t(std::min(4095, d + int32_t((x * 7 + y * 3 + c * 500) % 3000)));
                }
    }
};

const Frames& SharedFrames()
{
    static const Frames frames;
    return frames;
}

// A working image: linear values around 1000 with noise, and shields at both ends of every row.
const rawstage::Image& SharedImage()
{
    static const rawstage::Image image = [] {
        rawstage::Image im(kWidth, kHeight);
        for (int32_t y = 0; y < kHeight; ++y)
            for (int32_t x = 0; x < kWidth; ++x)
                for (int c = 0; c < 3; ++c) {
                    const bool shield = x < 16 || x >= kWidth - 4;
                    im.At(x, y, c) = int16_t((shield ? 0 : 800 + (x + y) % 400) + int32_t(Noise(x, y * 3 + c) % 31) - 15);
                }
        return im;
    }();
    return image;
}

struct Lut {
    std::vector<KInt16> data = std::vector<KInt16>(3 * 4096);
    KColorLUT lut;
    Lut()
    {
        for (int c = 0; c < 3; ++c) {
            for (int i = 0; i < 4096; ++i)
                data[size_t(c * 4096 + i)] = KInt16(i * (8 + c) / 8);
            lut.m_pData[c] = data.data() + c * 4096;
        }
        lut.m_Mask = 4095;
        lut.m_Size = 4096;
    }
};

void PerPixel(benchmark::State& state, double items)
{
    state.counters["ns/px"] =
        benchmark::Counter(items, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The floor that memory sets: one frame read and one written, row by row.
void BM_CopyRows(benchmark::State& state)
{
    const Frames& f = SharedFrames();
    rawstage::Image out(kWidth, kHeight);
    for (auto _ : state) {
        for (int32_t y = 0; y < kHeight; ++y)
            std::memcpy(out.Row(y), f.raw.Row(y), size_t(kWidth) * 6);
        benchmark::DoNotOptimize(out.Row(0));
        benchmark::ClobberMemory();
    }
    PerPixel(state, kPixels);
}
BENCHMARK(BM_CopyRows)->Unit(benchmark::kMillisecond);

void BM_LinearizeRows(benchmark::State& state, bool offsets)
{
    const Frames& f = SharedFrames();
    const Lut t;
    rawstage::Image out(kWidth, kHeight);
    std::vector<KInt16> columnOffsets(size_t(kWidth) * 3);
    CalculateRawOffsets(f.raw.Get(), columnOffsets.data(), 0, 15, 1, 3);
    for (auto _ : state) {
        for (int32_t y = 0; y < kHeight; ++y) {
            if (offsets)
                LinearizeAndDarkSubtractRowWithOffsets(f.dark.Row(y), f.raw.Row(y), kWidth, t.lut, out.Row(y),
                                                       columnOffsets.data());
            else
                LinearizeAndDarkSubtractRow(f.dark.Row(y), f.raw.Row(y), kWidth, t.lut, out.Row(y));
        }
        benchmark::DoNotOptimize(out.Row(0));
        benchmark::ClobberMemory();
    }
    PerPixel(state, kPixels);
}
BENCHMARK_CAPTURE(BM_LinearizeRows, plain, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LinearizeRows, offsets, true)->Unit(benchmark::kMillisecond);

void BM_RawOffsets(benchmark::State& state)
{
    const Frames& f = SharedFrames();
    std::vector<KInt16> offsets(size_t(kWidth) * 3);
    for (auto _ : state) {
        CalculateRawOffsets(f.raw.Get(), offsets.data(), 0, 15, 1, 3);
        benchmark::DoNotOptimize(offsets.data());
    }
    PerPixel(state, 16.0 * kWidth);
}
BENCHMARK(BM_RawOffsets)->Unit(benchmark::kMicrosecond);

void BM_TopAndBottomDrift(benchmark::State& state)
{
    const rawstage::Image& image = SharedImage();
    const KRect top(16, 0, kWidth - 4, 12), bottom(16, kHeight - 4, kWidth - 4, kHeight);
    for (auto _ : state)
        benchmark::DoNotOptimize(CalculateTopAndBottomDrift(image.Get(), top, bottom));
    PerPixel(state, 16.0 * (kWidth - 20));
}
BENCHMARK(BM_TopAndBottomDrift)->Unit(benchmark::kMicrosecond);

void BM_DarkShieldLevels(benchmark::State& state)
{
    const rawstage::Image& image = SharedImage();
    std::vector<KColorTriple> levels(kHeight);
    KColorTriple base;
    for (auto _ : state) {
        CalculateDarkShieldLevels(base, levels.data(), image.Get(), kHeight, 6, 14, 2292, 2300, {0.02, 0.02, 0.02},
                                  KDarkDrift{}, 0.8, 12.0, KRect(16, 12, kWidth - 4, kHeight - 4));
        benchmark::DoNotOptimize(levels.data());
    }
    PerPixel(state, kPixels);
}
BENCHMARK(BM_DarkShieldLevels)->Unit(benchmark::kMicrosecond);

// Polynomial: 0 none, 1 each channel's own square (the default calibration's), 2 all nine terms; vector 0 runs
// the baseline build on an AVX2 processor.
void BM_ApplyRowCorrections(benchmark::State& state)
{
    std::optional<rawstage::BaselineKernels> build;
    if (state.range(2) == 0)
        build.emplace();
    rawstage::Image image = SharedImage();
    KPostPoly poly = {};
    if (state.range(0) >= 1)
        for (int c = 0; c < 3; ++c)
            poly[size_t(c * 9 + c)] = 0.01f;
    if (state.range(0) >= 2)
        for (int i = 0; i < 27; ++i)
            poly[size_t(i)] += 0.001f * float(i % 5);
    const bool square = state.range(1) != 0;
    std::vector<float> gridElements;
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
            for (int c = 0; c < 3; ++c)
                gridElements.push_back(1.0f + 0.01f * float((x - 4) * (x - 4) + (y - 3) * (y - 3)));
    const KSpatialGainGrid grid{gridElements.data(), 9, 7};
    std::vector<float> gainRow(9 * 3);
    KRowDrift drift;
    drift.m_Slope = {3, 2, 1};
    drift.m_Mean = {5, 5, 5};
    const KColorTriple cf = {0.02, 0.02, 0.02};
    const KColorTriple cs = square ? cf : KColorTriple{0, 0, 0};
    for (auto _ : state) {
        for (int32_t y = 0; y < kHeight; ++y) {
            InterpolateSpatialGainRow(&grid, y, kHeight, gainRow.data());
            ApplyRowCorrections(image.Row(y), kWidth, cf, cs, drift, {1.5, 1.5, 1.5}, poly, gainRow.data(), 9,
                                {1.02, 1.0, 1.4});
        }
        benchmark::DoNotOptimize(image.Row(0));
        benchmark::ClobberMemory();
    }
    PerPixel(state, kPixels);
}
BENCHMARK(BM_ApplyRowCorrections)
    ->ArgNames({"poly", "square", "vector"})
    ->Args({0, 0, 1})
    ->Args({1, 1, 1})
    ->Args({2, 1, 1})
    ->Args({1, 1, 0})
    ->Unit(benchmark::kMillisecond);

void BM_FixBadPixels(benchmark::State& state)
{
    rawstage::Image image = SharedImage();
    std::vector<KUInt32> entries;
    for (uint32_t i = 0; i < 4000; ++i)
        entries.push_back((2 + Noise(i, 1) % (kHeight - 4)) << 20 | (2 + Noise(i, 2) % (kWidth - 4)) << 8 | 0x5A);
    const KPoint offset{0, 0};
    for (auto _ : state) {
        FixBadPixels(image.Get(), entries.data(), KUInt32(entries.size()), &offset);
        benchmark::ClobberMemory();
    }
    PerPixel(state, double(entries.size()));
}
BENCHMARK(BM_FixBadPixels)->Unit(benchmark::kMicrosecond);

void BM_RedSharpen(benchmark::State& state, bool vector)
{
    std::optional<rawstage::BaselineKernels> build;
    if (!vector)
        build.emplace();
    rawstage::Image image = SharedImage();
    for (auto _ : state) {
        rawstage::RedSharpenImage(image, 128, 2048, 0);
        benchmark::ClobberMemory();
    }
    PerPixel(state, kPixels);
}
BENCHMARK_CAPTURE(BM_RedSharpen, vector, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RedSharpen, baseline, false)->Unit(benchmark::kMillisecond);

void BM_Flare(benchmark::State& state)
{
    const rawstage::Image& image = SharedImage();
    for (auto _ : state)
        benchmark::DoNotOptimize(CalculateFlare(image.Get(), {0.01, 0.01, 0.01}));
    PerPixel(state, kPixels);
}
BENCHMARK(BM_Flare)->Unit(benchmark::kMicrosecond);

}  // namespace
