#include <gtest/gtest.h>

#include <array>
#include <optional>

#include "KHotPixels.h"
#include "RawStageTestSupport.h"
#include "Stage2FilterSupport.h"

using stage2::WorkingImage;

namespace {

using Pixel = std::array<int, 3>;

Pixel At(const WorkingImage& image, int x, int y)
{
    return {image.At(x, y, 0), image.At(x, y, 1), image.At(x, y, 2)};
}

// A 3 x 3 neighbourhood (centre at 1, 1) inside a 5 x 3 image whose other pixels are 200 each.
struct Neighbourhood {
    WorkingImage image{5, 3};
    Neighbourhood(Pixel centre, std::array<Pixel, 8> around)  // ul u ur l r dl d dr
    {
        image.Fill(200, 200, 200);
        const int xy[8][2] = {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {2, 1}, {0, 2}, {1, 2}, {2, 2}};
        for (int i = 0; i < 8; ++i)
            image.Set(xy[i][0], xy[i][1], around[i][0], around[i][1], around[i][2]);
        image.Set(1, 1, centre[0], centre[1], centre[2]);
    }
    Pixel Filter(bool longExposure = false)
    {
        (longExposure ? RemoveHotPixelsRowLongExposure : RemoveHotPixelsRow)(image.Row(0), image.Row(1), image.Row(2),
                                                                              5);
        return At(image, 1, 1);
    }
};

}  // namespace

TEST(HotPixels, ABrightPixelIsReplacedByItsBrightestDirectNeighbour)
{
    const Pixel g{200, 200, 200};
    // Sum 3000 among sums 600..630: the right neighbour (630) has the largest direct sum.
    Neighbourhood n({1000, 1000, 1000}, {g, Pixel{200, 200, 205}, g, Pixel{200, 210, 200}, Pixel{210, 210, 210}, g,
                                         Pixel{200, 200, 201}, g});
    EXPECT_EQ(n.Filter(), (Pixel{210, 210, 210}));
    // Sum 1000: not over twice 630 and no channel above 510: it stays.
    Neighbourhood m({333, 334, 333}, {g, g, g, g, Pixel{210, 210, 210}, g, g, g});
    EXPECT_EQ(m.Filter(), (Pixel{333, 334, 333}));
}

TEST(HotPixels, AStrongColouredPixelGoesEvenWhenNotTwiceAsBright)
{
    // Sum 1000 with red 700 > 1000 / 2 + 10: strong; the diagonals (600) are below it, so it goes.
    const Pixel g{200, 200, 200};
    Neighbourhood n({700, 150, 150}, {g, g, g, g, Pixel{210, 210, 210}, g, g, g});
    EXPECT_EQ(n.Filter(), (Pixel{210, 210, 210}));
    // The same with a diagonal of sum 1200: not strong enough against it, and not over twice it: it stays.
    Neighbourhood m({700, 150, 150}, {g, g, Pixel{400, 400, 400}, g, Pixel{210, 210, 210}, g, g, g});
    EXPECT_EQ(m.Filter(), (Pixel{700, 150, 150}));
}

TEST(HotPixels, BrightDiagonalsPickTheDiagonalReplacement)
{
    // Sum 9000 against direct sums of 600 and a diagonal of 900: high8 > high4, so the brightest diagonal wins
    // (first in the order upper-left, upper-right, lower-left, lower-right).
    const Pixel g{200, 200, 200};
    Neighbourhood n({3000, 3000, 3000},
                    {g, g, Pixel{300, 300, 300}, g, g, Pixel{300, 300, 300}, g, g});
    EXPECT_EQ(n.Filter(), (Pixel{300, 300, 300}));
}

TEST(HotPixels, ADarkPixelNeedsAllEightNeighboursAbove)
{
    const Pixel g{200, 200, 200};
    // Darker than all: replaced by the darkest direct neighbour (the lower one, 570) since the darkest diagonal
    // (600) is not darker.
    Neighbourhood n({10, 10, 10}, {g, g, g, g, g, g, Pixel{190, 190, 190}, g});
    EXPECT_EQ(n.Filter(), (Pixel{190, 190, 190}));
    // A darker diagonal wins.
    Neighbourhood d({10, 10, 10}, {g, g, g, g, g, Pixel{100, 100, 100}, Pixel{190, 190, 190}, g});
    EXPECT_EQ(d.Filter(), (Pixel{100, 100, 100}));
    // One neighbour darker still: the pixel stays.
    Neighbourhood m({10, 10, 10}, {g, Pixel{0, 0, 0}, g, g, g, g, g, g});
    EXPECT_EQ(m.Filter(), (Pixel{10, 10, 10}));
}

