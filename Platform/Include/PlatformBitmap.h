#pragma once
// Device-independent bitmaps: 32-bit pixels B, G, R, A, rows top-down, 4 x width bytes a row, in memory of
// the stand-in's own. Windows blit them (PlatformWindow.h); the drawing code writes their pixels directly.
#include <cstdint>

struct PlatBitmap {
    uint8_t* bits;     // width x height pixels, zero at creation
    int32_t width;
    int32_t height;
    int32_t rowBytes;  // 4 x width
};

// The largest side and the largest pixel memory of a bitmap.
constexpr int32_t kPlatMaxBitmapSide = 32767;
constexpr uint64_t kPlatMaxBitmapBytes = uint64_t(256) << 20;

// A new bitmap; *bits (when bits is not null) receives its pixels' address. Null (and *bits null) for a side
// below 1 or above kPlatMaxBitmapSide, more than kPlatMaxBitmapBytes (PLAT_ERROR_INVALID_PARAMETER), or when
// memory runs out (PLAT_ERROR_NOT_ENOUGH_MEMORY).
PlatBitmap* PlatCreateDIBSection(int32_t width, int32_t height, void** bits);
// Frees the bitmap and its pixels; false for null.
bool PlatDeleteBitmap(PlatBitmap* bitmap);
