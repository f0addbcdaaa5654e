#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "KCache.h"
#include "KDataObject.h"
#include "KDebug.h"
#include "KException.h"
#include "KJPEGImageReader.h"
#include "KPixmap.h"
#include "KzrFileBuilder.h"
#include "KzrStandard.h"
#include "LoaderTestSupport.h"

using namespace loadertest;

namespace {

class RetrieverTest : public Fixture {
protected:
    void SetUp() override
    {
        Fixture::SetUp();
        m_pRetriever = std::make_unique<KDataRetriever>(&m_Cache);
    }
    void TearDown() override
    {
        m_pRetriever.reset();
        Fixture::TearDown();
    }

    // Hands the request to the retriever; it may still be running on return.
    void Start(KDataRetrieverRequest& request, KUInt32 kind, KUInt32 subKind, const std::string& file,
               KUInt32 index = 0, KDataRetriever* retriever = nullptr)
    {
        request.m_FileName = URL(file);
        request.m_Kind = kind;
        request.m_SubKind = subKind;
        request.m_Index = index;
        (retriever ? *retriever : *m_pRetriever).Request(request);
    }
    void Run(KDataRetrieverRequest& request, KUInt32 kind, KUInt32 subKind, const std::string& file,
             KUInt32 index = 0)
    {
        Start(request, kind, subKind, file, index);
        WaitDone(*m_pRetriever, request);
    }
    static void Release(KDataRetrieverRequest& request)
    {
        if (request.m_pData)
            request.m_pData->Release();
        request.m_pData = nullptr;
    }
    // Whether every block of the cache can be evicted (nobody holds one); empties the cache.
    bool NothingLocked() { return m_Cache.SetMaxSize(0); }

