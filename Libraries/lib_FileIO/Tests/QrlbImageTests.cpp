// Decoding of raw container images: every data format against the generator's exact decode, the edge cases
// of the row layouts, progress and cancel, and damaged image data.
#include <thread>

#include "KHuffmanDecoder.h"
#include "KPixmapExceptions.h"
#include "KQrlbFormat.h"
#include "KRowBands.h"
#include "KzrNegative.h"
#include "KzrScene.h"
#include "KzrStandard.h"
#include "QrlbTestSupport.h"

using namespace KQrlb;
using kzrsynth::BuildFile;
using kzrsynth::FileLayout;
using kzrsynth::ImageLayout;
using kzrsynth::Plane;

namespace {

// A file holding one image.
FileLayout OneImage(uint32_t format, Plane plane, uint32_t imageType = kImageRaw)
{
    FileLayout layout;
    ImageLayout im;
    im.format = format;
    im.imageType = imageType;
    im.plane = std::move(plane);
    layout.images.push_back(std::move(im));
    return layout;
}

// Content fitting a format: the scene's raw frame, its dark-subtracted frame or its preview.
Plane Content(uint32_t format, int width, int height, uint32_t seed)
{
    kzrsynth::SceneParams p;
    p.width = width;
    p.height = height;
    p.seed = seed;
    switch (format) {
    case kFormatDelta10:
    case kFormatHuffman10:
        return kzrsynth::Subtract(kzrsynth::RenderRaw(p), kzrsynth::RenderDark(p));
    case kFormat24:
    case kFormatHuffman8:
        return kzrsynth::RenderPreview(p, width, height);
    case kFormat30: {
        Plane q = kzrsynth::RenderPreview(p, width, height);
        for (int32_t& s : q.samples)
            s = s * 8 + 3;
        return q;
    }
    default:
        return kzrsynth::RenderRaw(p);
    }
}

struct FormatCase {
    uint32_t format;
    int width, height;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << "format " << c.format << ", " << c.width << "x" << c.height; }

class FormatRoundTrip : public RawTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(FormatRoundTrip, DecodesExactlyWhatTheGeneratorExpects)
{
    const FormatCase c = GetParam();
    const kzrsynth::BuiltFile f = BuildFile(OneImage(c.format, Content(c.format, c.width, c.height, 3)));
    ASSERT_TRUE(f.images[0].decodable);
    KQrlbImageReader reader(Mem(f.bytes));
    EXPECT_EQ(DecodeImage(reader, 0), f.images[0].expected.pixels);
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatRoundTrip,
                         ::testing::Values(FormatCase{0, 13, 5}, FormatCase{1, 9, 4}, FormatCase{3, 7, 6},
                                           FormatCase{4, 64, 9}, FormatCase{4, 10, 3}, FormatCase{4, 7, 2},
                                           FormatCase{5, 33, 7}, FormatCase{6, 48, 12}, FormatCase{6, 1, 1},
                                           FormatCase{11, 40, 8}, FormatCase{11, 1, 3}, FormatCase{6, 0, 4},
                                           FormatCase{11, 5, 0}),
                         [](const ::testing::TestParamInfo<FormatCase>& info) {
                             return "format" + std::to_string(info.param.format) + "_" +
                                    std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
                         });

TEST_F(RawTest, EdgeCaseFileDecodesExactly)
{
    const kzrsynth::BuiltFile f = BuildFile(kzrsynth::EdgeCaseLayout(9));
    KQrlbImageReader reader(Mem(f.bytes));
    ASSERT_EQ(reader.GetNumImages(), 8);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(DecodeImage(reader, i), f.ReaderImage(size_t(i))->expected.pixels) << "image " << i;

    // The file holds the cases it promises.
    bool wordAligned = false, wrapped = false;
    int longest5 = 0;
    for (const kzrsynth::EncodedImage& im : f.images) {
        for (uint64_t bits : im.rowBits)
            wordAligned |= bits > 0 && bits % 32 == 0;
        if (im.expected.format == kFormatHuffman8 && im.longestCode == 5)
            ++longest5;
        if (im.expected.pixmapType == 16)
            for (size_t i = 0; i + 1 < im.expected.pixels.size(); i += 2)
                wrapped |= static_cast<int16_t>(ReadLE16(im.expected.pixels.data() + i)) < -20000;
    }
    EXPECT_TRUE(wordAligned);
    EXPECT_TRUE(wrapped);
    EXPECT_EQ(longest5, 1);
    // A table whose longest code is 5 bits is looked up through a first level of 2 bits.
    const kzrsynth::EncodedImage& skewed = *f.ReaderImage(4);
    ASSERT_EQ(skewed.longestCode, 5);
    KHuffmanDecoder d(8);
    std::vector<uint32_t> table(256);
    for (size_t s = 0; s < 256; ++s)
        table[s] = ReadLE32(skewed.data.data() + 4 * s);
    d.BeginDecode();
    d.SetTable(table.data(), 256);
    uint32_t position = 0, produced = 0;
    uint16_t out[4];
    d.Decode(skewed.data.data() + 1024, 4, position, out, 1, produced);
    EXPECT_EQ(d.GetFirstLevelBits(), 2);
}

TEST_F(RawTest, PackedTwelveBitRowsClearThePixelsOfTheLastPartGroup)
{
    Plane plane(10, 2);
    for (size_t i = 0; i < plane.samples.size(); ++i)
        plane.samples[i] = static_cast<int32_t>(i * 97 % 4096);
    const kzrsynth::BuiltFile f = BuildFile(OneImage(kFormatPacked12, plane));
    KQrlbImageReader reader(Mem(f.bytes));
    OwnedPixmap p(15, 10, 2, 0xAB);
    ASSERT_TRUE(reader.GetImage(0, p.pixmap, nullptr, nullptr));
    for (int y = 0; y < 2; ++y) {
        const std::vector<uint8_t> row = p.Row(y);
        for (int x = 0; x < 10; ++x)
            for (int c = 0; c < 3; ++c) {
                const uint16_t v = ReadLE16(row.data() + (x * 3 + c) * 2);
                // The last columns mod 8 pixels have no samples: 0, never what the buffer held.
                EXPECT_EQ(v, x < 8 ? plane.At(x, y, c) : 0) << x << "," << y;
            }
    }
}

TEST_F(RawTest, DeltaCodeWordsAddTableEntriesPerChannel)
{
    // Targets 5, 5, 5 with table entry 1 = 5: the word holds code 1 three times, 0x00100401.
    Plane plane(1, 1, 5);
    FileLayout layout = OneImage(kFormatDelta10, plane, kImageDarkSubtracted);
    layout.images[0].deltaTable.assign(1024, 0);
    layout.images[0].deltaTable[1] = 5;
    const kzrsynth::BuiltFile f = BuildFile(layout);
    EXPECT_EQ(ReadLE32(f.images[0].data.data() + 2048), 0x00100401u);
    KQrlbImageReader reader(Mem(f.bytes));
    const std::vector<uint8_t> px = DecodeImage(reader, 0);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(ReadLE16(px.data() + 2 * c), 5);
}

TEST_F(RawTest, EightBitDeltasWrapModulo256)
{
    // Channel 0 symbols 200 and 100 give samples 200 and 44.
    Plane plane(2, 1);
    plane.At(0, 0, 0) = 200;
    plane.At(1, 0, 0) = 44;
    const kzrsynth::BuiltFile f = BuildFile(OneImage(kFormatHuffman8, plane, kImageViewable));
    KQrlbImageReader reader(Mem(f.bytes));
    const std::vector<uint8_t> px = DecodeImage(reader, 0);
    EXPECT_EQ(px[0], 200);
    EXPECT_EQ(px[3], 44);
}

TEST_F(RawTest, RunningSumsPastInt16WrapToNegativeSamples)
{
    for (uint32_t format : {kFormatDelta10, kFormatHuffman10}) {
        Plane plane(4, 2);
        for (int x = 0; x < 4; ++x)
            plane.At(x, 0, 1) = 20000 + x * 10000;  // 20000, 30000, 40000, 50000
        const kzrsynth::BuiltFile f = BuildFile(OneImage(format, plane, kImageDarkSubtracted));
        KQrlbImageReader reader(Mem(f.bytes));
        const std::vector<uint8_t> px = DecodeImage(reader, 0);
        EXPECT_EQ(px, f.images[0].expected.pixels);
        EXPECT_LT(static_cast<int16_t>(ReadLE16(px.data() + (3 * 3 + 1) * 2)), 0) << format;
    }
}

// Offsets in the file of the start of each row's bytes of the only image of a file.
std::vector<uint64_t> RowStarts(const kzrsynth::BuiltFile& f)
{
    const kzrsynth::SectionInfo* s = f.FindSection(kTypeImag);
    const kzrsynth::EncodedImage& im = f.images[0];
    const uint64_t data = s->offset + kImageHeaderSize;
    std::vector<uint64_t> starts;
    const int rows = im.expected.height;
    if (im.rowSize) {
        const uint64_t table = im.expected.format == kFormatDelta10 ? 2048 : 0;
        for (int r = 0; r < rows; ++r)
            starts.push_back(data + table + uint64_t(r) * im.rowSize);
    } else {
        const uint64_t coded = data + (im.expected.format == kFormatHuffman10 ? 6144 : 1024);
        for (int r = 0; r < rows; ++r)
            starts.push_back(coded + ReadLE32(im.data.data() + im.data.size() - 4 * rows + 4 * r));
    }
    return starts;
}

TEST_F(RawTest, ProgressIsStoredAfterEveryRow)
{
    for (uint32_t format : {kFormatPacked12, kFormat48, kFormatHuffman10, kFormatHuffman8}) {
        const kzrsynth::BuiltFile f = BuildFile(OneImage(format, Content(format, 16, 4, 1)));
        const std::vector<uint64_t> starts = RowStarts(f);
        double progress = -1;
        std::vector<double> seen;
        auto reader = MemoryReader(f.bytes, [&](uint64_t position, uint32_t) {
            if (std::find(starts.begin() + 1, starts.end(), position) != starts.end())
                seen.push_back(progress);
        });
        OwnedPixmap p(MapQrlbPixelFormatToKPixmapType(format), 16, 4);
        ASSERT_TRUE(reader->GetImage(0, p.pixmap, &progress, nullptr));
        seen.push_back(progress);
        EXPECT_EQ(seen, (std::vector<double>{0, 0.25, 0.5, 0.75})) << format;
    }
}

TEST_F(RawTest, TallImagesDecodeTheSameInBands)
{
    // Enough rows for several bands of the decode, with a row count that does not divide evenly.
    for (uint32_t format : {kFormatPacked12, kFormatDelta10, kFormat48, kFormat24, kFormatHuffman10, kFormatHuffman8}) {
        const kzrsynth::BuiltFile f = BuildFile(OneImage(format, Content(format, 24, 301, 3)));
        for (int threads : {1, 3, 8}) {
            KRowBands::SetThreadCount(threads);
            KQrlbImageReader reader(Mem(f.bytes));
            EXPECT_EQ(DecodeImage(reader, 0), f.images[0].expected.pixels) << format << " " << threads;
        }
        KRowBands::SetThreadCount(0);
        // A cancel seen before the decode stops every band.
        KRowBands::SetThreadCount(4);
        uint8_t cancel = 1;
        KQrlbImageReader reader(Mem(f.bytes));
        OwnedPixmap p(MapQrlbPixelFormatToKPixmapType(format), 24, 301);
        EXPECT_FALSE(reader.GetImage(0, p.pixmap, nullptr, &cancel)) << format;
        KRowBands::SetThreadCount(0);
    }
}

TEST_F(RawTest, RowsOnDemandComeOutAsTheWholeDecode)
{
    // Rows read in uneven pieces, from several threads at once, equal the whole image's decode.
    for (uint32_t format : {kFormatPacked12, kFormatDelta10, kFormat48, kFormat24, kFormatHuffman10, kFormatHuffman8}) {
        const kzrsynth::BuiltFile f = BuildFile(OneImage(format, Content(format, 21, 103, 5)));
        KQrlbImageReader reader(Mem(f.bytes));
        const std::unique_ptr<KQrlbImageRows> rows = reader.OpenImageRows(0);
        ASSERT_EQ(rows->GetWidth(), 21);
        ASSERT_EQ(rows->GetHeight(), 103);
        const int type = rows->GetPixelType();
        ASSERT_EQ(type, MapQrlbPixelFormatToKPixmapType(format));
        const std::vector<uint8_t>& expected = f.images[0].expected.pixels;
        const size_t rowBytes = expected.size() / 103;
        std::vector<uint8_t> got(expected.size());
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t)
            threads.emplace_back([&, t] {
                for (int first = t * 7; first < 103; first += 21) {
                    const int count = std::min(7, 103 - first);
                    OwnedPixmap p(type, 21, count, 0xA5);
                    rows->ReadRows(first, count, p.pixmap);
                    const std::vector<uint8_t> tight = p.Tight();
                    std::copy(tight.begin(), tight.end(), got.begin() + static_cast<long>(first * rowBytes));
                }
            });
        for (std::thread& t : threads)
            t.join();
        EXPECT_EQ(got, expected) << format;

        OwnedPixmap p(type, 21, 4);
        EXPECT_THROW(rows->ReadRows(100, 4, p.pixmap), KExceptionQrlbReader) << format;
        EXPECT_THROW(rows->ReadRows(-1, 2, p.pixmap), KExceptionQrlbReader) << format;
        OwnedPixmap narrow(type, 20, 4);
        EXPECT_THROW(rows->ReadRows(0, 4, narrow.pixmap), KExceptionQrlbReader) << format;
        rows->ReadRows(103, 0, p.pixmap);  // no rows: nothing read
    }
    // Formats that the whole decode refuses are refused when opened.
    kzrsynth::NegativeCase two;
    two.kind = kzrsynth::Negative::Format2;
    KQrlbImageReader reader(Mem(kzrsynth::BuildNegative(OneImage(kFormat48, Content(0, 8, 3, 1)), two).bytes));
    EXPECT_THROW(reader.OpenImageRows(0), KExceptionQrlbReader);
    kzrsynth::BuiltFile f = BuildFile(OneImage(kFormat48, Content(0, 8, 3, 1)));
    WriteLE32(f.bytes.data() + f.FindSection(kTypeImag)->offset + 24, 0);
    KQrlbImageReader variable(Mem(f.bytes));
    EXPECT_THROW(variable.OpenImageRows(0), KExceptionQrlbReader);
}

