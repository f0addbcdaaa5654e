#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "KColorNoise.h"
#include "KColorSpace.h"
#include "KGlobalLUTs.h"
#include "Stage2FilterSupport.h"

using stage2::WorkingImage;

namespace {

// A three-channel table that owns its entries, filled by f(i) for i = -size/2 .. size/2 - 1.
template <class F>
std::unique_ptr<KColorLUT> MakeTable(KUInt32 size, F f)
{
    auto lut = std::make_unique<KColorLUT>();
    lut->m_Size = size;
    lut->m_Mask = size - 1;
    lut->m_bOwnsData = true;
    for (auto& channel : lut->m_pData) {
        channel = new KInt16[size];
        for (KInt32 i = -KInt32(size / 2); i < KInt32(size / 2); ++i)
            channel[KUInt32(i) & (size - 1)] = KInt16(f(i));
    }
    return lut;
}

KFixedMatrix3x3 Diagonal(KInt32 d)
{
    return {d, 0, 0, 0, d, 0, 0, 0, d};
}

std::array<int, 3> DQ(std::array<int, 3> pixel, const KFixedMatrix3x3& m, const KColorLUT& lut,
                      std::array<KInt32, 3> offset = {0, 0, 0})
{
    KInt16 row[3] = {KInt16(pixel[0]), KInt16(pixel[1]), KInt16(pixel[2])};
    ColorDQRow(row, 1, m, lut, offset[0], offset[1], offset[2]);
    return {row[0], row[1], row[2]};
}

void ExpectMatrixNear(const KMatrix3x3& a, const KMatrix3x3& b)
{
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(a[i], b[i], 1e-9) << "element " << i;
}

}  // namespace

TEST(WhiteBalancedMatrix, TheNeutralBecomesAGreyOfItsOwnLuma)
{
    const KMatrix3x3 cam = {0.6, 0.3, 0.1, 0.25, 0.7, 0.05, 0.02, 0.1, 0.9};
    const double neutral[3] = {0.8, 1.0, 0.6};
    for (double saturation : {0.0, -1.0 / 30}) {
        KMatrix3x3 m;
        CalculateWhiteBalancedMatrix(m, cam, neutral, 2.0, saturation);
        double out[3];
        for (int i = 0; i < 3; ++i)
            out[i] = m[i * 3] * neutral[0] + m[i * 3 + 1] * neutral[1] + m[i * 3 + 2] * neutral[2];
        EXPECT_NEAR(out[0], out[1], 1e-12);
        EXPECT_NEAR(out[1], out[2], 1e-12);
        // The grey is the luma of the working-space colour of the neutral, times the gain.
        KMatrix3x3 w;
        const KMatrix3x3 p = Multiply3x3(CreateColorSpaceWhitePoint(w, kWorkingColorSpace, kPcsWhitePointD65), cam);
        double v[3];
        for (int i = 0; i < 3; ++i)
            v[i] = p[i * 3] * neutral[0] + p[i * 3 + 1] * neutral[1] + p[i * 3 + 2] * neutral[2];
        EXPECT_NEAR(out[0], 2.0 * (0.3 * v[0] + 0.55 * v[1] + 0.15 * v[2]), 1e-12);
    }
}

TEST(WhiteBalancedMatrix, ChannelsBelowAQuarterOfTheLumaAreRaisedToIt)
{
    // A camera matrix that the working space turns into diag(1, 1, 0.01).
    KMatrix3x3 w;
    CreateColorSpaceWhitePoint(w, kWorkingColorSpace, kPcsWhitePointD65);
    const KMatrix3x3 cam = Multiply3x3(Invert3x3(w), {1, 0, 0, 0, 1, 0, 0, 0, 0.01});
    const double neutral[3] = {1, 1, 1};
    KMatrix3x3 m;
    CalculateWhiteBalancedMatrix(m, cam, neutral, 1.0, 0.0);
    const double floor = (0.3 + 0.55 + 0.15 * 0.01) * 0.25;
    const double y = 0.3 + 0.55 + 0.15 * floor;
    ExpectMatrixNear(m, {y, 0, 0, 0, y, 0, 0, 0, y * 0.01 / floor});
}

TEST(WhiteBalancedMatrix, ANegativeNeutralLeavesTheWorkingSpaceMatrix)
{
    const KMatrix3x3 cam = {0.6, 0.3, 0.1, 0.25, 0.7, 0.05, 0.02, 0.1, 0.9};
    const double neutral[3] = {1.0, -0.1, 1.0};
    const double q = -1.0 / 30;
    KMatrix3x3 m, w;
    CalculateWhiteBalancedMatrix(m, cam, neutral, 1.5, q);
    const KMatrix3x3 s = {1 - 2 * q, q, q, q, 1 - 2 * q, q, q, q, 1 - 2 * q};
    ExpectMatrixNear(
        m, Scale3x3(Multiply3x3(s, Multiply3x3(CreateColorSpaceWhitePoint(w, kWorkingColorSpace, kPcsWhitePointD65), cam)),
                    1.5));
    // The saturation of -1/30 gives 1 + 1/15 on the diagonal.
    EXPECT_NEAR(s[0], 1.0 + 1.0 / 15, 1e-15);
}

