#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "KPixmapExceptions.h"
#include "KRowConverters.h"
#include "PixelTestClasses.h"

namespace {
std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

struct ConverterCase {
    const char* name;
    KRowConverter converter;
    KRowConverter reference;  // unpack, shift, pack
    int sourceBytes;
    int destinationBytes;
};

template <class S, class D, int Shift>
constexpr ConverterCase Case(const char* name, KRowConverter converter)
{
    return {name, converter, ConvertRowThroughTriple<S, D, Shift>, S::kBytesPerPixel, D::kBytesPerPixel};
}

const ConverterCase kConverters[] = {
    Case<KPixelClass24RGB, KPixelClass48BGR, 8>("24RGBTo48BGR", ConvertRow24RGBTo48BGR),
    Case<KPixelClass24RGB, KPixelClass48RGB, 8>("24RGBTo48RGB", ConvertRow24RGBTo48RGB),
    Case<KPixelClass30RGBL, KPixelClass24BGR, -3>("30RGBLTo24BGR", ConvertRow30RGBLTo24BGR),
    Case<KPixelClass30RGBL, KPixelClass24RGB, -3>("30RGBLTo24RGB", ConvertRow30RGBLTo24RGB),
    Case<KPixelClass30RGBL, KPixelClass30RGBL, 0>("30RGBLTo30RGBL", ConvertRow30RGBLTo30RGBL),
    Case<KPixelClass30RGBL, KPixelClass30RGB, 0>("30RGBLTo30RGB", ConvertRow30RGBLTo30RGB),
    Case<KPixelClass30RGBL, KPixelClass32ARGB, -3>("30RGBLTo32ARGB", ConvertRow30RGBLTo32ARGB),
    Case<KPixelClass30RGBL, KPixelClass32ABGR, -3>("30RGBLTo32ABGR", ConvertRow30RGBLTo32ABGR),
    Case<KPixelClass30RGBL, KPixelClass32BGRA, -3>("30RGBLTo32BGRA", ConvertRow30RGBLTo32BGRA),
    Case<KPixelClass30RGBL, KPixelClass32RGBA, -3>("30RGBLTo32RGBA", ConvertRow30RGBLTo32RGBA),
    Case<KPixelClass30RGBL, KPixelClass48RGB, 5>("30RGBLTo48RGB", ConvertRow30RGBLTo48RGB),
    Case<KPixelClass30RGBL, KPixelClass48BGR, 5>("30RGBLTo48BGR", ConvertRow30RGBLTo48BGR),
    Case<KPixelClass48RGB, KPixelClass24BGR, -8>("48RGBTo24BGR", ConvertRow48RGBTo24BGR),
    Case<KPixelClass48RGB, KPixelClass24RGB, -8>("48RGBTo24RGB", ConvertRow48RGBTo24RGB),
    Case<KPixelClass48RGB, KPixelClass30RGBL, -5>("48RGBTo30RGBL", ConvertRow48RGBTo30RGBL),
    Case<KPixelClass48RGB, KPixelClass30RGB, -5>("48RGBTo30RGB", ConvertRow48RGBTo30RGB),
    Case<KPixelClass48RGB, KPixelClass32ARGB, -8>("48RGBTo32ARGB", ConvertRow48RGBTo32ARGB),
    Case<KPixelClass48RGB, KPixelClass32ABGR, -8>("48RGBTo32ABGR", ConvertRow48RGBTo32ABGR),
    Case<KPixelClass48RGB, KPixelClass32BGRA, -8>("48RGBTo32BGRA", ConvertRow48RGBTo32BGRA),
    Case<KPixelClass48RGB, KPixelClass32RGBA, -8>("48RGBTo32RGBA", ConvertRow48RGBTo32RGBA),
    Case<KPixelClass48RGB, KPixelClass48RGB, 0>("48RGBTo48RGB", ConvertRow48RGBTo48RGB),
    Case<KPixelClass48RGB, KPixelClass48BGR, 0>("48RGBTo48BGR", ConvertRow48RGBTo48BGR),
    Case<TestPixel16Mono, TestGrey<KPixelClass8Mono>, -8>("16MonoTo8Mono", ConvertRow16MonoTo8Mono),
    Case<TestPixel16Mono, TestGrey<KPixelClass12Mono>, -4>("16MonoTo12Mono", ConvertRow16MonoTo12Mono),
    Case<TestPixel16Mono, TestGrey<KPixelClass16Mono>, 0>("16MonoTo16Mono", ConvertRow16MonoTo16Mono),
    Case<TestPixel16Mono, TestGrey<KPixelClass32Mono>, -4>("16MonoTo32Mono", ConvertRow16MonoTo32Mono),
};
}  // namespace