TEST_F(RawTest, CancelWhileRowThreeIsReadStopsAfterIt)
{
    for (uint32_t format : {kFormatDelta10, kFormatHuffman8}) {
        const kzrsynth::BuiltFile f = BuildFile(OneImage(format, Content(format, 8, 10, 2)));
        const std::vector<uint64_t> starts = RowStarts(f);
        uint8_t cancel = 0;
        int rowsRead = 0;
        auto reader = MemoryReader(f.bytes, [&](uint64_t position, uint32_t) {
            if (std::find(starts.begin(), starts.end(), position) != starts.end())
                ++rowsRead;
            if (position == starts[3])
                cancel = 1;
        });
        const int type = MapQrlbPixelFormatToKPixmapType(format);
        OwnedPixmap p(type, 8, 10, 0xEE);
        EXPECT_FALSE(reader->GetImage(0, p.pixmap, nullptr, &cancel));
        EXPECT_EQ(rowsRead, 4);
        const int bpp = KPixelTypeBytes(type);
        const std::vector<uint8_t>& want = f.images[0].expected.pixels;
        EXPECT_EQ(p.Row(3), std::vector<uint8_t>(want.begin() + 3 * 8 * bpp, want.begin() + 4 * 8 * bpp));
        EXPECT_EQ(p.Row(4), std::vector<uint8_t>(size_t(8 * bpp), 0xEE));
    }
}

