// The save path's JPEG: 2304 x 1536 at quality 95 through the line writer, from 24RGB rows and from rows that
// need converting; and reading it back.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "KJPEGImageReader.h"
#include "KJPEGLineWriter.h"
#include "KPixmap.h"
#include "KSCDiskWin.h"
#include "KStorage.h"

namespace {

constexpr int kWidth = 2304, kHeight = 1536;

struct Scratch {
    Scratch()
    {
        folder = std::filesystem::temp_directory_path() / "lumo-bench-jpeg";
        std::filesystem::create_directories(folder);
        RegisterDiskStorageClass();
        PosixPathToURL((folder / "bench.jpg").string(), url);
    }
    ~Scratch()
    {
        ShutdownStorageClasses();
        std::filesystem::remove_all(folder);
    }
    std::filesystem::path folder;
    KWString url;
};

Scratch& TheScratch()
{
    static Scratch scratch;
    return scratch;
}

// A photograph-like pattern: smooth gradients with some texture.
std::vector<uint8_t> Pixels(int bytesPerPixel)
{
    std::vector<uint8_t> p(static_cast<size_t>(kWidth) * kHeight * bytesPerPixel);
    unsigned noise = 12345;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            noise = noise * 1103515245u + 12345u;
            uint8_t* q = &p[(static_cast<size_t>(y) * kWidth + x) * bytesPerPixel];
            const int t = static_cast<int>((noise >> 16) & 15);
            q[0] = static_cast<uint8_t>(x * 200 / kWidth + t);
            q[1] = static_cast<uint8_t>(y * 200 / kHeight + t);
            q[2] = static_cast<uint8_t>((x + y) * 100 / (kWidth + kHeight) + 60 + t);
            if (bytesPerPixel == 4)
                q[3] = 255;
        }
    return p;
}

void WriteImage(benchmark::State& state, int pixelType, int bytesPerPixel)
{
    Scratch& scratch = TheScratch();
    const std::vector<uint8_t> pixels = Pixels(bytesPerPixel);
    for (auto _ : state) {
        KJPEGLineWriter writer(scratch.url, 95, false);
        writer.SetDimensions(kWidth, kHeight, kPixelType24RGB);
        for (int y = 0; y < kHeight; ++y)
            writer.WriteLine(&pixels[static_cast<size_t>(y) * kWidth * bytesPerPixel], pixelType);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_WriteFrom24RGB(benchmark::State& state)
{
    WriteImage(state, kPixelType24RGB, 3);
}
BENCHMARK(BM_WriteFrom24RGB)->Unit(benchmark::kMillisecond);

void BM_WriteFrom32BGRA(benchmark::State& state)
{
    WriteImage(state, kPixelType32BGRA, 4);
}
BENCHMARK(BM_WriteFrom32BGRA)->Unit(benchmark::kMillisecond);

void BM_Read(benchmark::State& state)
{
    Scratch& scratch = TheScratch();
    {
        const std::vector<uint8_t> pixels = Pixels(3);
        KJPEGLineWriter writer(scratch.url, 95, false);
        writer.SetDimensions(kWidth, kHeight, kPixelType24RGB);
        for (int y = 0; y < kHeight; ++y)
            writer.WriteLine(&pixels[static_cast<size_t>(y) * kWidth * 3], kPixelType24RGB);
    }
    std::vector<uint8_t> out(static_cast<size_t>(kWidth) * kHeight * 3);
    KPixmapTemplate<KPixelClass24RGB> pixmap(out.data(), kWidth, kHeight, kWidth * 3);
    for (auto _ : state) {
        KJPEGImageReader reader(scratch.url);
        reader.SetScale(static_cast<int>(state.range(0)));
        reader.ReadImage(pixmap);
    }
}
BENCHMARK(BM_Read)->Arg(0)->Arg(3)->Unit(benchmark::kMillisecond);

}  // namespace
