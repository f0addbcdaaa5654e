#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KExceptionPixelProc2.h"
#include "KLinearize.h"
#include "RawStageTestSupport.h"

using rawstage::Frame;
using rawstage::Image;

namespace {

// A table of 16 entries per channel: channel c maps i to 100 x i + c, except for the extremes set by the test.
struct SmallLut {
    std::vector<KInt16> data = std::vector<KInt16>(48);
    KColorLUT lut;
    SmallLut()
    {
        for (int c = 0; c < 3; ++c) {
            for (int i = 0; i < 16; ++i)
                data[size_t(c * 16 + i)] = static_cast<KInt16>(100 * i + c);
            lut.m_pData[c] = data.data() + c * 16;
        }
        lut.m_Mask = 15;
        lut.m_Size = 16;
    }
    KInt16& Entry(int c, int i) { return data[size_t(c * 16 + i)]; }
};

}  // namespace

TEST(Linearize, ImageArgumentChecks)
{
    Frame dark(4, 3), raw(4, 3), wide(5, 3), tall(4, 4);
    Image out(4, 3), outTall(4, 4);
    SmallLut t;
    struct Case {
        const KPixmapTemplate<KPixelClass48RGB>* dark;
        const KPixmapTemplate<KPixelClass48RGB>* raw;
        const KPixmapTemplate<KPixelClass48SRGB>* out;
        const char* message;
    };
    const Case cases[] = {
        {nullptr, raw.Get(), out.Get(), "LinearizeAndDarkSubtractImage: dark image pointer is NULL.\n"},
        {dark.Get(), nullptr, nullptr, "LinearizeAndDarkSubtractImage: raw image pointer is NULL.\n"},
        {dark.Get(), raw.Get(), nullptr, "LinearizeAndDarkSubtractImage: out image pointer is NULL.\n"},
        {wide.Get(), raw.Get(), out.Get(), "LinearizeAndDarkSubtractImage: dark and raw are different sizes.\n"},
        {dark.Get(), tall.Get(), out.Get(), "LinearizeAndDarkSubtractImage: dark and raw are different sizes.\n"},
        {dark.Get(), raw.Get(), outTall.Get(), "LinearizeAndDarkSubtractImage: raw and output are different sizes.\n"},
    };
    for (const Case& c : cases) {
        try {
            LinearizeAndDarkSubtractImage(c.dark, c.raw, &t.lut, c.out);
            ADD_FAILURE() << "no exception for " << c.message;
        } catch (const KExceptionPixelProc2& e) {
            EXPECT_EQ(std::string(e.GetMessage()), c.message);
        }
    }
    EXPECT_NO_THROW(LinearizeAndDarkSubtractImage(dark.Get(), raw.Get(), nullptr, out.Get()));
}

TEST(Linearize, RowLooksUpMaskedValuesAndSubtracts)
{
    SmallLut t;
    t.Entry(0, 15) = 32767;
    t.Entry(0, 14) = -32768;
    // Pixel 0: raw 20 wraps to entry 4; dark 3. Pixel 1: the dark entry exceeds the raw one. Pixel 2: differences
    // beyond 16 bits saturate instead of wrapping.
    const KUInt16 raw[] = {20, 5, 65535, 2, 7, 1, 15, 0, 0, 14, 0, 0};
    const KUInt16 dark[] = {3, 5, 0, 9, 7, 2, 14, 0, 0, 15, 0, 0};
    KInt16 out[12];
    LinearizeAndDarkSubtractRow(dark, raw, 4, t.lut, out);
    const KInt16 expected[] = {100, 0, 1500, -700, 0, -100, 32767, 0, 0, -32768, 0, 0};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(out[i], expected[i]) << "sample " << i;
}

TEST(Linearize, RowWithOffsetsAddsTheColumnOffsetToBothValues)
{
    SmallLut t;
    const KUInt16 raw[] = {4, 9, 10, 65535, 0, 0};
    const KUInt16 dark[] = {1, 6, 1, 0, 0, 0};
    // A value beyond the table wraps through the mask with its offset: 65535 + 1 reads entry 0.
    const KInt16 offsets[] = {3, -5, 5, 1, 0, 0};
    KInt16 out[6];
    LinearizeAndDarkSubtractRowWithOffsets(dark, raw, 2, t.lut, out, offsets);
    const KInt16 expected[] = {(7 - 4) * 100, (4 - 1) * 100, (15 - 6) * 100, (0 - 1) * 100, 0, 0};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(out[i], expected[i]) << "sample " << i;
    // No offsets, no columns: nothing written.
    KInt16 untouched[3] = {7, 7, 7};
    LinearizeAndDarkSubtractRow(dark, raw, 0, t.lut, untouched);
    EXPECT_EQ(untouched[0], 7);
}

