#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "Exif/KExifBuilder.h"
#include "ExifTestBlocks.h"
#include "KExifReader.h"
#include "KExifWriter.h"
#include "KPropTree.h"
#include "KTextFunctions.h"

using exiftest::FindEntry;

namespace {

const KVersionInfo kVersion{1, 2, 3, 45};
constexpr std::time_t kNow = 1033828200;

std::vector<uint8_t> Segment(const KPropTree& tree, const std::vector<uint8_t>& thumbnail = {})
{
    return BuildExifApp1Segment(tree, 100, 50, 2, KWString("Demo"), kVersion, thumbnail, kNow);
}

// "YYYY:MM:DD hh:mm:ss"
bool IsExifDate(const std::string& s)
{
    const std::string pattern = "dddd:dd:dd dd:dd:dd";
    if (s.size() != pattern.size())
        return false;
    for (size_t i = 0; i < s.size(); ++i)
        if (pattern[i] == 'd' ? (s[i] < '0' || s[i] > '9') : s[i] != pattern[i])
            return false;
    return true;
}

uint32_t Long(const std::vector<uint8_t>& b, size_t at)
{
    return ReadExifLong(&b.at(at), false);
}

uint16_t Short(const std::vector<uint8_t>& b, size_t at)
{
    return ReadExifShort(&b.at(at), false);
}

// Position in the segment of the EXIF directory (from the main directory's pointer).
size_t ExifDirectory(const std::vector<uint8_t>& seg)
{
    auto ptr = FindEntry(seg, 14, 0x8769);
    EXPECT_TRUE(ptr.found);
    return Long(seg, ptr.at + 8) + 6;
}

std::pair<uint32_t, uint32_t> Rational(const std::vector<uint8_t>& seg, size_t dir, uint16_t tag, size_t origin = 6)
{
    auto e = FindEntry(seg, dir, tag);
    EXPECT_TRUE(e.found) << tag;
    size_t at = Long(seg, e.at + 8) + origin;
    return {Long(seg, at), Long(seg, at + 4)};
}

uint32_t FieldShort(const std::vector<uint8_t>& seg, size_t dir, uint16_t tag)
{
    auto e = FindEntry(seg, dir, tag);
    EXPECT_TRUE(e.found) << tag;
    EXPECT_EQ(Short(seg, e.at + 10), 0) << "high half of a SHORT field";
    return Short(seg, e.at + 8);
}

std::string Text(const std::vector<uint8_t>& seg, size_t dir, uint16_t tag, size_t origin = 6)
{
    auto e = FindEntry(seg, dir, tag);
    EXPECT_TRUE(e.found) << tag;
    EXPECT_EQ(e.type, 2);
    size_t at = e.count <= 4 ? e.at + 8 : Long(seg, e.at + 8) + origin;
    std::string s(reinterpret_cast<const char*>(&seg.at(at)), e.count);
    EXPECT_EQ(s.back(), '\0');
    s.pop_back();
    return s;
}

// Checks that every value of every entry of the directory lies inside the bytes.
void ExpectValuesInside(const std::vector<uint8_t>& seg, size_t dir, size_t origin)
{
    static const size_t kSizes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    uint16_t n = Short(seg, dir);
    for (uint16_t i = 0; i < n; ++i) {
        size_t at = dir + 2 + 12 * i;
        uint16_t type = Short(seg, at + 2);
        ASSERT_TRUE(type >= 1 && type <= 12);
        size_t size = kSizes[type] * Long(seg, at + 4);
        if (size > 4) {
            EXPECT_LE(Long(seg, at + 8) + origin + size, seg.size()) << "entry " << i;
        }
    }
}

}  // namespace

