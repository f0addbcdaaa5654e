#pragma once
// The seventeen pixel classes: each names its type code, its size and its sample type, and the colour classes
// unpack one pixel to a KRGBTriple (GetRGB) and pack one from it (SetRGB). All are inline and stateless; they
// take the address of one pixel, which need not be aligned. Packing keeps the low bits of each component that its
// field holds; nothing clamps. Words are little-endian.
#include <bit>
#include <cstdint>
#include <cstring>

#include "KPixelTypes.h"
#include "KRGBTriple.h"

static_assert(std::endian::native == std::endian::little, "pixel layouts assume a little-endian machine");

namespace KPixelMemory {
inline uint16_t Load16(const void* p, int index)
{
    uint16_t v;
    std::memcpy(&v, static_cast<const uint8_t*>(p) + 2 * index, 2);
    return v;
}
inline void Store16(void* p, int index, uint32_t v)
{
    const uint16_t w = static_cast<uint16_t>(v);
    std::memcpy(static_cast<uint8_t*>(p) + 2 * index, &w, 2);
}
inline uint32_t Load32(const void* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void Store32(void* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline uint8_t Byte(const void* p, int index) { return static_cast<const uint8_t*>(p)[index]; }
inline void SetByte(void* p, int index, int32_t v) { static_cast<uint8_t*>(p)[index] = static_cast<uint8_t>(v); }
}  // namespace KPixelMemory

// Thrown by the 30BGRL packer: KExceptionUnknownPixelType "NOT IMPLEMENTED".
[[noreturn]] void ThrowPixelPackingNotImplemented();

// Grey classes: one sample a pixel.
template <int Type, class SampleT>
struct KPixelClassGrey {
    static constexpr int kPixelType = Type;
    static constexpr int kBytesPerPixel = sizeof(SampleT);
    using Sample = SampleT;
};

struct KPixelClass8Mono : KPixelClassGrey<kPixelType8Mono, uint8_t> {};
struct KPixelClass12Mono : KPixelClassGrey<kPixelType12Mono, uint16_t> {};  // 12-bit values in 16-bit cells
struct KPixelClass16Mono : KPixelClassGrey<kPixelType16Mono, uint16_t> {};
struct KPixelClass16SMono : KPixelClassGrey<kPixelType16SMono, int16_t> {};
struct KPixelClass32Mono : KPixelClassGrey<kPixelType32Mono, uint32_t> {};

// 8 bits a channel: R, G and B at the given byte positions; the packer writes 255 into the alpha byte (when
// there is one). The unpacker ignores alpha.
template <int Type, int Bytes, int RByte, int GByte, int BByte, int AlphaByte = -1>
struct KPixelClass8BitRGB {
    static constexpr int kPixelType = Type;
    static constexpr int kBytesPerPixel = Bytes;
    using Sample = uint8_t;
    static KRGBTriple GetRGB(const void* p)
    {
        using namespace KPixelMemory;
        return KRGBTriple(Byte(p, RByte), Byte(p, GByte), Byte(p, BByte));
    }
    static void SetRGB(void* p, const KRGBTriple& c)
    {
        using namespace KPixelMemory;
        SetByte(p, RByte, c.r);
        SetByte(p, GByte, c.g);
        SetByte(p, BByte, c.b);
        if constexpr (AlphaByte >= 0)
            SetByte(p, AlphaByte, 255);
    }
};

// GetRGB of 24BGR also reads 32BGRA pixels, and that of 24RGB 32RGBA pixels.
struct KPixelClass24BGR : KPixelClass8BitRGB<kPixelType24BGR, 3, 2, 1, 0> {};
struct KPixelClass24RGB : KPixelClass8BitRGB<kPixelType24RGB, 3, 0, 1, 2> {};
struct KPixelClass32ARGB : KPixelClass8BitRGB<kPixelType32ARGB, 4, 1, 2, 3, 0> {};
struct KPixelClass32ABGR : KPixelClass8BitRGB<kPixelType32ABGR, 4, 3, 2, 1, 0> {};
struct KPixelClass32BGRA : KPixelClass8BitRGB<kPixelType32BGRA, 4, 2, 1, 0, 3> {};
struct KPixelClass32RGBA : KPixelClass8BitRGB<kPixelType32RGBA, 4, 0, 1, 2, 3> {};

// 11 bits a channel in one 32-bit word.
//
// 30RGBL: bits 0-7 R bits 10-3, bits 8-15 G bits 10-3, bits 16-23 B bits 10-3, bits 24-25 B bits 2-1,
// bits 26-28 G bits 2-0, bits 29-31 R bits 2-0 (B bit 0 is not stored). Bytes 0-2 hold the 8-bit channels.
struct KPixelClass30RGBL {
    static constexpr int kPixelType = kPixelType30RGBL;
    static constexpr int kBytesPerPixel = 4;
    using Sample = uint32_t;

    static uint32_t Pack(int32_t r, int32_t g, int32_t b)
    {
        const uint32_t ur = static_cast<uint32_t>(r), ug = static_cast<uint32_t>(g), ub = static_cast<uint32_t>(b);
        return ((ur >> 3) & 0xFF) | (((ug & 0x7F8) >> 3) << 8) | (((ub & 0x7F8) >> 3) << 16) |
               (((ub & 6) >> 1) << 24) | ((ug & 7) << 26) | ((ur & 7) << 29);
    }
    static KRGBTriple Unpack(uint32_t w)
    {
        return KRGBTriple(static_cast<int32_t>(((w & 0xFF) << 3) | (w >> 29)),
                          static_cast<int32_t>((((w >> 8) & 0xFF) << 3) | ((w >> 26) & 7)),
                          static_cast<int32_t>((((w >> 16) & 0xFF) << 3) | (((w >> 24) & 3) << 1)));
    }
    static KRGBTriple GetRGB(const void* p) { return Unpack(KPixelMemory::Load32(p)); }
    static void SetRGB(void* p, const KRGBTriple& c) { KPixelMemory::Store32(p, Pack(c.r, c.g, c.b)); }
    static void SetRGB(void* p, int32_t r, int32_t g, int32_t b) { KPixelMemory::Store32(p, Pack(r, g, b)); }
};

// 30BGRL: 30RGBL with R and B exchanged (bytes 0-2 hold B, G, R). Reading only.
struct KPixelClass30BGRL {
    static constexpr int kPixelType = kPixelType30BGRL;
    static constexpr int kBytesPerPixel = 4;
    using Sample = uint32_t;

    static KRGBTriple Unpack(uint32_t w)
    {
        return KRGBTriple(static_cast<int32_t>((((w >> 16) & 0xFF) << 3) | (w >> 29)),
                          static_cast<int32_t>((((w >> 8) & 0xFF) << 3) | ((w >> 26) & 7)),
                          static_cast<int32_t>(((w & 0xFF) << 3) | (((w >> 24) & 3) << 1)));
    }
    static KRGBTriple GetRGB(const void* p) { return Unpack(KPixelMemory::Load32(p)); }
    // Not provided: throws KExceptionUnknownPixelType "NOT IMPLEMENTED".
    [[noreturn]] static void SetRGB(void*, const KRGBTriple&) { ThrowPixelPackingNotImplemented(); }
};

// 30RGB: bits 0-10 R, bits 11-21 G, bits 22-31 B >> 1 (10 bits).
struct KPixelClass30RGB {
    static constexpr int kPixelType = kPixelType30RGB;
    static constexpr int kBytesPerPixel = 4;
    using Sample = uint32_t;

    static uint32_t Pack(int32_t r, int32_t g, int32_t b)
    {
        return (static_cast<uint32_t>(r) & 0x7FF) + ((static_cast<uint32_t>(g) & 0x7FF) << 11) +
               ((static_cast<uint32_t>(b >> 1) & 0x3FF) << 22);
    }
    static KRGBTriple Unpack(uint32_t w)
    {
        return KRGBTriple(static_cast<int32_t>(w & 0x7FF), static_cast<int32_t>((w >> 11) & 0x7FF),
                          static_cast<int32_t>((w >> 22) << 1));
    }
    static KRGBTriple GetRGB(const void* p) { return Unpack(KPixelMemory::Load32(p)); }
    static void SetRGB(void* p, const KRGBTriple& c) { KPixelMemory::Store32(p, Pack(c.r, c.g, c.b)); }
};

// 16 bits a channel: three 16-bit words holding R, G and B at the given word positions. Signed classes read
// their words as signed values (48SRGB, and 48BGR as the colour conversions take it); packing keeps the low 16
// bits of each component.
template <int Type, int RWord, int GWord, int BWord, class SampleT, class ReadAs>
struct KPixelClass16BitRGB {
    static constexpr int kPixelType = Type;
    static constexpr int kBytesPerPixel = 6;
    using Sample = SampleT;
    static KRGBTriple GetRGB(const void* p)
    {
        using namespace KPixelMemory;
        return KRGBTriple(static_cast<ReadAs>(Load16(p, RWord)), static_cast<ReadAs>(Load16(p, GWord)),
                          static_cast<ReadAs>(Load16(p, BWord)));
    }
    static void SetRGB(void* p, const KRGBTriple& c)
    {
        using namespace KPixelMemory;
        Store16(p, RWord, static_cast<uint32_t>(c.r));
        Store16(p, GWord, static_cast<uint32_t>(c.g));
        Store16(p, BWord, static_cast<uint32_t>(c.b));
    }
};

struct KPixelClass48RGB : KPixelClass16BitRGB<kPixelType48RGB, 0, 1, 2, uint16_t, uint16_t> {};
struct KPixelClass48SRGB : KPixelClass16BitRGB<kPixelType48SRGB, 0, 1, 2, int16_t, int16_t> {};
struct KPixelClass48BGR : KPixelClass16BitRGB<kPixelType48BGR, 2, 1, 0, uint16_t, int16_t> {};
