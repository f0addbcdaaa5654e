#include <gtest/gtest.h>

#include <vector>

#include "KRowCorrections.h"

namespace {

// One row of pixels and the corrections' inputs, neutral unless a test sets them.
struct RowCase {
    std::vector<KInt16> pixels;  // R, G, B per pixel
    KColorTriple cf = {0, 0, 0};
    KColorTriple cs = {0, 0, 0};
    KRowDrift drift;
    KColorTriple level = {0, 0, 0};
    KPostPoly poly = {};
    std::vector<float> gain;  // grid columns x 3; empty: unit gain
    KColorTriple scale = {1, 1, 1};

    std::vector<KInt16> Run() const
    {
        std::vector<KInt16> row = pixels;
        ApplyRowCorrections(row.data(), KInt32(row.size() / 3), cf, cs, drift, level, poly,
                            gain.empty() ? nullptr : gain.data(), KUInt32(gain.size() / 3), scale);
        return row;
    }
};

// Red of every pixel; grey rows put v into all three channels.
std::vector<KInt16> Grey(std::initializer_list<int> values)
{
    std::vector<KInt16> row;
    for (int v : values)
        row.insert(row.end(), 3, KInt16(v));
    return row;
}

std::vector<int> Channel(const std::vector<KInt16>& row, int c)
{
    std::vector<int> out;
    for (size_t i = size_t(c); i < row.size(); i += 3)
        out.push_back(row[i]);
    return out;
}

}  // namespace

TEST(RowCorrections, NeutralSettingsClipAbove32000AndSaturateBelow)
{
    RowCase r;
    r.pixels = Grey({0, 100, -5000, 31999, 32000, 32001, 32767, -32768});
    EXPECT_EQ(Channel(r.Run(), 1), (std::vector<int>{0, 100, -5000, 31999, 32000, 32000, 32000, -32768}));
    // Doubled: 40000 is written as 32000, and -40000 saturates instead of wrapping to a bright value.
    r.pixels = Grey({20000, -20000, -3});
    r.scale = {2, 2, 2};
    EXPECT_EQ(Channel(r.Run(), 0), (std::vector<int>{32000, -32768, -6}));
}

TEST(RowCorrections, ColumnFiltersUseThePreviousPixelAsRead)
{
    RowCase r;
    r.pixels = Grey({1000, 1000, 2000, 2000, 1000});
    r.cf = {0.5, 0.5, 0.5};  // F = 8192: half the step is added
    EXPECT_EQ(Channel(r.Run(), 0), (std::vector<int>{1000, 1000, 2500, 2000, 500}));
    // Square filter: (1000 x 1000) >> 14 = 61, times 16384 >> 14.
    r.cf = {0, 0, 0};
    r.cs = {1, 1, 1};
    EXPECT_EQ(Channel(r.Run(), 2), (std::vector<int>{1000, 1000, 2061, 2000, 1061}));
    // d x d beyond 32 bits: d = 65535, (d x d) >> 14 = 262136, times -2048 >> 14 = -65534 / 2.
    r.pixels = Grey({-32768, 32767});
    r.cs = {-0.125, -0.125, -0.125};
    EXPECT_EQ(Channel(r.Run(), 0), (std::vector<int>{-32768, 0}));
    // The first pixel never gets a filter term, whatever the row holds.
    r.pixels = Grey({7, 9});
    r.cs = {0, 0, 0};
    r.cf = {3, 3, 3};
    EXPECT_EQ(Channel(r.Run(), 0), (std::vector<int>{7, 15}));
}

TEST(RowCorrections, DriftAndLevelAreSubtracted)
{
    RowCase r;
    r.pixels = Grey({100, 100, 100, 100});
    // Slope 4 over 4 columns: one unit per column; the mean holds at the centre column (2).
    r.drift.m_Slope = {4, 4, 4};
    r.drift.m_Mean = {10, 10, 10};
    EXPECT_EQ(Channel(r.Run(), 0), (std::vector<int>{92, 91, 90, 89}));
    // A level of 2.5 becomes -40960 >> 14 = -3 (the shift rounds toward minus infinity).
    r.drift = {};
    r.level = {2.5, 2.5, 0};
    const std::vector<KInt16> out = r.Run();
    EXPECT_EQ(Channel(out, 0), (std::vector<int>{97, 97, 97, 97}));
    EXPECT_EQ(Channel(out, 2), (std::vector<int>{100, 100, 100, 100}));
}

