#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "KRowConverters.h"
#include "KRowConvertersTo48RGB.h"

TEST(RowConvertersTo48RGB, EachSourceLayoutWidensToWordsRGB)
{
    struct Case {
        KRowConverter convert;
        int bytes;
        uint8_t pixel[6];
        uint16_t expected[3];
    };
    const Case cases[] = {
        {ConvertRow24BGRTo48RGB, 3, {0x11, 0x22, 0x33}, {0x3300, 0x2200, 0x1100}},
        {ConvertRow32ARGBTo48RGB, 4, {0xAA, 0x11, 0x22, 0x33}, {0x1100, 0x2200, 0x3300}},
        {ConvertRow32ABGRTo48RGB, 4, {0xAA, 0x11, 0x22, 0x33}, {0x3300, 0x2200, 0x1100}},
        {ConvertRow32BGRATo48RGB, 4, {0x11, 0x22, 0x33, 0xAA}, {0x3300, 0x2200, 0x1100}},
        {ConvertRow32RGBATo48RGB, 4, {0x11, 0x22, 0x33, 0xAA}, {0x1100, 0x2200, 0x3300}},
        // 30RGB: R 0x7FF, G 0x001, B field 1023 -> B 2046 as an 11-bit value, 65472 in 16 bits.
        {ConvertRow30RGBTo48RGB, 4, {0xFF, 0x0F, 0xC0, 0xFF}, {0xFFE0, 0x0020, 65472}},
        // 30BGRL: bytes 0-2 the high bits of B, G, R; bits 24-25 B bits 2-1, 26-28 G bits 2-0, 29-31 R bits 2-0.
        {ConvertRow30BGRLTo48RGB, 4, {0x80, 0x40, 0x20, 0xE3},
         {((0x20 << 3) | 7) << 5, (0x40 << 3) << 5, ((0x80 << 3) | 6) << 5}},
        // 48SRGB keeps the 16-bit pattern of a negative value.
        {ConvertRow48SRGBTo48RGB, 6, {0xE0, 0xFF, 0x01, 0x00, 0x00, 0x80}, {0xFFE0, 0x0001, 0x8000}},
        {ConvertRow48BGRTo48RGB, 6, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, {0x0605, 0x0403, 0x0201}},
    };
    for (const Case& k : cases) {
        // Two pixels: the second proves the pixel stride.
        uint8_t source[12];
        std::memcpy(source, k.pixel, 6);
        std::memcpy(source + k.bytes, k.pixel, 6);
        uint16_t out[7] = {0, 0, 0, 0, 0, 0, 0xEEEE};
        k.convert(2, source, out);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(out[i], k.expected[i % 3]) << "case " << (&k - cases) << " word " << i;
        EXPECT_EQ(out[6], 0xEEEE) << "wrote past two pixels, case " << (&k - cases);
    }
}

TEST(RowConvertersTo48RGB, CountZeroWritesNothing)
{
    const KRowConverter converters[] = {ConvertRow24BGRTo48RGB,  ConvertRow30BGRLTo48RGB, ConvertRow30RGBTo48RGB,
                                        ConvertRow32ARGBTo48RGB, ConvertRow32ABGRTo48RGB, ConvertRow32BGRATo48RGB,
                                        ConvertRow32RGBATo48RGB, ConvertRow48SRGBTo48RGB, ConvertRow48BGRTo48RGB};
    for (KRowConverter convert : converters) {
        const uint8_t source[6] = {1, 2, 3, 4, 5, 6};
        uint8_t destination[6] = {};
        convert(0, source, destination);
        convert(-1, source, destination);
        EXPECT_EQ(std::vector<uint8_t>(destination, destination + 6), std::vector<uint8_t>(6, 0));
    }
}
