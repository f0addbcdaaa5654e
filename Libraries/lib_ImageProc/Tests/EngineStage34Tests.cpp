// Stage 3, the tone curve and stage 4 through the engine's dispatch: each driver against direct calls of its
// kernels with the same inputs, its checks, and the failures of the kernels as status.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "EngineStageSupport.h"
#include "KCamdataGetters.h"
#include "KCropSizeRotate.h"
#include "KDetailLayer.h"
#include "KGlobalLUTs.h"
#include "KIPEngine2.h"
#include "KOutputGammaLUT.h"
#include "KOutputStage.h"
#include "KToneCurve.h"

using namespace enginetest;

namespace {

// A stage-2 result of the generator's scene, and the picture's place in it.
struct Stage2Result {
    Stage2Result() : scene(48, 32), developed(scene)
    {
        EXPECT_EQ(developed.state2, kDone);
        const KRect keep = GetCamdataRect("KeepImageArea", *scene.camdata);
        const KRect a = GetCamdataRect("ActiveImageArea", *scene.camdata);
        active = KRect(a.left - keep.left, a.top - keep.top, a.right - keep.left, a.bottom - keep.top);
    }
    Scene scene;
    Developed developed;
    KRect active;
};

void AddStage3(KIPEngineRequest& r, Stage2Result& s, Image& out, Mono& luminance, int outW, int outH,
               const KRect& crop, int rotation, int expectedW, int expectedH, KCamdata* camdata = nullptr)
{
    r.m_Kind = kEngineStage3;
    r.AddPixmap(u"STAGE2IMAGE", s.developed.image.Get());
    r.AddMatrix(u"OUTSIZE", Int32Matrix(2, 1, {outW, outH}));
    r.AddMatrix(u"EXPECTEDIMAGESIZE", Int32Matrix(2, 1, {expectedW, expectedH}));
    r.AddMatrix(u"CROPRECT", Int32Matrix(2, 2, {crop.left, crop.top, crop.right, crop.bottom}));
    r.AddCamdata(u"CAMBDATA", camdata ? camdata : s.scene.camdata.get());
    r.AddPixmap(u"TEMPDATA", s.developed.scratch.Get());
    r.AddMatrix(u"ROTATION", Int32Matrix(1, 1, {rotation}));
    r.AddPixmap(u"OUTIMAGE", out.Get());
    r.AddPixmap(u"OUTIMAGEL", luminance.Get());
}

// The tone table of a request: 65536 x 3 entries.
KDataMatrixTemplate<Int16Class>* ToneMatrix() { return new KDataMatrixTemplate<Int16Class>(65536, 3); }

}  // namespace

TEST(EngineStage3, CropsSizesAndTurnsAsTheKernelsDo)
{
    Stage2Result s;
    const int w = s.active.Width(), h = s.active.Height();
    struct Geometry {
        int outW, outH;
        KRect crop;
        int rotation;
    };
    const Geometry geometries[] = {
        {w, h, KRect(0, 0, w, h), 0},               // 1:1
        {h, w, KRect(2, 3, h - 1, w - 4), 90},      // a quarter turn, cropped
        {w / 2, h / 2, KRect(0, 0, w / 2, h / 2), 180},  // halved
    };
    for (const Geometry& g : geometries) {
        const int cw = g.crop.Width(), ch = g.crop.Height();
        Image out(cw, ch), reference(cw, ch);
        Mono luminance(cw, ch), referenceL(cw, ch);
        KIPEngineRequest request;
        AddStage3(request, s, out, luminance, g.outW, g.outH, g.crop, g.rotation, w, h);
        KIPEngine2::Dispatch(request);
        ASSERT_EQ(request.m_Async.GetState(), kDone) << request.m_Async.m_Message.GetAscii();

        // The default calibration has no green settings: the driver's defaults apply.
        const double factor = CropSizeRotateMore(*s.developed.image.Get(), s.active, w, h, g.outW, g.outH, g.crop,
                                                 KUInt32(g.rotation), *KGlobalLUTsClass::GetCubeRootLUT(),
                                                 *reference.Get(), *referenceL.Get(), 0.001, 200, -120);
        CreateDetailLayer(*referenceL.Get(), factor);
        EXPECT_TRUE(out == reference) << g.rotation;
        EXPECT_TRUE(luminance == referenceL) << g.rotation;
    }
}

