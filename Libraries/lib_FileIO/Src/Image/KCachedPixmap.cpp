#include "KCachedPixmap.h"

#include "KException.h"
#include "KNarrowString.h"

uint32_t GetKCachedPixmapBlockSize(int pixelType, int32_t width, int32_t height)
{
    int32_t headerSize = 0, rowBytes = 0;
    GetKPixmapSizes(pixelType, width, height, headerSize, rowBytes);
    const int64_t size = static_cast<int64_t>(sizeof(KCachedPixmapRecord)) + headerSize +
                         static_cast<int64_t>(height) * rowBytes;
    if (height < 0 || size > UINT32_MAX)
        throw KException(
            KNarrowString("Cached pixmap of %d x %d pixels does not fit a cache block.", width, height).CStr());
    return static_cast<uint32_t>(size);
}

KPixmap* MapKCachedPixmap(void* block, int pixelType, int32_t width, int32_t height)
{
    int32_t headerSize = 0, rowBytes = 0;
    GetKPixmapSizes(pixelType, width, height, headerSize, rowBytes);
    uint8_t* header = static_cast<uint8_t*>(block) + sizeof(KCachedPixmapRecord);
    KPixmap* pixmap = MapKPixmapHeader(header, pixelType, width, height, rowBytes, header + headerSize);
    GetKCachedPixmapRecord(block)->m_pPixmap = pixmap;
    return pixmap;
}
