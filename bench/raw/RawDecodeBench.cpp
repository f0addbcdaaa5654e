// Decoding a full camera frame (2304 x 1536) of each data format from memory, and from a disk file through
// the storage layer; writing the synthetic file. Reports megapixels per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

#include "KPixmap.h"
#include "KQrlbImageReader.h"
#include "KSCDiskWin.h"
#include "KStorageURL.h"
#include "KMemoryStorage.h"
#include "KzrPixmap.h"
#include "KzrScene.h"
#include "KzrStandard.h"

namespace {

constexpr int kWidth = 2304;
constexpr int kHeight = 1536;

// One file per format, built once: the frame the camera would store in it.
const kzrsynth::BuiltFile& FrameFile(uint32_t format)
{
    static std::map<uint32_t, kzrsynth::BuiltFile> files;
    auto it = files.find(format);
    if (it != files.end())
        return it->second;
    kzrsynth::SceneParams scene;
    scene.width = kWidth;
    scene.height = kHeight;
    kzrsynth::ImageLayout im;
    im.format = format;
    switch (format) {
    case KQrlb::kFormatDelta10:
    case KQrlb::kFormatHuffman10:
        im.plane = kzrsynth::Subtract(kzrsynth::RenderRaw(scene), kzrsynth::RenderDark(scene));
        break;
    case KQrlb::kFormatHuffman8:
    case KQrlb::kFormat24:
        im.plane = kzrsynth::RenderPreview(scene, kWidth, kHeight);
        break;
    default:
        im.plane = kzrsynth::RenderRaw(scene);
    }
    kzrsynth::FileLayout layout;
    layout.images.push_back(std::move(im));
    return files.emplace(format, kzrsynth::BuildFile(layout)).first->second;
}

struct Target : kzrsynth::OwnedPixmap {
    explicit Target(uint32_t format) : OwnedPixmap(MapQrlbPixelFormatToKPixmapType(format), kWidth, kHeight) {}
};

void Rate(benchmark::State& state)
{
    state.counters["Mpixel/s"] =
        benchmark::Counter(double(kWidth) * kHeight / 1e6 * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_DecodeFromMemory(benchmark::State& state)
{
    const uint32_t format = static_cast<uint32_t>(state.range(0));
    auto data = std::make_shared<std::vector<uint8_t>>(FrameFile(format).bytes);
    Target target(format);
    for (auto _ : state) {
        KQrlbImageReader reader(new KMemoryFile(data, KWString("mem://frame"), false), KWString("frame"));
        if (!reader.GetImage(0, target.pixmap, nullptr, nullptr))
            state.SkipWithError("cancelled");
        benchmark::DoNotOptimize(target.pixels.data());
    }
    Rate(state);
}
BENCHMARK(BM_DecodeFromMemory)->Arg(4)->Arg(6)->Arg(0)->Arg(5)->Arg(11)->Unit(benchmark::kMillisecond);

void BM_DecodeFromDisk(benchmark::State& state)
{
    const uint32_t format = static_cast<uint32_t>(state.range(0));
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "lumo-bench-raw";
    std::filesystem::create_directories(folder / "machine");
    setenv("LUMO_MACHINE", (folder / "machine").c_str(), 1);
    const std::string path = (folder / ("frame-" + std::to_string(format) + ".kzr")).string();
    kzrsynth::WriteFileAtomically(path, FrameFile(format).bytes);
    RegisterDiskStorageClass();
    KWString url;
    PosixPathToURL(path, url);
    Target target(format);
    for (auto _ : state) {
        KQrlbImageReader reader(url);
        if (!reader.GetImage(0, target.pixmap, nullptr, nullptr))
            state.SkipWithError("cancelled");
    }
    ShutdownStorageClasses();
    std::filesystem::remove_all(folder);
    Rate(state);
}
BENCHMARK(BM_DecodeFromDisk)->Arg(4)->Arg(6)->Unit(benchmark::kMillisecond);

void BM_GenerateCameraFile(benchmark::State& state)
{
    kzrsynth::StandardOptions o;
    o.width = kWidth;
    o.height = kHeight;
    o.subtractedFormat = static_cast<int>(state.range(0));
    o.rawFormat = 4;
    for (auto _ : state)
        benchmark::DoNotOptimize(kzrsynth::BuildFile(kzrsynth::StandardLayout(o)).bytes.data());
    Rate(state);
}
BENCHMARK(BM_GenerateCameraFile)->Arg(6)->Unit(benchmark::kMillisecond);

}  // namespace