TEST(ExifWriter, EmptyTreeGivesTheDefaults)
{
    KPropTree tree(nullptr, "ImageProps");
    std::vector<uint8_t> seg = Segment(tree);
    ASSERT_EQ(std::string(seg.begin(), seg.begin() + 8), std::string("Exif\0\0II", 8));
    EXPECT_EQ(Short(seg, 8), 42);
    EXPECT_EQ(Long(seg, 10), 8u);
    EXPECT_EQ(Short(seg, 14), 10);
    EXPECT_EQ(Long(seg, 136), 0u);

    // Make and Model " " with their zero byte sit in the value field; the rest of it stays 0xFF.
    auto make = FindEntry(seg, 14, 0x010F);
    EXPECT_EQ(make.count, 2u);
    EXPECT_EQ(std::vector<uint8_t>(seg.begin() + make.at + 8, seg.begin() + make.at + 12),
              (std::vector<uint8_t>{' ', 0, 0xFF, 0xFF}));
    EXPECT_EQ(Text(seg, 14, 0x0110), " ");
    EXPECT_EQ(FieldShort(seg, 14, 0x0112), 1u);
    EXPECT_EQ(Rational(seg, 14, 0x011A), std::make_pair(180u, 1u));
    EXPECT_EQ(Rational(seg, 14, 0x011B), std::make_pair(180u, 1u));
    EXPECT_EQ(FieldShort(seg, 14, 0x0128), 2u);
    EXPECT_EQ(FieldShort(seg, 14, 0x0213), 2u);
    // Data area from 140: resolutions at 140 and 148, the software text at 156, the date at 172.
    EXPECT_EQ(Long(seg, FindEntry(seg, 14, 0x011A).at + 8), 134u);
    EXPECT_EQ(Text(seg, 14, 0x0131), "Demo 1.2.3.0045");
    EXPECT_EQ(Long(seg, FindEntry(seg, 14, 0x0131).at + 8), 150u);
    std::string dateTime = Text(seg, 14, 0x0132);
    EXPECT_TRUE(IsExifDate(dateTime)) << dateTime;

    size_t exif = ExifDirectory(seg);
    EXPECT_EQ(exif, 192u);
    EXPECT_EQ(seg.size(), exif + 282 + 716);
    EXPECT_EQ(Short(seg, exif), 22);
    EXPECT_EQ(Long(seg, exif + 266), 0u);
    EXPECT_EQ(Rational(seg, exif, 0x829A), std::make_pair(1u, 1u));
    EXPECT_EQ(Rational(seg, exif, 0x829D), std::make_pair(0u, 10u));
    EXPECT_EQ(FieldShort(seg, exif, 0x8822), 0u);
    EXPECT_EQ(FieldShort(seg, exif, 0x8827), 0u);
    EXPECT_EQ(Text(seg, exif, 0x9003), "1970:01:01 00:00:00");
    EXPECT_EQ(Text(seg, exif, 0x9004), dateTime);
    EXPECT_EQ(Rational(seg, exif, 0x9204), std::make_pair(0u, 2u));
    EXPECT_EQ(Rational(seg, exif, 0x9205), std::make_pair(0u, 10u));
    EXPECT_EQ(FieldShort(seg, exif, 0x9207), 0u);
    EXPECT_EQ(FieldShort(seg, exif, 0x9209), 0u);
    EXPECT_EQ(Rational(seg, exif, 0x920A), std::make_pair(0u, 1u));
    EXPECT_EQ(FieldShort(seg, exif, 0xA001), 1u);
    EXPECT_EQ(Long(seg, FindEntry(seg, exif, 0xA002).at + 8), 100u);
    EXPECT_EQ(Long(seg, FindEntry(seg, exif, 0xA003).at + 8), 50u);
    EXPECT_EQ(FieldShort(seg, exif, 0xA217), 2u);
    EXPECT_EQ(FieldShort(seg, exif, 0xA401), 1u);
    EXPECT_EQ(FieldShort(seg, exif, 0xA405), 0u);
    EXPECT_EQ(seg[FindEntry(seg, exif, 0xA300).at + 8], 3);
    // The tags ascend.
    for (int i = 1; i < 22; ++i)
        EXPECT_LT(Short(seg, exif + 2 + 12 * (i - 1)), Short(seg, exif + 2 + 12 * i));

    // Maker note: signature, version, nine texts " " in their fields.
    auto note = FindEntry(seg, exif, 0x927C);
    EXPECT_EQ(note.count, 512u);
    size_t m = Long(seg, note.at + 8) + 6;
    EXPECT_EQ(m, exif + 282 + 80);
    EXPECT_EQ(std::string(seg.begin() + m, seg.begin() + m + 8), std::string("PELTA\0\0\0", 8));
    EXPECT_EQ(Short(seg, m + 8), 1);
    for (uint16_t tag = 2; tag <= 10; ++tag)
        EXPECT_EQ(Text(seg, m + 10, tag), " ") << tag;
    EXPECT_EQ(Long(seg, m + 120), 0u);
}

