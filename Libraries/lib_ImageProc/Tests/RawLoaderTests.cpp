#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "KDebug.h"
#include "KzrFileBuilder.h"
#include "KzrStandard.h"
#include "LoaderTestSupport.h"

using namespace loadertest;
using namespace kzrsynth;

namespace {

class RawLoaderTest : public LoaderFixture<CreateQRLbLoader> {
protected:
    BuiltFile Write(const std::string& name, const FileLayout& layout)
    {
        BuiltFile built = BuildFile(layout);
        lumotest::WriteBytes(Path(name), built.bytes);
        return built;
    }
    // A small file: one image of each given type, each 8 x 4 in format 3.
    static FileLayout Layout(std::vector<KUInt32> imageTypes, KUInt32 version = KQrlb::kVersion22)
    {
        FileLayout layout;
        layout.version = version;
        for (KUInt32 type : imageTypes) {
            ImageLayout image;
            image.imageType = type;
            image.format = KQrlb::kFormat24;
            image.plane = Plane(8, 4, 100);
            layout.images.push_back(std::move(image));
        }
        return layout;
    }

    KUInt32 HeaderWord(const std::string& name, size_t offset)
    {
        const std::vector<uint8_t> bytes = lumotest::ReadBytes(Path(name));
        KUInt32 word = 0;
        std::memcpy(&word, bytes.data() + offset, 4);
        return word;
    }
};

TEST_F(RawLoaderTest, ImagesOfAStandardFileAreCountedDescribedAndRead)
{
    StandardOptions options;
    options.width = 32;
    options.height = 24;
    const BuiltFile built = Write("a.kzr", StandardLayout(options));
    KLoaderRequest count;
    Run(count, "a.kzr", kLoadImageCount);
    ASSERT_EQ(count.GetStatus(), kDone) << Narrow(count.m_Message);
    ASSERT_EQ(count.m_Value, built.readerOrder.size());
    for (KUInt32 index = 0; index < count.m_Value; ++index) {
        const ExpectedImage& expected = built.ReaderImage(index)->expected;
        KLoaderRequest info;
        info.m_Value = index;
        Run(info, "a.kzr", kLoadImage);
        ASSERT_EQ(info.GetStatus(), kDone) << index;
        EXPECT_EQ(info.m_Aux1, KUInt32(expected.width));
        EXPECT_EQ(info.m_Aux2, KUInt32(expected.height));
        EXPECT_EQ(info.m_PixelType, expected.pixmapType);

        Image image(info.m_PixelType, expected.width, expected.height);
        KLoaderRequest load;
        load.m_Value = index;
        load.m_pPixmap = &image.Pixmap();
        Run(load, "a.kzr", kLoadImage);
        ASSERT_EQ(load.GetStatus(), kDone) << Narrow(load.m_Message);
        EXPECT_GT(load.GetProgress(), 0.5);
        const size_t rowBytes = expected.pixels.size() / size_t(expected.height);
        for (int y = 0; y < expected.height; ++y)
            ASSERT_EQ(0, std::memcmp(image.Pixmap().GetRow(y), expected.pixels.data() + y * rowBytes, rowBytes))
                << index << " row " << y;
    }
}

TEST_F(RawLoaderTest, ImageKindFollowsTheImageType)
{
    FileLayout layout = Layout({KQrlb::kImageRaw, KQrlb::kImageDark, KQrlb::kImageDarkSubtracted, 7});
    // An IMA2 section is listed after the IMAG ones.
    ImageLayout preview;
    preview.imageType = KQrlb::kImageViewable;
    preview.format = KQrlb::kFormat24;
    preview.plane = Plane(4, 2, 50);
    preview.ima2 = true;
    layout.images.insert(layout.images.begin(), std::move(preview));
    Write("a.kzr", layout);
    const KInt32 kinds[] = {kImageKindRaw, kImageKindDark, kImageKindDarkSubtracted, 0, kImageKindViewable};
    for (KUInt32 index = 0; index < 5; ++index) {
        KLoaderRequest info;
        info.m_Value = index;
        Run(info, "a.kzr", kLoadImage);
        if (kinds[index]) {
            EXPECT_EQ(info.GetStatus(), kDone) << index;
            EXPECT_EQ(info.m_ImageKind, kinds[index]) << index;
        } else {
            EXPECT_EQ(info.GetStatus(), kFailed);
            EXPECT_EQ(info.GetError(), kIpErrRead);
            EXPECT_EQ(Narrow(info.m_Message), "QRLbLoader:LoadImage - unknown image type");
        }
    }
    EXPECT_EQ(HeaderWord("a.kzr", 0), KQrlb::kTagMagic);
    KLoaderRequest beyond;
    beyond.m_Value = 7;
    Run(beyond, "a.kzr", kLoadImage);
    EXPECT_EQ(beyond.GetStatus(), kFailed);
    EXPECT_EQ(beyond.GetError(), kIpErrBadArgument);
    EXPECT_EQ(Narrow(beyond.m_Message), "QRLbLoader:LoadImage index 7");
}

TEST_F(RawLoaderTest, CalibrationIsFoundByItsType)
{
    const std::vector<uint8_t> cameraFile = {1, 2, 3, 4, 5};
    std::vector<uint8_t> block(300);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = uint8_t(i * 7);
    FileLayout layout = Layout({KQrlb::kImageRaw});
    layout.cams.push_back({KQrlb::kCamTypeCameraFile, cameraFile});
    layout.cams.push_back({KQrlb::kCamTypeEnciphered, block});  // found as a calibration block
    Write("both.kzr", layout);
    FileLayout cameraOnly = Layout({KQrlb::kImageRaw});
    cameraOnly.cams.push_back({KQrlb::kCamTypeCameraFile, cameraFile});
    Write("camera.kzr", cameraOnly);
    Write("none.kzr", Layout({KQrlb::kImageRaw}));

    struct Case {
        const char* file;
        KInt32 kind;
        const std::vector<uint8_t>* payload;  // null: fails
        KUInt32 aux1;
        const char* message;
    };
    const Case cases[] = {
        {"both.kzr", kLoadCameraFile, &cameraFile, 1, nullptr},
        {"both.kzr", kLoadCalibration, &block, 2, nullptr},
        {"camera.kzr", kLoadCalibration, nullptr, 0, "QRLbLoader:LoadCamfile - no camfile of the requested type found."},
        {"none.kzr", kLoadCameraFile, nullptr, 0, "QRLbLoader:LoadCamfile - no camfiles found in this file."},
    };
    for (const Case& c : cases) {
        KLoaderRequest size;
        Run(size, c.file, c.kind);
        if (!c.payload) {
            EXPECT_EQ(size.GetStatus(), kFailed) << c.file;
            EXPECT_EQ(size.GetError(), kIpErrNotFound);
            EXPECT_EQ(Narrow(size.m_Message), c.message);
            continue;
        }
        ASSERT_EQ(size.GetStatus(), kDone) << c.file << " " << Narrow(size.m_Message);
        EXPECT_EQ(size.m_Value, c.payload->size());
        EXPECT_EQ(size.m_Aux1, c.aux1);
        std::vector<uint8_t> buffer(size.m_Value);
        KLoaderRequest read;
        read.m_pBuffer = buffer.data();
        read.m_BufferSize = size.m_Value;
        Run(read, c.file, c.kind);
        ASSERT_EQ(read.GetStatus(), kDone) << c.file;
        EXPECT_EQ(buffer, *c.payload) << c.file;
    }
}

TEST_F(RawLoaderTest, CalibrationNeverOverrunsASmallerBuffer)
{
    std::vector<uint8_t> block(64, 0xAB);
    FileLayout layout = Layout({KQrlb::kImageRaw});
    layout.cams.push_back({KQrlb::kCamTypeBlock, block});
    Write("a.kzr", layout);
    std::vector<uint8_t> buffer(48 + 16, 0);
    KLoaderRequest read;
    read.m_pBuffer = buffer.data();
    read.m_BufferSize = 48;
    Run(read, "a.kzr", kLoadCalibration);
    EXPECT_EQ(read.GetStatus(), kFailed);
    EXPECT_EQ(read.GetError(), kIpErrRead);
    EXPECT_EQ(Narrow(read.m_Message), "QRLbLoader:LoadCamfile - error reading camfile.");
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + 48, buffer.end()), std::vector<uint8_t>(16, 0));
}

