// IPManager2 with the program's data retriever on generated raw files: what the loaders are asked, cancelled
// loads and destruction while a load runs (over the stand-in stages of IpmTestSupport), and developments,
// grey balance and saves through the program's own stages.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

#include "IpmTestSupport.h"
#include "KCache.h"
#include "KPMImage2.h"
#include "KPixelTypes.h"
#include "KPixmap.h"
#include "KTiffImageReader.h"
#include "KzrStandard.h"
#include "LoaderTestSupport.h"

using namespace ipmtest;

namespace {

class ManagerFiles : public loadertest::Fixture {
protected:
    void SetUp() override
    {
        loadertest::Fixture::SetUp();
        KCache* cache = GetGlobalCache();
        const KUInt32 limit = cache->GetMaxSize();
        cache->SetMaxSize(0);
        cache->SetMaxSize(limit);
        for (int k = 0; k < 7; ++k)
            Stages().m_Calls[k] = 0;
        g_EngineStageForTest.store(FakeStage);
    }
    void TearDown() override
    {
        g_EngineStageForTest.store(nullptr);
        EXPECT_TRUE(NothingLocked()) << "a cache block is still locked";
        loadertest::Fixture::TearDown();
    }

    // A camera file of the generator: raw and dark frames, a preview, the default calibration.
    KWString Write(const std::string& name, bool dark = true, bool calibration = true)
    {
        kzrsynth::StandardOptions options;
        options.width = 58;
        options.height = 40;
        options.defaultCalibration.on = calibration;
        options.defaultCalibration.illuminants = true;
        kzrsynth::FileLayout layout = kzrsynth::StandardLayout(options);
        if (!dark)
            std::erase_if(layout.images, [](const kzrsynth::ImageLayout& i) { return i.imageType == KQrlb::kImageDark; });
        lumotest::WriteBytes(Path(name), kzrsynth::BuildFile(layout).bytes);
        return URL(name);
    }
    static std::vector<std::u16string> Labels()
    {
        std::vector<std::u16string> labels;
        for (const KWString& l : GetGlobalCache()->List())
            labels.push_back(l.Str());
        return labels;
    }
    static void Drive(KIPManager& manager, KIpMgrReq& request)
    {
        KPerfTimer stopwatch;
        stopwatch.Start();
        while (request.m_Async.IsBusy() && stopwatch.GetElapsedSeconds() < 30)
            manager.Idle();
        EXPECT_FALSE(request.m_Async.IsBusy());
    }
};

}  // namespace

TEST_F(ManagerFiles, RepeatedProcessedImageMakesNoLoadRequest)
{
    const KWString file = Write("scene.kzr");
    std::unique_ptr<KIPManager> manager(CreateIPManager2());
    KIpMgrReq request;
    Processed(request, file, 24, 24);
    {
        loadertest::ThreadCounter loads;
        manager->Request(&request);
        Drive(*manager, request);
        ASSERT_EQ(request.m_Async.GetState(), kDone) << WideToUtf8(request.m_Async.m_Message);
        EXPECT_GE(loads.Count(), 1);  // the calibration (and its size); stage 1 reads the frames by bands
    }
    EXPECT_EQ(request.m_pResultImage->GetPixmap()->GetWidth(), 24);
    EXPECT_EQ(request.m_pResultImage->GetPixmap()->GetHeight(), 17);  // 48 x 34 active area, fitted

    const std::vector<std::u16string> labels = Labels();
    loadertest::ThreadCounter loads;
    KIpMgrReq again;
    Processed(again, file, 24, 24);
    manager->Request(&again);
    EXPECT_EQ(again.m_Async.GetState(), kDone);
    EXPECT_EQ(loads.Count(), 0);
    EXPECT_EQ(Labels(), labels);
}

TEST_F(ManagerFiles, FileWithoutDarkFrameIsRefused)
{
    const KWString file = Write("nodark.kzr", false);
    std::unique_ptr<KIPManager> manager(CreateIPManager2());
    KIpMgrReq request;
    Processed(request, file, 24, 24);
    manager->Request(&request);
    Drive(*manager, request);
    EXPECT_EQ(request.m_Async.GetError(), kIpErrNotFound);
    EXPECT_EQ(WideToUtf8(request.m_Async.m_Message), "Image does not contain: dark subtracted frame dark frame ");
}

