#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "KPixelClasses.h"
#include "KPixmapExceptions.h"

namespace {
uint32_t Word(const uint8_t* p)
{
    uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}
}  // namespace

TEST(KRGBTriple, ShiftsKeepTheSignAndArithmeticWraps)
{
    const KRGBTriple t(-8, 16, 255);
    EXPECT_EQ(t >> 2, KRGBTriple(-2, 4, 63));
    EXPECT_EQ(KRGBTriple(-1, 1, 0) >> 5, KRGBTriple(-1, 0, 0));
    EXPECT_EQ(t << 3, KRGBTriple(-64, 128, 2040));
    EXPECT_EQ(t + KRGBTriple(1, 2, 3), KRGBTriple(-7, 18, 258));
    EXPECT_EQ(t + 10, KRGBTriple(2, 26, 265));
    EXPECT_EQ(t * 3, KRGBTriple(-24, 48, 765));
    EXPECT_EQ(KRGBTriple(0x40000000, 0, 0) << 2, KRGBTriple(0, 0, 0));
    EXPECT_EQ(KRGBTriple(INT32_MAX, 0, 0) + 1, KRGBTriple(INT32_MIN, 1, 1));
}

TEST(KPixelClass, EightBitPackersWriteTheirLayouts)
{
    const KRGBTriple c(0x11, 0x22, 0x33);
    struct Case {
        void (*set)(void*, const KRGBTriple&);
        int bytes;
        uint8_t expected[4];
    };
    const Case cases[] = {
        {KPixelClass24RGB::SetRGB, 3, {0x11, 0x22, 0x33}},
        {KPixelClass24BGR::SetRGB, 3, {0x33, 0x22, 0x11}},
        {KPixelClass32ARGB::SetRGB, 4, {0xFF, 0x11, 0x22, 0x33}},
        {KPixelClass32ABGR::SetRGB, 4, {0xFF, 0x33, 0x22, 0x11}},
        {KPixelClass32BGRA::SetRGB, 4, {0x33, 0x22, 0x11, 0xFF}},
        {KPixelClass32RGBA::SetRGB, 4, {0x11, 0x22, 0x33, 0xFF}},
    };
    for (const Case& k : cases) {
        uint8_t pixel[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        k.set(pixel, c);
        EXPECT_EQ(0, std::memcmp(pixel, k.expected, k.bytes)) << "case " << (&k - cases);
        EXPECT_EQ(pixel[k.bytes], 0xEE) << "wrote past the pixel, case " << (&k - cases);
    }
}

TEST(KPixelClass, UnpackersReadTheirLayouts)
{
    const uint8_t bytes[8] = {0x01, 0x02, 0x03, 0x04, 0xFE, 0xFF, 0x07, 0x00};
    EXPECT_EQ(KPixelClass24RGB::GetRGB(bytes), KRGBTriple(1, 2, 3));
    EXPECT_EQ(KPixelClass24BGR::GetRGB(bytes), KRGBTriple(3, 2, 1));
    EXPECT_EQ(KPixelClass32RGBA::GetRGB(bytes), KRGBTriple(1, 2, 3));  // alpha ignored
    EXPECT_EQ(KPixelClass32BGRA::GetRGB(bytes), KRGBTriple(3, 2, 1));
    EXPECT_EQ(KPixelClass32ARGB::GetRGB(bytes), KRGBTriple(2, 3, 4));
    EXPECT_EQ(KPixelClass32ABGR::GetRGB(bytes), KRGBTriple(4, 3, 2));
    // Words 0x0201, 0x0403, 0xFFFE: 48SRGB and 48BGR read them as signed values.
    EXPECT_EQ(KPixelClass48RGB::GetRGB(bytes), KRGBTriple(0x0201, 0x0403, 0xFFFE));
    EXPECT_EQ(KPixelClass48SRGB::GetRGB(bytes), KRGBTriple(0x0201, 0x0403, -2));
    EXPECT_EQ(KPixelClass48BGR::GetRGB(bytes), KRGBTriple(-2, 0x0403, 0x0201));
    // An unaligned pixel address is fine.
    EXPECT_EQ(KPixelClass48RGB::GetRGB(bytes + 1), KRGBTriple(0x0302, 0xFE04, 0x07FF));
}

TEST(KPixelClass, PackersKeepOnlyTheLowBitsOfAComponent)
{
    uint8_t p[6] = {};
    KPixelClass24RGB::SetRGB(p, KRGBTriple(300, -1, 256));
    EXPECT_EQ(p[0], 44);
    EXPECT_EQ(p[1], 255);
    EXPECT_EQ(p[2], 0);
    KPixelClass48RGB::SetRGB(p, KRGBTriple(0x12345, -1, 0x10000));
    EXPECT_EQ(KPixelClass48RGB::GetRGB(p), KRGBTriple(0x2345, 0xFFFF, 0));
    KPixelClass48BGR::SetRGB(p, KRGBTriple(-1, 2, 0x10003));
    EXPECT_EQ(KPixelMemory::Load16(p, 0), 3);
    EXPECT_EQ(KPixelMemory::Load16(p, 1), 2);
    EXPECT_EQ(KPixelMemory::Load16(p, 2), 0xFFFF);
    KPixelClass30RGB::SetRGB(p, KRGBTriple(0x800 | 5, 0x1000 | 6, 0x800 | 8));
    EXPECT_EQ(Word(p), 5u | (6u << 11) | (4u << 22));
}

TEST(KPixelClass, ElevenBitPackersFillEveryBitForFullScale)
{
    uint8_t p[4];
    KPixelClass30RGBL::SetRGB(p, KRGBTriple(2047, 2047, 2047));
    EXPECT_EQ(Word(p), 0xFFFFFFFFu);
    KPixelClass30RGB::SetRGB(p, KRGBTriple(2047, 2047, 2047));
    EXPECT_EQ(Word(p), 0xFFFFFFFFu);
    // B bit 0 is not stored in either.
    EXPECT_EQ(KPixelClass30RGBL::GetRGB(p), KRGBTriple(2047, 2047, 2046));
    KPixelClass30RGBL::SetRGB(p, 2047, 2047, 2047);
    EXPECT_EQ(KPixelClass30RGBL::GetRGB(p), KRGBTriple(2047, 2047, 2046));
    EXPECT_EQ(KPixelClass30RGB::GetRGB(p), KRGBTriple(2047, 2047, 2046));
}

TEST(KPixelClass, ThirtyBitRGBLKeepsTheHighBytesInBytesZeroToTwo)
{
    uint8_t p[4];
    KPixelClass30RGBL::SetRGB(p, KRGBTriple(200, 100, 50) << 3);
    EXPECT_EQ(p[0], 200);
    EXPECT_EQ(p[1], 100);
    EXPECT_EQ(p[2], 50);
    EXPECT_EQ(p[3], 0);
    // Low bits go to the top byte: R bits 29-31, G bits 26-28, B bits 2-1 in 24-25.
    KPixelClass30RGBL::SetRGB(p, KRGBTriple(5, 3, 6));
    EXPECT_EQ(Word(p), (5u << 29) | (3u << 26) | (3u << 24));
    // 30BGRL is the same word with R and B exchanged.
    EXPECT_EQ(KPixelClass30BGRL::GetRGB(p), KRGBTriple(5, 3, 6));
    const uint8_t bgrl[4] = {50, 100, 200, 0};
    EXPECT_EQ(KPixelClass30BGRL::GetRGB(bgrl), KRGBTriple(1600, 800, 400));
}

TEST(KPixelClass, ElevenBitTriplesSurviveAPackUnpackRoundTrip)
{
    for (int32_t r = 0; r < 2048; r += 7)
        for (int32_t g = 0; g < 2048; g += 13)
            for (int32_t b = 0; b < 2048; b += 10) {
                const KRGBTriple c(r, g, b);  // b even: its bit 0 is not stored
                ASSERT_EQ(KPixelClass30RGBL::Unpack(KPixelClass30RGBL::Pack(r, g, b)), c);
                ASSERT_EQ(KPixelClass30RGB::Unpack(KPixelClass30RGB::Pack(r, g, b)), c);
            }
}

TEST(KPixelClass, ThirtyBitBGRLPackerIsRefusedAsAnUnknownPixelType)
{
    uint8_t p[4] = {1, 2, 3, 4};
    try {
        KPixelClass30BGRL::SetRGB(p, KRGBTriple(1, 2, 3));
        ADD_FAILURE() << "no exception";
    } catch (const KExceptionPixmap& e) {  // a member of the family: request handlers catch it
        EXPECT_STREQ(e.GetMessage(), "NOT IMPLEMENTED");
        EXPECT_STREQ(e.GetDescription(), "Unknown pixel type");
    }
    EXPECT_EQ(p[0], 1);
}

TEST(KPixelClass, ExceptionBranchDescriptions)
{
    EXPECT_STREQ(KExceptionPixmap("").GetDescription(), "Pixmap exception");
    EXPECT_STREQ(KExceptionUnknownPixelType("").GetDescription(), "Unknown pixel type");
    const KExceptionBitDepthMismatch mismatch("");
    EXPECT_STREQ(mismatch.GetDescription(), "Bit depths of the two pixel types don't match.");
    EXPECT_STREQ(mismatch.GetMessage(), "");
    const KException& base = mismatch;
    EXPECT_NE(dynamic_cast<const KExceptionPixmap*>(&base), nullptr);
}