TEST(WhiteBalancedMatrix, ADegenerateCameraMatrixGivesNoNotANumber)
{
    const double neutral[3] = {1, 1, 1};
    KMatrix3x3 m;
    CalculateWhiteBalancedMatrix(m, Zero3x3(), neutral, 1.0, -1.0 / 30);
    for (double e : m)
        EXPECT_EQ(e, 0.0);
}

TEST(ColorOffset, SmallImagesAndTinyLimitsGiveNoOffset)
{
    WorkingImage small(100, 100);  // 90 x 90 x 0.0003125 = 2.5: under 10 samples wanted
    small.Fill(4, 4, 12);
    KInt32 offset[3] = {7, 7, 7};
    EstimateColorOffset(offset, small.Pixmap(), 10, 10, 10);
    EXPECT_EQ(offset[0] | offset[1] | offset[2], 0);

    WorkingImage big(400, 400);
    big.Fill(4, 4, 12);
    for (double t : {0.08, 0.0, -5.0}) {  // (t0 + t1 + t2) x 4 below 1
        offset[0] = offset[1] = offset[2] = 7;
        EstimateColorOffset(offset, big.Pixmap(), t, t, t);
        EXPECT_EQ(offset[0] | offset[1] | offset[2], 0) << t;
    }
}

TEST(ColorOffset, DarkPixelsGiveTheirColourLessAnEighthOfTheirSum)
{
    // 400 x 400: 90 x 90 samples (rows and columns 20, 24, ... 376). All dark and equal: sums 32400, 32400
    // and 97200 over 8100 samples, m = 162000 >> 3 = 20250, offsets (12150, 12150, 76950) / 9100.
    WorkingImage image(400, 400);
    image.Fill(4, 4, 12);
    KInt32 offset[3];
    EstimateColorOffset(offset, image.Pixmap(), 10, 10, 10);
    EXPECT_EQ(offset[0], 1);
    EXPECT_EQ(offset[1], 1);
    EXPECT_EQ(offset[2], 8);
}

TEST(ColorOffset, OnlyPixelsInTheHistogramRangeCount)
{
    // Bright pixels (red + green far beyond the 2h - 1 bins) never count. 30 dark samples are enough (n >= 11),
    // 10 are not.
    for (int dark : {30, 10}) {
        WorkingImage image(400, 400);
        image.Fill(3000, 3000, 3000);
        for (int i = 0; i < dark; ++i)
            image.Set(20 + 4 * i, 20, -20, 0, 30000);  // s = -20: bin 99 of 239
        KInt32 offset[3];
        EstimateColorOffset(offset, image.Pixmap(), 10, 10, 10);
        if (dark == 10) {
            EXPECT_EQ(offset[0] | offset[1] | offset[2], 0);
            continue;
        }
        // sums -600, 0, 900000; m = 899400 >> 3 = 112425; / 1030
        EXPECT_EQ(offset[0], (-600 - 112425) / 1030);
        EXPECT_EQ(offset[1], -112425 / 1030);
        EXPECT_EQ(offset[2], (900000 - 112425) / 1030);
    }
}

