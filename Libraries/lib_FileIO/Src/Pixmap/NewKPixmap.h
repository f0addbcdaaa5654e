#pragma once
#include "KPixmap.h"

// A new pixmap of the type over data (the caller owns both); null for a code that names no type.
KPixmap* NewKPixmap(int pixelType, void* data, int32_t width, int32_t height, int32_t rowBytes);