    KCache m_Cache;
    std::unique_ptr<KDataRetriever> m_pRetriever;
};

TEST_F(RetrieverTest, UnsupportedFilesAndRequestsEndAtOnce)
{
    WriteJpeg("a.jpg", 8, 8);
    struct Case {
        const char* file;
        KUInt32 kind, subKind;
        KUInt32 error;
        const char* message;
    };
    const Case cases[] = {
        {"a.png", kRetrieveInfo, kInfoImageCount, kIpErrUnsupported, "File type not supported."},
        {"a.png", kRetrieveData, kDataFrame, kIpErrUnsupported, "File type not supported."},
        {"jpg", kRetrieveInfo, kInfoImageCount, kIpErrUnsupported, "File type not supported."},
        {"a.jpeg", kRetrieveInfo, kInfoImageCount, kIpErrUnsupported, "File type not supported."},
        {"a.png", kRetrieveModify, 0, kIpErrUnsupported,
         "KDataRetriever::priHandleModifyRequest: File type not supported."},
        {"a.jpg", 3, 0, kIpErrBadArgument, "KDataRetriever:Request unknown request"},
        {"a.jpg", kRetrieveInfo, 6, kIpErrBadArgument, "KDataRetriever:HandleInfoRequest unknown info request"},
        {"a.jpg", kRetrieveData, 3, kIpErrBadArgument, "KDataRetriever:HandleDataRequest unknown data request"},
        {"missing.jpg", kRetrieveData, kDataFrame, kLoaderErrFileNotFound, nullptr},
    };
    for (const Case& c : cases) {
        KDataRetrieverRequest request;
        Start(request, c.kind, c.subKind, c.file);
        EXPECT_EQ(request.m_Async.GetState(), kFailed) << c.file;
        EXPECT_EQ(request.m_Async.GetError(), c.error) << c.file;
        EXPECT_EQ(Narrow(request.m_Async.m_Message), c.message ? c.message : Narrow(URL(c.file))) << c.file;
        EXPECT_EQ(request.m_pData, nullptr);
    }
    // The retriever is free for the next request.
    KDataRetrieverRequest request;
    Run(request, kRetrieveInfo, kInfoImageCount, "a.jpg");
    EXPECT_EQ(request.m_Async.GetState(), kDone);
    EXPECT_TRUE(m_Cache.List().empty());
}

TEST_F(RetrieverTest, InfoRequestsAnswerFromTheLoader)
{
    WriteJpeg("Photo.JPG", 40, 30, kPixelType8Mono);
    KDataRetrieverRequest count;
    Run(count, kRetrieveInfo, kInfoImageCount, "Photo.JPG");  // the extension in upper case
    EXPECT_EQ(count.m_Async.GetState(), kDone);
    EXPECT_EQ(count.m_Value, 4u);

    KDataRetrieverRequest image;
    Run(image, kRetrieveInfo, kInfoImage, "Photo.JPG", 1);
    EXPECT_EQ(image.m_Async.GetState(), kDone);
    EXPECT_EQ(image.m_Width, 20);
    EXPECT_EQ(image.m_Height, 15);
    EXPECT_EQ(image.m_ImageKind, kImageKindViewable);
    EXPECT_EQ(image.m_PixelType, kPixelType8Mono);

    KPropTree props(nullptr, "ImageProps");
    KDataRetrieverRequest properties;
    properties.m_pTree = &props;
    Run(properties, kRetrieveInfo, kInfoProperties, "Photo.JPG");
    EXPECT_EQ(properties.m_Async.GetState(), kDone);
    EXPECT_EQ(Value(props, "COLS"), "40");
    EXPECT_EQ(Value(props, "PROCESSABLE"), "0");

    KPropTree id(nullptr, "UniqueIDProp");
    KDataRetrieverRequest unique;
    unique.m_pTree = &id;
    Run(unique, kRetrieveInfo, kInfoUniqueID, "Photo.JPG");
    EXPECT_EQ(unique.m_Async.GetState(), kDone);
    EXPECT_EQ(Keys(id), std::vector<std::string>{"UNIQUEID"});
    EXPECT_EQ(Value(id, "UNIQUEID"), Value(props, "UNIQUEID"));

    KDataRetrieverRequest camfile;
    Run(camfile, kRetrieveInfo, kInfoCameraFile, "Photo.JPG");
    EXPECT_EQ(camfile.m_Async.GetState(), kFailed);
    EXPECT_EQ(Narrow(camfile.m_Async.m_Message), "JPEGLoader:Request - jpegs don't have camfiles.");
    EXPECT_TRUE(m_Cache.List().empty());
}

TEST_F(RetrieverTest, FrameIsLoadedIntoTheCacheAndServedFromItTheSecondTime)
{
    WriteJpeg("a.jpg", 48, 32);
    Image expected(kPixelType24RGB, 24, 16);
    {
        KJPEGImageReader reader(URL("a.jpg"));
        reader.SetScale(1);
        reader.ReadImage(expected.Pixmap());
    }
    Gate gate;
    gate.Open();
    KDataRetrieverRequest first;
    Run(first, kRetrieveData, kDataFrame, "a.jpg", 1);
    ASSERT_EQ(first.m_Async.GetState(), kDone) << Narrow(first.m_Async.m_Message);
    ASSERT_NE(first.m_pData, nullptr);
    EXPECT_EQ(Gate::Seen(), 1);
    KDataObject& data = *first.m_pData;
    EXPECT_EQ(data.GetKind(), kDataImage);
    KInt32 width = 0, height = 0;
    int type = 0;
    EXPECT_TRUE(data.GetImageProperties(width, height, type));
    EXPECT_EQ(width, 24);
    EXPECT_EQ(height, 16);
    EXPECT_EQ(type, kPixelType24RGB);
    EXPECT_EQ(data.GetCamfileData(), nullptr);
    EXPECT_EQ(data.GetCamfileSize(), 0u);
    KPixmap* pixmap = data.GetImagePixmapPtr();
    ASSERT_NE(pixmap, nullptr);
    for (int32_t y = 0; y < 16; ++y)
        ASSERT_EQ(0, std::memcmp(pixmap->GetRow(y), expected.Pixmap().GetRow(y), 24 * 3)) << y;

    // The block is labelled with the file, its identifier, the file's state and the image index.
    KPropTree id(nullptr, "UniqueIDProp");
    KDataRetrieverRequest unique;
    unique.m_pTree = &id;
    Run(unique, kRetrieveInfo, kInfoUniqueID, "a.jpg");
    const std::vector<KWString> labels = m_Cache.List();
    ASSERT_EQ(labels.size(), 1u);
    const std::string label = Narrow(labels[0]);
    const std::string start = Narrow(URL("a.jpg")) + "-" + Value(id, "UNIQUEID") + "@";
    EXPECT_EQ(label.rfind(start, 0), 0u) << label;
    EXPECT_EQ(label.substr(label.size() - 12), "-FileImage-1") << label;

    // Asked again: done within Request, the same block, no load.
    KDataRetrieverRequest second;
    Start(second, kRetrieveData, kDataFrame, "a.jpg", 1);
    EXPECT_EQ(second.m_Async.GetState(), kDone);
    ASSERT_NE(second.m_pData, nullptr);
    EXPECT_EQ(second.m_pData->GetImagePixmapPtr(), pixmap);
    EXPECT_EQ(Gate::Seen(), 1);
    Release(first);
    Release(second);
    EXPECT_TRUE(NothingLocked());
}

TEST_F(RetrieverTest, RequestWhileAnotherRunsIsRefused)
{
    WriteJpeg("a.jpg", 16, 16);
    Gate gate;
    KDataRetrieverRequest load;
    Start(load, kRetrieveData, kDataFrame, "a.jpg");
    EXPECT_EQ(load.m_Async.GetState(), kInProgress);
    KDataRetrieverRequest other;
    Start(other, kRetrieveInfo, kInfoImageCount, "a.jpg");
    EXPECT_EQ(other.m_Async.GetState(), kFailed);
    EXPECT_EQ(other.m_Async.GetError(), kIpErrBusy);
    EXPECT_EQ(Narrow(other.m_Async.m_Message), "KDataRetriever");
    gate.Open();
    WaitDone(*m_pRetriever, load);
    EXPECT_EQ(load.m_Async.GetState(), kDone);
    Release(load);
}

TEST_F(RetrieverTest, FailedFillLetsTheBlockGoAndTheNextRequestLoadsItAgain)
{
    WriteJpeg("a.jpg", 16, 16);
    {
        Gate gate;
        KDataRetrieverRequest request;
        Start(request, kRetrieveData, kDataFrame, "a.jpg");
        // The file goes away between the size question and the pixels (a rename keeps its time).
        std::filesystem::rename(Path("a.jpg"), Path("b.jpg"));
        gate.Open();
        WaitDone(*m_pRetriever, request);
        EXPECT_EQ(request.m_Async.GetState(), kFailed);
        EXPECT_EQ(request.m_Async.GetError(), kLoaderErrFileNotFound);
        EXPECT_EQ(request.m_pData, nullptr);
        EXPECT_EQ(m_Cache.List().size(), 1u);
    }
    std::filesystem::rename(Path("b.jpg"), Path("a.jpg"));
    Gate gate;
    gate.Open();
    KDataRetrieverRequest again;
    Run(again, kRetrieveData, kDataFrame, "a.jpg");
    EXPECT_EQ(again.m_Async.GetState(), kDone);
    EXPECT_EQ(Gate::Seen(), 1);
    EXPECT_EQ(m_Cache.List().size(), 1u);
    Release(again);
    EXPECT_TRUE(NothingLocked());
}

TEST_F(RetrieverTest, OtherRetrieversFollowTheLoadingOfTheFirst)
{
    WriteJpeg("a.jpg", 16, 16);
    KDataRetriever second(&m_Cache), third(&m_Cache);
    Gate gate;
    KDataRetrieverRequest a, b, c;
    Start(a, kRetrieveData, kDataFrame, "a.jpg");
    Start(b, kRetrieveData, kDataFrame, "a.jpg", 0, &second);
    Start(c, kRetrieveData, kDataFrame, "a.jpg", 0, &third);
    for (int i = 0; i < 3; ++i) {
        second.Idle();
        m_pRetriever->Idle();
    }
    EXPECT_EQ(a.m_Async.GetState(), kInProgress);
    EXPECT_EQ(b.m_Async.GetState(), kInProgress);
    // A follower that gives up ends with state 3 and lets go of the block.
    c.m_Async.SetCancel(true);
    WaitDone(third, c);
    EXPECT_EQ(c.m_Async.GetState(), kCancelled);
    EXPECT_EQ(c.m_pData, nullptr);
    gate.Open();
    WaitDone(*m_pRetriever, a);
    WaitDone(second, b);
    EXPECT_EQ(a.m_Async.GetState(), kDone);
    EXPECT_EQ(b.m_Async.GetState(), kDone);
    EXPECT_EQ(Gate::Seen(), 1);  // one load filled the block for both
    ASSERT_TRUE(a.m_pData && b.m_pData);
    EXPECT_EQ(a.m_pData->GetImagePixmapPtr(), b.m_pData->GetImagePixmapPtr());
    Release(a);
    Release(b);
    EXPECT_TRUE(NothingLocked());
}

TEST_F(RetrieverTest, DeletingTheRetrieverWhileALoadRunsLeavesTheLoadToFinish)
{
    WriteJpeg("a.jpg", 16, 16);
    KTraceCapture trace;
    KDataRetrieverRequest request;
    {
        Gate gate(3000);  // longer than the retriever waits (about 2 s), shorter than the loader then waits
        Start(request, kRetrieveData, kDataFrame, "a.jpg");
        m_pRetriever.reset();
        EXPECT_TRUE(trace.Contains("~KDataRetriever(): load request still busy in destructor."));
        EXPECT_TRUE(trace.Contains("~KDataRetriever: Current request still active in destructor\n"));
        EXPECT_FALSE(trace.Contains("failed to exit"));
        EXPECT_EQ(request.m_Async.GetState(), kCancelled);
        EXPECT_EQ(request.m_pData, nullptr);
    }
    // The load went on to the end and filled the block: the next retriever finds it filled.
    m_pRetriever = std::make_unique<KDataRetriever>(&m_Cache);
    Gate gate;
    gate.Open();
    KDataRetrieverRequest again;
    Start(again, kRetrieveData, kDataFrame, "a.jpg");
    EXPECT_EQ(again.m_Async.GetState(), kDone);
    EXPECT_EQ(Gate::Seen(), 0);
    Release(again);
    EXPECT_TRUE(NothingLocked());
}

TEST_F(RetrieverTest, ALoadThatOutlivesItsLoaderKeepsWhatItWritesInto)
{
    WriteJpeg("a.jpg", 16, 16);
    KTraceCapture trace;
    KDataRetrieverRequest request;
    Gate gate;  // held until the retriever and its loader have given up waiting
    Start(request, kRetrieveData, kDataFrame, "a.jpg");
    m_pRetriever.reset();
    EXPECT_TRUE(trace.Contains("~KDataRetriever(): load request still busy in destructor."));
    EXPECT_TRUE(trace.Contains("JPEGLoader::~JPEGLoader: load thread failed to exit!\n"));
    EXPECT_EQ(request.m_Async.GetState(), kCancelled);
    // A new retriever follows the abandoned load to its end.
    m_pRetriever = std::make_unique<KDataRetriever>(&m_Cache);
    KDataRetrieverRequest again;
    Start(again, kRetrieveData, kDataFrame, "a.jpg");
    EXPECT_EQ(again.m_Async.GetState(), kInProgress);
    gate.Open();
    WaitDone(*m_pRetriever, again);
    EXPECT_EQ(again.m_Async.GetState(), kDone);
    Release(again);
    // The abandoned load lets go of the block once its thread has ended.
    for (int i = 0; i < 500 && !NothingLocked(); ++i)
        SleepMilliseconds(10);
    EXPECT_TRUE(NothingLocked());
}

// A raw file as the camera writes it (raw, dark and preview frames), calibration bytes of its own.
kzrsynth::BuiltFile WriteCameraFile(const std::filesystem::path& path, const std::vector<uint8_t>& calibration)
{
    kzrsynth::StandardOptions options;
    options.width = 32;
    options.height = 24;
    options.cams.push_back({KQrlb::kCamTypeBlock, calibration});
    kzrsynth::BuiltFile built = kzrsynth::BuildFile(kzrsynth::StandardLayout(options));
    lumotest::WriteBytes(path, built.bytes);
    return built;
}

TEST_F(RetrieverTest, RawFilesGoToTheRawLoaderWhateverTheCase)
{
    const kzrsynth::BuiltFile built = WriteCameraFile(Path("IMG_0001.KZR"), {1, 2, 3});
    KDataRetrieverRequest count;
    Run(count, kRetrieveInfo, kInfoImageCount, "IMG_0001.KZR");
    EXPECT_EQ(count.m_Async.GetState(), kDone);
    EXPECT_EQ(count.m_Value, built.readerOrder.size());
    KPropTree props(nullptr, "ImageProps");
    KDataRetrieverRequest properties;
    properties.m_pTree = &props;
    Run(properties, kRetrieveInfo, kInfoProperties, "IMG_0001.KZR");
    EXPECT_EQ(Value(props, "PROCESSABLE"), "1");
    EXPECT_EQ(Value(props, "UNIQUEID").size(), 32u);
    KDataRetrieverRequest size;
    Run(size, kRetrieveInfo, kInfoCalibration, "IMG_0001.KZR");  // answered on the load thread
    EXPECT_EQ(size.m_Async.GetState(), kDone);
    EXPECT_EQ(size.m_Value, 3u);
}

TEST_F(RetrieverTest, CalibrationDataIsSizedLoadedAndThenServedFromTheCache)
{
    std::vector<uint8_t> calibration(1000);
    for (size_t i = 0; i < calibration.size(); ++i)
        calibration[i] = uint8_t(i * 13);
    WriteCameraFile(Path("a.kzr"), calibration);
    Gate gate;
    gate.Open();
    KDataRetrieverRequest first;
    Run(first, kRetrieveData, kDataCalibration, "a.kzr");
    ASSERT_EQ(first.m_Async.GetState(), kDone) << Narrow(first.m_Async.m_Message);
    EXPECT_EQ(Gate::Seen(), 2);  // the size, then the bytes
    KDataObject& data = *first.m_pData;
    EXPECT_EQ(data.GetKind(), kDataCamfile);
    EXPECT_EQ(data.GetCamfileExtra(), 2u);
    ASSERT_EQ(data.GetCamfileSize(), calibration.size());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(data.GetCamfileData()) % 8, 0u);
    EXPECT_EQ(0, std::memcmp(data.GetCamfileData(), calibration.data(), calibration.size()));
    EXPECT_EQ(data.GetImagePixmapPtr(), nullptr);
    KInt32 w, h;
    int type;
    EXPECT_FALSE(data.GetImageProperties(w, h, type));
    const std::vector<KWString> labels = m_Cache.List();
    ASSERT_EQ(labels.size(), 1u);
    EXPECT_NE(Narrow(labels[0]).find("-FileCAMbFile"), std::string::npos);