TEST_F(ManagerFiles, FileWithoutCalibrationSaysSo)
{
    const KWString file = Write("no calibration.kzr", true, false);
    std::unique_ptr<KIPManager> manager(CreateIPManager2());
    KIpMgrReq request;
    Processed(request, file, 24, 24);
    manager->Request(&request);
    Drive(*manager, request);
    EXPECT_EQ(request.m_Async.GetState(), kFailed);
    EXPECT_EQ(request.m_Async.GetError(), kIpErrInternal);
    EXPECT_EQ(WideToUtf8(request.m_Async.m_Message),
              "\"no calibration.kzr\" holds no camera calibration data, so it cannot be developed.");
}

namespace {

std::atomic<bool> g_StuckEntered{false};
std::atomic<bool> g_StuckReleased{false};
std::atomic<bool> g_StuckLeft{false};

// A stage that does not end until the test lets it (or a minute has passed).
KEngineOutcome StuckStage(KIPEngineRequest&)
{
    g_StuckEntered = true;
    KPerfTimer stopwatch;
    stopwatch.Start();
    while (!g_StuckReleased && stopwatch.GetElapsedSeconds() < 60)
        SleepMilliseconds(5);
    g_StuckLeft = true;
    return KEngineOutcome::Done();
}

}  // namespace

// An engine that does not end its request: the manager's destruction waits for it a bounded time and returns;
// what the worker still uses stays alive until it ends, and is released then.
TEST_F(ManagerFiles, DestroyingTheManagerWhileItsEngineIsStuck)
{
    const KWString file = Write("stuck.kzr");
    g_StuckEntered = false;
    g_StuckReleased = false;
    g_StuckLeft = false;
    g_EngineStageForTest.store(StuckStage);
    std::unique_ptr<KIPManager> manager(CreateIPManager2());
    KIpMgrReq request;
    Processed(request, file, 24, 24);
    manager->Request(&request);
    KPerfTimer stopwatch;
    stopwatch.Start();
    while (!g_StuckEntered && stopwatch.GetElapsedSeconds() < 30)
        manager->Idle();
    ASSERT_TRUE(g_StuckEntered);
    manager.reset();
    EXPECT_FALSE(g_StuckLeft);  // the manager did not wait for the stage to end
    EXPECT_EQ(request.m_Async.GetState(), kCancelled);
    g_StuckReleased = true;
    stopwatch.Start();
    while (!NothingLocked() && stopwatch.GetElapsedSeconds() < 30)
        SleepMilliseconds(10);
    EXPECT_TRUE(NothingLocked());
}

TEST_F(ManagerFiles, CancelledLoadEndsTheRequest)
{
    const KWString file = Write("scene.kzr");
    std::unique_ptr<KIPManager> manager(CreateIPManager2());
    KIpMgrReq request;
    Processed(request, file, 24, 24);
    loadertest::Gate gate(2000);
    manager->Request(&request);
    while (loadertest::Gate::Seen() == 0)
        manager->Idle();
    request.m_Async.SetCancel(true);
    manager->Idle();
    gate.Open();
    Drive(*manager, request);
    EXPECT_EQ(request.m_Async.GetState(), kCancelled);
}

TEST_F(ManagerFiles, DestroyingTheManagerDuringALoad)
{
    const KWString file = Write("scene.kzr");
    std::unique_ptr<KIPManager> manager(CreateIPManager2());
    KIpMgrReq request;
    Processed(request, file, 24, 24);
    loadertest::Gate gate(300);
    manager->Request(&request);
    while (loadertest::Gate::Seen() == 0)
        manager->Idle();
    manager.reset();
    EXPECT_EQ(request.m_Async.GetState(), kCancelled);
}