TEST(Linearize, OffsetNeverCarriesAValueAcrossTheEndsOfTheTable)
{
    // A clipped value (the table's top entry) in a column whose offset is positive stays clipped instead of
    // wrapping to the bottom of the table (a clipped highlight would turn black there); likewise a 0 with a
    // negative offset stays at entry 0. Sums inside the table, and values already beyond it, are as before.
    struct Case {
        KUInt16 raw, dark;
        KInt16 offset;
        KInt16 expected;
    };
    const Case cases[] = {
        {15, 5, 3, (15 - 8) * 100},  // raw 18 reads the top entry, not entry 2
        {15, 14, 1, 0},  // both at the top
        {14, 5, 1, (15 - 6) * 100},  // reaches the top exactly
        {6, 0, -2, (4 - 0) * 100},  // dark -2 reads entry 0, not entry 14
        {1, 0, -1, 0},  // reaches the bottom exactly
        {20, 3, 1, (5 - 4) * 100},  // raw beyond the table: 21 wraps to entry 5
        {65535, 2, -3, (12 - 0) * 100},  // wraps to entry 12; dark -1 reads entry 0
    };
    SmallLut t;
    for (const Case& c : cases) {
        const KUInt16 raw[] = {c.raw, 0, 0}, dark[] = {c.dark, 0, 0};
        const KInt16 offsets[] = {c.offset, 0, 0};
        KInt16 out[3];
        LinearizeAndDarkSubtractRowWithOffsets(dark, raw, 1, t.lut, out, offsets);
        EXPECT_EQ(out[0], c.expected) << "raw " << c.raw << ", dark " << c.dark << ", offset " << c.offset;
    }
}

TEST(RawOffsets, ThreeRowsGiveTheSmoothedMinusMiddleValue)
{
    // Rows 10, 15 and 20 are measured (N = 3): per column the middle value remains after the trim.
    Frame frame(3, 24);
    frame.Fill(4000);  // rows that are not measured
    const KUInt16 red[3][3] = {{100, 50, 0}, {200, 60, 40}, {300, 700, 41}};  // [measured row][column]
    const int rowsMeasured[3] = {10, 15, 20};
    for (int m = 0; m < 3; ++m)
        for (int x = 0; x < 3; ++x) {
            frame.At(x, rowsMeasured[m], 0) = red[m][x];
            frame.At(x, rowsMeasured[m], 1) = 77;
            frame.At(x, rowsMeasured[m], 2) = KUInt16(10 * m + x);  // rising in every column
        }
    std::vector<KInt16> offsets(9, 99);
    ASSERT_TRUE(CalculateRawOffsets(frame.Get(), offsets.data(), 10, 20, 5, 1));
    // Middle values 200, 60, 40; shift 1: forward 200, 130, 85; backward 85, 107, 153.
    EXPECT_EQ(offsets[0], 153 - 200);
    EXPECT_EQ(offsets[3], 107 - 60);
    EXPECT_EQ(offsets[6], 85 - 40);
    EXPECT_EQ(offsets[1], 0);
    EXPECT_EQ(offsets[4], 0);
    // Blue middles 10, 11, 12: forward 10, 10, 11; backward 11, 10, 10 (from the last column).
    EXPECT_EQ(offsets[2], 0);
    EXPECT_EQ(offsets[5], -1);
    EXPECT_EQ(offsets[8], -1);
}

TEST(RawOffsets, DividesByTheTrimmedRowCountTowardZero)
{
    // Five rows (N - 2 = 3), two columns; column 0 has trimmed sum 3 x 10, column 1 3 x 20.
    Frame frame(2, 5);
    for (int y = 0; y < 5; ++y) {
        frame.At(0, y, 0) = KUInt16(y == 0 ? 0 : y == 4 ? 100 : 10);
        frame.At(1, y, 0) = 20;
    }
    std::vector<KInt16> offsets(6);
    ASSERT_TRUE(CalculateRawOffsets(frame.Get(), offsets.data(), 0, 4, 1, 1));
    // Sums 30, 60. Forward 30, 45; backward 45, 37. Offsets (37 - 30) / 3 = 2 and (45 - 60) / 3 = -5.
    EXPECT_EQ(offsets[0], 2);
    EXPECT_EQ(offsets[3], -5);
}

TEST(RawOffsets, ShiftZeroFollowsEveryColumn)
{
    Frame frame(16, 8);
    frame.FillBy([](int x, int y, int c) { return (x * 37 + y * 11 + c * 5) % 300; });
    std::vector<KInt16> offsets(48, 5);
    ASSERT_TRUE(CalculateRawOffsets(frame.Get(), offsets.data(), 1, 7, 2, 0));
    for (KInt16 o : offsets)
        EXPECT_EQ(o, 0);
}

TEST(RawOffsets, RowsThatGiveNoOffsets)
{
    Frame frame(4, 30);
    frame.Fill(10);
    struct Case {
        KUInt32 first, last, step;
    };
    // Step 0; one or two rows; last below first; last at or beyond the frame's rows.
    const Case cases[] = {{0, 20, 0}, {10, 14, 5}, {10, 15, 5}, {20, 10, 1}, {0, 30, 1}, {0, 0xFFFFFFFFu, 1}};
    for (const Case& c : cases) {
        std::vector<KInt16> offsets(12, 3);
        EXPECT_FALSE(CalculateRawOffsets(frame.Get(), offsets.data(), c.first, c.last, c.step, 2))
            << c.first << ".." << c.last << " step " << c.step;
        for (KInt16 o : offsets)
            EXPECT_EQ(o, 0);
    }
    EXPECT_TRUE(CalculateRawOffsets(frame.Get(), std::vector<KInt16>(12).data(), 0, 29, 14, 40));
}
