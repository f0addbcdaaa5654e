#pragma once
// Row converters: each turns count pixels of one type into another, in order, and writes nothing for a count
// of 0 or less. They allocate nothing and keep no state. Widening shifts left, narrowing shifts right; nothing
// rounds or clamps. Source and destination may be the same row only where both types have the same size.
#include <cstddef>

#include "KPixelClasses.h"

using KRowConverter = void (*)(int count, const void* source, void* destination);

void ConvertRow24RGBTo48BGR(int count, const void* source, void* destination);
void ConvertRow24RGBTo48RGB(int count, const void* source, void* destination);  // also for 48SRGB

void ConvertRow30RGBLTo24BGR(int count, const void* source, void* destination);
void ConvertRow30RGBLTo24RGB(int count, const void* source, void* destination);
void ConvertRow30RGBLTo30RGBL(int count, const void* source, void* destination);
void ConvertRow30RGBLTo30RGB(int count, const void* source, void* destination);
void ConvertRow30RGBLTo32ARGB(int count, const void* source, void* destination);
void ConvertRow30RGBLTo32ABGR(int count, const void* source, void* destination);
void ConvertRow30RGBLTo32BGRA(int count, const void* source, void* destination);
void ConvertRow30RGBLTo32RGBA(int count, const void* source, void* destination);
void ConvertRow30RGBLTo48RGB(int count, const void* source, void* destination);  // also for 48SRGB
void ConvertRow30RGBLTo48BGR(int count, const void* source, void* destination);

void ConvertRow48RGBTo24BGR(int count, const void* source, void* destination);
void ConvertRow48RGBTo24RGB(int count, const void* source, void* destination);
void ConvertRow48RGBTo30RGBL(int count, const void* source, void* destination);
void ConvertRow48RGBTo30RGB(int count, const void* source, void* destination);
void ConvertRow48RGBTo32ARGB(int count, const void* source, void* destination);
void ConvertRow48RGBTo32ABGR(int count, const void* source, void* destination);
void ConvertRow48RGBTo32BGRA(int count, const void* source, void* destination);
void ConvertRow48RGBTo32RGBA(int count, const void* source, void* destination);
void ConvertRow48RGBTo48RGB(int count, const void* source, void* destination);  // also for 48SRGB
void ConvertRow48RGBTo48BGR(int count, const void* source, void* destination);

// Into 30BGRL (from 30RGBL or 48RGB): not provided; throws KExceptionUnknownPixelType "NOT IMPLEMENTED" when
// count > 0.
void ConvertRowTo30BGRL(int count, const void* source, void* destination);

// Grey rows from 16Mono.
void ConvertRow16MonoTo8Mono(int count, const void* source, void* destination);    // value >> 8
void ConvertRow16MonoTo12Mono(int count, const void* source, void* destination);   // value >> 4
void ConvertRow16MonoTo16Mono(int count, const void* source, void* destination);   // copy; also for 16SMono
void ConvertRow16MonoTo32Mono(int count, const void* source, void* destination);   // value >> 4 in 32 bits

// The general composition: GetRGB of the source class, a shift (left for shift > 0, right for shift < 0), SetRGB
// of the destination class.
template <class SourceClass, class DestinationClass, int Shift>
void ConvertRowThroughTriple(int count, const void* source, void* destination)
{
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    for (int i = 0; i < count; ++i) {
        KRGBTriple c = SourceClass::GetRGB(s + static_cast<ptrdiff_t>(i) * SourceClass::kBytesPerPixel);
        if constexpr (Shift > 0)
            c = c << Shift;
        else if constexpr (Shift < 0)
            c = c >> -Shift;
        DestinationClass::SetRGB(d + static_cast<ptrdiff_t>(i) * DestinationClass::kBytesPerPixel, c);
    }
}
