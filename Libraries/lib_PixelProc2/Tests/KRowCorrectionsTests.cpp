#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "KRounding.h"
#include "KRowCorrections.h"
#include "RawStageTestSupport.h"

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

namespace {

KInt32 Trunc(double v)
{
    return KTruncToInt32(v);
}

KInt32 Shift14(KInt64 v)
{
    return static_cast<KInt32>(v >> 14);  // arithmetic, then the low 32 bits
}

// The corrections column by column, as written out step by step (all nine polynomial terms, the running sums
// advanced by one addition per column); the drift and the level form one 32-bit running value.
std::vector<KInt16> ReferenceRow(const RowCase& rc)
{
    std::vector<KInt16> row = rc.pixels;
    const KInt32 n = KInt32(row.size() / 3);
    const KUInt32 gridColumns = KUInt32(rc.gain.size() / 3);
    const bool grid = gridColumns >= 2;
    KInt32 s[3], F[3], Q[3], P[3][9];
    KUInt32 DV[3], A[3], dA[3];
    double K[3];
    for (int c = 0; c < 3; ++c) {
        s[c] = Trunc(rc.drift.m_Slope[c] / n * 16384);
        DV[c] = KUInt32(Trunc(rc.drift.m_Mean[c] * 16384)) - KUInt32(s[c]) * KUInt32(n >> 1) +
                KUInt32(Trunc(rc.level[c] * 16384));
        F[c] = Trunc(rc.cf[c] * 16384);
        Q[c] = Trunc(rc.cs[c] * 16384);
        K[c] = rc.scale[c] * 16384 * 256;
    }
    for (int i = 0; i < 27; ++i)
        P[i / 9][i % 9] = Trunc(double(rc.poly[size_t(i)]) * 16384);
    const float w = grid ? float(n) / float(gridColumns - 1) : 0.0f;
    auto gainAt = [&](KUInt32 j, int c) { return rc.gain[std::min(j, gridColumns - 1) * 3 + size_t(c)]; };
    auto segment = [&](KUInt32 j) {
        for (int c = 0; c < 3; ++c) {
            A[c] = KUInt32(Trunc(grid ? K[c] * gainAt(j, c) : K[c]));
            dA[c] = grid ? KUInt32(Trunc(double((gainAt(j + 1, c) - gainAt(j, c)) / w) * K[c])) : 0;
        }
    };
    KUInt32 j = 0;
    double e = w;
    segment(j);
    KInt32 p[3] = {row[0], row[1], row[2]};
    for (KInt32 x = 0; x < n; ++x) {
        if (grid && x >= e) {
            segment(++j);
            e += w;
        }
        KInt32 X[3], u[3];
        for (int c = 0; c < 3; ++c) {
            X[c] = row[size_t(3 * x + c)];
            const KInt32 d = X[c] - p[c];
            const KInt32 sq = Shift14(KInt64(d) * d);
            u[c] = KInt32(KUInt32(X[c]) + KUInt32(Shift14(KInt64(F[c]) * d + KInt64(Q[c]) * sq - KInt32(DV[c]))));
        }
        const KInt32 r = u[0], g = u[1], b = u[2];
        const KInt32 r2 = Shift14(KInt64(r) * r), g2 = Shift14(KInt64(g) * g), b2 = Shift14(KInt64(b) * b);
        const KInt32 rg = Shift14(KInt64(g) * r), rb = Shift14(KInt64(b) * r), gb = Shift14(KInt64(b) * g);
        const KInt32 r3 = Shift14(KInt64(r) * r2), g3 = Shift14(KInt64(g) * g2), b3 = Shift14(KInt64(b) * b2);
        const KInt32 terms[9] = {r2, g2, b2, rg, rb, gb, r3, g3, b3};
        for (int k = 0; k < 3; ++k) {
            KUInt64 sum = 0;  // may wrap with extreme coefficients; only bits 14..45 are kept
            for (int t = 0; t < 9; ++t)
                sum += KUInt64(KInt64(P[k][t]) * terms[t]);
            u[k] = KInt32(KUInt32(u[k]) + KUInt32(Shift14(KInt64(sum))));
        }
        for (int c = 0; c < 3; ++c) {
            const KInt32 v = Shift14(KInt64(u[c]) * (KInt32(A[c]) >> 8));
            row[size_t(3 * x + c)] = KInt16(std::clamp(v, -32768, 32000));
            p[c] = X[c];
            A[c] += dA[c];
            DV[c] += KUInt32(s[c]);
        }
    }
    return row;
}

}  // namespace

namespace {

// Random rows and settings, from gentle ones to values whose products pass 32 bits, over widths around the
// kernel's chunk size and grids of several sizes.
void CompareWithReference()
{
    std::mt19937 random(12345);
    auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
    const int widths[] = {1, 2, 5, 63, 64, 65, 129, 300};
    for (int trial = 0; trial < 160; ++trial) {
        const bool wild = trial % 4 == 3;
        RowCase rc;
        const int n = widths[trial % 8];
        for (int i = 0; i < 3 * n; ++i)
            rc.pixels.push_back(KInt16(wild ? int(random() % 65536) - 32768 : int(random() % 5000) - 500));
        for (int c = 0; c < 3; ++c) {
            rc.cf[c] = wild ? uniform(-3, 3) : uniform(0, 0.05);
            rc.cs[c] = trial % 3 == 0 ? 0 : wild ? uniform(-2, 2) : uniform(-0.05, 0.05);
            rc.drift.m_Slope[c] = wild ? uniform(-5e4, 5e4) : uniform(-20, 20);
            rc.drift.m_Mean[c] = wild ? uniform(-1e5, 1e5) : uniform(-50, 50);
            rc.level[c] = wild ? uniform(-1e5, 1e5) : uniform(-100, 100);
            rc.scale[c] = wild ? uniform(0, 8) : uniform(0.8, 2.5);
        }
        // Polynomials of every form: none, squares, own square and cube, all terms.
        const int form = (trial / 2) % 4;
        for (int k = 0; k < 3; ++k)
            for (int t = 0; t < 9; ++t) {
                const bool used = form == 3 || (form == 1 && t < 3) || (form == 2 && (t == k || t == 6 + k));
                const double range = trial % 16 == 15 ? 1e6 : wild ? 2 : 0.02;  // 1e6: products near 2^62
                if (used)
                    rc.poly[size_t(k * 9 + t)] = float(uniform(-range, range));
            }
        const int gridColumns = int(random() % 12);  // 0 and 1: unit gain
        for (int i = 0; i < 3 * gridColumns; ++i)
            rc.gain.push_back(float(uniform(0.5, 2.0)));
        ASSERT_EQ(rc.Run(), ReferenceRow(rc)) << "trial " << trial << ", " << n << " columns, form " << form
                                              << ", grid " << gridColumns;
    }
}

}  // namespace

TEST(RowCorrections, MatchesTheColumnByColumnReference)
{
    CompareWithReference();
    const rawstage::BaselineKernels baseline;
    CompareWithReference();
}
