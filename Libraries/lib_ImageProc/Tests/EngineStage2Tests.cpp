// Stage 2 through the engine's dispatch and on its worker: a generator frame developed with the default
// calibration, pause and resume, the steps that the settings choose, and the driver's own checks.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <set>
#include <vector>

#include "Engine/KIPEngineTestHook.h"
#include "EngineStageSupport.h"
#include "KDebug.h"
#include "KIPEngine2.h"
#include "KRect.h"

using namespace enginetest;

namespace {

// Records the steps stage 2 enters and sets the cancel flag at a chosen step and row.
struct Observer {
    static inline std::set<KUInt32> entered;
    static inline int pauseStep = -1;
    static inline KUInt32 pauseRow = 0;

    static void Observe(KIPEngineRequest& request, KUInt32 step, KUInt32 row)
    {
        entered.insert(step);
        if (int(step) == pauseStep && row == pauseRow)
            request.m_Async.SetCancel(true);
    }
    explicit Observer(int step = -1, KUInt32 row = 0)
    {
        entered.clear();
        pauseStep = step;
        pauseRow = row;
        g_Stage2ObserverForTest.store(Observe);
    }
    ~Observer() { g_Stage2ObserverForTest.store(nullptr); }
};

// The stage-1 result of a scene, and stage 2 run on copies of it.
struct Stage2Run {
    explicit Stage2Run(Scene& s) : scene(s), stage1(s.raw.Width(), s.raw.Height())
    {
        KIPEngineRequest request;
        AddStage1(request, scene, stage1);
        KIPEngine2::Dispatch(request);
        EXPECT_EQ(request.m_Async.GetState(), kDone);
    }

    // A request over a fresh copy of the stage-1 image.
    struct Job {
        Job(Stage2Run& run, const KWChar* whiteBalance = u"Auto")
            : image(run.stage1), scratch(image.Width(), ScratchRows(image.Width(), image.Height())),
              adjust(new KDataMatrixTemplate<FloatClass>(8, 1))
        {
            AddStage2(request, *run.scene.camdata, image, scratch, adjust, whiteBalance);
            request.m_Resume[0] = kStage1Mark;  // as stage 1 leaves the block
        }
        void Dispatch() { KIPEngine2::Dispatch(request); }
        KUInt32 State() const { return request.m_Async.GetState(); }

        Image image;
        Image scratch;
        KDataMatrixTemplate<FloatClass>* adjust;
        KIPEngineRequest request;
    };

    Scene& scene;
    Image stage1;
};

double Mean(const Image& image, int channel, int x0, int x1, int y0, int y1)
{
    double sum = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            sum += image.At(x, y, channel);
    return sum / ((x1 - x0) * (y1 - y0));
}

}  // namespace

