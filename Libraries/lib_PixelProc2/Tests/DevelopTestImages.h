#pragma once
// Typed views of test pixmaps for the development stages: signed RGB working images, signed mono images and
// small tables. Rows are packed, so the sanitizer sees any access past the pixels.
#include <cstdint>
#include <cstring>
#include <memory>

#include "ColourTestPixmaps.h"
#include "KLUT.h"
#include "KPixmap.h"

template <class PixelClass>
class TypedTestPixmap : public TestPixmap {
public:
    TypedTestPixmap(int32_t width, int32_t height) : TestPixmap(PixelClass::kPixelType, width, height) {}
    KPixmapTemplate<PixelClass>& Typed() { return static_cast<KPixmapTemplate<PixelClass>&>(Pixmap()); }

    int16_t Get(int32_t x, int32_t y, int channel = 0) const
    {
        int16_t v;
        std::memcpy(&v, At(x, y) + 2 * channel, 2);
        return v;
    }
    void Set(int32_t x, int32_t y, int channel, int32_t v)
    {
        const int16_t s = static_cast<int16_t>(v);
        std::memcpy(At(x, y) + 2 * channel, &s, 2);
    }
};

class WorkingImage : public TypedTestPixmap<KPixelClass48SRGB> {
public:
    using TypedTestPixmap::Set;
    WorkingImage(int32_t width, int32_t height) : TypedTestPixmap(width, height) {}
    void Set(int32_t x, int32_t y, int32_t r, int32_t g, int32_t b)
    {
        Set(x, y, 0, r);
        Set(x, y, 1, g);
        Set(x, y, 2, b);
    }
    template <class F>
    void FillWith(F f)  // f(x, y, rgb[3])
    {
        for (int32_t y = 0; y < Height(); ++y)
            for (int32_t x = 0; x < Width(); ++x) {
                int32_t v[3];
                f(x, y, v);
                Set(x, y, v[0], v[1], v[2]);
            }
    }
};

class MonoImage : public TypedTestPixmap<KPixelClass16SMono> {
public:
    MonoImage(int32_t width, int32_t height) : TypedTestPixmap(width, height) {}
};

// Every byte of the pixmap is fill (nothing was written since it was filled).
inline bool AllBytesAre(const TestPixmap& p, uint8_t fill)
{
    for (uint8_t b : p.Data())
        if (b != fill)
            return false;
    return true;
}

// A one-channel table of 65536 entries; entry i = f(i as a signed 16-bit value).
template <class F>
std::unique_ptr<KLUT> MakeLUT(F f)
{
    auto lut = std::make_unique<KLUT>(new KInt16[65536], 65536, true);
    for (int i = 0; i < 65536; ++i)
        lut->m_pData[i] = static_cast<KInt16>(f(static_cast<int16_t>(i)));
    return lut;
}

inline std::unique_ptr<KLUT> IdentityLUT()
{
    return MakeLUT([](int v) { return v; });
}

// Three channel tables of 65536 entries each, owning their data; channel c, entry i = f(c, i as signed).
template <class F>
std::unique_ptr<KColorLUT> MakeColorLUT(F f, uint32_t size = 65536)
{
    auto lut = std::make_unique<KColorLUT>();
    lut->m_Size = size;
    lut->m_Mask = size - 1;
    lut->m_bOwnsData = true;
    for (int c = 0; c < 3; ++c) {
        lut->m_pData[c] = new KInt16[size];
        for (uint32_t i = 0; i < size; ++i)
            lut->m_pData[c][i] = static_cast<KInt16>(f(c, static_cast<int16_t>(i)));
    }
    return lut;
}
