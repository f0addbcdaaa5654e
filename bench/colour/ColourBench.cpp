// Colour conversion, the display rescaler and rotation on full frames (2304 x 1536) and the display size.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "KConvertColorPixmap.h"
#include "KDisplayRescaler.h"
#include "KPixmap.h"
#include "KRotate.h"

namespace {
constexpr int32_t kFrameWidth = 2304, kFrameHeight = 1536;
constexpr int32_t kDisplayWidth = 1024, kDisplayHeight = 683;

// A pixmap with its own pixels, filled with a fixed pseudo-random pattern.
class BenchPixmap {
public:
    BenchPixmap(int type, int32_t width, int32_t height)
        : m_Bytes(static_cast<size_t>(width) * height * KPixelTypeBytes(type))
    {
        for (size_t i = 0; i < m_Bytes.size(); ++i)
            m_Bytes[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
        m_Pixmap = MapKPixmapHeader(m_Header, type, width, height, 0, m_Bytes.data());
    }
    KPixmap& operator*() { return *m_Pixmap; }
    KPixmap* get() { return m_Pixmap; }
    int64_t Pixels() const { return int64_t{m_Pixmap->GetWidth()} * m_Pixmap->GetHeight(); }
    const uint8_t* Data() const { return m_Bytes.data(); }

private:
    std::vector<uint8_t> m_Bytes;
    alignas(alignof(std::max_align_t)) unsigned char m_Header[64];
    KPixmap* m_Pixmap = nullptr;
};

void Convert(benchmark::State& state, int sourceType, int outputType)
{
    BenchPixmap in(sourceType, kFrameWidth, kFrameHeight), out(outputType, kFrameWidth, kFrameHeight);
    for (auto _ : state) {
        ConvertColorPixmap(in.get(), out.get());
        benchmark::DoNotOptimize(out.Data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * out.Pixels());
}

void Rescale(benchmark::State& state, int32_t sW, int32_t sH, int32_t dW, int32_t dH)
{
    BenchPixmap src(kPixelType32BGRA, sW, sH), dst(kPixelType32BGRA, dW, dH);
    const KRect sr(0, 0, sW, sH), dr(0, 0, dW, dH);
    for (auto _ : state) {
        ResamplePixmapRect(dst.get(), &dr, src.get(), &sr);
        benchmark::DoNotOptimize(dst.Data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * dst.Pixels());
}

void ExposureWarnings(benchmark::State& state)
{
    BenchPixmap src(kPixelType32BGRA, kDisplayWidth, kDisplayHeight), dst(kPixelType32BGRA, kDisplayWidth, kDisplayHeight);
    const KRect r(0, 0, kDisplayWidth, kDisplayHeight);
    const KWarningColor shadow{0, 0, 255, 160}, highlight{255, 0, 0, 160};
    for (auto _ : state) {
        CopyRectWithExposureWarnings(dst.get(), &r, src.get(), &r, 20, 250, shadow, highlight);
        benchmark::DoNotOptimize(dst.Data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * dst.Pixels());
}

void Turn(benchmark::State& state, int type, double angle)
{
    const bool quarter = angle == 90 || angle == -90;
    BenchPixmap in(type, kFrameWidth, kFrameHeight);
    BenchPixmap out(type, quarter ? kFrameHeight : kFrameWidth, quarter ? kFrameWidth : kFrameHeight);
    for (auto _ : state) {
        Rotate(*in, *out, angle);
        benchmark::DoNotOptimize(out.Data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * out.Pixels());
}
}  // namespace

BENCHMARK_CAPTURE(Convert, 48RGBTo32BGRA, kPixelType48RGB, kPixelType32BGRA)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, 48SRGBTo32BGRA, kPixelType48SRGB, kPixelType32BGRA)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, 24RGBTo32BGRA, kPixelType24RGB, kPixelType32BGRA)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, 32BGRATo32BGRA, kPixelType32BGRA, kPixelType32BGRA)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, 30RGBLTo32BGRA, kPixelType30RGBL, kPixelType32BGRA)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, 8MonoTo32BGRA, kPixelType8Mono, kPixelType32BGRA)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, 48SRGBTo24RGB, kPixelType48SRGB, kPixelType24RGB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, 24RGBTo48RGB, kPixelType24RGB, kPixelType48RGB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Rescale, FrameToDisplay, kFrameWidth, kFrameHeight, kDisplayWidth, kDisplayHeight)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Rescale, DisplayToFrame, kDisplayWidth, kDisplayHeight, kFrameWidth, kFrameHeight)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Rescale, TallerOnly, kDisplayWidth, kDisplayHeight, kDisplayWidth, kFrameHeight)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Rescale, WiderOnly, kDisplayWidth, kDisplayHeight, kFrameWidth, kDisplayHeight)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Rescale, WiderAndShorter, kDisplayWidth, kDisplayHeight, 1600, 500)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Rescale, EqualSizes, kDisplayWidth, kDisplayHeight, kDisplayWidth, kDisplayHeight)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ExposureWarnings)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Turn, Display90, kPixelType32BGRA, 90.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Turn, Display180, kPixelType32BGRA, 180.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Turn, 24RGBMinus90, kPixelType24RGB, -90.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Turn, 48RGB90, kPixelType48RGB, 90.0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Turn, Display45General, kPixelType32BGRA, 45.0)->Unit(benchmark::kMillisecond);
