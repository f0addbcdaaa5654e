// Stages 1 to 4 spread their rows over several threads: the results must not depend on how many.
#include <gtest/gtest.h>

#include <vector>

#include "EngineStageSupport.h"
#include "KCamdataGetters.h"
#include "KIPEngine2.h"
#include "KRowBands.h"

using namespace enginetest;

namespace {

// The thread count for a scope.
struct Threads {
    explicit Threads(int n) { KRowBands::SetThreadCount(n); }
    ~Threads() { KRowBands::SetThreadCount(0); }
};

}  // namespace

TEST(StageBands, Stages1And2SameOnOneThreadAsOnSeveral)
{
    // Tall enough for four bands of the least rows a band gets; each band edge falls in a different part of
    // the scene (ramp, patches, dark band with the highlight).
    Scene scene(120, 300);
    Image stage1(scene.raw.Width(), scene.raw.Height());
    {
        KIPEngineRequest request;
        AddStage1(request, scene, stage1);
        KIPEngine2::Dispatch(request);
        ASSERT_EQ(request.m_Async.GetState(), kDone);
    }
    struct Result {
        Image image;
        std::vector<double> adjust;
    };
    auto develop = [&](int threads) {
        Threads count(threads);
        Result result{stage1, {}};
        Image scratch(stage1.Width(), ScratchRows(stage1.Width(), stage1.Height()));
        auto* adjust = new KDataMatrixTemplate<FloatClass>(8, 1);
        KIPEngineRequest request;
        AddStage2(request, *scene.camdata, result.image, scratch, adjust);
        request.m_Resume[0] = kStage1Mark;
        KIPEngine2::Dispatch(request);
        EXPECT_EQ(request.m_Async.GetState(), kDone) << threads;
        result.adjust.assign(adjust->Elements(), adjust->Elements() + 8);
        return result;
    };
    const Result one = develop(1);
    {
        // Stage 1 too.
        Threads count(5);
        Image again(scene.raw.Width(), scene.raw.Height());
        KIPEngineRequest request;
        AddStage1(request, scene, again);
        KIPEngine2::Dispatch(request);
        ASSERT_EQ(request.m_Async.GetState(), kDone);
        EXPECT_TRUE(again == stage1);
    }
    for (int threads : {2, 3, 8}) {
        const Result several = develop(threads);
        EXPECT_TRUE(several.image == one.image) << threads << " threads";
        EXPECT_EQ(several.adjust, one.adjust) << threads << " threads";
    }
}

TEST(StageBands, Stages3And4SameOnOneThreadAsOnSeveral)
{
    Scene scene(120, 300);
    Developed developed(scene);
    ASSERT_EQ(developed.state2, kDone);
    const KRect keep = GetCamdataRect("KeepImageArea", *scene.camdata);
    const KRect a = GetCamdataRect("ActiveImageArea", *scene.camdata);
    const KRect active(a.left - keep.left, a.top - keep.top, a.right - keep.left, a.bottom - keep.top);
    const int w = active.Width(), h = active.Height();
    struct Geometry {
        int outW, outH;
        KRect crop;
        int rotation;
    } geometries[] = {
        {w, h, KRect(0, 0, w, h), 0},                 // 1:1
        {h, w, KRect(5, 17, h - 3, w - 9), 90},       // a quarter turn, cropped lower down
        {w * 2 / 3, h * 2 / 3, KRect(0, 0, w * 2 / 3, h * 2 / 3), 180},  // resampled
    };
    std::vector<int16_t> tone(size_t{65536} * 3);
    {
        KIPEngineRequest request;
        request.m_Kind = kEngineToneLUT;
        request.AddMatrix(u"OUTLUT", new KDataMatrixTemplate<Int16Class>(65536, 3, tone.data()));
        request.AddMatrix(u"ADJUSTMENTS", FloatMatrix(4, 1, {0.3, 0.1, 0.2, -0.1}));
        request.AddMatrix(u"COLORADJUST", FloatMatrix(3, 1, {1, 1, 1}));
        KIPEngine2::Dispatch(request);
        ASSERT_EQ(request.m_Async.GetState(), kDone);
    }
    for (const Geometry& g : geometries) {
        const int cw = g.crop.Width(), ch = g.crop.Height();
        struct Result {
            Image out;
            Mono luminance;
            Owned<KPixelClass48RGB> rgb;
        };
        auto develop = [&](int threads) {
            Threads count(threads);
            Result r{Image(cw, ch), Mono(cw, ch), Owned<KPixelClass48RGB>(cw, ch)};
            KIPEngineRequest three;
            three.m_Kind = kEngineStage3;
            three.AddPixmap(u"STAGE2IMAGE", developed.image.Get());
            three.AddMatrix(u"OUTSIZE", Int32Matrix(2, 1, {g.outW, g.outH}));
            three.AddMatrix(u"EXPECTEDIMAGESIZE", Int32Matrix(2, 1, {w, h}));
            three.AddMatrix(u"CROPRECT", Int32Matrix(2, 2, {g.crop.left, g.crop.top, g.crop.right, g.crop.bottom}));
            three.AddCamdata(u"CAMBDATA", scene.camdata.get());
            three.AddPixmap(u"TEMPDATA", developed.scratch.Get());
            three.AddMatrix(u"ROTATION", Int32Matrix(1, 1, {g.rotation}));
            three.AddPixmap(u"OUTIMAGE", r.out.Get());
            three.AddPixmap(u"OUTIMAGEL", r.luminance.Get());
            KIPEngine2::Dispatch(three);
            EXPECT_EQ(three.m_Async.GetState(), kDone) << three.m_Async.m_Message.GetAscii();
            KIPEngineRequest four;
            four.m_Kind = kEngineStage4;
            four.AddPixmap(u"STAGE3IMAGE", r.out.Get());
            four.AddPixmap(u"STAGE3IMAGEL", r.luminance.Get());
            four.AddMatrix(u"TONELUT", new KDataMatrixTemplate<Int16Class>(65536, 3, tone.data()));
            four.AddMatrix(u"ADJUSTMENTS", FloatMatrix(2, 1, {0.5, 0.2}));
            four.AddMatrix(u"OUTCOLORSPACE", Int32Matrix(1, 1, {3}));
            four.AddPixmap(u"OUTIMAGE", r.rgb.Get());
            KIPEngine2::Dispatch(four);
            EXPECT_EQ(four.m_Async.GetState(), kDone) << four.m_Async.m_Message.GetAscii();
            return r;
        };
        const Result one = develop(1);
        for (int threads : {3, 8}) {
            const Result several = develop(threads);
            EXPECT_TRUE(several.out == one.out) << g.rotation << ", " << threads << " threads";
            EXPECT_TRUE(several.luminance == one.luminance) << g.rotation << ", " << threads << " threads";
            EXPECT_TRUE(several.rgb == one.rgb) << g.rotation << ", " << threads << " threads";
        }
    }
}
