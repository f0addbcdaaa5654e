#pragma once
// The JPEG branch of the exception family: codec errors and misuse of the JPEG writer.
#include "KException.h"

K_DECLARE_EXCEPTION(KExceptionJPEG, KExceptionIO, "General JPEG I/O exception");
K_DECLARE_EXCEPTION(KExceptionJPEGOutOfOrderOperation, KExceptionJPEG,
                    "Operations on JPEG writer must be executed in a specified order.");
K_DECLARE_EXCEPTION(KExceptionJPEGWriteUninitialized, KExceptionJPEG,
                    "SetDimensions() must be called before WriteLine().");
K_DECLARE_EXCEPTION(KExceptionJPEGPixmapTooSmall, KExceptionJPEG, "Pixmap too small.");
