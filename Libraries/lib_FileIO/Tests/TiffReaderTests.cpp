#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "KPixmapExceptions.h"
#include "KPropTree.h"
#include "KQuarelTag.h"
#include "KTextFunctions.h"
#include "KTiffImageReader.h"
#include "TiffTestSupport.h"

using tifftest::Layout;
using tifftest::Pairs;
using tifftest::TestPixmap;
using tifftest::ThrownMessage;

namespace {

class TiffReader : public tifftest::Fixture {
protected:
    // A file whose row r holds bytes (r * 16 + i) & 0xFF.
    KWString Make(const std::string& name, const Layout& layout, uint32_t width, uint32_t height,
                  const std::vector<uint8_t>& tagBlock = {})
    {
        const uint32_t rowBytes = width * layout.samples * layout.bits / 8;
        EXPECT_TRUE(tifftest::WriteTiff(Path(name), layout, width, height, [&](uint32_t r) {
            std::vector<uint8_t> row(rowBytes);
            for (uint32_t i = 0; i < rowBytes; ++i)
                row[i] = static_cast<uint8_t>(r * 16 + i);
            return row;
        }, tagBlock));
        return URL(name);
    }
};

}  // namespace

TEST_F(TiffReader, PixelTypeFollowsTheLayout)
{
    struct Case {
        Layout layout;
        int type;
    } cases[] = {
        {{PHOTOMETRIC_MINISBLACK, 1, 0, 8}, kPixelType8Mono},
        {{PHOTOMETRIC_MINISBLACK, 1, 0, 16}, kPixelType16Mono},
        {{PHOTOMETRIC_RGB, 3, 0, 8}, kPixelType24RGB},
        {{PHOTOMETRIC_RGB, 4, 1, 8}, kPixelType30RGBL},
        {{PHOTOMETRIC_RGB, 3, 0, 16}, kPixelType48RGB},
        {{PHOTOMETRIC_MINISWHITE, 1, 0, 8}, 0},
        {{PHOTOMETRIC_MINISBLACK, 2, 1, 8}, 0},
        {{PHOTOMETRIC_RGB, 4, 0, 8}, 0},   // a fourth sample that is not extra
        {{PHOTOMETRIC_RGB, 5, 1, 8}, 0},   // wider than the destination's pixel
        {{PHOTOMETRIC_RGB, 4, 1, 16}, 0},
        {{PHOTOMETRIC_RGB, 5, 2, 8}, 0},
        {{PHOTOMETRIC_RGB, 3, 0, 4}, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string name = "layout" + std::to_string(n++) + ".tif";
        KTiffImageReader reader(Make(name, c.layout, 5, 3));
        int32_t w = 0, h = 0;
        int type = -1;
        reader.GetDimensions(&w, &h, &type);
        EXPECT_EQ(type, c.type) << name;
        EXPECT_EQ(w, 5);
        EXPECT_EQ(h, 3);
    }
}

TEST_F(TiffReader, UnsupportedLayoutIsRefusedBeforeAnyRowIsRead)
{
    KTiffImageReader reader(Make("five.tif", {PHOTOMETRIC_RGB, 5, 1, 8}, 4, 2));
    TestPixmap pixmap(kPixelType24RGB, 4, 2);
    EXPECT_EQ(ThrownMessage([&] { reader.ReadImage(pixmap.Pixmap()); }), "TiffReader: Unknown destination pixel type");
    reader.SetScale(1);
    EXPECT_EQ(ThrownMessage([&] { reader.ReadImage(pixmap.Pixmap()); }), "TiffReader:Scaling: Unknown source pixel type");
    for (uint8_t b : std::vector<uint8_t>(pixmap.Row(0), pixmap.Row(0) + 12))
        EXPECT_EQ(b, 0);
}

TEST_F(TiffReader, GreyEightBitReadsAtFactorOneAndRefusesScaling)
{
    KTiffImageReader reader(Make("grey8.tif", {PHOTOMETRIC_MINISBLACK, 1, 0, 8}, 6, 4));
    TestPixmap pixmap(kPixelType8Mono, 6, 4);
    reader.ReadImage(pixmap.Pixmap());
    EXPECT_EQ(pixmap.Row(3)[5], 3 * 16 + 5);
    TestPixmap colour(kPixelType24RGB, 6, 4);
    EXPECT_EQ(ThrownMessage([&] { reader.ReadImage(colour.Pixmap()); }), "TiffReader: Unknown destination pixel type");
    reader.SetScale(1);
    EXPECT_EQ(ThrownMessage([&] { reader.ReadImage(pixmap.Pixmap()); }), "TiffReader:Scaling: Unknown source pixel type");
}

TEST_F(TiffReader, ReductionAveragesAlongRowsAndSkipsRows)
{
    // 1001 pixels of 16-bit grey: pixel x of row r = r * 1000 + x.
    ASSERT_TRUE(tifftest::WriteTiff(Path("wide.tif"), {PHOTOMETRIC_MINISBLACK, 1, 0, 16}, 1001, 5, [](uint32_t r) {
        std::vector<uint8_t> row(2002);
        for (uint32_t x = 0; x < 1001; ++x) {
            const uint16_t v = static_cast<uint16_t>(r * 1000 + x);
            std::memcpy(&row[2 * x], &v, 2);
        }
        return row;
    }));
    KTiffImageReader reader(URL("wide.tif"));
    reader.SetScale(1);
    int32_t w, h;
    int type;
    reader.GetDimensions(&w, &h, &type);
    EXPECT_EQ(w, 500);
    EXPECT_EQ(h, 2);
    TestPixmap pixmap(kPixelType16Mono, 500, 2);
    reader.ReadImage(pixmap.Pixmap());
    uint16_t v;
    std::memcpy(&v, pixmap.Row(1) + 2 * 499, 2);
    EXPECT_EQ(v, 2000 + (998 + 999) / 2);  // file row 2, pixels 998 and 999; pixel 1000 dropped
    std::memcpy(&v, pixmap.Row(0), 2);
    EXPECT_EQ(v, 0);
}

TEST_F(TiffReader, ExtraSampleCarriesTheLowBitsOfThePackedType)
{
    // One pixel: the 11-bit triple (1025, 514, 2046) as a 30RGBL word.
    uint8_t word[4];
    KPixelClass30RGBL::SetRGB(word, 1025, 514, 2046);
    ASSERT_TRUE(tifftest::WriteTiff(Path("packed.tif"), {PHOTOMETRIC_RGB, 4, 1, 8}, 2, 2,
                                    [&](uint32_t) {
                                        std::vector<uint8_t> row(8);
                                        for (size_t i = 0; i < row.size(); ++i)
                                            row[i] = word[i % 4];
                                        return row;
                                    }));
    KTiffImageReader reader(URL("packed.tif"));
    TestPixmap packed(kPixelType30RGBL, 2, 2);
    reader.ReadImage(packed.Pixmap());
    EXPECT_EQ(KPixelClass30RGBL::GetRGB(packed.Row(0) + 4), KRGBTriple(1025, 514, 2046));
    TestPixmap deep(kPixelType48RGB, 2, 2);
    reader.ReadImage(deep.Pixmap());
    EXPECT_EQ(KPixelClass48RGB::GetRGB(deep.Row(0)), KRGBTriple(1025 << 5, 514 << 5, 2046 << 5));
    // Reduced: the mean of the two equal pixels is the pixel.
    reader.SetScale(1);
    TestPixmap half(kPixelType30RGBL, 1, 1);
    reader.ReadImage(half.Pixmap());
    EXPECT_EQ(KPixelClass30RGBL::GetRGB(half.Row(0)), KRGBTriple(1025, 514, 2046));
}

TEST_F(TiffReader, ConversionTableAndRefusals)
{
    KTiffImageReader rgb16(Make("rgb16.tif", {PHOTOMETRIC_RGB, 3, 0, 16}, 3, 2));
    TestPixmap bgr(kPixelType24BGR, 3, 2);
    rgb16.ReadImage(bgr.Pixmap());
    // Row 1 bytes 16, 17, ...: words 0x1110, 0x1312, 0x1514 -> high bytes 0x11, 0x13, 0x15 in B, G, R order.
    EXPECT_EQ(bgr.Row(1)[0], 0x15);
    EXPECT_EQ(bgr.Row(1)[2], 0x11);
    TestPixmap bgrl(kPixelType30BGRL, 3, 2);
    EXPECT_EQ(ThrownMessage([&] { rgb16.ReadImage(bgrl.Pixmap()); }), "NOT IMPLEMENTED");

    KTiffImageReader grey16(Make("grey16.tif", {PHOTOMETRIC_MINISBLACK, 1, 0, 16}, 3, 2));
    TestPixmap colour(kPixelType24RGB, 3, 2);
    EXPECT_EQ(ThrownMessage([&] { grey16.ReadImage(colour.Pixmap()); }), "Unknown dest pixel type");
    TestPixmap wide(kPixelType32Mono, 3, 2);
    grey16.ReadImage(wide.Pixmap());
    uint32_t v;
    std::memcpy(&v, wide.Row(1), 4);
    EXPECT_EQ(v, 0x1110u >> 4);
}

TEST_F(TiffReader, PixmapSmallerThanTheScaledImageIsRefused)
{
    KTiffImageReader reader(Make("small.tif", {PHOTOMETRIC_RGB, 3, 0, 8}, 8, 6));
    TestPixmap narrow(kPixelType24RGB, 7, 6);
    EXPECT_THROW(reader.ReadImage(narrow.Pixmap()), KExceptionPixmapTooSmall);
    reader.SetScale(1);
    TestPixmap fits(kPixelType24RGB, 4, 3);
    EXPECT_NO_THROW(reader.ReadImage(fits.Pixmap()));
}

TEST_F(TiffReader, SeparatePlanesAreRefused)
{
    KTiffImageReader reader(Make("planes.tif", {PHOTOMETRIC_RGB, 3, 0, 8, PLANARCONFIG_SEPARATE}, 4, 2));
    TestPixmap pixmap(kPixelType24RGB, 4, 2);
    EXPECT_EQ(ThrownMessage([&] { reader.ReadImage(pixmap.Pixmap()); }), "Tiff planar config is not contiguous");
}

TEST_F(TiffReader, TruncatedPixelDataFailsAtTheRow)
{
    // A file that ends inside its pixel data: the directory is intact (written by hand below), the data is not.
    std::vector<uint8_t> file = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        const uint8_t e[12] = {uint8_t(tag), uint8_t(tag >> 8), uint8_t(type), 0, uint8_t(count), uint8_t(count >> 8),
                               uint8_t(count >> 16), uint8_t(count >> 24), uint8_t(value), uint8_t(value >> 8),
                               uint8_t(value >> 16), uint8_t(value >> 24)};
        file.insert(file.end(), e, e + 12);
    };
    file.push_back(8);
    file.push_back(0);
    entry(256, 3, 1, 4);       // width 4
    entry(257, 3, 1, 10);      // height 10
    entry(258, 3, 1, 8);
    entry(259, 3, 1, 1);
    entry(262, 3, 1, 1);       // grey
    entry(273, 4, 1, 200);     // one strip at 200
    entry(278, 4, 1, 10);
    entry(279, 4, 1, 40);      // of 40 bytes, but the file ends at 220
    file.insert(file.end(), 4, 0);
    file.resize(220, 7);
    lumotest::WriteBytes(Path("short.tif"), file);
    KTiffImageReader cut(URL("short.tif"));
    TestPixmap pixmap(kPixelType8Mono, 4, 10);
    const std::string message = ThrownMessage([&] { cut.ReadImage(pixmap.Pixmap()); });
    EXPECT_EQ(message.rfind("TIFFReadScanline failed at row ", 0), 0u) << message;
}

