#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "KChromaBlur.h"
#include "KDebug.h"
#include "KGlobalLUTs.h"
#include "RawStageTestSupport.h"
#include "Stage2FilterSupport.h"

using stage2::WorkingImage;

namespace {

const double kLimits[3] = {24, 24, 24};

const KColorLUT& Tanh(double limit = 24, double slope = 0.7)
{
    const double a[3] = {limit, limit, limit}, b[3] = {slope, slope, slope};
    return *KGlobalLUTsClass::GetTanhLUTs(a, b);
}

// The common ending of every filter, written out for the models below.
void Ending(const KColorLUT& lut, const int16_t* x, const int64_t b[3], int16_t* out)
{
    const int64_t lim = (lut.m_Size >> 1) - 1;
    int32_t c[3];
    for (int k = 0; k < 3; ++k)
        c[k] = lut.Lookup(k, KUInt32(std::clamp<int64_t>(b[k] - x[k], -lim, lim)));
    const int32_t s = (c[0] + c[1] + c[2]) >> 3;
    for (int k = 0; k < 3; ++k)
        out[k] = int16_t(std::clamp<int64_t>(x[k] + c[k] - s, -32768, 32767));
}

int Clamp(int v, int n)
{
    return std::clamp(v, 0, n - 1);
}

// The three-row filter as a function of the whole unfiltered image.
WorkingImage Model3(const WorkingImage& in, const KColorLUT& lut)
{
    const int w = in.Width(), h = in.Height();
    WorkingImage smooth(in), out(in);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                smooth.At(x, y, c) = int16_t(
                    (in.At(Clamp(x - 1, w), y, c) + 2 * in.At(x, y, c) + in.At(Clamp(x + 1, w), y, c) + 2) >> 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int64_t b[3];
            for (int c = 0; c < 3; ++c)
                b[c] = (smooth.At(x, Clamp(y - 1, h), c) + 2 * smooth.At(x, y, c) + smooth.At(x, Clamp(y + 1, h), c)) >> 2;
            Ending(lut, &in.Row(y)[3 * x], b, &out.Row(y)[3 * x]);
        }
    return out;
}

// The five-row filter likewise.
WorkingImage Model5(const WorkingImage& in, int sp, const KColorLUT& lut)
{
    const int w = in.Width(), h = in.Height();
    WorkingImage smooth(in), out(in);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                int s = 2;
                for (int i = -2; i <= 2; ++i)
                    s += in.At(Clamp(x + i, w), y, c);
                smooth.At(x, y, c) = int16_t(std::clamp(s >> 2, -32768, 32767));
            }
    const int64_t q = int64_t(sp) * 25 / 4, inv = 0x10000 / q;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int64_t v[3] = {0, 0, 0};
            for (int c = 0; c < 3; ++c)
                for (int i = -2; i <= 2; ++i)
                    v[c] += smooth.At(x, Clamp(y + i, h), c);
            const int64_t xs = int64_t(in.At(x, y, 0)) + in.At(x, y, 1) + in.At(x, y, 2) + sp;
            const int64_t vs = v[0] + v[1] + v[2];
            int64_t b[3] = {0, 0, 0};
            if (xs >= 0) {
                const int64_t wgt = vs <= 0 ? xs * inv : (xs << 16) / (vs + q);
                for (int c = 0; c < 3; ++c)
                    b[c] = (v[c] * wgt + 32768) >> 16;
            }
            Ending(lut, &in.Row(y)[3 * x], b, &out.Row(y)[3 * x]);
        }
    return out;
}

// Mean squared difference of each channel from the pixel's mean: the colour noise.
double ChromaNoise(const WorkingImage& image)
{
    double sum = 0;
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x) {
            const double m = (image.At(x, y, 0) + image.At(x, y, 1) + image.At(x, y, 2)) / 3.0;
            for (int c = 0; c < 3; ++c)
                sum += (image.At(x, y, c) - m) * (image.At(x, y, c) - m);
        }
    return sum / (image.Width() * image.Height());
}

using Pass = std::function<void(WorkingImage&, const double*, int32_t, const KColorLUT&)>;

struct NamedPass {
    const char* name;
    Pass run;
};

const NamedPass kPasses[] = {
    {"three rows", stage2::ChromaBlur3Pass},
    {"five rows", stage2::ChromaBlur5Pass},
    {"coarse", stage2::ChromaBlurCoarsePass},
};

}  // namespace

