#pragma once
// The colour-noise step of stage 2: the black-level colour offset is removed, small per-channel and chroma
// deviations are cored through soft-limiter tables, and camera RGB becomes the white-balanced working space,
// all in one pass over each row of the working image (48SRGB: signed R, G, B, 4096 = 1.0).
#include "KLUT.h"
#include "KMatrix3x3.h"
#include "KPixmap.h"
#include "KRGBTripleOps.h"
#include "KTypes.h"

// Output values of ColorDQRow are limited to this range.
constexpr KInt32 kColorDQLowest = -500;
constexpr KInt32 kColorDQHighest = 24000;

// result = gain x (S x P): P takes camera RGB to the working space (the working space's XYZ matrix times
// camToXyz), balanced so that the neutral becomes a grey of its own luma when no neutral component is
// negative; S is the saturation matrix (diagonal 1 - 2 q, elsewhere q).
void CalculateWhiteBalancedMatrix(KMatrix3x3& result, const KMatrix3x3& camToXyz, const double neutral[3], double gain,
                                  double saturation);

// An estimate of the colour of the darkest pixels, from one pixel in sixteen of the central part of image:
// (0, 0, 0) when the image is too small, the coring limits are below a quarter, or too few dark pixels turn up.
void EstimateColorOffset(KInt32 offset[3], const KPixmapTemplate<KPixelClass48SRGB>& image, double t0, double t1,
                         double t2);

// One row in place (columns pixels of three signed samples): offset removed, cored through lut (differences
// limited to the table's half size less one), converted by the 13-bit fixed-point matrix, and limited to
// [kColorDQLowest, kColorDQHighest].
void ColorDQRow(KInt16* row, KInt32 columns, const KFixedMatrix3x3& matrix, const KColorLUT& lut, KInt32 offsetR,
                KInt32 offsetG, KInt32 offsetB);