TEST_F(RawTest, PixmapsThatDoNotFitAreRefused)
{
    const kzrsynth::BuiltFile f = BuildFile(OneImage(kFormat48, Content(kFormat48, 8, 4, 1)));
    KQrlbImageReader reader(Mem(f.bytes));
    const std::string small = "GetImage() : pixmap too small to receive image";
    ExpectThrowText<KExceptionQrlbReader>([&] { reader.GetImage(0, OwnedPixmap(15, 7, 4).pixmap, nullptr, nullptr); },
                                          small);
    ExpectThrowText<KExceptionQrlbReader>([&] { reader.GetImage(0, OwnedPixmap(15, 8, 3).pixmap, nullptr, nullptr); },
                                          small);
    ExpectThrowText<KExceptionQrlbReader>([&] { reader.GetImage(0, OwnedPixmap(16, 8, 4).pixmap, nullptr, nullptr); },
                                          "GetImage() : pixmap has incompatible pixel type");
    // Rows stored 8 bytes longer than the pixels need do not fit a pixmap whose rows are exactly that long.
    FileLayout padded = OneImage(kFormat48, Content(kFormat48, 8, 4, 1));
    padded.images[0].rowSize = 8 * 6 + 8;
    KQrlbImageReader paddedReader(Mem(BuildFile(padded).bytes));
    ExpectThrowText<KExceptionQrlbReader>(
        [&] { paddedReader.GetImage(0, OwnedPixmap(15, 8, 4).pixmap, nullptr, nullptr); },
        "ReadImageFixedLineLength() : pixmap's rows are too small for qrlb rows");
    EXPECT_TRUE(paddedReader.GetImage(0, OwnedPixmap(15, 8, 4, 0, 56).pixmap, nullptr, nullptr));
}

