#pragma once
// The 32-bit display pixmap of the user interface: bytes blue, green, red, alpha per pixel, rows top-down, over
// memory that its creator owns (a drawing surface's pixels).
#include "KPixmap.h"

class KPixmap_Display : public KPixmapTemplate<KPixelClass32BGRA> {
public:
    KPixmap_Display(void* buffer, int32_t width, int32_t height, int32_t rowBytes)
        : KPixmapTemplate<KPixelClass32BGRA>(buffer, width, height, rowBytes)
    {
    }
};
