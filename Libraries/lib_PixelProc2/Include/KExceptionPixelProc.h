#pragma once
// The pixel-processing branch of the exception family that rotation throws.
#include "KException.h"

K_DECLARE_EXCEPTION(KExceptionPixelProc, KException, "Pixel processing exception");
K_DECLARE_EXCEPTION(KExceptionPpUnknownPixelType, KExceptionPixelProc, "Unknown Pixel Type");
