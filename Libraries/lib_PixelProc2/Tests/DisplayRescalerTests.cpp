#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <vector>

#include "ColourTestPixmaps.h"
#include "Display/KCubicKernel.h"
#include "Display/KRescaleRows.h"
#include "KDisplayRescaler.h"
#include "KExceptionPixelProc.h"

namespace {
using namespace KCubicKernel;

// A plain BGRA image for the reference passes below.
struct Image {
    int w = 0, h = 0;
    std::vector<uint8_t> px;
    Image(int width, int height) : w(width), h(height), px(static_cast<size_t>(width * height * 4)) {}
    uint8_t* At(int x, int y) { return &px[static_cast<size_t>((y * w + x) * 4)]; }
    const uint8_t* At(int x, int y) const { return &px[static_cast<size_t>((y * w + x) * 4)]; }
};

// The passes as written, each from a whole image into a new one (the intermediate of a two-pass scale is an
// image of its own, so no pass reads what it wrote). Positions by the step rule; taps by the edge rules.
struct Step {
    uint32_t step, fraction = 0;
    int advanced = 0;
    Step(int n, int m) : step(static_cast<uint32_t>((n - 1) * 32768) / static_cast<uint32_t>(m)) {}
    void Next()
    {
        fraction += step;
        if (fraction >= 32768) {
            advanced += static_cast<int>(fraction >> 15);
            fraction &= 0x7FFF;
        }
    }
};

uint8_t Cubic(int p, int a2, int a1, int s0, int b1)
{
    const int v = (kT0[p] * a2 + kT1[p] * a1 + kT2[p] * s0 + kT3[p] * b1) >> 15;
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

Image RefRowsNearest(const Image& s, int m)
{
    Image d(s.w, m);
    Step st(s.h, m);
    for (int y = 0; y < m; ++y, st.Next())
        std::copy_n(s.At(0, st.advanced), s.w * 4, d.At(0, y));
    return d;
}

Image RefColumnsNearest(const Image& s, int m)
{
    Image d(m, s.h);
    Step st(s.w, m);
    for (int x = 0; x < m; ++x, st.Next())
        for (int y = 0; y < s.h; ++y)
            std::copy_n(s.At(st.advanced, y), 4, d.At(x, y));
    return d;
}

Image RefRowsCubic(const Image& s, int m)
{
    const int n = s.h;
    Image d(s.w, m);
    Step st(n, m);
    for (int j = 0; j < m; ++j, st.Next()) {
        const int pos = n - 1 - st.advanced, y = m - 1 - j;
        if (st.fraction == 0) {
            std::copy_n(s.At(0, pos), s.w * 4, d.At(0, y));
            continue;
        }
        const int behind = pos == n - 1 ? pos : pos + 1;
        const int ahead1 = pos - 1;
        const int ahead2 = pos - 2 < 0 ? ahead1 : pos - 2;
        for (int x = 0; x < s.w; ++x)
            for (int k = 0; k < 4; ++k)
                d.At(x, y)[k] = Cubic(static_cast<int>(st.fraction >> 8), s.At(x, ahead2)[k], s.At(x, ahead1)[k],
                                      s.At(x, pos)[k], s.At(x, behind)[k]);
    }
    return d;
}

Image RefColumnsCubic(const Image& s, int m)
{
    const int n = s.w;
    Image d(m, s.h);
    Step st(n, m);
    for (int j = 0; j < m; ++j, st.Next()) {
        const int pos = n - 1 - st.advanced, x = m - 1 - j;
        int behind = std::min(pos + 1, n - 1), ahead1 = pos - 1, ahead2 = pos - 2;
        if (ahead2 < 0)
            ahead2 = ahead1;  // no pixel there: the nearest one ahead
        if (j == m - 2)
            ahead2 = ahead1;
        if (j == m - 1)
            ahead1 = ahead2 = pos;
        for (int y = 0; y < s.h; ++y) {
            if (st.fraction == 0) {
                std::copy_n(s.At(pos, y), 4, d.At(x, y));
                continue;
            }
            for (int k = 0; k < 4; ++k)
                d.At(x, y)[k] = Cubic(static_cast<int>(st.fraction >> 8), s.At(ahead2, y)[k], s.At(ahead1, y)[k],
                                      s.At(pos, y)[k], s.At(behind, y)[k]);
        }
    }
    return d;
}

Image RefResample(const Image& s, int dW, int dH)
{
    if (dW == s.w)
        return dH < s.h ? RefRowsNearest(s, dH) : dH > s.h ? RefRowsCubic(s, dH) : s;
    if (dW < s.w) {
        if (dH == s.h)
            return RefColumnsNearest(s, dW);
        return dH < s.h ? RefRowsNearest(RefColumnsNearest(s, dW), dH) : RefRowsCubic(RefColumnsNearest(s, dW), dH);
    }
    if (dH == s.h)
        return RefColumnsCubic(s, dW);
    return dH < s.h ? RefColumnsCubic(RefRowsNearest(s, dH), dW) : RefRowsCubic(RefColumnsCubic(s, dW), dH);
}

Image ImageOf(const TestPixmap& p, const KRect& r)
{
    Image img(r.Width(), r.Height());
    for (int y = 0; y < r.Height(); ++y)
        std::copy_n(p.At(r.left, r.top + y), r.Width() * 4, img.At(0, y));
    return img;
}

}  // namespace

TEST(CubicKernel, FixedPhasesSymmetryAndRowSums)
{
    struct Row {
        int p, t0, t1, t2, t3;
    };
    for (const Row& r : {Row{0, 0, 0, 32768, 0}, Row{1, -13, 143, 32776, -138}, Row{32, -565, 7096, 28465, -2227},
                         Row{64, -1601, 17985, 17985, -1601}, Row{96, -2227, 28465, 7096, -565},
                         Row{127, -138, 32776, 143, -13}}) {
        EXPECT_EQ(kT0[r.p], r.t0) << r.p;
        EXPECT_EQ(kT1[r.p], r.t1) << r.p;
        EXPECT_EQ(kT2[r.p], r.t2) << r.p;
        EXPECT_EQ(kT3[r.p], r.t3) << r.p;
    }
    for (int p = 1; p < kPhases; ++p) {
        EXPECT_EQ(kT3[p], kT0[128 - p]) << p;
        EXPECT_EQ(kT2[p], kT1[128 - p]) << p;
    }
    for (int p = 0; p < kPhases; ++p) {
        const int sum = kT0[p] + kT1[p] + kT2[p] + kT3[p];
        EXPECT_EQ(sum, p == 32 || p == 96 ? 32769 : 32768) << p;
        // Smooth: the weight of the current pixel falls, the next one's rises, from phase to phase.
        if (p >= 2) {
            EXPECT_LT(kT2[p], kT2[p - 1]) << p;
            EXPECT_GT(kT1[p], kT1[p - 1]) << p;
        }
    }
}

TEST(DisplayRescaler, EqualSizesCopyExactlyIncludingAlpha)
{
    TestPixmap src(kPixelType32BGRA, 9, 7), dst(kPixelType32BGRA, 12, 10);
    src.FillRandom(1);
    dst.Fill(0xEE);
    const KRect sr(2, 1, 8, 6), dr(5, 4, 11, 9);
    ResamplePixmapRect(&dst.Pixmap(), &dr, &src.Pixmap(), &sr);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 12; ++x) {
            const bool inside = x >= 5 && x < 11 && y >= 4 && y < 9;
            for (int k = 0; k < 4; ++k)
                ASSERT_EQ(dst.At(x, y)[k], inside ? src.At(x - 3, y - 3)[k] : 0xEE) << x << "," << y;
        }
}

