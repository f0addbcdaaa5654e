#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ExifTestBlocks.h"
#include "KExifReader.h"
#include "KPropTree.h"
#include "KTextFunctions.h"

using exiftest::Encoder;
using exiftest::Entry;

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs PairsOf(const KPropTree& tree)
{
    Pairs out;
    for (KPropPair* p = tree.GetFirstPair(); p; p = p->GetNext())
        out.emplace_back(WideToUtf8(p->GetKey()), WideToUtf8(p->GetValue()));
    return out;
}

Pairs ReadSegment(const std::vector<uint8_t>& segment)
{
    KPropTree tree(nullptr, "ImageProps");
    ParseExifSegment(segment.data(), segment.size(), tree);
    return PairsOf(tree);
}

std::string Value(const Pairs& pairs, const std::string& key)
{
    for (auto& p : pairs)
        if (p.first == key)
            return p.second;
    return "<none>";
}

}  // namespace

TEST(ExifReader, ConvertsEachKnownTagInBothByteOrders)
{
    struct Case {
        const char* name;
        Entry (*make)(const Encoder&);
        const char* key;
        const char* expected;
    } cases[] = {
        {"exposure 1/250", [](const Encoder& e) { return e.Rat(0x829A, 1, 250); }, "SH_DESC", "1/250"},
        {"exposure 0.6", [](const Encoder& e) { return e.Rat(0x829A, 6, 10); }, "SH_DESC", "0.6"},
        {"exposure 2", [](const Encoder& e) { return e.Rat(0x829A, 2, 1); }, "SH_DESC", "2"},
        {"exposure 1/3", [](const Encoder& e) { return e.Rat(0x829A, 1, 3); }, "SH_DESC", "1/3"},
        {"exposure 0/0", [](const Encoder& e) { return e.Rat(0x829A, 0, 0); }, "SH_DESC", "0"},
        {"shutter apex 8", [](const Encoder& e) { return e.SRat(0x9201, 8, 1); }, "SH_DESC", "1/256"},
        {"aperture apex 5", [](const Encoder& e) { return e.Rat(0x9202, 5, 1); }, "AP_DESC", "5.7"},
        {"f-number 8/1", [](const Encoder& e) { return e.Rat(0x829D, 8, 1); }, "AP_DESC", "8.0"},
        {"f-number x/0 reads as 0", [](const Encoder& e) { return e.Rat(0x829D, 7, 0); }, "AP_DESC", "0.0"},
        {"bias -2/3", [](const Encoder& e) { return e.SRat(0x9204, -2, 3); }, "EXPCOMP", "-0.7"},
        {"bias 1/1", [](const Encoder& e) { return e.SRat(0x9204, 1, 1); }, "EXPNET", "1"},
        {"bias 0/1", [](const Encoder& e) { return e.SRat(0x9204, 0, 1); }, "EXPCOMP", "0"},
        {"iso 1", [](const Encoder& e) { return e.Short(0x8827, 1); }, "ISO", "200"},
        {"iso 100", [](const Encoder& e) { return e.Short(0x8827, 100); }, "ISO", "100"},
        {"program 3", [](const Encoder& e) { return e.Short(0x8822, 3); }, "PMODE", "A"},
        {"program 9", [](const Encoder& e) { return e.Short(0x8822, 9); }, "PMODE", "U"},
        {"metering 5", [](const Encoder& e) { return e.Short(0x9207, 5); }, "AEMODE", "8"},
        {"metering 3", [](const Encoder& e) { return e.Short(0x9207, 3); }, "AEMODE", "U"},
        {"flash 1", [](const Encoder& e) { return e.Short(0x9209, 1); }, "FLASH", "ON"},
        {"flash 0x10", [](const Encoder& e) { return e.Short(0x9209, 0x10); }, "FLASH", "<none>"},
        {"focal 50", [](const Encoder& e) { return e.Rat(0x920A, 50, 1); }, "FLENGTH", "50"},
        {"make", [](const Encoder& e) { return e.Ascii(0x010F, "PELTA"); }, "CAMMANUF", "PELTA"},
        {"short make", [](const Encoder& e) { return e.Ascii(0x010F, "AB"); }, "CAMMANUF", "AB"},
        {"model", [](const Encoder& e) { return e.Ascii(0x0110, "PELTA DV7"); }, "CAMMODEL", "PELTA DV7"},
        {"software", [](const Encoder& e) { return e.Ascii(0x0131, "LumoDesk 1.0.0.0001"); }, "FIRMVERS",
         "LumoDesk 1.0.0.0001"},
        {"width long", [](const Encoder& e) { return e.Long(0xA002, 2304); }, "KZRCOLS", "2304"},
        {"height short", [](const Encoder& e) { return e.Short(0xA003, 1536); }, "KZRROWS", "1536"},
        {"date", [](const Encoder& e) { return e.Ascii(0x0132, "2002:10:05 14:30:00"); }, "EXIF_DATETIME",
         "1033828200"},
        {"maker tag outside a maker note", [](const Encoder& e) { return e.Ascii(2, "1234"); }, "CAMSERIAL",
         "<none>"},
    };
    for (bool big : {false, true}) {
        Encoder enc(big);
        for (const Case& c : cases) {
            Pairs pairs = ReadSegment(enc.Segment({c.make(enc)}));
            EXPECT_EQ(Value(pairs, c.key), c.expected) << c.name << (big ? " (MM)" : " (II)");
        }
    }
}