TEST(RowCorrections, PostPolynomialTerms)
{
    RowCase r;
    r.pixels = {4096, 8192, 4096};  // 1.0, 2.0, 1.0
    r.poly[0] = 0.25f;   // red += 0.25 r²: 4096 x 1024 >> 14 = 256
    r.poly[3] = 1.0f;    // red += r g: (8192 x 4096 >> 14) = 2048
    r.poly[9 + 7] = 1.0f;  // green += g³: g² = 4096, g³ = 2048
    r.poly[18 + 5] = -0.5f;  // blue -= g b / 2: 2048 x -8192 >> 14 = -1024
    EXPECT_EQ(r.Run(), (std::vector<KInt16>{4096 + 256 + 2048, 8192 + 2048, 4096 - 1024}));

    // r x r² beyond 32 bits: u = 40000 (a level of -10000), r² = 97656, r³ = 238417, 16 x r³ >> 14 = 232; the
    // gain of 0.5 brings the result back into range.
    RowCase big;
    big.pixels = {30000, 0, 0};
    big.level = {-10000, 0, 0};
    big.poly[6] = 0.001f;  // trunc(16.384) = 16
    big.scale = {0.5, 0.5, 0.5};
    EXPECT_EQ(big.Run()[0], (40000 + 232) / 2);
}

TEST(RowCorrections, PolynomialFormsGiveIdenticalResults)
{
    // Each pair differs only in a coefficient whose term is 0 on this row (blue is 0), so the kernel takes a
    // fuller form for the second one; the results must not differ.
    std::vector<KInt16> pixels;
    for (int x = 0; x < 64; ++x) {
        pixels.push_back(KInt16(x * 97 - 1500));
        pixels.push_back(KInt16(4000 - x * 53));
        pixels.push_back(0);
    }
    KPostPoly squares = {}, own = {};
    squares[0] = 0.02f;
    squares[1] = -0.01f;
    squares[9 + 2] = 0.03f;
    own[0] = 0.02f;
    own[6] = -0.004f;
    own[9 + 1] = 0.01f;
    own[9 + 7] = 0.002f;
    const std::pair<KPostPoly, int> pairs[] = {{squares, 8}, {squares, 18 + 4}, {own, 5}, {KPostPoly{}, 2}};
    for (const auto& [poly, extra] : pairs) {
        RowCase a;
        a.pixels = pixels;
        a.cf = {0.1, 0.2, 0.3};
        a.poly = poly;
        RowCase b = a;
        b.poly[size_t(extra)] = 0.5f;
        EXPECT_EQ(a.Run(), b.Run()) << "extra coefficient " << extra;
    }
}

TEST(RowCorrections, GainRunsAlongTheGridSegments)
{
    // Grid points 1, 2, 1 over 8 columns: segments of 4 columns; the gain steps by 1/4 per column.
    RowCase r;
    r.pixels = Grey({1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000});
    r.gain = {1, 1, 1, 2, 2, 2, 1, 1, 1};
    EXPECT_EQ(Channel(r.Run(), 1), (std::vector<int>{1000, 1250, 1500, 1750, 2000, 1750, 1500, 1250}));
    // The channel gains scale the grid.
    r.scale = {0.5, 1, 1};
    EXPECT_EQ(Channel(r.Run(), 0), (std::vector<int>{500, 625, 750, 875, 1000, 875, 750, 625}));
    // A grid of one column is no grid: unit gain.
    r.scale = {1, 1, 1};
    r.gain = {3, 3, 3};
    EXPECT_EQ(Channel(r.Run(), 2), (std::vector<int>{1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000}));
    // More grid points than columns: one new segment per column at most, and no read past the grid.
    r.pixels = Grey({1000, 1000, 1000});
    r.gain.assign(3 * 9, 1.0f);
    EXPECT_EQ(Channel(r.Run(), 0), (std::vector<int>{1000, 1000, 1000}));
}
