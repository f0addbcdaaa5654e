#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "DevelopTestImages.h"
#include "KException.h"
#include "KGlobalLUTs.h"
#include "KToneCurve.h"

namespace {

std::unique_ptr<KColorLUT> ToneLUT(double a0, double a1, double a2, double a3, double c0, double c1, double c2)
{
    auto lut = MakeColorLUT([](int, int) { return 0x7777; });
    CreateToneLUT(a0, a1, a2, a3, c0, c1, c2, *KGlobalLUTsClass::GetCubeLUT(), *lut);
    return lut;
}

}  // namespace

TEST(ToneCurve, NeutralAdjustments)
{
    const KToneCurveParams p = ToneCurveParameters(0, 0, 0, 0, 1, 1, 1);
    EXPECT_DOUBLE_EQ(p.m_Contrast, 1.289375);
    EXPECT_DOUBLE_EQ(p.m_Highlight, 0.5);
    EXPECT_DOUBLE_EQ(p.m_Black, 0.0);
    EXPECT_NEAR(p.m_GreyHold, std::pow(0.18, 1 - 1.289375), 1e-15);
    for (double g : p.m_Gains)
        EXPECT_DOUBLE_EQ(g, 1.0);
    EXPECT_GT(p.m_ToeEnd, 0.0);
    EXPECT_GT(p.m_ToeSlope, 0.0);
    EXPECT_NEAR(p.m_ToeBase, (1 - 1.289375 / 2.4) * 0.06, 1e-15);

    const auto lut = ToneLUT(0, 0, 0, 0, 1, 1, 1);
    for (int i = 0; i < 65536; ++i) {
        ASSERT_EQ(lut->m_pData[0][i], lut->m_pData[1][i]) << i;
        ASSERT_EQ(lut->m_pData[0][i], lut->m_pData[2][i]) << i;
    }
}

TEST(ToneCurve, Ranges)
{
    // Contrast u from 0.64375 to 1.935, highlight v from 0 to 1, black w = -0.0125 a1.
    EXPECT_DOUBLE_EQ(ToneCurveParameters(0, 0, -2, -2, 1, 1, 1).m_Contrast, 0.64375);
    EXPECT_DOUBLE_EQ(ToneCurveParameters(0, 0, 2, 2, 1, 1, 1).m_Contrast, 1.935);
    EXPECT_DOUBLE_EQ(ToneCurveParameters(0, 0, 0, -2, 1, 1, 1).m_Highlight, 0.0);
    EXPECT_DOUBLE_EQ(ToneCurveParameters(0, 0, 0, 2, 1, 1, 1).m_Highlight, 1.0);
    EXPECT_NEAR(ToneCurveParameters(0, 2, 0, 0, 1, 1, 1).m_Black, -0.025, 1e-15);
    EXPECT_NEAR(ToneCurveParameters(0, -1, 0, 0, 1, 1, 1).m_Black, 0.0125, 1e-15);
    // Beyond u = 2.4 there is no toe.
    const KToneCurveParams steep = ToneCurveParameters(0, 0, 4, 0, 1, 1, 1);
    EXPECT_EQ(steep.m_ToeEnd, 0.0);
    EXPECT_EQ(steep.m_ToeSlope, 0.0);
    EXPECT_EQ(steep.m_ToeBase, 0.0);
}

TEST(ToneCurve, Gains)
{
    // One stop more doubles every gain; equal factors cancel out.
    const KToneCurveParams base = ToneCurveParameters(0.3, 0, 0, 0, 1.2, 0.9, 0.7);
    const KToneCurveParams brighter = ToneCurveParameters(1.3, 0, 0, 0, 1.2, 0.9, 0.7);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(brighter.m_Gains[c], 2 * base.m_Gains[c], 1e-12);
    for (double f : {0.5, 2.0, 3.7}) {
        const KToneCurveParams p = ToneCurveParameters(-1, 0, 0, 0, f, f, f);
        for (double g : p.m_Gains)
            EXPECT_NEAR(g, 0.5, 1e-12) << f;
    }
    // The gains follow the factors relative to their mean.
    EXPECT_GT(base.m_Gains[0], base.m_Gains[1]);
    EXPECT_GT(base.m_Gains[1], base.m_Gains[2]);
}

TEST(ToneCurve, FactorsOfZeroOrBelowAreNeutral)
{
    // The request record's default colour factors are 0; they must not give 0 / 0 gains and a NaN table.
    const KToneCurveParams p = ToneCurveParameters(0, 0, 0, 0, 0, -1, 0);
    for (double g : p.m_Gains)
        EXPECT_DOUBLE_EQ(g, 1.0);
    const auto zero = ToneLUT(0, 0, 0, 0, 0, 0, 0);
    const auto neutral = ToneLUT(0, 0, 0, 0, 1, 1, 1);
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 65536; ++i)
            ASSERT_EQ(zero->m_pData[c][i], neutral->m_pData[c][i]);
}