TEST(ExifWriter, ValuesFromProperties)
{
    struct Case {
        const char* key;
        const char* value;
        uint16_t tag;
        uint32_t num, den;
    } rationals[] = {
        {"SH_DESC", "1/250", 0x829A, 1, 250},
        {"SH_DESC", "2", 0x829A, 2, 1},
        {"SH_DESC", "0.8", 0x829A, 8, 10},
        {"SH_DESC", "abc", 0x829A, 0, 1},
        {"SH_DESC", "1/", 0x829A, 1, 0},
        {"AP_DESC", "5.6", 0x829D, 56, 10},
        {"EXPNET", "-0.7", 0x9204, uint32_t(-1), 2},
        {"EXPNET", "1.3", 0x9204, 2, 2},
        {"LENSARANGE", "3.5 to 5.6", 0x9205, 56, 10},
        {"LENSARANGE", "f/3.5", 0x9205, 0, 10},
        {"FLENGTH", "50", 0x920A, 50, 1},
    };
    for (const Case& c : rationals) {
        KPropTree tree(nullptr, "p");
        tree.AddPair(c.key, c.value);
        std::vector<uint8_t> seg = Segment(tree);
        EXPECT_EQ(Rational(seg, ExifDirectory(seg), c.tag), std::make_pair(c.num, c.den)) << c.key << "=" << c.value;
    }
    struct ShortCase {
        const char* key;
        const char* value;
        uint16_t tag;
        uint32_t expected;
    } shorts[] = {
        {"PMODE", "M", 0x8822, 1}, {"PMODE", "S", 0x8822, 4},  {"PMODE", "X", 0x8822, 0},
        {"ISO", "400", 0x8827, 400}, {"AEMODE", "8", 0x9207, 5}, {"AEMODE", "C", 0x9207, 2},
        {"FLASH", "ON", 0x9209, 1},  {"FLASH", "OFF", 0x9209, 0},
    };
    for (const ShortCase& c : shorts) {
        KPropTree tree(nullptr, "p");
        tree.AddPair(c.key, c.value);
        std::vector<uint8_t> seg = Segment(tree);
        EXPECT_EQ(FieldShort(seg, ExifDirectory(seg), c.tag), c.expected) << c.key << "=" << c.value;
    }
    KPropTree tree(nullptr, "p");
    tree.SetInt("TIME", 1033828200);
    std::vector<uint8_t> seg = Segment(tree);
    EXPECT_EQ(Text(seg, ExifDirectory(seg), 0x9003), "2002:10:05 14:30:00");
    // Colour space code 3 is not sRGB: "uncalibrated".
    std::vector<uint8_t> other = BuildExifApp1Segment(tree, 1, 1, 3, KWString("x"), kVersion, {}, kNow);
    EXPECT_EQ(FieldShort(other, ExifDirectory(other), 0xA001), 0xFFFFu);
}

TEST(ExifWriter, FocalLengthIn35mmFilm)
{
    struct Case {
        const char* model;  // null: absent
        const char* fleq;   // null: absent
        uint32_t jpeg;
    } cases[] = {
        {"PELTA DV7", nullptr, 85},
        {"PELTA DV8", nullptr, 0},
        {nullptr, nullptr, 0},
        {"PELTA DV7", "28", 28},
        {nullptr, "35", 35},
    };
    for (const Case& c : cases) {
        KPropTree tree(nullptr, "p");
        tree.AddPair("FLENGTH", "50");
        if (c.model)
            tree.AddPair("CAMMODEL", c.model);
        if (c.fleq)
            tree.AddPair("FLEQ35MM", c.fleq);
        std::vector<uint8_t> seg = Segment(tree);
        EXPECT_EQ(FieldShort(seg, ExifDirectory(seg), 0xA405), c.jpeg);
        KUInt32 size = 0;
        std::vector<uint8_t> block = BuildExifIfdBlock(tree, 10, 20, 2, KWString("x"), kVersion, size);
        EXPECT_EQ(FieldShort(block, 0, 0xA405), 85u);
    }
}

