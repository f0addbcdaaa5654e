#include <gtest/gtest.h>

#include "KCache.h"
#include "KCachedPixmap.h"
#include "KIpMgrReq.h"
#include "KPMImage2.h"
#include "KPropTree.h"

namespace {
void ExpectDefaults(const KIpMgrReq& r)
{
    EXPECT_TRUE(r.m_FileName.IsEmpty());
    EXPECT_EQ(r.m_Kind, 0u);
    EXPECT_EQ(r.m_OutputWidth, 0);
    EXPECT_EQ(r.m_OutputHeight, 0);
    EXPECT_EQ(r.m_CropRect, KRect(0, 0, 0, 0));
    EXPECT_EQ(r.m_OutputFormat, 0u);
    ASSERT_NE(r.m_pImageProps, nullptr);
    EXPECT_EQ(r.m_pImageProps->GetName(), "ImageProps");
    EXPECT_EQ(r.m_pImageProps->GetPairCount(), 0u);
    EXPECT_EQ(r.m_pImageProps->GetChildCount(), 0u);
    ASSERT_NE(r.m_pManagerData, nullptr);
    EXPECT_EQ(r.m_pManagerData->GetName(), "IPManagerData");
    EXPECT_EQ(r.m_pManagerData->GetPairCount(), 0u);
    for (double a : r.m_Adjustments)
        EXPECT_EQ(a, 0.0);
    for (double c : r.m_ColorAdjust)
        EXPECT_EQ(c, 0.0);
    EXPECT_EQ(r.m_OutputColorSpace, 2u);
    for (double n : r.m_OverrideRGBNeutral)
        EXPECT_EQ(n, -1.0);
    EXPECT_TRUE(r.m_SaveFileName.IsEmpty());
    EXPECT_EQ(r.m_SaveFileFormat, 0u);
    EXPECT_EQ(r.m_SaveValue, 100u);
    EXPECT_EQ(r.m_SaveFlag, 0);
    EXPECT_EQ(r.m_AllowMissingProfile, 1);
    EXPECT_TRUE(r.m_ExternalCamfile.IsEmpty());
    EXPECT_EQ(r.m_pResultImage, nullptr);
    EXPECT_EQ(r.m_Async.GetProgress(), -1.0);
    EXPECT_EQ(r.m_Async.GetState(), 0u);
    EXPECT_EQ(r.m_Async.GetError(), 0u);
    EXPECT_TRUE(r.m_Async.m_Message.IsEmpty());
    EXPECT_EQ(r.m_Async.GetCancel(), 0);
}

// A display image handle over a block of its own cache; the handle's lock alone keeps the block, and the
// cache (of no size) lets go of the block as soon as it is unlocked.
KPMImage2* MakeHandle(KCache& cache)
{
    KICacheObject* block = cache.Allocate(u"result", GetKCachedPixmapBlockSize(13, 2, 2));
    MapKCachedPixmap(block->GetData(), 13, 2, 2);
    auto* image = new KPMImage2(block);
    block->Unlock();
    cache.SetMaxSize(0);
    return image;
}
}  // namespace

TEST(KIpMgrReq, ConstructionGivesTheDefaultsAndVersionOne)
{
    KIpMgrReq r;
    ExpectDefaults(r);
    EXPECT_EQ(r.m_Version.Major, 1);
    EXPECT_EQ(r.m_Version.Minor, 0);
    EXPECT_EQ(r.m_Version.Revision, 0);
    EXPECT_EQ(r.m_Version.Build, 0);
    EXPECT_TRUE(r.m_SoftwareName.IsEmpty());
}

