// IPManager2 with the program's data retriever on generated raw files (the stages are the stand-ins of
// IpmTestSupport): what the loaders are asked, cancelled loads, and destruction while a load runs.
#include <gtest/gtest.h>

#include <thread>

#include "IpmTestSupport.h"
#include "KCache.h"
#include "KPMImage2.h"
#include "KPixmap.h"
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
    KWString Write(const std::string& name, bool dark = true)
    {
        kzrsynth::StandardOptions options;
        options.width = 58;
        options.height = 40;
        options.defaultCalibration.on = true;
        options.defaultCalibration.illuminants = true;
        kzrsynth::FileSpec spec = kzrsynth::StandardSpec(options);
        if (!dark)
            std::erase_if(spec.images, [](const kzrsynth::ImageSpec& i) { return i.imageType == KQrlb::kImageDark; });
        lumotest::WriteBytes(Path(name), kzrsynth::BuildFile(spec).bytes);
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
        EXPECT_GE(loads.Count(), 3);  // raw frame, dark frame, calibration (and its size)
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