TEST(ExifWriter, MakerNoteTextsInFieldOrDataArea)
{
    KPropTree tree(nullptr, "p");
    tree.AddPair("WB_DESC", "ABC");
    tree.AddPair("CAMSERIAL", "ABCD");
    tree.AddPair("LENSFRANGE", "28-70mm");
    std::vector<uint8_t> seg = Segment(tree);
    size_t exif = ExifDirectory(seg);
    size_t m = Long(seg, FindEntry(seg, exif, 0x927C).at + 8) + 6;
    auto wb = FindEntry(seg, m + 10, 7);
    EXPECT_EQ(wb.count, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&seg[wb.at + 8]), 4), std::string("ABC\0", 4));
    auto serial = FindEntry(seg, m + 10, 2);
    EXPECT_EQ(serial.count, 5u);
    EXPECT_EQ(Long(seg, serial.at + 8) + 6, m + 124);  // first text of the data area
    EXPECT_EQ(Long(seg, FindEntry(seg, m + 10, 10).at + 8) + 6, m + 124 + 5);
    EXPECT_EQ(Text(seg, m + 10, 10), "28-70mm");
}

TEST(ExifWriter, ThumbnailDirectory)
{
    KPropTree tree(nullptr, "p");
    tree.AddPair("CAMMANUF", "PELTA Corp");
    std::vector<uint8_t> thumb(5000);
    for (size_t i = 0; i < thumb.size(); ++i)
        thumb[i] = uint8_t(i * 7);
    std::vector<uint8_t> seg = Segment(tree, thumb);
    EXPECT_EQ(Long(seg, 136), 134u);
    EXPECT_EQ(Long(seg, FindEntry(seg, 14, 0x010F).at + 8), 224u);  // data area at 230
    EXPECT_EQ(Short(seg, 140), 7);
    EXPECT_EQ(Long(seg, 226), 0u);
    EXPECT_EQ(FieldShort(seg, 140, 0x0103), 6u);
    EXPECT_EQ(Rational(seg, 140, 0x011A), std::make_pair(180u, 1u));
    EXPECT_EQ(FieldShort(seg, 140, 0x0128), 2u);
    size_t at = Long(seg, FindEntry(seg, 140, 0x0201).at + 8) + 6;
    EXPECT_EQ(Long(seg, FindEntry(seg, 140, 0x0202).at + 8), thumb.size());
    EXPECT_EQ(std::vector<uint8_t>(seg.begin() + at, seg.begin() + at + thumb.size()), thumb);
    ExpectValuesInside(seg, 140, 6);
    EXPECT_EQ(ExifDirectory(seg), at + thumb.size() + 16);

    // A thumbnail the segment cannot hold is left out; the segment stays within a marker.
    std::vector<uint8_t> big(65000, 0x55);
    seg = Segment(tree, big);
    EXPECT_LE(seg.size(), kMaxMarkerData);
    EXPECT_EQ(Long(seg, 136), 0u);
    EXPECT_EQ(Long(seg, FindEntry(seg, 14, 0x010F).at + 8), 134u);
}

