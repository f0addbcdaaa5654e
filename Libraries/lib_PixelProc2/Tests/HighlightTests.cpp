#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "KHighlights.h"
#include "Stage2FilterSupport.h"

using stage2::WorkingImage;

namespace {

using Pixel = std::array<int, 3>;

// The limits of saturation levels {4000} x 3 with the neutral (1, 1, 1): clip 4500, threshold 1500, weight 1365.
struct Limits {
    KInt32 t[3], l[3], w[3];
    Limits(KInt32 saturation = 4000, std::array<double, 3> n = {1, 1, 1})
    {
        const KInt32 s[3] = {saturation, saturation, saturation};
        CalculateHighlightLimits(n.data(), s, t, l, w);
    }
};

Pixel Neutralize(Pixel p, const Limits& lim)
{
    KInt16 row[3] = {KInt16(p[0]), KInt16(p[1]), KInt16(p[2])};
    NeutralizeHighlightsRow(row, nullptr, nullptr, 1, lim.t, lim.l, lim.w);
    return {row[0], row[1], row[2]};
}

Pixel At(const WorkingImage& image, int x, int y)
{
    return {image.At(x, y, 0), image.At(x, y, 1), image.At(x, y, 2)};
}

}  // namespace

TEST(HighlightLimits, FromSaturationLevelsAndNeutral)
{
    const Limits grey;
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(grey.l[c], 4500);
        EXPECT_EQ(grey.t[c], 1500);
        EXPECT_EQ(grey.w[c], 1365);
    }
    // A neutral of half red: f = min(9000, 4500, 4500); weights round(2250 x 4096 / 11250) = 819 and 1638;
    // q = 2 x 2250 / 3 = 1500.
    const Limits warm(4000, {0.5, 1.0, 1.0});
    EXPECT_EQ((Pixel{warm.l[0], warm.l[1], warm.l[2]}), (Pixel{2250, 4500, 4500}));
    EXPECT_EQ((Pixel{warm.w[0], warm.w[1], warm.w[2]}), (Pixel{819, 1638, 1638}));
    EXPECT_EQ((Pixel{warm.t[0], warm.t[1], warm.t[2]}), (Pixel{750, 3000, 3000}));
}

TEST(NeutralizeHighlights, PixelsBelowAThresholdStay)
{
    const Limits lim;
    for (Pixel p : {Pixel{1500, 4000, 4000}, Pixel{4000, 4000, 1400}, Pixel{-3, 20000, 20000}, Pixel{0, 0, 0}})
        EXPECT_EQ(Neutralize(p, lim), p);
}

TEST(NeutralizeHighlights, AClippedPixelBecomesNeutralWithoutLosingValue)
{
    // e = min(3100, 3050, 3020) reaches the span 3000: the full delta. Neutral of the sum 13670 is 4555; the
    // deltas (-45, 5, 35) are lifted by 45.
    EXPECT_EQ(Neutralize({4600, 4550, 4520}, Limits()), (Pixel{4600, 4600, 4600}));
}

TEST(NeutralizeHighlights, NearlyClippedPixelsMoveInPart)
{
    // e = 500 of 3000: k = 89478, a = 13654, b = 5006, w = 1529 (about 9 %); neutral 2499, deltas (0, 1000, 500).
    EXPECT_EQ(Neutralize({3000, 2000, 2500}, Limits()), (Pixel{3000, 2093, 2546}));
}

TEST(NeutralizeHighlights, ANarrowGreenSpanChangesNothing)
{
    Limits lim;
    lim.t[1] = lim.l[1] - 99;
    EXPECT_EQ(Neutralize({4600, 4550, 4520}, lim), (Pixel{4600, 4550, 4520}));
    lim.t[1] = lim.l[1] - 100;
    EXPECT_EQ(Neutralize({4600, 4550, 4520}, lim), (Pixel{4600, 4600, 4600}));
}

TEST(NeutralizeHighlights, ResultsSaturateInsteadOfWrapping)
{
    Limits lim;
    lim.w[0] = lim.w[1] = lim.w[2] = 4096;  // the neutral of a sum is the sum itself
    EXPECT_EQ(Neutralize({30000, 30000, 30000}, lim), (Pixel{32767, 32767, 32767}));
}