namespace {

// Per channel, the mean over one edge of the picture of (edge line - the straight line through the two lines
// inside it): near 0 for a picture whose edges are developed like its inside. Places where the picture is not
// smooth just inside the edge (a patch border meeting the edge at a slant, a disc near it) say nothing about
// the edge and are left out: those whose three inner lines bend by more than 8 levels.
struct EdgeLines {
    double mean[4][3];  // top, bottom, left, right
    int used[4];
};

EdgeLines MeasureEdgeLines(const KPixmap& image)
{
    const int w = image.GetWidth(), h = image.GetHeight();
    auto at = [&](int x, int y, int c) { return int(image.GetRow(y)[3 * x + c]); };
    EdgeLines e{};
    // Side s, position i along it, line k inward from the edge (0 the edge itself).
    auto line = [&](int side, int i, int k, int c) {
        switch (side) {
        case 0: return at(i, k, c);
        case 1: return at(i, h - 1 - k, c);
        case 2: return at(k, i, c);
        default: return at(w - 1 - k, i, c);
        }
    };
    for (int side = 0; side < 4; ++side) {
        const int length = side < 2 ? w : h;
        double sum[3] = {0, 0, 0};
        for (int i = 0; i < length; ++i) {
            bool smooth = true;
            for (int c = 0; c < 3; ++c)
                smooth = smooth && std::abs(line(side, i, 1, c) - 2 * line(side, i, 2, c) + line(side, i, 3, c)) <= 8;
            if (!smooth)
                continue;
            for (int c = 0; c < 3; ++c)
                sum[c] += line(side, i, 0, c) - (2 * line(side, i, 1, c) - line(side, i, 2, c));
            ++e.used[side];
        }
        for (int c = 0; c < 3; ++c)
            e.mean[side][c] = e.used[side] ? sum[c] / e.used[side] : 0.0;
    }
    return e;
}

}  // namespace

// Generated camera frames (a picture framed by dark shields, hot pixels listed as bad pixels) developed at their
// own size, reduced, made thumbnail-sized and enlarged: every edge line follows the two lines inside it, within
// 2 levels of 255 on average; none is darkened or tinted by the shields.
TEST_F(ManagerFiles, DevelopedEdgesFollowTheLinesInsideThem)
{
    g_EngineStageForTest.store(nullptr);
    struct Frame {
        const char* name;
        uint32_t seed;
        bool subtracted;
        std::vector<int> widths;
    } frames[] = {{"landscape.kzr", 1, false, {0, 800, 300, 160, 3000}}, {"subtracted.kzr", 3, true, {0, 3000}}};
    for (const Frame& frame : frames) {
        kzrsynth::StandardOptions options;
        options.width = 1152;
        options.height = 768;
        options.seed = frame.seed;
        if (frame.subtracted)
            options.subtractedFormat = 5;
        options.defaultCalibration.on = true;
        lumotest::WriteBytes(Path(frame.name), kzrsynth::BuildFile(kzrsynth::StandardLayout(options)).bytes);
        std::unique_ptr<KIPManager> manager(CreateIPManager2());
        const int pictureWidth = 1142, pictureHeight = 762;
        for (int width : frame.widths) {
            const int w = width ? width : pictureWidth;
            const int h = width ? int(std::lround(double(pictureHeight) * w / pictureWidth)) : pictureHeight;
            KIpMgrReq request;
            Processed(request, URL(frame.name), w, h);
            manager->Request(&request);
            Drive(*manager, request);
            ASSERT_EQ(request.m_Async.GetState(), kDone) << WideToUtf8(request.m_Async.m_Message);
            const KPixmap* image = request.m_pResultImage->GetPixmap();
            ASSERT_NEAR(image->GetWidth(), w, 2);
            const EdgeLines e = MeasureEdgeLines(*image);
            static const char* const kSides[4] = {"top", "bottom", "left", "right"};
            for (int side = 0; side < 4; ++side) {
                EXPECT_GT(e.used[side], (side < 2 ? image->GetWidth() : image->GetHeight()) * 3 / 4);
                for (int c = 0; c < 3; ++c)
                    EXPECT_NEAR(e.mean[side][c], 0, 2)
                        << frame.name << " at " << w << ": " << kSides[side] << " channel " << c;
            }
        }
    }
}