TEST(EngineStage2, DevelopsTheGeneratorFrame)
{
    // Tall enough that the middle of the grey ramp lies beyond the reach of the coarse chroma pass from the
    // colour patches below it (its corrections are limited in absolute terms: nearer, their colour shows in the
    // dark).
    Scene scene(96, 160);
    Stage2Run run(scene);
    Stage2Run::Job job(run);
    Observer observer;
    job.Dispatch();
    ASSERT_EQ(job.State(), kDone) << job.request.m_Async.m_Message.GetAscii();
    EXPECT_EQ(job.request.m_Async.GetProgress(), 1.0);
    const KUInt32 resume[5] = {kStage2Mark, 12, 0, 0, 0};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(job.request.m_Resume[i], resume[i]) << i;
    // The default calibration switches every step on.
    EXPECT_EQ(observer.entered, (std::set<KUInt32>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));

    // The grey ramp is neutral and rises from left to right (its darkest columns, where the chroma passes start
    // from the frame's edge, left out).
    const Image& out = job.image;
    double previous = -1;
    for (int x = 15; x + 8 <= 92; x += 8) {
        const double r = Mean(out, 0, x, x + 8, 17, 23), g = Mean(out, 1, x, x + 8, 17, 23),
                     b = Mean(out, 2, x, x + 8, 17, 23);
        EXPECT_NEAR(r / g, 1.0, 0.02) << x;
        EXPECT_NEAR(b / g, 1.0, 0.02) << x;
        EXPECT_GT(g, previous + 100) << x;
        previous = g;
    }
    // The first patch (red) stays red.
    const double r = Mean(out, 0, 8, 15, 45, 75), g = Mean(out, 1, 8, 15, 45, 75), b = Mean(out, 2, 8, 15, 45, 75);
    EXPECT_GT(r, 4 * g);
    EXPECT_GT(r, 4 * b);
    // The sensor's hot pixels inside the picture are gone: no pixel far above its row neighbours.
    for (const kzrsynth::HotPixel& h : kzrsynth::HotPixels(scene.params)) {
        if (h.x < 7 || h.x > 90 || h.y < 5 || h.y > 156)
            continue;
        const int centre = out.At(h.x, h.y, 1), side = (out.At(h.x - 1, h.y, 1) + out.At(h.x + 1, h.y, 1)) / 2;
        EXPECT_LT(centre, side + 300) << h.x << "," << h.y;
    }
    // The automatic adjustments: tenths within their ranges, balance factors 1.0 at most.
    const double* a = job.adjust->Elements();
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(a[i] * 10, std::round(a[i] * 10), 1e-6) << i;
        EXPECT_LE(std::abs(a[i]), 2.0) << i;
    }
    for (int i = 5; i < 8; ++i) {
        EXPECT_GT(a[i], 0.0) << i;
        EXPECT_LE(a[i], 1.0) << i;
    }
}

// A pause takes effect after the step that sees it (steps 7, 9 and 10 after their pass); the resumed job runs
// the remaining steps only, and the image equals an uninterrupted run's.
TEST(EngineStage2, PausedAtAnyStepResumesToTheSameImage)
{
    Scene scene(96, 64);
    Stage2Run run(scene);
    Stage2Run::Job plain(run);
    plain.Dispatch();
    ASSERT_EQ(plain.State(), kDone);

    for (int step = 0; step < 11; ++step) {
        const KUInt32 row = step == 7 ? 49 : 0;  // in the middle of step 7's pass
        Stage2Run::Job job(run);
        {
            Observer observer(step, row);
            job.Dispatch();
        }
        ASSERT_EQ(job.State(), kCancelled) << step;
        EXPECT_EQ(job.request.m_Resume[0], kStage2Mark);
        EXPECT_EQ(job.request.m_Resume[1], KUInt32(step + 1)) << step;
        EXPECT_EQ(job.request.m_Resume[2], 0u);
        const double paused = job.request.m_Async.GetProgress();
        EXPECT_GT(paused, 0.0);
        EXPECT_LT(paused, 1.0);

        job.request.m_Async.SetCancel(false);
        Observer observer;
        job.Dispatch();
        ASSERT_EQ(job.State(), kDone) << step;
        EXPECT_EQ(*observer.entered.begin(), KUInt32(step + 1)) << step;
        EXPECT_TRUE(job.image == plain.image) << "paused after step " << step;
        EXPECT_TRUE(std::equal(job.adjust->Elements(), job.adjust->Elements() + 8, plain.adjust->Elements()));
    }

    // A pause seen in the last step comes too late: the stage is done.
    Stage2Run::Job late(run);
    Observer observer(11);
    late.Dispatch();
    EXPECT_EQ(late.State(), kDone);
    EXPECT_TRUE(late.image == plain.image);
}

TEST(EngineStage2, ChromaBlurSettingChoosesThePasses)
{
    struct Case {
        float chromaBlur;
        std::set<KUInt32> chroma;  // of steps 6, 7, 9, 10
    };
    const Case cases[] = {
        {0.0f, {}}, {50.0f, {6, 7}}, {150.0f, {6, 7, 9}}, {200.9f, {6, 7, 9}}, {250.0f, {6, 7, 9, 10}},
    };
    for (const Case& c : cases) {
        Scene scene(40, 24, [&](KzrCalibrationBuilder& b) { b.AddFloatScalar("ChromaBlur", c.chromaBlur); });
        Stage2Run run(scene);
        Stage2Run::Job job(run);
        Observer observer;
        job.Dispatch();
        ASSERT_EQ(job.State(), kDone) << c.chromaBlur;
        std::set<KUInt32> chroma;
        for (KUInt32 s : observer.entered)
            if (s == 6 || s == 7 || s == 9 || s == 10)
                chroma.insert(s);
        EXPECT_EQ(chroma, c.chroma) << c.chromaBlur;
    }
}

