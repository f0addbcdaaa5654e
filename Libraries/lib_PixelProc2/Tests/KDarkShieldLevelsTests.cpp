#include <gtest/gtest.h>

#include <vector>

#include "KDebug.h"
#include "KRowCorrections.h"
#include "RawStageTestSupport.h"

using rawstage::Image;

namespace {

struct Levels {
    KColorTriple base = {9, 9, 9};
    std::vector<KColorTriple> rows;
};

struct Shields {
    KUInt32 ls, le, rs, re;
};

Levels Measure(const Image& image, const Shields& s, const KRect& active, const KColorTriple& cf = {0, 0, 0},
               const KDarkDrift& drift = {}, double rowGain = 0.8)
{
    Levels l;
    l.rows.assign(size_t(image.Height()), KColorTriple{9, 9, 9});
    CalculateDarkShieldLevels(l.base, l.rows.data(), image.Get(), image.Height(), s.ls, s.le, s.rs, s.re, cf, drift,
                              rowGain, 12.0, active);
    return l;
}

void ExpectAllZero(const Levels& l)
{
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(l.base[c], 0.0);
    for (const KColorTriple& t : l.rows)
        for (int c = 0; c < 3; ++c)
            ASSERT_EQ(t[c], 0.0);
}

// Every row's shield columns hold values; everything else 5000, so that a column read by mistake shows.
void SetShield(Image& image, KUInt32 start, const std::vector<KInt16>& values)
{
    for (int y = 0; y < image.Height(); ++y)
        for (size_t i = 0; i < values.size(); ++i)
            for (int c = 0; c < 3; ++c)
                image.At(KInt32(start + i), y, c) = values[i];
}

}  // namespace

TEST(DarkShieldLevels, DefaultRangesOfAFullWidthFrameUseSevenOfNineColumns)
{
    Image image(2304, 12);
    image.Fill(5000);
    // Left 6..14: without its extremes (-50 and 90) the mean is 4; right 2292..2300: 3.
    SetShield(image, 6, {-50, 1, 2, 3, 4, 5, 6, 7, 90});
    SetShield(image, 2292, {3, 3, 3, 3, 3, 3, 3, -70, 80});
    const Levels l = Measure(image, {6, 14, 2292, 2300}, KRect(0, 1, 2304, 11));
    // (L + 3 R) / 4 on every row; constant levels leave only the base.
    for (int c = 0; c < 3; ++c)
        EXPECT_DOUBLE_EQ(l.base[c], (4 + 3 * 3) / 4.0);
    for (const KColorTriple& t : l.rows)
        EXPECT_NEAR(t[0], 0.0, 1e-12);
}

TEST(DarkShieldLevels, UnusableRangesOrActiveAreaGiveZeroLevels)
{
    // A 256-wide frame: the built-in ranges of other widths are empty, and ranges must leave the column before
    // them and end inside the row. None of these may read outside the image (ASan watches).
    Image image(256, 16);
    image.Fill(20);
    const KRect active(0, 2, 256, 14);
    const Shields cases[] = {{0, 0, 0, 0}, {0, 8, 240, 250}, {1, 8, 248, 256}, {1, 3, 240, 250},
                             {1, 8, 0, 255},  {8, 1, 240, 250}, {1, 300, 240, 250}};
    KTraceCapture trace;
    for (const Shields& s : cases) {
        SCOPED_TRACE(testing::Message() << s.ls << " " << s.le << " " << s.rs << " " << s.re);
        ExpectAllZero(Measure(image, s, active));
    }
    EXPECT_TRUE(trace.Contains("CalculateDarkShieldLevels"));
    // The same frame with sound ranges measures its level.
    EXPECT_DOUBLE_EQ(Measure(image, {1, 8, 240, 250}, active).base[0], 20.0);

    // Active areas of 9 rows, or reaching outside the image.
    const KRect areas[] = {KRect(0, 2, 256, 11), KRect(0, -1, 256, 12), KRect(0, 2, 256, 17)};
    for (const KRect& a : areas)
        ExpectAllZero(Measure(image, {1, 8, 240, 250}, a));
    EXPECT_DOUBLE_EQ(Measure(image, {1, 8, 240, 250}, KRect(0, 2, 256, 12)).base[1], 20.0);
    // A margin larger than the active rows it would copy from.
    Image tall(256, 24);
    tall.Fill(20);
    ExpectAllZero(Measure(tall, {1, 8, 240, 250}, KRect(0, 13, 256, 23)));
    EXPECT_DOUBLE_EQ(Measure(tall, {1, 8, 240, 250}, KRect(0, 10, 256, 22)).base[1], 20.0);
}

