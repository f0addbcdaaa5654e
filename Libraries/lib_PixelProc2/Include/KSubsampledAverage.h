#pragma once
// Mean colour of an image on a sparse grid (every step-th pixel of every step-th row, from step / 2), and the
// flare estimate of a frame: a fixed fraction of that mean.
#include "KCamdataGetters.h"
#include "KPixmap.h"

// Means of R, G and B in the units of the pixel type (8, 11 or 16 bits; signed for 48SRGB). A step under 1
// counts as 1; an image with no grid point gives zeros. Built for 24RGB, 30RGBL, 30RGB, 48RGB, 48SRGB and 48BGR
// (whose stored B, G, R are read as unsigned values and returned as R, G, B).
template <class PixelClass>
KColorTriple SubsampledAverage(const KPixmapTemplate<PixelClass>& image, KInt32 step);

// Dispatches on the pixel type; throws KExceptionPixelProc2 for a type not above (or a missing pixmap), and
// when the pixmap's class does not match the type it reports.
KColorTriple SubsampledColorAverage(const KPixmap* image, KInt32 step);

// flare[c] = mean[c] x factor[c], the mean taken with step 4.
KColorTriple CalculateFlare(const KPixmap* image, const KColorTriple& factor);