TEST(Despeckle, ReddishNeighboursOfAClippedPixelBecomeNeutral)
{
    // Trigger levels 4781 (R) and 9562 (G + B), reached in full 562 and 1125 above them; a neighbour is reddish
    // when R x 2560 > (G + B) x 1024.
    WorkingImage image(7, 3);
    image.Fill(500, 2000, 2000);                   // blue-green: stays
    image.Set(3, 1, 6000, 6000, 6000);            // clipped
    image.Set(2, 0, 3000, 1000, 1000);            // reddish: neutral of 5000 = (1365 x 5000) >> 12 = 1666
    image.Set(4, 2, -1000, -1100, -1100);         // negative red: blended a quarter toward -1067
    image.Set(0, 1, 3000, 1000, 1000);            // reddish, but not a neighbour
    const WorkingImage before = image;
    const Limits lim;
    DespeckleRow(image.Row(1), image.Row(0), image.Row(2), 7, lim.t, lim.l, lim.w);
    EXPECT_EQ(At(image, 3, 1), (Pixel{6000, 6000, 6000}));
    EXPECT_EQ(At(image, 2, 0), (Pixel{1666, 1666, 1666}));
    EXPECT_EQ(At(image, 4, 2), (Pixel{-1017, -1092, -1092}));
    EXPECT_EQ(At(image, 0, 1), (Pixel{3000, 1000, 1000}));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 7; ++x)
            if (!(x == 2 && y == 0) && !(x == 4 && y == 2)) {
                EXPECT_EQ(At(image, x, y), At(before, x, y)) << x << "," << y;
            }
}

TEST(Despeckle, LaterColumnsSeeEarlierChanges)
{
    // Two clipped pixels side by side: the first makes the second neutral (6331 each), which still triggers.
    WorkingImage image(8, 3);
    image.Fill(1000, 1000, 1000);  // grey neighbours are "reddish" too: they become the neutral of their sum
    image.Set(3, 1, 6000, 6000, 6000);
    image.Set(4, 1, 7000, 6000, 6000);
    const Limits lim;
    DespeckleRow(image.Row(1), image.Row(0), image.Row(2), 8, lim.t, lim.l, lim.w);
    EXPECT_EQ(At(image, 4, 1), (Pixel{6331, 6331, 6331}));  // (1365 x 19000) >> 12
    EXPECT_EQ(At(image, 3, 1), (Pixel{5998, 5998, 5998}));  // treated by column 4 after its own step
    EXPECT_EQ(At(image, 5, 1), (Pixel{999, 999, 999}));     // grey: (1365 x 3000) >> 12
    EXPECT_EQ(At(image, 1, 1), (Pixel{1000, 1000, 1000}));  // column 2 triggers nothing
}

TEST(Despeckle, GuardsAndEdges)
{
    const Limits lim;
    for (int cols : {1, 4}) {
        WorkingImage image(cols, 3);
        image.Fill(5000, 5000, 5000);
        const WorkingImage before = image;
        DespeckleRow(image.Row(1), image.Row(0), image.Row(2), cols, lim.t, lim.l, lim.w);
        DespeckleBulbRow(image.Row(1), image.Row(0), image.Row(2), cols, lim.t, lim.l, lim.w);
        EXPECT_TRUE(image == before) << cols;
    }
    Limits narrow = lim;
    narrow.t[1] = narrow.l[1] - 99;
    WorkingImage image(9, 3);
    image.Fill(3000, 1000, 1000);
    image.Set(4, 1, 5000, 5000, 5000);
    const WorkingImage before = image;
    DespeckleRow(image.Row(1), image.Row(0), image.Row(2), 9, narrow.t, narrow.l, narrow.w);
    DespeckleBulbRow(image.Row(1), image.Row(0), image.Row(2), 9, narrow.t, narrow.l, narrow.w);
    EXPECT_TRUE(image == before);
    // Clipped pixels in columns 0, 1, n - 2 and n - 1 trigger nothing; columns 0 and n - 1 never change.
    image.Fill(3000, 1000, 1000);
    for (int x : {0, 1, 7, 8})
        image.Set(x, 1, 5000, 5000, 5000);
    const WorkingImage edges = image;
    DespeckleRow(image.Row(1), image.Row(0), image.Row(2), 9, lim.t, lim.l, lim.w);
    EXPECT_TRUE(image == edges);
}

