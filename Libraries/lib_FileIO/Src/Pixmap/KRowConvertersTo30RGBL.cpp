#include "KRowConvertersTo30RGBL.h"

#include "KRowConverterTemplates.h"

using namespace KRowConversion;

namespace {

// 8-bit channels at bytes SR, SG, SB of a 4-byte pixel as the high bytes of a 30RGBL word (low bits 0).
template <int SR, int SG, int SB>
void Bytes8To30RGBL(int count, const void* source, void* destination)
{
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    const size_t n = Count(count);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* p = s + 4 * i;
        KPixelMemory::Store32(d + 4 * i, uint32_t{p[SR]} | (uint32_t{p[SG]} << 8) | (uint32_t{p[SB]} << 16));
    }
}

// Words SR, SG, SB of a 48-bit pixel read as signed values, >> 5 with the sign kept, packed.
template <int SR, int SG, int SB>
void SignedWordsTo30RGBL(int count, const void* source, void* destination)
{
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    const size_t n = Count(count);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* p = s + 6 * i;
        const int32_t r = static_cast<int16_t>(KPixelMemory::Load16(p, SR));
        const int32_t g = static_cast<int16_t>(KPixelMemory::Load16(p, SG));
        const int32_t b = static_cast<int16_t>(KPixelMemory::Load16(p, SB));
        KPixelMemory::Store32(d + 4 * i, KPixelClass30RGBL::Pack(r >> 5, g >> 5, b >> 5));
    }
}

// Grey values of SourceT, shifted left and kept to 16 bits.
template <class SourceT, int Shift>
void MonoTo16Mono(int count, const void* source, void* destination)
{
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    const size_t n = Count(count);
    for (size_t i = 0; i < n; ++i) {
        SourceT v;
        std::memcpy(&v, s + sizeof(SourceT) * i, sizeof v);
        KPixelMemory::Store16(d, static_cast<int>(i), static_cast<uint32_t>(v) << Shift);
    }
}

}  // namespace

void ConvertRow30RGBTo30RGBL(int count, const void* source, void* destination)
{
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    const size_t n = Count(count);
    for (size_t i = 0; i < n; ++i) {
        const KRGBTriple c = KPixelClass30RGB::Unpack(KPixelMemory::Load32(s + 4 * i));
        KPixelMemory::Store32(d + 4 * i, KPixelClass30RGBL::Pack(c.r, c.g, c.b));
    }
}

void ConvertRow32ARGBTo30RGBL(int count, const void* source, void* destination)
{
    Bytes8To30RGBL<1, 2, 3>(count, source, destination);
}

void ConvertRow32ABGRTo30RGBL(int count, const void* source, void* destination)
{
    Bytes8To30RGBL<3, 2, 1>(count, source, destination);
}

void ConvertRow32BGRATo30RGBL(int count, const void* source, void* destination)
{
    Bytes8To30RGBL<2, 1, 0>(count, source, destination);
}

void ConvertRow32RGBATo30RGBL(int count, const void* source, void* destination)
{
    Bytes8To30RGBL<0, 1, 2>(count, source, destination);
}

void ConvertRow48SRGBTo30RGBL(int count, const void* source, void* destination)
{
    SignedWordsTo30RGBL<0, 1, 2>(count, source, destination);
}

void ConvertRow48BGRTo30RGBL(int count, const void* source, void* destination)
{
    SignedWordsTo30RGBL<2, 1, 0>(count, source, destination);
}

void ConvertRow8MonoTo16Mono(int count, const void* source, void* destination)
{
    MonoTo16Mono<uint8_t, 8>(count, source, destination);
}

void ConvertRow12MonoTo16Mono(int count, const void* source, void* destination)
{
    MonoTo16Mono<uint16_t, 4>(count, source, destination);
}

void ConvertRow32MonoTo16Mono(int count, const void* source, void* destination)
{
    MonoTo16Mono<uint32_t, 4>(count, source, destination);
}
