#pragma once
// Pixel type codes (1 to 17) and their sizes. The code names the sample layout of a pixmap; it travels through
// files, caches and requests, and every converter dispatches on it. 0 and codes above 17 name no type.
#include <cstdint>

enum KPixelTypeCode : int {
    kPixelType8Mono = 1,
    kPixelType12Mono = 2,
    kPixelType16Mono = 3,
    kPixelType16SMono = 4,
    kPixelType32Mono = 5,
    kPixelType24BGR = 6,
    kPixelType24RGB = 7,
    kPixelType30RGBL = 8,
    kPixelType30BGRL = 9,
    kPixelType30RGB = 10,
    kPixelType32ARGB = 11,
    kPixelType32ABGR = 12,
    kPixelType32BGRA = 13,
    kPixelType32RGBA = 14,
    kPixelType48RGB = 15,
    kPixelType48SRGB = 16,
    kPixelType48BGR = 17,
};

constexpr int kFirstPixelType = kPixelType8Mono;
constexpr int kLastPixelType = kPixelType48BGR;

constexpr bool IsKnownPixelType(int pixelType)
{
    return pixelType >= kFirstPixelType && pixelType <= kLastPixelType;
}

// Bytes per pixel of a type; 0 for a code that names no type.
constexpr int KPixelTypeBytes(int pixelType)
{
    constexpr int8_t kBytes[] = {0, 1, 2, 2, 2, 4, 3, 3, 4, 4, 4, 4, 4, 4, 4, 6, 6, 6};
    return IsKnownPixelType(pixelType) ? kBytes[pixelType] : 0;
}
