#include "PlatformBitmap.h"

#include <cstddef>
#include <new>

#include "PlatformError.h"

PlatBitmap* PlatCreateDIBSection(int32_t width, int32_t height, void** bits)
{
    if (bits)
        *bits = nullptr;
    if (width < 1 || height < 1 || width > kPlatMaxBitmapSide || height > kPlatMaxBitmapSide ||
        uint64_t(width) * uint64_t(height) * 4 > kPlatMaxBitmapBytes) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* bitmap = new (std::nothrow) PlatBitmap{nullptr, width, height, width * 4};
    if (bitmap)
        bitmap->bits = new (std::nothrow) uint8_t[std::size_t(width) * std::size_t(height) * 4]();
    if (!bitmap || !bitmap->bits) {
        delete bitmap;
        PlatSetLastError(PLAT_ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (bits)
        *bits = bitmap->bits;
    return bitmap;
}

bool PlatDeleteBitmap(PlatBitmap* bitmap)
{
    if (!bitmap) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return false;
    }
    delete[] bitmap->bits;
    delete bitmap;
    return true;
}
