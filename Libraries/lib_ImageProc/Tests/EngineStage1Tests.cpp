// Stage 1 through the engine's dispatch: the generator's frames developed with the default calibration, the
// resume block, cancel, and the driver's own checks.
#include <gtest/gtest.h>

#include <vector>

#include "EngineStageSupport.h"
#include "KCamdataGetters.h"
#include "KDebug.h"
#include "KIPEngine2.h"
#include "KLinearize.h"

using namespace enginetest;

namespace {

// What stage 1 writes, by direct calls of the kernels, with the offsets when the calibration gives them.
Image Reference(Scene& scene, bool offsets)
{
    Image out(scene.raw.Width(), scene.raw.Height());
    const std::unique_ptr<KColorLUT> lut = GetCamdataColorLUT("LinLUTs", *scene.camdata);
    std::vector<KInt16> o(size_t(out.Width()) * 3);
    if (offsets) {
        const KUInt32 shift = GetCamdataUInt32("RawOffsetFilterShift", *scene.camdata);
        EXPECT_TRUE(CalculateRawOffsets(scene.raw.Get(), o.data(), 0, scene.layout.shieldTop - 1, 1, shift));
    }
    for (int y = 0; y < out.Height(); ++y) {
        if (offsets)
            LinearizeAndDarkSubtractRowWithOffsets(scene.dark.Row(y), scene.raw.Row(y), out.Width(), *lut, out.Row(y),
                                                   o.data());
        else
            LinearizeAndDarkSubtractRow(scene.dark.Row(y), scene.raw.Row(y), out.Width(), *lut, out.Row(y));
    }
    return out;
}

void RunStage1(Scene& scene, Image& out, KIPEngineRequest& request)
{
    AddStage1(request, scene, out);
    KIPEngine2::Dispatch(request);
}

}  // namespace

