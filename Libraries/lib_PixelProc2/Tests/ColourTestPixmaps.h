#pragma once
// Pixmaps that own their pixels, for the colour, rescaler and rotation tests. Rows are packed with no padding
// unless asked, so that the sanitizer sees any read or write past a row block.
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "KPixmap.h"

class TestPixmap {
public:
    TestPixmap(int pixelType, int32_t width, int32_t height, int32_t padding = 0)
        : m_RowBytes(width * KPixelTypeBytes(pixelType) + padding),
          m_Bytes(static_cast<size_t>(m_RowBytes) * static_cast<size_t>(height > 0 ? height : 0))
    {
        m_Pixmap = MapKPixmapHeader(m_Header, pixelType, width, height, m_RowBytes,
                                    m_Bytes.empty() ? nullptr : m_Bytes.data());
    }
    TestPixmap(const TestPixmap&) = delete;
    TestPixmap& operator=(const TestPixmap&) = delete;

    KPixmap& Pixmap() { return *m_Pixmap; }
    const KPixmap& Pixmap() const { return *m_Pixmap; }
    KPixmap* operator->() { return m_Pixmap; }
    int32_t Width() const { return m_Pixmap->GetWidth(); }
    int32_t Height() const { return m_Pixmap->GetHeight(); }
    int Bytes() const { return m_Pixmap->GetBytesPerPixel(); }

    uint8_t* At(int32_t x, int32_t y) { return m_Pixmap->GetRow(y) + static_cast<ptrdiff_t>(x) * Bytes(); }
    const uint8_t* At(int32_t x, int32_t y) const
    {
        return m_Pixmap->GetRow(y) + static_cast<ptrdiff_t>(x) * Bytes();
    }
    uint32_t Word(int32_t x, int32_t y) const
    {
        uint32_t w;
        std::memcpy(&w, At(x, y), 4);
        return w;
    }
    uint16_t Word16(int32_t x, int32_t y, int index) const
    {
        uint16_t w;
        std::memcpy(&w, At(x, y) + 2 * index, 2);
        return w;
    }
    std::vector<uint8_t>& Data() { return m_Bytes; }
    const std::vector<uint8_t>& Data() const { return m_Bytes; }

    void FillRandom(uint32_t seed)
    {
        std::mt19937 random(seed);
        for (uint8_t& b : m_Bytes)
            b = static_cast<uint8_t>(random());
    }
    void Fill(uint8_t value) { std::memset(m_Bytes.data(), value, m_Bytes.size()); }

private:
    int32_t m_RowBytes;
    std::vector<uint8_t> m_Bytes;
    static_assert(sizeof(KPixmapTemplate<KPixelClass48BGR>) <= 64);
    alignas(alignof(std::max_align_t)) unsigned char m_Header[64];
    KPixmap* m_Pixmap = nullptr;
};

// A pixmap that claims a type code the system does not have.
class OddTypePixmap : public KPixmap {
public:
    OddTypePixmap(int type, void* data, int32_t width, int32_t height)
        : KPixmap(data, width, height, width * 4), m_Type(type)
    {
    }
    int GetPixelType() const override { return m_Type; }

private:
    int m_Type;
};