TEST_F(RawTest, AnImageWithoutRowsReadsNothingWhateverItsRowSize)
{
    // Found by fuzzing: no rows and a row size of 4 GB must not size a line buffer.
    for (uint32_t format : {kFormatPacked12, kFormatDelta10}) {
        kzrsynth::BuiltFile f = BuildFile(OneImage(format, Content(format, 16, 2, 1)));
        const uint64_t at = f.FindSection(kTypeImag)->offset;
        WriteLE32(f.bytes.data() + at + 20, 0);
        WriteLE32(f.bytes.data() + at + 24, 0xFFFFFFFFu);
        KQrlbImageReader reader(Mem(f.bytes));
        EXPECT_TRUE(reader.GetImage(0, OwnedPixmap(MapQrlbPixelFormatToKPixmapType(format), 16, 1).pixmap, nullptr,
                                    nullptr));
    }
}

TEST_F(RawTest, UnreadableFormatsGiveTheirTexts)
{
    kzrsynth::NegativeCase two;
    two.kind = kzrsynth::Negative::Format2;
    KQrlbImageReader reader(Mem(kzrsynth::BuildNegative(OneImage(kFormat48, Content(0, 8, 3, 1)), two).bytes));
    ExpectThrowText<KExceptionQrlbReader>(
        [&] { reader.GetImage(0, OwnedPixmap(15, 8, 3).pixmap, nullptr, nullptr); },
        "ReadImageFixedLineLength() : resampling RGB32_10_2bpp pixels not supported yet.");
    // Rows of variable length in a format that has no Huffman coding.
    kzrsynth::BuiltFile f = BuildFile(OneImage(kFormat48, Content(0, 8, 3, 1)));
    WriteLE32(f.bytes.data() + f.FindSection(kTypeImag)->offset + 24, 0);
    KQrlbImageReader variable(Mem(f.bytes));
    ExpectThrowText<KExceptionQrlbReader>(
        [&] { variable.GetImage(0, OwnedPixmap(15, 8, 3).pixmap, nullptr, nullptr); },
        "ReadImageVariableLineLength: variable line length image type is not HUFFMAN!");
}

