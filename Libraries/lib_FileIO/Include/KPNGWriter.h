#pragma once
// Writes a 32BGRA pixmap (blue, green, red, straight alpha) as an 8-bit RGBA PNG file. The file appears only
// when every byte of it is written: it is written under a temporary name beside the target and renamed at
// the end; on failure the target is left as it was.
#include "KPixmap.h"
#include "KWString.h"

// Throws KExceptionUnknownPixelType for a pixmap of another type, KExceptionFileOpen when the file cannot be
// created, KExceptionFileWrite (naming the file) when a write fails. A pixmap without pixels (width or height
// below 1) is refused with KExceptionFileWrite, as PNG has no empty image.
void SavePNGPixmap(const KPixmap& pixmap, const KWString& url);
