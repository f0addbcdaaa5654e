// The container level of the raw reader: header, directory, property lists, calibration sections, image
// headers, and the refusal of damaged structures.
#include <cmath>

#include "KPixmapExceptions.h"
#include "KQrlbFormat.h"
#include "KzrNegative.h"
#include "KzrStandard.h"
#include "QrlbTestSupport.h"

using namespace KQrlb;
using kzrsynth::BuildFile;
using kzrsynth::BuildNegative;
using kzrsynth::FileLayout;
using kzrsynth::Negative;

namespace {

FileLayout SmallLayout(uint32_t version = kVersion22)
{
    kzrsynth::StandardOptions o;
    o.width = 16;
    o.height = 8;
    o.version = version;
    return kzrsynth::StandardLayout(o);
}

std::vector<uint8_t> Damaged(Negative kind, FileLayout layout = SmallLayout())
{
    kzrsynth::NegativeCase c;
    c.kind = kind;
    return BuildNegative(layout, c).bytes;
}

// Every pair of a tree, "key=value", in order.
std::vector<std::string> Pairs(const KPropTree& tree)
{
    std::vector<std::string> out;
    for (KPropPair* p = tree.GetFirstPair(); p; p = p->GetNext())
        out.push_back(std::string(p->GetKey().GetAscii()) + "=" + p->GetValue().GetAscii());
    return out;
}

TEST_F(RawTest, HeaderFieldsComeAsWritten)
{
    FileLayout layout = SmallLayout();
    layout.markBits = 0x80000005u;
    layout.rotation = 270;
    layout.whiteBalance = "Sunlight";
    layout.identifierGiven = true;
    for (int i = 0; i < 16; ++i)
        layout.identifier[size_t(i)] = static_cast<uint8_t>(i);
    KQrlbImageReader reader(Disk(BuildFile(layout).bytes));
    KInt32 columns = 0, rows = 0;
    reader.GetDimensions(columns, rows);
    EXPECT_EQ(columns, 16);
    EXPECT_EQ(rows, 8);
    EXPECT_EQ(reader.GetMarkBits(), 0x80000005u);
    EXPECT_EQ(reader.GetRotation(), 270);
    EXPECT_STREQ(reader.GetWhiteBalance(), "Sunlight");
    EXPECT_EQ(std::memcmp(reader.GetUniqueIdentifier(), layout.identifier.data(), 16), 0);
    EXPECT_EQ(reader.GetNumImages(), 3);
    EXPECT_EQ(reader.GetNumCamFiles(), 1);
}

TEST_F(RawTest, VersionWordsAreAcceptedByMajorNumber)
{
    const struct {
        uint32_t version;
        bool accepted;
    } cases[] = {{0x00020007u, true}, {kVersion10, true}, {kVersion20, true},
                 {0x00030000u, false}, {0x00010000u, false}, {0x00302E32u, false}};
    for (const auto& c : cases) {
        std::vector<uint8_t> bytes = BuildFile(SmallLayout()).bytes;
        WriteLE32(bytes.data() + kOffVersion, c.version);
        const KWString url = Mem(bytes);
        if (c.accepted) {
            EXPECT_NO_THROW(KQrlbImageReader r(url)) << std::hex << c.version;
        } else {
            ExpectThrowText<KExceptionQrlbIncompatible>([&] { KQrlbImageReader r(url); }, "mem://f.kzr");
        }
    }
}

TEST_F(RawTest, OpenFailuresNameTheFile)
{
    const KWString bad = Disk(Damaged(Negative::BadMagic), "bad.kzr");
    ExpectThrowText<KExceptionNotAQrlb>([&] { KQrlbImageReader r(bad); }, bad.GetAscii());
    const KWString missing = KWString(bad) + u"x";
    ExpectThrowText<KExceptionFileNotFound>([&] { KQrlbImageReader r(missing); }, missing.GetAscii());
    std::vector<uint8_t> shortFile = BuildFile(SmallLayout()).bytes;
    shortFile.resize(100);
    EXPECT_THROW(KQrlbImageReader r(Mem(shortFile)), KExceptionEOF);
}

TEST_F(RawTest, WhiteBalanceFieldExistsAfterVersionTwoZero)
{
    for (uint32_t version : {kVersion20, kVersion21, kVersion22, kVersion10}) {
        FileLayout layout = SmallLayout(version);
        layout.whiteBalance = "Cloudy";
        KQrlbImageReader reader(Mem(BuildFile(layout).bytes));
        if (version == kVersion20)
            EXPECT_EQ(reader.GetWhiteBalance(), nullptr);
        else
            EXPECT_STREQ(reader.GetWhiteBalance(), "Cloudy") << std::hex << version;
    }
    // A field of 32 characters without a terminator comes back cut at the field's end.
    std::vector<uint8_t> bytes = BuildFile(SmallLayout()).bytes;
    std::memset(bytes.data() + kOffWhiteBalance, 'W', kWhiteBalanceSize);
    KQrlbImageReader reader(Mem(bytes));
    EXPECT_EQ(std::string(reader.GetWhiteBalance()), std::string(32, 'W'));
}

TEST_F(RawTest, NestedDirectoriesAreListedBeforeTheirParents)
{
    const kzrsynth::BuiltFile f = BuildFile(kzrsynth::EdgeCaseLayout(1));
    KQrlbImageReader reader(Mem(f.bytes));
    const std::vector<KQrlbDirEntry>& dir = reader.GetDirectory();
    // Sections at the deepest level first, then one level up, then the top; no DIRP entry anywhere.
    std::vector<uint64_t> expected;
    for (int level = 2; level >= 0; --level)
        for (const kzrsynth::SectionInfo& s : f.sections)
            if (s.dirLevel == level)
                expected.push_back(s.offset);
    ASSERT_EQ(dir.size(), expected.size());
    for (size_t i = 0; i < dir.size(); ++i) {
        EXPECT_EQ(dir[i].offset, expected[i]);
        EXPECT_NE(dir[i].type, kTypeDirp);
    }
    EXPECT_EQ(reader.GetNumImages(), 8);
    EXPECT_EQ(reader.GetNumCamFiles(), 2);
}

TEST_F(RawTest, DamagedDirectoriesAreRefused)
{
    const struct {
        Negative kind;
        std::string piece;
    } cases[] = {
        {Negative::BadDirectoryTag, "Expected a directory section but got something else."},
        {Negative::DirectoryLoop, "is listed more than once"},
        {Negative::DirectoryDeep, "directories nested more than 16 deep"},
    };
    for (const auto& c : cases) {
        KQrlbImageReader reader(Mem(Damaged(c.kind)));
        ExpectThrowContaining<KExceptionQrlbReader>([&] { reader.GetNumImages(); }, c.piece);
    }
    // A directory version that is not accepted, and a count that the file cannot hold.
    kzrsynth::BuiltFile f = BuildFile(SmallLayout());
    std::vector<uint8_t> bytes = f.bytes;
    WriteLE32(bytes.data() + f.directories[0] + 4, 0x00030000u);
    KQrlbImageReader versioned(Mem(bytes));
    ExpectThrowText<KExceptionQrlbIncompatible>([&] { versioned.GetNumImages(); }, "Directory section version");
    bytes = f.bytes;
    WriteLE32(bytes.data() + f.directories[0] + 8, 0x40000000u);
    KQrlbImageReader counted(Mem(bytes));
    ExpectThrowContaining<KExceptionQrlbReader>([&] { counted.GetNumImages(); }, "more than the file holds");
    // A directory offset beyond the file.
    bytes = f.bytes;
    WriteLE32(bytes.data() + bytes.size() - 4, 0xFFFFFF00u);
    KQrlbImageReader beyond(Mem(bytes));
    EXPECT_THROW(beyond.GetNumImages(), KExceptionEOF);
}

// A file built word by word: the header of a 2.2 file, then what the test appends.
struct WordFile {
    std::vector<uint8_t> bytes;
    WordFile() : bytes(kHeaderSize, 0)
    {
        WriteLE32(bytes.data() + kOffMagic, kTagMagic);
        WriteLE32(bytes.data() + kOffVersion, kVersion22);
    }
    uint32_t Size() const { return static_cast<uint32_t>(bytes.size()); }
    void Word(uint32_t v)
    {
        bytes.resize(bytes.size() + 4);
        WriteLE32(bytes.data() + bytes.size() - 4, v);
    }
};

// Directories whose entry lists overlap: each of n chained directories lists the headers of those after it as
// entries, and a top directory points at all of them. A few kilobytes would list n^2 / 2 sections.
TEST_F(RawTest, OverlappingDirectoriesCannotListMoreEntriesThanTheFileHolds)
{
    const uint32_t n = 200;
    WordFile f;
    std::vector<uint32_t> chained;
    for (uint32_t i = 0; i < n; ++i) {
        chained.push_back(f.Size());
        f.Word(kTagDirectory);
        f.Word(kVersion22);
        f.Word(n - 1 - i);
    }
    const uint32_t top = f.Size();
    f.Word(kTagDirectory);
    f.Word(kVersion22);
    f.Word(n);
    for (uint32_t at : chained) {
        f.Word(at);
        f.Word(0);
        f.Word(kTypeDirp);
    }
    f.Word(top);
    KQrlbImageReader reader(Mem(f.bytes));
    ExpectThrowContaining<KExceptionQrlbReader>([&] { reader.GetNumImages(); }, "more entries than the file holds");
}

TEST_F(RawTest, PropertyListsOfBothLayoutsAppendInDirectoryOrder)
{
    FileLayout layout = SmallLayout();
    layout.props.clear();
    // A "1.0" section inside a 2.2 file keeps the 12-byte layout of its own version.
    layout.props.push_back({kVersion10, {{u"WB_DESC", u"Auto"}, {u"ISO", u"100"}}, 0});
    layout.props.push_back({kVersion21, {{u"ISO", u"400"}, {u"EMPTY", u""}, {u"NAME", u"\u00e9t\u00e9"}}, 0});
    KQrlbImageReader reader(Mem(BuildFile(layout).bytes));
    KPropTree tree(nullptr, "p");
    reader.GetProperties(&tree);
    EXPECT_EQ(Pairs(tree), (std::vector<std::string>{"WB_DESC=Auto", "ISO=100", "ISO=400", "EMPTY=", "NAME=?t?"}));
    EXPECT_EQ(tree.FindPair(KWString("NAME"))->GetValue(), KWString(u"\u00e9t\u00e9"));
}

TEST_F(RawTest, DamagedPropertyListsAreRefused)
{
    const struct {
        Negative kind;
        std::string piece;
    } cases[] = {
        {Negative::PropUnterminated, "property 1's value at offset 15 has no terminator"},
        {Negative::PropOffset, "property 0's name offset 22 lies outside the character block of 17 characters"},
    };
    for (const auto& c : cases) {
        KQrlbImageReader reader(Mem(Damaged(c.kind)));
        KPropTree tree(nullptr, "p");
        ExpectThrowContaining<KExceptionQrlbReader>([&] { reader.GetProperties(&tree); }, c.piece);
    }
    // Header words: character type, encryption, and counts the section cannot hold.
    kzrsynth::BuiltFile f = BuildFile(SmallLayout());
    const uint64_t at = f.FindSection(kTypeProp)->offset;
    const struct {
        size_t word;
        uint32_t value;
        std::string text;
    } words[] = {{12, 1, "Property list character type not unicode."},
                 {16, 1, "Encrypted properties are not currently handled."},
                 {8, 0x20000000u, "more than its"},
                 {20, 0x7FFFFFFFu, "more than its"}};
    for (const auto& w : words) {
        std::vector<uint8_t> bytes = f.bytes;
        WriteLE32(bytes.data() + at + w.word, w.value);
        KQrlbImageReader reader(Mem(bytes));
        KPropTree tree(nullptr, "p");
        ExpectThrowContaining<KExceptionQrlbReader>([&] { reader.GetProperties(&tree); }, w.text);
    }
    std::vector<uint8_t> bytes = f.bytes;
    std::memcpy(bytes.data() + at, "SECq", 4);
    KQrlbImageReader tagged(Mem(bytes));
    KPropTree tree(nullptr, "p");
    ExpectThrowText<KExceptionQrlbReader>([&] { tagged.GetProperties(&tree); },
                                          "Expected a property section but got something else.");
}

// Pairs of a 2.x list may point at the same characters; a list whose pairs all name one long text would fill
// the tree with count x length characters from a section of count + length words.
TEST_F(RawTest, PropertyPairsCannotCopyTheCharacterBlockWithoutBound)
{
    const uint32_t pairs = 200, length = 4000;
    WordFile f;
    const uint32_t at = f.Size();
    f.Word(kTagProperties);
    f.Word(kVersion22);
    f.Word(pairs);
    f.Word(0);
    f.Word(0);
    f.Word(length + 1);
    for (uint32_t i = 0; i < pairs; ++i) {
        f.Word(0);
        f.Word(0);
    }
    for (uint32_t i = 0; i < length; ++i)
        f.bytes.insert(f.bytes.end(), {'a', 0});
    f.bytes.insert(f.bytes.end(), {0, 0});
    const uint32_t sectionLength = f.Size() - at;
    const uint32_t directory = f.Size();
    f.Word(kTagDirectory);
    f.Word(kVersion22);
    f.Word(1);
    f.Word(at);
    f.Word(sectionLength);
    f.Word(kTypeProp);
    f.Word(directory);
    KQrlbImageReader reader(Mem(f.bytes));
    KPropTree tree(nullptr, "p");
    ExpectThrowContaining<KExceptionQrlbReader>([&] { reader.GetProperties(&tree); },
                                                "more characters than 16 times its character block of 4001 characters");
}

TEST_F(RawTest, MissingSectionsThrowIndexOutOfRangeWithTheTypeAsANumber)
{
    KQrlbImageReader reader(Mem(BuildFile(kzrsynth::EdgeCaseLayout(1)).bytes));
    KUInt32 size = 0, type = 0;
    ExpectThrowText<KExceptionIndexOutOfRange>([&] { reader.GetCamFileInfo(2, size, type); },
                                               "KQrlbImageReaderImpl::FindSection type 1179468099 index 2");
    KQrlbSize s;
    int pixmapType = 0;
    // Image 8 of 4 "IMAG" and 4 "IMA2" images is the fifth "IMA2".
    ExpectThrowText<KExceptionIndexOutOfRange>([&] { reader.GetImageInfo(8, s, pixmapType, type); },
                                               "KQrlbImageReaderImpl::FindSection type 843140425 index 4");
    ExpectThrowText<KExceptionIndexOutOfRange>([&] { reader.GetImageInfo(-1, s, pixmapType, type); },
                                               "KQrlbImageReaderImpl::FindSection type 1195461961 index -1");
}

TEST_F(RawTest, EncipheredCalibrationIsReportedAsABlockAndDeciphered)
{
    FileLayout layout = SmallLayout();
    kzrsynth::CamFileLayout cam;
    cam.type = kCamTypeEnciphered;
    cam.seed = 0xDEADBEEFu;
    for (int i = 0; i < 1000; ++i)
        cam.payload.push_back(static_cast<uint8_t>(i * 7));
    layout.cams = {cam};
    const kzrsynth::BuiltFile f = BuildFile(layout);
    // The stored bytes are not the plain ones.
    const uint64_t body = f.FindSection(kTypeCamf)->offset + kCamHeaderSize + kEncipheredHeaderSize;
    EXPECT_NE(std::vector<uint8_t>(f.bytes.begin() + long(body), f.bytes.begin() + long(body) + 1000), cam.payload);

    KQrlbImageReader reader(Mem(f.bytes));
    KUInt32 size = 0, type = 0;
    reader.GetCamFileInfo(0, size, type);
    EXPECT_EQ(type, kCamTypeBlock);
    EXPECT_EQ(size, 1000u);
    std::vector<uint8_t> buffer(size);
    EXPECT_EQ(reader.GetCamFile(0, buffer.data(), size, nullptr, nullptr), 1000u);
    EXPECT_EQ(buffer, cam.payload);
    // Every call starts the keystream again; a smaller buffer gets the first bytes.
    std::vector<uint8_t> part(10);
    EXPECT_EQ(reader.GetCamFile(0, part.data(), 10, nullptr, nullptr), 10u);
    EXPECT_EQ(part, std::vector<uint8_t>(cam.payload.begin(), cam.payload.begin() + 10));
}

TEST_F(RawTest, DamagedCalibrationSectionsAreRefused)
{
    KQrlbImageReader shortOne(Mem(Damaged(Negative::ShortEnciphered)));
    KUInt32 size = 0, type = 0;
    ExpectThrowContaining<KExceptionQrlbReader>([&] { shortOne.GetCamFileInfo(0, size, type); },
                                                "has 8 payload bytes, fewer than its 12-byte header");

    FileLayout layout = SmallLayout();
    kzrsynth::CamFileLayout cam;
    cam.type = kCamTypeEnciphered;
    cam.payload = {1, 2, 3};
    cam.encipheredVersion = 0x00020000u;
    layout.cams = {cam};
    kzrsynth::BuiltFile f = BuildFile(layout);
    uint8_t buffer[3];
    KQrlbImageReader versioned(Mem(f.bytes));
    ExpectThrowText<KExceptionQrlbIncompatible>([&] { versioned.GetCamFile(0, buffer, 3, nullptr, nullptr); },
                                                "Encrypted CAMb file section version");
    const uint64_t at = f.FindSection(kTypeCamf)->offset;
    std::vector<uint8_t> bytes = f.bytes;
    std::memcpy(bytes.data() + at + kCamHeaderSize, "KCEx", 4);
    KQrlbImageReader tagged(Mem(bytes));
    ExpectThrowText<KExceptionQrlbReader>([&] { tagged.GetCamFile(0, buffer, 3, nullptr, nullptr); },
                                          "Expected an encrypted CAMb section but got something else.");
    bytes = f.bytes;
    std::memcpy(bytes.data() + at, "SECx", 4);
    KQrlbImageReader camTag(Mem(bytes));
    ExpectThrowText<KExceptionQrlbReader>([&] { camTag.GetCamFileInfo(0, size, type); },
                                          "Expected a cam file section but got something else.");
    bytes = f.bytes;
    WriteLE32(bytes.data() + at + 4, 0x00040000u);
    KQrlbImageReader camVersion(Mem(bytes));
    ExpectThrowText<KExceptionQrlbIncompatible>([&] { camVersion.GetCamFileInfo(0, size, type); },
                                                "Cam file section version");
}

TEST_F(RawTest, CalibrationIsReadInChunksWithProgressAndCancel)
{
    FileLayout layout = SmallLayout();
    kzrsynth::CamFileLayout cam;
    cam.type = kCamTypeCameraFile;
    cam.payload.assign(300000, 0x5A);
    layout.cams = {cam};
    const std::vector<uint8_t> bytes = BuildFile(layout).bytes;
    double progress = -1;
    std::vector<double> seen;
    std::vector<uint32_t> reads;
    auto reader = MemoryReader(bytes, [&](uint64_t, uint32_t count) {
        reads.push_back(count);
        seen.push_back(progress);
    });
    std::vector<uint8_t> buffer(300000);
    EXPECT_EQ(reader->GetCamFile(0, buffer.data(), 300000, &progress, nullptr), 300000u);
    // The last three reads are the chunks; each sees the progress stored after the one before.
    ASSERT_GE(reads.size(), 3u);
    EXPECT_EQ(std::vector<uint32_t>(reads.end() - 3, reads.end()), (std::vector<uint32_t>{131072, 131072, 37856}));
    EXPECT_NEAR(seen[seen.size() - 2], 0.436907, 5e-7);
    EXPECT_NEAR(seen[seen.size() - 1], 0.873813, 5e-7);
    EXPECT_EQ(progress, 1.0);

    uint8_t cancel = 0;
    auto cancelled = MemoryReader(bytes, [&](uint64_t, uint32_t count) {
        if (count == 131072)
            cancel = 1;
    });
    EXPECT_EQ(cancelled->GetCamFile(0, buffer.data(), 300000, nullptr, &cancel), 0u);
}

TEST_F(RawTest, ImageInfoMapsFormatsToPixmapTypes)
{
    KQrlbImageReader reader(Mem(BuildFile(kzrsynth::EdgeCaseLayout(1)).bytes));
    // Reader order: "IMAG" sections (nested ones first), then "IMA2".
    const struct {
        int columns, rows, pixmapType;
        uint32_t imageType;
    } expected[] = {{10, 4, 16, 3}, {10, 4, 15, 1}, {10, 4, 15, 0}, {10, 4, 16, 3},
                    {24, 6, 7, 2},  {32, 3, 7, 2},  {7, 5, 7, 2},   {6, 3, 10, 2}};
    for (int i = 0; i < 8; ++i) {
        KQrlbSize size;
        int type = 0;
        KUInt32 imageType = 0;
        reader.GetImageInfo(i, size, type, imageType);
        EXPECT_EQ(size.columns, expected[i].columns) << i;
        EXPECT_EQ(size.rows, expected[i].rows) << i;
        EXPECT_EQ(type, expected[i].pixmapType) << i;
        EXPECT_EQ(imageType, expected[i].imageType) << i;
    }
    for (uint32_t format : {7u, 8u, 9u, 10u, 12u, 0xFFFFFFFFu})
        ExpectThrowText<KExceptionUnknownPixelType>([&] { MapQrlbPixelFormatToKPixmapType(format); },
                                                    "MapQrlbPixelFormatToKPixmapType()");
    KQrlbImageReader seven(Mem(Damaged(Negative::Format7)));
    KQrlbSize size;
    int type = 0;
    KUInt32 imageType = 0;
    ExpectThrowText<KExceptionUnknownPixelType>([&] { seven.GetImageInfo(0, size, type, imageType); },
                                                "MapQrlbPixelFormatToKPixmapType()");
}

TEST_F(RawTest, SectionsThatDoNotFitAreRefusedBeforeAnythingIsAllocated)
{
    KQrlbSize size;
    int type = 0;
    KUInt32 imageType = 0;
    const struct {
        Negative kind;
        std::string piece;
    } cases[] = {
        {Negative::ShortSection, "is 20 bytes long, shorter than its 28-byte header"},
        {Negative::SectionPastEnd, "runs past the end of the file"},
        {Negative::RowSizeTooSmall, "row size 68 is too small for 16 columns of data format 4 (72 bytes needed)"},
    };
    for (const auto& c : cases) {
        KQrlbImageReader reader(Mem(Damaged(c.kind)));
        ExpectThrowContaining<KExceptionQrlbReader>([&] { reader.GetImageInfo(0, size, type, imageType); },
                                                    c.piece);
    }
    // A huge image claimed by a small section.
    kzrsynth::BuiltFile f = BuildFile(SmallLayout());
    const uint64_t at = f.FindSection(kTypeImag)->offset;
    const struct {
        uint32_t columns, rows, rowSize;
        std::string piece;
    } sizes[] = {{70000, 8, 0, "larger than 65536 pixels a side"},
                 {65500, 65500, 0, "too small for its code tables and 65500 row offsets"},
                 {65536, 65536, 393216, "too small for 65536 rows"},
                 {0x80000000u, 1, 0, "larger than"}};
    for (const auto& s : sizes) {
        std::vector<uint8_t> bytes = f.bytes;
        WriteLE32(bytes.data() + at + 16, s.columns);
        WriteLE32(bytes.data() + at + 20, s.rows);
        WriteLE32(bytes.data() + at + 24, s.rowSize);
        WriteLE32(bytes.data() + at + 12, s.rowSize ? kFormatPacked12 : kFormatHuffman8);
        KQrlbImageReader reader(Mem(bytes));
        ExpectThrowContaining<KExceptionQrlbReader>([&] { reader.GetImageInfo(0, size, type, imageType); },
                                                    s.piece);
    }
}

}  // namespace
