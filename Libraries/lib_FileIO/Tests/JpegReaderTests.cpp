#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "ExifTestBlocks.h"
#include "JpegTestSupport.h"
#include "KDebug.h"
#include "KJPEGImageReader.h"
#include "KPixmapExceptions.h"
#include "KPropTree.h"

using jpegtest::TestImage;
using jpegtest::WriteJpeg;

namespace {

class JpegReader : public jpegtest::Fixture {};

// Inserts an APP1 segment with these data right after the start-of-image marker.
std::vector<uint8_t> WithApp1(std::vector<uint8_t> file, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> marker = {0xFF, 0xE1, uint8_t((data.size() + 2) >> 8), uint8_t(data.size() + 2)};
    marker.insert(marker.end(), data.begin(), data.end());
    file.insert(file.begin() + 2, marker.begin(), marker.end());
    return file;
}

// A small progressive grey JPEG made with the library directly, its last scan repeated `extra` times.
std::vector<uint8_t> ProgressiveWithRepeatedScan(int extra)
{
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = 16;
    c.image_height = 16;
    c.input_components = 1;
    c.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(16);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x)
            row[x] = uint8_t(x * 16 + y);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> file(out, out + size);
    jpeg_destroy_compress(&c);
    free(out);
    // The last scan: from its SOS marker to the end-of-image marker.
    size_t lastScan = 0;
    for (size_t i = 0; i + 1 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] == 0xDA)
            lastScan = i;
    std::vector<uint8_t> scan(file.begin() + lastScan, file.end() - 2);
    for (int i = 0; i < extra; ++i)
        file.insert(file.end() - 2, scan.begin(), scan.end());
    return file;
}

std::vector<std::pair<std::string, std::string>> PropertiesOf(const KWString& url)
{
    KJPEGImageReader reader(url);
    KPropTree tree(nullptr, "ImageProps");
    reader.GetProperties(tree);
    std::vector<std::pair<std::string, std::string>> out;
    for (KPropPair* p = tree.GetFirstPair(); p; p = p->GetNext())
        out.emplace_back(WideToUtf8(p->GetKey()), WideToUtf8(p->GetValue()));
    return out;
}

}  // namespace

TEST_F(JpegReader, OpenFailures)
{
    try {
        KJPEGImageReader reader(URL("missing.jpg"));
        FAIL();
    } catch (const KExceptionFileNotFound& e) {
        EXPECT_EQ(std::string(e.GetMessage()), "JPEGImageReader: Cannot open file '" + WideToUtf8(URL("missing.jpg")) + "'");
    }
    lumotest::WriteBytes(Path("empty.jpg"), {});
    try {
        KJPEGImageReader reader(URL("empty.jpg"));
        FAIL();
    } catch (const KExceptionJPEG& e) {
        EXPECT_STREQ(e.GetMessage(), "Empty input file");
    }
    std::mt19937 random(7);
    std::vector<uint8_t> noise(5000);
    for (auto& b : noise)
        b = uint8_t(random());
    noise[0] = 0x12;
    lumotest::WriteBytes(Path("noise.jpg"), noise);
    EXPECT_THROW(KJPEGImageReader reader(URL("noise.jpg")), KExceptionJPEG);
    // A start-of-image marker followed by noise fails too, in the constructor or while decoding.
    noise[0] = 0xFF;
    noise[1] = 0xD8;
    lumotest::WriteBytes(Path("noise2.jpg"), noise);
    auto decodeNoise = [this] {
        KJPEGImageReader reader(URL("noise2.jpg"));
        KInt32 w, h;
        int t;
        reader.GetDimensions(w, h, t);
        TestImage img(t, w, h);
        reader.ReadImage(img.Pixmap());
    };
    EXPECT_THROW(decodeNoise(), KExceptionJPEG);
}

TEST_F(JpegReader, TruncatedFileDecodesWithAWarning)
{
    TestImage image = TestImage::Gradient(kPixelType24RGB, 200, 160);
    WriteJpeg(URL("full.jpg"), image, 90);
    std::vector<uint8_t> file = lumotest::ReadBytes(Path("full.jpg"));
    file.resize(file.size() * 6 / 10);
    lumotest::WriteBytes(Path("cut.jpg"), file);
    KTraceCapture trace;
    {
        KJPEGImageReader reader(URL("cut.jpg"));
        TestImage back(kPixelType24RGB, 200, 160);
        reader.ReadImage(back.Pixmap());
        // The rows that were in the file are there.
        EXPECT_NEAR(back.Row(0)[3 * 100], image.Row(0)[3 * 100], 8);
    }
    EXPECT_TRUE(trace.Contains("JPEGLib message:")) << trace.Text();
}

