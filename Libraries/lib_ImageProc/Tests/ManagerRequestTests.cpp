// IPManager2's synchronous requests: dispatch, properties, property changes and previews.
#include <gtest/gtest.h>

#include <array>

#include "IpmTestSupport.h"
#include "KCachedPixmap.h"
#include "KPMImage2.h"
#include "KPixelTypes.h"
#include "KTextFunctions.h"

using namespace ipmtest;

namespace {

class ManagerRequests : public ManagerFixture {
protected:
    // Red, green and blue of a display pixel of the result.
    static std::array<int, 3> Pixel(KIpMgrReq& request, int x, int y)
    {
        const uint8_t* p = request.m_pResultImage->GetPixmap()->GetRow(y) + 4 * x;
        return {p[2], p[1], p[0]};
    }
};

}  // namespace

TEST_F(ManagerRequests, KindZeroIsDoneAndUnknownKindsAreRefused)
{
    auto manager = NewManager();
    manager->Request(nullptr);
    KIpMgrReq request;
    request.m_OutputWidth = 7;
    manager->Request(&request);
    EXPECT_EQ(request.m_Async.GetState(), kDone);
    EXPECT_EQ(request.m_OutputWidth, 7);
    for (KUInt32 kind : {9u, 20u, 0xFFFFFFFFu}) {
        request.m_Kind = kind;
        manager->Request(&request);
        EXPECT_EQ(request.m_Async.GetState(), kFailed);
        EXPECT_EQ(request.m_Async.GetError(), kIpErrUnsupported);
    }
}

TEST_F(ManagerRequests, PropertiesFillTheRecordsTree)
{
    const KWString file = Name("a.kzr");
    AddFile(file, MakeRawFile(96, 64));
    auto manager = NewManager();
    KIpMgrReq request;
    request.m_FileName = file;
    request.m_Kind = kIpReqProperties;
    manager->Request(&request);
    EXPECT_EQ(request.m_Async.GetState(), kDone);
    EXPECT_EQ(request.m_pImageProps->GetInt(KWString(u"COLS"), 0), 96);
    EXPECT_TRUE(request.m_pImageProps->GetString(KWString(u"UNIQUEID"), KWString()) ==
                KWString(u"00112233445566778899AABBCCDDEEFF"));

    request.Reset();
    request.m_FileName = Name("missing.kzr");
    request.m_Kind = kIpReqProperties;
    manager->Request(&request);
    EXPECT_EQ(request.m_Async.GetState(), kFailed);
    EXPECT_EQ(request.m_Async.GetError(), 6u);
    EXPECT_TRUE(request.m_Async.m_Message == Name("missing.kzr"));

    request.Reset();
    request.m_FileName = file;
    request.m_Kind = kIpReqProperties;
    delete request.m_pImageProps;
    request.m_pImageProps = nullptr;
    manager->Request(&request);
    EXPECT_EQ(request.m_Async.GetError(), kIpErrBadArgument);
    EXPECT_TRUE(request.m_Async.m_Message == u"IPManager2::priHandlePropertiesRequest: Property list ptr is NULL.");
}

