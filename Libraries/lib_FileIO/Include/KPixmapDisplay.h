#pragma once
// The 32-bit display pixmap of the user interface: bytes blue, green, red, alpha per pixel, rows top-down, over
// memory that its creator owns (a drawing surface's pixels, a loaded PNG image).
#include "KPixmap.h"

using KPixmap_Display = KPixmapTemplate<KPixelClass32BGRA>;
