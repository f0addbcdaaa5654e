#pragma once
// Chroma noise reduction of the working image (48SRGB rows: signed R, G, B): each pass replaces a pixel's
// colour by a smoothed colour of its neighbourhood, brought to the pixel's own brightness, and limits the
// change through a soft-limiter table, so that small colour noise goes while real colour edges change little.
// Results are stored saturated to the signed 16-bit range.
//
// A pass whose spatial threshold or any of whose limits is 0 or negative would divide by zero or turn the
// soft limiter around: its calls change nothing (rows, ring and work rows alike) and trace why.
//
// Threading: the calls of one pass run on one thread; the caller owns every row, ring and work buffer.
#include "KLUT.h"
#include "KPixmap.h"
#include "KTypes.h"

// Pointers to scratch rows of the image's width (pixels of three signed samples), oldest first. The filters
// rotate the pointers; the caller owns the rows.
template <int N>
struct KChromaBlurRing {
    KInt16* m_pSlot[N] = {};
};
using KChromaBlurRing3 = KChromaBlurRing<3>;
using KChromaBlurRing5 = KChromaBlurRing<5>;

// Calling order of the ring filters over an image of n rows: each row once as input, top to bottom, then the
// last row again as input until the output has reached the last row. The output row is the one whose smoothed
// copy is in the ring's middle slot once the input is smoothed (slot 1 of three, slot 2 of five): none before
// that. Before the first call with an output the slots above the middle one are filled with copies of it.

// 3 x 3 binomial neighbourhood. The limits are only checked (see above); spatial is not used.
void ChromaBlurRow3(const KInt16* input, KInt16* output, const double limits[3], KInt32 spatial,
                    KChromaBlurRing3& ring, KInt32 columns, const KColorLUT& lut);

// 5 x 5 box neighbourhood, brightness matched with the spatial threshold (units of a pixel sum R + G + B).
void ChromaBlurRow(const KInt16* input, KInt16* output, const double limits[3], KInt32 spatial,
                   KChromaBlurRing5& ring, KInt32 columns, const KColorLUT& lut);

// Fills reduced, one pixel per 4 x 4 block of image ((columns + 3) / 4 x (rows + 3) / 4 pixels, block rows one
// after another), with the block means smoothed upward by a first-order recursive filter of the given spread.
void ChromaBlurReduce(const KPixmapTemplate<KPixelClass48SRGB>& image, double spread, KInt16* reduced);

// One row of the coarse pass, called for r = 0, 1, 2, ... without gaps after ChromaBlurReduce filled reduced
// from the same image: the reduced image smoothed horizontally and downward, brightness matched. work holds two
// rows of columns pixels (the state between calls). The limits are only checked.
void ChromaBlurCoarseRow(KInt16* row, KInt32 r, double horizontalSpread, double verticalSpread,
                         const double limits[3], KInt32 spatial, const KInt16* reduced, KInt16* work, KInt32 columns,
                         const KColorLUT& lut);

// The row call in its three parts, for callers that spread the rows over threads: the horizontal row of a block
// row (work's second row, made at every fourth image row r from block row r / 4, and depending on nothing else),
// the vertical row following it down one image row (work's first row, all zero before row 0), and the row
// brought toward the vertical row (checked as the row call checks).
void ChromaBlurCoarseHorizontal(KInt32 blockRow, double horizontalSpread, const KInt16* reduced,
                                KInt16* horizontal, KInt32 columns);
void ChromaBlurCoarseVertical(double verticalSpread, const KInt16* horizontal, KInt16* vertical, KInt32 columns);
void ChromaBlurCoarseApply(KInt16* row, KInt32 r, const KInt16* vertical, const double limits[3], KInt32 spatial,
                           KInt32 columns, const KColorLUT& lut);
// Whether the coarse pass changes rows with these limits (the apply call checks the same); a skip is traced.
bool ChromaBlurCoarseRuns(const double limits[3], KInt32 spatial);