TEST(ChromaBlur, FlatGreyStaysGrey)
{
    for (const NamedPass& p : kPasses)
        for (int level : {0, 1000, 4000, 12000}) {
            WorkingImage image(37, 23);
            image.Fill(level, level, level);
            const WorkingImage before = image;
            p.run(image, kLimits, 800, Tanh());
            if (std::string(p.name) != "coarse") {
                EXPECT_TRUE(image == before) << p.name << " at " << level;
                continue;
            }
            // The coarse filter's recursions start from zero at the borders and round down on every step, so
            // its smoothed grey is darker than the pixel; the spatial threshold in both brightness sums keeps
            // part of that: a flat grey stays grey but may lose up to the table's limit (less an eighth).
            for (int y = 0; y < 23; ++y)
                for (int x = 0; x < 37; ++x) {
                    ASSERT_EQ(image.At(x, y, 0), image.At(x, y, 1));
                    ASSERT_EQ(image.At(x, y, 1), image.At(x, y, 2));
                    ASSERT_LE(image.At(x, y, 0), level);
                    ASSERT_GE(image.At(x, y, 0), level - 24 + 9);
                }
        }
}

TEST(ChromaBlur, ColourNoiseIsReducedAndBrightnessKept)
{
    for (const NamedPass& p : kPasses) {
        WorkingImage image(128, 96);
        image.FillNoise(11, 2000, 12);
        const double before = ChromaNoise(image);
        double sumBefore = 0, sumAfter = 0;
        for (int y = 0; y < 96; ++y)
            for (int x = 0; x < 128; ++x)
                sumBefore += image.At(x, y, 0) + image.At(x, y, 1) + image.At(x, y, 2);
        p.run(image, kLimits, 800, Tanh());
        for (int y = 0; y < 96; ++y)
            for (int x = 0; x < 128; ++x)
                sumAfter += image.At(x, y, 0) + image.At(x, y, 1) + image.At(x, y, 2);
        EXPECT_LT(ChromaNoise(image), before * 0.5) << p.name;
        EXPECT_NEAR(sumAfter / sumBefore, 1.0, 0.003) << p.name;
    }
}

TEST(ChromaBlur, ColourEdgesChangeLittle)
{
    // A red half and a blue half: the correction at the edge is limited by the table (about 24 per channel).
    for (const NamedPass& p : kPasses) {
        WorkingImage image(40, 16);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 40; ++x)
                x < 20 ? image.Set(x, y, 3000, 500, 500) : image.Set(x, y, 500, 500, 3000);
        const WorkingImage before = image;
        p.run(image, kLimits, 800, Tanh());
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 40; ++x)
                for (int c = 0; c < 3; ++c)
                    ASSERT_LE(std::abs(image.At(x, y, c) - before.At(x, y, c)), 28) << p.name << " " << x << "," << y;
    }
}

TEST(ChromaBlur, RingFiltersMatchTheWholeImageModel)
{
    // Sizes that exercise the edge rules (widths under five, one row) and random content with bright and
    // negative values.
    for (auto [w, h] : {std::pair{1, 1}, std::pair{2, 5}, std::pair{3, 2}, std::pair{4, 7}, std::pair{5, 3},
                        std::pair{17, 9}, std::pair{64, 33}}) {
        WorkingImage image(w, h);
        image.FillNoise(uint32_t(w * 100 + h), 1500, 1800);
        for (int sp : {1, 800})
            for (bool vector : {true, false}) {
                std::optional<rawstage::BaselineKernels> build;
                if (!vector)
                    build.emplace();
                const KColorLUT& lut = Tanh(40, 0.8);
                WorkingImage three = image, five = image;
                stage2::ChromaBlur3Pass(three, kLimits, sp, lut);
                EXPECT_TRUE(three == Model3(image, lut)) << w << " x " << h;
                stage2::ChromaBlur5Pass(five, kLimits, sp, lut);
                EXPECT_TRUE(five == Model5(image, sp, lut)) << w << " x " << h << " sp " << sp << " vector " << vector;
            }
    }
}

TEST(ChromaBlur, ExtremeValuesSaturate)
{
    // White at the top of the range beside pure red: the five-row filter's box sums pass 16 bits and its
    // brightness-matched colour is far beyond the pixel; results saturate instead of wrapping.
    WorkingImage image(9, 9);
    image.Fill(32767, 0, 0);
    image.Set(4, 4, 32767, 32767, 32767);
    WorkingImage five = image;
    stage2::ChromaBlur5Pass(five, kLimits, 800, Tanh());
    EXPECT_TRUE(five == Model5(image, 800, Tanh()));
    EXPECT_EQ(five.At(4, 4, 0), 32767);
    EXPECT_LT(five.At(4, 4, 1), 32767);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x)
            ASSERT_GE(five.At(x, y, 0), 32000);
    WorkingImage coarse = image;
    stage2::ChromaBlurCoarsePass(coarse, kLimits, 800, Tanh());
    EXPECT_EQ(coarse.At(4, 4, 0), 32767);
}