TEST(DisplayRescaler, ClippingMovesTheOtherRectangleInProportion)
{
    TestPixmap dst(kPixelType32BGRA, 100, 60), src(kPixelType32BGRA, 50, 30);
    struct Case {
        KRect dr, sr, clippedDr, clippedSr;
    };
    const Case cases[] = {
        // Destination at twice the size hanging 10 px off each edge: 5 source pixels lost on that side.
        {{-10, 0, 90, 50}, {0, 0, 50, 25}, {0, 0, 90, 50}, {5, 0, 50, 25}},
        {{0, -10, 100, 50}, {0, 0, 50, 30}, {0, 0, 100, 50}, {0, 5, 50, 30}},
        {{10, 0, 110, 60}, {0, 0, 50, 30}, {10, 0, 100, 60}, {0, 0, 45, 30}},
        {{0, 20, 100, 70}, {0, 0, 50, 25}, {0, 20, 100, 60}, {0, 0, 50, 20}},
        // A source hanging off its pixmap moves the destination instead.
        {{0, 0, 40, 20}, {-10, 0, 30, 20}, {10, 0, 40, 20}, {0, 0, 30, 20}},
        {{0, 0, 100, 60}, {0, 0, 60, 30}, {0, 0, 84, 60}, {0, 0, 50, 30}},
        // Both.
        {{-20, -20, 80, 80}, {-5, 0, 45, 20}, {0, 0, 80, 60}, {5, 4, 45, 16}},
    };
    for (const Case& k : cases) {
        KRect dr = k.dr, sr = k.sr;
        ASSERT_TRUE(ClipResampleRects(dst.Pixmap(), dr, src.Pixmap(), sr)) << "case " << (&k - cases);
        EXPECT_EQ(dr, k.clippedDr) << "case " << (&k - cases);
        EXPECT_EQ(sr, k.clippedSr) << "case " << (&k - cases);
    }
    // Nothing left: empty, reversed or wholly outside rectangles.
    const KRect refused[][2] = {{{0, 0, 0, 10}, {0, 0, 10, 10}},       {{0, 0, 10, 10}, {5, 5, 5, 9}},
                                {{100, 0, 120, 10}, {0, 0, 10, 10}},   {{0, -30, 10, 0}, {0, 0, 10, 10}},
                                {{0, 0, 10, 10}, {50, 0, 60, 10}},     {{0, 0, 10, 10}, {-10, -10, 0, 0}},
                                {{10, 10, 0, 0}, {0, 0, 10, 10}},      {{-50, 0, -1, 10}, {0, 0, 10, 10}}};
    for (const auto& pair : refused) {
        KRect dr = pair[0], sr = pair[1];
        EXPECT_FALSE(ClipResampleRects(dst.Pixmap(), dr, src.Pixmap(), sr))
            << dr.left << "," << dr.top << "," << dr.right << "," << dr.bottom;
    }
}

