#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "DevelopTestImages.h"
#include "KExceptionPixelProc2.h"
#include "KResampleTable.h"

namespace {

bool SameTable(const KResampleTable& a, const KResampleTable& b)
{
    return std::memcmp(a.m_Weights, b.m_Weights, sizeof(a.m_Weights)) == 0;
}

KInt32 W(const KResampleTable& t, int fy, int fx, int j, int i)
{
    return t.Kernel(fy, fx)[j * 4 + i];
}

struct Scales {
    double sx, sy;
};
const Scales kScales[] = {{0.25, 0.25}, {0.5, 0.52}, {1.0, 1.0}, {1.7, 1.7}, {0.5, 1.0}, {0.9, 1.5}, {2.0, 0.3}};

}  // namespace

TEST(ResampleTable, EveryKernelSumsToOneAndIsMirrorSymmetric)
{
    for (const Scales& s : kScales) {
        for (auto make : {CreateRadialResampleTable, CreateSeparableResampleTable}) {
            const auto t = make(s.sx, s.sy);
            for (int fy = 0; fy < 16; ++fy) {
                for (int fx = 0; fx < 16; ++fx) {
                    // Each weight rounds by adding 0.5 and truncating toward zero: negative ones gain up to 1.5.
                    KInt32 sum = 0;
                    for (int n = 0; n < 16; ++n)
                        sum += t->Kernel(fy, fx)[n];
                    ASSERT_NEAR(sum, 65536, 24) << s.sx << " " << s.sy << " " << fy << " " << fx;
                    // Phase f and tap i mirror phase 15 - f and tap 3 - i, across both axes.
                    for (int j = 0; j < 4; ++j)
                        for (int i = 0; i < 4; ++i) {
                            ASSERT_EQ(W(*t, fy, fx, j, i), W(*t, fy, 15 - fx, j, 3 - i));
                            ASSERT_EQ(W(*t, fy, fx, j, i), W(*t, 15 - fy, fx, 3 - j, i));
                        }
                }
            }
        }
        // Radial kernels are also symmetric under exchanging the axes.
        const auto radial = CreateRadialResampleTable(s.sx, s.sy);
        for (int fy = 0; fy < 16; ++fy)
            for (int fx = 0; fx < 16; ++fx)
                for (int j = 0; j < 4; ++j)
                    for (int i = 0; i < 4; ++i)
                        ASSERT_EQ(W(*radial, fy, fx, j, i), W(*radial, fx, fy, i, j));
    }
}

TEST(ResampleTable, ChoiceAndCapsFollowTheScales)
{
    // q = 0.5 / 0.52 (about 0.96): radial.
    EXPECT_TRUE(SameTable(*CreateResampleTable(0.5, 0.52), *CreateRadialResampleTable(0.5, 0.52)));
    EXPECT_FALSE(SameTable(*CreateResampleTable(0.5, 0.52), *CreateSeparableResampleTable(0.5, 0.52)));
    // q = 0.5: separable, and 0.5 and 1.0 are within the caps.
    EXPECT_TRUE(SameTable(*CreateResampleTable(0.5, 1.0), *CreateSeparableResampleTable(0.5, 1.0)));
    EXPECT_FALSE(SameTable(*CreateSeparableResampleTable(0.5, 1.0), *CreateSeparableResampleTable(0.5, 0.8)));
    // 0.9 and 1.5 are capped to 0.8 and 1.1, in either order.
    EXPECT_TRUE(SameTable(*CreateResampleTable(0.9, 1.5), *CreateSeparableResampleTable(0.8, 1.1)));
    EXPECT_TRUE(SameTable(*CreateResampleTable(1.5, 0.9), *CreateSeparableResampleTable(1.1, 0.8)));
    // The edges of the radial band are separable.
    EXPECT_TRUE(SameTable(*CreateResampleTable(0.9, 1.0), *CreateSeparableResampleTable(0.9, 1.0)));
    EXPECT_TRUE(SameTable(*CreateResampleTable(1.1, 1.0), *CreateSeparableResampleTable(1.1, 1.0)));
}

TEST(ResampleTable, ReductionKernelsAreWiderThanEnlargementKernels)
{
    // The weight of the nearest tap falls as the scale falls (more smoothing for reductions).
    const auto big = CreateRadialResampleTable(1.5, 1.5);
    const auto small = CreateRadialResampleTable(0.3, 0.3);
    EXPECT_GT(W(*big, 8, 8, 1, 1), W(*small, 8, 8, 1, 1));
    EXPECT_LT(W(*big, 8, 8, 0, 0), W(*small, 8, 8, 0, 0));
}