TEST(DarkShieldLevels, ShieldsAt100OrAboveAreIgnored)
{
    Image image(64, 12);
    image.Fill(30);
    SetShield(image, 2, std::vector<KInt16>(6, 150));  // left: 150, ignored
    const KRect active(0, 1, 64, 11);
    EXPECT_DOUBLE_EQ(Measure(image, {2, 7, 50, 60}, active).base[0], 30.0);
    // Only the green channel of the right shield at 100: the whole right side is ignored too.
    for (int y = 0; y < 12; ++y)
        for (int x = 50; x <= 60; ++x)
            image.At(x, y, 1) = 100;
    ExpectAllZero(Measure(image, {2, 7, 50, 60}, active));
}

TEST(DarkShieldLevels, ColumnFilterAndDriftEnterTheShieldValues)
{
    // A ramp of step 4: each value gains 4 x trunc(0.5 x 2048) / 2048 = 2 through the column filter.
    Image image(40, 12);
    image.FillBy([](int x, int, int) { return 4 * (x % 10); });
    // Left 1..8 (values 4..32, middle mean 18), right 31..38 (the same values).
    const KRect active(0, 1, 40, 11);
    EXPECT_DOUBLE_EQ(Measure(image, {1, 8, 31, 38}, active, {0.5, 0.5, 0.5}).base[2], 20.0);
    // Drift: a mean of 18 and a slope of 8 put 14 on the left and 22 on the right.
    KDarkDrift drift;
    for (int e = 0; e < 2; ++e)
        for (int c = 0; c < 3; ++c) {
            drift.m_Value[e][0][c] = 8.0;
            drift.m_Value[e][1][c] = 18.0;
        }
    const Levels l = Measure(image, {1, 8, 31, 38}, active, {0, 0, 0}, drift);
    EXPECT_DOUBLE_EQ(l.base[0], ((18 - 14) + 3 * (18 - 22)) / 4.0);
}

TEST(DarkShieldLevels, SmoothingCentresTheLevelsAndRowGainScalesThem)
{
    // Row y's shields read y: a ramp of levels whose mean goes to the base.
    Image image(32, 40);
    image.FillBy([](int, int y, int) { return y; });
    const KRect active(0, 0, 32, 40);
    const Levels l = Measure(image, {1, 8, 20, 30}, active);
    EXPECT_GT(l.base[0], 5.0);
    EXPECT_LT(l.base[0], 19.5);
    EXPECT_LT(l.rows.front()[0], 0.0);  // the top rows lie below the mean, the bottom ones above
    EXPECT_GT(l.rows.back()[0], 0.0);
    for (size_t i = 1; i < l.rows.size(); ++i)
        EXPECT_GE(l.rows[i][0], l.rows[i - 1][0]) << "row " << i;  // smoothed, still rising
    const Levels none = Measure(image, {1, 8, 20, 30}, active, {0, 0, 0}, {}, 0.0);
    EXPECT_EQ(none.base[0], l.base[0]);
    for (const KColorTriple& t : none.rows)
        EXPECT_EQ(t[0], 0.0);
}

TEST(SpatialGainRow, InterpolatesBetweenGridRows)
{
    // 3 grid rows x 2 columns; row y holds 1 + y (column 0) and 2 + 2y (column 1), the same in R, G, B.
    std::vector<float> elements;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x)
            for (int c = 0; c < 3; ++c)
                elements.push_back(x == 0 ? 1.0f + y : 2.0f + 2.0f * y);
    KSpatialGainGrid grid{elements.data(), 2, 3};
    EXPECT_TRUE(CheckSpatialGainGrid(&grid));
    float out[6];
    InterpolateSpatialGainRow(&grid, 0, 9, out);
    EXPECT_EQ(out[0], 1.0f);
    EXPECT_EQ(out[5], 2.0f);
    InterpolateSpatialGainRow(&grid, 8, 9, out);
    EXPECT_EQ(out[0], 3.0f);
    EXPECT_EQ(out[3], 6.0f);
    InterpolateSpatialGainRow(&grid, 2, 9, out);  // y = 0.5
    EXPECT_EQ(out[1], 1.5f);
    EXPECT_EQ(out[4], 3.0f);
    InterpolateSpatialGainRow(&grid, 6, 9, out);  // y = 1.5
    EXPECT_EQ(out[2], 2.5f);

    // Grids under 2 x 2: unit gain, with a trace.
    KTraceCapture trace;
    KSpatialGainGrid thin{elements.data(), 2, 1};
    EXPECT_FALSE(CheckSpatialGainGrid(&thin));
    EXPECT_FALSE(CheckSpatialGainGrid(nullptr));
    EXPECT_TRUE(trace.Contains("unit gain"));
    InterpolateSpatialGainRow(&thin, 0, 9, out);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(out[i], 1.0f);
}