TEST(EngineStage3, ChecksParametersCancelsAndReportsTheKernelsFailures)
{
    Stage2Result s;
    const int w = s.active.Width(), h = s.active.Height();
    Image out(w, h);
    Mono luminance(w, h);
    Owned<KPixelClass48RGB> unsigned48(w, h);
    ExpectFailures(kEngineStage3, {
        {"nothing", [](KIPEngineRequest&) {}, kIpErrBadArgument,
         "KIPEngine2::priProcessStage3 missing parameters:STAGE2IMAGE OUTSIZE CROPRECT ROTATION EXPECTEDIMAGESIZE "
         "CAMBDATA TEMPDATA OUTIMAGE OUTIMAGEL "},
        {"types",
         [&](KIPEngineRequest& r) {
             r.AddPixmap(u"STAGE2IMAGE", s.developed.image.Get());
             r.AddMatrix(u"OUTSIZE", Int32Matrix(2, 1, {w, h}));
             r.AddMatrix(u"CROPRECT", Int32Matrix(4, 1, {0, 0, w, h}));  // not two columns
             r.AddMatrix(u"ROTATION", FloatMatrix(1, 1, {0}));
             r.AddMatrix(u"EXPECTEDIMAGESIZE", Int32Matrix(1, 1, {w}));
             r.AddCamdata(u"CAMBDATA", s.scene.camdata.get());
             r.AddPixmap(u"TEMPDATA", s.developed.scratch.Get());
             r.AddPixmap(u"OUTIMAGE", unsigned48.Get());
             r.AddPixmap(u"OUTIMAGEL", out.Get());
         },
         kIpErrBadArgument,
         "KIPEngine2::priProcessStage3 parameter type errors:CROPRECT ROTATION EXPECTEDIMAGESIZE OUTIMAGE OUTIMAGEL "},
        {"45 degrees", [&](KIPEngineRequest& r) { AddStage3(r, s, out, luminance, w, h, KRect(0, 0, w, h), 45, w, h); },
         kIpErrInternal,
         "KIPEngine2: Pixel processing2 exception (CropSizeRotateMore: rotation is not multiple of 90 degrees.)"},
    });

    // A cancel seen at stage 3 ends it with state 3 and leaves no resume state behind.
    KIPEngineRequest request;
    AddStage3(request, s, out, luminance, w, h, KRect(0, 0, w, h), 0, w, h);
    request.m_Async.SetCancel(true);
    KIPEngine2::Dispatch(request);
    EXPECT_EQ(request.m_Async.GetState(), kCancelled);
    EXPECT_EQ(request.m_Resume[0], 0u);
    EXPECT_EQ(out.At(3, 3, 1), 0);
}

TEST(EngineToneLUT, FillsTheMatrixAsTheKernelDoes)
{
    struct Adjust {
        double a[4];
        double c[3];
    };
    const Adjust cases[] = {{{0, 0, 0, 0}, {1, 1, 1}}, {{1.0, -0.5, 0.7, 1.2}, {1.1, 1.0, 0.9}}};
    for (const Adjust& adj : cases) {
        auto* lut = ToneMatrix();
        KIPEngineRequest request;
        request.m_Kind = kEngineToneLUT;
        request.AddMatrix(u"OUTLUT", lut);
        request.AddMatrix(u"ADJUSTMENTS", FloatMatrix(4, 1, {adj.a[0], adj.a[1], adj.a[2], adj.a[3]}));
        request.AddMatrix(u"COLORADJUST", FloatMatrix(3, 1, {adj.c[0], adj.c[1], adj.c[2]}));
        KIPEngine2::Dispatch(request);
        ASSERT_EQ(request.m_Async.GetState(), kDone) << request.m_Async.m_Message.GetAscii();

        std::vector<KInt16> channels[3];
        KColorLUT reference;
        for (int c = 0; c < 3; ++c) {
            channels[c].assign(65536, 0);
            reference.m_pData[c] = channels[c].data();
        }
        reference.m_Size = 65536;
        reference.m_Mask = 65535;
        CreateToneLUT(adj.a[0], adj.a[1], adj.a[2], adj.a[3], adj.c[0], adj.c[1], adj.c[2],
                      *KGlobalLUTsClass::GetCubeLUT(), reference);
        for (int c = 0; c < 3; ++c)
            EXPECT_TRUE(std::equal(channels[c].begin(), channels[c].end(), lut->Elements() + c * 65536)) << c;
        if (adj.c[0] == 1.0) {
            EXPECT_TRUE(std::equal(channels[0].begin(), channels[0].end(), channels[1].begin()));
            EXPECT_TRUE(std::equal(channels[0].begin(), channels[0].end(), channels[2].begin()));
        }
    }
}