TEST(ChromaBlur, PixelsDarkerThanTheThresholdTakeTheirCorrectionTowardZero)
{
    // xs < 0: the smoothed value is 0, so d = -X before limiting: each channel moves up by the table's end
    // (less an eighth of the three corrections).
    WorkingImage image(6, 6);
    image.Fill(-1000, -1000, -1000);
    const WorkingImage before = image;
    stage2::ChromaBlur5Pass(image, kLimits, 100, Tanh());
    const KColorLUT& lut = Tanh();
    const int c = lut.Lookup(0, KUInt32((lut.m_Size >> 1) - 1));
    const int expected = -1000 + c - ((3 * c) >> 3);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(image.At(x, y, 1), expected);
}

TEST(ChromaBlur, PassesWithoutStrengthOrLimitsAreSkipped)
{
    const double negative[3] = {24, -1, 24}, zero[3] = {0, 0, 0};
    struct Bad {
        const double* limits;
        int32_t spatial;
    } bad[] = {{kLimits, 0}, {kLimits, -5}, {negative, 800}, {zero, 800}};
    for (const NamedPass& p : kPasses)
        for (const Bad& b : bad) {
            WorkingImage image(20, 12);
            image.FillNoise(7, 1000, 50);
            const WorkingImage before = image;
            KTraceCapture trace;
            p.run(image, b.limits, b.spatial, Tanh());  // a division by zero would end the test here
            // The three-row filter does not use the threshold: only its limits can stop it.
            const bool runs = std::string(p.name) == "three rows" && b.limits == kLimits;
            EXPECT_EQ(image == before, !runs) << p.name << " threshold " << b.spatial;
            EXPECT_EQ(trace.Contains("pass skipped"), !runs) << p.name << " threshold " << b.spatial;
        }

    // With any threshold the three-row filter gives the same pixels.
    WorkingImage reference(20, 12);
    reference.FillNoise(7, 1000, 50);
    stage2::ChromaBlur3Pass(reference, kLimits, 800, Tanh());
    for (int32_t spatial : {0, -5, 1}) {
        WorkingImage image(20, 12);
        image.FillNoise(7, 1000, 50);
        stage2::ChromaBlur3Pass(image, kLimits, spatial, Tanh());
        EXPECT_TRUE(image == reference) << spatial;
    }
}

TEST(ChromaBlurReduce, BlockMeansSmoothedUpward)
{
    // k = 2256, m = 29440. Eight rows of 1000 in one block column: the bottom block gives
    // (2256 x 16000) >> 16 = 550, the top (36096000 + 29440 x 550) >> 16 = 797.
    WorkingImage image(4, 8);
    image.Fill(1000, 2000, -1000);
    int16_t reduced[2 * 3];
    ChromaBlurReduce(image.Pixmap(), 5.0, reduced);
    EXPECT_EQ(reduced[3], 550);
    EXPECT_EQ(reduced[0], 797);
    EXPECT_EQ(reduced[4], (2256 * 32000) >> 16);
    EXPECT_EQ(reduced[5], (2256 * -16000) >> 16);

    // A 5 x 5 image: the last block row and column repeat row 4 and column 4.
    WorkingImage five(5, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            five.Set(x, y, x * 100 + y * 10, 0, 0);
    int16_t r[2 * 2 * 3];
    ChromaBlurReduce(five.Pixmap(), 5.0, r);
    EXPECT_EQ(r[(1 * 2 + 1) * 3], (2256 * 16 * 440) >> 16);
    EXPECT_EQ(r[(1 * 2 + 0) * 3], (2256 * 4 * (0 + 100 + 200 + 300 + 4 * 40)) >> 16);
}

TEST(ChromaBlurCoarse, TheWorkRowsStartAfreshAtRowZero)
{
    // The vertical work row is cleared at row 0 and the horizontal one rebuilt there: whatever the work rows
    // hold from an earlier pass, a pass over the same image gives the same result.
    const int w = 24, h = 16;
    WorkingImage image(w, h);
    image.FillNoise(21, 1200, 40);
    WorkingImage first = image, second = image;
    stage2::Scratch scratch(w, 2 + (size_t((h + 3) / 4) * size_t((w + 3) / 4) + w - 1) / w);
    auto pass = [&](WorkingImage& target) {
        ChromaBlurReduce(target.Pixmap(), 5.0, scratch.Row(2));
        for (int r = 0; r < h; ++r)
            ChromaBlurCoarseRow(target.Row(r), r, 5.0, 5.0, kLimits, 400, scratch.Row(2), scratch.Row(0), w, Tanh());
    };
    pass(first);
    std::fill(scratch.Row(0), scratch.Row(0) + 6 * w, int16_t(-12345));
    pass(second);
    EXPECT_TRUE(first == second);
    WorkingImage helper = image;
    stage2::ChromaBlurCoarsePass(helper, kLimits, 400, Tanh());
    EXPECT_TRUE(helper == first);
    EXPECT_FALSE(first == image);
}