TEST_F(JpegReader, ScaleAndPixmapSize)
{
    TestImage image = TestImage::Gradient(kPixelType8Mono, 1001, 601);
    WriteJpeg(URL("big.jpg"), image, 80);
    KJPEGImageReader reader(URL("big.jpg"));
    reader.SetScale(1);
    KInt32 w = 0, h = 0;
    int type = 0;
    reader.GetDimensions(w, h, type);
    EXPECT_EQ(w, 501);
    EXPECT_EQ(h, 301);
    EXPECT_EQ(type, kPixelType8Mono);
    TestImage narrow(kPixelType8Mono, 500, 301);
    EXPECT_THROW(reader.ReadImage(narrow.Pixmap()), KExceptionJPEGPixmapTooSmall);
    // A larger pixmap keeps its extra column as it was.
    TestImage fits(kPixelType8Mono, 502, 301);
    for (int y = 0; y < 301; ++y)
        fits.Row(y)[501] = 0x5A;
    reader.ReadImage(fits.Pixmap());
    EXPECT_EQ(fits.Row(300)[501], 0x5A);
    EXPECT_NEAR(fits.Row(150)[250], image.Row(300)[500], 6);

    KJPEGImageReader eighth(URL("big.jpg"));
    eighth.SetScale(3);
    eighth.GetDimensions(w, h, type);
    EXPECT_EQ(w, 126);
    EXPECT_EQ(h, 76);
}

TEST_F(JpegReader, ConvertsToThePixmapType)
{
    TestImage image = TestImage::Gradient(kPixelType24RGB, 24, 16);
    WriteJpeg(URL("c.jpg"), image, 90);
    TestImage rgb(kPixelType24RGB, 24, 16);
    KJPEGImageReader(URL("c.jpg")).ReadImage(rgb.Pixmap());
    TestImage wide(kPixelType48RGB, 24, 16);
    KJPEGImageReader(URL("c.jpg")).ReadImage(wide.Pixmap());
    TestImage bgra(kPixelType32BGRA, 24, 16);
    KJPEGImageReader(URL("c.jpg")).ReadImage(bgra.Pixmap());
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x)
            for (int c = 0; c < 3; ++c) {
                uint16_t word;
                std::memcpy(&word, wide.Row(y) + 6 * x + 2 * c, 2);
                ASSERT_EQ(word, rgb.Row(y)[3 * x + c] << 8);
                ASSERT_EQ(bgra.Row(y)[4 * x + 2 - c], rgb.Row(y)[3 * x + c]);
            }

    TestImage grey = TestImage::Gradient(kPixelType8Mono, 8, 8);
    WriteJpeg(URL("g.jpg"), grey, 90);
    TestImage colour(kPixelType24RGB, 8, 8);
    try {
        KJPEGImageReader(URL("g.jpg")).ReadImage(colour.Pixmap());
        FAIL();
    } catch (const KExceptionUnknownPixelType& e) {
        EXPECT_STREQ(e.GetMessage(), "JPEGReader: Unknown source pixel type");
    }
    TestImage mono(kPixelType8Mono, 24, 16);
    try {
        KJPEGImageReader(URL("c.jpg")).ReadImage(mono.Pixmap());
        FAIL();
    } catch (const KExceptionUnknownPixelType& e) {
        EXPECT_STREQ(e.GetMessage(), "Unknown dest pixel type");
    }
}