TEST(EngineStage2, SingularCameraMatrixSkipsTheColourSteps)
{
    Scene scene(40, 24, [](KzrCalibrationBuilder& b) { b.AddFloat("CAMToXYZ", {3, 3}, std::vector<float>(9, 0.0f)); });
    Stage2Run run(scene);
    Stage2Run::Job job(run);
    Observer observer;
    job.Dispatch();
    ASSERT_EQ(job.State(), kDone);
    EXPECT_EQ(observer.entered, (std::set<KUInt32>{0, 1, 5, 8, 11}));
}

TEST(EngineStage2, ChecksItsParametersBeforeTouchingTheImage)
{
    Scene scene(16, 12);
    Stage2Run run(scene);
    Image image(run.stage1);
    Image scratch(16, 5), shortScratch(16, 4), narrowScratch(15, 5), tiny(2, 5), tinyScratch(2, 5);
    Owned<KPixelClass48RGB> unsigned48(16, 12);
    Mono mono(16, 5);
    auto all = [&](KIPEngineRequest& r, Image& stage1, Image& temp, KIDataMatrix* adjust) {
        r.m_Resume[0] = kStage1Mark;
        r.AddPixmap(u"STAGE1IMAGE", stage1.Get());
        r.AddCamdata(u"CAMBDATA", scene.camdata.get());
        r.AddPixmap(u"TEMPDATA", temp.Get());
        r.AddMatrix(u"ISO", FloatMatrix(1, 1, {100}));
        r.AddMatrix(u"EXPTIME", FloatMatrix(1, 1, {100}));
        r.AddMatrix(u"AUTOADJUSTOUT", adjust);
        r.AddMatrix(u"OVERRIDERGBNEUTRAL", FloatMatrix(3, 1, {0, 0, 0}));
        r.AddText(u"WB_DESC", u"Auto");
    };
    ExpectFailures(kEngineStage2, {
        {"nothing", [](KIPEngineRequest& r) { r.m_Resume[0] = kStage1Mark; }, kIpErrBadArgument,
         "KIPEngine2::priProcessStage2 missing parameters:STAGE1IMAGE CAMBDATA TEMPDATA ISO EXPTIME AUTOADJUSTOUT "
         "OVERRIDERGBNEUTRAL WB_DESC "},
        {"types",
         [&](KIPEngineRequest& r) {
             r.m_Resume[0] = kStage1Mark;
             r.AddPixmap(u"STAGE1IMAGE", unsigned48.Get());
             r.AddCamdata(u"CAMBDATA", scene.camdata.get());
             r.AddPixmap(u"TEMPDATA", mono.Get());
             r.AddMatrix(u"ISO", Int32Matrix(1, 1, {100}));
             r.AddMatrix(u"EXPTIME", FloatMatrix(1, 1, {100}));
             r.AddMatrix(u"AUTOADJUSTOUT", FloatMatrix(8, 1, {}));
             r.AddMatrix(u"OVERRIDERGBNEUTRAL", FloatMatrix(2, 1, {0, 0}));
             r.AddText(u"WB_DESC", u"Auto");
         },
         kIpErrBadArgument,
         "KIPEngine2::priProcessStage2 parameter type errors:STAGE1IMAGE TEMPDATA ISO OVERRIDERGBNEUTRAL "},
        // Four rows would do by the formula alone (3), but the rings take five.
        {"short scratch", [&](KIPEngineRequest& r) { all(r, image, shortScratch, FloatMatrix(8, 1, {})); },
         kIpErrBadArgument, "KIPEngine2::priProcessStage2 temporary buffer is the wrong size"},
        {"narrow scratch", [&](KIPEngineRequest& r) { all(r, image, narrowScratch, FloatMatrix(8, 1, {})); },
         kIpErrBadArgument, "KIPEngine2::priProcessStage2 temporary buffer is the wrong size"},
        {"seven values", [&](KIPEngineRequest& r) { all(r, image, scratch, FloatMatrix(1, 7, {})); },
         kIpErrBadArgument, "KIPEngine2::priProcessStage2 auto adjust data matrix has fewer than 8 cols"},
        // A frame too small for the row filters fails before any step.
        {"tiny frame", [&](KIPEngineRequest& r) { all(r, tiny, tinyScratch, FloatMatrix(8, 1, {})); }, kIpErrInternal,
         "KIPEngine2: Pixel processing2 exception (Despeckle: input image too small)"},
    },
                   // Nothing is changed: neither the resume block nor the image.
                   [&](const KIPEngineRequest& r, const char* name) {
                       EXPECT_EQ(r.m_Resume[0], kStage1Mark) << name;
                       EXPECT_TRUE(image == run.stage1) << name;
                   });

    // Eight values in one row are as good as in one column.
    KIPEngineRequest wide;
    wide.m_Kind = kEngineStage2;
    all(wide, image, scratch, FloatMatrix(1, 8, {}));
    KIPEngine2::Dispatch(wide);
    EXPECT_EQ(wide.m_Async.GetState(), kDone) << wide.m_Async.m_Message.GetAscii();
}

