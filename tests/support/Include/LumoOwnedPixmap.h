#pragma once
// A typed pixmap over memory of its own, each row padded to a multiple of 4 bytes like a cache-held one, with
// sample access, fills and comparison. Header only; for test programs and benchmarks that link lib_FileIO.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "KPixmap.h"

namespace lumotest {

template <class PixelClass>
class OwnedPixmap {
public:
    using Sample = typename PixelClass::Sample;
    static constexpr int kSamples = PixelClass::kBytesPerPixel / int(sizeof(Sample));

    OwnedPixmap(int32_t width, int32_t height)
        : m_RowBytes((width * PixelClass::kBytesPerPixel + 3) / 4 * 4),
          m_Memory((size_t(m_RowBytes) * size_t(height) + 7) / 8),
          m_Pixmap(m_Memory.data(), width, height, m_RowBytes)
    {
    }
    OwnedPixmap(const OwnedPixmap& o)
        : m_RowBytes(o.m_RowBytes), m_Memory(o.m_Memory), m_Pixmap(m_Memory.data(), o.Width(), o.Height(), m_RowBytes)
    {
    }
    // Copies the pixels of a pixmap of the same size.
    OwnedPixmap& operator=(const OwnedPixmap& o)
    {
        if (o.m_Memory.size() != m_Memory.size() || o.m_RowBytes != m_RowBytes)
            throw std::invalid_argument("OwnedPixmap: assignment between sizes");
        std::copy(o.m_Memory.begin(), o.m_Memory.end(), m_Memory.begin());
        return *this;
    }

    KPixmapTemplate<PixelClass>* Get() { return &m_Pixmap; }
    const KPixmapTemplate<PixelClass>* Get() const { return &m_Pixmap; }
    int32_t Width() const { return m_Pixmap.GetWidth(); }
    int32_t Height() const { return m_Pixmap.GetHeight(); }
    Sample* Row(int32_t y) { return reinterpret_cast<Sample*>(m_Pixmap.GetRow(y)); }
    const Sample* Row(int32_t y) const { return reinterpret_cast<const Sample*>(m_Pixmap.GetRow(y)); }
    Sample& At(int32_t x, int32_t y, int c) { return Row(y)[x * kSamples + c]; }
    Sample At(int32_t x, int32_t y, int c) const { return Row(y)[x * kSamples + c]; }
    void Fill(Sample v)
    {
        for (int32_t y = 0; y < Height(); ++y)
            std::fill(Row(y), Row(y) + size_t(Width()) * kSamples, v);
    }
    // Every sample from value(x, y, c).
    template <class F>
    void FillBy(F value)
    {
        for (int32_t y = 0; y < Height(); ++y)
            for (int32_t x = 0; x < Width(); ++x)
                for (int c = 0; c < kSamples; ++c)
                    At(x, y, c) = static_cast<Sample>(value(x, y, c));
    }
    // The same pixels (the padding at the rows' ends does not count).
    bool operator==(const OwnedPixmap& o) const
    {
        for (int32_t y = 0; y < Height(); ++y)
            if (std::memcmp(Row(y), o.Row(y), size_t(Width()) * PixelClass::kBytesPerPixel) != 0)
                return false;
        return true;
    }

private:
    int32_t m_RowBytes;
    std::vector<uint64_t> m_Memory;  // 8-byte aligned
    KPixmapTemplate<PixelClass> m_Pixmap;
};

}  // namespace lumotest