TEST_F(JpegReader, PropertiesFromTheFirstApp1)
{
    TestImage image = TestImage::Gradient(kPixelType8Mono, 8, 8);
    KPropTree props(nullptr, "p");
    props.AddPair("ISO", "800");
    WriteJpeg(URL("exif.jpg"), image, 90,
              [&](KJPEGLineWriter& w) { w.WriteProperties(props, 2, KWString("Demo"), KVersionInfo{}); });
    auto pairs = PropertiesOf(URL("exif.jpg"));
    EXPECT_NE(std::find(pairs.begin(), pairs.end(), std::make_pair(std::string("ISO"), std::string("800"))),
              pairs.end());

    WriteJpeg(URL("plain.jpg"), image, 90);
    EXPECT_TRUE(PropertiesOf(URL("plain.jpg")).empty());
    std::vector<uint8_t> plain = lumotest::ReadBytes(Path("plain.jpg"));

    exiftest::Encoder enc(true);
    std::vector<uint8_t> good = enc.Segment({enc.Short(0x8827, 100)});
    lumotest::WriteBytes(Path("mm.jpg"), WithApp1(plain, good));
    EXPECT_EQ(PropertiesOf(URL("mm.jpg")), (std::vector<std::pair<std::string, std::string>>{{"ISO", "100"}}));
    // A first directory not at offset 8 gives nothing; so does an APP1 that is not EXIF, even when a later one is.
    std::vector<uint8_t> moved = good;
    moved[13] = 10;
    lumotest::WriteBytes(Path("moved.jpg"), WithApp1(plain, moved));
    EXPECT_TRUE(PropertiesOf(URL("moved.jpg")).empty());
    std::vector<uint8_t> xmp = {'h', 't', 't', 'p', ':', '/', '/', 0};
    lumotest::WriteBytes(Path("two.jpg"), WithApp1(WithApp1(plain, good), xmp));
    EXPECT_TRUE(PropertiesOf(URL("two.jpg")).empty());
    // The image still decodes.
    KJPEGImageReader reader(URL("two.jpg"));
    TestImage back(kPixelType8Mono, 8, 8);
    reader.ReadImage(back.Pixmap());
}

TEST_F(JpegReader, TooManyScansAreRefused)
{
    lumotest::WriteBytes(Path("some.jpg"), ProgressiveWithRepeatedScan(20));
    {
        KJPEGImageReader reader(URL("some.jpg"));
        TestImage back(kPixelType8Mono, 16, 16);
        reader.ReadImage(back.Pixmap());
    }
    lumotest::WriteBytes(Path("many.jpg"), ProgressiveWithRepeatedScan(1200));
    KJPEGImageReader reader(URL("many.jpg"));
    TestImage back(kPixelType8Mono, 16, 16);
    try {
        reader.ReadImage(back.Pixmap());
        FAIL();
    } catch (const KExceptionJPEG& e) {
        EXPECT_STREQ(e.GetMessage(), "Too many scans in the JPEG image (more than 1000)");
    }
}

TEST_F(JpegReader, DeclaredSizeBeyondWhatTheFileHoldsIsRefusedAtOnce)
{
    // The frame header of a small file, made to declare other sizes.
    const std::vector<uint8_t> small = ProgressiveWithRepeatedScan(0);
    size_t frame = 0;
    for (size_t i = 0; i + 1 < small.size() && frame == 0; ++i)
        if (small[i] == 0xFF && (small[i + 1] == 0xC0 || small[i + 1] == 0xC2))
            frame = i;
    ASSERT_NE(frame, 0u);
    auto declaring = [&](uint16_t width, uint16_t height) {
        std::vector<uint8_t> file = small;
        file[frame + 5] = uint8_t(height >> 8);
        file[frame + 6] = uint8_t(height);
        file[frame + 7] = uint8_t(width >> 8);
        file[frame + 8] = uint8_t(width);
        lumotest::WriteBytes(Path("declared.jpg"), file);
        return URL("declared.jpg");
    };
    struct Case {
        uint16_t width, height;
        const char* refusal;  // null: opens
    };
    const Case cases[] = {
        {60000, 60000, "more than the largest picture read"},
        {20000, 14000, "more than the largest picture read"},
        {4000, 4000, "bytes can hold"},
        {1000, 1000, nullptr},
    };
    for (const Case& c : cases) {
        const KWString url = declaring(c.width, c.height);
        if (c.refusal == nullptr) {
            KJPEGImageReader reader(url);
            KInt32 w = 0, h = 0;
            int t = 0;
            reader.GetDimensions(w, h, t);
            EXPECT_EQ(w, c.width);
            continue;
        }
        try {
            KJPEGImageReader reader(url);
            ADD_FAILURE() << c.width << " x " << c.height << " opened";
        } catch (const KExceptionJPEG& e) {
            const std::string message = e.GetMessage();
            EXPECT_NE(message.find(c.refusal), std::string::npos) << message;
            EXPECT_NE(message.find(WideToUtf8(url)), std::string::npos) << message;
        }
    }
}
