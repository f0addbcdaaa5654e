#include <cstdlib>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "KExifReader.h"
#include "KExifWriter.h"
#include "KHasProperties.h"
#include "KICCProfiles.h"
#include "KPropTree.h"
#include "KQuarelTag.h"
#include "KRowConverters.h"
#include "KTextFunctions.h"
#include "KTiffImageReader.h"
#include "KTiffLineWriter.h"
#include "TiffTestSupport.h"

using tifftest::Pairs;
using tifftest::TestPixmap;
using tifftest::ThrownMessage;

namespace {

const KVersionInfo kVersion = {1, 2, 3, 45};

class TiffWriter : public tifftest::Fixture {
protected:
    // Tags of a written file, read with the library's own file functions.
    struct OpenedTiff {
        explicit OpenedTiff(const std::filesystem::path& path) : tiff(TIFFOpen(path.c_str(), "r")) {}
        ~OpenedTiff()
        {
            if (tiff != nullptr)
                TIFFClose(tiff);
        }
        TIFF* tiff;
    };

    // Raw bytes of a custom tag (count of elements of size elementBytes), or empty.
    static std::vector<uint8_t> TagBytes(TIFF* tiff, ttag_t tag, size_t elementBytes)
    {
        uint32_t count = 0;
        const void* data = nullptr;
        if (!TIFFGetField(tiff, tag, &count, &data) || data == nullptr)
            return {};
        const uint8_t* p = static_cast<const uint8_t*>(data);
        return std::vector<uint8_t>(p, p + count * elementBytes);
    }

    KPropTree* Props()
    {
        m_Props = std::make_unique<KPropTree>(nullptr, "ImageProps");
        const char* pairs[][2] = {
            {"CAMMANUF", "PELTA"}, {"CAMMODEL", "PELTA DV7"}, {"AP_DESC", "5.6"}, {"SH_DESC", "1/250"},
            {"CAMSERIAL", "SN42"}, {"ISO", "200"},            {"PMODE", "A"},     {"FLASH", "OFF"},
            {"FLENGTH", "50"},     {"EXPNET", "-0.7"},        {"COLS", "2304"},   {"ROWS", "1536"},
        };
        for (auto& p : pairs)
            m_Props->AddPair(p[0], p[1]);
        return m_Props.get();
    }

    std::unique_ptr<KPropTree> m_Props;
};

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

}  // namespace