TEST_F(RawLoaderTest, CancelledReadsEndWithStateThree)
{
    FileLayout layout = Layout({});
    ImageLayout image;
    image.imageType = KQrlb::kImageRaw;
    image.format = KQrlb::kFormat48;
    image.plane = Plane(16, 64, 1000);
    layout.images.push_back(std::move(image));
    layout.cams.push_back({KQrlb::kCamTypeBlock, std::vector<uint8_t>(300000, 1)});
    Write("a.kzr", layout);
    Image pixels(kPixelType48RGB, 16, 64);
    std::vector<uint8_t> buffer(300000);
    KLoaderRequest load, camfile;
    load.m_Value = 0;
    load.m_pPixmap = &pixels.Pixmap();
    camfile.m_pBuffer = buffer.data();
    camfile.m_BufferSize = KUInt32(buffer.size());
    for (KLoaderRequest* request : {&load, &camfile}) {
        Gate gate;
        request->m_URL = URL("a.kzr");
        request->m_Kind = request == &load ? kLoadImage : kLoadCalibration;
        m_pLoader->Request(*request);
        request->SetCancel(true);
        gate.Open();
        WaitDone(*m_pLoader, *request);
        EXPECT_EQ(request->GetStatus(), kCancelled);
        EXPECT_LT(request->GetProgress(), 1.0);
    }
}