    KDataRetrieverRequest second;
    Start(second, kRetrieveData, kDataCalibration, "a.kzr");
    EXPECT_EQ(second.m_Async.GetState(), kDone);
    EXPECT_EQ(second.m_pData->GetCamfileData(), data.GetCamfileData());
    EXPECT_EQ(Gate::Seen(), 2);

    // The file has no camera file.
    KDataRetrieverRequest camera;
    Run(camera, kRetrieveData, kDataCameraFile, "a.kzr");
    EXPECT_EQ(camera.m_Async.GetState(), kFailed);
    EXPECT_EQ(camera.m_Async.GetError(), kIpErrNotFound);
    EXPECT_EQ(camera.m_pData, nullptr);
    Release(first);
    Release(second);
    EXPECT_TRUE(NothingLocked());
}

TEST_F(RetrieverTest, RawFramesAreLoadedLikeAnyOther)
{
    const kzrsynth::BuiltFile built = WriteCameraFile(Path("a.kzr"), {});
    const kzrsynth::ExpectedImage& expected = built.ReaderImage(0)->expected;
    KDataRetrieverRequest frame;
    Run(frame, kRetrieveData, kDataFrame, "a.kzr", 0);
    ASSERT_EQ(frame.m_Async.GetState(), kDone) << Narrow(frame.m_Async.m_Message);
    KPixmap* pixmap = frame.m_pData->GetImagePixmapPtr();
    ASSERT_NE(pixmap, nullptr);
    EXPECT_EQ(pixmap->GetPixelType(), expected.pixmapType);
    const size_t rowBytes = expected.pixels.size() / size_t(expected.height);
    for (int y = 0; y < expected.height; ++y)
        ASSERT_EQ(0, std::memcmp(pixmap->GetRow(y), expected.pixels.data() + y * rowBytes, rowBytes)) << y;
    Release(frame);
}

