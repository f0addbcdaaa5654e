#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "DevelopTestImages.h"
#include "KDetailLayer.h"
#include "RawStageTestSupport.h"

namespace {

// The detail layer computed out of place: each pixel minus the vertical then horizontal five-tap low-pass of
// the original image, edges repeated, each pass rounded as the stage rounds it.
std::vector<int16_t> Reference(const MonoImage& img, double factor)
{
    const KDetailKernel k = DetailKernelFor(factor);
    const int w = img.Width(), h = img.Height();
    const int taps[5] = {k.m_W2, k.m_W1, k.m_W0, k.m_W1, k.m_W2};
    std::vector<int16_t> v(size_t(w) * h), out(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int32_t s = 2048;
            for (int t = 0; t < 5; ++t)
                s += taps[t] * img.Get(x, std::clamp(y + t - 2, 0, h - 1));
            v[size_t(y) * w + x] = static_cast<int16_t>(s >> 12);
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int32_t s = 2048;
            for (int t = 0; t < 5; ++t)
                s += taps[t] * v[size_t(y) * w + std::clamp(x + t - 2, 0, w - 1)];
            out[size_t(y) * w + x] = static_cast<int16_t>(img.Get(x, y) - (s >> 12));
        }
    return out;
}

void FillRandom(MonoImage& img, uint32_t seed, int low, int high)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> d(low, high);
    for (int y = 0; y < img.Height(); ++y)
        for (int x = 0; x < img.Width(); ++x)
            img.Set(x, y, 0, d(random));
}

}  // namespace

TEST(DetailLayer, KernelFollowsTheResizeFactor)
{
    struct Case {
        double factor;
        KInt32 w2, w1, w0;
    };
    const Case cases[] = {
        {1.0, 256, 1024, 1536},  // a = 0.25: 1-4-6-4-1
        {2.0, 1024, 0, 2048},    // a = 0.5
        {7.5, 1024, 0, 2048},    // a stays 0.5
        {0.5, 64, 768, 2432},    // a = 0.125
        {0.0, 0, 0, 4096},       // no low-pass: the detail is 0
    };
    for (const Case& c : cases) {
        const KDetailKernel k = DetailKernelFor(c.factor);
        EXPECT_EQ(k.m_W2, c.w2) << c.factor;
        EXPECT_EQ(k.m_W1, c.w1) << c.factor;
        EXPECT_EQ(k.m_W0, c.w0) << c.factor;
        EXPECT_EQ(2 * k.m_W2 + 2 * k.m_W1 + k.m_W0, 4096);
    }
}

TEST(DetailLayer, ConstantImageBecomesZero)
{
    for (int value : {0, 1234, -800, 32767}) {
        MonoImage img(9, 7);
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 9; ++x)
                img.Set(x, y, 0, value);
        CreateDetailLayer(img.Typed(), 1.3);
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 9; ++x)
                ASSERT_EQ(img.Get(x, y), 0) << value;
    }
}

namespace {

// Rows above the current one are already rewritten when it is filtered; the result must still be that of the
// original image. Sizes include the narrow ones (fewer columns than taps) and a single row.
void CheckInPlace()
{
    struct Size {
        int w, h;
    };
    const Size sizes[] = {{23, 17}, {1, 5}, {2, 3}, {3, 1}, {4, 4}, {5, 2}, {64, 1}, {1, 1}, {301, 3}};
    uint32_t seed = 1;
    for (const Size& s : sizes) {
        for (double factor : {0.3, 1.0, 4.0}) {
            MonoImage img(s.w, s.h);
            FillRandom(img, seed++, -6000, 20000);
            const std::vector<int16_t> want = Reference(img, factor);
            CreateDetailLayer(img.Typed(), factor);
            for (int y = 0; y < s.h; ++y)
                for (int x = 0; x < s.w; ++x)
                    ASSERT_EQ(img.Get(x, y), want[size_t(y) * s.w + x]) << s.w << "x" << s.h << " " << factor;
        }
    }
}

}  // namespace

TEST(DetailLayer, InPlaceEqualsTheSeparableFilterOfTheOriginal)
{
    CheckInPlace();
    const rawstage::BaselineKernels baseline;
    CheckInPlace();
}

TEST(DetailLayer, OneRowUsesItselfVertically)
{
    // A single row: all five vertical taps are the row, so only the horizontal pass remains. A step edge
    // gives a negative and a positive lobe about it.
    MonoImage img(8, 1);
    for (int x = 0; x < 8; ++x)
        img.Set(x, 0, 0, x < 4 ? 1000 : 3000);
    CreateDetailLayer(img.Typed(), 1.0);
    const int16_t want[8] = {0, 0, -125, -625, 625, 125, 0, 0};
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(img.Get(x, 0), want[x]) << x;
}

TEST(DetailLayer, EmptyImageIsLeftAlone)
{
    MonoImage img(0, 0);
    CreateDetailLayer(img.Typed(), 1.0);
    MonoImage row(5, 0);
    CreateDetailLayer(row.Typed(), 1.0);
}