TEST(ExifWriter, LongTextsAreCutToFit)
{
    KPropTree tree(nullptr, "p");
    std::string huge(100000, 'M');
    tree.AddPair("CAMMANUF", huge.c_str());
    tree.AddPair("CAMMODEL", huge.c_str());
    for (const char* key : {"CAMSERIAL", "DRIVE", "RESOLUTION", "AFMODE", "FOCUS", "WB_DESC", "PMODE", "AEMODE",
                            "LENSFRANGE"})
        tree.AddPair(key, std::string(150, key[0]).c_str());
    std::vector<uint8_t> thumb(60000, 0xAA);
    std::vector<uint8_t> seg = BuildExifApp1Segment(tree, 1, 1, 2, KWString(huge.c_str()), kVersion, thumb, kNow);
    ASSERT_LE(seg.size(), kMaxMarkerData);
    EXPECT_EQ(Long(seg, 136), 134u) << "the thumbnail still fits";
    EXPECT_EQ(Text(seg, 14, 0x010F).size(), kMaxMainText);
    EXPECT_EQ(Text(seg, 14, 0x0131).size(), kMaxMainText);
    ExpectValuesInside(seg, 14, 6);
    size_t exif = ExifDirectory(seg);
    ExpectValuesInside(seg, exif, 6);
    size_t m = Long(seg, FindEntry(seg, exif, 0x927C).at + 8) + 6;
    for (uint16_t tag = 2; tag <= 10; ++tag) {
        auto e = FindEntry(seg, m + 10, tag);
        if (e.count > 4) {
            EXPECT_GE(Long(seg, e.at + 8) + 6, m + 124) << tag;
            EXPECT_LE(Long(seg, e.at + 8) + 6 + e.count, m + 512) << tag;
        }
    }
    // The first two texts fit whole; the third is cut to the rest of the 388-byte area; later ones to three.
    EXPECT_EQ(Text(seg, m + 10, 2).size(), 150u);
    EXPECT_EQ(Text(seg, m + 10, 4).size(), 388u - 151 - 151 - 1);
    EXPECT_EQ(Text(seg, m + 10, 5).size(), 3u);

    // The reader takes it back without complaint.
    KPropTree back(nullptr, "b");
    ParseExifSegment(seg.data(), seg.size(), back);
    EXPECT_EQ(WideToUtf8(back.GetString(KWString("CAMMANUF"), KWString())), std::string(kMaxMainText, 'M'));
}

TEST(ExifWriter, NonAsciiCharactersBecomeQuestionMarks)
{
    KPropTree tree(nullptr, "p");
    tree.AddPair(KWString("CAMMODEL"), KWString(u"K\u00e9\u65e5Z\x7f"));
    std::vector<uint8_t> seg = Segment(tree);
    EXPECT_EQ(Text(seg, 14, 0x0110), "K??Z?");
}

TEST(ExifWriter, TiffBlockLayout)
{
    KPropTree tree(nullptr, "p");
    tree.AddPair("SH_DESC", "1/60");
    tree.AddPair("CAMSERIAL", "S123456");
    KUInt32 size = 0;
    std::vector<uint8_t> block = BuildExifIfdBlock(tree, 2304, 1536, 2, KWString("Demo"), kVersion, size);
    EXPECT_EQ(size, 986u);
    EXPECT_EQ(block.size(), 988u);
    EXPECT_EQ(block[986], 0xFF);
    EXPECT_EQ(Short(block, 0), 22);
    EXPECT_EQ(Long(block, 266), 0u);
    EXPECT_EQ(Long(block, FindEntry(block, 0, 0x829A).at + 8), 270u);
    EXPECT_EQ(Rational(block, 0, 0x829A, 0), std::make_pair(1u, 60u));
    EXPECT_EQ(Long(block, FindEntry(block, 0, 0x829D).at + 8), 278u);
    EXPECT_EQ(Long(block, FindEntry(block, 0, 0x9003).at + 8), 286u);
    EXPECT_EQ(Long(block, FindEntry(block, 0, 0x9004).at + 8), 306u);
    EXPECT_EQ(Long(block, FindEntry(block, 0, 0x9204).at + 8), 326u);
    EXPECT_EQ(Long(block, FindEntry(block, 0, 0x9205).at + 8), 334u);
    EXPECT_EQ(Long(block, FindEntry(block, 0, 0x920A).at + 8), 342u);
    EXPECT_EQ(Long(block, FindEntry(block, 0, 0x927C).at + 8), 350u);
    EXPECT_EQ(Long(block, FindEntry(block, 0, 0xA002).at + 8), 2304u);
    EXPECT_EQ(Long(block, FindEntry(block, 0, 0xA003).at + 8), 1536u);
    EXPECT_EQ(Text(block, 350 + 10, 2, 0), "S123456");
    EXPECT_EQ(Long(block, FindEntry(block, 350 + 10, 2).at + 8), 474u);
    ExpectValuesInside(block, 0, 0);
}

