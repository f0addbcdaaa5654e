#pragma once
// The pixmap branch of the exception family.
#include "KException.h"

K_DECLARE_EXCEPTION(KExceptionPixmap, KException, "Pixmap exception");
K_DECLARE_EXCEPTION(KExceptionUnknownPixelType, KExceptionPixmap, "Unknown pixel type");
K_DECLARE_EXCEPTION(KExceptionBitDepthMismatch, KExceptionPixmap, "Bit depths of the two pixel types don't match.");