TEST(DisplayRescaler, EveryScaleMatchesThePassesAppliedOneAfterTheOther)
{
    // All nine cases of the pass table, one-row and one-column sources among them, at an offset inside larger
    // pixmaps whose other pixels must stay untouched; then a few large enlargements that reach every phase.
    struct Scale {
        int sW, sH, dW, dH;
    };
    std::vector<Scale> scales;
    const int sourceSizes[] = {1, 2, 3, 5, 8};
    const int destinationSizes[] = {1, 2, 3, 4, 7, 12};
    for (int sW : sourceSizes)
        for (int sH : sourceSizes)
            for (int dW : destinationSizes)
                for (int dH : destinationSizes)
                    scales.push_back({sW, sH, dW, dH});
    for (const Scale& big : {Scale{7, 3, 300, 3}, Scale{3, 6, 3, 280}, Scale{5, 4, 260, 3}, Scale{9, 5, 4, 270},
                             Scale{6, 7, 150, 170}})
        scales.push_back(big);
    uint32_t seed = 0;
    for (const Scale& k : scales) {
        TestPixmap src(kPixelType32BGRA, k.sW + 3, k.sH + 2), dst(kPixelType32BGRA, k.dW + 4, k.dH + 1);
        src.FillRandom(++seed);
        dst.Fill(0xEE);
        const KRect sr(2, 1, 2 + k.sW, 1 + k.sH), dr(3, 1, 3 + k.dW, 1 + k.dH);
        ResamplePixmapRect(&dst.Pixmap(), &dr, &src.Pixmap(), &sr);
        const Image expected = RefResample(ImageOf(src, sr), k.dW, k.dH);
        for (int y = 0; y < dst.Height(); ++y)
            for (int x = 0; x < dst.Width(); ++x) {
                const bool inside = x >= dr.left && x < dr.right && y >= dr.top && y < dr.bottom;
                for (int c = 0; c < 4; ++c)
                    ASSERT_EQ(dst.At(x, y)[c], inside ? expected.At(x - dr.left, y - dr.top)[c] : uint8_t{0xEE})
                        << k.sW << "x" << k.sH << " -> " << k.dW << "x" << k.dH << " at " << x << "," << y;
            }
    }
}

TEST(CubicKernel, RowBlendIsThePlainWeightedSumAtEveryPhase)
{
    std::mt19937 random(21);
    uint8_t rows[4][64], out[64];
    for (int p = 0; p < kPhases; ++p) {
        for (auto& row : rows)
            for (uint8_t& b : row)
                b = static_cast<uint8_t>(random() % 4 == 0 ? (random() % 2) * 255 : random());
        KRescale::CubicRowBlend(out, rows[0], rows[1], rows[2], rows[3], p, 64);
        for (int i = 0; i < 64; ++i)
            ASSERT_EQ(out[i], Cubic(p, rows[0][i], rows[1][i], rows[2][i], rows[3][i])) << p << " " << i;
    }
}