TEST(ColorDQ, AGreyPixelAtTheOffsetBecomesZero)
{
    const double limits[3] = {20, 20, 20}, slopes[3] = {0.7, 0.7, 0.7};
    const KColorLUT& lut = *KGlobalLUTsClass::GetTanhLUTs(limits, slopes);
    const KFixedMatrix3x3 m = {9000, -500, -300, -700, 9100, -200, 100, -900, 8900};
    EXPECT_EQ(DQ({37, 37, 37}, m, lut, {37, 37, 37}), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(DQ({-5, 12, 3}, m, lut, {-5, 12, 3}), (std::array<int, 3>{0, 0, 0}));
}

TEST(ColorDQ, CoringPerChannelThenOfTheChroma)
{
    // A table that passes differences up to 10 and holds 10 beyond: (100, 0, 0) loses 10 of red, then red
    // stands 68 above the mean (90 >> 2 = 22) and green and blue 22 below: 10 more of red goes, 10 of green and
    // blue comes back.
    auto lut = MakeTable(512, [](int i) { return std::clamp(i, -10, 10); });
    EXPECT_EQ(DQ({100, 0, 0}, Diagonal(8192), *lut), (std::array<int, 3>{80, 10, 10}));
}

TEST(ColorDQ, DifferencesBeyondTheTableAreLookedUpAtItsEnd)
{
    // Entry i = i: a difference of 1000 is looked up at 255 (not at 1000 & 511 = 488, entry -24).
    auto lut = MakeTable(512, [](int i) { return i; });
    EXPECT_EQ(DQ({1000, 1000, 1000}, Diagonal(8192), *lut), (std::array<int, 3>{745, 745, 745}));
    EXPECT_EQ(DQ({-1000, -1000, -1000}, Diagonal(8192), *lut), (std::array<int, 3>{-500, -500, -500}));
    auto wide = MakeTable(4096, [](int i) { return i / 2; });
    EXPECT_EQ(DQ({3000, 3000, 3000}, Diagonal(8192), *wide), (std::array<int, 3>{3000 - 1023, 3000 - 1023, 3000 - 1023}));
}

TEST(ColorDQ, TheMatrixRoundsAndTheOutputIsClamped)
{
    auto none = MakeTable(512, [](int) { return 0; });
    // 0.5 x 3 = 1.5 rounds to 2, 0.5 x -3 = -1.5 to -1 (4096 added, arithmetic shift).
    EXPECT_EQ(DQ({3, -3, 0}, Diagonal(4096), *none), (std::array<int, 3>{2, -1, 0}));
    // A gain of 4 takes 10000 past 24000 and -1000 below -500.
    EXPECT_EQ(DQ({10000, -1000, 5000}, Diagonal(4 * 8192), *none), (std::array<int, 3>{24000, -500, 20000}));
    // Rows of the matrix mix the channels; a sum beyond 32 bits (100000 x 32766) is not wrapped.
    EXPECT_EQ(DQ({32767, 32767, -32768}, {100000, 100000, 100000, 0, 0, 8192, 8192, 0, 0}, *none),
              (std::array<int, 3>{24000, -500, 24000}));
}

TEST(ColorDQ, OffsetsAtTheirBoundStayDefined)
{
    // Offsets may reach 2^30 either way (a bulb exposure of very many frames lowers blue by their count): the
    // weighted mean of the three differences must not overflow, the outputs clamp.
    auto none = MakeTable(512, [](int) { return 0; });
    const KInt32 bound = 1 << 30;
    EXPECT_EQ(DQ({32767, 32767, 32767}, Diagonal(8192), *none, {-bound, -bound, -bound}),
              (std::array<int, 3>{24000, 24000, 24000}));
    EXPECT_EQ(DQ({-32768, -32768, -32768}, Diagonal(8192), *none, {bound, bound, bound}),
              (std::array<int, 3>{-500, -500, -500}));
    auto identity = MakeTable(512, [](int i) { return i; });
    EXPECT_EQ(DQ({32767, -32768, 32767}, Diagonal(8192), *identity, {-bound, bound, -bound}),
              (std::array<int, 3>{24000, -500, 24000}));
}

TEST(ColorDQ, AWholeRowMatchesPixelByPixel)
{
    const double limits[3] = {30, 30, 30}, slopes[3] = {0.7, 0.7, 0.7};
    const KColorLUT& lut = *KGlobalLUTsClass::GetTanhLUTs(limits, slopes);
    const KFixedMatrix3x3 m = {9000, -500, -300, -700, 9100, -200, 100, -900, 8900};
    WorkingImage image(37, 1);
    image.FillNoise(5, 400, 300);
    WorkingImage before = image;
    ColorDQRow(image.Row(0), 37, m, lut, 3, -2, 5);
    for (int x = 0; x < 37; ++x) {
        const auto one = DQ({before.At(x, 0, 0), before.At(x, 0, 1), before.At(x, 0, 2)}, m, lut, {3, -2, 5});
        EXPECT_EQ(one, (std::array<int, 3>{image.At(x, 0, 0), image.At(x, 0, 1), image.At(x, 0, 2)})) << x;
    }
}

TEST(ColorDQ, OnAHundredByHundredImageTheOffsetIsZeroAndOutputsClamp)
{
    WorkingImage image(100, 100);
    image.FillNoise(9, 0, 12000);
    KInt32 offset[3] = {1, 1, 1};
    EstimateColorOffset(offset, image.Pixmap(), 6, 9, 12);
    EXPECT_EQ(offset[0] | offset[1] | offset[2], 0);
    const double limits[3] = {9, 9, 9}, slopes[3] = {0.7, 0.7, 0.7};
    const KColorLUT& lut = *KGlobalLUTsClass::GetTanhLUTs(limits, slopes);
    int low = 0, high = 0;
    for (int y = 0; y < 100; ++y) {
        ColorDQRow(image.Row(y), 100, Diagonal(3 * 8192), lut, offset[0], offset[1], offset[2]);
        for (int x = 0; x < 100; ++x)
            for (int c = 0; c < 3; ++c) {
                const int v = image.At(x, y, c);
                ASSERT_GE(v, -500);
                ASSERT_LE(v, 24000);
                low += v == -500;
                high += v == 24000;
            }
    }
    EXPECT_GT(low, 1000);
    EXPECT_GT(high, 1000);
}