TEST(ToneCurve, TableShape)
{
    const struct {
        double a0, a1, a2, a3, c0, c1, c2;
    } cases[] = {{0, 0, 0, 0, 1, 1, 1}, {2, -2, 2, 2, 1.5, 1, 0.6}, {-2, 2, -2, -2, 0.8, 1, 1.3}, {1, 0, 1, -1, 1, 1, 1}};
    for (const auto& k : cases) {
        const auto lut = ToneLUT(k.a0, k.a1, k.a2, k.a3, k.c0, k.c1, k.c2);
        for (int c = 0; c < 3; ++c) {
            const KInt16* e = lut->m_pData[c];
            for (int i = 0; i < 32768; ++i) {
                ASSERT_GE(e[i], 0) << i;
                ASSERT_LE(e[i], 16384) << i;
                if (i > 0) {
                    ASSERT_GE(e[i], e[i - 1]) << "rising at " << i;  // every setting here gives a rising curve
                }
            }
            for (int i = 8161; i < 32768; ++i)
                ASSERT_EQ(e[i], e[8160]) << i;
            for (int i = 32768; i < 65536; ++i)
                ASSERT_EQ(e[i], 0) << i;
        }
    }
    // More exposure raises the curve; the brightest settings reach the ceiling.
    const auto dark = ToneLUT(-1, 0, 0, 0, 1, 1, 1);
    const auto bright = ToneLUT(1, 0, 0, 0, 1, 1, 1);
    EXPECT_LT(dark->m_pData[1][4096], bright->m_pData[1][4096]);
    EXPECT_EQ(ToneLUT(2, 0, 2, 2, 1, 1, 1)->m_pData[1][8160], 16384);
}

TEST(ToneCurve, MiddleGreyIsHeldAgainstTheContrast)
{
    // Above the toe, an input giving y = 0.18 comes out the same for every contrast; it depends on the
    // highlight roll-off alone, which lowers it most at v = 0.
    const KTransferCurve curve = ToneTransferCurve();
    for (double v : {0.0, 0.5, 1.0}) {
        double first = 0;
        for (double u : {0.7, 1.0, 1.289375, 1.9}) {
            const double z = std::pow(0.18, 1 - u);
            const double r = ToneCurveValue(0.18, 1.0, 0.0, u, v, 0.01, 1.0, 0.0, z, curve, 0.0);
            if (u == 0.7)
                first = r;
            EXPECT_NEAR(r, first, 1e-12) << u << " " << v;
            EXPECT_LT(r, 0.18);
        }
    }
    const auto at = [&](double v) { return ToneCurveValue(0.18, 1.0, 0.0, 1.0, v, 0.0, 0.0, 0.0, 1.0, curve, 0.0); };
    EXPECT_LT(at(0.0), at(0.5));
    EXPECT_LT(at(0.5), at(1.0));
}

TEST(ToneCurve, ToeMeetsTheCurveAndStaysAboveZero)
{
    const KTransferCurve curve = ToneTransferCurve();
    for (double a2 : {-2.0, 0.0, 2.0}) {
        const KToneCurveParams p = ToneCurveParameters(0, 0, a2, 0, 1, 1, 1);
        auto value = [&](double y) {
            return ToneCurveValue(y, 1.0, 0.0, p.m_Contrast, p.m_Highlight, p.m_ToeEnd, p.m_ToeSlope, p.m_ToeBase,
                                  p.m_GreyHold, curve, 0.0);
        };
        // Continuous at the toe's end.
        EXPECT_NEAR(value(p.m_ToeEnd * (1 - 1e-9)), value(p.m_ToeEnd), 1e-6) << a2;
        // Negative linear inputs lie on the toe and never go below zero.
        for (double y : {-0.5, -0.05, -0.001, 0.0})
            EXPECT_GE(value(y), 0.0) << a2 << " " << y;
    }
    // The first entries (negative linear values from the cube table) come from the toe.
    const auto lut = ToneLUT(0, 0, 0, 0, 1, 1, 1);
    EXPECT_LT(KGlobalLUTsClass::GetCubeLUT()->m_pData[0], 0);
    EXPECT_GE(lut->m_pData[0][0], 0);
}

TEST(ToneCurve, RefusesASmallTableWithoutWriting)
{
    auto small = MakeColorLUT([](int, int) { return 0x1234; }, 32768);
    try {
        CreateToneLUT(0, 0, 0, 0, 1, 1, 1, *KGlobalLUTsClass::GetCubeLUT(), *small);
        ADD_FAILURE() << "no assertion";
    } catch (const KException& e) {
        const std::string m = e.GetMessage();
        EXPECT_NE(m.find("OutToneLUT->GetSize() >= 65536"), std::string::npos) << m;
        EXPECT_NE(m.find("ToneLUT"), std::string::npos) << m;
    }
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 32768; ++i)
            ASSERT_EQ(small->m_pData[c][i], 0x1234);
}

TEST(ToneCurve, ViewOverADataMatrix)
{
    // A matrix of 70000 x 3 values, channel after channel: the view reads channel c from element c x 70000,
    // and the table fills the first 65536 of each column only.
    std::vector<KInt16> matrix(70000 * 3, 0x1111);
    KColorLUT view;
    LayToneLUTView(view, matrix.data(), 70000);
    EXPECT_EQ(view.m_Size, 65536u);
    EXPECT_EQ(view.m_Mask, 0xFFFFu);
    EXPECT_FALSE(view.m_bOwnsData);
    EXPECT_EQ(view.m_pData[2], matrix.data() + 140000);
    CreateToneLUT(0, 0, 0, 0, 1, 1, 1, *KGlobalLUTsClass::GetCubeLUT(), view);
    const auto separate = ToneLUT(0, 0, 0, 0, 1, 1, 1);
    for (int c = 0; c < 3; ++c) {
        for (int i = 0; i < 65536; ++i)
            ASSERT_EQ(matrix[size_t(c) * 70000 + i], separate->m_pData[c][i]);
        for (int i = 65536; i < 70000; ++i)
            ASSERT_EQ(matrix[size_t(c) * 70000 + i], 0x1111);
    }
    KColorLUT small;
    EXPECT_THROW(LayToneLUTView(small, matrix.data(), 65535), KException);
}
