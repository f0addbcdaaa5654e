#include <gtest/gtest.h>

#include <random>

#include "KHuffmanDecoder.h"
#include "KzrBitWriter.h"
#include "KzrHuffmanBuilder.h"

namespace {

std::vector<uint8_t> EncodeSymbols(const kzrsynth::HuffmanCode& code, const std::vector<uint16_t>& symbols)
{
    std::vector<uint8_t> bytes;
    kzrsynth::BitWriter bits(bytes);
    for (uint16_t s : symbols)
        bits.Put(code.codes[s], code.lengths[s]);
    bits.PadTo(0, 4);
    return bytes;
}

// Decodes one row as the image reader does: with the row's bytes, then without data for the rest.
std::vector<uint16_t> DecodeRow(KHuffmanDecoder& d, const std::vector<uint8_t>& row, uint32_t wanted,
                                uint32_t* firstCall = nullptr)
{
    std::vector<uint16_t> out(wanted + 1, 0xFFFF);
    uint32_t position = 0, produced = 0, more = 0;
    d.Decode(row.data(), static_cast<uint32_t>(row.size()), position, out.data(), wanted, produced);
    if (firstCall)
        *firstCall = produced;
    if (produced < wanted) {
        d.Decode(nullptr, 0, position, out.data() + produced, wanted - produced, more);
        produced += more;
    }
    d.DecodeFlush();
    out.resize(produced);
    return out;
}

KHuffmanDecoder MakeDecoder(int bits, const kzrsynth::HuffmanCode& code)
{
    KHuffmanDecoder d(bits);
    d.BeginDecode();
    const std::vector<uint32_t> entries = code.TableEntries();
    d.SetTable(entries.data(), static_cast<uint32_t>(entries.size()));
    return d;
}

struct RoundTripCase {
    int bits;
    int maxLength;
    double skew;  // geometric parameter of the symbol distribution; 0 = uniform
    int rowSymbols;
};

void PrintTo(const RoundTripCase& c, std::ostream* os)
{
    *os << c.bits << "-bit symbols, codes up to " << c.maxLength << ", " << c.rowSymbols << " a row";
}

class HuffmanRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(HuffmanRoundTrip, RowsDecodeToTheSymbolsEncoded)
{
    const RoundTripCase c = GetParam();
    const size_t n = size_t(1) << c.bits;
    std::mt19937 rng(c.bits * 131 + c.maxLength);
    std::vector<std::vector<uint16_t>> rows(6);
    std::vector<uint64_t> counts(n, 0);
    for (auto& row : rows) {
        for (int i = 0; i < c.rowSymbols; ++i) {
            uint16_t s;
            if (c.skew > 0) {
                std::geometric_distribution<int> g(c.skew);
                s = static_cast<uint16_t>(std::min<size_t>(size_t(g(rng)), n - 1));
            } else {
                s = static_cast<uint16_t>(rng() % n);
            }
            row.push_back(s);
            ++counts[s];
        }
    }
    const kzrsynth::HuffmanCode code = kzrsynth::CanonicalCode(kzrsynth::HuffmanLengths(counts, c.maxLength));
    ASSERT_LE(code.longest, std::max(c.maxLength, c.bits));  // a limit below the bits is raised
    KHuffmanDecoder d = MakeDecoder(c.bits, code);
    for (const auto& row : rows)
        EXPECT_EQ(DecodeRow(d, EncodeSymbols(code, row), static_cast<uint32_t>(row.size())), row);
    EXPECT_EQ(d.GetFirstLevelBits(), std::max(1, code.longest / 2));
}

INSTANTIATE_TEST_SUITE_P(Tables, HuffmanRoundTrip,
                         ::testing::Values(RoundTripCase{8, 16, 0.0, 300},    // flat: about 8 bits each
                                           RoundTripCase{10, 16, 0.02, 999},  // DPCM-like skew, long codes
                                           RoundTripCase{10, 20, 0.3, 64},    // very skewed, codes up to 20 bits
                                           RoundTripCase{2, 16, 0.5, 17},     // the smallest symbol width
                                           RoundTripCase{16, 16, 0.0001, 500},
                                           RoundTripCase{8, 5, 0.5, 90},      // limited to 5 bits
                                           RoundTripCase{3, 1, 0.0, 40}),     // limit raised to fit 8 codes
                         [](const ::testing::TestParamInfo<RoundTripCase>& info) {
                             return "bits" + std::to_string(info.param.bits) + "_max" +
                                    std::to_string(info.param.maxLength) + "_n" +
                                    std::to_string(info.param.rowSymbols);
                         });

TEST(HuffmanDecoder, SymbolWidthOutsideTwoToSixteenIsRefused)
{
    for (int bits : {-1, 0, 1, 17, 32}) {
        try {
            KHuffmanDecoder d(bits);
            FAIL() << bits;
        } catch (const KExceptionHuffman& e) {
            EXPECT_STREQ(e.GetMessage(), "Invalid number of bits");
            EXPECT_STREQ(e.GetDescription(), "Huffman coding exception");
        }
    }
    EXPECT_NO_THROW(KHuffmanDecoder(2));
    EXPECT_NO_THROW(KHuffmanDecoder(16));
}

TEST(HuffmanDecoder, StateErrorsHaveTheirTexts)
{
    KHuffmanDecoder d(8);
    d.BeginDecode();
    uint8_t data[4] = {0, 0, 0, 0};
    uint16_t out[4];
    uint32_t position = 7, produced = 7;
    // Idle without data: nothing happens, and no table is needed yet.
    d.Decode(nullptr, 0, position, out, 4, produced);
    EXPECT_EQ(position, 0u);
    EXPECT_EQ(produced, 0u);
    try {
        d.DecodeFlush();
        FAIL();
    } catch (const KExceptionHuffman& e) {
        EXPECT_STREQ(e.GetMessage(), "DecodeFlush() not decoding data!");
    }
    try {
        d.Decode(data, 4, position, out, 4, produced);
        FAIL();
    } catch (const KExceptionHuffman& e) {
        EXPECT_STREQ(e.GetMessage(), "Can't build decoding tree without a valid table!");
    }
}

// Symbols 0..5 with codes 0, 100, 101, 110, 1110, 1111: longest 4, so a first level of 2 bits.
kzrsynth::HuffmanCode SmallCode()
{
    return kzrsynth::CanonicalCode({1, 3, 3, 3, 4, 4, 0, 0});
}

TEST(HuffmanDecoder, LastSymbolsOfARowComeFromTheCallWithoutData)
{
    const kzrsynth::HuffmanCode code = SmallCode();
    ASSERT_EQ(code.codes[1], 0b100u);
    KHuffmanDecoder d = MakeDecoder(3, code);
    // 100 100 0 0: the last symbol's single bit is fewer than the 2 bits a lookup needs.
    const std::vector<uint8_t> row = {0b10010000};
    uint32_t first = 0;
    EXPECT_EQ(DecodeRow(d, row, 4, &first), (std::vector<uint16_t>{1, 1, 0, 0}));
    EXPECT_EQ(first, 3u);
    EXPECT_EQ(d.GetFirstLevelBits(), 2);
}

TEST(HuffmanDecoder, ARowWithTooFewBitsDecodesFewerSymbols)
{
    KHuffmanDecoder d = MakeDecoder(3, SmallCode());
    // 100 100 11: the last bits begin a code of three or four bits that the row does not finish.
    EXPECT_EQ(DecodeRow(d, {0b10010011}, 3), (std::vector<uint16_t>{1, 1}));
    // 1111 1111: two symbols, then nothing.
    EXPECT_EQ(DecodeRow(d, {0xFF}, 3), (std::vector<uint16_t>{5, 5}));
}

TEST(HuffmanDecoder, SpareBitsCarryOverBetweenCalls)
{
    const kzrsynth::HuffmanCode code = SmallCode();
    std::vector<uint16_t> symbols = {4, 0, 2, 5, 0, 0, 3, 1, 4, 4, 0, 2, 2, 5, 1, 0, 0, 3, 4, 1, 2, 5};
    const std::vector<uint8_t> bytes = EncodeSymbols(code, symbols);
    KHuffmanDecoder d = MakeDecoder(3, code);
    uint16_t out[32];
    uint32_t position = 0, produced = 0, total = 0, taken = 0;
    // Two symbols at a time, handing in only the bytes not yet taken: the spare register bridges the calls.
    while (total < symbols.size()) {
        d.Decode(bytes.data() + taken, static_cast<uint32_t>(bytes.size() - taken), position, out + total,
                 std::min<uint32_t>(2, static_cast<uint32_t>(symbols.size()) - total), produced);
        ASSERT_GT(produced, 0u);
        EXPECT_LE(d.GetSpareBitCount(), 32);
        if (taken + position < bytes.size()) {
            EXPECT_GT(d.GetSpareBitCount(), 24);  // topped up while bytes remain
        }
        taken += position;
        total += produced;
    }
    EXPECT_EQ(std::vector<uint16_t>(out, out + total), symbols);
}

TEST(HuffmanDecoder, ABitPatternWithoutCodeThrows)
{
    // Only symbol 5, code 11: the patterns 0x have no code and nothing before them to stand in.
    KHuffmanDecoder d(3);
    d.BeginDecode();
    const uint32_t entries[8] = {0, 0, 0, 0, 0, (2u << 27) | 3u, 0, 0};
    d.SetTable(entries, 8);
    EXPECT_EQ(DecodeRow(d, {0xF0}, 2), (std::vector<uint16_t>{5, 5}));
    EXPECT_THROW(DecodeRow(d, {0x30}, 1), KExceptionHuffman);
}

TEST(HuffmanDecoder, ATableNeedingAHugeLookupIsRefused)
{
    // 1024 codes of 31 bits under distinct 15-bit prefixes: a valid prefix code, but 1024 tables of 2^16.
    KHuffmanDecoder d(10);
    d.BeginDecode();
    std::vector<uint32_t> entries(1024);
    for (uint32_t s = 0; s < 1024; ++s)
        entries[s] = (31u << 27) | (s << 16);
    d.SetTable(entries.data(), 1024);
    EXPECT_THROW(DecodeRow(d, std::vector<uint8_t>(8, 0), 1), KExceptionHuffman);
}

TEST(HuffmanDecoder, AnyTableAndAnyBitsEndInSymbolsOrAnException)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        const int bits = 2 + static_cast<int>(rng() % 9);
        const uint32_t n = 1u << bits;
        std::vector<uint32_t> entries(n);
        for (uint32_t& e : entries)
            e = (rng() % 3 == 0) ? 0 : (((rng() % 24) << 27) | (rng() & 0x7FFFFFFu));
        std::vector<uint8_t> data(rng() % 40);
        for (uint8_t& b : data)
            b = static_cast<uint8_t>(rng());
        KHuffmanDecoder d(bits);
        d.BeginDecode();
        d.SetTable(entries.data(), static_cast<uint32_t>(entries.size()));
        try {
            const std::vector<uint16_t> out = DecodeRow(d, data, 50);
            for (uint16_t s : out)
                EXPECT_LT(s, n);
        } catch (const KExceptionHuffman&) {
        }
    }
}

}  // namespace

