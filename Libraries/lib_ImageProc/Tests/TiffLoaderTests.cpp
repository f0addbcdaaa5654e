#include <gtest/gtest.h>

#include <memory>

#include "KTiffImageReader.h"
#include "LoaderTestSupport.h"

using namespace loadertest;

namespace {

using TiffLoaderTest = LoaderFixture<CreateTiffLoader>;

TEST_F(TiffLoaderTest, ImageCountIsFiveForAFileThatOpens)
{
    WriteTiff("a.tif", 8, 8);
    KLoaderRequest count;
    Run(count, "a.tif", kLoadImageCount);
    EXPECT_EQ(count.GetStatus(), kDone);
    EXPECT_EQ(count.m_Value, 5u);
    KLoaderRequest missing;
    Run(missing, "missing.tif", kLoadImageCount);
    EXPECT_EQ(missing.GetStatus(), kFailed);
    EXPECT_EQ(missing.GetError(), kLoaderErrFileNotFound);
    EXPECT_EQ(Narrow(missing.m_Message), Narrow(URL("missing.tif")));
}

TEST_F(TiffLoaderTest, ImageIndexIsTheReduction)
{
    WriteTiff("a.tif", 101, 61, kPixelType48RGB);
    struct Case {
        KUInt32 index;
        KUInt32 width, height;
    };
    // Reductions truncate; indexes outside 1..4 read the full size.
    const Case cases[] = {{0, 101, 61}, {1, 50, 30}, {2, 25, 15}, {3, 12, 7}, {4, 6, 3}, {5, 101, 61}, {7, 101, 61}};
    for (const Case& c : cases) {
        KLoaderRequest request;
        request.m_Value = c.index;
        Run(request, "a.tif", kLoadImage);
        EXPECT_EQ(request.GetStatus(), kDone) << c.index;
        EXPECT_EQ(request.m_Aux1, c.width) << c.index;
        EXPECT_EQ(request.m_Aux2, c.height) << c.index;
        EXPECT_EQ(request.m_PixelType, kPixelType48RGB);
        EXPECT_EQ(request.m_ImageKind, kImageKindViewable);
    }
}

TEST_F(TiffLoaderTest, PixelsAreReadOnTheLoadThreadAsTheReaderReadsThem)
{
    WriteTiff("a.tif", 40, 30, kPixelType24RGB);
    Image expected(kPixelType32BGRA, 20, 15);
    {
        KTiffImageReader reader(URL("a.tif"));
        reader.SetScale(1);
        reader.ReadImage(expected.Pixmap());
    }
    Image image(kPixelType32BGRA, 20, 15);
    KLoaderRequest request, second;
    request.m_Value = 1;
    request.m_pPixmap = &image.Pixmap();
    second.m_pPixmap = &image.Pixmap();
    request.m_URL = second.m_URL = URL("a.tif");
    request.m_Kind = second.m_Kind = kLoadImage;
    ExpectSecondRefused(request, second, "TiffLoader");
    EXPECT_EQ(image.Bytes(), expected.Bytes());
}

TEST_F(TiffLoaderTest, PropertiesCarryThePrivateTagSizeAndIdentifier)
{
    WriteTiff("a.tif", 33, 21, kPixelType24RGB, "DV7-123456");
    KPropTree tree(nullptr, "ImageProps");
    KLoaderRequest request;
    request.m_pTree = &tree;
    Run(request, "a.tif", kLoadProperties);
    ASSERT_EQ(request.GetStatus(), kDone) << Narrow(request.m_Message);
    EXPECT_EQ(Value(tree, "ROWS"), "21");
    EXPECT_EQ(Value(tree, "COLS"), "33");
    EXPECT_EQ(Value(tree, "CAMSERIAL"), "DV7-123456");
    EXPECT_EQ(Value(tree, "PROCESSABLE"), "0");
    EXPECT_TRUE(IsHexPair(Value(tree, "UNIQUEID"))) << Value(tree, "UNIQUEID");
    const std::vector<std::string> keys = Keys(tree);
    EXPECT_EQ(std::vector<std::string>(keys.end() - 2, keys.end()),
              (std::vector<std::string>{"PROCESSABLE", "UNIQUEID"}));
}

TEST_F(TiffLoaderTest, RequestsATiffCannotAnswer)
{
    WriteTiff("a.tif", 8, 8);
    struct Case {
        KInt32 kind;
        bool tree;
        KUInt32 status, error;
        const char* message;
    };
    const Case cases[] = {
        {kLoadCameraFile, false, kDone, kIpErrNone, ""},
        {kLoadCalibration, false, kFailed, kIpErrBadArgument, "TiffLoader:Request - invalid request."},
        {7, false, kFailed, kIpErrBadArgument, "TiffLoader:Request - invalid request."},
        {kLoadModify, true, kFailed, kIpErrBadArgument, "TiffLoader:HandleRequest - invalid request."},
        {kLoadProperties, false, kFailed, kIpErrBadArgument, "TiffLoader: Property list pointer is NULL"},
        {kLoadUniqueID, false, kFailed, kIpErrBadArgument, "TiffLoader: Property list pointer is NULL"},
    };
    for (const Case& c : cases) {
        KPropTree tree(nullptr, "ImageProps");
        tree.AddPair("ROTATION", "90");
        KLoaderRequest request;
        request.m_pTree = c.tree ? &tree : nullptr;
        Run(request, "a.tif", c.kind);
        EXPECT_EQ(request.GetStatus(), c.status) << c.kind;
        EXPECT_EQ(request.GetError(), c.error) << c.kind;
        EXPECT_EQ(Narrow(request.m_Message), c.message) << c.kind;
        EXPECT_EQ(request.m_Value, 0u) << c.kind;
    }
}

}  // namespace
