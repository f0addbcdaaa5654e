#pragma once
// Dark drift: the level of the masked rows above and below the picture (the dark shields) changes from the top
// of the frame to the bottom and across each row. It is measured in the two shield rectangles as a mean and a
// slope per channel and interpolated for every image row.
#include "KCamdataGetters.h"
#include "KPixmap.h"
#include "KRect.h"

// The drift of one row: per channel the change of the dark level across the full image width (slope) and the
// level at the centre column (mean).
struct KRowDrift {
    KColorTriple m_Slope = {};
    KColorTriple m_Mean = {};
};

// Mean and slope over the pixels of shield (right and bottom exclusive). Throws KExceptionPixelProc2 for a
// missing image or pixel data, and when the rectangle's rows do not lie inside the image; an empty rectangle
// gives zeros. Columns are clipped to the image.
KRowDrift CalculateDrift(const KPixmapTemplate<KPixelClass48SRGB>* image, const KRect& shield);

// Both ends: the top rectangle's drift at end 0, the bottom one's at end 1.
KDarkDrift CalculateTopAndBottomDrift(const KPixmapTemplate<KPixelClass48SRGB>* image, const KRect& top,
                                      const KRect& bottom);

// The drift of row (of rows), linear between the top end (row 0) and the bottom end (row rows - 1).
KRowDrift InterpolateDarkDrift(const KDarkDrift& drift, KInt32 row, KInt32 rows);