// Every specialised converter gives exactly what unpacking, shifting and packing give, on random rows of many
// lengths, and writes nothing past count pixels.
TEST(KRowConverters, EachEqualsTheCompositionOfUnpackShiftAndPack)
{
    for (const ConverterCase& c : kConverters) {
        for (int count : {0, 1, 2, 3, 7, 16, 33, 2304}) {
            const auto source = RandomBytes(static_cast<size_t>(count) * c.sourceBytes, 17u + count);
            const size_t outBytes = static_cast<size_t>(count) * c.destinationBytes;
            std::vector<uint8_t> got(outBytes + 8, 0xCD), want(outBytes + 8, 0xCD);
            c.converter(count, source.data(), got.data());
            c.reference(count, source.data(), want.data());
            ASSERT_EQ(got, want) << c.name << " count " << count;
            for (size_t i = outBytes; i < got.size(); ++i)
                ASSERT_EQ(got[i], 0xCD) << c.name << " wrote past the row, count " << count;
        }
    }
}

TEST(KRowConverters, ZeroOrNegativeCountWritesNothing)
{
    uint8_t source[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (const ConverterCase& c : kConverters) {
        uint8_t out[8] = {0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD};
        c.converter(0, source, out);
        c.converter(-4, source, out);
        for (uint8_t b : out)
            ASSERT_EQ(b, 0xCD) << c.name;
    }
    uint8_t out[4] = {9, 9, 9, 9};
    ConvertRowTo30BGRL(0, source, out);  // nothing to convert: no exception
    EXPECT_EQ(out[0], 9);
}

TEST(KRowConverters, IntoThirtyBitBGRLIsRefusedWhenThereArePixels)
{
    uint8_t source[12] = {}, out[4] = {9, 9, 9, 9};
    try {
        ConvertRowTo30BGRL(1, source, out);
        ADD_FAILURE() << "no exception";
    } catch (const KExceptionUnknownPixelType& e) {
        EXPECT_STREQ(e.GetMessage(), "NOT IMPLEMENTED");
    }
    EXPECT_EQ(out[0], 9);
}

TEST(KRowConverters, WorkedValues)
{
    {
        const uint8_t word[4] = {0x80, 0x40, 0x20, 0x00};
        uint16_t out[3];
        ConvertRow30RGBLTo48RGB(1, word, out);
        EXPECT_EQ(out[0], 0x8000);
        EXPECT_EQ(out[1], 0x4000);
        EXPECT_EQ(out[2], 0x2000);
    }
    {
        const uint16_t in[3] = {0x1234, 0x5678, 0x9ABC};
        uint8_t out[3];
        ConvertRow48RGBTo24BGR(1, in, out);
        EXPECT_EQ(out[0], 0x9A);
        EXPECT_EQ(out[1], 0x56);
        EXPECT_EQ(out[2], 0x12);
    }
    {
        const uint16_t in = 0xABCD;
        uint8_t m8;
        uint16_t m12;
        uint32_t m32;
        ConvertRow16MonoTo8Mono(1, &in, &m8);
        ConvertRow16MonoTo12Mono(1, &in, &m12);
        ConvertRow16MonoTo32Mono(1, &in, &m32);
        EXPECT_EQ(m8, 0xAB);
        EXPECT_EQ(m12, 0x0ABC);
        EXPECT_EQ(m32, 0x0ABCu);
    }
    {
        // 24RGB (200, 100, 50) into 30RGBL through the reader's << 3, and back.
        const uint8_t rgb[3] = {200, 100, 50};
        uint8_t word[4];
        ConvertRowThroughTriple<KPixelClass24RGB, KPixelClass30RGBL, 3>(1, rgb, word);
        EXPECT_EQ(word[3], 0);
        uint8_t back[3];
        ConvertRow30RGBLTo24RGB(1, word, back);
        EXPECT_EQ(0, std::memcmp(back, rgb, 3));
    }
    {
        const uint16_t in[3] = {0xFFFF, 0xFFFF, 0xFFFF};
        uint32_t l, w;
        ConvertRow48RGBTo30RGBL(1, in, &l);
        ConvertRow48RGBTo30RGB(1, in, &w);
        EXPECT_EQ(l, 0xFFFFFFFFu);
        EXPECT_EQ(w, 0xFFFFFFFFu);
    }
}

// Converters between types of the same size may convert a row onto itself.
TEST(KRowConverters, SameSizeConvertersWorkInPlace)
{
    struct InPlace {
        KRowConverter converter;
        int bytes;
    };
    const InPlace cases[] = {
        {ConvertRow48RGBTo48BGR, 6}, {ConvertRow48RGBTo48RGB, 6}, {ConvertRow30RGBLTo32BGRA, 4},
        {ConvertRow30RGBLTo30RGB, 4}, {ConvertRow30RGBLTo32ABGR, 4}, {ConvertRow16MonoTo16Mono, 2},
    };
    for (const InPlace& c : cases) {
        const auto source = RandomBytes(static_cast<size_t>(101) * c.bytes, 5);
        std::vector<uint8_t> want(source.size()), row = source;
        c.converter(101, source.data(), want.data());
        c.converter(101, row.data(), row.data());
        EXPECT_EQ(row, want) << "case " << (&c - cases);
    }
}
