#pragma once
// The automatic adjustments proposed for a developed working image (48SRGB, linear, 4096 = 1.0), measured on
// a sparse grid of samples: an exposure change in stops, three tone values, a colour spread and three
// per-channel balance factors. The image is not changed.
//
// Threading: any thread; the call shares only the read-only tables it is given.
#include "KLUT.h"
#include "KPixmap.h"

// Measures image with the cube-root table (linear to encoded) and the cube table (encoded to linear) of
// KGlobalLUTsClass. Exposure (stops) and the tones are multiples of 0.1 in [-2, 2], the colour spread a
// multiple of 0.1 in [-1, 1]; the balance factors (R, G, B) are 1.0 for the weakest channel and less for the
// others. An image with no sample in the central part of its grid (under 39 rows or 32 columns) gets neutral
// settings (zeros, balance 1.0) and a trace. Throws KExceptionPixelProc2 when the working memory cannot be
// had, and the assertion's KException when the cube-root table puts a luma beyond its histogram.
void CalculateAutoAdjustSettings(const KPixmapTemplate<KPixelClass48SRGB>& image, const KLUT& cubeRoot,
                                 const KLUT& cube, double* exposure, double* toneA, double* toneB, double* toneC,
                                 double* colorSpread, double balance[3]);