TEST_F(RawLoaderTest, ASecondLongRequestWhileTheFirstRunsIsRefused)
{
    FileLayout layout = Layout({KQrlb::kImageRaw});
    layout.cams.push_back({KQrlb::kCamTypeBlock, {1, 2, 3}});
    Write("a.kzr", layout);
    Image pixels(kPixelType24RGB, 8, 4);
    KLoaderRequest load, camfile;
    load.m_URL = camfile.m_URL = URL("a.kzr");
    load.m_Kind = kLoadImage;
    load.m_pPixmap = &pixels.Pixmap();
    camfile.m_Kind = kLoadCalibration;
    ExpectSecondRefused(load, camfile, "QRLbLoader", [&] {
        // Short requests are answered meanwhile.
        KLoaderRequest count;
        Run(count, "a.kzr", kLoadImageCount);
        EXPECT_EQ(count.m_Value, 1u);
    });
}

TEST_F(RawLoaderTest, PropertiesAddTheHeaderFieldsAndTheWhiteBalance)
{
    struct Case {
        KUInt32 version;
        const char* header;      // header white balance
        bool cameraPair;         // the camera's list has WB_DESC "Auto"
        const char* original;    // expected WB_DESC_ORIG
        const char* current;     // expected WB_DESC
    };
    const Case cases[] = {
        {KQrlb::kVersion20, "", true, "Auto", "Auto"},
        {KQrlb::kVersion22, "Sunlight", true, "Auto", "Sunlight"},
        {KQrlb::kVersion22, "", true, "Auto", "Auto"},
        {KQrlb::kVersion22, "Sunlight", false, "<none>", "<none>"},
    };
    for (const Case& c : cases) {
        FileLayout layout = Layout({KQrlb::kImageRaw}, c.version);
        layout.whiteBalance = c.header;
        PropPairs pairs = {{u"CAMMODEL", u"PELTA DV7"}};
        if (c.cameraPair)
            pairs.emplace_back(u"WB_DESC", u"Auto");
        layout.props.push_back({0, pairs, 0});
        layout.markBits = 0xFFFFFFFF;
        layout.rotation = 180;
        Write("a.kzr", layout);
        KPropTree tree(nullptr, "ImageProps");
        KLoaderRequest request;
        request.m_pTree = &tree;
        Run(request, "a.kzr", kLoadProperties);
        ASSERT_EQ(request.GetStatus(), kDone) << Narrow(request.m_Message);
        EXPECT_EQ(Value(tree, "WB_DESC_ORIG"), c.original) << c.header;
        EXPECT_EQ(Value(tree, "WB_DESC"), c.current) << c.header;
        EXPECT_EQ(CountKey(tree, "WB_DESC"), c.cameraPair ? 1u : 0u);
        EXPECT_EQ(Value(tree, "CAMMODEL"), "PELTA DV7");
        EXPECT_EQ(Value(tree, "MARKBITS"), "-1");
        EXPECT_EQ(Value(tree, "ROTATION"), "180");
        EXPECT_EQ(Value(tree, "PROCESSABLE"), "1");
        EXPECT_EQ(Value(tree, "COLS"), "8");
        EXPECT_EQ(Value(tree, "ROWS"), "4");
    }
}

