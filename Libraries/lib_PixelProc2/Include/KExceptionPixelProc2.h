#pragma once
// The exception of the pixel-processing stages, thrown by value.
#include "KException.h"

K_DECLARE_EXCEPTION(KExceptionPixelProc2, KException, "Pixel processing2 exception");
