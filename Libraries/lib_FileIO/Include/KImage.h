#pragma once
// A self-contained image: a pixmap over pixel memory that the image owns (from the default memory allocator),
// with a text property map. Shared by reference counting (KRefCountable).
#include <cstdint>

#include "KHasProperties.h"
#include "KRefCountable.h"

class KIMemoryAllocator;
class KPixmap;

class KImage : public KHasProperties, public KRefCountable {
public:
    // Row bytes = width x bytes per pixel, raised to a multiple of rowAlignment when that is above 1. Throws
    // KExceptionUnknownPixelType "KImage::GetBytesPerPixel()" for an unknown type, KException for a negative or
    // too large size or when the memory cannot be had.
    KImage(int32_t width, int32_t height, int pixelType, int32_t rowAlignment);
    ~KImage() override;

    // Same width, height and pixel type.
    virtual bool SameGeometry(const KImage& other) const;

    KPixmap* GetPixmap() const { return m_pPixmap; }
    int GetPixelType() const { return m_PixelType; }

    static int GetBytesPerPixel(int pixelType);

private:
    KIMemoryAllocator* m_pAllocator = nullptr;
    void* m_pBlock = nullptr;
    KPixmap* m_pPixmap = nullptr;
    int m_PixelType;
};
