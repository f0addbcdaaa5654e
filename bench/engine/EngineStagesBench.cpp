// The engine's stage drivers on a full generator frame of 2304 x 1536 with the default calibration, run as the
// worker runs them: stage 1, stage 2 (every step switched on), and the whole chain through the worker thread.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "KCamdata.h"
#include "KDataMatrix.h"
#include "KIPEngine2.h"
#include "KPixmap.h"
#include "KzrCalibrationBuilder.h"
#include "KzrScene.h"

namespace {

constexpr int32_t kWidth = 2304, kHeight = 1536;

template <class PixelClass>
struct Pixels {
    Pixels(int32_t width, int32_t height)
        : bytes(size_t(width) * size_t(height) * PixelClass::kBytesPerPixel),
          pixmap(bytes.data(), width, height, width * PixelClass::kBytesPerPixel)
    {
    }
    std::vector<uint8_t> bytes;
    KPixmapTemplate<PixelClass> pixmap;
};

// Raw and dark frames of the scene with their calibration, made once.
struct Frames {
    Frames() : raw(kWidth, kHeight), dark(kWidth, kHeight)
    {
        kzrsynth::SceneParams p;
        p.width = kWidth;
        p.height = kHeight;
        kzrsynth::AddDefaultShields(p);
        calibration = kzrsynth::DefaultCalibrationSection(p, {}).payload;
        camdata = std::make_unique<KCamdata>(calibration.data(), calibration.size());
        const kzrsynth::Plane r = kzrsynth::RenderRaw(p), d = kzrsynth::RenderDark(p);
        auto* rs = reinterpret_cast<uint16_t*>(raw.bytes.data());
        auto* ds = reinterpret_cast<uint16_t*>(dark.bytes.data());
        for (size_t i = 0; i < r.samples.size(); ++i) {
            rs[i] = uint16_t(r.samples[i]);
            ds[i] = uint16_t(d.samples[i]);
        }
    }
    Pixels<KPixelClass48RGB> raw, dark;
    std::vector<uint8_t> calibration;
    std::unique_ptr<KCamdata> camdata;
};

Frames& TheFrames()
{
    static Frames frames;
    return frames;
}

int32_t ScratchRows()
{
    const int64_t q = int64_t((kHeight + 3) / 4) * ((kWidth + 3) / 4);
    return int32_t(std::max<int64_t>(5, (q + kWidth - 1) / kWidth + 2));
}

void AddStage1(KIPEngineRequest& r, Frames& f, KPixmap& out)
{
    r.m_Kind = kEngineStage1;
    r.AddPixmap(u"RAWIMAGE", &f.raw.pixmap);
    r.AddPixmap(u"DARKIMAGE", &f.dark.pixmap);
    r.AddCamdata(u"CAMBDATA", f.camdata.get());
    r.AddPixmap(u"OUTIMAGE", &out);
}

void AddStage2(KIPEngineRequest& r, Frames& f, KPixmap& image, KPixmap& scratch, double* adjust)
{
    r.m_Kind = kEngineStage2;
    r.AddPixmap(u"STAGE1IMAGE", &image);
    r.AddCamdata(u"CAMBDATA", f.camdata.get());
    r.AddText(u"WB_DESC", u"Auto");
    r.AddPixmap(u"TEMPDATA", &scratch);
    auto* iso = new KDataMatrixTemplate<FloatClass>(1, 1);
    iso->Elements()[0] = 100;
    r.AddMatrix(u"ISO", iso);
    auto* exposure = new KDataMatrixTemplate<FloatClass>(1, 1);
    exposure->Elements()[0] = 8000;
    r.AddMatrix(u"EXPTIME", exposure);
    r.AddMatrix(u"AUTOADJUSTOUT", new KDataMatrixTemplate<FloatClass>(8, 1, adjust));
    r.AddMatrix(u"OVERRIDERGBNEUTRAL", new KDataMatrixTemplate<FloatClass>(3, 1));
}

void BM_Stage1(benchmark::State& state)
{
    Frames& f = TheFrames();
    Pixels<KPixelClass48SRGB> out(kWidth, kHeight);
    for (auto _ : state) {
        KIPEngineRequest request;
        AddStage1(request, f, out.pixmap);
        KIPEngine2::Dispatch(request);
        if (request.m_Async.GetState() != kDone)
            state.SkipWithError("stage 1 failed");
    }
    state.SetItemsProcessed(state.iterations() * int64_t{kWidth} * kHeight);
}
BENCHMARK(BM_Stage1)->Unit(benchmark::kMillisecond);

void BM_Stage2(benchmark::State& state)
{
    Frames& f = TheFrames();
    Pixels<KPixelClass48SRGB> stage1(kWidth, kHeight), image(kWidth, kHeight), scratch(kWidth, ScratchRows());
    {
        KIPEngineRequest request;
        AddStage1(request, f, stage1.pixmap);
        KIPEngine2::Dispatch(request);
    }
    double adjust[8];
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(image.bytes.data(), stage1.bytes.data(), stage1.bytes.size());
        KIPEngineRequest request;
        AddStage2(request, f, image.pixmap, scratch.pixmap, adjust);
        state.ResumeTiming();
        KIPEngine2::Dispatch(request);
        if (request.m_Async.GetState() != kDone)
            state.SkipWithError("stage 2 failed");
    }
    state.SetItemsProcessed(state.iterations() * int64_t{kWidth} * kHeight);
}
BENCHMARK(BM_Stage2)->Unit(benchmark::kMillisecond);