TEST_F(ManagerRequests, PreviewIsFittedCroppedCachedAndNamed)
{
    const KWString file = Name("a.kzr");
    AddFile(file, MakeRawFile(96, 64));  // preview 24 x 16, red at its top-left pixel
    auto manager = NewManager();
    KIpMgrReq request;
    Preview(request, file, 48, 48, KRect(0, 0, 100, 48));
    manager->Request(&request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << WideToUtf8(request.m_Async.m_Message);
    // 24 x 16 fitted into 48 x 48 is 48 x 32; the crop is cut to it.
    EXPECT_TRUE(request.m_CropRect == KRect(0, 0, 48, 32));
    EXPECT_EQ(request.m_OutputWidth, 48);
    EXPECT_EQ(request.m_OutputHeight, 32);
    KPixmap* pixmap = request.m_pResultImage->GetPixmap();
    EXPECT_EQ(pixmap->GetPixelType(), kPixelType32BGRA);
    EXPECT_EQ(pixmap->GetWidth(), 48);
    EXPECT_EQ(pixmap->GetHeight(), 32);
    EXPECT_GT(Pixel(request, 1, 1)[0], 200);  // the red corner, enlarged
    EXPECT_EQ(Pixel(request, 47, 31)[0], 10);
    ASSERT_NE(request.m_pResultImage->GetProps(), nullptr);
    EXPECT_TRUE(request.m_pResultImage->GetProps()->GetString(KWString(u"Filename"), KWString()) == file);
    EXPECT_EQ(m_Counts->m_Data[kDataFrame], 1);
    EXPECT_EQ(Stages().m_Calls[kEngineRotate], 0);

    // The same preview again comes from the cache.
    KIpMgrReq again;
    Preview(again, file, 48, 48, KRect(0, 0, 100, 48));
    manager->Request(&again);
    ASSERT_EQ(again.m_Async.GetState(), kDone);
    EXPECT_EQ(m_Counts->m_Data[kDataFrame], 1);
    EXPECT_TRUE(again.m_CropRect == KRect(0, 0, 48, 32));
    EXPECT_EQ(again.m_pResultImage->GetPixmap(), pixmap);
}

TEST_F(ManagerRequests, PreviewIsTurnedAsTheFileSays)
{
    const KWString file = Name("turned.kzr");
    AddFile(file, MakeRawFile(96, 64, 90));
    auto manager = NewManager();
    KIpMgrReq request;
    Preview(request, file, 16, 24, KRect(0, 0, 16, 24));
    manager->Request(&request);
    ASSERT_EQ(request.m_Async.GetState(), kDone) << WideToUtf8(request.m_Async.m_Message);
    EXPECT_EQ(Stages().m_Calls[kEngineRotate], 1);
    EXPECT_EQ(request.m_pResultImage->GetPixmap()->GetWidth(), 16);
    EXPECT_EQ(request.m_pResultImage->GetPixmap()->GetHeight(), 24);
    // A quarter turn clockwise puts the image's top-left corner at the top right.
    EXPECT_EQ(Pixel(request, 15, 0)[0], 255);
    EXPECT_EQ(Pixel(request, 0, 0)[0], 10);

    // A crop of the turned image: its right half (the crop is in the turned coordinates).
    KIpMgrReq half;
    Preview(half, file, 16, 24, KRect(8, 0, 16, 24));
    manager->Request(&half);
    ASSERT_EQ(half.m_Async.GetState(), kDone);
    EXPECT_EQ(half.m_pResultImage->GetPixmap()->GetWidth(), 8);
    EXPECT_EQ(Pixel(half, 7, 0)[0], 255);
}

TEST_F(ManagerRequests, PreviewFailures)
{
    const KWString file = Name("a.kzr");
    FakeFile& stored = AddFile(file, MakeRawFile(96, 64));
    auto manager = NewManager();
    KIpMgrReq request;

    // Only display pixels: refused before anything is loaded.
    Preview(request, file, 48, 48, KRect(0, 0, 48, 48));
    request.m_OutputFormat = kOutput24RGB;
    manager->Request(&request);
    EXPECT_EQ(request.m_Async.GetError(), kIpErrBadArgument);
    EXPECT_TRUE(request.m_Async.m_Message ==
                u"IPManager2::priHandlePreviewRequest: cannot process a preview for non-display output format.");
    EXPECT_EQ(m_Counts->m_Info[kInfoImageCount], 0);
    EXPECT_EQ(m_Counts->m_Data[kDataFrame], 0);

    // Crops that lie outside what is fitted, or are inverted.
    for (KRect crop : {KRect(48, 0, 60, 10), KRect(0, 32, 10, 40), KRect(0, 0, 1, 10), KRect(20, 0, 10, 10),
                       KRect(0, 10, 10, 5)}) {
        Preview(request, file, 48, 48, crop);
        manager->Request(&request);
        EXPECT_EQ(request.m_Async.GetError(), kIpErrBadArgument) << crop.left << "," << crop.top;
        EXPECT_TRUE(request.m_Async.m_Message ==
                    u"IPManager2::priHandlePreviewRequest: cropping rectangle is outside of image size.");
    }
    EXPECT_EQ(m_Counts->m_Data[kDataFrame], 0);

    // Crops at the ends of the 32-bit range are cut to the fitted image or refused.
    const int32_t lo = INT32_MIN, hi = INT32_MAX;
    for (KRect crop : {KRect(lo, lo, hi, hi), KRect(hi, hi, lo, lo), KRect(lo, 0, 2, hi), KRect(0, lo, hi, 2)}) {
        Preview(request, file, 48, 48, crop);
        manager->Request(&request);
        EXPECT_TRUE(request.m_Async.GetState() == kDone || request.m_Async.GetError() == kIpErrBadArgument)
            << crop.left << "," << crop.top;
    }

    // No viewable image in the file: not found, the file name as message.
    stored.m_Images.pop_back();
    Preview(request, file, 48, 48, KRect(0, 0, 48, 48));
    manager->Request(&request);
    EXPECT_EQ(request.m_Async.GetError(), kIpErrNotFound);
    EXPECT_TRUE(request.m_Async.m_Message == file);
    EXPECT_EQ(request.m_pResultImage, nullptr);
}

TEST_F(ManagerRequests, ModifyMakesTheNextRequestReadThePropertiesAgain)
{
    const KWString file = Name("a.kzr");
    AddFile(file, MakeRawFile(96, 64));
    auto manager = NewManager();
    KIpMgrReq request;
    Preview(request, file, 24, 16, KRect(0, 0, 24, 16));
    manager->Request(&request);
    Preview(request, file, 24, 16, KRect(0, 0, 12, 16));
    manager->Request(&request);
    ASSERT_EQ(request.m_Async.GetState(), kDone);
    EXPECT_EQ(m_Counts->m_Info[kInfoProperties], 1);  // the capture properties are cached

    request.Reset();
    request.m_FileName = file;
    request.m_Kind = kIpReqModify;
    request.m_pImageProps->AddPair("ROTATION", "90");
    manager->Request(&request);
    EXPECT_EQ(request.m_Async.GetState(), kDone);
    EXPECT_EQ(m_Counts->m_Modify, 1);

    Preview(request, file, 16, 24, KRect(0, 0, 16, 24));
    manager->Request(&request);
    ASSERT_EQ(request.m_Async.GetState(), kDone);
    EXPECT_EQ(m_Counts->m_Info[kInfoProperties], 2);
    EXPECT_EQ(Stages().m_Calls[kEngineRotate], 1);
    EXPECT_EQ(request.m_pResultImage->GetPixmap()->GetHeight(), 24);

    request.Reset();
    request.m_Kind = kIpReqModify;
    request.m_FileName = file;
    delete request.m_pImageProps;
    request.m_pImageProps = nullptr;
    manager->Request(&request);
    EXPECT_TRUE(request.m_Async.m_Message == u"IPManager2::priHandleModifyRequest: Property list ptr is NULL.");
}

TEST_F(ManagerRequests, ExceptionsOfASynchronousRequestBecomeStatus)
{
    const KWString file = Name("a.kzr");
    AddFile(file, MakeRawFile(96, 64));
    auto manager = NewManager();
    LastRetriever()->m_ThrowOnData = true;
    KIpMgrReq request;
    Preview(request, file, 24, 16, KRect(0, 0, 24, 16));
    manager->Request(&request);
    EXPECT_EQ(request.m_Async.GetState(), kFailed);
    EXPECT_EQ(request.m_Async.GetError(), kIpErrFileIO);
    EXPECT_TRUE(request.m_Async.m_Message ==
                u"IPManager2::Request: caught KExceptionFileIO(File read failed, disk on fire)!");

    // The manager answers the next request.
    LastRetriever()->m_ThrowOnData = false;
    manager->Request(&request);
    EXPECT_EQ(request.m_Async.GetState(), kDone);
}