TEST(ResamplePixel4x4, SamplesARampAtTheCentreOfTheSixteenth)
{
    // Values rise by 160 a pixel to the right and 16 a pixel down. The sample lies at X + (fx + 0.5) / 16; the
    // four taps do not lie symmetrically about it, so a ramp comes back within a sixteenth of a pixel.
    WorkingImage img(12, 12);
    img.FillWith([](int x, int y, int32_t v[3]) {
        v[0] = 1000 + 160 * x;
        v[1] = 1000 + 16 * y;
        v[2] = 3000;
    });
    const auto table = CreateRadialResampleTable(1.0, 1.0);
    for (KInt32 x16 : {16 * 2, 16 * 4 + 3, 16 * 6 + 15}) {
        for (KInt32 y16 : {16 * 3 + 8, 16 * 5 + 1}) {
            KInt32 out[3];
            const KInt32 xs[3] = {x16, x16, x16}, ys[3] = {y16, y16, y16};
            ResamplePixel4x4(img.Typed(), out, xs, ys, *table);
            EXPECT_NEAR(out[0], 1000 + 160 * (x16 + 0.5) / 16.0, 10.0) << x16;
            EXPECT_NEAR(out[1], 1000 + 16 * (y16 + 0.5) / 16.0, 1.0) << y16;
            EXPECT_NEAR(out[2], 3000, 1.0);
        }
    }
}

TEST(ResamplePixel4x4, EachChannelAtItsOwnPosition)
{
    WorkingImage img(10, 10);
    img.FillWith([](int x, int y, int32_t v[3]) {
        v[0] = 100 * x + 7 * y;
        v[1] = 50 * y - 3 * x;
        v[2] = (x * 37 + y * 91) % 500;
    });
    const auto table = CreateSeparableResampleTable(0.6, 1.0);
    const KInt32 xs[3] = {20, 70, 101}, ys[3] = {33, 50, 99};
    KInt32 mixed[3];
    ResamplePixel4x4(img.Typed(), mixed, xs, ys, *table);
    for (int k = 0; k < 3; ++k) {
        KInt32 same[3];
        const KInt32 x[3] = {xs[k], xs[k], xs[k]}, y[3] = {ys[k], ys[k], ys[k]};
        ResamplePixel4x4(img.Typed(), same, x, y, *table);
        EXPECT_EQ(mixed[k], same[k]) << k;
    }
}

TEST(ResamplePixel4x4, SumsThatPass32BitsAreExact)
{
    // Full-scale values of opposite sign under the positive and negative weights make the 16-term sum pass
    // 2^31; it must not wrap.
    const auto table = CreateRadialResampleTable(1.0, 1.0);
    const int fy = 7, fx = 7;
    const KInt32* w = table->Kernel(fy, fx);
    WorkingImage img(6, 6);
    KInt64 expected = 0;
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            const KInt32 v = w[j * 4 + i] >= 0 ? 32767 : -32768;
            img.Set(1 + i, 1 + j, v, v, v);
            expected += KInt64(w[j * 4 + i]) * v;
        }
    ASSERT_GT(expected, KInt64(INT32_MAX));
    const KInt32 xs[3] = {2 * 16 + fx, 2 * 16 + fx, 2 * 16 + fx}, ys[3] = {2 * 16 + fy, 2 * 16 + fy, 2 * 16 + fy};
    KInt32 out[3];
    ResamplePixel4x4(img.Typed(), out, xs, ys, *table);
    EXPECT_EQ(out[0], static_cast<KInt32>(expected >> 16));
    EXPECT_GT(out[0], 32767);
}

TEST(ResamplePixel4x4, RefusesANeighbourhoodOutsideTheImage)
{
    WorkingImage img(6, 6);
    const auto table = CreateRadialResampleTable(1.0, 1.0);
    KInt32 out[3];
    const KInt32 inside[3] = {16, 16, 3 * 16 + 15};
    EXPECT_NO_THROW(ResamplePixel4x4(img.Typed(), out, inside, inside, *table));
    for (KInt32 bad : {15, 4 * 16, -16}) {
        const KInt32 xs[3] = {16, 16, bad}, ys[3] = {16, 16, 16};
        EXPECT_THROW(ResamplePixel4x4(img.Typed(), out, xs, ys, *table), KExceptionPixelProc2) << bad;
        EXPECT_THROW(ResamplePixel4x4(img.Typed(), out, ys, xs, *table), KExceptionPixelProc2) << bad;
    }
}
