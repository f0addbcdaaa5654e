// Stage 3 (crop, size and rotate; the detail layer), the tone table and stage 4 (the output stage) on a full
// frame of 2304 x 1536.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "KCropSizeRotate.h"
#include "KDetailLayer.h"
#include "KGlobalLUTs.h"
#include "KOutputGammaLUT.h"
#include "KOutputStage.h"
#include "KPixmap.h"
#include "KResampleTable.h"
#include "KToneCurve.h"

namespace {

constexpr int32_t kWidth = 2304, kHeight = 1536;

template <class PixelClass>
class BenchImage {
public:
    BenchImage(int32_t width, int32_t height)
        : m_Bytes(size_t(width) * height * PixelClass::kBytesPerPixel),
          m_Pixmap(m_Bytes.data(), width, height, width * PixelClass::kBytesPerPixel)
    {
    }
    KPixmapTemplate<PixelClass>& operator*() { return m_Pixmap; }
    int16_t* Samples() { return reinterpret_cast<int16_t*>(m_Bytes.data()); }
    const uint8_t* Data() const { return m_Bytes.data(); }
    int64_t Pixels() const { return int64_t{m_Pixmap.GetWidth()} * m_Pixmap.GetHeight(); }

private:
    std::vector<uint8_t> m_Bytes;
    KPixmapTemplate<PixelClass> m_Pixmap;
};

// A smooth scene with a little noise: linear values (4096 = 1.0) from deep shadow to above white, or their
// cube-root encoding for the later stages.
void FillScene(BenchImage<KPixelClass48SRGB>& img, bool encoded)
{
    const KLUT& cubeRoot = *KGlobalLUTsClass::GetCubeRootLUT();
    int16_t* s = img.Samples();
    uint32_t noise = 12345;
    for (int32_t y = 0; y < kHeight; ++y)
        for (int32_t x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                noise = noise * 1664525u + 1013904223u;
                const int32_t v = 20 + (x * 5000 / kWidth) * (c + 2) / 3 + y * 2000 / kHeight + int32_t(noise >> 28);
                *s++ = encoded ? cubeRoot[uint32_t(v)] : int16_t(v);
            }
}

// Fits the frame's active area (2304 x 1536 less 8-pixel borders) into the output size, turned when asked.
void Stage3(benchmark::State& state, int32_t outWidth, int32_t outHeight, uint32_t rotation)
{
    BenchImage<KPixelClass48SRGB> in(kWidth, kHeight);
    FillScene(in, false);
    const KRect active(8, 8, kWidth - 8, kHeight - 8);
    BenchImage<KPixelClass48SRGB> out(outWidth, outHeight);
    BenchImage<KPixelClass16SMono> lum(outWidth, outHeight);
    const KLUT& cubeRoot = *KGlobalLUTsClass::GetCubeRootLUT();
    for (auto _ : state) {
        CropSizeRotateMore(*in, active, active.Width(), active.Height(), outWidth, outHeight,
                           KRect(0, 0, outWidth, outHeight), rotation, cubeRoot, *out, *lum, 0.001, 200, -120);
        benchmark::DoNotOptimize(out.Data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * out.Pixels());
}

void BM_Stage3_OneToOne(benchmark::State& s) { Stage3(s, kWidth - 16, kHeight - 16, 0); }
void BM_Stage3_OneToOneTurned(benchmark::State& s) { Stage3(s, kHeight - 16, kWidth - 16, 90); }
void BM_Stage3_Resample_Full(benchmark::State& s) { Stage3(s, kWidth - 17, kHeight - 17, 0); }
void BM_Stage3_Resample_Half(benchmark::State& s) { Stage3(s, 1144, 760, 0); }
void BM_Stage3_Resample_Half_Turned(benchmark::State& s) { Stage3(s, 760, 1144, 90); }
void BM_Stage3_Resample_Preview(benchmark::State& s) { Stage3(s, 1024, 680, 0); }
BENCHMARK(BM_Stage3_OneToOne)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stage3_OneToOneTurned)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stage3_Resample_Full)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stage3_Resample_Half)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stage3_Resample_Half_Turned)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stage3_Resample_Preview)->Unit(benchmark::kMillisecond);

void BM_ResampleTable(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(CreateResampleTable(0.5, 0.5));
}
BENCHMARK(BM_ResampleTable)->Unit(benchmark::kMicrosecond);

void BM_DetailLayer(benchmark::State& state)
{
    BenchImage<KPixelClass16SMono> img(kWidth, kHeight);
    int16_t* s = img.Samples();
    for (int64_t i = 0; i < img.Pixels(); ++i)
        s[i] = int16_t(1000 + (i * 2654435761u >> 20) % 4000);
    for (auto _ : state) {
        CreateDetailLayer(*img, 1.0);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * img.Pixels());
}
BENCHMARK(BM_DetailLayer)->Unit(benchmark::kMillisecond);

void BM_ToneLUT(benchmark::State& state)
{
    std::vector<KInt16> data(3 * 65536);
    KColorLUT lut;
    LayToneLUTView(lut, data.data(), 65536);
    for (auto _ : state) {
        CreateToneLUT(0.3, 0.1, 0.2, -0.4, 1.1, 1.0, 0.9, *KGlobalLUTsClass::GetCubeLUT(), lut);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ToneLUT)->Unit(benchmark::kMicrosecond);

template <class OutputClass>
void Stage4(benchmark::State& state)
{
    BenchImage<KPixelClass48SRGB> working(kWidth, kHeight);
    FillScene(working, true);
    BenchImage<KPixelClass16SMono> detail(kWidth, kHeight);
    int16_t* d = detail.Samples();
    for (int64_t i = 0; i < detail.Pixels(); ++i)
        d[i] = int16_t(int32_t(i * 2654435761u >> 24) - 128);
    std::vector<KInt16> toneData(3 * 65536);
    KColorLUT tone;
    LayToneLUTView(tone, toneData.data(), 65536);
    CreateToneLUT(0, 0, 0, 0, 1, 1, 1, *KGlobalLUTsClass::GetCubeLUT(), tone);
    constexpr bool sixteen = OutputClass::kPixelType == kPixelType48RGB;
    auto gamma = CreateOutputGammaLUT(2, sixteen ? 16 : 8);
    KMatrix3x3 matrix;
    CalculateOutputColorMatrix(matrix, 2, 0.5);
    BenchImage<OutputClass> out(kWidth, kHeight);
    for (auto _ : state) {
        KPixelProc2::ProcessToOutput(*working, *detail, 0.5, tone, matrix, *gamma, *out);
        benchmark::DoNotOptimize(out.Data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * out.Pixels());
}
BENCHMARK(Stage4<KPixelClass24RGB>)->Name("BM_Stage4_24RGB")->Unit(benchmark::kMillisecond);
BENCHMARK(Stage4<KPixelClass32BGRA>)->Name("BM_Stage4_32BGRA")->Unit(benchmark::kMillisecond);
BENCHMARK(Stage4<KPixelClass48RGB>)->Name("BM_Stage4_48RGB")->Unit(benchmark::kMillisecond);

}  // namespace