TEST_F(RetrieverTest, RawFramesOnDemandAreReadByRowsAndNotCached)
{
    const kzrsynth::BuiltFile built = WriteCameraFile(Path("a.kzr"), {});
    const kzrsynth::ExpectedImage& expected = built.ReaderImage(0)->expected;
    KDataRetrieverRequest frame;
    frame.m_bRowsOnDemand = true;
    Run(frame, kRetrieveData, kDataFrame, "a.kzr", 0);
    ASSERT_EQ(frame.m_Async.GetState(), kDone) << Narrow(frame.m_Async.m_Message);
    EXPECT_EQ(frame.m_pData, nullptr);
    ASSERT_NE(frame.m_pRows, nullptr);
    EXPECT_EQ(frame.m_pRows->GetImagePixmapPtr(), nullptr);
    KInt32 width = 0, height = 0;
    int type = 0;
    ASSERT_TRUE(frame.m_pRows->GetImageProperties(width, height, type));
    ASSERT_EQ(width, expected.width);
    ASSERT_EQ(height, expected.height);
    ASSERT_EQ(type, expected.pixmapType);
    // Rows from the middle, as a band of stage 1 reads them.
    const size_t rowBytes = expected.pixels.size() / size_t(expected.height);
    const KInt32 first = height / 3, count = height / 2;
    std::vector<uint8_t> rows(rowBytes * size_t(count));
    KPixmapTemplate<KPixelClass48RGB> into(rows.data(), width, count, static_cast<KInt32>(rowBytes));
    ASSERT_EQ(type, kPixelType48RGB);
    frame.m_pRows->ReadImageRows(first, count, into);
    EXPECT_EQ(0, std::memcmp(rows.data(), expected.pixels.data() + size_t(first) * rowBytes, rows.size()));
    EXPECT_THROW(frame.m_pRows->ReadImageRows(height - 1, 2, into), KException);
    frame.m_pRows->Release();
    EXPECT_TRUE(m_Cache.List().empty());

    // A file that is not there, or an image the file does not have, fails as the loader's load does.
    KDataRetrieverRequest missing;
    missing.m_bRowsOnDemand = true;
    Run(missing, kRetrieveData, kDataFrame, "gone.kzr", 0);
    EXPECT_EQ(missing.m_Async.GetState(), kFailed);
    EXPECT_EQ(missing.m_pRows, nullptr);
    KDataRetrieverRequest beyond;
    beyond.m_bRowsOnDemand = true;
    Run(beyond, kRetrieveData, kDataFrame, "a.kzr", 9);
    EXPECT_EQ(beyond.m_Async.GetState(), kFailed);
    EXPECT_EQ(beyond.m_pRows, nullptr);
}

