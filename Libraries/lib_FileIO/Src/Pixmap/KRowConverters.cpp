#include "KRowConverters.h"

#include <cstring>

#include "KPixmapExceptions.h"
#include "KRowConverterTemplates.h"

// Plain index loops over bytes and words that the compiler can vectorise (the generic ones in
// KRowConverterTemplates.h); memcpy does the unaligned word loads and stores. Sources and destinations are not
// declared restrict: callers may convert within one buffer.

using namespace KRowConversion;

namespace {
using KPixelMemory::Load16;
using KPixelMemory::Load32;
using KPixelMemory::Store16;
using KPixelMemory::Store32;

inline const uint8_t* Bytes(const void* p) { return static_cast<const uint8_t*>(p); }
inline uint8_t* Bytes(void* p) { return static_cast<uint8_t*>(p); }

// Writes 3 bytes a pixel: bytes 0-2 of pixelBytes(i), four pixels (three output words) at a time, since the
// byte shuffle does not vectorise without SSSE3.
template <class PixelBytes>
void StoreRow24(size_t n, uint8_t* d, PixelBytes pixelBytes)
{
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const uint32_t a = pixelBytes(i), b = pixelBytes(i + 1), c = pixelBytes(i + 2), e = pixelBytes(i + 3);
        Store32(d + 3 * i, a | (b << 24));
        Store32(d + 3 * i + 4, (b >> 8) | (c << 16));
        Store32(d + 3 * i + 8, (c >> 16) | (e << 8));
    }
    for (; i < n; ++i) {
        const uint32_t w = pixelBytes(i);
        d[3 * i + 0] = static_cast<uint8_t>(w);
        d[3 * i + 1] = static_cast<uint8_t>(w >> 8);
        d[3 * i + 2] = static_cast<uint8_t>(w >> 16);
    }
}

// Same-size copy; memmove so that a row may be converted onto itself.
void CopyRow(int count, int bytesPerPixel, const void* source, void* destination)
{
    const size_t n = Count(count) * static_cast<size_t>(bytesPerPixel);
    if (n != 0)
        std::memmove(destination, source, n);
}

template <int Shift, class DestinationSample>
void ConvertRow16MonoShiftedRight(int count, const void* source, void* destination)
{
    const uint8_t* s = Bytes(source);
    uint8_t* d = Bytes(destination);
    const size_t n = Count(count);
    for (size_t i = 0; i < n; ++i) {
        const DestinationSample v = static_cast<DestinationSample>(Load16(s + 2 * i, 0) >> Shift);
        std::memcpy(d + sizeof(DestinationSample) * i, &v, sizeof v);
    }
}
}  // namespace

void ConvertRow24RGBTo48BGR(int count, const void* source, void* destination)
{
    Bytes8To48<3, 0, 1, 2, 2, 1, 0>(count, source, destination);
}

void ConvertRow24RGBTo48RGB(int count, const void* source, void* destination)
{
    Bytes8To48<3, 0, 1, 2, 0, 1, 2>(count, source, destination);
}

void ConvertRow30RGBLTo24BGR(int count, const void* source, void* destination)
{
    // Byte-swapping the word and dropping its top byte leaves B, G, R in bytes 0-2.
    const uint8_t* s = Bytes(source);
    StoreRow24(Count(count), Bytes(destination),
               [s](size_t i) { return __builtin_bswap32(Load32(s + 4 * i)) >> 8; });
}

void ConvertRow30RGBLTo24RGB(int count, const void* source, void* destination)
{
    const uint8_t* s = Bytes(source);
    StoreRow24(Count(count), Bytes(destination), [s](size_t i) { return Load32(s + 4 * i) & 0xFFFFFF; });
}

// Unpacking to 11 bits and packing again gives back the same word.
void ConvertRow30RGBLTo30RGBL(int count, const void* source, void* destination)
{
    CopyRow(count, 4, source, destination);
}

void ConvertRow30RGBLTo30RGB(int count, const void* source, void* destination)
{
    const uint8_t* s = Bytes(source);
    uint8_t* d = Bytes(destination);
    const size_t n = Count(count);
    for (size_t i = 0; i < n; ++i) {
        const KRGBTriple c = KPixelClass30RGBL::Unpack(Load32(s + 4 * i));
        Store32(d + 4 * i, KPixelClass30RGB::Pack(c.r, c.g, c.b));
    }
}