TEST(EngineStage2, MissingBadPixelsStopAfterTheRowCorrections)
{
    // A "BadPixels" block of another element type hides the default one.
    Scene scene(40, 24, [](KzrCalibrationBuilder& b) { b.AddInt32("BadPixels", {1}, {0}); });
    Stage2Run run(scene);
    Stage2Run::Job job(run);
    job.Dispatch();
    EXPECT_EQ(job.State(), kFailed);
    EXPECT_EQ(job.request.m_Async.GetError(), kIpErrBadArgument);
    EXPECT_EQ(job.request.m_Async.m_Message, "KIPEngine2::priProcessStage2 bad pixels not found in cambfile");
    EXPECT_EQ(job.request.m_Resume[1], 1u);  // step 0 is done and not repeated by a later request
    EXPECT_FALSE(job.image == run.stage1);
}

TEST(EngineStage2, SensorIsoOfZeroGivesUnitGain)
{
    Scene plainScene(40, 24);
    Stage2Run plainRun(plainScene);
    Stage2Run::Job plain(plainRun);
    plain.Dispatch();

    Scene scene(40, 24, [](KzrCalibrationBuilder& b) { b.AddFloatScalar("SensorISO", 0.0f); });
    Stage2Run run(scene);
    Stage2Run::Job job(run);
    KTraceCapture trace;
    job.Dispatch();
    ASSERT_EQ(job.State(), kDone);
    EXPECT_TRUE(trace.Contains("SensorISO 0 is not positive, ISO gain 1.0 used"));
    EXPECT_TRUE(job.image == plain.image);  // the file's ISO 100 over a sensor ISO of 100 is the same gain
}

TEST(EngineStage2, TheResumeBlockDecidesWhereToStart)
{
    Scene scene(40, 24);
    Stage2Run run(scene);
    {
        // Finished: nothing more is done.
        Stage2Run::Job job(run);
        job.request.m_Resume[0] = kStage2Mark;
        job.request.m_Resume[1] = 12;
        Observer observer;
        job.Dispatch();
        EXPECT_EQ(job.State(), kDone);
        EXPECT_TRUE(observer.entered.empty());
        EXPECT_TRUE(job.image == run.stage1);
        EXPECT_EQ(job.request.m_Async.GetProgress(), 1.0);
    }
    {
        // Half done: the steps from the saved one.
        Stage2Run::Job job(run);
        job.request.m_Resume[0] = kStage2Mark;
        job.request.m_Resume[1] = 8;
        Observer observer;
        job.Dispatch();
        EXPECT_EQ(job.State(), kDone);
        EXPECT_EQ(observer.entered, (std::set<KUInt32>{8, 9, 10, 11}));
    }
}

