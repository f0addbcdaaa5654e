#include <gtest/gtest.h>

#include <string>

#include "KDarkDriftMeasure.h"
#include "KExceptionPixelProc2.h"
#include "RawStageTestSupport.h"

using rawstage::Image;

namespace {

void ExpectZero(const KRowDrift& d)
{
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(d.m_Slope[c], 0.0);
        EXPECT_EQ(d.m_Mean[c], 0.0);
    }
}

std::string DriftError(const KPixmapTemplate<KPixelClass48SRGB>* image, const KRect& r)
{
    try {
        CalculateDrift(image, r);
    } catch (const KExceptionPixelProc2& e) {
        return e.GetMessage();
    }
    return "no exception";
}

}  // namespace

TEST(DarkDrift, EmptyAndUniformShields)
{
    Image image(8, 6);
    image.Fill(-7);
    ExpectZero(CalculateDrift(image.Get(), KRect(0, 2, 8, 2)));  // top = bottom
    ExpectZero(CalculateDrift(image.Get(), KRect(3, 0, 3, 6)));  // left = right
    ExpectZero(CalculateDrift(image.Get(), KRect(9, 0, 12, 6)));  // wholly beside the image
    const KRowDrift d = CalculateDrift(image.Get(), KRect(1, 1, 7, 4));
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(d.m_Slope[c], 0.0);
        EXPECT_EQ(d.m_Mean[c], -7.0);
    }
}

TEST(DarkDrift, SlopeIsScaledByTheFullImageWidth)
{
    // One row, columns 0..3 of red 0, 0, 0, 12: mean 3, centre 2, moment (-3)(-2) + (-3)(-1) + 9 x 1 = 18,
    // slope 18 / 4 x 12 / 4 = 13.5 in a 4-wide image and half that in an 8-wide one.
    Image narrow(4, 2), wide(8, 2);
    narrow.Fill(0);
    wide.Fill(0);
    narrow.At(3, 1, 0) = 12;
    wide.At(3, 1, 0) = 12;
    const KRowDrift a = CalculateDrift(narrow.Get(), KRect(0, 1, 4, 2));
    const KRowDrift b = CalculateDrift(wide.Get(), KRect(0, 1, 4, 2));
    EXPECT_EQ(a.m_Mean[0], 3.0);
    EXPECT_EQ(a.m_Slope[0], 13.5);
    EXPECT_EQ(b.m_Slope[0], 6.75);
    EXPECT_EQ(a.m_Slope[1], 0.0);
    // Columns beyond the image are clipped, as the caller clips them.
    const KRowDrift clipped = CalculateDrift(narrow.Get(), KRect(-5, 1, 40, 2));
    EXPECT_EQ(clipped.m_Slope[0], a.m_Slope[0]);
    EXPECT_EQ(clipped.m_Mean[0], a.m_Mean[0]);
}

TEST(DarkDrift, Errors)
{
    Image image(4, 5);
    image.Fill(0);
    EXPECT_EQ(DriftError(nullptr, KRect(0, 0, 4, 1)), "CalculateDrift: input image is NULL");
    KPixmapTemplate<KPixelClass48SRGB> empty(nullptr, 4, 5, 24);
    EXPECT_EQ(DriftError(&empty, KRect(0, 0, 4, 1)), "CalculateDrift: Input image has NULL buffer");
    EXPECT_EQ(DriftError(image.Get(), KRect(0, 5, 4, 5)), "Calculate drift: DarkShield out of range");
    EXPECT_EQ(DriftError(image.Get(), KRect(0, 3, 4, 6)), "Calculate drift: DarkShield out of range");
    EXPECT_EQ(DriftError(image.Get(), KRect(0, -1, 4, 2)), "Calculate drift: DarkShield out of range");
    EXPECT_EQ(DriftError(image.Get(), KRect(0, 4, 4, 5)), "no exception");
}

TEST(DarkDrift, TopAndBottomAndInterpolation)
{
    Image image(4, 10);
    image.Fill(0);
    for (int x = 0; x < 4; ++x) {
        image.At(x, 0, 1) = 8;   // top shield: green 8
        image.At(x, 9, 2) = -4;  // bottom shield: blue -4
    }
    image.At(3, 9, 0) = 12;
    const KDarkDrift d = CalculateTopAndBottomDrift(image.Get(), KRect(0, 0, 4, 1), KRect(0, 9, 4, 10));
    EXPECT_EQ(d.m_Value[0][1][1], 8.0);
    EXPECT_EQ(d.m_Value[1][1][2], -4.0);
    EXPECT_EQ(d.m_Value[1][1][0], 3.0);
    EXPECT_EQ(d.m_Value[1][0][0], 13.5);
    EXPECT_EQ(d.m_Value[0][0][0], 0.0);

    const KRowDrift top = InterpolateDarkDrift(d, 0, 10);
    const KRowDrift bottom = InterpolateDarkDrift(d, 9, 10);
    const KRowDrift third = InterpolateDarkDrift(d, 3, 10);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(top.m_Slope[c], d.m_Value[0][0][c]);
        EXPECT_EQ(top.m_Mean[c], d.m_Value[0][1][c]);
        EXPECT_DOUBLE_EQ(bottom.m_Slope[c], d.m_Value[1][0][c]);
        EXPECT_DOUBLE_EQ(bottom.m_Mean[c], d.m_Value[1][1][c]);
    }
    EXPECT_DOUBLE_EQ(third.m_Mean[1], 8.0 * 2 / 3);
    EXPECT_DOUBLE_EQ(third.m_Slope[0], 13.5 / 3);
    // One row: its drift is the top end.
    EXPECT_EQ(InterpolateDarkDrift(d, 0, 1).m_Mean[1], 8.0);
}