TEST_F(TiffReader, OpenFailureNamesTheFile)
{
    const KWString url = URL("missing.tif");
    try {
        KTiffImageReader reader(url);
        FAIL() << "opened";
    } catch (const KExceptionFileNotFound& e) {
        EXPECT_EQ(std::string(e.GetMessage()), "TiffImageReader: Cannot open file '" + WideToUtf8(url) + "'");
    }
    lumotest::WriteText(Path("text.tif"), "not a TIFF file at all");
    EXPECT_THROW(KTiffImageReader reader(URL("text.tif")), KExceptionFileNotFound);
}

TEST_F(TiffReader, PropertiesWithoutTheTagAreRowsAndColumns)
{
    KTiffImageReader reader(Make("plain.tif", {PHOTOMETRIC_RGB, 3, 0, 8}, 7, 3));
    KPropTree tree(nullptr, "ImageProps");
    reader.GetProperties(tree);
    EXPECT_EQ(Pairs(tree), "ROWS=3;COLS=7;");
}

TEST_F(TiffReader, PropertiesComeBackFromTheTagBlock)
{
    KQuarelTag tag;
    tag.SetString(KQuarelKey("sfsp"), "5.6");
    tag.SetString(KQuarelKey("sssd"), "1/250");
    tag.SetString(KQuarelKey("came"), "SN123");
    tag.SetString(KQuarelKey("lens"), "not reported");
    const char* strings[] = {"ISO", "200", "Owner", "x", "DRIVE", "S"};
    tag.SetInt(KQuarelKey("exsu"), 6);
    tag.SetString(KQuarelKey("exst"), KQuarelTag::JoinStringList(strings, 6).CStr());
    std::vector<uint8_t> block;
    tag.GetBuffer(block, true);
    KTiffImageReader reader(Make("tagged.tif", {PHOTOMETRIC_RGB, 3, 0, 8}, 2, 2, block));
    KPropTree tree(nullptr, "ImageProps");
    reader.GetProperties(tree);
    EXPECT_EQ(Pairs(tree), "ROWS=2;COLS=2;AP_DESC=5.6;SH_DESC=1/250;CAMSERIAL=SN123;ISO=200;Owner=x;DRIVE=S;");

    // A count below the list's length stops the pairs early.
    tag.SetInt(KQuarelKey("exsu"), 3);
    tag.GetBuffer(block, true);
    KTiffImageReader fewer(Make("fewer.tif", {PHOTOMETRIC_RGB, 3, 0, 8}, 2, 2, block));
    KPropTree few(nullptr, "ImageProps");
    fewer.GetProperties(few);
    EXPECT_EQ(Pairs(few), "ROWS=2;COLS=2;AP_DESC=5.6;SH_DESC=1/250;CAMSERIAL=SN123;ISO=200;");
}