TEST(EngineStage1, DevelopsTheFramesWithTheColumnOffsets)
{
    Scene scene(64, 40);
    Image out(64, 40);
    KIPEngineRequest request;
    RunStage1(scene, out, request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << request.m_Async.m_Message.GetAscii();
    EXPECT_EQ(request.m_Async.GetProgress(), 1.0);
    EXPECT_EQ(request.m_Resume[0], kStage1Mark);
    EXPECT_EQ(request.m_Resume[1], 0u);
    EXPECT_EQ(request.m_Resume[2], 40u);
    EXPECT_TRUE(out == Reference(scene, true));
    EXPECT_FALSE(out == Reference(scene, false));  // the offsets were used
}

TEST(EngineStage1, OffsetRowsOutsideTheImageAreDroppedWithATrace)
{
    struct Case {
        std::vector<uint32_t> rows;
        bool traced;
    };
    const Case cases[] = {
        {{0, 40, 1}, true},   // last row equal to the height
        {{5, 4, 1}, true},    // last row below the first
        {{0, 39, 1}, false},  // valid, but more than a flat column's worth: offsets used
    };
    for (const Case& c : cases) {
        Scene scene(64, 40, [&](KzrCalibrationBuilder& b) { b.AddUInt32("RawOffsetSourceRows", {3}, c.rows); });
        Image out(64, 40);
        KIPEngineRequest request;
        KTraceCapture trace;
        RunStage1(scene, out, request);
        ASSERT_EQ(request.m_Async.GetState(), kDone);
        EXPECT_EQ(trace.Contains("Camdata raw offset row parameters 'RawOffsetSourceRows' invalid.\n"), c.traced)
            << c.rows[1];
        if (c.traced) {
            EXPECT_TRUE(out == Reference(scene, false)) << c.rows[1];
        }
    }
}

TEST(EngineStage1, ResumesAtTheSavedRowAndHonoursTheCancelFlag)
{
    Scene scene(32, 120);
    const Image full = Reference(scene, true);

    // Resumed at row 100: rows above stay as they were.
    Image out(32, 120);
    out.FillBy([](int, int, int) { return 7; });
    KIPEngineRequest resumed;
    resumed.m_Resume[0] = kStage1Mark;
    resumed.m_Resume[2] = 100;
    RunStage1(scene, out, resumed);
    ASSERT_EQ(resumed.m_Async.GetState(), kDone);
    EXPECT_EQ(resumed.m_Async.GetProgress(), 1.0);
    EXPECT_EQ(resumed.m_Resume[2], 120u);
    for (int y = 0; y < 120; ++y)
        EXPECT_EQ(out.At(5, y, 1), y < 100 ? 7 : full.At(5, y, 1)) << y;

    // Cancelled: the row counter stays where the stage stopped and the next request goes on from there.
    Image again(32, 120);
    KIPEngineRequest request;
    request.m_Async.SetCancel(true);
    RunStage1(scene, again, request);
    EXPECT_EQ(request.m_Async.GetState(), kCancelled);
    EXPECT_EQ(request.m_Resume[0], kStage1Mark);
    EXPECT_EQ(request.m_Resume[2], 0u);
    EXPECT_EQ(again.At(5, 5, 1), 0);
    request.m_Async.SetCancel(false);
    KIPEngine2::Dispatch(request);
    EXPECT_EQ(request.m_Async.GetState(), kDone);
    EXPECT_TRUE(again == full);

    // A resume block of another stage is started over.
    KIPEngineRequest other;
    other.m_Resume[0] = kStage2Mark;
    other.m_Resume[2] = 50;
    Image third(32, 120);
    RunStage1(scene, third, other);
    EXPECT_EQ(other.m_Resume[0], kStage1Mark);
    EXPECT_TRUE(third == full);
}

TEST(EngineStage1, ChecksItsParameters)
{
    Scene scene(32, 16);
    Scene noLut(32, 16, [](KzrCalibrationBuilder& b) { b.AddInt16("LinLUTs", {2, 4}, {0, 1, 2, 3, 4, 5, 6, 7}); });
    Image out(32, 16), small(31, 16), wide(33, 16);
    Owned<KPixelClass48RGB> wrongType(32, 16);
    auto all = [&](KIPEngineRequest& r, KPixmap* raw, KCamdata* camdata, KPixmap* output) {
        r.AddPixmap(u"RAWIMAGE", raw);
        r.AddPixmap(u"DARKIMAGE", scene.dark.Get());
        r.AddCamdata(u"CAMBDATA", camdata);
        r.AddPixmap(u"OUTIMAGE", output);
    };
    ExpectFailures(kEngineStage1, {
        {"nothing", [](KIPEngineRequest&) {}, kIpErrBadArgument,
         "KIPEngine2::priProcessStage1 missing parameters:RAWIMAGE DARKIMAGE CAMBDATA OUTIMAGE "},
        {"types", [&](KIPEngineRequest& r) { all(r, out.Get(), scene.camdata.get(), wrongType.Get()); },
         kIpErrBadArgument, "KIPEngine2::priProcessStage1 parameter type errors:RAWIMAGE OUTIMAGE "},
        {"small output", [&](KIPEngineRequest& r) { all(r, scene.raw.Get(), scene.camdata.get(), small.Get()); },
         kIpErrBadArgument, "KIPEngine2::priProcessStage1 output image of wrong size"},
        {"no tables", [&](KIPEngineRequest& r) { all(r, scene.raw.Get(), noLut.camdata.get(), out.Get()); },
         kIpErrBadArgument, "KIPEngine2::priProcessStage1 camb data doesn't have linearization LUTs"},
        // A wider output passes the driver's test and is refused by the kernels' own check.
        {"wide output", [&](KIPEngineRequest& r) { all(r, scene.raw.Get(), scene.camdata.get(), wide.Get()); },
         kIpErrInternal,
         "KIPEngine2: Pixel processing2 exception "
         "(LinearizeAndDarkSubtractImage: raw and output are different sizes.\n)"},
    });
}