// A frame under a warm light ("Tungsten"): the white-balanced ramp across the top rises through the highlight
// trigger levels long before the sensor clips. It turns neutral gradually, never by a step.
TEST_F(ManagerFiles, AWarmHighlightRampTurnsNeutralWithoutAStep)
{
    g_EngineStageForTest.store(nullptr);
    kzrsynth::StandardOptions options;
    options.width = 768;
    options.height = 512;
    options.seed = 5;
    options.defaultCalibration.on = true;
    options.defaultCalibration.illuminants = true;
    kzrsynth::FileLayout layout = kzrsynth::StandardLayout(options);
    layout.whiteBalance = "Tungsten";
    lumotest::WriteBytes(Path("tungsten.kzr"), kzrsynth::BuildFile(layout).bytes);
    std::unique_ptr<KIPManager> manager(CreateIPManager2());
    KIpMgrReq request;
    Processed(request, URL("tungsten.kzr"), 758, 506);
    manager->Request(&request);
    Drive(*manager, request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << WideToUtf8(request.m_Async.m_Message);
    const KPixmap* image = request.m_pResultImage->GetPixmap();
    // Rows inside the ramp (the top sixth of the picture), away from its ends: neighbouring columns differ by
    // little more than the noise, in every channel.
    for (int y = 10; y < image->GetHeight() / 6 - 10; y += 10) {
        const uint8_t* row = image->GetRow(y);
        int steps = 0;
        for (int x = image->GetWidth() / 2; x + 1 < image->GetWidth() - 3; ++x)
            for (int c = 0; c < 3; ++c)
                steps += std::abs(int(row[3 * (x + 1) + c]) - int(row[3 * x + c])) > 3;
        EXPECT_EQ(steps, 0) << "row " << y;
    }
}

namespace {

// The program's own stages on a generated camera file of 120 x 94 pixels, whose picture is 110 x 88. (Rows
// of packed 12-bit frames are decoded in groups of eight pixels: a width that is a multiple of 8 leaves no
// pixel of the frame undecoded.)
class ManagerDevelops : public ManagerFiles {
protected:
    void SetUp() override
    {
        ManagerFiles::SetUp();
        g_EngineStageForTest.store(nullptr);
        kzrsynth::StandardOptions options;
        options.width = 120;
        options.height = 94;
        options.defaultCalibration.on = true;
        options.defaultCalibration.illuminants = true;
        lumotest::WriteBytes(Path("scene.kzr"), kzrsynth::BuildFile(kzrsynth::StandardLayout(options)).bytes);
        m_File = URL("scene.kzr");
        m_pManager.reset(CreateIPManager2());
    }
    void TearDown() override
    {
        m_pManager.reset();
        ManagerFiles::TearDown();
    }
    void Run(KIpMgrReq& request)
    {
        m_pManager->Request(&request);
        Drive(*m_pManager, request);
        ASSERT_EQ(request.m_Async.GetState(), kDone) << WideToUtf8(request.m_Async.m_Message);
    }
    // Labels that appear in `after` and not in `before`.
    static std::vector<std::u16string> Added(const std::vector<std::u16string>& before,
                                             const std::vector<std::u16string>& after)
    {
        std::vector<std::u16string> added;
        for (const std::u16string& l : after)
            if (std::find(before.begin(), before.end(), l) == before.end())
                added.push_back(l);
        return added;
    }

    KWString m_File;
    std::unique_ptr<KIPManager> m_pManager;
};

}  // namespace

TEST_F(ManagerDevelops, RepeatedRequestLoadsNothingAndANewExposureMakesOnlyToneAndStage4)
{
    KIpMgrReq request;
    Processed(request, m_File, 110, 88);
    Run(request);
    const KPixmap* image = request.m_pResultImage->GetPixmap();
    EXPECT_EQ(image->GetPixelType(), kPixelType24RGB);
    EXPECT_EQ(image->GetWidth(), 110);
    EXPECT_EQ(image->GetHeight(), 88);
    // The grey ramp across the top: darker left, brighter right, and neutral.
    const uint8_t* row = image->GetRow(5);
    EXPECT_LT(row[3 * 10 + 1], row[3 * 80 + 1]);
    EXPECT_NEAR(row[3 * 60], row[3 * 60 + 1], 8);
    EXPECT_NEAR(row[3 * 60 + 2], row[3 * 60 + 1], 8);

    const std::vector<std::u16string> labels = Labels();
    {
        loadertest::ThreadCounter loads;
        KIpMgrReq again;
        Processed(again, m_File, 110, 88);
        m_pManager->Request(&again);
        EXPECT_EQ(again.m_Async.GetState(), kDone);  // from set-up straight to the result
        EXPECT_EQ(loads.Count(), 0);
        EXPECT_EQ(Labels(), labels);
    }

    loadertest::ThreadCounter loads;
    KIpMgrReq brighter;
    Processed(brighter, m_File, 110, 88);
    brighter.m_Adjustments[0] = 0.5;
    Run(brighter);
    EXPECT_EQ(loads.Count(), 0);
    const std::vector<std::u16string> added = Added(labels, Labels());
    ASSERT_EQ(added.size(), 2u);
    EXPECT_EQ(added[0].rfind(u"ToneLUT-", 0), 0u);
    EXPECT_NE(added[1].find(u"-Stage4-"), std::u16string::npos);
    EXPECT_NE(std::memcmp(brighter.m_pResultImage->GetPixmap()->GetRow(40), image->GetRow(40), 3 * 110), 0);
}

// A crop whose left and top lie before the picture is taken from the picture's corner: the part before it is
// cut off. Kept as asked, the output pixels there would be sampled before the picture's edge.
TEST_F(ManagerDevelops, ACropHangingOffTheTopLeftIsCutAtThePicture)
{
    KIpMgrReq whole;
    Processed(whole, m_File, 110, 88);
    Run(whole);
    KIpMgrReq cropped;
    Processed(cropped, m_File, 110, 88);
    cropped.m_CropRect = KRect(-5, -3, 50, 40);
    Run(cropped);
    EXPECT_TRUE(cropped.m_CropRect == KRect(0, 0, 50, 40));
    const KPixmap* all = whole.m_pResultImage->GetPixmap();
    const KPixmap* part = cropped.m_pResultImage->GetPixmap();
    ASSERT_EQ(part->GetWidth(), 50);
    ASSERT_EQ(part->GetHeight(), 40);
    // The same pixels as the whole picture's corner, but for the crop's own right and bottom edges, where the
    // detail layer's low-pass ends with the crop.
    for (int y = 0; y < 37; ++y)
        ASSERT_EQ(std::memcmp(part->GetRow(y), all->GetRow(y), 3 * 47), 0) << "row " << y;
}

TEST_F(ManagerDevelops, GreyBalanceOnTheGreyRampAndAutomaticSettings)
{
    KIpMgrReq request;
    request.m_FileName = m_File;
    request.m_Kind = kIpReqGreyBalance;
    request.m_SamplePoint = KPoint{55, 8};  // in the grey ramp across the top of the picture
    Run(request);
    for (double c : request.m_ColorAdjust)
        EXPECT_NEAR(c, 1.0, 0.02);

    request.Reset();
    request.m_FileName = m_File;
    request.m_Kind = kIpReqAutoSettings;
    Run(request);
    for (double c : request.m_ColorAdjust)
        EXPECT_GT(c, 0.5);
}

TEST_F(ManagerDevelops, SaveDevelopsThroughTheManagerInStrips)
{
    KIpMgrReq request;
    request.m_FileName = m_File;
    request.m_Kind = kIpReqSave;
    request.m_OutputFormat = kOutput48RGB;
    request.m_OutputWidth = 110;
    request.m_OutputHeight = 88;
    request.m_CropRect = KRect(0, 0, 110, 88);
    request.m_SaveFileFormat = kSaveTIFF;
    request.m_SaveFileName = URL("out.tif");
    Run(request);
    EXPECT_EQ(request.m_Async.GetProgress(), 1.0);
    KTiffImageReader reader(request.m_SaveFileName);
    int32_t width = 0, height = 0;
    int type = 0;
    reader.GetDimensions(&width, &height, &type);
    EXPECT_EQ(width, 110);
    EXPECT_EQ(height, 88);
    EXPECT_EQ(type, kPixelType48RGB);
}