TEST(EngineToneLUT, ChecksItsTablesAndAdjustments)
{
    auto request = [](int lutRows, int adjustmentRows, int colourRows) {
        return [=](KIPEngineRequest& r) {
            r.AddMatrix(u"OUTLUT", new KDataMatrixTemplate<Int16Class>(lutRows, 3));
            r.AddMatrix(u"ADJUSTMENTS", FloatMatrix(adjustmentRows, 1, {}));
            r.AddMatrix(u"COLORADJUST", FloatMatrix(colourRows, 1, {1, 1, 1}));
        };
    };
    ExpectFailures(kEngineToneLUT, {
        {"nothing", [](KIPEngineRequest&) {}, kIpErrBadArgument,
         "KIPEngine2::priProcessCreateToneLUT missing parameters:OUTLUT ADJUSTMENTS COLORADJUST "},
        {"types",
         [](KIPEngineRequest& r) {
             r.AddMatrix(u"OUTLUT", new KDataMatrixTemplate<Int32Class>(65536, 3));
             r.AddMatrix(u"ADJUSTMENTS", FloatMatrix(4, 1, {}));
             r.AddMatrix(u"COLORADJUST", Int32Matrix(3, 1, {}));
         },
         kIpErrBadArgument, "KIPEngine2::priProcessCreateToneLUT parameter type errors:OUTLUT COLORADJUST "},
        {"short table", request(65535, 4, 3), kIpErrBadArgument,
         "KIPEngine2::priProcessCreateToneLUT output LUT is not big enough!"},
        {"three adjustments", request(65536, 3, 3), kIpErrBadArgument,
         "KIPEngine2::priProcessCreateToneLUT not enough adjustments given!"},
        {"two colours", request(65536, 4, 2), kIpErrBadArgument,
         "KIPEngine2::priProcessCreateToneLUT not enough adjustments given!"},
    });
}