TEST_F(TiffReader, EmptyValueKeepsThePairsAfterIt)
{
    KQuarelTag tag;
    const char* strings[] = {"ISO", "", "EXPCOMP", "0.3"};
    tag.SetInt(KQuarelKey("exsu"), 4);
    tag.SetString(KQuarelKey("exst"), KQuarelTag::JoinStringList(strings, 4).CStr());
    std::vector<uint8_t> block;
    tag.GetBuffer(block, true);
    KTiffImageReader reader(Make("empty.tif", {PHOTOMETRIC_RGB, 3, 0, 8}, 2, 2, block));
    KPropTree tree(nullptr, "ImageProps");
    reader.GetProperties(tree);
    EXPECT_EQ(Pairs(tree), "ROWS=2;COLS=2;ISO=;EXPCOMP=0.3;");
}

TEST_F(TiffReader, UnparsableTagBlockLeavesRowsAndColumns)
{
    KQuarelTag tag;
    tag.SetString(KQuarelKey("came"), "SN1");
    std::vector<uint8_t> block;
    tag.GetBuffer(block, false);
    block[72] = 0xF0;  // the item's offset far outside the block
    block[75] = 0x7F;
    KTiffImageReader reader(Make("bad.tif", {PHOTOMETRIC_RGB, 3, 0, 8}, 2, 2, block));
    KPropTree tree(nullptr, "ImageProps");
    reader.GetProperties(tree);
    EXPECT_EQ(Pairs(tree), "ROWS=2;COLS=2;");
}

