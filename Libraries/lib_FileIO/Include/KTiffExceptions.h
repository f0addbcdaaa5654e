#pragma once
// The TIFF branch of the exception family.
#include "KException.h"

K_DECLARE_EXCEPTION(KExceptionTIFF, KExceptionIO, "General TIFF I/O exception");
K_DECLARE_EXCEPTION(KExceptionPixmapTooSmall, KExceptionTIFF, "Pixmap too small");
K_DECLARE_EXCEPTION(KExceptionThumbTooBig, KExceptionTIFF, "Thumbnail too big for Photoshop tag");
K_DECLARE_EXCEPTION(KExceptionWriteUninitialized, KExceptionTIFF, "SetDimensions() must be called before WriteLine().");