TEST_F(RawLoaderTest, QuarterTurnsSwapColumnsAndRows)
{
    for (KUInt32 rotation : {0u, 90u, 180u, 270u}) {
        FileLayout layout = Layout({KQrlb::kImageRaw});
        layout.columns = 2000;
        layout.rows = 1500;
        layout.rotation = rotation;
        Write("a.kzr", layout);
        KPropTree tree(nullptr, "ImageProps");
        KLoaderRequest request;
        request.m_pTree = &tree;
        Run(request, "a.kzr", kLoadProperties);
        const bool turned = rotation % 180 != 0;
        EXPECT_EQ(Value(tree, "COLS"), turned ? "1500" : "2000") << rotation;
        EXPECT_EQ(Value(tree, "ROWS"), turned ? "2000" : "1500") << rotation;
    }
}

TEST_F(RawLoaderTest, UniqueIdentifierIsTheHeaderBytesInHex)
{
    FileLayout layout = Layout({KQrlb::kImageRaw});
    layout.identifierGiven = true;
    for (int i = 0; i < 16; ++i)
        layout.identifier[size_t(i)] = uint8_t(i);
    Write("a.kzr", layout);
    KPropTree tree(nullptr, "UniqueIDProp");
    KLoaderRequest request;
    request.m_pTree = &tree;
    Run(request, "a.kzr", kLoadUniqueID);
    EXPECT_EQ(request.GetStatus(), kDone);
    EXPECT_EQ(Keys(tree), std::vector<std::string>{"UNIQUEID"});
    EXPECT_EQ(Value(tree, "UNIQUEID"), "000102030405060708090A0B0C0D0E0F");
}