TEST_F(RawTest, DamagedHuffmanImagesEndInExceptions)
{
    const kzrsynth::BuiltFile f = BuildFile(OneImage(kFormatHuffman10, Content(kFormatHuffman10, 16, 6, 4)));
    const uint64_t data = f.FindSection(kTypeImag)->offset + kImageHeaderSize;
    const uint64_t table = data + f.images[0].data.size() - 6 * 4;
    auto read = [&](const std::vector<uint8_t>& bytes) {
        KQrlbImageReader reader(Mem(bytes));
        reader.GetImage(0, OwnedPixmap(16, 16, 6).pixmap, nullptr, nullptr);
    };
    std::vector<uint8_t> bytes = f.bytes;
    WriteLE32(bytes.data() + table + 8, ReadLE32(bytes.data() + table + 4));  // row 1 has no bytes
    ExpectThrowContaining<KExceptionQrlbReader>([&] { read(bytes); }, "row offsets do not increase: row 1");
    WriteLE32(bytes.data() + table + 8, ReadLE32(bytes.data() + table + 4) - 4);  // row 2 starts inside row 0
    ExpectThrowContaining<KExceptionQrlbReader>([&] { read(bytes); }, "row offsets do not increase: row 1");

    bytes = f.bytes;
    WriteLE32(bytes.data() + table + 4, 0x7FFFFFF0u);
    ExpectThrowContaining<KExceptionQrlbReader>([&] { read(bytes); }, "row offset 2147483632 of row 1 lies beyond");

    // Row 0 not at the start of the coded rows: the reader's own check, an assertion naming its module.
    bytes = f.bytes;
    WriteLE32(bytes.data() + table, 4);
    ExpectThrowContaining<KException>([&] { read(bytes); }, "Libraries\\lib_FileIO\\Src\\QrlbImageIO");
    ExpectThrowContaining<KException>([&] { read(bytes); }, "(uiFilePosNow-uiFilePosHuffDat) == pRowPtrTable[row]");

    // Row 0's code bits replaced by ones: it decodes to other symbols (or runs out of them), and nothing is
    // read outside the row.
    bytes = f.bytes;
    const uint64_t coded = data + 6144;
    for (uint64_t i = coded; i < coded + ReadLE32(bytes.data() + table + 4); ++i)
        bytes[i] = 0xFF;
    try {
        read(bytes);
    } catch (const KException&) {
    }

    // Coded rows whose size is not a multiple of 4.
    kzrsynth::FileLayout layout = OneImage(kFormatHuffman8, Content(kFormatHuffman8, 8, 2, 1), kImageViewable);
    kzrsynth::BuiltFile odd = BuildFile(layout);
    const kzrsynth::SectionInfo* s = odd.FindSection(kTypeImag);
    std::vector<uint8_t> b = odd.bytes;
    b.insert(b.begin() + long(s->offset + s->length), 0);  // one more byte in the section, before the directory
    WriteLE32(b.data() + odd.directories[0] + 1 + kDirHeaderSize + 4, static_cast<uint32_t>(s->length + 1));
    WriteLE32(b.data() + b.size() - 4, static_cast<uint32_t>(odd.directories[0] + 1));
    KQrlbImageReader reader(Mem(b));
    ExpectThrowContaining<KException>(
        [&] { reader.GetImage(0, OwnedPixmap(7, 8, 2).pixmap, nullptr, nullptr); }, "(uiSizeHuffData&3) == 0");
}