TEST_F(TiffWriter, SetDimensionsWritesTheLayoutOfEachFileType)
{
    struct Case {
        int type;
        uint16_t samples, bits, photometric, extra;
    } cases[] = {
        {kPixelType8Mono, 1, 8, PHOTOMETRIC_MINISBLACK, 0}, {kPixelType16Mono, 1, 16, PHOTOMETRIC_MINISBLACK, 0},
        {kPixelType24RGB, 3, 8, PHOTOMETRIC_RGB, 0},        {kPixelType30RGBL, 4, 8, PHOTOMETRIC_RGB, 1},
        {kPixelType48RGB, 3, 16, PHOTOMETRIC_RGB, 0},
    };
    for (const Case& c : cases) {
        const std::string name = "layout" + std::to_string(c.type) + ".tif";
        {
            KTiffLineWriter writer(URL(name), false);
            writer.SetDimensions(3, 2, c.type);
            std::vector<uint8_t> row(3 * KPixelTypeBytes(c.type), 0x5A);
            writer.WriteLine(row.data(), c.type);
            writer.WriteLine(row.data(), c.type);
        }
        const auto bytes = lumotest::ReadBytes(Path(name));
        ASSERT_GE(bytes.size(), 8u);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 2), "II");
        OpenedTiff f(Path(name));
        ASSERT_NE(f.tiff, nullptr);
        uint32_t width = 0, height = 0;
        uint16_t samples = 0, bits = 0, photometric = 0, compression = 0, planar = 0, extraCount = 0;
        uint16_t* extra = nullptr;
        TIFFGetField(f.tiff, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(f.tiff, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetField(f.tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetField(f.tiff, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetField(f.tiff, TIFFTAG_PHOTOMETRIC, &photometric);
        TIFFGetField(f.tiff, TIFFTAG_COMPRESSION, &compression);
        TIFFGetField(f.tiff, TIFFTAG_PLANARCONFIG, &planar);
        TIFFGetField(f.tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
        EXPECT_EQ(width, 3u);
        EXPECT_EQ(height, 2u);
        EXPECT_EQ(samples, c.samples);
        EXPECT_EQ(bits, c.bits);
        EXPECT_EQ(photometric, c.photometric);
        EXPECT_EQ(compression, COMPRESSION_NONE);
        EXPECT_EQ(planar, PLANARCONFIG_CONTIG);
        EXPECT_EQ(extraCount, c.extra);
        if (c.extra > 0) {
            EXPECT_EQ(extra[0], EXTRASAMPLE_UNSPECIFIED);
        }
    }
    KTiffLineWriter writer(URL("bad.tif"), false);
    EXPECT_EQ(ThrownMessage([&] { writer.SetDimensions(3, 2, kPixelType30RGB); }),
              "TiffLineWriter: while setting dimensions");
    EXPECT_THROW(writer.SetDimensions(0, 2, kPixelType24RGB), KExceptionFileWrite);
}

// Every source type the file types take gives what the per-pixel composition gives (unpack, shift, pack), and
// the file reads back to it.
TEST_F(TiffWriter, RowsOfEverySourceTypeAreConvertedToTheFileType)
{
    struct Case {
        int fileType;
        int sourceType;
        KRowConverter reference;
    };
    using T24 = KPixelClass24RGB;
    using T30 = KPixelClass30RGBL;
    using T48 = KPixelClass48RGB;
    const Case cases[] = {
        {kPixelType24RGB, kPixelType24BGR, ConvertRowThroughTriple<KPixelClass24BGR, T24, 0>},
        {kPixelType24RGB, kPixelType30RGBL, ConvertRowThroughTriple<KPixelClass30RGBL, T24, -3>},
        {kPixelType24RGB, kPixelType30BGRL, ConvertRowThroughTriple<KPixelClass30BGRL, T24, -3>},
        {kPixelType24RGB, kPixelType30RGB, ConvertRowThroughTriple<KPixelClass30RGB, T24, -3>},
        {kPixelType24RGB, kPixelType32ARGB, ConvertRowThroughTriple<KPixelClass32ARGB, T24, 0>},
        {kPixelType24RGB, kPixelType32ABGR, ConvertRowThroughTriple<KPixelClass32ABGR, T24, 0>},
        {kPixelType24RGB, kPixelType32BGRA, ConvertRowThroughTriple<KPixelClass32BGRA, T24, 0>},
        {kPixelType24RGB, kPixelType32RGBA, ConvertRowThroughTriple<KPixelClass32RGBA, T24, 0>},
        {kPixelType24RGB, kPixelType48RGB, ConvertRowThroughTriple<KPixelClass48RGB, T24, -8>},
        {kPixelType24RGB, kPixelType48SRGB, ConvertRowThroughTriple<KPixelClass48SRGB, T24, -8>},
        {kPixelType24RGB, kPixelType48BGR, ConvertRowThroughTriple<KPixelClass48BGR, T24, -8>},
        {kPixelType30RGBL, kPixelType24BGR, ConvertRowThroughTriple<KPixelClass24BGR, T30, 3>},
        {kPixelType30RGBL, kPixelType24RGB, ConvertRowThroughTriple<KPixelClass24RGB, T30, 3>},
        {kPixelType30RGBL, kPixelType30BGRL, ConvertRowThroughTriple<KPixelClass30BGRL, T30, 0>},
        {kPixelType30RGBL, kPixelType30RGB, ConvertRowThroughTriple<KPixelClass30RGB, T30, 0>},
        {kPixelType30RGBL, kPixelType32ARGB, ConvertRowThroughTriple<KPixelClass32ARGB, T30, 3>},
        {kPixelType30RGBL, kPixelType32ABGR, ConvertRowThroughTriple<KPixelClass32ABGR, T30, 3>},
        {kPixelType30RGBL, kPixelType32BGRA, ConvertRowThroughTriple<KPixelClass32BGRA, T30, 3>},
        {kPixelType30RGBL, kPixelType32RGBA, ConvertRowThroughTriple<KPixelClass32RGBA, T30, 3>},
        {kPixelType30RGBL, kPixelType48RGB, ConvertRowThroughTriple<KPixelClass48RGB, T30, -5>},
        {kPixelType30RGBL, kPixelType48SRGB, ConvertRowThroughTriple<KPixelClass48SRGB, T30, -5>},
        {kPixelType30RGBL, kPixelType48BGR, ConvertRowThroughTriple<KPixelClass48BGR, T30, -5>},
        {kPixelType48RGB, kPixelType24BGR, ConvertRowThroughTriple<KPixelClass24BGR, T48, 8>},
        {kPixelType48RGB, kPixelType24RGB, ConvertRowThroughTriple<KPixelClass24RGB, T48, 8>},
        {kPixelType48RGB, kPixelType30RGBL, ConvertRowThroughTriple<KPixelClass30RGBL, T48, 5>},
        {kPixelType48RGB, kPixelType30BGRL, ConvertRowThroughTriple<KPixelClass30BGRL, T48, 5>},
        {kPixelType48RGB, kPixelType30RGB, ConvertRowThroughTriple<KPixelClass30RGB, T48, 5>},
        {kPixelType48RGB, kPixelType32ARGB, ConvertRowThroughTriple<KPixelClass32ARGB, T48, 8>},
        {kPixelType48RGB, kPixelType32ABGR, ConvertRowThroughTriple<KPixelClass32ABGR, T48, 8>},
        {kPixelType48RGB, kPixelType32BGRA, ConvertRowThroughTriple<KPixelClass32BGRA, T48, 8>},
        {kPixelType48RGB, kPixelType32RGBA, ConvertRowThroughTriple<KPixelClass32RGBA, T48, 8>},
        {kPixelType48RGB, kPixelType48SRGB, ConvertRowThroughTriple<KPixelClass48SRGB, T48, 0>},
        {kPixelType48RGB, kPixelType48BGR, ConvertRowThroughTriple<KPixelClass48BGR, T48, 0>},
    };
    constexpr int32_t kWidth = 7, kHeight = 3;
    int n = 0;
    for (const Case& c : cases) {
        const std::string name = "convert" + std::to_string(n++) + ".tif";
        std::vector<std::vector<uint8_t>> expected;
        {
            KTiffLineWriter writer(URL(name), false);
            writer.SetDimensions(kWidth, kHeight, c.fileType);
            for (int32_t r = 0; r < kHeight; ++r) {
                const auto row = RandomBytes(kWidth * KPixelTypeBytes(c.sourceType), 100u * n + r);
                std::vector<uint8_t> want(kWidth * KPixelTypeBytes(c.fileType));
                c.reference(kWidth, row.data(), want.data());
                expected.push_back(want);
                writer.WriteLine(row.data(), c.sourceType);
            }
        }
        KTiffImageReader reader(URL(name));
        TestPixmap back(c.fileType, kWidth, kHeight);
        reader.ReadImage(back.Pixmap());
        for (int32_t r = 0; r < kHeight; ++r)
            EXPECT_EQ(std::vector<uint8_t>(back.Row(r), back.Row(r) + expected[r].size()), expected[r])
                << "file " << c.fileType << " source " << c.sourceType << " row " << r;
    }
}

TEST_F(TiffWriter, NamedConversionCases)
{
    // A 48SRGB row with a negative value keeps its 16-bit pattern in a 48RGB file.
    const int16_t signedRow[3] = {-32, 1, -32768};
    // A 32BGRA row into 24RGB: R = byte 2, G = byte 1, B = byte 0.
    const uint8_t bgra[4] = {0x10, 0x20, 0x30, 0x40};
    // A 30RGB value with B field 1023: B = 2046 as 11 bits, 65472 in 16 bits.
    const uint32_t rgb30 = 1023u << 22;
    {
        KTiffLineWriter w48(URL("s48.tif"), false);
        w48.SetDimensions(1, 2, kPixelType48RGB);
        w48.WriteLine(signedRow, kPixelType48SRGB);
        w48.WriteLine(&rgb30, kPixelType30RGB);
        KTiffLineWriter w24(URL("s24.tif"), false);
        w24.SetDimensions(1, 1, kPixelType24RGB);
        w24.WriteLine(bgra, kPixelType32BGRA);
        KTiffLineWriter w30(URL("s30.tif"), false);
        w30.SetDimensions(1, 1, kPixelType30RGBL);
        w30.WriteLine(&rgb30, kPixelType30RGB);
    }
    TestPixmap p48(kPixelType48RGB, 1, 2);
    KTiffImageReader(URL("s48.tif")).ReadImage(p48.Pixmap());
    EXPECT_EQ(KPixelClass48RGB::GetRGB(p48.Row(0)), KRGBTriple(0xFFE0, 1, 0x8000));
    EXPECT_EQ(KPixelClass48RGB::GetRGB(p48.Row(1)).b, 65472);
    TestPixmap p24(kPixelType24RGB, 1, 1);
    KTiffImageReader(URL("s24.tif")).ReadImage(p24.Pixmap());
    EXPECT_EQ(KPixelClass24RGB::GetRGB(p24.Row(0)), KRGBTriple(0x30, 0x20, 0x10));
    TestPixmap p30(kPixelType30RGBL, 1, 1);
    KTiffImageReader(URL("s30.tif")).ReadImage(p30.Pixmap());
    EXPECT_EQ(KPixelClass30RGBL::GetRGB(p30.Row(0)).b, 2046);
}

TEST_F(TiffWriter, GreyFilesTakeGreyRowsOnly)
{
    {
        KTiffLineWriter w16(URL("g16.tif"), false);
        w16.SetDimensions(2, 4, kPixelType16Mono);
        const uint8_t grey8[2] = {0x12, 0xFF};
        const uint16_t grey12[2] = {0x0ABC, 0x0FFF};
        const uint32_t grey32[2] = {0x12345, 0xFFFFF};
        const int16_t grey16s[2] = {-1, 5};
        w16.WriteLine(grey8, kPixelType8Mono);
        w16.WriteLine(grey12, kPixelType12Mono);
        w16.WriteLine(grey32, kPixelType32Mono);
        w16.WriteLine(grey16s, kPixelType16SMono);
    }
    TestPixmap p(kPixelType16Mono, 2, 4);
    KTiffImageReader(URL("g16.tif")).ReadImage(p.Pixmap());
    auto value = [&](int r, int x) {
        uint16_t v;
        std::memcpy(&v, p.Row(r) + 2 * x, 2);
        return v;
    };
    EXPECT_EQ(value(0, 0), 0x1200);
    EXPECT_EQ(value(1, 0), 0xABC0);
    EXPECT_EQ(value(2, 0), 0x2345 << 4 & 0xFFFF);
    EXPECT_EQ(value(3, 0), 0xFFFF);

    KTiffLineWriter w16(URL("g16b.tif"), false);
    w16.SetDimensions(2, 1, kPixelType16Mono);
    const uint8_t rgb[6] = {};
    EXPECT_EQ(ThrownMessage([&] { w16.WriteLine(rgb, kPixelType24RGB); }),
              "TiffLineWriter: Cannot convert source to dest pixel type.");
    KTiffLineWriter w8(URL("g8.tif"), false);
    w8.SetDimensions(2, 1, kPixelType8Mono);
    EXPECT_EQ(ThrownMessage([&] { w8.WriteLine(rgb, kPixelType16Mono); }), "TiffLineWriter: Unknown source pixel type");
    KTiffLineWriter w24(URL("c24.tif"), false);
    w24.SetDimensions(2, 1, kPixelType24RGB);
    EXPECT_EQ(ThrownMessage([&] { w24.WriteLine(rgb, kPixelType8Mono); }),
              "TiffLineWriter: Cannot convert source to dest pixel type.");
}

TEST_F(TiffWriter, OrderRulesAndUnfinishedFiles)
{
    const uint8_t row[9] = {};
    {
        KTiffLineWriter writer(URL("order.tif"), false);
        EXPECT_THROW(writer.WriteLine(row, kPixelType24RGB), KExceptionWriteUninitialized);
        writer.SetDimensions(3, 2, kPixelType24RGB);
        writer.WriteLine(row, kPixelType24RGB);
        // Tags after the first row are refused.
        KHasProperties tags;
        EXPECT_THROW(writer.WriteTags(tags), KExceptionFileWrite);
        EXPECT_THROW(writer.WriteProfile(4, "abcd"), KExceptionFileWrite);
        EXPECT_THROW(writer.WriteProperties(*Props(), 2, KWString("Demo"), kVersion), KExceptionFileWrite);
        // Destroyed before its last row: no file.
    }
    EXPECT_FALSE(std::filesystem::exists(Path("order.tif")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Root()), {}), 0);

    // An older file of the name stays until the new one is complete.
    lumotest::WriteText(Path("old.tif"), "older");
    {
        KTiffLineWriter writer(URL("old.tif"), true);
        writer.SetDimensions(3, 2, kPixelType24RGB);
        writer.WriteLine(row, kPixelType24RGB);
        EXPECT_EQ(lumotest::ReadText(Path("old.tif")), "older");
        writer.WriteLine(row, kPixelType24RGB);
        EXPECT_EQ(ThrownMessage([&] { writer.WriteLine(row, kPixelType24RGB); }), "TIFFWriteScanline failed at row 2");
    }
    EXPECT_NE(lumotest::ReadText(Path("old.tif")), "older");
    EXPECT_NO_THROW(KTiffImageReader reader(URL("old.tif")));

    try {
        KTiffLineWriter writer(KWString("nosuchclass://x.tif"), false);
        FAIL() << "opened";
    } catch (const KExceptionFileOpen& e) {
        EXPECT_STREQ(e.GetMessage(), "nosuchclass://x.tif: No such file or directory");
    }
}

TEST_F(TiffWriter, WriteTagsStoresStandardTagsItemsAndFreePairs)
{
    {
        KTiffLineWriter writer(URL("empty.tif"), false);
        writer.SetDimensions(1, 1, kPixelType8Mono);
        writer.WriteTags(KHasProperties());
        writer.WriteLine("\x01", kPixelType8Mono);
        KTiffLineWriter skipped(URL("skipped.tif"), false);
        skipped.SetDimensions(1, 1, kPixelType8Mono);
        KHasProperties only;
        only.SetProperty("Rows", "10");
        only.SetProperty("Columns", "20");
        only.SetProperty("Filename", "a.kzr");
        skipped.WriteTags(only);
        skipped.WriteLine("\x01", kPixelType8Mono);
    }
    for (const char* name : {"empty.tif", "skipped.tif"}) {
        OpenedTiff f(Path(name));
        const auto block = TagBytes(f.tiff, 37717, 4);
        ASSERT_EQ(block.size(), 68u) << name;  // a tag block without items
        KQuarelTag tag;
        ASSERT_TRUE(tag.SetBuffer(block.data(), block.size()));
        EXPECT_TRUE(tag.GetItems().empty());
        char* description = nullptr;
        EXPECT_FALSE(TIFFGetField(f.tiff, TIFFTAG_IMAGEDESCRIPTION, &description));
    }

    KHasProperties options;
    options.SetProperty("XResolution", "300");
    options.SetProperty("ResolutionUnits", "3.7");
    options.SetProperty("Description", "A picture");
    options.SetProperty("Photographer", "Someone");
    options.SetProperty("DateTime", "2003:01:02 03:04");
    options.SetProperty("Lens", "50 mm");
    options.SetProperty("Exposure", "125.9");
    options.SetProperty("FocalLength", "50.5");
    options.SetProperty("ApertureString", "8.0");
    options.SetProperty("Owner", "x");
    options.SetProperty("Note", "a\x8b" "b");
    options.SetProperty("Rows", "99");
    {
        KTiffLineWriter writer(URL("tags.tif"), false);
        writer.SetDimensions(1, 1, kPixelType8Mono);
        writer.WriteTags(options);
        writer.WriteLine("\x01", kPixelType8Mono);
    }
    OpenedTiff f(Path("tags.tif"));
    float xres = 0;
    uint16_t unit = 0;
    char *description = nullptr, *artist = nullptr, *date = nullptr;
    EXPECT_TRUE(TIFFGetField(f.tiff, TIFFTAG_XRESOLUTION, &xres));
    EXPECT_EQ(xres, 300.0f);
    EXPECT_TRUE(TIFFGetField(f.tiff, TIFFTAG_RESOLUTIONUNIT, &unit));
    EXPECT_EQ(unit, 3);
    ASSERT_TRUE(TIFFGetField(f.tiff, TIFFTAG_IMAGEDESCRIPTION, &description));
    EXPECT_STREQ(description, "A picture");
    ASSERT_TRUE(TIFFGetField(f.tiff, TIFFTAG_ARTIST, &artist));
    EXPECT_STREQ(artist, "Someone");
    ASSERT_TRUE(TIFFGetField(f.tiff, TIFFTAG_DATETIME, &date));
    EXPECT_STREQ(date, "   2003:01:02 03:04");

    const auto block = TagBytes(f.tiff, 37717, 4);
    KQuarelTag tag;
    ASSERT_TRUE(tag.SetBuffer(block.data(), block.size()));
    KNarrowString text;
    ASSERT_TRUE(tag.GetString(KQuarelKey("lens"), &text));
    EXPECT_STREQ(text.CStr(), "50 mm");
    int32_t exposure = 0;
    ASSERT_TRUE(tag.GetInt(KQuarelKey("issd"), &exposure));
    EXPECT_EQ(exposure, 125);
    double focal = 0;
    ASSERT_TRUE(tag.GetDouble(KQuarelKey("focl"), &focal));
    EXPECT_EQ(focal, 50.5);
    int32_t count = 0;
    ASSERT_TRUE(tag.GetInt(KQuarelKey("exsu"), &count));
    EXPECT_EQ(count, 4);

    KTiffImageReader reader(URL("tags.tif"));
    KPropTree tree(nullptr, "ImageProps");
    reader.GetProperties(tree);
    EXPECT_EQ(Pairs(tree), "ROWS=1;COLS=1;AP_DESC=8.0;Note=a?b;Owner=x;");
}

TEST_F(TiffWriter, WritePropertiesStoresTheCaptureInformation)
{
    {
        KTiffLineWriter writer(URL("props.tif"), false);
        writer.SetDimensions(4, 2, kPixelType48RGB);
        writer.WriteProperties(*Props(), 3, KWString("Demo"), kVersion);
        std::vector<uint8_t> row(4 * 6, 0x80);
        writer.WriteLine(row.data(), kPixelType48RGB);
        writer.WriteLine(row.data(), kPixelType48RGB);
    }
    OpenedTiff f(Path("props.tif"));
    float xres = 0, yres = 0;
    uint16_t unit = 0;
    char *make = nullptr, *model = nullptr, *software = nullptr, *date = nullptr;
    TIFFGetField(f.tiff, TIFFTAG_XRESOLUTION, &xres);
    TIFFGetField(f.tiff, TIFFTAG_YRESOLUTION, &yres);
    TIFFGetField(f.tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
    EXPECT_EQ(xres, 180.0f);
    EXPECT_EQ(yres, 180.0f);
    EXPECT_EQ(unit, RESUNIT_INCH);
    ASSERT_TRUE(TIFFGetField(f.tiff, TIFFTAG_MAKE, &make));
    ASSERT_TRUE(TIFFGetField(f.tiff, TIFFTAG_MODEL, &model));
    ASSERT_TRUE(TIFFGetField(f.tiff, TIFFTAG_SOFTWARE, &software));
    ASSERT_TRUE(TIFFGetField(f.tiff, TIFFTAG_DATETIME, &date));
    EXPECT_STREQ(make, "PELTA");
    EXPECT_STREQ(model, "PELTA DV7");
    EXPECT_STREQ(software, "Demo 1.2.3.0045");
    EXPECT_EQ(std::strlen(date), 19u);
    EXPECT_EQ(date[4], ':');

    KTiffImageReader reader(URL("props.tif"));
    KPropTree tree(nullptr, "ImageProps");
    reader.GetProperties(tree);
    EXPECT_EQ(Pairs(tree),
              "ROWS=2;COLS=4;AP_DESC=5.6;SH_DESC=1/250;CAMSERIAL=SN42;ISO=200;PMODE=A;FLASH=OFF;EXPNET=-0.7;"
              "FLENGTH=50;KZRCOLS=2304;KZRROWS=1536;");
}

// Tag 34665 points at a real EXIF sub-directory: the library reads it as one, and its entries are those of the
// EXIF block, with offsets counted from the start of the file.
TEST_F(TiffWriter, ExifSubDirectoryHoldsTheEntriesOfTheExifBlock)
{
    {
        KTiffLineWriter writer(URL("exif.tif"), false);
        writer.SetDimensions(4, 2, kPixelType24RGB);
        writer.WriteProperties(*Props(), 2, KWString("Demo"), kVersion);
        std::vector<uint8_t> row(12, 7);
        writer.WriteLine(row.data(), kPixelType24RGB);
        writer.WriteLine(row.data(), kPixelType24RGB);
    }
    OpenedTiff f(Path("exif.tif"));
    toff_t offset = 0;
    ASSERT_TRUE(TIFFGetField(f.tiff, TIFFTAG_EXIFIFD, &offset));
    EXPECT_EQ(offset % 2, 0u);
    ASSERT_TRUE(TIFFReadEXIFDirectory(f.tiff, offset));
    float exposure = 0, fnumber = 0;
    uint16_t* iso = nullptr;
    uint16_t isoCount = 0;
    uint32_t width = 0;
    EXPECT_TRUE(TIFFGetField(f.tiff, EXIFTAG_EXPOSURETIME, &exposure));
    EXPECT_FLOAT_EQ(exposure, 1.0f / 250);
    EXPECT_TRUE(TIFFGetField(f.tiff, EXIFTAG_FNUMBER, &fnumber));
    EXPECT_FLOAT_EQ(fnumber, 5.6f);
    EXPECT_TRUE(TIFFGetField(f.tiff, EXIFTAG_ISOSPEEDRATINGS, &isoCount, &iso));
    EXPECT_EQ(iso[0], 200);
    EXPECT_TRUE(TIFFGetField(f.tiff, EXIFTAG_PIXELXDIMENSION, &width));
    EXPECT_EQ(width, 4u);

    // The system's own EXIF reader sees the same pairs in the file as in the stand-alone block.
    const auto bytes = lumotest::ReadBytes(Path("exif.tif"));
    ASSERT_LT(offset, bytes.size());
    KPropTree inFile(nullptr, "f");
    EXPECT_TRUE(ParseExifIfd(bytes.data() + offset, bytes.data(), static_cast<KUInt32>(bytes.size()), false, inFile));
    KUInt32 size = 0;
    const auto block = BuildExifIfdBlock(*Props(), 4, 2, 2, KWString("Demo"), kVersion, size);
    KPropTree alone(nullptr, "b");
    EXPECT_TRUE(ParseExifIfd(block.data(), block.data(), size, false, alone));
    // Both blocks date themselves when built, which may fall a second apart.
    const KWString digitized("EXIF_DATETIME_DIGITIZED");
    EXPECT_LE(std::abs(inFile.GetInt(digitized, 0) - alone.GetInt(digitized, 0)), 2);
    for (KPropTree* t : {&inFile, &alone})
        if (KPropPair* p = t->FindPair(digitized))
            t->RemovePair(p);
    EXPECT_EQ(Pairs(inFile), Pairs(alone));
    EXPECT_NE(Pairs(inFile).find("CAMSERIAL=SN42;"), std::string::npos);  // from the maker note
}

TEST_F(TiffWriter, ThumbnailResourceAndProfile)
{
    TestPixmap thumb(kPixelType24RGB, 160, 120);
    ASSERT_EQ(thumb.Pixmap().GetRowBytes(), 480);
    thumb.Row(0)[0] = 1;  // R
    thumb.Row(0)[1] = 2;  // G
    thumb.Row(0)[2] = 3;  // B
    thumb.Row(119)[477] = 9;
    const KICCProfile* profile = GetBuiltInICCProfile(3);
    ASSERT_NE(profile, nullptr);
    {
        KTiffLineWriter writer(URL("thumb.tif"), false);
        writer.SetDimensions(1, 1, kPixelType24RGB);
        writer.WriteThumbnail(thumb.Pixmap());
        writer.WriteProfile(profile->size, profile->data);
        TestPixmap tall(kPixelType24RGB, 160, 137);
        EXPECT_THROW(writer.WriteThumbnail(tall.Pixmap()), KExceptionThumbTooBig);
        writer.WriteLine("\x01\x02\x03", kPixelType24RGB);
    }
    OpenedTiff f(Path("thumb.tif"));
    const auto resource = TagBytes(f.tiff, TIFFTAG_PHOTOSHOP, 1);
    ASSERT_EQ(resource.size(), 57640u);
    auto big32 = [&](size_t at) {
        return (uint32_t(resource[at]) << 24) | (resource[at + 1] << 16) | (resource[at + 2] << 8) | resource[at + 3];
    };
    EXPECT_EQ(std::string(resource.begin(), resource.begin() + 4), "8BIM");
    EXPECT_EQ(resource[4] << 8 | resource[5], 1033);
    EXPECT_EQ(big32(8), 57600u + 28);
    EXPECT_EQ(big32(12), 0u);
    EXPECT_EQ(big32(16), 160u);
    EXPECT_EQ(big32(20), 120u);
    EXPECT_EQ(big32(24), 480u);
    EXPECT_EQ(big32(28), 57600u);
    EXPECT_EQ(big32(32), 57600u);
    EXPECT_EQ(resource[36] << 8 | resource[37], 24);
    EXPECT_EQ(resource[38] << 8 | resource[39], 1);
    EXPECT_EQ(std::vector<int>(resource.begin() + 40, resource.begin() + 43), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(resource[40 + 119 * 480 + 479], 9);  // the last pixel's R and B exchanged

    const auto icc = TagBytes(f.tiff, TIFFTAG_ICCPROFILE, 1);
    EXPECT_EQ(icc, std::vector<uint8_t>(profile->data, profile->data + profile->size));
}