TEST(DisplayRescaler, DoublingAOneRowSourceRepeatsTheRow)
{
    TestPixmap src(kPixelType32BGRA, 6, 1), dst(kPixelType32BGRA, 6, 2);
    src.FillRandom(3);
    const KRect sr(0, 0, 6, 1), dr(0, 0, 6, 2);
    ResamplePixmapRect(&dst.Pixmap(), &dr, &src.Pixmap(), &sr);
    for (int y = 0; y < 2; ++y)
        EXPECT_TRUE(std::equal(src.At(0, 0), src.At(0, 0) + 24, dst.At(0, y))) << y;
}

TEST(DisplayRescaler, KnownValuesOfATwoPixelRowEnlarged)
{
    // 0 and 200 to four pixels, right to left: the last source pixel as it stands, then phases 32 and 64, and the
    // last destination pixel with all of T0 + T1 + T2 on s[0].
    TestPixmap src(kPixelType32BGRA, 2, 1), dst(kPixelType32BGRA, 4, 1);
    src.Fill(0);
    std::fill_n(src.At(1, 0), 4, uint8_t{200});
    const KRect sr(0, 0, 2, 1), dr(0, 0, 4, 1);
    ResamplePixmapRect(&dst.Pixmap(), &dr, &src.Pixmap(), &sr);
    const int expected[4] = {200, 100, 160, 200};
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(dst.At(x, 0)[1], expected[x]) << x;
}

TEST(DisplayRescaler, CubicPassesInPlaceReadTheRowsTheyStartedFrom)
{
    // The source rows are the first rows of the destination rectangle: 3 rows to 4 needs row 2 again after row 2
    // of the destination has been written.
    for (auto [n, m] : {std::pair{3, 4}, std::pair{2, 4}, std::pair{5, 6}, std::pair{4, 9}}) {
        TestPixmap inPlace(kPixelType32BGRA, 5, m), separate(kPixelType32BGRA, 5, n), expected(kPixelType32BGRA, 5, m);
        inPlace.FillRandom(static_cast<uint32_t>(n * 10 + m));
        std::copy_n(inPlace.Data().begin(), separate.Data().size(), separate.Data().begin());
        ScaleRowsUpCubic(expected.Pixmap(), KRect(0, 0, 5, m), separate.Pixmap(), KRect(0, 0, 5, n));
        ScaleRowsUpCubic(inPlace.Pixmap(), KRect(0, 0, 5, m), inPlace.Pixmap(), KRect(0, 0, 5, n));
        EXPECT_EQ(inPlace.Data(), expected.Data()) << n << " -> " << m;
        // The same along a row for the column pass.
        TestPixmap row(kPixelType32BGRA, m, 2), rowSource(kPixelType32BGRA, n, 2), rowExpected(kPixelType32BGRA, m, 2);
        row.FillRandom(static_cast<uint32_t>(n + m));
        for (int y = 0; y < 2; ++y)
            std::copy_n(row.At(0, y), n * 4, rowSource.At(0, y));
        ScaleColumnsUpCubic(rowExpected.Pixmap(), KRect(0, 0, m, 2), rowSource.Pixmap(), KRect(0, 0, n, 2));
        ScaleColumnsUpCubic(row.Pixmap(), KRect(0, 0, m, 2), row.Pixmap(), KRect(0, 0, n, 2));
        EXPECT_EQ(row.Data(), rowExpected.Data()) << n << " -> " << m;
    }
}