TEST(ExifReader, DatesSetTimeAfterTheirDirectory)
{
    Encoder enc(false);
    // DateTimeOriginal wins over DateTimeDigitized, whichever comes first.
    Pairs pairs = ReadSegment(enc.Segment({enc.Ascii(0x9004, "2003:01:01 00:00:00"), enc.Ascii(0x9003, "2002:10:05 14:30:00"),
                                           enc.Ascii(0x010F, "M")}));
    EXPECT_EQ(Value(pairs, "EXIF_DATETIME_ORIGINAL"), "1033828200");
    EXPECT_EQ(Value(pairs, "EXIF_DATETIME_DIGITIZED"), "1041379200");
    EXPECT_EQ(Value(pairs, "TIME"), "1033828200");
    EXPECT_EQ(pairs.back().first, "TIME");

    pairs = ReadSegment(enc.Segment({enc.Ascii(0x9004, "2003:01:01 00:00:00")}));
    EXPECT_EQ(Value(pairs, "TIME"), "1041379200");
    // An original date that does not parse still decides: TIME 0, and no EXIF_DATETIME_ORIGINAL.
    pairs = ReadSegment(enc.Segment({enc.Ascii(0x9003, "unknown"), enc.Ascii(0x9004, "2003:01:01 00:00:00")}));
    EXPECT_EQ(Value(pairs, "TIME"), "0");
    EXPECT_EQ(Value(pairs, "EXIF_DATETIME_ORIGINAL"), "<none>");
}

TEST(ExifReader, BadEntryEndsItsDirectoryOnly)
{
    Encoder enc(false);
    // Type 13 ends the directory: the later make and the date add nothing, TIME is not set.
    Pairs pairs = ReadSegment(enc.Segment({enc.Ascii(0x0110, "MODEL"), {0x0100, 13, 1, enc.U32(0)},
                                           enc.Ascii(0x010F, "MAKE"), enc.Ascii(0x9003, "2002:10:05 14:30:00")}));
    EXPECT_EQ(pairs, (Pairs{{"CAMMODEL", "MODEL"}}));

    // A value whose offset + size leaves the block ends the walk, as does a count whose size overflows 32 bits.
    pairs = ReadSegment(enc.Segment({enc.Ascii(0x0110, "A"), enc.Field(0x010F, 2, 100, 0xFFFFFFF0u), enc.Ascii(0x0131, "S")}));
    EXPECT_EQ(pairs, (Pairs{{"CAMMODEL", "A"}}));
    pairs = ReadSegment(enc.Segment({enc.Ascii(0x0110, "A"), enc.Field(0x010F, 12, 0x20000001u, 8), enc.Ascii(0x0131, "S")}));
    EXPECT_EQ(pairs, (Pairs{{"CAMMODEL", "A"}}));
}

