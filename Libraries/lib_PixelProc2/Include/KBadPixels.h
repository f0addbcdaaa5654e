#pragma once
// Repair of the sensor's known defective pixels in the working image (48SRGB), in place.
//
// An entry is one word: bits 20-31 the sensor row, bits 8-19 the sensor column, bits 0-7 the neighbours that
// are averaged (1 up-left, 2 up, 4 up-right, 8 left, 16 right, 32 down-left, 64 down, 128 down-right; up is
// the previous row).
#include "KPixmap.h"
#include "KRect.h"
#include "KTypes.h"

// Each listed pixel becomes the mean (truncated toward zero) of its selected neighbours, entries in list order
// (a pixel repaired earlier serves as a repaired neighbour later). offset (column, row), when given, is added to
// the stored position. Entries with no neighbours or within two pixels of the top or left edge or on the last
// row or column are skipped. picture, when given, is the part of the image that makes the picture: a pixel
// inside it is repaired from its selected neighbours inside it alone (all of them when none is).
void FixBadPixels(const KPixmapTemplate<KPixelClass48SRGB>* image, const KUInt32* entries, KUInt32 count,
                  const KPoint* offset, const KRect* picture = nullptr);
