#include <gtest/gtest.h>

#include <vector>

#include "KColorSpace.h"
#include "KException.h"
#include "KRGBTripleOps.h"

TEST(RGBTripleOps, FixedMatrix)
{
    KMatrix3x3 w{};
    CreateColorSpaceWhitePoint(w, kWorkingColorSpace, kPcsWhitePointD65);
    const KFixedMatrix3x3 f = ToFixedMatrix(w);
    EXPECT_EQ(f[0], 11495);  // 1.4032 x 8192 = 11495.0
    EXPECT_EQ(f[1], -1827);  // -1827.6 + 0.5 truncates toward zero
    EXPECT_EQ(ToFixedMatrix(KMatrix3x3{0.5, -0.5, 1.0 / 8192, 0, 0, 0, 0, 0, -1.0 / 16384}),
              (KFixedMatrix3x3{4096, -4095, 1, 0, 0, 0, 0, 0, 0}));

    const KFixedMatrix3x3 identity = {8192, 0, 0, 0, 8192, 0, 0, 0, 8192};
    EXPECT_EQ(ApplyFixedMatrix(identity, KRGBTriple(100, -100, 32767)), KRGBTriple(100, -100, 32767));
    const KFixedMatrix3x3 half = {4096, 0, 0, 0, 4096, 0, 0, 0, 4096};
    // (v x 4096 + 4096) >> 13 rounds half up, arithmetically for negative values.
    EXPECT_EQ(ApplyFixedMatrix(half, KRGBTriple(3, -3, -1)), KRGBTriple(2, -1, 0));
    const KFixedMatrix3x3 mix = {8192, 8192, 8192, 0, 0, 0, -8192, 0, 0};
    EXPECT_EQ(ApplyFixedMatrix(mix, KRGBTriple(1, 2, 3)), KRGBTriple(6, 0, -1));
    // Sums beyond 32 bits are formed in 64.
    const KFixedMatrix3x3 big = {40000, 40000, 40000, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(ApplyFixedMatrix(big, KRGBTriple(32767, 32767, 32767)).r, static_cast<KInt32>((40000LL * 32767 * 3 + 4096) >> 13));
}

TEST(RGBTripleOps, LookupsAndArithmetic)
{
    std::vector<KInt16> data(3 * 16);
    for (int i = 0; i < 48; ++i)
        data[i] = static_cast<KInt16>(i % 16 == 15 ? -2 : i);
    KColorLUT color;
    for (int c = 0; c < 3; ++c)
        color.m_pData[c] = data.data() + c * 16;
    color.m_Mask = 15;
    color.m_Size = 16;
    EXPECT_EQ(LookupColorLUT(color, KRGBTriple(1, 2, -1)), KRGBTriple(1, 18, -2));
    KLUT one(data.data(), 16, false);
    EXPECT_EQ(LookupLUT(one, KRGBTriple(1, 17, -1)), KRGBTriple(1, 1, 65534));

    EXPECT_EQ(SubtractTriples(KRGBTriple(5, 0, -7), KRGBTriple(1, 3, -7)), KRGBTriple(4, -3, 0));
    EXPECT_EQ(SubtractScalar(KRGBTriple(5, 0, -7), 2), KRGBTriple(3, -2, -9));
    EXPECT_EQ(DivideByScalar(KRGBTriple(7, -7, 6), 2), KRGBTriple(3, -3, 3));
    EXPECT_EQ(DivideByScalar(KRGBTriple(-2147483647 - 1, 0, 1), -1), KRGBTriple(-2147483647 - 1, 0, -1));
    EXPECT_THROW(DivideByScalar(KRGBTriple(1, 1, 1), 0), KException);
}