TEST(ExifReader, NestedDirectoriesAreFollowedWithinBounds)
{
    Encoder enc(false);
    // The main directory points at an EXIF directory placed after it by hand.
    std::vector<uint8_t> seg = enc.Segment({enc.Ascii(0x010F, "MK"), enc.Field(0x8769, 4, 1, 0)});
    size_t exifAt = seg.size() - 6;
    seg[6 + 8 + 2 + 12 + 8] = uint8_t(exifAt);
    seg[6 + 8 + 2 + 12 + 9] = uint8_t(exifAt >> 8);
    std::vector<uint8_t> dir = {1, 0, 0x27, 0x88, 3, 0, 1, 0, 0, 0, 100, 0, 0, 0, 0, 0, 0, 0};
    seg.insert(seg.end(), dir.begin(), dir.end());
    EXPECT_EQ(ReadSegment(seg), (Pairs{{"CAMMANUF", "MK"}, {"ISO", "100"}}));

    // A directory that points at itself is walked a bounded number of times.
    std::vector<uint8_t> self = enc.Segment({enc.Short(0x8827, 100), enc.Field(0x8769, 4, 1, 8)});
    Pairs pairs = ReadSegment(self);
    EXPECT_GE(pairs.size(), 1u);
    EXPECT_LE(pairs.size(), 8u);

    // Many pointers at one directory: the walk stays bounded.
    std::vector<Entry> fan;
    for (int i = 0; i < 2000; ++i)
        fan.push_back(enc.Field(0x8769, 4, 1, 8));
    pairs = ReadSegment(enc.Segment(fan));
    EXPECT_TRUE(pairs.empty());

    // Pointers past the end are ignored; the walk goes on.
    pairs = ReadSegment(enc.Segment({enc.Field(0x8769, 4, 1, 60000), enc.Field(0xA005, 4, 1, 0xFFFFFFFFu),
                                     enc.Short(0x8827, 400)}));
    EXPECT_EQ(pairs, (Pairs{{"ISO", "400"}}));
}

TEST(ExifReader, MakerNoteIsReadWhateverItsSignature)
{
    Encoder enc(true);
    auto note = [&enc](const char* signature) {
        std::vector<uint8_t> n(signature, signature + 8);
        auto add = [&n](const std::vector<uint8_t>& v) { n.insert(n.end(), v.begin(), v.end()); };
        add(enc.U16(1));
        add(enc.U16(2));
        // Tag 2 (serial) with a 3-character text in its field, tag 6 (focus) which is never read.
        add(enc.U16(2));
        add(enc.U16(2));
        add(enc.U32(4));
        n.insert(n.end(), {'S', 'N', '1', 0});
        add(enc.U16(6));
        add(enc.U16(2));
        add(enc.U32(2));
        n.insert(n.end(), {'F', 0, 0, 0});
        add(enc.U32(0));
        return n;
    };
    std::vector<uint8_t> ours = note("PELTA\0\0\0");
    std::vector<uint8_t> theirs = note("OTHER\0\0\0");
    EXPECT_EQ(ReadSegment(enc.Segment({{0x927C, 7, uint32_t(ours.size()), ours}})), (Pairs{{"CAMSERIAL", "SN1"}}));
    EXPECT_EQ(ReadSegment(enc.Segment({{0x927C, 7, uint32_t(theirs.size()), theirs}})),
              (Pairs{{"CAMSERIAL", "SN1"}}));
    // A note too short to hold a directory inside the block adds nothing, and the walk goes on.
    std::vector<uint8_t> stub(ours.begin(), ours.begin() + 8);
    std::vector<uint8_t> block = enc.Segment({{0x927C, 7, uint32_t(stub.size()), stub}, enc.Short(0x8827, 100)});
    EXPECT_EQ(ReadSegment(block), (Pairs{{"ISO", "100"}}));
}

