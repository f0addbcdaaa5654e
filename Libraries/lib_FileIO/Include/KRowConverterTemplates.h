#pragma once
// Generic row converters between the byte and word layouts of the colour pixel types. Each template is one
// converter of the (count, source row, destination row) form; it writes nothing for a count of 0 or less, and
// its positions are byte indices (8-bit channels) or word indices (16-bit channels) inside one pixel.
// Plain index loops that the compiler can vectorise; they allocate nothing.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "KPixelClasses.h"

namespace KRowConversion {

inline size_t Count(int count) { return count > 0 ? static_cast<size_t>(count) : 0; }

// 8-bit channels at bytes SR, SG, SB of a SourceBytes-byte pixel into a 32-bit pixel: the channels at bytes DR,
// DG, DB and 255 at byte DA.
template <int SourceBytes, int SR, int SG, int SB, int DR, int DG, int DB, int DA>
void Bytes8To32(int count, const void* source, void* destination)
{
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    const size_t n = Count(count);
    if constexpr (SourceBytes == 4) {
        // One word load a pixel and shifts vectorise better than byte loads.
        for (size_t i = 0; i < n; ++i) {
            const uint32_t w = KPixelMemory::Load32(s + 4 * i);
            const uint32_t out = (((w >> (8 * SR)) & 0xFF) << (8 * DR)) | (((w >> (8 * SG)) & 0xFF) << (8 * DG)) |
                                 (((w >> (8 * SB)) & 0xFF) << (8 * DB)) | (0xFFu << (8 * DA));
            KPixelMemory::Store32(d + 4 * i, out);
        }
    } else {
        for (size_t i = 0; i < n; ++i) {
            const uint8_t* p = s + SourceBytes * i;
            const uint32_t out = (uint32_t{p[SR]} << (8 * DR)) | (uint32_t{p[SG]} << (8 * DG)) |
                                 (uint32_t{p[SB]} << (8 * DB)) | (0xFFu << (8 * DA));
            KPixelMemory::Store32(d + 4 * i, out);
        }
    }
}

// 8-bit channels at bytes SR, SG, SB of a SourceBytes-byte pixel, each << 8, into words DR, DG, DB.
template <int SourceBytes, int SR, int SG, int SB, int DR, int DG, int DB>
void Bytes8To48(int count, const void* source, void* destination)
{
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    const size_t n = Count(count);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* p = s + SourceBytes * i;
        uint8_t* q = d + 6 * i;
        KPixelMemory::Store16(q, DR, uint32_t{p[SR]} << 8);
        KPixelMemory::Store16(q, DG, uint32_t{p[SG]} << 8);
        KPixelMemory::Store16(q, DB, uint32_t{p[SB]} << 8);
    }
}

// The high bytes of words SR, SG, SB of a 48-bit pixel into a 32-bit pixel: bytes DR, DG, DB and 255 at DA.
template <int SR, int SG, int SB, int DR, int DG, int DB, int DA>
void Words16To32(int count, const void* source, void* destination)
{
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    const size_t n = Count(count);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* p = s + 6 * i;
        uint8_t* q = d + 4 * i;
        q[DR] = p[2 * SR + 1];
        q[DG] = p[2 * SG + 1];
        q[DB] = p[2 * SB + 1];
        q[DA] = 255;
    }
}

// The high bytes of words SR, SG, SB of a 48-bit pixel into a 24-bit pixel: bytes DR, DG, DB.
template <int SR, int SG, int SB, int DR, int DG, int DB>
void Words16To24(int count, const void* source, void* destination)
{
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    const size_t n = Count(count);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* p = s + 6 * i;
        uint8_t* q = d + 3 * i;
        q[DR] = static_cast<uint8_t>(KPixelMemory::Load16(p, SR) >> 8);
        q[DG] = static_cast<uint8_t>(KPixelMemory::Load16(p, SG) >> 8);
        q[DB] = static_cast<uint8_t>(KPixelMemory::Load16(p, SB) >> 8);
    }
}

// A 48-bit pixel with its words reordered: destination words 0, 1, 2 = source words S0, S1, S2 (patterns kept).
// Source and destination may be the same row.
template <int S0, int S1, int S2>
void Words16To48(int count, const void* source, void* destination)
{
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    const size_t n = Count(count);
    if constexpr (S0 == 0 && S1 == 1 && S2 == 2) {
        if (n != 0)
            std::memmove(d, s, 6 * n);
    } else {
        for (size_t i = 0; i < n; ++i) {
            const uint8_t* p = s + 6 * i;
            const uint16_t w0 = KPixelMemory::Load16(p, S0), w1 = KPixelMemory::Load16(p, S1),
                           w2 = KPixelMemory::Load16(p, S2);
            uint8_t* q = d + 6 * i;
            KPixelMemory::Store16(q, 0, w0);
            KPixelMemory::Store16(q, 1, w1);
            KPixelMemory::Store16(q, 2, w2);
        }
    }
}

// The 11-bit channels of a packed 32-bit class (its Unpack), each << 5, into words DR, DG, DB.
template <class SourceClass, int DR, int DG, int DB>
void Packed11To48(int count, const void* source, void* destination)
{
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    const size_t n = Count(count);
    for (size_t i = 0; i < n; ++i) {
        const KRGBTriple c = SourceClass::Unpack(KPixelMemory::Load32(s + 4 * i));
        uint8_t* q = d + 6 * i;
        KPixelMemory::Store16(q, DR, static_cast<uint32_t>(c.r) << 5);
        KPixelMemory::Store16(q, DG, static_cast<uint32_t>(c.g) << 5);
        KPixelMemory::Store16(q, DB, static_cast<uint32_t>(c.b) << 5);
    }
}

// The 11-bit channels of a packed 32-bit class, each >> 3, into a 32-bit pixel: bytes DR, DG, DB and 255 at DA.
template <class SourceClass, int DR, int DG, int DB, int DA>
void Packed11To32(int count, const void* source, void* destination)
{
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    const size_t n = Count(count);
    for (size_t i = 0; i < n; ++i) {
        const KRGBTriple c = SourceClass::Unpack(KPixelMemory::Load32(s + 4 * i));
        const uint32_t out = ((static_cast<uint32_t>(c.r) >> 3) << (8 * DR)) |
                             ((static_cast<uint32_t>(c.g) >> 3) << (8 * DG)) |
                             ((static_cast<uint32_t>(c.b) >> 3) << (8 * DB)) | (0xFFu << (8 * DA));
        KPixelMemory::Store32(d + 4 * i, out);
    }
}

}  // namespace KRowConversion
