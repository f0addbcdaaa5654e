#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "KExceptionPixelProc2.h"
#include "KOutputGammaLUT.h"
#include "KTransferCurve.h"

namespace {

KUInt32 At(const KLUT& t, int v)
{
    return static_cast<KUInt16>(t[static_cast<KUInt32>(v)]);
}

}  // namespace

TEST(TransferCurve, Fields)
{
    const KTransferCurve srgb(1.0 / 2.4, 0.00304);
    EXPECT_NEAR(srgb.m_ToeSlope, 12.92, 0.005);
    EXPECT_NEAR(srgb.m_Offset, 0.0521, 0.0001);
    EXPECT_GT(srgb.m_Knee, srgb.m_Threshold);
    EXPECT_EQ(srgb.m_LineSlope, 9.0);
    // The line meets the curve at the knee.
    EXPECT_NEAR(srgb.Evaluate(srgb.m_Knee), (std::pow(srgb.m_Knee, srgb.m_Gamma) - srgb.m_Offset) / (1 - srgb.m_Offset), 1e-12);

    const KTransferCurve plain(1.0 / 2.2, 0.0);
    EXPECT_EQ(plain.m_Offset, 0.0);
    EXPECT_EQ(plain.m_ToeSlope, 1.0);
    EXPECT_NEAR(plain.m_LineIntercept, 0.0453, 0.0001);
    EXPECT_NEAR(plain.m_LineIntercept, (1 - plain.m_Gamma) * std::pow(plain.m_Knee, plain.m_Gamma), 1e-12);

    const KTransferCurve linear(1.0, 0.0);
    EXPECT_EQ(linear.m_Knee, 0.0);
    EXPECT_EQ(linear.m_LineSlope, 1.0);
    EXPECT_EQ(linear.Evaluate(-0.5), -0.5);
    EXPECT_EQ(linear.Evaluate(0.25), 0.25);
}

TEST(OutputGammaLUT, LinearSixteenBit)
{
    auto t = CreateOutputGammaLUT(0, 16);
    EXPECT_TRUE(t->m_bOwnsData);
    EXPECT_EQ(t->m_Size, 65536u);
    EXPECT_EQ(t->m_Mask, 0xFFFFu);
    // Exact up to the last sample before the highlights bend at 0.8 (x 4096 = 3276.8).
    int lastSample = 0;
    for (int i = 0, step = 8; i <= 3276; i += step++)
        lastSample = i;
    for (int i = 0; i <= lastSample; ++i)
        ASSERT_EQ(At(*t, i), static_cast<KUInt32>(std::trunc(i / 4096.0 * 65535 + 0.5))) << i;
    for (int i = 32768; i < 65536; ++i)
        ASSERT_EQ(At(*t, i), 0u) << i;
}

TEST(OutputGammaLUT, ToeOfCodeOneInEightBits)
{
    auto t = CreateOutputGammaLUT(1, 8);
    EXPECT_EQ(At(*t, 0), 12u);
    EXPECT_EQ(At(*t, 65535), 11u);
    EXPECT_EQ(At(*t, 65516), 0u);
    for (int i = 65535; i > 65516; --i)
        EXPECT_GE(At(*t, i), At(*t, i - 1));
    for (int i = 32768; i < 65516; ++i)
        ASSERT_EQ(At(*t, i), 0u) << i;
}

TEST(OutputGammaLUT, EveryCodeReachesItsMaximumAndStays)
{
    for (int code = 0; code < 12; ++code) {
        for (int bits : {8, 16}) {
            auto t = CreateOutputGammaLUT(code, bits);
            const KUInt32 maxOut = (1u << bits) - 1;
            int first = -1;
            for (int i = 0; i <= 32767; ++i) {
                ASSERT_LE(At(*t, i), maxOut);
                if (i > 0) {
                    ASSERT_GE(At(*t, i), At(*t, i - 1)) << code << " " << bits << " " << i;
                }
                if (first < 0 && At(*t, i) == maxOut)
                    first = i;
            }
            ASSERT_GT(first, 0);
            EXPECT_LT(first, 32767);
            for (int i = first; i <= 32767; ++i)
                ASSERT_EQ(At(*t, i), maxOut);
        }
    }
    // Mid grey of the sRGB curve.
    auto srgb = CreateOutputGammaLUT(2, 8);
    EXPECT_NEAR(static_cast<double>(At(*srgb, 4096 * 18 / 100)), 118.0, 1.0);
}

TEST(OutputGammaLUT, UnknownColorSpace)
{
    for (int code : {12, -1}) {
        try {
            CreateOutputGammaLUT(code, 8);
            FAIL() << code;
        } catch (const KExceptionPixelProc2& e) {
            EXPECT_STREQ(e.GetMessage(), "Unknown Color Space");
            EXPECT_STREQ(e.GetDescription(), "Pixel processing2 exception");
        }
    }
}