// Every stage through the worker thread, polled as an owner polls: the cost of a conversion at full size.
void BM_AllStagesOnTheWorker(benchmark::State& state)
{
    Frames& f = TheFrames();
    const int32_t w = kWidth - 10, h = kHeight - 6;  // the picture inside the default shields
    Pixels<KPixelClass48SRGB> image(kWidth, kHeight), scratch(kWidth, ScratchRows()), stage3(w, h);
    Pixels<KPixelClass16SMono> detail(w, h);
    Pixels<KPixelClass48RGB> output(w, h);
    std::vector<int16_t> tone(size_t{65536} * 3);
    double adjust[8];
    KIPEngine2 engine;
    auto run = [&](KIPEngineRequest& r) {
        engine.Request(r);
        while (r.m_Async.IsBusy())
            engine.Idle();
        if (r.m_Async.GetState() != kDone)
            state.SkipWithError("a stage failed");
    };
    auto ints = [](std::vector<int32_t> v, int32_t rows, int32_t columns) {
        auto* m = new KDataMatrixTemplate<Int32Class>(rows, columns);
        std::copy(v.begin(), v.end(), m->Elements());
        return m;
    };
    for (auto _ : state) {
        KIPEngineRequest one, two, three, toneRequest, four;
        AddStage1(one, f, image.pixmap);
        run(one);
        AddStage2(two, f, image.pixmap, scratch.pixmap, adjust);
        two.m_Resume[0] = one.m_Resume[0];
        run(two);
        three.m_Kind = kEngineStage3;
        three.AddPixmap(u"STAGE2IMAGE", &image.pixmap);
        three.AddMatrix(u"OUTSIZE", ints({w, h}, 2, 1));
        three.AddMatrix(u"CROPRECT", ints({0, 0, w, h}, 2, 2));
        three.AddMatrix(u"ROTATION", ints({0}, 1, 1));
        three.AddMatrix(u"EXPECTEDIMAGESIZE", ints({w, h}, 2, 1));
        three.AddCamdata(u"CAMBDATA", f.camdata.get());
        three.AddPixmap(u"TEMPDATA", &scratch.pixmap);
        three.AddPixmap(u"OUTIMAGE", &stage3.pixmap);
        three.AddPixmap(u"OUTIMAGEL", &detail.pixmap);
        run(three);
        toneRequest.m_Kind = kEngineToneLUT;
        toneRequest.AddMatrix(u"OUTLUT", new KDataMatrixTemplate<Int16Class>(65536, 3, tone.data()));
        toneRequest.AddMatrix(u"ADJUSTMENTS", new KDataMatrixTemplate<FloatClass>(4, 1));
        auto* colour = new KDataMatrixTemplate<FloatClass>(3, 1);
        std::fill(colour->Elements(), colour->Elements() + 3, 1.0);
        toneRequest.AddMatrix(u"COLORADJUST", colour);
        run(toneRequest);
        four.m_Kind = kEngineStage4;
        four.AddPixmap(u"STAGE3IMAGE", &stage3.pixmap);
        four.AddPixmap(u"STAGE3IMAGEL", &detail.pixmap);
        four.AddMatrix(u"TONELUT", new KDataMatrixTemplate<Int16Class>(65536, 3, tone.data()));
        four.AddMatrix(u"ADJUSTMENTS", new KDataMatrixTemplate<FloatClass>(2, 1));
        four.AddMatrix(u"OUTCOLORSPACE", ints({2}, 1, 1));
        four.AddPixmap(u"OUTIMAGE", &output.pixmap);
        run(four);
    }
    state.SetItemsProcessed(state.iterations() * int64_t{kWidth} * kHeight);
}
BENCHMARK(BM_AllStagesOnTheWorker)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