TEST(ExifReader, SegmentHeaderChecks)
{
    Encoder enc(false);
    std::vector<uint8_t> good = enc.Segment({enc.Short(0x8827, 100)});
    EXPECT_EQ(ReadSegment(good).size(), 1u);
    auto broken = [&good](size_t at, uint8_t byte) {
        std::vector<uint8_t> b = good;
        b[at] = byte;
        return b;
    };
    EXPECT_TRUE(ReadSegment(broken(0, 'X')).empty());   // not "Exif"
    EXPECT_TRUE(ReadSegment(broken(7, 'M')).empty());   // "IM"
    EXPECT_TRUE(ReadSegment(broken(8, 43)).empty());    // not 42
    EXPECT_TRUE(ReadSegment(broken(10, 10)).empty());   // first directory not at 8
    std::vector<uint8_t> jfif = broken(1, 'j');
    jfif[0] = 'J', jfif[1] = 'f', jfif[2] = 'i', jfif[3] = 'f';
    EXPECT_EQ(ReadSegment(jfif).size(), 1u);
    // Every truncation of a good segment is read without complaint, never past its end.
    for (size_t n = 0; n < good.size(); ++n) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + n);
        KPropTree tree(nullptr, "t");
        ParseExifSegment(cut.empty() ? nullptr : cut.data(), cut.size(), tree);
        // The one entry is read once its 12 bytes are there, even without the next-directory offset.
        EXPECT_EQ(tree.GetPairCount(), n >= 28 ? 1u : 0u) << n;
    }
}

TEST(ExifReader, ParseDirectoryRejectsPointersOutsideTheBlock)
{
    Encoder enc(false);
    std::vector<uint8_t> block = enc.Block({enc.Short(0x8827, 100)});
    KPropTree tree(nullptr, "t");
    EXPECT_TRUE(ParseExifIfd(block.data() + 8, block.data(), uint32_t(block.size()), false, tree));
    EXPECT_EQ(tree.GetPairCount(), 1u);
    EXPECT_FALSE(ParseExifIfd(block.data() + block.size(), block.data(), uint32_t(block.size()), false, tree));
    EXPECT_FALSE(ParseExifIfd(block.data() + 8, block.data(), 20, false, tree));  // entry table cut
    EXPECT_FALSE(ParseExifIfd(nullptr, block.data(), uint32_t(block.size()), false, tree));
}

TEST(ExifReader, DateTimeTexts)
{
    struct Case {
        const char* text;
        KInt32 seconds;
    } cases[] = {
        {"2002:10:05 14:30:00", 1033828200},
        {"1970:01:01 00:00:00", 0},
        {"2000:02:29 12:00:00", 951825600},
        {"2002:13:01 00:00:00", 1041379200},  // month 13 is January of the next year
        {"2002:10:05", 0},
        {"", 0},
        {"    :  :     :  :  ", 0},
        {"99999999999:99999999999:1 0:0:0", ParseExifDateTime("99999999999:99999999999:1 0:0:0")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseExifDateTime(c.text), c.seconds) << c.text;
    EXPECT_EQ(ParseExifDateTime(nullptr), 0);
}

TEST(ExifReader, ValuesAsNumbers)
{
    const uint8_t le[8] = {0xFE, 0xFF, 0xFF, 0xFF, 0x02, 0, 0, 0};
    EXPECT_EQ(GetExifValueAsDouble(le, 1, false), 254);
    EXPECT_EQ(GetExifValueAsDouble(le, 6, false), -2);
    EXPECT_EQ(GetExifValueAsDouble(le, 3, false), 65534);
    EXPECT_EQ(GetExifValueAsDouble(le, 8, false), -2);
    EXPECT_EQ(GetExifValueAsDouble(le, 4, false), 4294967294.0);
    EXPECT_EQ(GetExifValueAsDouble(le, 9, false), -2);
    EXPECT_EQ(GetExifValueAsDouble(le, 10, false), -1);
    EXPECT_EQ(GetExifValueAsDouble(le, 5, false), -1);  // both halves signed
    EXPECT_EQ(GetExifValueAsDouble(le, 2, false), 0);
    EXPECT_EQ(GetExifValueAsDouble(le, 7, false), 0);
    EXPECT_EQ(ReadExifShort(le, true), 0xFEFF);
    EXPECT_EQ(ReadExifLong(le, true), 0xFEFFFFFFu);
}
