#pragma once
// The output colour spaces: for each colour-space code (0-11) and white point of the connection space
// (0 = D50, 1 = D65) the matrix from CIE XYZ to the space's linear RGB. Code 0 is the identity, code 11 the
// working space of the pipeline; codes 1 and 2 share one matrix.
#include <array>

#include "KMatrix3x3.h"

constexpr int kColorSpaceCount = 12;
constexpr int kWorkingColorSpace = 11;
constexpr int kPcsWhitePointD50 = 0;
constexpr int kPcsWhitePointD65 = 1;

// The D65 white point chromaticity (x, y, z = 1 - x - y), shared by all sources; never changed.
inline constexpr std::array<double, 3> kD65WhitePoint = {0.3127, 0.3290, 0.3583};

// Fills matrix from the table and returns it. Throws KException "CreateColorSpaceWhitePoint(): Unknown PCS
// white point" for a white point other than 0 and 1 (tested first), and for a colour space outside 0-11
// "CreateColorSpaceWhitePoint(): Unknown color space" (white point 1) or "... Unknown Color Space" (0).
KMatrix3x3& CreateColorSpaceWhitePoint(KMatrix3x3& matrix, int colorSpace, int pcsWhitePoint);
