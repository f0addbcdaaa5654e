#pragma once
// The scaling passes of the display rescaler over checked rectangles (inside their pixmaps, not empty), and the
// combined passes that ResampleRect uses where the two directions differ. The combined passes produce each
// intermediate row once into a small window instead of writing it into the destination first, so no pass ever
// reads a pixel that it has already overwritten.
#include "KPixmap.h"
#include "KRect.h"

namespace KRescale {

// Throws KExceptionPixelProc unless the pixmap is 32BGRA with pixel data and the rectangle lies inside it and
// is not empty.
void CheckRect(const KPixmap& pixmap, const KRect& rect, const char* entry);

// True when the bytes of the two rectangles may share memory.
bool RectsOverlap(const KPixmap& a, const KRect& ra, const KPixmap& b, const KRect& rb);

void RowsDownNearest(KPixmap& d, const KRect& dr, const KPixmap& s, const KRect& sr);
void ColumnsDownNearest(KPixmap& d, const KRect& dr, const KPixmap& s, const KRect& sr);
void RowsUpCubic(KPixmap& d, const KRect& dr, const KPixmap& s, const KRect& sr);
void ColumnsUpCubic(KPixmap& d, const KRect& dr, const KPixmap& s, const KRect& sr);

// Nearest in both directions in one pass (dW < sW, dH < sH).
void BothDownNearest(KPixmap& d, const KRect& dr, const KPixmap& s, const KRect& sr);
// Nearest columns, then cubic rows (dW < sW, dH > sH).
void ColumnsDownRowsUp(KPixmap& d, const KRect& dr, const KPixmap& s, const KRect& sr);
// Nearest rows, then cubic columns (dW > sW, dH < sH).
void RowsDownColumnsUp(KPixmap& d, const KRect& dr, const KPixmap& s, const KRect& sr);
// Cubic columns, then cubic rows (dW > sW, dH > sH).
void ColumnsUpRowsUp(KPixmap& d, const KRect& dr, const KPixmap& s, const KRect& sr);

}  // namespace KRescale