TEST_F(RawLoaderTest, ModifyWritesTheEditsIntoTheHeader)
{
    struct Case {
        KUInt32 version;
        KUInt32 rotation;  // before
        std::vector<std::pair<const char*, std::string>> pairs;
        KUInt32 status;
        KUInt32 rotationAfter, marksAfter;
        const char* whiteBalanceAfter;
        bool tracesWhiteBalance;
    };
    const std::string forty(40, 'W');
    const Case cases[] = {
        {KQrlb::kVersion22, 270, {{"ROTATION", "+90"}}, kDone, 0, 5, "Cloudy", false},
        {KQrlb::kVersion22, 0, {{"ROTATION", "-90"}}, kDone, 270, 5, "Cloudy", false},
        {KQrlb::kVersion22, 90, {{"ROTATION", "180"}}, kDone, 180, 5, "Cloudy", false},
        {KQrlb::kVersion22, 0, {{"ROTATION", "450"}}, kDone, 90, 5, "Cloudy", false},
        {KQrlb::kVersion22, 90, {{"ROTATION", "-720"}}, kDone, 90, 5, "Cloudy", false},
        {KQrlb::kVersion22, 0, {{"MARKBITS", "-1"}, {"WB_DESC", "Sunlight"}}, kDone, 0, 0xFFFFFFFF, "Sunlight", false},
        {KQrlb::kVersion22, 0, {{"LOCKED", "1"}}, kDone, 0, 5, "Cloudy", false},
        // What cannot be stored, or read back, is refused and nothing at all is written.
        {KQrlb::kVersion22, 0, {{"WB_DESC", forty}, {"MARKBITS", "3"}, {"ROTATION", "90"}}, kFailed, 0, 5, "Cloudy", false},
        {KQrlb::kVersion22, 0, {{"WB_DESC", std::string(31, 'W')}}, kDone, 0, 5, "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW", false},
        {KQrlb::kVersion20, 0, {{"WB_DESC", "Sunlight"}, {"MARKBITS", "7"}}, kFailed, 0, 5, nullptr, true},
        {KQrlb::kVersion22, 0, {{"ROTATION", "45"}, {"MARKBITS", "7"}}, kFailed, 0, 5, "Cloudy", false},
        {KQrlb::kVersion22, 90, {{"ROTATION", "+45"}}, kFailed, 90, 5, "Cloudy", false},
        {KQrlb::kVersion22, 0, {{"ROTATION", "ninety"}, {"MARKBITS", "7"}}, kFailed, 0, 5, "Cloudy", false},
        {KQrlb::kVersion22, 0, {{"MARKBITS", "99999999999"}}, kFailed, 0, 5, "Cloudy", false},
    };
    for (const Case& c : cases) {
        FileLayout layout = Layout({KQrlb::kImageRaw}, c.version);
        layout.rotation = c.rotation;
        layout.markBits = 5;
        layout.whiteBalance = "Cloudy";
        const std::vector<uint8_t> before = Write("a.kzr", layout).bytes;
        KPropTree tree(nullptr, "ImageProps");
        for (const auto& [key, value] : c.pairs)
            tree.AddPair(key, value.c_str());
        KTraceCapture trace;
        KLoaderRequest request;
        request.m_pTree = &tree;
        Run(request, "a.kzr", kLoadModify);
        const std::string what = c.pairs[0].first + std::string("=") + c.pairs[0].second;
        EXPECT_EQ(request.GetStatus(), c.status) << what << " " << Narrow(request.m_Message);
        EXPECT_EQ(HeaderWord("a.kzr", 36), c.rotationAfter) << what;
        EXPECT_EQ(HeaderWord("a.kzr", 24), c.marksAfter) << what;
        const std::vector<uint8_t> after = lumotest::ReadBytes(Path("a.kzr"));
        ASSERT_EQ(after.size(), before.size());
        if (c.whiteBalanceAfter) {
            EXPECT_STREQ(reinterpret_cast<const char*>(after.data() + 40), c.whiteBalanceAfter) << what;
        }
        // Nothing but the three fields changes.
        for (size_t i = 0; i < after.size(); ++i) {
            if ((i < 24 || i >= 28) && (i < 36 || i >= 72)) {
                ASSERT_EQ(after[i], before[i]) << what << " byte " << i;
            }
        }
        EXPECT_EQ(trace.Contains("QRLbLoader::priModifyProperties: Error setting white balance in '"),
                  c.tracesWhiteBalance)
            << what;
    }
}

TEST_F(RawLoaderTest, FailuresEndWithTheirCodeAndMessage)
{
    Write("a.kzr", Layout({KQrlb::kImageRaw}));
    lumotest::WriteText(Path("text.kzr"), std::string(400, 'x'));
    const std::vector<FailingLoad> cases = {
        {"a.kzr", 9, false, kIpErrBadArgument, "QRLbLoader:Request - invalid request."},
        {"a.kzr", kLoadProperties, false, kIpErrBadArgument, "QRLbLoader: Property list pointer is NULL"},
        {"a.kzr", kLoadUniqueID, false, kIpErrBadArgument, "QRLbLoader: Property list pointer is NULL"},
        {"missing.kzr", kLoadImageCount, false, kLoaderErrFileNotFound, nullptr},
        {"missing.kzr", kLoadModify, true, kLoaderErrFileNotFound, nullptr},
        {"text.kzr", kLoadImageCount, false, kIpErrRead, "QRLbLoader: This file is not a qrlb ("},
        {"text.kzr", kLoadModify, true, kIpErrRead, "QRLbLoader: This file is not a qrlb ("},
        {"text.kzr", kLoadCalibration, false, kIpErrRead, "QRLbLoader: This file is not a qrlb ("},
    };
    ExpectFailures(cases, [](KPropTree& tree) { tree.AddPair("ROTATION", "90"); });
    EXPECT_FALSE(std::filesystem::exists(Path("missing.kzr")));
}

}  // namespace