TEST(DisplayRescaler, ExposureWarnings)
{
    const KWarningColor shadow{0, 0, 255, 128}, highlight{255, 0, 0, 255}, transparent{10, 20, 30, 0};
    struct Case {
        uint8_t b, g, r, a;
        int shadowThreshold, highlightThreshold;
        KWarningColor shadowColor;
        uint8_t expected[4];
    };
    auto blend = [](int v, int c, int a) {
        const int s = v * (255 - a) + c * a;
        return static_cast<uint8_t>(((s >> 8) + s + 1) >> 8);
    };
    const Case cases[] = {
        // Luma of (50, 50, 50) is trunc(50.5) = 50: at the threshold, blended.
        {50, 50, 50, 7, 50, 255, shadow, {blend(50, 255, 128), blend(50, 0, 128), blend(50, 0, 128), 255}},
        {50, 50, 50, 7, 49, 255, shadow, {50, 50, 50, 7}},
        // 0.3 x 10 + 0.55 x 20 + 0.15 x 31 + 0.5 = 19.15: luma 19.
        {31, 20, 10, 9, 19, 255, shadow, {blend(31, 255, 128), blend(20, 0, 128), blend(10, 0, 128), 255}},
        {31, 20, 10, 9, 18, 255, shadow, {31, 20, 10, 9}},
        // Pure white against highlight threshold 255: the highlight colour at full weight.
        {255, 255, 255, 0, 10, 255, shadow, {0, 0, 255, 255}},
        {200, 254, 10, 3, 0, 255, shadow, {200, 254, 10, 3}},
        // Shadow colour of alpha 0: only the alpha changes.
        {3, 4, 5, 6, 100, 255, transparent, {3, 4, 5, 255}},
    };
    for (const Case& k : cases) {
        TestPixmap src(kPixelType32BGRA, 2, 2), dst(kPixelType32BGRA, 2, 2);
        for (int i = 0; i < 4; ++i) {
            uint8_t* p = src.At(i % 2, i / 2);
            p[0] = k.b, p[1] = k.g, p[2] = k.r, p[3] = k.a;
        }
        const KRect r(0, 0, 2, 2);
        CopyRectWithExposureWarnings(&dst.Pixmap(), &r, &src.Pixmap(), &r, k.shadowThreshold, k.highlightThreshold,
                                     k.shadowColor, highlight);
        for (int i = 0; i < 4; ++i)
            EXPECT_TRUE(std::equal(k.expected, k.expected + 4, dst.At(i % 2, i / 2))) << "case " << (&k - cases);
    }
    // Different sizes: scaled, no warnings.
    TestPixmap src(kPixelType32BGRA, 2, 2), dst(kPixelType32BGRA, 4, 4), plain(kPixelType32BGRA, 4, 4);
    src.Fill(0);
    const KRect sr(0, 0, 2, 2), dr(0, 0, 4, 4);
    CopyRectWithExposureWarnings(&dst.Pixmap(), &dr, &src.Pixmap(), &sr, 100, 1, shadow, highlight);
    ResamplePixmapRect(&plain.Pixmap(), &dr, &src.Pixmap(), &sr);
    EXPECT_EQ(dst.Data(), plain.Data());
}

TEST(DisplayRescaler, BothEntriesRefuseMissingArgumentsAndOtherPixelTypes)
{
    TestPixmap bgra(kPixelType32BGRA, 4, 4), argb(kPixelType32ARGB, 4, 4), dst(kPixelType32BGRA, 8, 8);
    TestPixmap noPixels(kPixelType32BGRA, 4, 0);
    OddTypePixmap noData(kPixelType32BGRA, nullptr, 4, 4);
    bgra.FillRandom(5);
    argb.FillRandom(6);
    const KRect r4(0, 0, 4, 4), r8(0, 0, 8, 8);
    const KWarningColor c{1, 2, 3, 255};
    auto both = [&](KPixmap* d, const KRect* dr, const KPixmap* s, const KRect* sr) {
        dst.Fill(0xEE);
        ResamplePixmapRect(d, dr, s, sr);
        CopyRectWithExposureWarnings(d, dr, s, sr, 255, 0, c, c);
        EXPECT_EQ(dst.Data(), std::vector<uint8_t>(dst.Data().size(), 0xEE));
    };
    both(&dst.Pixmap(), &r8, &argb.Pixmap(), &r4);
    both(&dst.Pixmap(), &r8, &noData, &r4);
    both(&dst.Pixmap(), &r8, &noPixels.Pixmap(), &r4);
    both(nullptr, &r8, &bgra.Pixmap(), &r4);
    both(&dst.Pixmap(), nullptr, &bgra.Pixmap(), &r4);
    both(&dst.Pixmap(), &r8, nullptr, &r4);
    both(&dst.Pixmap(), &r8, &bgra.Pixmap(), nullptr);
}