void ConvertRow30RGBLTo32ARGB(int count, const void* source, void* destination)
{
    Bytes8To32<4, 0, 1, 2, 1, 2, 3, 0>(count, source, destination);
}

void ConvertRow30RGBLTo32ABGR(int count, const void* source, void* destination)
{
    Bytes8To32<4, 0, 1, 2, 3, 2, 1, 0>(count, source, destination);
}

void ConvertRow30RGBLTo32BGRA(int count, const void* source, void* destination)
{
    Bytes8To32<4, 0, 1, 2, 2, 1, 0, 3>(count, source, destination);
}

void ConvertRow30RGBLTo32RGBA(int count, const void* source, void* destination)
{
    Bytes8To32<4, 0, 1, 2, 0, 1, 2, 3>(count, source, destination);
}

void ConvertRow30RGBLTo48RGB(int count, const void* source, void* destination)
{
    Packed11To48<KPixelClass30RGBL, 0, 1, 2>(count, source, destination);
}

void ConvertRow30RGBLTo48BGR(int count, const void* source, void* destination)
{
    Packed11To48<KPixelClass30RGBL, 2, 1, 0>(count, source, destination);
}

void ConvertRow48RGBTo24BGR(int count, const void* source, void* destination)
{
    Words16To24<0, 1, 2, 2, 1, 0>(count, source, destination);
}

void ConvertRow48RGBTo24RGB(int count, const void* source, void* destination)
{
    Words16To24<0, 1, 2, 0, 1, 2>(count, source, destination);
}

void ConvertRow48RGBTo30RGBL(int count, const void* source, void* destination)
{
    const uint8_t* s = Bytes(source);
    uint8_t* d = Bytes(destination);
    const size_t n = Count(count);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* p = s + 6 * i;
        Store32(d + 4 * i, KPixelClass30RGBL::Pack(Load16(p, 0) >> 5, Load16(p, 1) >> 5, Load16(p, 2) >> 5));
    }
}

void ConvertRow48RGBTo30RGB(int count, const void* source, void* destination)
{
    const uint8_t* s = Bytes(source);
    uint8_t* d = Bytes(destination);
    const size_t n = Count(count);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* p = s + 6 * i;
        Store32(d + 4 * i, KPixelClass30RGB::Pack(Load16(p, 0) >> 5, Load16(p, 1) >> 5, Load16(p, 2) >> 5));
    }
}

void ConvertRow48RGBTo32ARGB(int count, const void* source, void* destination)
{
    Words16To32<0, 1, 2, 1, 2, 3, 0>(count, source, destination);
}

void ConvertRow48RGBTo32ABGR(int count, const void* source, void* destination)
{
    Words16To32<0, 1, 2, 3, 2, 1, 0>(count, source, destination);
}

void ConvertRow48RGBTo32BGRA(int count, const void* source, void* destination)
{
    Words16To32<0, 1, 2, 2, 1, 0, 3>(count, source, destination);
}

void ConvertRow48RGBTo32RGBA(int count, const void* source, void* destination)
{
    Words16To32<0, 1, 2, 0, 1, 2, 3>(count, source, destination);
}

void ConvertRow48RGBTo48RGB(int count, const void* source, void* destination)
{
    Words16To48<0, 1, 2>(count, source, destination);
}

void ConvertRow48RGBTo48BGR(int count, const void* source, void* destination)
{
    Words16To48<2, 1, 0>(count, source, destination);
}

void ConvertRowTo30BGRL(int count, const void*, void*)
{
    if (count > 0)
        ThrowPixelPackingNotImplemented();
}

void ConvertRow16MonoTo8Mono(int count, const void* source, void* destination)
{
    ConvertRow16MonoShiftedRight<8, uint8_t>(count, source, destination);
}

void ConvertRow16MonoTo12Mono(int count, const void* source, void* destination)
{
    ConvertRow16MonoShiftedRight<4, uint16_t>(count, source, destination);
}

void ConvertRow16MonoTo16Mono(int count, const void* source, void* destination)
{
    CopyRow(count, 2, source, destination);
}

void ConvertRow16MonoTo32Mono(int count, const void* source, void* destination)
{
    ConvertRow16MonoShiftedRight<4, uint32_t>(count, source, destination);
}