TEST(KIpMgrReq, ResetRestoresEveryDefaultButKeepsVersionSoftwareAndSamplePoint)
{
    KCache cache;
    KIpMgrReq r;
    r.m_FileName = u"disk://C/a.kzr";
    r.m_Kind = 3;
    r.m_Version.Major = 4;
    r.m_SoftwareName = u"LumoDesk";
    r.m_OutputWidth = 640;
    r.m_OutputHeight = 480;
    r.m_CropRect = KRect(1, 2, 3, 4);
    r.m_OutputFormat = kOutput48RGB;
    r.m_pImageProps->AddPair("ROWS", "10");
    r.m_pManagerData->AddPair("x", "y");
    for (double& a : r.m_Adjustments)
        a = 0.5;
    r.m_ColorAdjust[1] = 1.2;
    r.m_OutputColorSpace = 5;
    r.m_OverrideRGBNeutral[2] = 0.7;
    r.m_SaveFileName = u"disk://C/out.tif";
    r.m_SaveFileFormat = kSaveTIFF;
    r.m_SaveValue = 85;
    r.m_SaveFlag = 1;
    r.m_AllowMissingProfile = 0;
    r.m_SamplePoint = {7, 9};
    r.m_ExternalCamfile = u"disk://C/cal.kcm";
    r.m_pResultImage = MakeHandle(cache);
    r.m_Async.SetProgress(0.4);
    r.m_Async.Fail(kIpErrNotFound, KWString(u"gone"));
    r.m_Async.SetCancel(true);

    r.Reset();
    ExpectDefaults(r);
    EXPECT_NE(r.m_pImageProps, nullptr);
    EXPECT_EQ(r.m_Version.Major, 4);
    EXPECT_EQ(r.m_SoftwareName, "LumoDesk");
    EXPECT_EQ(r.m_SamplePoint.x, 7);
    EXPECT_EQ(r.m_SamplePoint.y, 9);
    // The handle's only reference was the record's: releasing it gave the block back to the cache.
    EXPECT_FALSE(cache.Exists(u"result", 0));
}

TEST(KIpMgrReq, DestructionReleasesTheResultImage)
{
    KCache cache;
    {
        KIpMgrReq r;
        r.m_pResultImage = MakeHandle(cache);
        r.m_pResultImage->AddRef();
        EXPECT_EQ(r.m_pResultImage->GetRefCount(), 2);
        KPMImage2* kept = r.m_pResultImage;
        r.Reset();
        EXPECT_EQ(kept->GetRefCount(), 1);
        r.m_pResultImage = kept;
    }
    EXPECT_FALSE(cache.Exists(u"result", 0));
}

TEST(KIpMgrAsync, EndWritesMessageAndErrorWithTheState)
{
    KIpMgrAsync a;
    a.Clear();
    EXPECT_EQ(a.GetProgress(), 0.0);
    EXPECT_EQ(a.GetState(), kInitialized);
    a.SetState(kInProgress);
    EXPECT_TRUE(a.IsBusy());
    a.End(kFailed, kIpErrBadArgument, KWString(u"bad"));
    EXPECT_FALSE(a.IsBusy());
    EXPECT_EQ(a.GetState(), kFailed);
    EXPECT_EQ(a.GetError(), kIpErrBadArgument);
    EXPECT_EQ(a.m_Message, "bad");
}

TEST(KIpMgrAsync, CopyTakesAllFieldsButTheMessageOfABusyBlock)
{
    KIpMgrAsync source;
    source.SetProgress(0.25);
    source.End(kCancelled, kIpErrInternal, KWString(u"stopped"));
    source.SetCancel(true);

    KIpMgrAsync copy(source);
    EXPECT_EQ(copy.GetProgress(), 0.25);
    EXPECT_EQ(copy.GetState(), kCancelled);
    EXPECT_EQ(copy.GetError(), kIpErrInternal);
    EXPECT_EQ(copy.m_Message, "stopped");
    EXPECT_EQ(copy.GetCancel(), 1);

    // While the source is busy its runner may be writing the message: the copy keeps its own.
    source.SetState(kInProgress);
    source.SetProgress(0.5);
    source.m_Message = u"half-written";
    copy = source;
    EXPECT_EQ(copy.GetState(), kInProgress);
    EXPECT_EQ(copy.GetProgress(), 0.5);
    EXPECT_EQ(copy.m_Message, "stopped");

    copy.Reset();
    EXPECT_EQ(copy.GetProgress(), -1.0);
    EXPECT_EQ(copy.GetState(), kInitialized);
    EXPECT_EQ(copy.GetError(), kIpErrNone);
    EXPECT_TRUE(copy.m_Message.IsEmpty());
    EXPECT_EQ(copy.GetCancel(), 0);
}