TEST(HotPixels, ComparisonsUseTheRowAsItWasBeforeTheCall)
{
    // Column 2 is hot (sum 3000) and takes the colour of its left neighbour (100, 100, 100). Column 3 is dark
    // (sum 100): against its unfiltered left (3000) its darkest direct neighbour is the upper one (60, 120,
    // 120), which wins over the equally dark diagonals; against the replaced left it would be (100, 100, 100).
    WorkingImage image(6, 3);
    image.Fill(200, 200, 200);
    image.Set(1, 0, 100, 100, 100);
    image.Set(2, 0, 50, 150, 100);
    image.Set(3, 0, 60, 120, 120);
    image.Set(1, 1, 100, 100, 100);
    image.Set(2, 1, 1000, 1000, 1000);
    image.Set(3, 1, 30, 40, 30);
    image.Set(1, 2, 100, 100, 100);
    image.Set(2, 2, 100, 100, 100);
    image.Set(3, 2, 100, 100, 100);
    RemoveHotPixelsRow(image.Row(0), image.Row(1), image.Row(2), 6);
    EXPECT_EQ(At(image, 1, 1), (Pixel{100, 100, 100}));
    EXPECT_EQ(At(image, 2, 1), (Pixel{100, 100, 100}));
    EXPECT_EQ(At(image, 3, 1), (Pixel{60, 120, 120}));
    EXPECT_EQ(At(image, 4, 1), (Pixel{200, 200, 200}));
}

TEST(HotPixels, EdgeColumnsAndNarrowRowsStay)
{
    for (int cols : {1, 2, 3}) {
        WorkingImage image(cols, 3);
        image.Fill(200, 200, 200);
        image.Set(0, 1, 5000, 5000, 5000);
        image.Set(cols - 1, 1, 9000, 9000, 9000);
        const WorkingImage before = image;
        RemoveHotPixelsRow(image.Row(0), image.Row(1), image.Row(2), cols);
        RemoveHotPixelsRowLongExposure(image.Row(0), image.Row(1), image.Row(2), cols);
        EXPECT_TRUE(image == before) << cols;
    }
}

TEST(HotPixelsLongExposure, EachChannelIsHeldWithinItsNeighbours)
{
    // Red 900 among reds of at most 300 becomes 300; green -50 among greens of at least 100 becomes 100; blue
    // 250 between 200 and 300 stays.
    Neighbourhood n({900, -50, 250}, {Pixel{100, 100, 200}, Pixel{300, 150, 300}, Pixel{200, 200, 200},
                                      Pixel{250, 120, 200}, Pixel{50, 100, 200}, Pixel{0, 400, 200},
                                      Pixel{120, 100, 200}, Pixel{280, 100, 200}});
    EXPECT_EQ(n.Filter(true), (Pixel{300, 100, 250}));
    // Equal to the largest neighbour is not above it.
    Neighbourhood e({300, 100, 250}, {Pixel{300, 100, 200}, Pixel{300, 150, 300}, Pixel{200, 200, 200},
                                      Pixel{250, 120, 200}, Pixel{50, 100, 200}, Pixel{0, 400, 200},
                                      Pixel{120, 100, 200}, Pixel{280, 100, 200}});
    EXPECT_EQ(e.Filter(true), (Pixel{300, 100, 250}));
}

TEST(HotPixelsLongExposure, WideRowsMatchAPixelByPixelModel)
{
    // Rows longer than the filter's internal chunk, with noise: every value equals the clamp of its unfiltered
    // value between the least and the largest of its eight unfiltered neighbours.
    for (int cols : {3, 257, 258, 600})
        for (bool vector : {true, false}) {
            std::optional<rawstage::BaselineKernels> build;
            if (!vector)
                build.emplace();
            WorkingImage image(cols, 3);
            image.FillNoise(uint32_t(cols), 0, 2000);
            const WorkingImage before = image;
            RemoveHotPixelsRowLongExposure(image.Row(0), image.Row(1), image.Row(2), cols);
            for (int x = 0; x < cols; ++x)
                for (int c = 0; c < 3; ++c) {
                    int expected = before.At(x, 1, c);
                    if (x > 0 && x < cols - 1) {
                        int lo = 32767, hi = -32768;
                        for (int dy = -1; dy <= 1; ++dy)
                            for (int dx = -1; dx <= 1; ++dx)
                                if (dx != 0 || dy != 0) {
                                    lo = std::min<int>(lo, before.At(x + dx, 1 + dy, c));
                                    hi = std::max<int>(hi, before.At(x + dx, 1 + dy, c));
                                }
                        expected = std::clamp(expected, lo, hi);
                    }
                    ASSERT_EQ(image.At(x, 1, c), expected)
                        << cols << (vector ? " vector: " : " baseline: ") << x << "," << c;
                }
        }
}

TEST(HotPixels, TheVectorAndBaselineBuildsAgree)
{
    // Noisy rows with bright and dark spikes, wider than the filter's internal chunk.
    for (int cols : {3, 5, 256, 257, 700}) {
        WorkingImage image(cols, 5);
        image.FillNoise(uint32_t(cols), 800, 200);
        for (int x = 3; x < cols; x += 37)
            image.Set(x, 2, 4000, 3000 + x, 3500);
        for (int x = 5; x < cols; x += 41)
            image.Set(x, 1, -300, 0, 10);
        WorkingImage vector = image, baseline = image;
        stage2::HotPixelStep(vector, false);
        {
            rawstage::BaselineKernels build;
            stage2::HotPixelStep(baseline, false);
        }
        EXPECT_TRUE(vector == baseline) << cols;
        EXPECT_FALSE(vector == image) << cols;
    }
}
