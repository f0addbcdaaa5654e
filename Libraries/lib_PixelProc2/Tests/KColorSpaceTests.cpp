#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "KColorSpace.h"
#include "KException.h"
#include "KMatrix3x3.h"

namespace {

const KMatrix3x3 kIdentity = {1, 0, 0, 0, 1, 0, 0, 0, 1};

std::string Error(int colorSpace, int whitePoint)
{
    KMatrix3x3 m{};
    try {
        CreateColorSpaceWhitePoint(m, colorSpace, whitePoint);
    } catch (const KException& e) {
        EXPECT_STREQ(e.GetDescription(), "Quarel exception");
        return e.GetMessage();
    }
    return "(none)";
}

void ExpectNear(const KMatrix3x3& a, const KMatrix3x3& b, double tolerance)
{
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(a[i], b[i], tolerance) << i;
}

}  // namespace

TEST(ColorSpaces, TableRowsAndCodes)
{
    KMatrix3x3 m{};
    for (int wp : {0, 1}) {
        EXPECT_EQ(&CreateColorSpaceWhitePoint(m, 0, wp), &m);
        EXPECT_EQ(m, kIdentity);
        KMatrix3x3 one{}, two{};
        CreateColorSpaceWhitePoint(one, 1, wp);
        CreateColorSpaceWhitePoint(two, 2, wp);
        EXPECT_EQ(one, two);
    }
    CreateColorSpaceWhitePoint(m, 11, 1);
    EXPECT_EQ(m, (KMatrix3x3{1.4032, -0.2231, -0.1016, -0.5263, 1.4816, 0.017, -0.0112, 0.0183, 0.9113}));
    CreateColorSpaceWhitePoint(m, 11, 0);
    EXPECT_EQ(m, (KMatrix3x3{1.3458, -0.2556, -0.0511, -0.5446, 1.5082, 0.0205, 0, 0, 1.212}));
    CreateColorSpaceWhitePoint(m, 3, 1);
    EXPECT_EQ(m[0], 2.0416);
    EXPECT_EQ(m[8], 1.0152);
    // Each D65 matrix takes the D65 white to a neutral.
    for (int cs = 1; cs < kColorSpaceCount; ++cs) {
        CreateColorSpaceWhitePoint(m, cs, 1);
        double rgb[3];
        for (int r = 0; r < 3; ++r)
            rgb[r] = m[r * 3] * kD65WhitePoint[0] + m[r * 3 + 1] * kD65WhitePoint[1] + m[r * 3 + 2] * kD65WhitePoint[2];
        EXPECT_NEAR(rgb[0] / rgb[1], 1.0, 0.01) << cs;
        EXPECT_NEAR(rgb[2] / rgb[1], 1.0, 0.01) << cs;
    }
}

TEST(ColorSpaces, Failures)
{
    EXPECT_EQ(Error(11, 2), "CreateColorSpaceWhitePoint(): Unknown PCS white point");
    EXPECT_EQ(Error(12, 2), "CreateColorSpaceWhitePoint(): Unknown PCS white point");
    EXPECT_EQ(Error(11, -1), "CreateColorSpaceWhitePoint(): Unknown PCS white point");
    EXPECT_EQ(Error(12, 1), "CreateColorSpaceWhitePoint(): Unknown color space");
    EXPECT_EQ(Error(-1, 1), "CreateColorSpaceWhitePoint(): Unknown color space");
    EXPECT_EQ(Error(12, 0), "CreateColorSpaceWhitePoint(): Unknown Color Space");
    EXPECT_EQ(Error(11, 0), "(none)");
}

TEST(Matrix3x3, InverseDeterminantAndProducts)
{
    KMatrix3x3 srgb{};
    CreateColorSpaceWhitePoint(srgb, 1, 1);
    ExpectNear(Multiply3x3(Invert3x3(srgb), srgb), kIdentity, 1e-12);
    ExpectNear(Multiply3x3(srgb, Invert3x3(srgb)), kIdentity, 1e-12);

    const KMatrix3x3 a = {2, 0, 0, 0, 3, 0, 0, 0, 4};
    EXPECT_EQ(Determinant3x3(a), 24.0);
    EXPECT_EQ(Determinant3x3(kIdentity), 1.0);
    EXPECT_EQ(Determinant3x3(KMatrix3x3{1, 2, 3, 4, 5, 6, 7, 8, 10}), -3.0);
    EXPECT_EQ(Invert3x3(a), (KMatrix3x3{0.5, 0, 0, 0, 1.0 / 3.0, 0, 0, 0, 0.25}));
    // A singular matrix is not detected.
    const KMatrix3x3 s = Invert3x3(KMatrix3x3{1, 2, 3, 2, 4, 6, 0, 0, 1});
    EXPECT_FALSE(std::isfinite(s[0]));

    const KMatrix3x3 b = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(Multiply3x3(b, kIdentity), b);
    EXPECT_EQ(Multiply3x3(b, b), (KMatrix3x3{30, 36, 42, 66, 81, 96, 102, 126, 150}));
    EXPECT_EQ(Scale3x3(b, 0.5), (KMatrix3x3{0.5, 1, 1.5, 2, 2.5, 3, 3.5, 4, 4.5}));
    EXPECT_EQ(Zero3x3(), (KMatrix3x3{}));
}