namespace {

// A little-endian TIFF directory written by hand (entries of SHORT or LONG values), padded with filler to size.
std::vector<uint8_t> HandMadeTiff(const std::vector<std::array<uint32_t, 3>>& entries, size_t size)
{
    std::vector<uint8_t> file = {'I', 'I', 42, 0, 8, 0, 0, 0, uint8_t(entries.size()), 0};
    for (const auto& [tag, type, value] : entries) {
        const uint8_t e[12] = {uint8_t(tag), uint8_t(tag >> 8), uint8_t(type), 0, 1, 0, 0, 0,
                               uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
        file.insert(file.end(), e, e + 12);
    }
    file.insert(file.end(), 4, 0);
    file.resize(std::max(size, file.size()), 7);
    return file;
}

}  // namespace

TEST_F(TiffReader, DeclaredSizeBeyondWhatTheFileHoldsIsRefusedAtOnce)
{
    struct Case {
        const char* name;
        uint32_t width, height, compression;
        const char* refusal;  // null: opens
    };
    const Case cases[] = {
        {"huge.tif", 60000, 60000, 5, "more than the largest picture read"},
        {"raw.tif", 2000, 2000, 1, "bytes can hold"},
        {"lzw.tif", 10000, 10000, 5, "bytes can hold"},
        {"fits.tif", 40, 10, 1, nullptr},
    };
    for (const Case& c : cases) {
        lumotest::WriteBytes(Path(c.name), HandMadeTiff({{256, 4, c.width}, {257, 4, c.height}, {258, 3, 8},
                                                         {259, 3, c.compression}, {262, 3, 1}, {273, 4, 200},
                                                         {278, 4, c.height}, {279, 4, 400}},
                                                        600));
        if (c.refusal == nullptr) {
            KTiffImageReader reader(URL(c.name));
            int32_t w = 0, h = 0;
            int t = 0;
            reader.GetDimensions(&w, &h, &t);
            EXPECT_EQ(t, kPixelType8Mono);
            continue;
        }
        try {
            KTiffImageReader reader(URL(c.name));
            ADD_FAILURE() << c.name << " opened";
        } catch (const KExceptionTIFF& e) {
            const std::string message = e.GetMessage();
            EXPECT_NE(message.find(c.refusal), std::string::npos) << message;
            EXPECT_NE(message.find(c.name), std::string::npos) << message;
        }
    }
}

TEST_F(TiffReader, TiledFileSaysItIsNotSupported)
{
    // 64 x 64 grey in one 64 x 64 tile.
    lumotest::WriteBytes(Path("tiled.tif"),
                         HandMadeTiff({{256, 4, 64}, {257, 4, 64}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
                                       {322, 4, 64}, {323, 4, 64}, {324, 4, 200}, {325, 4, 4096}},
                                      4400));
    KTiffImageReader reader(URL("tiled.tif"));
    int32_t w = 0, h = 0;
    int t = -1;
    reader.GetDimensions(&w, &h, &t);
    EXPECT_TRUE(reader.IsTiled());
    EXPECT_EQ(t, 0);
    TestPixmap pixmap(kPixelType8Mono, 64, 64);
    EXPECT_EQ(ThrownMessage([&] { reader.ReadImage(pixmap.Pixmap()); }), "TiffReader: tiled TIFF files are not supported");
}