// Without "DarkShieldColRange" a 1152-column frame measures its dark level in the built-in columns 3-7 and
// 1146-1150; another width measures nothing.
TEST(EngineStage2, BuiltInShieldColumnsByWidth)
{
    auto afterRowCorrections = [](int width) {
        Scene scene(width, 20, [](KzrCalibrationBuilder& b) { b.AddInt32("DarkShieldColRange", {2, 2}, {0, 0, 0, 0}); });
        Image image(width, 20), scratch(width, ScratchRows(width, 20));
        image.FillBy([&](int x, int y, int) {
            if (y < 4 || y >= 18)
                return 0;  // the shield rows: no drift
            return (x >= 3 && x <= 7) || (x >= 1146 && x <= 1150) ? 40 : 1000;
        });
        KIPEngineRequest request;
        AddStage2(request, *scene.camdata, image, scratch, new KDataMatrixTemplate<FloatClass>(8, 1));
        Observer observer(1);  // pauses once the bad pixels are done
        KTraceCapture trace;
        KIPEngine2::Dispatch(request);
        EXPECT_EQ(request.m_Async.GetState(), kCancelled);
        EXPECT_TRUE(trace.Contains("Camdata color matrix 'DarkShieldColRange' not found.\n"));
        return image.At(500, 10, 1);
    };
    const int measured = afterRowCorrections(1152), unmeasured = afterRowCorrections(1151);
    EXPECT_NEAR(unmeasured - measured, 40, 3);
}

// On the worker: the owner pauses wherever the stage happens to be, then resumes; the image is the same.
TEST(EngineStage2, PausedOnTheWorkerByTheOwner)
{
    Scene scene(64, 48);
    Stage2Run run(scene);
    Stage2Run::Job plain(run);
    plain.Dispatch();

    KIPEngine2 engine;
    for (double at : {0.0, 0.2, 0.5, 0.8}) {
        Stage2Run::Job job(run);
        engine.Request(job.request);
        while (job.request.m_Async.IsBusy() && job.request.m_Async.GetProgress() < at)
            engine.Idle();
        job.request.m_Async.SetCancel(true);
        while (job.request.m_Async.IsBusy())
            engine.Idle();
        EXPECT_NE(job.State(), kFailed);
        job.request.m_Async.SetCancel(false);
        while (job.State() == kCancelled) {
            engine.Request(job.request);
            while (job.request.m_Async.IsBusy())
                engine.Idle();
        }
        ASSERT_EQ(job.State(), kDone) << at;
        EXPECT_TRUE(job.image == plain.image) << at;
    }
}

TEST(EngineStage2, CalibrationAreasAnywhereOnTheSensorEndTheStage)
{
    // Keep and active areas at the ends of the 32-bit range: moving one into the other's coordinates must not
    // overflow, whatever the stage then makes of them.
    const int32_t lo = INT32_MIN, hi = INT32_MAX;
    const KRect cases[][2] = {
        {KRect(lo, lo, hi - 1, hi - 1), KRect(0, 0, 39, 23)},
        {KRect(hi - 1, hi - 1, hi - 1, hi - 1), KRect(lo, lo, hi - 1, hi - 1)},
        {KRect(0, 0, 39, 23), KRect(lo, lo, hi - 1, hi - 1)},
    };
    for (const auto& c : cases) {
        Scene scene(40, 24, [&](KzrCalibrationBuilder& b) {
            b.AddRect("KeepImageArea", c[0].left, c[0].top, c[0].right, c[0].bottom);
            b.AddRect("ActiveImageArea", c[1].left, c[1].top, c[1].right, c[1].bottom);
            b.AddRect("DarkShieldTop", c[1].left, c[1].top, c[1].right, c[1].bottom);
            b.AddRect("DarkShieldBottom", c[1].left, c[1].top, c[1].right, c[1].bottom);
        });
        Stage2Run run(scene);
        Stage2Run::Job job(run);
        job.Dispatch();
        EXPECT_TRUE(job.State() == kDone || job.State() == kFailed) << job.State();
    }
}
