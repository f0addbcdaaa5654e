#pragma once
// A pixmap describes rows of pixels of one type in memory that it does not own: row r starts at
// data + r x row bytes, pixel c of a row c x bytes per pixel further on. KPixmapTemplate<PixelClass> gives the
// type code. A pixmap can also be laid out in place at the start of memory that someone else owns (a cache
// block): GetKPixmapSizes sizes the header and the rows, MapKPixmapHeader builds the header there.
#include <cstddef>
#include <cstdint>

#include "KPixelClasses.h"

class KPixmap {
public:
    KPixmap(void* data, int32_t width, int32_t height, int32_t rowBytes)
        : m_pData(data), m_Width(width), m_Height(height), m_RowBytes(rowBytes)
    {
    }
    KPixmap(const KPixmap&) = delete;
    KPixmap& operator=(const KPixmap&) = delete;
    virtual ~KPixmap() = default;

    virtual int GetPixelType() const = 0;

    void* GetData() const { return m_pData; }
    int32_t GetWidth() const { return m_Width; }
    int32_t GetHeight() const { return m_Height; }
    int32_t GetRowBytes() const { return m_RowBytes; }
    int GetBytesPerPixel() const { return KPixelTypeBytes(GetPixelType()); }
    uint8_t* GetRow(int32_t row) const
    {
        return static_cast<uint8_t*>(m_pData) + static_cast<ptrdiff_t>(row) * m_RowBytes;
    }

private:
    void* m_pData;
    int32_t m_Width;
    int32_t m_Height;
    int32_t m_RowBytes;
};

template <class PixelClassT>
class KPixmapTemplate : public KPixmap {
public:
    using PixelClass = PixelClassT;
    static constexpr int kPixelType = PixelClass::kPixelType;

    KPixmapTemplate(void* data, int32_t width, int32_t height, int32_t rowBytes)
        : KPixmap(data, width, height, rowBytes)
    {
    }
    int GetPixelType() const override { return kPixelType; }
};

// headerSize = the size of a pixmap header (sizeof, the same for every type); rowBytes = width x bytes per
// pixel rounded up to a multiple of 4. The height is not used. Throws KException for an unknown type or a
// width whose row does not fit 32 bits.
void GetKPixmapSizes(int pixelType, int32_t width, int32_t height, int32_t& headerSize, int32_t& rowBytes);

// Builds the pixmap of the type in place at memory (headerSize bytes, aligned for a pointer), describing data.
// A rowBytes of 0 means width x bytes per pixel (not rounded). The object is never deleted: it lives as long
// as the memory. Throws KException for an unknown type.
KPixmap* MapKPixmapHeader(void* memory, int pixelType, int32_t width, int32_t height, int32_t rowBytes, void* data);

