#pragma once
// The display rescaler: copies a rectangle of one 32BGRA pixmap into a rectangle of another, clipping both to
// their pixmaps and scaling where the sizes differ. Enlarging uses a four-tap cubic kernel in 15-bit fixed
// point; reducing picks the nearest source pixel; each direction is its own pass. A second entry copies at equal
// sizes with exposure warnings overlaid. Rectangles are {left, top, right, bottom}, right and bottom exclusive.
// Called on one thread at a time per destination pixmap; keeps no state beyond its fixed tables.
#include "KPixmap.h"
#include "KRect.h"
#include "KTypes.h"

// An exposure-warning colour: alpha is the blend weight, 0 to 255.
struct KWarningColor {
    KUInt8 red = 0;
    KUInt8 green = 0;
    KUInt8 blue = 0;
    KUInt8 alpha = 0;
};

// Does nothing when an argument is null, either pixmap is not 32BGRA or has no pixel data, or clipping leaves
// nothing. Equal sizes copy the rows unchanged; other sizes are scaled (ResampleRect).
void ResamplePixmapRect(KPixmap* destination, const KRect* destinationRect, const KPixmap* source,
                        const KRect* sourceRect);

// The same checks. Equal sizes: each pixel is copied, then blended with the shadow colour when its luma
// trunc(0.3 R + 0.55 G + 0.15 B + 0.5) is at most the shadow threshold, or else with the highlight colour when
// any of R, G, B is at least the highlight threshold; a blended pixel gets alpha 255. Other sizes: ResampleRect,
// no warnings.
void CopyRectWithExposureWarnings(KPixmap* destination, const KRect* destinationRect, const KPixmap* source,
                                  const KRect* sourceRect, int shadowThreshold, int highlightThreshold,
                                  KWarningColor shadowColor, KWarningColor highlightColor);

// Clips both rectangles in place to their pixmaps, moving the other rectangle's edges in proportion; false when
// either is empty to begin with, lies outside its pixmap, or is left empty.
bool ClipResampleRects(const KPixmap& destination, KRect& destinationRect, const KPixmap& source,
                       KRect& sourceRect);

// Scales the source rectangle into the destination rectangle; false (nothing done) when the sizes are equal.
// Both rectangles must lie inside their pixmaps (ClipResampleRects), which must be 32BGRA; otherwise throws
// KExceptionPixelProc.
bool ResampleRect(KPixmap& destination, const KRect& destinationRect, const KPixmap& source,
                  const KRect& sourceRect);

// The passes, each from the source rectangle into the destination rectangle, with the same preconditions as
// ResampleRect. The rows passes keep the width and the columns passes the height (the smaller of the two
// rectangles' is taken). Source and destination may be the same pixmap, the rectangles overlapping (the first
// rows or columns of the destination, for instance): the source is read as it was before the pass.
void ScaleRowsUpCubic(KPixmap& destination, const KRect& destinationRect, const KPixmap& source,
                      const KRect& sourceRect);
void ScaleRowsDownNearest(KPixmap& destination, const KRect& destinationRect, const KPixmap& source,
                          const KRect& sourceRect);
void ScaleColumnsUpCubic(KPixmap& destination, const KRect& destinationRect, const KPixmap& source,
                         const KRect& sourceRect);
void ScaleColumnsDownNearest(KPixmap& destination, const KRect& destinationRect, const KPixmap& source,
                             const KRect& sourceRect);