TEST(DisplayRescaler, ResampleRectChecksItsRectangles)
{
    TestPixmap src(kPixelType32BGRA, 4, 4), dst(kPixelType32BGRA, 8, 8), other(kPixelType24RGB, 8, 8);
    EXPECT_FALSE(ResampleRect(dst.Pixmap(), KRect(1, 1, 5, 5), src.Pixmap(), KRect(0, 0, 4, 4)));
    EXPECT_TRUE(ResampleRect(dst.Pixmap(), KRect(0, 0, 8, 8), src.Pixmap(), KRect(0, 0, 4, 4)));
    EXPECT_THROW(ResampleRect(dst.Pixmap(), KRect(-1, 0, 8, 8), src.Pixmap(), KRect(0, 0, 4, 4)), KExceptionPixelProc);
    EXPECT_THROW(ResampleRect(dst.Pixmap(), KRect(0, 0, 8, 8), src.Pixmap(), KRect(0, 0, 5, 4)), KExceptionPixelProc);
    EXPECT_THROW(ResampleRect(dst.Pixmap(), KRect(0, 0, 0, 8), src.Pixmap(), KRect(0, 0, 4, 4)), KExceptionPixelProc);
    EXPECT_THROW(ScaleColumnsUpCubic(other.Pixmap(), KRect(0, 0, 8, 4), src.Pixmap(), KRect(0, 0, 4, 4)),
                 KExceptionPixelProc);
}

TEST(DisplayRescaler, AnyPlacementStaysInsideBothPixmaps)
{
    // Random rectangles, many hanging off edges or far away, some at the ends of the 32-bit range: the sanitizer
    // sees any access outside the pixel blocks.
    std::mt19937 random(11);
    auto coordinate = [&](int span) -> int32_t {
        switch (random() % 8) {
        case 0: return INT32_MIN + static_cast<int32_t>(random() % 4);
        case 1: return INT32_MAX - static_cast<int32_t>(random() % 4);
        case 2: return static_cast<int32_t>(random() % 2000) - 1000;
        default: return static_cast<int32_t>(random() % static_cast<uint32_t>(3 * span)) - span;
        }
    };
    TestPixmap src(kPixelType32BGRA, 7, 5), dst(kPixelType32BGRA, 9, 6);
    src.FillRandom(12);
    const KWarningColor c{9, 8, 7, 100};
    for (int i = 0; i < 3000; ++i) {
        KRect dr(coordinate(9), coordinate(6), coordinate(9), coordinate(6));
        KRect sr(coordinate(7), coordinate(5), coordinate(7), coordinate(5));
        if (i % 2 == 0) {  // mostly ordered rectangles
            dr = KRect(std::min(dr.left, dr.right), std::min(dr.top, dr.bottom), std::max(dr.left, dr.right),
                       std::max(dr.top, dr.bottom));
            sr = KRect(std::min(sr.left, sr.right), std::min(sr.top, sr.bottom), std::max(sr.left, sr.right),
                       std::max(sr.top, sr.bottom));
        }
        ResamplePixmapRect(&dst.Pixmap(), &dr, &src.Pixmap(), &sr);
        CopyRectWithExposureWarnings(&dst.Pixmap(), &dr, &src.Pixmap(), &sr, 30, 200, c, c);
        KRect cd = dr, cs = sr;
        if (ClipResampleRects(dst.Pixmap(), cd, src.Pixmap(), cs)) {
            ASSERT_TRUE(cd.left >= 0 && cd.top >= 0 && cd.right <= 9 && cd.bottom <= 6 && cd.left < cd.right &&
                        cd.top < cd.bottom);
            ASSERT_TRUE(cs.left >= 0 && cs.top >= 0 && cs.right <= 7 && cs.bottom <= 5 && cs.left < cs.right &&
                        cs.top < cs.bottom);
        }
    }
    // A pixmap onto itself with overlapping rectangles reads the source as it was (a scroll by one pixel).
    TestPixmap before(kPixelType32BGRA, 7, 5);
    std::copy(src.Data().begin(), src.Data().end(), before.Data().begin());
    const KRect from(0, 0, 6, 4), to(1, 1, 7, 5);
    ResamplePixmapRect(&src.Pixmap(), &to, &src.Pixmap(), &from);
    for (int y = 1; y < 5; ++y)
        EXPECT_TRUE(std::equal(before.At(0, y - 1), before.At(6, y - 1), src.At(1, y))) << y;
    const KRect larger(0, 0, 7, 5);
    ResamplePixmapRect(&src.Pixmap(), &larger, &src.Pixmap(), &from);
}
