// The generator's own promises: deterministic output, distinct identifiers, the scene's features, valid
// codes, and the negative cases by name.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "KPixelTypes.h"
#include "KzrBitWriter.h"
#include "KzrHuffmanBuilder.h"
#include "KzrNegative.h"
#include "KzrPpm.h"
#include "KzrScene.h"
#include "KzrStandard.h"
#include "LumoTestSupport.h"

using namespace kzrsynth;

namespace {

StandardOptions Small(uint32_t seed = 1)
{
    StandardOptions o;
    o.width = 48;
    o.height = 32;
    o.seed = seed;
    return o;
}

TEST(Generator, SameOptionsGiveTheSameBytes)
{
    EXPECT_EQ(BuildFile(StandardLayout(Small())).bytes, BuildFile(StandardLayout(Small())).bytes);
    EXPECT_EQ(BuildFile(EdgeCaseLayout(3)).bytes, BuildFile(EdgeCaseLayout(3)).bytes);
}

TEST(Generator, IdentifiersDifferWithTheContent)
{
    StandardOptions other = Small();
    other.previewFormat = 3;
    const auto a = BuildFile(StandardLayout(Small(1))).identifier;
    EXPECT_NE(a, BuildFile(StandardLayout(Small(2))).identifier);
    EXPECT_NE(a, BuildFile(StandardLayout(other)).identifier);
    FileLayout given = StandardLayout(Small());
    given.identifierGiven = true;
    given.identifier.fill(0x42);
    EXPECT_EQ(BuildFile(given).identifier, given.identifier);
}

TEST(Generator, FileHoldsTheImagesTheOptionsAskFor)
{
    const struct {
        int raw, subtracted, preview;
        std::vector<std::pair<uint32_t, uint32_t>> images;  // image type, format
    } cases[] = {
        {-1, -1, 11, {{1, 4}, {0, 4}, {2, 11}}},
        {0, -1, 3, {{1, 0}, {0, 4}, {2, 3}}},
        {-1, 6, 11, {{3, 6}, {2, 11}}},
        {4, 5, -1, {{1, 4}, {0, 4}, {3, 5}}},
    };
    for (const auto& c : cases) {
        StandardOptions o = Small();
        o.rawFormat = c.raw;
        o.subtractedFormat = c.subtracted;
        o.previewFormat = c.preview;
        const FileLayout layout = StandardLayout(o);
        std::vector<std::pair<uint32_t, uint32_t>> got;
        for (const ImageLayout& im : layout.images)
            got.emplace_back(im.imageType, im.format);
        EXPECT_EQ(got, c.images);
    }
}

TEST(Generator, SceneHasAClippedHighlightHotPixelsAndAColumnPattern)
{
    SceneParams p;
    p.width = 200;
    p.height = 120;
    const Plane dark = RenderDark(p), raw = RenderRaw(p);
    EXPECT_NE(std::find(raw.samples.begin(), raw.samples.end(), 4095), raw.samples.end());
    for (const HotPixel& h : HotPixels(p))
        for (int c = 0; c < 3; ++c)
            EXPECT_GT(dark.At(h.x, h.y, c), p.darkLevel[c] + 500);
    EXPECT_EQ(HotPixels(p).size(), 2u);
    // The column pattern: column means of the dark frame spread wider than its noise averages out.
    int lowest = 1 << 30, highest = 0;
    for (int x = 0; x < p.width; ++x) {
        int sum = 0;
        for (int y = 0; y < p.height; ++y)
            sum += std::min(dark.At(x, y, 1), 1000);
        lowest = std::min(lowest, sum / p.height);
        highest = std::max(highest, sum / p.height);
    }
    EXPECT_GE(highest - lowest, 8);
    // The grey ramp rises from left to right; every sample is a 12-bit value.
    EXPECT_LT(raw.At(10, 5, 1) + 500, raw.At(190, 5, 1));
    for (int32_t s : raw.samples)
        ASSERT_TRUE(s >= 0 && s <= 4095);
}

TEST(Generator, HuffmanCodesAreCompletePrefixCodesWithinTheLimit)
{
    const std::vector<std::vector<uint64_t>> counts = {
        {5},  {0, 0, 7, 0}, {1, 1}, {1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096, 8192, 16384, 32768, 65536,
                                     131072, 262144, 524288},
    };
    for (const auto& c : counts) {
        for (int limit : {5, 16}) {
            const HuffmanCode code = CanonicalCode(HuffmanLengths(c, limit));
            double kraft = 0;
            int used = 0;
            for (size_t s = 0; s < c.size(); ++s) {
                EXPECT_EQ(code.lengths[s] > 0, c[s] > 0);
                EXPECT_LE(code.lengths[s], limit);
                if (code.lengths[s]) {
                    kraft += 1.0 / double(uint64_t(1) << code.lengths[s]);
                    ++used;
                }
            }
            EXPECT_DOUBLE_EQ(kraft, used == 1 ? 0.5 : 1.0);
            // No code is a prefix of another.
            for (size_t a = 0; a < c.size(); ++a)
                for (size_t b = 0; b < c.size(); ++b)
                    if (a != b && code.lengths[a] && code.lengths[a] <= code.lengths[b]) {
                        EXPECT_NE(code.codes[b] >> (code.lengths[b] - code.lengths[a]), code.codes[a]);
                    }
        }
    }
    EXPECT_EQ(CanonicalCode(HuffmanLengths(counts[3], 5)).longest, 5);
}

TEST(Generator, BitWriterPutsTheMostSignificantBitFirst)
{
    std::vector<uint8_t> bytes;
    BitWriter w(bytes);
    w.Put(0b101, 3);
    w.Put(0b11110000, 8);
    w.PadTo(0, 4);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0b10111110, 0b00000000, 0, 0}));
    EXPECT_EQ(w.BitCount(), 16u);
}

