#include <gtest/gtest.h>

#include <memory>

#include "KDebug.h"
#include "KJPEGImageReader.h"
#include "LoaderTestSupport.h"

using namespace loadertest;

namespace {

using JPEGLoaderTest = LoaderFixture<CreateJPEGLoader>;

TEST_F(JPEGLoaderTest, ImageCountIsFourWithoutOpeningTheFile)
{
    KLoaderRequest request;
    Run(request, "missing.jpg", kLoadImageCount);
    EXPECT_EQ(request.GetStatus(), kDone);
    EXPECT_EQ(request.m_Value, 4u);
}

TEST_F(JPEGLoaderTest, ImageIndexIsTheDecodeScale)
{
    WriteJpeg("a.jpg", 101, 61);
    struct Case {
        KUInt32 index;
        KUInt32 width, height;
    };
    // Reductions round up; indexes outside 1..3 load the full size.
    const Case cases[] = {{0, 101, 61}, {1, 51, 31}, {2, 26, 16}, {3, 13, 8}, {4, 101, 61}, {7, 101, 61}};
    for (const Case& c : cases) {
        KLoaderRequest request;
        request.m_Value = c.index;
        Run(request, "a.jpg", kLoadImage);
        EXPECT_EQ(request.GetStatus(), kDone) << c.index;
        EXPECT_EQ(request.m_Aux1, c.width) << c.index;
        EXPECT_EQ(request.m_Aux2, c.height) << c.index;
        EXPECT_EQ(request.m_PixelType, kPixelType24RGB);
        EXPECT_EQ(request.m_ImageKind, kImageKindViewable);
    }
}

TEST_F(JPEGLoaderTest, PixelsAreReadOnTheLoadThreadAsTheReaderReadsThem)
{
    WriteJpeg("grey.jpg", 40, 30, kPixelType8Mono);
    Image expected(kPixelType8Mono, 20, 15);
    {
        KJPEGImageReader reader(URL("grey.jpg"));
        reader.SetScale(1);
        reader.ReadImage(expected.Pixmap());
    }
    Image image(kPixelType8Mono, 20, 15);
    KLoaderRequest request;
    request.m_Value = 1;
    request.m_pPixmap = &image.Pixmap();
    {
        Gate gate;
        request.m_URL = URL("grey.jpg");
        request.m_Kind = kLoadImage;
        m_pLoader->Request(request);
        EXPECT_EQ(request.GetStatus(), kInProgress);  // queued: the gate holds the thread
        gate.Open();
        WaitDone(*m_pLoader, request);
        EXPECT_EQ(Gate::Seen(), 1);
    }
    ASSERT_EQ(request.GetStatus(), kDone);
    EXPECT_EQ(request.m_PixelType, kPixelType8Mono);
    EXPECT_EQ(image.Bytes(), expected.Bytes());
}

TEST_F(JPEGLoaderTest, SecondPixelRequestWhileTheFirstLoadsIsRefused)
{
    WriteJpeg("a.jpg", 16, 16);
    Image first(kPixelType24RGB, 16, 16), second(kPixelType24RGB, 16, 16);
    KLoaderRequest a, b;
    a.m_URL = b.m_URL = URL("a.jpg");
    a.m_Kind = b.m_Kind = kLoadImage;
    a.m_pPixmap = &first.Pixmap();
    b.m_pPixmap = &second.Pixmap();
    ExpectSecondRefused(a, b, "JPEGLoader");
    // Once the first is done the thread takes the next.
    m_pLoader->Request(b);
    WaitDone(*m_pLoader, b);
    EXPECT_EQ(b.GetStatus(), kDone);
    EXPECT_EQ(first.Bytes(), second.Bytes());
}

TEST_F(JPEGLoaderTest, PropertiesCarryTheExifDataSizeAndIdentifier)
{
    WriteJpeg("a.jpg", 33, 21, kPixelType24RGB, "TestCam");
    KPropTree tree(nullptr, "ImageProps");
    KLoaderRequest request;
    request.m_pTree = &tree;
    Run(request, "a.jpg", kLoadProperties);
    ASSERT_EQ(request.GetStatus(), kDone) << Narrow(request.m_Message);
    EXPECT_EQ(Value(tree, "CAMMODEL"), "TestCam");
    EXPECT_EQ(Value(tree, "COLS"), "33");
    EXPECT_EQ(Value(tree, "ROWS"), "21");
    EXPECT_EQ(Value(tree, "PROCESSABLE"), "0");
    const std::string id = Value(tree, "UNIQUEID");
    EXPECT_TRUE(IsHexPair(id)) << id;
    char size[32];
    std::snprintf(size, sizeof size, "%X-", static_cast<unsigned>(std::filesystem::file_size(Path("a.jpg"))));
    EXPECT_EQ(id.rfind(size, 0), 0u) << id;
    // The size and identifier pairs come after the file's own.
    const std::vector<std::string> keys = Keys(tree);
    ASSERT_GT(keys.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(keys.end() - 4, keys.end()),
              (std::vector<std::string>{"COLS", "ROWS", "PROCESSABLE", "UNIQUEID"}));
}

TEST_F(JPEGLoaderTest, IdentifierChangesWhenTheFileIsRewrittenWithinOneSecond)
{
    WriteJpeg("a.jpg", 16, 16);
    auto identifier = [&]() {
        KPropTree tree(nullptr, "UniqueIDProp");
        KLoaderRequest request;
        request.m_pTree = &tree;
        Run(request, "a.jpg", kLoadUniqueID);
        EXPECT_EQ(request.GetStatus(), kDone);
        EXPECT_EQ(tree.GetPairCount(), 1u);
        return Value(tree, "UNIQUEID");
    };
    // Same size, same second, another moment within it.
    const auto second = std::chrono::floor<std::chrono::seconds>(std::filesystem::last_write_time(Path("a.jpg")));
    std::filesystem::last_write_time(Path("a.jpg"), second + std::chrono::milliseconds(100));
    const std::string before = identifier();
    std::filesystem::last_write_time(Path("a.jpg"), second + std::chrono::milliseconds(600));
    const std::string after = identifier();
    EXPECT_NE(before, after);
    EXPECT_EQ(identifier(), after);  // stable while the file stays as it is
}

TEST_F(JPEGLoaderTest, RefusalsAndFailuresEndWithTheirCodeAndMessage)
{
    WriteJpeg("a.jpg", 8, 8);
    lumotest::WriteText(Path("text.jpg"), "not a jpeg at all");
    const std::vector<FailingLoad> cases = {
        {"a.jpg", kLoadCameraFile, false, kIpErrBadArgument, "JPEGLoader:Request - jpegs don't have camfiles."},
        {"a.jpg", kLoadCalibration, false, kIpErrBadArgument, "JPEGLoader:Request - invalid request."},
        {"a.jpg", 9, false, kIpErrBadArgument, "JPEGLoader:Request - invalid request."},
        {"a.jpg", -1, false, kIpErrBadArgument, "JPEGLoader:Request - invalid request."},
        {"a.jpg", kLoadModify, true, kIpErrBadArgument, "JPEGLoader:HandleRequest - invalid request."},
        {"a.jpg", kLoadProperties, false, kIpErrBadArgument, "JPEGLoader: Property list pointer is NULL"},
        {"a.jpg", kLoadUniqueID, false, kIpErrBadArgument, "JPEGLoader: Property list pointer is NULL"},
        {"missing.jpg", kLoadProperties, true, kLoaderErrFileNotFound, nullptr},
        {"missing.jpg", kLoadImage, false, kLoaderErrFileNotFound, nullptr},
        {"text.jpg", kLoadImage, false, kIpErrRead, "JPEGLoader: General JPEG I/O exception ("},
    };
    ExpectFailures(cases, {}, [](const KPropTree& tree, const std::string& what) {
        EXPECT_EQ(tree.GetPairCount(), 0u) << what;
    });
}

TEST_F(JPEGLoaderTest, DeletingAnIdleLoaderLetsItsThreadEnd)
{
    KTraceCapture trace;
    m_pLoader.reset();
    EXPECT_FALSE(trace.Contains("failed to exit"));
}

}  // namespace