TEST(EngineStage4, WritesTheOutputAsTheKernelDoes)
{
    Stage2Result s;
    const int w = s.active.Width(), h = s.active.Height();
    Image working(w, h);
    Mono detail(w, h);
    {
        KIPEngineRequest request;
        AddStage3(request, s, working, detail, w, h, KRect(0, 0, w, h), 0, w, h);
        KIPEngine2::Dispatch(request);
        ASSERT_EQ(request.m_Async.GetState(), kDone);
    }
    // The tone table lives here; the requests' matrices are laid over it.
    std::vector<KInt16> toneData(65536 * 3);
    auto toneMatrix = [&](int rows) { return new KDataMatrixTemplate<Int16Class>(rows, 3, toneData.data()); };
    {
        KIPEngineRequest request;
        request.m_Kind = kEngineToneLUT;
        request.AddMatrix(u"OUTLUT", toneMatrix(65536));
        request.AddMatrix(u"ADJUSTMENTS", FloatMatrix(4, 1, {0, 0, 0, 0}));
        request.AddMatrix(u"COLORADJUST", FloatMatrix(3, 1, {1, 1, 1}));
        KIPEngine2::Dispatch(request);
        ASSERT_EQ(request.m_Async.GetState(), kDone);
    }

    auto run = [&](KPixmap& out, int colorSpace, double sharpening, double saturation) {
        KIPEngineRequest request;
        request.m_Kind = kEngineStage4;
        request.AddPixmap(u"STAGE3IMAGE", working.Get());
        request.AddPixmap(u"STAGE3IMAGEL", detail.Get());
        request.AddMatrix(u"TONELUT", toneMatrix(65536));
        request.AddMatrix(u"ADJUSTMENTS", FloatMatrix(2, 1, {sharpening, saturation}));
        request.AddMatrix(u"OUTCOLORSPACE", Int32Matrix(1, 1, {colorSpace}));
        request.AddPixmap(u"OUTIMAGE", &out);
        KIPEngine2::Dispatch(request);
        return request.m_Async.GetState();
    };
    auto reference = [&](KPixmap& out, int colorSpace, int bits, double sharpening, double saturation) {
        KColorLUT view;
        for (int c = 0; c < 3; ++c)
            view.m_pData[c] = toneData.data() + c * 65536;
        view.m_Size = 65536;
        view.m_Mask = 65535;
        KMatrix3x3 matrix;
        CalculateOutputColorMatrix(matrix, colorSpace, saturation);
        KPixelProc2::ProcessToOutput(*working.Get(), *detail.Get(), sharpening, view, matrix,
                                     *CreateOutputGammaLUT(colorSpace, bits), out);
    };

    // 48-bit RGB output takes the 16-bit gamma table, 32-bit BGRA the 8-bit one.
    Owned<KPixelClass48RGB> rgb16(w, h), rgb16Reference(w, h);
    ASSERT_EQ(run(*rgb16.Get(), 2, 0.5, 0.3), kDone);
    reference(*rgb16Reference.Get(), 2, 16, 0.5, 0.3);
    EXPECT_TRUE(rgb16 == rgb16Reference);
    Owned<KPixelClass32BGRA> bgra(w, h), bgraReference(w, h);
    ASSERT_EQ(run(*bgra.Get(), 3, 0.0, 0.0), kDone);
    reference(*bgraReference.Get(), 3, 8, 0.0, 0.0);
    EXPECT_TRUE(bgra == bgraReference);
    EXPECT_EQ(bgra.At(w / 2, 2, 3), 255);

    ExpectFailures(kEngineStage4, {
        {"nothing", [](KIPEngineRequest&) {}, kIpErrBadArgument,
         "KIPEngine2::priProcessStage4 missing parameters:STAGE3IMAGE STAGE3IMAGEL TONELUT ADJUSTMENTS "
         "OUTCOLORSPACE OUTIMAGE "},
        {"types",
         [&](KIPEngineRequest& r) {
             r.AddPixmap(u"STAGE3IMAGE", rgb16.Get());
             r.AddPixmap(u"STAGE3IMAGEL", detail.Get());
             r.AddMatrix(u"TONELUT", toneMatrix(65536));
             r.AddMatrix(u"ADJUSTMENTS", FloatMatrix(2, 1, {}));
             r.AddMatrix(u"OUTCOLORSPACE", FloatMatrix(1, 1, {2}));
             r.AddPixmap(u"OUTIMAGE", bgra.Get());
         },
         kIpErrBadArgument, "KIPEngine2::priProcessStage4 parameter type errors:STAGE3IMAGE OUTCOLORSPACE "},
    });
    auto failure = [&](KPixmap& out, int colorSpace, int toneRows, int adjustmentRows) {
        KIPEngineRequest request;
        request.m_Kind = kEngineStage4;
        request.AddPixmap(u"STAGE3IMAGE", working.Get());
        request.AddPixmap(u"STAGE3IMAGEL", detail.Get());
        request.AddMatrix(u"TONELUT", toneMatrix(toneRows));
        request.AddMatrix(u"ADJUSTMENTS", FloatMatrix(adjustmentRows, 1, {}));
        request.AddMatrix(u"OUTCOLORSPACE", Int32Matrix(1, 1, {colorSpace}));
        request.AddPixmap(u"OUTIMAGE", &out);
        KIPEngine2::Dispatch(request);
        EXPECT_EQ(request.m_Async.GetState(), kFailed);
        return std::make_pair(request.m_Async.GetError(), std::string(request.m_Async.m_Message.GetAscii()));
    };
    using Result = std::pair<KUInt32, std::string>;
    EXPECT_EQ(failure(*bgra.Get(), 2, 65535, 2),
              Result(kIpErrBadArgument, "KIPEngine2::priProcessStage4 tone LUT is not big enough!"));
    EXPECT_EQ(failure(*bgra.Get(), 2, 65536, 1),
              Result(kIpErrBadArgument, "KIPEngine2::priProcessStage4 not enough adjustments given!"));
    EXPECT_EQ(failure(*bgra.Get(), 12, 65536, 2),
              Result(kIpErrInternal, "KIPEngine2: Pixel processing2 exception (Unknown Color Space)"));
    Image signed48(w, h);
    EXPECT_EQ(failure(*signed48.Get(), 2, 65536, 2),
              Result(kIpErrInternal,
                     "KIPEngine2: Pixel processing2 exception (KPixelProc2::ProcessToOutput: unknown output pixel type.)"));
}

TEST(EngineStage3, CalibrationAreasAnywhereOnTheSensorAreRefused)
{
    // Keep and active areas at the ends of the 32-bit range give no image area inside the stage-2 image.
    const int32_t lo = INT32_MIN, hi = INT32_MAX;
    Stage2Result s;
    const int w = s.active.Width(), h = s.active.Height();
    const KRect cases[][2] = {
        {KRect(lo, lo, hi - 1, hi - 1), KRect(0, 0, w - 1, h - 1)},
        {KRect(hi - 1, hi - 1, hi - 1, hi - 1), KRect(lo, lo, hi - 1, hi - 1)},
        {KRect(0, 0, w - 1, h - 1), KRect(lo, lo, hi - 1, hi - 1)},
    };
    for (const auto& c : cases) {
        Scene hostile(48, 32, [&](KzrCalibrationBuilder& b) {
            b.AddRect("KeepImageArea", c[0].left, c[0].top, c[0].right, c[0].bottom);
            b.AddRect("ActiveImageArea", c[1].left, c[1].top, c[1].right, c[1].bottom);
        });
        Image out(w, h);
        Mono luminance(w, h);
        KIPEngineRequest request;
        AddStage3(request, s, out, luminance, w, h, KRect(0, 0, w, h), 0, w, h, hostile.camdata.get());
        KIPEngine2::Dispatch(request);
        EXPECT_EQ(request.m_Async.GetState(), kFailed);
    }
}
