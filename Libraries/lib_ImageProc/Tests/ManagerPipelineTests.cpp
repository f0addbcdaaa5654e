// IPManager2's pipeline: the state machine over the stand-in stages, stage reuse through the cache, the
// answers of kinds 5, 7 and 8, failures, cancellation and two managers sharing results.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "IpmTestSupport.h"
#include "KCache.h"
#include "KCachedPixmap.h"
#include "KPMImage2.h"
#include "KPerfTimer.h"
#include "KPixelTypes.h"
#include "KSCDiskWin.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "KzrCalibrationBuilder.h"
#include "LumoTestSupport.h"
#include "Manager/KStageBlocks.h"
#include "Manager/KStageLabels.h"

using namespace ipmtest;

namespace {

class ManagerPipeline : public ManagerFixture {
protected:
    int Calls(int kind) const { return Stages().m_Calls[kind].load(); }
    std::string Message(const KIpMgrReq& request) const { return WideToUtf8(request.m_Async.m_Message); }
};

}  // namespace

TEST_F(ManagerPipeline, ProcessedImageRunsEveryStageOnce)
{
    const KWString file = Name("a.kzr");
    AddFile(file, MakeRawFile(96, 64));
    auto manager = NewManager();
    KIpMgrReq request;
    Processed(request, file, 48, 48, kOutput24RGB);
    Run(*manager, request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << Message(request);
    EXPECT_EQ(request.m_Async.GetProgress(), 1.0);
    KPixmap* pixmap = request.m_pResultImage->GetPixmap();
    EXPECT_EQ(pixmap->GetPixelType(), kPixelType24RGB);
    EXPECT_EQ(pixmap->GetWidth(), 48);
    EXPECT_EQ(pixmap->GetHeight(), 32);
    EXPECT_TRUE(request.m_CropRect == KRect(0, 0, 48, 32));
    EXPECT_EQ(request.m_OutputHeight, 32);
    // The ramp of the raw frame, less the dark level, through the stand-in stages: dark left, bright right.
    EXPECT_LT(pixmap->GetRow(10)[0], pixmap->GetRow(10)[3 * 47]);
    for (int kind = kEngineStage1; kind <= kEngineStage4; ++kind)
        EXPECT_EQ(Calls(kind), 1) << kind;
    EXPECT_EQ(m_Counts->m_Data[kDataFrame], 2);
    EXPECT_EQ(m_Counts->m_Data[kDataCalibration], 1);
    EXPECT_EQ(manager->GetPipelineState(), 0u);
}

TEST_F(ManagerPipeline, RepeatedRequestGoesFromSetUpStraightToTheResult)
{
    const KWString file = Name("a.kzr");
    AddFile(file, MakeRawFile(96, 64));
    auto manager = NewManager();
    KIpMgrReq first;
    Processed(first, file, 48, 48);
    Run(*manager, first);
    ASSERT_EQ(first.m_Async.GetState(), kDone) << Message(first);
    const std::vector<std::u16string> labels = CacheLabels(file);
    const FakeRetriever::Counts before = *m_Counts;

    KIpMgrReq second;
    Processed(second, file, 48, 48);
    manager->Request(&second);  // set-up, then the result, inside Request
    EXPECT_EQ(second.m_Async.GetState(), kDone);
    EXPECT_EQ(second.m_pResultImage->GetPixmap(), first.m_pResultImage->GetPixmap());
    EXPECT_TRUE(second.m_CropRect == KRect(0, 0, 48, 32));
    EXPECT_EQ(m_Counts->m_Data[kDataFrame], before.m_Data[kDataFrame]);
    EXPECT_EQ(m_Counts->m_Data[kDataCalibration], before.m_Data[kDataCalibration]);
    EXPECT_EQ(m_Counts->m_Info[kInfoImageCount], before.m_Info[kInfoImageCount]);
    EXPECT_EQ(CacheLabels(file), labels);
    EXPECT_EQ(Calls(kEngineStage4), 1);

    // A second manager finds the same results in the cache.
    auto other = NewManager();
    KIpMgrReq third;
    Processed(third, file, 48, 48);
    other->Request(&third);
    EXPECT_EQ(third.m_Async.GetState(), kDone);
}

TEST_F(ManagerPipeline, ChangedSettingsRecomputeOnlyTheStagesThatDependOnThem)
{
    const KWString file = Name("a.kzr");
    AddFile(file, MakeRawFile(96, 64));
    auto manager = NewManager();
    KIpMgrReq request;
    Processed(request, file, 48, 48);
    Run(*manager, request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << Message(request);

    const int tones = Calls(kEngineToneLUT);

    // The exposure shapes the tone curve: stage 3 is reused, the tone LUT and stage 4 are made again.
    Processed(request, file, 48, 48);
    request.m_Adjustments[0] = 0.515625;
    Run(*manager, request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << Message(request);
    EXPECT_EQ(Calls(kEngineStage3), 1);
    EXPECT_EQ(Calls(kEngineToneLUT), tones + 1);
    EXPECT_EQ(Calls(kEngineStage4), 2);
    EXPECT_EQ(m_Counts->m_Data[kDataFrame], 2);

    // Another crop starts from the stage-2 result: only the calibration is loaded again.
    Processed(request, file, 48, 48);
    request.m_Adjustments[0] = 0.515625;
    request.m_CropRect = KRect(10, 5, 30, 25);
    Run(*manager, request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << Message(request);
    EXPECT_EQ(Calls(kEngineStage1), 1);
    EXPECT_EQ(Calls(kEngineStage2), 1);
    EXPECT_EQ(Calls(kEngineStage3), 2);
    EXPECT_EQ(Calls(kEngineToneLUT), tones + 1);  // the tone LUT of these adjustments is cached
    EXPECT_EQ(m_Counts->m_Data[kDataFrame], 2);
    EXPECT_EQ(m_Counts->m_Data[kDataCalibration], 2);
    EXPECT_EQ(request.m_pResultImage->GetPixmap()->GetWidth(), 20);

    // Another white balance starts again from the frames.
    Processed(request, file, 48, 48);
    request.m_OverrideRGBNeutral[1] = 1.0;
    Run(*manager, request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << Message(request);
    EXPECT_EQ(Calls(kEngineStage1), 2);
    EXPECT_EQ(Calls(kEngineStage2), 2);
}

TEST_F(ManagerPipeline, PrefilledResultIsFoundWithoutLoadingAnything)
{
    const KWString file = Name("cached.kzr");
    FakeFile stored = MakeRawFile(96, 64);
    stored.m_Images.clear();  // nothing to load: only the cache can answer
    AddFile(file, stored);

    KStageLabelInputs inputs;
    inputs.m_FileName = file;
    inputs.m_UniqueID = stored.m_UniqueID;
    inputs.m_WhiteBalance = KWString(u"Auto");
    inputs.m_Crop = KRect(0, 0, 30, 20);
    inputs.m_OutputWidth = 30;
    inputs.m_OutputHeight = 20;
    inputs.m_OutputFormat = kOutput24RGB;
    KWString labels[kResultCount];
    BuildStageLabels(inputs, labels);
    KICacheObject* block = FindOrMakePixmapBlock(*GetGlobalCache(), labels[kResultStage4], kPixelType24RGB, 30, 20);
    ASSERT_NE(block, nullptr);
    PixmapRecord(block).m_Complete = 1;
    const int32_t words[6] = {0, 0, 30, 20, 30, 20};
    std::copy(words, words + 6, PixmapRecord(block).m_Words);
    block->Unlock();

    auto manager = NewManager();
    KIpMgrReq request;
    Processed(request, file, 30, 20);
    manager->Request(&request);
    EXPECT_EQ(request.m_Async.GetState(), kDone) << Message(request);
    EXPECT_EQ(request.m_pResultImage->GetPixmap(), PixmapRecord(block).m_pPixmap);
    EXPECT_EQ(m_Counts->m_Info[kInfoImageCount], 0);
    EXPECT_EQ(m_Counts->m_Data[kDataFrame] + m_Counts->m_Data[kDataCalibration], 0);

    // An incomplete block is no answer: the request goes on to the frames (and finds none).
    KIpMgrReq other;
    Processed(other, file, 30, 20);
    other.m_OutputFormat = kOutput48RGB;
    KWString otherLabels[kResultCount];
    inputs.m_OutputFormat = kOutput48RGB;
    BuildStageLabels(inputs, otherLabels);
    KICacheObject* incomplete =
        FindOrMakePixmapBlock(*GetGlobalCache(), otherLabels[kResultStage4], kPixelType48RGB, 30, 20);
    ASSERT_NE(incomplete, nullptr);
    incomplete->Unlock();
    Run(*manager, other);
    EXPECT_EQ(other.m_Async.GetError(), kIpErrNotFound);
    EXPECT_EQ(m_Counts->m_Info[kInfoImageCount], 1);
}

TEST_F(ManagerPipeline, MissingFramesAreNamed)
{
    struct Case {
        std::vector<KUInt32> kinds;
        const char* message;
    } cases[] = {
        {{kRaw, kViewable}, "Image does not contain: dark subtracted frame dark frame "},
        {{kDark}, "Image does not contain: dark subtracted frame raw frame"},
        {{kViewable}, "Image does not contain: dark subtracted frame dark frame raw frame"},
    };
    auto manager = NewManager();
    int n = 0;
    for (const Case& c : cases) {
        const KWString file = Name("f" + std::to_string(n++) + ".kzr");
        FakeFile stored = MakeRawFile(96, 64);
        std::vector<FakeImage> images;
        for (KUInt32 kind : c.kinds)
            for (const FakeImage& image : stored.m_Images)
                if (image.m_Kind == kind)
                    images.push_back(image);
        stored.m_Images = images;
        AddFile(file, stored);
        KIpMgrReq request;
        Processed(request, file, 48, 48);
        Run(*manager, request);
        EXPECT_EQ(request.m_Async.GetError(), kIpErrNotFound);
        EXPECT_EQ(Message(request), c.message);
    }
    EXPECT_EQ(m_Counts->m_Data[kDataFrame], 0);
}

TEST_F(ManagerPipeline, DarkSubtractedFrameIsTheStage1Result)
{
    const KWString file = Name("sub.kzr");
    FakeFile stored = MakeRawFile(96, 64);
    stored.m_Images = {{kSubtracted, MakeFlatImage(kPixelType48SRGB, 96, 64, 800, 400, 200)}, stored.m_Images[2]};
    AddFile(file, stored);
    auto manager = NewManager();
    KIpMgrReq request;
    Processed(request, file, 96, 64, kOutput48RGB);
    Run(*manager, request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << Message(request);
    EXPECT_EQ(Calls(kEngineStage1), 0);
    EXPECT_EQ(Calls(kEngineStage2), 1);
    EXPECT_EQ(m_Counts->m_Data[kDataFrame], 1);
    const auto* pixel = reinterpret_cast<const uint16_t*>(request.m_pResultImage->GetPixmap()->GetRow(5));
    EXPECT_EQ(pixel[0], 800);
    EXPECT_EQ(pixel[2], 200);
}

TEST_F(ManagerPipeline, AutomaticSettingsComeFromStage2)
{
    const KWString file = Name("a.kzr");
    AddFile(file, MakeRawFile(96, 64));
    auto manager = NewManager();
    KIpMgrReq request;
    request.m_FileName = file;
    request.m_Kind = kIpReqAutoSettings;
    Run(*manager, request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << Message(request);
    for (int i = 0; i < 5; ++i)
        EXPECT_DOUBLE_EQ(request.m_Adjustments[i], 0.1 * (i + 1));
    EXPECT_EQ(request.m_Adjustments[5], 0.0);
    for (int i = 0; i < 3; ++i)
        EXPECT_DOUBLE_EQ(request.m_ColorAdjust[i], 0.1 * (i + 6));
    EXPECT_EQ(Calls(kEngineStage3), 0);

    // Asked again: from the cached stage 2 (only the calibration is loaded).
    request.m_Adjustments[0] = 0;
    Run(*manager, request);
    EXPECT_DOUBLE_EQ(request.m_Adjustments[0], 0.1);
    EXPECT_EQ(Calls(kEngineStage2), 1);
    EXPECT_EQ(m_Counts->m_Data[kDataFrame], 2);
}

TEST_F(ManagerPipeline, GreyBalanceOfASample)
{
    const KWString file = Name("patch.kzr");
    FakeFile stored = MakeRawFile(96, 64, 90);
    // Left half coloured, right half grey (raw minus the dark level of 100).
    stored.m_Images[0].m_pImage = MakeImage(kPixelType48RGB, 96, 64, [](int x, int, int rgb[3]) {
        rgb[0] = x < 48 ? 1100 : 600;
        rgb[1] = x < 48 ? 600 : 600;
        rgb[2] = x < 48 ? 300 : 600;
    });
    AddFile(file, stored);
    auto manager = NewManager();
    KIpMgrReq request;
    request.m_FileName = file;
    request.m_Kind = kIpReqGreyBalance;
    // Turned a quarter clockwise, the unturned left half shows as the top half (display 64 x 96).
    request.m_SamplePoint = KPoint{30, 10};
    Run(*manager, request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << Message(request);
    EXPECT_NEAR(request.m_ColorAdjust[0], 0.605, 1e-9);
    EXPECT_NEAR(request.m_ColorAdjust[1], 1.21, 1e-9);
    EXPECT_NEAR(request.m_ColorAdjust[2], 3.025, 1e-9);
    EXPECT_EQ(request.m_OutputWidth, 100);
    EXPECT_TRUE(request.m_CropRect == KRect(0, 0, 100, 100));

    request.m_SamplePoint = KPoint{30, 90};  // the grey half
    Run(*manager, request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << Message(request);
    for (double c : request.m_ColorAdjust)
        EXPECT_NEAR(c, 1.0, 0.02);

    // A point off the image gives an empty sample: refused, the colour adjustment kept.
    request.m_ColorAdjust[0] = 7.0;
    request.m_SamplePoint = KPoint{-100, -100};
    Run(*manager, request);
    EXPECT_EQ(request.m_Async.GetError(), kIpErrBadArgument);
    EXPECT_EQ(Message(request), "IPManager2::priGreyBalance: the sample is empty or black.");
    EXPECT_EQ(request.m_ColorAdjust[0], 7.0);
    EXPECT_EQ(Calls(kEngineStage2), 1);
}

TEST_F(ManagerPipeline, GreyBalanceAtPointsAndAreasAtTheEndsOfTheRange)
{
    const int32_t lo = INT32_MIN, hi = INT32_MAX;
    const KWString file = Name("ends.kzr");
    AddFile(file, MakeRawFile(96, 64, 90));
    auto manager = NewManager();
    KIpMgrReq request;
    request.m_FileName = file;
    request.m_Kind = kIpReqGreyBalance;
    for (KPoint point : {KPoint{hi, hi}, KPoint{lo, lo}, KPoint{hi, lo}, KPoint{lo, hi}}) {
        request.m_SamplePoint = point;
        Run(*manager, request);
        EXPECT_EQ(request.m_Async.GetError(), kIpErrBadArgument) << point.x << "," << point.y;
        EXPECT_EQ(Message(request), "IPManager2::priGreyBalance: the sample is empty or black.");
    }

    // Calibration areas and image sizes anywhere in the 32-bit range: a sample inside the image or none.
    const KRect areas[] = {KRect(lo, lo, hi - 1, hi - 1), KRect(hi - 1, hi - 1, hi - 1, hi - 1),
                           KRect(0, 0, 95, 63)};
    int n = 0;
    for (const KRect& keep : areas) {
        for (const KRect& active : areas) {
            for (const char* size : {"1", "2147483647", "-2147483648"}) {
                FakeFile hostile = MakeRawFile(96, 64);
                for (auto& [key, value] : hostile.m_Props)
                    if (key == "COLS" || key == "ROWS")
                        value = size;
                KzrCalibrationBuilder b;
                b.AddRect("KeepImageArea", keep.left, keep.top, keep.right, keep.bottom);
                b.AddRect("ActiveImageArea", active.left, active.top, active.right, active.bottom);
                hostile.m_Calibration = b.BuildFile(KzrByteOrder::Little);
                const KWString name = Name("hostile" + std::to_string(n++) + ".kzr");
                AddFile(name, hostile);
                request.m_FileName = name;
                request.m_SamplePoint = KPoint{0, 0};
                Run(*manager, request);
                EXPECT_TRUE(request.m_Async.GetState() == kDone || request.m_Async.GetState() == kFailed);
            }
        }
    }
}

TEST_F(ManagerPipeline, GreyBalanceIsNotAnsweredWithACachedImage)
{
    const KWString file = Name("a.kzr");
    const FakeFile& stored = AddFile(file, MakeRawFile(96, 64));
    // A finished image under the labels a grey balance has (100 x 100, the record's format).
    KStageLabelInputs inputs;
    inputs.m_FileName = file;
    inputs.m_UniqueID = stored.m_UniqueID;
    inputs.m_WhiteBalance = KWString(u"Auto");
    inputs.m_Crop = KRect(0, 0, 100, 100);
    inputs.m_OutputWidth = 100;
    inputs.m_OutputHeight = 100;
    KWString labels[kResultCount];
    BuildStageLabels(inputs, labels);
    KICacheObject* block = FindOrMakePixmapBlock(*GetGlobalCache(), labels[kResultStage4], kPixelType24RGB, 100, 66);
    ASSERT_NE(block, nullptr);
    PixmapRecord(block).m_Complete = 1;
    block->Unlock();

    auto manager = NewManager();
    KIpMgrReq request;
    request.m_FileName = file;
    request.m_Kind = kIpReqGreyBalance;
    request.m_SamplePoint = KPoint{40, 20};
    Run(*manager, request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << Message(request);
    EXPECT_EQ(request.m_pResultImage, nullptr);
    EXPECT_EQ(Calls(kEngineStage2), 1);
    for (double c : request.m_ColorAdjust)
        EXPECT_NEAR(c, 1.0, 1e-9);
}

TEST_F(ManagerPipeline, IlluminantsLoadOnlyTheCalibration)
{
    const KWString file = Name("a.kzr");
    AddFile(file, MakeRawFile(96, 64));
    const KWString bare = Name("bare.kzr");
    FakeFile noNeutrals = MakeRawFile(96, 64);
    noNeutrals.m_Calibration = MakeCalibration(96, 64, true, false, true);
    AddFile(bare, noNeutrals);
    auto manager = NewManager();

    KIpMgrReq request;
    request.m_FileName = file;
    request.m_Kind = kIpReqIlluminants;
    request.m_pImageProps->AddPair("COLS", "96");
    Run(*manager, request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << Message(request);
    std::vector<std::string> pairs;
    for (KPropPair* p = request.m_pImageProps->GetFirstPair(); p; p = p->GetNext())
        pairs.push_back(WideToUtf8(p->GetKey()) + "=" + WideToUtf8(p->GetValue()));
    EXPECT_EQ(pairs, (std::vector<std::string>{"COLS=96", "Auto=", "Custom=", "Daylight="}));
    EXPECT_EQ(m_Counts->m_Data[kDataCalibration], 1);
    EXPECT_EQ(m_Counts->m_Data[kDataFrame], 0);
    EXPECT_EQ(m_Counts->m_Info[kInfoImageCount], 0);

    // Without an "AutoRGBNeutral" matrix there is no "Auto".
    request.Reset();
    request.m_FileName = bare;
    request.m_Kind = kIpReqIlluminants;
    Run(*manager, request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << Message(request);
    EXPECT_EQ(request.m_pImageProps->FindPair(KWString(u"Auto")), nullptr);
    EXPECT_NE(request.m_pImageProps->FindPair(KWString(u"Custom")), nullptr);

    request.Reset();
    request.m_FileName = file;
    request.m_Kind = kIpReqIlluminants;
    delete request.m_pImageProps;
    request.m_pImageProps = nullptr;
    Run(*manager, request);
    EXPECT_EQ(Message(request), "IPManager2::priCompleteGetIlluminants: Property list ptr is NULL.");
}

TEST_F(ManagerPipeline, SecondRequestWhileBusyIsRefusedAndTheFirstRunsOn)
{
    const KWString file = Name("a.kzr");
    AddFile(file, MakeRawFile(96, 64));
    KEvent gate;
    SetGate(kEngineStage1, &gate);
    auto manager = NewManager();
    KIpMgrReq first;
    Processed(first, file, 48, 48);
    manager->Request(&first);
    while (Calls(kEngineStage1) == 0 && first.m_Async.IsBusy())
        manager->Idle();
    ASSERT_EQ(manager->GetPipelineState(), IPManager2::kStateWaitStage1);

    KIpMgrReq second;
    second.m_Kind = kIpReqProperties;
    manager->Request(&second);
    EXPECT_EQ(second.m_Async.GetError(), kIpErrBusy);
    EXPECT_EQ(Message(second), "IPManager2 is busy.");
    EXPECT_EQ(first.m_Async.GetState(), kInProgress);
    const double progress = first.m_Async.GetProgress();
    EXPECT_GE(progress, 0.19);
    EXPECT_LE(progress, 0.2);

    gate.Set();
    Drive(*manager, first);
    EXPECT_EQ(first.m_Async.GetState(), kDone) << Message(first);
}

TEST_F(ManagerPipeline, CancelledStageResumesFromItsResumeBlock)
{
    const KWString file = Name("a.kzr");
    AddFile(file, MakeRawFile(96, 64));
    KEvent gate;
    SetGate(kEngineStage3, &gate);
    auto manager = NewManager();
    KIpMgrReq request;
    Processed(request, file, 48, 48);
    manager->Request(&request);
    while (Calls(kEngineStage3) == 0 && request.m_Async.IsBusy())
        manager->Idle();
    request.m_Async.SetCancel(true);
    manager->Idle();  // hands the cancel flag to the engine's request
    gate.Set();
    Drive(*manager, request);
    EXPECT_EQ(request.m_Async.GetState(), kCancelled);
    EXPECT_EQ(request.m_pResultImage, nullptr);

    // Again: stages 1 and 2 come from the cache, stage 3 gets its resume block back.
    SetGate(-1, nullptr);
    Processed(request, file, 48, 48);
    Run(*manager, request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << Message(request);
    EXPECT_EQ(Calls(kEngineStage1), 1);
    EXPECT_EQ(Calls(kEngineStage3), 2);
    EXPECT_EQ(Stages().m_LastResume1[kEngineStage3].load(), 42u);
}

TEST_F(ManagerPipeline, CancelBeforeALoadEndsTheRequest)
{
    const KWString file = Name("a.kzr");
    AddFile(file, MakeRawFile(96, 64));
    auto manager = NewManager(50);
    KIpMgrReq request;
    Processed(request, file, 48, 48);
    manager->Request(&request);
    ASSERT_EQ(manager->GetPipelineState(), IPManager2::kStateWaitRaw);
    request.m_Async.SetCancel(true);
    Drive(*manager, request);
    EXPECT_EQ(request.m_Async.GetState(), kCancelled);
    EXPECT_TRUE(NothingLocked());
}

TEST_F(ManagerPipeline, EngineFailuresAndExceptionsEndTheRequestAndTheManagerGoesOn)
{
    const KWString file = Name("a.kzr");
    AddFile(file, MakeRawFile(96, 64, 90));
    auto manager = NewManager();
    KIpMgrReq request;

    // The engine's own drivers: stage 1 refuses a calibration without linearisation tables.
    g_EngineStageForTest.store(nullptr);
    Processed(request, file, 48, 48);
    Run(*manager, request);
    EXPECT_EQ(request.m_Async.GetState(), kFailed);
    EXPECT_EQ(request.m_Async.GetError(), kIpErrBadArgument);
    EXPECT_EQ(Message(request), "KIPEngine2::priProcessStage1 camb data doesn't have linearization LUTs");
    // ... and turns previews with its rotate driver.
    Preview(request, file, 16, 24, KRect(0, 0, 16, 24));
    manager->Request(&request);
    EXPECT_EQ(request.m_Async.GetState(), kDone) << Message(request);
    EXPECT_EQ(request.m_pResultImage->GetPixmap()->GetRow(0)[4 * 15 + 2], 255);
    g_EngineStageForTest.store(FakeStage);

    // An exception out of a step.
    LastRetriever()->m_ThrowOnData = true;
    Processed(request, file, 48, 48);
    Run(*manager, request);
    EXPECT_EQ(request.m_Async.GetError(), kIpErrFileIO);
    EXPECT_EQ(Message(request), "IPManager2::priProcessIdle: caught KExceptionFileIO(File read failed, disk on fire)!");
    EXPECT_EQ(manager->GetPipelineState(), 0u);

    LastRetriever()->m_ThrowOnData = false;
    Processed(request, file, 48, 48);
    Run(*manager, request);
    EXPECT_EQ(request.m_Async.GetState(), kDone) << Message(request);
}

TEST_F(ManagerPipeline, BadArgumentsOfAProcessedImage)
{
    const KWString file = Name("a.kzr");
    AddFile(file, MakeRawFile(96, 64));
    auto manager = NewManager();
    KIpMgrReq request;
    Processed(request, file, 48, 48, 0);
    Run(*manager, request);
    EXPECT_EQ(request.m_Async.GetError(), kIpErrBadArgument);
    EXPECT_EQ(Message(request), "IPManager2: output format 0 is not 1, 2 or 3.");

    for (KRect crop : {KRect(48, 0, 50, 10), KRect(0, 32, 10, 40), KRect(10, 0, 5, 10), KRect(0, 0, 0, 10)}) {
        Processed(request, file, 48, 48);
        request.m_CropRect = crop;
        Run(*manager, request);
        EXPECT_EQ(request.m_Async.GetError(), kIpErrBadArgument) << crop.left << "," << crop.top;
        EXPECT_EQ(Message(request), "IPManager2::priStage3Process: Cropping rectangle out of bounds.");
    }
    EXPECT_EQ(Calls(kEngineStage3), 0);

    // Crops at the ends of the 32-bit range are cut to the fitted image or refused.
    const int32_t lo = INT32_MIN, hi = INT32_MAX;
    for (KRect crop : {KRect(lo, lo, hi, hi), KRect(hi, hi, lo, lo), KRect(lo, 0, 2, hi)}) {
        Processed(request, file, 48, 48);
        request.m_CropRect = crop;
        Run(*manager, request);
        EXPECT_TRUE(request.m_Async.GetState() == kDone || request.m_Async.GetError() == kIpErrBadArgument)
            << crop.left << "," << crop.top;
    }
}

TEST_F(ManagerPipeline, FullCacheFailsWithOutOfMemory)
{
    const KWString file = Name("a.kzr");
    AddFile(file, MakeRawFile(96, 64));
    auto manager = NewManager();
    KCache* cache = GetGlobalCache();
    const KUInt32 limit = cache->GetMaxSize();
    cache->SetMaxSize(100000);  // room for the loaded frames, not for a stage-1 result as well
    KIpMgrReq request;
    Processed(request, file, 48, 48);
    Run(*manager, request);
    EXPECT_EQ(request.m_Async.GetError(), kIpErrOutOfMemory);
    EXPECT_EQ(Message(request), "IPManager2::priStage1Process:Cache allocation failed.");
    Preview(request, file, 200, 200, KRect(0, 0, 200, 200));
    manager->Request(&request);
    EXPECT_EQ(request.m_Async.GetError(), kIpErrOutOfMemory);
    EXPECT_EQ(Message(request), "IPManager2:Cache allocation failed.");
    cache->SetMaxSize(limit);
}

TEST_F(ManagerPipeline, TwoManagersMeetAtABlockAndComputeItOnce)
{
    const KWString file = Name("a.kzr");
    AddFile(file, MakeRawFile(96, 64));
    KEvent gate;
    SetGate(kEngineStage1, &gate);
    auto first = NewManager();
    auto second = NewManager();
    KIpMgrReq a, b;
    Processed(a, file, 48, 48);
    Processed(b, file, 48, 48);
    first->Request(&a);
    while (Calls(kEngineStage1) == 0)
        first->Idle();
    second->Request(&b);
    for (int i = 0; i < 20; ++i)
        second->Idle();
    EXPECT_EQ(second->GetPipelineState(), IPManager2::kStateStage1);  // waiting for the block's mutex
    gate.Set();
    KPerfTimer stopwatch;
    stopwatch.Start();
    while ((a.m_Async.IsBusy() || b.m_Async.IsBusy()) && stopwatch.GetElapsedSeconds() < 10) {
        first->Idle();
        second->Idle();
    }
    EXPECT_EQ(a.m_Async.GetState(), kDone) << Message(a);
    EXPECT_EQ(b.m_Async.GetState(), kDone) << Message(b);
    EXPECT_EQ(Calls(kEngineStage1), 1);
    EXPECT_EQ(Calls(kEngineStage2), 1);
    EXPECT_EQ(Calls(kEngineStage4), 1);
}

TEST_F(ManagerPipeline, DestroyingABusyManagerWaitsForItsEngine)
{
    const KWString file = Name("a.kzr");
    AddFile(file, MakeRawFile(96, 64));
    KEvent gate;
    SetGate(kEngineStage2, &gate);
    auto manager = NewManager();
    KIpMgrReq request;
    Processed(request, file, 48, 48);
    manager->Request(&request);
    while (Calls(kEngineStage2) == 0)
        manager->Idle();
    std::thread opener([&gate] {
        SleepMilliseconds(50);
        gate.Set();
    });
    manager.reset();  // cancels stage 2 and waits for it before letting go of its blocks
    opener.join();
    EXPECT_EQ(request.m_Async.GetState(), kCancelled);
    EXPECT_TRUE(NothingLocked());
}

TEST_F(ManagerPipeline, ProgressRisesFromZeroToOne)
{
    const KWString file = Name("a.kzr");
    AddFile(file, MakeRawFile(96, 64));
    auto manager = NewManager(10);
    KIpMgrReq request;
    Processed(request, file, 48, 48);
    manager->Request(&request);
    double last = 0.0;
    while (request.m_Async.IsBusy()) {
        const double progress = request.m_Async.GetProgress();
        EXPECT_GE(progress, 0.0);
        EXPECT_LE(progress, 1.0);
        last = std::max(last, progress);
        manager->Idle();
    }
    EXPECT_GT(last, 0.0);
    EXPECT_EQ(request.m_Async.GetProgress(), 1.0);
}

namespace {

// A scratch machine with the disk class, for calibration files on disk.
class ManagerWithDisk : public ManagerPipeline {
protected:
    void SetUp() override
    {
        ManagerPipeline::SetUp();
        std::filesystem::create_directories(m_Temp / "machine");
        setenv("LUMO_MACHINE", (m_Temp / "machine").c_str(), 1);
        RegisterDiskStorageClass();
    }
    void TearDown() override
    {
        ShutdownStorageClasses();
        unsetenv("LUMO_MACHINE");
        ManagerPipeline::TearDown();
    }
    KWString URL(const std::string& name)
    {
        KWString url;
        EXPECT_TRUE(PosixPathToURL((m_Temp / name).string(), url));
        return url;
    }
    lumotest::TempDir m_Temp;
};

}  // namespace

TEST_F(ManagerWithDisk, ExternalCalibrationFileReplacesTheFilesOwn)
{
    const KWString file = Name("a.kzr");
    FakeFile stored = MakeRawFile(96, 64);
    stored.m_Calibration = MakeCalibration(96, 64, false);  // no illuminants in the file's own
    AddFile(file, stored);
    lumotest::WriteBytes(m_Temp / "cal.kcm", MakeCalibration(96, 64, true));
    auto manager = NewManager();

    KIpMgrReq request;
    request.m_FileName = file;
    request.m_Kind = kIpReqIlluminants;
    request.m_ExternalCamfile = URL("cal.kcm");
    Run(*manager, request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << Message(request);
    EXPECT_NE(request.m_pImageProps->FindPair(KWString(u"Daylight")), nullptr);
    EXPECT_EQ(m_Counts->m_Data[kDataCalibration], 0);

    request.Reset();
    request.m_FileName = file;
    request.m_Kind = kIpReqIlluminants;
    request.m_ExternalCamfile = URL("missing.kcm");
    Run(*manager, request);
    EXPECT_EQ(request.m_Async.GetError(), kIpErrCamfileNotFound);
    EXPECT_EQ(Message(request), "KIPManager::priLoadCamfile: external camfile not found.");

    // The processed image of another calibration is computed anew, not taken from the file's own.
    Processed(request, file, 48, 48);
    Run(*manager, request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << Message(request);
    Processed(request, file, 48, 48);
    request.m_ExternalCamfile = URL("cal.kcm");
    Run(*manager, request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << Message(request);
    EXPECT_EQ(Calls(kEngineStage1), 2);
}
