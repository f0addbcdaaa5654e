// The whole development of a generator raw file of 2304 x 1536 and of 4608 x 3072 pixels (default calibration):
// decoding the raw and dark frames, each engine stage on the full frame, writing JPEG (quality 95) and 16-bit
// TIFF files, and whole saves through the image-processing manager as the user interface makes them, from
// nothing (the cache emptied first) and again with other adjustments (the developed frame in the cache).
// Every figure also in megapixels of the frame per second.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "IPManager2.h"
#include "KCache.h"
#include "KCamdata.h"
#include "KCamdataGetters.h"
#include "KDataMatrix.h"
#include "KICCProfiles.h"
#include "KIPEngine2.h"
#include "KImage.h"
#include "KIpMgrReq.h"
#include "KJPEGLineWriter.h"
#include "KPixmap.h"
#include "KPropTree.h"
#include "KQrlbFormat.h"
#include "KQrlbImageReader.h"
#include "KSCDiskWin.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "KTiffLineWriter.h"
#include "KzrImages.h"
#include "KzrNegative.h"
#include "KzrStandard.h"

namespace fs = std::filesystem;

namespace {

using Image = kzrsynth::OwnedImage;
using kzrsynth::FirstImageOfType;

using kzrsynth::FloatColumn;
using kzrsynth::IntMatrix;

std::unique_ptr<Image> Decode(KQrlbImageReader& reader, KUInt32 type)
{
    return kzrsynth::DecodeImage(reader, FirstImageOfType(reader, type));
}

constexpr KUInt32 kCacheBudget = 1024u << 20;

// An image of the program's own, released when it goes.

// The storage classes and the cache, set up once as the program sets them up.
void SetUpProgram()
{
    static const bool done = [] {
        RegisterDiskStorageClass();
        GetGlobalCache()->SetMaxSize(kCacheBudget);
        return true;
    }();
    (void)done;
}

void EmptyCache()
{
    GetGlobalCache()->SetMaxSize(0);
    GetGlobalCache()->SetMaxSize(kCacheBudget);
}

// A scratch folder of this process, removed at the end.
struct ScratchFolder {
    ScratchFolder() : path(fs::temp_directory_path() / ("lumo-bench-save-" + std::to_string(getpid())))
    {
        fs::create_directories(path);
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

const fs::path& Folder()
{
    static const ScratchFolder folder;
    return folder.path;
}

KWString URL(const fs::path& path)
{
    KWString url;
    PosixPathToURL(path.string(), url);
    return url;
}

// A generator file of the size with the default calibration, written once.
const fs::path& RawFile(KInt32 width, KInt32 height)
{
    static std::map<KInt32, fs::path> files;
    fs::path& path = files[width];
    if (path.empty()) {
        kzrsynth::StandardOptions o;
        o.width = width;
        o.height = height;
        o.defaultCalibration.on = true;
        const kzrsynth::BuiltFile file = kzrsynth::BuildNegative(kzrsynth::StandardLayout(o), {});
        path = Folder() / ("scene-" + std::to_string(width) + ".kzr");
        kzrsynth::WriteFileAtomically(path.string(), file.bytes);
    }
    return path;
}

KInt32 Width(const benchmark::State& state)
{
    return static_cast<KInt32>(state.range(0));
}
KInt32 Height(const benchmark::State& state)
{
    return static_cast<KInt32>(state.range(0)) * 2 / 3;
}

// Minor page faults of the process so far: first touches of memory it had not used.
long MinorFaults()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

void CountPixels(benchmark::State& state)
{
    const double megapixels = double(Width(state)) * Height(state) / 1e6;
    state.counters["MP/s"] = benchmark::Counter(megapixels, benchmark::Counter::kIsIterationInvariantRate);
}

// The frames, calibration and intermediate images of one file, developed by direct engine calls.
struct Development {
    explicit Development(KInt32 width, KInt32 height);

    KQrlbImageReader reader;
    std::vector<KUInt8> camBytes;
    std::unique_ptr<KCamdata> camdata;
    std::unique_ptr<Image> raw, dark, frame, scratch, stage3, detail, output8, output16;
    std::vector<KInt16> tone;
    double automatic[8] = {};
    KRect active;
};





bool Run(KIPEngineRequest& request)
{
    KIPEngine2::Dispatch(request);
    request.FreeParams();
    return request.m_Async.GetState() == kDone;
}

void Stage1(Development& d, KIPEngineRequest& r)
{
    r.m_Kind = kEngineStage1;
    r.AddPixmap(u"RAWIMAGE", d.raw->Pixmap());
    r.AddPixmap(u"DARKIMAGE", d.dark->Pixmap());
    r.AddCamdata(u"CAMBDATA", d.camdata.get());
    r.AddPixmap(u"OUTIMAGE", d.frame->Pixmap());
}

void Stage2(Development& d, KIPEngineRequest& r)
{
    r.m_Kind = kEngineStage2;
    r.AddPixmap(u"STAGE1IMAGE", d.frame->Pixmap());
    r.AddCamdata(u"CAMBDATA", d.camdata.get());
    r.AddText(u"WB_DESC", u"Auto");
    r.AddPixmap(u"TEMPDATA", d.scratch->Pixmap());
    r.AddMatrix(u"ISO", FloatColumn({100}));
    r.AddMatrix(u"EXPTIME", FloatColumn({100}));
    r.AddMatrix(u"AUTOADJUSTOUT", new KDataMatrixTemplate<FloatClass>(8, 1, d.automatic));
    r.AddMatrix(u"OVERRIDERGBNEUTRAL", FloatColumn({-1, -1, -1}));
    r.m_Resume[0] = kStage1Mark;
}

void Stage3(Development& d, KIPEngineRequest& r)
{
    const KInt32 w = d.active.Width(), h = d.active.Height();
    r.m_Kind = kEngineStage3;
    r.AddPixmap(u"STAGE2IMAGE", d.frame->Pixmap());
    r.AddMatrix(u"OUTSIZE", IntMatrix({w, h}, 2, 1));
    r.AddMatrix(u"CROPRECT", IntMatrix({0, 0, w, h}, 2, 2));
    r.AddMatrix(u"ROTATION", IntMatrix({0}, 1, 1));
    r.AddMatrix(u"EXPECTEDIMAGESIZE", IntMatrix({w, h}, 2, 1));
    r.AddCamdata(u"CAMBDATA", d.camdata.get());
    r.AddPixmap(u"TEMPDATA", d.scratch->Pixmap());
    r.AddPixmap(u"OUTIMAGE", d.stage3->Pixmap());
    r.AddPixmap(u"OUTIMAGEL", d.detail->Pixmap());
}

void ToneLUT(Development& d, KIPEngineRequest& r)
{
    r.m_Kind = kEngineToneLUT;
    r.AddMatrix(u"OUTLUT", new KDataMatrixTemplate<Int16Class>(65536, 3, d.tone.data()));
    r.AddMatrix(u"ADJUSTMENTS", FloatColumn({0, 0, 0, 0}));
    r.AddMatrix(u"COLORADJUST", FloatColumn({1, 1, 1}));
}

void Stage4(Development& d, KIPEngineRequest& r, const Image& output)
{
    r.m_Kind = kEngineStage4;
    r.AddPixmap(u"STAGE3IMAGE", d.stage3->Pixmap());
    r.AddPixmap(u"STAGE3IMAGEL", d.detail->Pixmap());
    r.AddMatrix(u"TONELUT", new KDataMatrixTemplate<Int16Class>(65536, 3, d.tone.data()));
    r.AddMatrix(u"ADJUSTMENTS", FloatColumn({0, 0}));
    r.AddMatrix(u"OUTCOLORSPACE", IntMatrix({2}, 1, 1));
    r.AddPixmap(u"OUTIMAGE", output.Pixmap());
}

Development::Development(KInt32 width, KInt32 height) : reader(URL(RawFile(width, height)))
{
    KUInt32 size = 0, type = 0;
    reader.GetCamFileInfo(0, size, type);
    camBytes.resize(size);
    reader.GetCamFile(0, camBytes.data(), size, nullptr, nullptr);
    camdata = std::make_unique<KCamdata>(camBytes.data(), camBytes.size());
    raw = Decode(reader, KQrlb::kImageRaw);
    dark = Decode(reader, KQrlb::kImageDark);
    frame = std::make_unique<Image>(width, height, kPixelType48SRGB);
    const KInt64 reduced = KInt64{(height + 3) / 4} * ((width + 3) / 4);
    const auto scratchRows = static_cast<KInt32>(std::max<KInt64>(5, (reduced + width - 1) / width + 2));
    scratch = std::make_unique<Image>(width, scratchRows, kPixelType48SRGB);
    const KRect keep = GetCamdataRect("KeepImageArea", *camdata);
    active = GetCamdataRect("ActiveImageArea", *camdata);
    active = KRect(active.left - keep.left, active.top - keep.top, active.right - keep.left, active.bottom - keep.top);
    stage3 = std::make_unique<Image>(active.Width(), active.Height(), kPixelType48SRGB);
    detail = std::make_unique<Image>(active.Width(), active.Height(), kPixelType16SMono);
    output8 = std::make_unique<Image>(active.Width(), active.Height(), kPixelType24RGB);
    output16 = std::make_unique<Image>(active.Width(), active.Height(), kPixelType48RGB);
    tone.resize(size_t{65536} * 3);
    KIPEngineRequest one, two, three, lut, four8, four16;
    Stage1(*this, one);
    Stage2(*this, two);
    Stage3(*this, three);
    ToneLUT(*this, lut);
    Stage4(*this, four8, *output8);
    Stage4(*this, four16, *output16);
    if (!Run(one) || !Run(two) || !Run(three) || !Run(lut) || !Run(four8) || !Run(four16))
        throw std::runtime_error("the development failed");
}

Development& Developed(const benchmark::State& state)
{
    SetUpProgram();
    static std::map<KInt32, std::unique_ptr<Development>> developments;
    std::unique_ptr<Development>& d = developments[Width(state)];
    if (!d)
        d = std::make_unique<Development>(Width(state), Height(state));
    return *d;
}

void BM_Decode(benchmark::State& state)
{
    Development& d = Developed(state);
    for (auto _ : state) {
        d.reader.GetImage(FirstImageOfType(d.reader, KQrlb::kImageRaw), d.raw->Pixmap(), nullptr, nullptr);
        d.reader.GetImage(FirstImageOfType(d.reader, KQrlb::kImageDark), d.dark->Pixmap(), nullptr, nullptr);
    }
    CountPixels(state);
}

// One stage request on the calling thread; `prepare` fills it, and the frame is put back before stage 2.
template <void (*Prepare)(Development&, KIPEngineRequest&)>
void BM_Stage(benchmark::State& state)
{
    Development& d = Developed(state);
    const bool inPlace = Prepare == &Stage2;
    Image stage1(d.frame->Pixmap()->GetWidth(), d.frame->Pixmap()->GetHeight(), kPixelType48SRGB);
    if (inPlace) {
        KIPEngineRequest one;
        Stage1(d, one);
        one.AddPixmap(u"OUTIMAGE", stage1.Pixmap());
        Run(one);
    }
    for (auto _ : state) {
        if (inPlace) {
            state.PauseTiming();
            const KPixmap& from = *stage1.Pixmap();
            std::copy_n(from.GetRow(0), size_t(from.GetRowBytes()) * from.GetHeight(), d.frame->Pixmap()->GetRow(0));
            state.ResumeTiming();
        }
        KIPEngineRequest request;
        Prepare(d, request);
        if (!Run(request))
            state.SkipWithError(WideToUtf8(request.m_Async.m_Message).c_str());
    }
    CountPixels(state);
}

void Stage4Eight(Development& d, KIPEngineRequest& r)
{
    Stage4(d, r, *d.output8);
}
void Stage4Sixteen(Development& d, KIPEngineRequest& r)
{
    Stage4(d, r, *d.output16);
}

void WriteProperties(KImageLineWriter& writer, KQrlbImageReader& reader, int profileSpace)
{
    KPropTree props(nullptr, "ImageProps");
    reader.GetProperties(&props);
    writer.WriteProperties(props, 2, KWString(u"LumoDesk"), KVersionInfo{});
    if (const KICCProfile* profile = GetBuiltInICCProfile(profileSpace))
        writer.WriteProfile(profile->size, profile->data);
}

void BM_WriteJpeg95(benchmark::State& state)
{
    Development& d = Developed(state);
    const KPixmap& image = *d.output8->Pixmap();
    for (auto _ : state) {
        KJPEGLineWriter writer(URL(Folder() / "write.jpg"), 95, false);
        writer.SetDimensions(image.GetWidth(), image.GetHeight(), kPixelType24RGB);
        WriteProperties(writer, d.reader, 0);
        for (KInt32 y = 0; y < image.GetHeight(); ++y)
            writer.WriteLine(image.GetRow(y), kPixelType24RGB);
    }
    CountPixels(state);
}

void BM_WriteTiff16(benchmark::State& state)
{
    Development& d = Developed(state);
    const KPixmap& image = *d.output16->Pixmap();
    for (auto _ : state) {
        KTiffLineWriter writer(URL(Folder() / "write.tif"), false);
        writer.SetDimensions(image.GetWidth(), image.GetHeight(), kPixelType48RGB);
        WriteProperties(writer, d.reader, 2);
        for (KInt32 y = 0; y < image.GetHeight(); ++y)
            writer.WriteLine(image.GetRow(y), kPixelType48RGB);
    }
    CountPixels(state);
}

// A save request as the user interface makes it: the whole picture, written in strips through the manager.
bool Save(KIPManager& manager, const fs::path& raw, const fs::path& result, bool jpeg, KInt32 width, KInt32 height,
          double exposure = 0.0)
{
    KIpMgrReq save;
    save.m_Kind = kIpReqSave;
    save.m_FileName = URL(raw);
    save.m_SoftwareName = KWString(u"LumoDesk");
    save.m_OutputWidth = width;
    save.m_OutputHeight = height;
    save.m_CropRect = KRect(0, 0, width, height);
    save.m_OutputFormat = jpeg ? kOutput24RGB : kOutput48RGB;
    save.m_ColorAdjust[0] = save.m_ColorAdjust[1] = save.m_ColorAdjust[2] = 1.0;
    save.m_Adjustments[0] = exposure;
    save.m_SaveFileName = URL(result);
    save.m_SaveFileFormat = jpeg ? kSaveJPEG : kSaveTIFF;
    save.m_SaveValue = 95;
    manager.Request(&save);
    while (save.m_Async.IsBusy())
        manager.Idle();
    return save.m_Async.GetState() == kDone;
}

// Each save from nothing: the cache emptied first, so that the frames are decoded and developed again.
template <bool Jpeg>
void BM_Save(benchmark::State& state)
{
    Development& d = Developed(state);
    const KInt32 width = d.active.Width(), height = d.active.Height();
    const fs::path raw = RawFile(Width(state), Height(state));
    std::unique_ptr<KIPManager> manager(CreateIPManager2());
    for (auto _ : state) {
        state.PauseTiming();
        EmptyCache();
        state.ResumeTiming();
        if (!Save(*manager, raw, Folder() / (Jpeg ? "save.jpg" : "save.tif"), Jpeg, width, height))
            state.SkipWithError("the save failed");
    }
    CountPixels(state);
}

// A JPEG save after an earlier one with another exposure: the developed frame comes from the cache.
void BM_SaveAgainOtherExposure(benchmark::State& state)
{
    Development& d = Developed(state);
    const KInt32 width = d.active.Width(), height = d.active.Height();
    const fs::path raw = RawFile(Width(state), Height(state));
    std::unique_ptr<KIPManager> manager(CreateIPManager2());
    EmptyCache();
    double exposure = 0.0;
    if (!Save(*manager, raw, Folder() / "again.jpg", true, width, height, exposure))
        state.SkipWithError("the first save failed");
    const long faults = MinorFaults();
    for (auto _ : state) {
        exposure = exposure >= 1.0 ? -1.0 : exposure + 0.01;
        if (!Save(*manager, raw, Folder() / "again.jpg", true, width, height, exposure))
            state.SkipWithError("the save failed");
    }
    state.counters["faults"] = benchmark::Counter(double(MinorFaults() - faults), benchmark::Counter::kAvgIterations);
    CountPixels(state);
}

void Sizes(benchmark::internal::Benchmark* b)
{
    b->Arg(2304)->Arg(4608)->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK(BM_Decode)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Stage, Stage1)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Stage, Stage2)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Stage, Stage3)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Stage, ToneLUT)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Stage, Stage4Eight)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Stage, Stage4Sixteen)->Apply(Sizes);
BENCHMARK(BM_WriteJpeg95)->Apply(Sizes);
BENCHMARK(BM_WriteTiff16)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Save, true)->Name("BM_SaveJpeg95")->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Save, false)->Name("BM_SaveTiff16")->Apply(Sizes);
BENCHMARK(BM_SaveAgainOtherExposure)->Apply(Sizes);