TEST(DespeckleBulb, ClippedPixelsAboveAndBelowTriggerAWiderNeighbourhood)
{
    WorkingImage image(9, 3);
    image.Fill(3000, 1000, 1000);  // reddish everywhere
    image.Set(4, 1, 6000, 6000, 6000);  // the middle row's clipped pixel triggers nothing in its own call
    const Limits lim;
    WorkingImage before = image;
    DespeckleBulbRow(image.Row(1), image.Row(0), image.Row(2), 9, lim.t, lim.l, lim.w);
    EXPECT_TRUE(image == before);

    image.Set(4, 0, 6000, 6000, 6000);  // above at column 4
    before = image;
    DespeckleBulbRow(image.Row(1), image.Row(0), image.Row(2), 9, lim.t, lim.l, lim.w);
    const Pixel neutral{1666, 1666, 1666};
    for (int x = 0; x < 9; ++x) {
        const bool aboveTreated = x >= 2 && x <= 6 && x != 4;
        EXPECT_EQ(At(image, x, 0), aboveTreated ? neutral : At(before, x, 0)) << x;
        if (x != 4) {
            EXPECT_EQ(At(image, x, 1), x >= 2 && x <= 6 ? neutral : At(before, x, 1)) << x;
        }
        EXPECT_EQ(At(image, x, 2), x >= 3 && x <= 5 ? neutral : At(before, x, 2)) << x;
    }
    // The middle row's clipped pixel is treated too: its neutral is (1365 x 18000) >> 12.
    EXPECT_EQ(At(image, 4, 1), (Pixel{5998, 5998, 5998}));
}

TEST(DespeckleBulb, APixelBelowTriggersOnItsValueAtTheStartOfTheStep)
{
    WorkingImage image(9, 3);
    image.Fill(3000, 1000, 1000);
    image.Set(4, 2, 6000, 6000, 6000);  // below at column 4: treats row 2..6 and above 3..5
    const Limits lim;
    const WorkingImage before = image;
    DespeckleBulbRow(image.Row(1), image.Row(0), image.Row(2), 9, lim.t, lim.l, lim.w);
    const Pixel neutral{1666, 1666, 1666};
    for (int x = 0; x < 9; ++x) {
        EXPECT_EQ(At(image, x, 0), x >= 3 && x <= 5 ? neutral : At(before, x, 0)) << x;
        EXPECT_EQ(At(image, x, 1), x >= 2 && x <= 6 ? neutral : At(before, x, 1)) << x;
        EXPECT_EQ(At(image, x, 2), At(before, x, 2)) << x;
    }
}

// A pixel just over the trigger levels treats its neighbours in part, by how far over it is.
TEST(Despeckle, APixelJustOverTheTriggerLevelsTreatsInPart)
{
    const Limits lim;  // trigger 4781 and 9562, whole 562 and 1125 above them
    for (int over : {0, 100, 281, 562, 1000}) {
        WorkingImage image(7, 3);
        image.Fill(3000, 1000, 1000);  // reddish: neutral 1666
        image.Set(3, 1, 4781 + over, 4781 + 2 * over, 4781 + 2 * over);
        DespeckleRow(image.Row(1), image.Row(0), image.Row(2), 7, lim.t, lim.l, lim.w);
        const KInt64 w = std::min<KInt64>(over * 4096 / 562, 4096);
        const KInt16 red = static_cast<KInt16>(3000 + (((1666 - 3000) * w) >> 12));
        const KInt16 other = static_cast<KInt16>(1000 + (((1666 - 1000) * w) >> 12));
        EXPECT_EQ(At(image, 2, 0), (Pixel{red, other, other})) << over;
        EXPECT_EQ(At(image, 0, 1), (Pixel{3000, 1000, 1000})) << over;
    }
}

// Along a smooth warm highlight that rises through the trigger levels, a neighbour made neutral does not
// trigger in turn when the test reads the rows as found: the ramp turns neutral gradually, without a step.
TEST(Despeckle, AWarmRampBlendsIntoNeutral)
{
    const Limits lim;
    const int width = 500, rows = 6;
    WorkingImage image(width, rows);
    // Red rises through its trigger level; green and blue stay below theirs until late in the ramp.
    image.FillBy([](int32_t x, int32_t y, int c) {
        return c == 0 ? 4300 + 6 * x + (y % 2) * 3 : c == 1 ? 4300 + 3 * x : 3900 + 3 * x;
    });
    std::vector<KInt16> found(size_t(width) * 3), foundBelow(size_t(width) * 3);
    std::memcpy(found.data(), image.Row(1), found.size() * sizeof(KInt16));
    for (int r = 1; r < rows - 1; ++r) {
        std::memcpy(foundBelow.data(), image.Row(r + 1), foundBelow.size() * sizeof(KInt16));
        DespeckleRow(image.Row(r), image.Row(r - 1), image.Row(r + 1), width, lim.t, lim.l, lim.w, found.data());
        std::swap(found, foundBelow);
    }
    for (int x = 2; x < width - 3; ++x)
        for (int c = 0; c < 3; ++c)
            ASSERT_LE(std::abs(image.At(x + 1, 2, c) - image.At(x, 2, c)), 40) << x << " channel " << c;
    // Far into the ramp the highlight is neutral.
    EXPECT_NEAR(image.At(width - 4, 2, 0), image.At(width - 4, 2, 2), 40);
}