TEST(ExifWriter, WrittenBlocksReadBackToTheSameKeys)
{
    KPropTree tree(nullptr, "ImageProps");
    const std::vector<std::pair<const char*, const char*>> props = {
        {"CAMMANUF", "PELTA"},   {"CAMMODEL", "PELTA DV7"}, {"SH_DESC", "1/250"},   {"AP_DESC", "5.6"},
        {"PMODE", "A"},          {"ISO", "400"},            {"TIME", "1033828200"}, {"EXPNET", "-1"},
        {"LENSARANGE", "3.5 to 5.6"}, {"AEMODE", "C"},      {"FLASH", "ON"},        {"FLENGTH", "50"},
        {"CAMSERIAL", "SN0042"}, {"DRIVE", "S"},            {"RESOLUTION", "FULL"}, {"AFMODE", "AF-S"},
        {"FOCUS", "NEAR"},       {"WB_DESC", "Daylight"},   {"LENSFRANGE", "28-70mm"},
    };
    for (auto& p : props)
        tree.AddPair(p.first, p.second);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"CAMMANUF", "PELTA"},   {"CAMMODEL", "PELTA DV7"}, {"FIRMVERS", "Demo 1.2.3.0045"},
        {"SH_DESC", "1/250"},    {"AP_DESC", "5.6"},        {"PMODE", "A"},
        {"ISO", "400"},          {"EXIF_DATETIME_ORIGINAL", "1033828200"},
        {"EXPCOMP", "-1"},       {"EXPNET", "-1"},          {"AEMODE", "C"},
        {"FLASH", "ON"},         {"FLENGTH", "50"},         {"CAMSERIAL", "SN0042"},
        {"DRIVE", "S"},          {"RESOLUTION", "FULL"},    {"AFMODE", "AF-S"},
        {"WB_DESC", "Daylight"}, {"KZRCOLS", "100"},        {"KZRROWS", "50"},
        {"LENSFRANGE", "28-70mm"}, {"TIME", "1033828200"},
    };
    auto check = [&expected](const KPropTree& back, const char* what) {
        for (auto& [key, value] : expected)
            EXPECT_EQ(WideToUtf8(back.GetString(KWString(key.c_str()), KWString("<none>"))), value) << what << " " << key;
        EXPECT_EQ(back.FindPair(KWString("FOCUS")), nullptr) << what;
    };
    std::vector<uint8_t> seg = Segment(tree);
    KPropTree fromJpeg(nullptr, "j");
    EXPECT_TRUE(ParseExifSegment(seg.data(), seg.size(), fromJpeg));
    check(fromJpeg, "jpeg");

    KUInt32 size = 0;
    std::vector<uint8_t> block = BuildExifIfdBlock(tree, 100, 50, 2, KWString("Demo"), kVersion, size);
    KPropTree fromTiff(nullptr, "t");
    EXPECT_TRUE(ParseExifIfd(block.data(), block.data(), size, false, fromTiff));
    for (auto& [key, value] : expected)
        if (key != "CAMMANUF" && key != "CAMMODEL" && key != "FIRMVERS") {
            EXPECT_EQ(WideToUtf8(fromTiff.GetString(KWString(key.c_str()), KWString("<none>"))), value) << "tiff " << key;
        }
}

TEST(ExifWriter, StoresDatesAndSoftwareText)
{
    uint8_t b[8];
    WriteExifLong(b, true, 0x01020304);
    EXPECT_EQ(std::vector<uint8_t>(b, b + 4), (std::vector<uint8_t>{1, 2, 3, 4}));
    WriteExifLong(b, false, 0x01020304);
    EXPECT_EQ(std::vector<uint8_t>(b, b + 4), (std::vector<uint8_t>{4, 3, 2, 1}));
    WriteExifSRational(b, false, -1, 2);
    EXPECT_EQ(std::vector<uint8_t>(b, b + 8), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0}));
    WriteExifRational(b, true, 1, 250);
    EXPECT_EQ(std::vector<uint8_t>(b, b + 8), (std::vector<uint8_t>{0, 0, 0, 1, 0, 0, 0, 250}));

    char now[20];
    FormatExifDateTimeNow(now);
    EXPECT_TRUE(IsExifDate(now)) << now;
    char date[20];
    FormatExifDateTime(0, true, date);
    EXPECT_STREQ(date, "1970:01:01 00:00:00");

    EXPECT_EQ(WideToUtf8(FormatExifSoftware(KWString("Demo"), KVersionInfo{1, 2, 3, 45})), "Demo 1.2.3.0045");
    SetExifCameraModelMakerNote(KWString("DV7"));
    EXPECT_EQ(WideToUtf8(GetExifCameraModelMakerNote()), "DV7");
}