TEST(Generator, NegativeCasesByName)
{
    NegativeCase c;
    for (const std::string& name : NegativeNames())
        if (name != "truncate:N") {
            EXPECT_TRUE(ParseNegative(name, c)) << name;
        }
    EXPECT_TRUE(ParseNegative("truncate:1234", c));
    EXPECT_EQ(c.kind, Negative::Truncate);
    EXPECT_EQ(c.truncateAt, 1234u);
    for (const char* bad : {"truncate:", "truncate:x", "bad", "format-3"})
        EXPECT_FALSE(ParseNegative(bad, c)) << bad;
    EXPECT_EQ(BuildNegative(StandardLayout(Small()), c = NegativeCase{Negative::Truncate, 10}).bytes.size(), 10u);
}

TEST(Generator, PpmHeadersFollowThePixelType)
{
    ExpectedImage im;
    im.width = 2;
    im.height = 1;
    const struct {
        int type;
        const char* header;
        size_t body;
    } cases[] = {{7, "P6\n2 1\n255\n", 6}, {15, "P6\n2 1\n65535\n", 12}, {16, "P6\n2 1\n65535\n", 12},
                 {10, "P6\n2 1\n2047\n", 12}};
    for (const auto& c : cases) {
        im.pixmapType = c.type;
        im.pixels.assign(size_t(2 * KPixelTypeBytes(c.type)), 0xFF);
        const std::vector<uint8_t> ppm = PpmBytes(im);
        const std::string header(c.header);
        EXPECT_EQ(std::string(ppm.begin(), ppm.begin() + long(header.size())), header);
        EXPECT_EQ(ppm.size(), header.size() + c.body);
    }
    im.pixmapType = 13;
    EXPECT_THROW(PpmBytes(im), std::invalid_argument);
}

TEST(Generator, FilesAreWrittenWholeOrNotAtAll)
{
    lumotest::TempDir dir;
    const std::string path = (dir / "a.kzr").string();
    WriteFileAtomically(path, {1, 2, 3});
    WriteFileAtomically(path, {4, 5});
    EXPECT_EQ(lumotest::ReadBytes(path), (std::vector<uint8_t>{4, 5}));
    EXPECT_THROW(WriteFileAtomically((dir / "missing" / "b.kzr").string(), {1}), std::runtime_error);
    size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path()))
        ++files;
    EXPECT_EQ(files, 1u);
}

}  // namespace