namespace {

// Decodes a whole row handed in a few bytes at a time (so every symbol goes through the careful path at
// the end of the data) or at once; the result is the symbols, or "throw".
std::vector<int> DecodeChunked(const std::vector<uint32_t>& entries, int bits, const std::vector<uint8_t>& data,
                               uint32_t wanted, size_t chunk)
{
    KHuffmanDecoder d(bits);
    d.BeginDecode();
    d.SetTable(entries.data(), static_cast<uint32_t>(entries.size()));
    std::vector<uint16_t> out(wanted);
    uint32_t total = 0;
    try {
        size_t taken = 0;
        while (taken < data.size() && total < wanted) {
            const uint32_t n = static_cast<uint32_t>(std::min(chunk, data.size() - taken));
            uint32_t position = 0, produced = 0;
            d.Decode(data.data() + taken, n, position, out.data() + total, wanted - total, produced);
            taken += position;
            total += produced;
            if (position == 0 && produced == 0)
                break;
        }
        uint32_t position = 0, more = 0;
        if (total < wanted)
            d.Decode(nullptr, 0, position, out.data() + total, wanted - total, more);
        total += more;
    } catch (const KExceptionHuffman&) {
        return {-1};
    }
    return std::vector<int>(out.begin(), out.begin() + total);
}

TEST(HuffmanDecoder, SymbolsDoNotDependOnHowTheBytesAreHandedIn)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 200; ++round) {
        const int bits = 2 + static_cast<int>(rng() % 9);
        const uint32_t n = 1u << bits;
        std::vector<uint32_t> entries(n);
        if (round % 2) {
            // A proper prefix code from random counts, lengths up to 20.
            std::vector<uint64_t> counts(n);
            for (uint64_t& c : counts)
                c = (rng() % 4 == 0) ? 0 : uint64_t(1) << (rng() % 16);
            entries = kzrsynth::CanonicalCode(kzrsynth::HuffmanLengths(counts, 20)).TableEntries();
        } else {
            // Anything at all: overlapping codes, gaps, lengths up to 23.
            for (uint32_t& e : entries)
                e = (rng() % 3 == 0) ? 0 : (((rng() % 24) << 27) | (rng() & 0x7FFFFFFu));
        }
        std::vector<uint8_t> data(4 + rng() % 60);
        for (uint8_t& b : data)
            b = static_cast<uint8_t>(rng());
        const uint32_t wanted = 1 + rng() % 120;
        const std::vector<int> whole = DecodeChunked(entries, bits, data, wanted, data.size());
        for (size_t chunk : {1, 3, 7})
            EXPECT_EQ(DecodeChunked(entries, bits, data, wanted, chunk), whole) << "round " << round << " chunk " << chunk;
    }
}

}  // namespace