TEST_F(RetrieverTest, TiffFramesComeFromTheTiffLoader)
{
    WriteTiff("Scan.TIF", 24, 16, kPixelType48RGB);
    KDataRetrieverRequest count;
    Run(count, kRetrieveInfo, kInfoImageCount, "Scan.TIF");
    EXPECT_EQ(count.m_Value, 5u);
    KDataRetrieverRequest frame;
    Run(frame, kRetrieveData, kDataFrame, "Scan.TIF", 2);
    ASSERT_EQ(frame.m_Async.GetState(), kDone) << Narrow(frame.m_Async.m_Message);
    KInt32 width = 0, height = 0;
    int type = 0;
    EXPECT_TRUE(frame.m_pData->GetImageProperties(width, height, type));
    EXPECT_EQ(width, 6);
    EXPECT_EQ(height, 4);
    EXPECT_EQ(type, kPixelType48RGB);
    KDataRetrieverRequest again;
    Start(again, kRetrieveData, kDataFrame, "Scan.TIF", 2);
    EXPECT_EQ(again.m_Async.GetState(), kDone);
    EXPECT_EQ(again.m_pData->GetImagePixmapPtr(), frame.m_pData->GetImagePixmapPtr());
    Release(frame);
    Release(again);
}

TEST_F(RetrieverTest, ModifyGoesThroughTheLoader)
{
    WriteCameraFile(Path("a.kzr"), {});
    WriteJpeg("a.jpg", 8, 8);
    KPropTree changes(nullptr, "ImageProps");
    changes.AddPair("ROTATION", "+90");
    KDataRetrieverRequest modify;
    modify.m_pTree = &changes;
    Run(modify, kRetrieveModify, 0, "a.kzr");
    EXPECT_EQ(modify.m_Async.GetState(), kDone);
    const std::vector<uint8_t> bytes = lumotest::ReadBytes(Path("a.kzr"));
    EXPECT_EQ(bytes[36], 90);
    KDataRetrieverRequest jpeg;
    jpeg.m_pTree = &changes;
    Run(jpeg, kRetrieveModify, 0, "a.jpg");
    EXPECT_EQ(jpeg.m_Async.GetState(), kFailed);
    EXPECT_EQ(Narrow(jpeg.m_Async.m_Message), "JPEGLoader:HandleRequest - invalid request.");
}

}  // namespace