// Every prefix of a small file: whatever the reader is asked, it answers or throws one of its exceptions.
void ReadEverything(KQrlbImageReader& reader)
{
    KPropTree tree(nullptr, "p");
    reader.GetProperties(&tree);
    for (int i = 0; i < reader.GetNumCamFiles(); ++i) {
        KUInt32 size = 0, type = 0;
        reader.GetCamFileInfo(i, size, type);
        std::vector<uint8_t> buffer(size);
        reader.GetCamFile(i, buffer.data(), size, nullptr, nullptr);
    }
    for (int i = 0; i < reader.GetNumImages(); ++i) {
        KQrlbSize size;
        int type = 0;
        KUInt32 imageType = 0;
        reader.GetImageInfo(i, size, type, imageType);
        OwnedPixmap p(type, size.columns, size.rows);
        reader.GetImage(i, p.pixmap, nullptr, nullptr);
    }
}

TEST_F(RawTest, EveryTruncationEndsInAnException)
{
    kzrsynth::FileLayout layout = kzrsynth::EdgeCaseLayout(5);
    const std::vector<uint8_t> whole = BuildFile(layout).bytes;
    {
        KQrlbImageReader reader(Mem(whole));
        ReadEverything(reader);
    }
    for (size_t n = 0; n < whole.size(); ++n) {
        try {
            ReadEverything(*MemoryReader(std::vector<uint8_t>(whole.begin(), whole.begin() + long(n))));
            ADD_FAILURE() << "a file cut to " << n << " bytes read without complaint";
        } catch (const KException&) {
        }
    }
}

TEST_F(RawTest, CorruptedBytesEndInAnswersOrExceptions)
{
    const std::vector<uint8_t> whole = BuildFile(kzrsynth::EdgeCaseLayout(6)).bytes;
    uint32_t state = 12345;
    for (int round = 0; round < 400; ++round) {
        std::vector<uint8_t> bytes = whole;
        for (int k = 0; k < 1 + round % 6; ++k) {
            state = state * 1664525u + 1013904223u;
            const size_t at = state % bytes.size();
            bytes[at] = static_cast<uint8_t>(state >> 24);
        }
        try {
            ReadEverything(*MemoryReader(bytes));
        } catch (const KException&) {
        }
    }
}

}  // namespace
