#pragma once
// Row converters of colour conversion into the display type 32BGRA, into 48BGR and (from 16-bit sources) into
// 32ARGB. Same contract as KRowConverters.h: (count, source row, destination row), nothing written for a count
// of 0 or less; no allocation, no state. 8-bit values come from 16-bit ones as their high byte and from 11-bit
// ones by >> 3; the alpha of a 32-bit output is 255.

// Into 32ARGB (alpha at byte 0).
void ConvertRow48SRGBTo32ARGB(int count, const void* source, void* destination);
void ConvertRow48BGRTo32ARGB(int count, const void* source, void* destination);

// Into 32BGRA (alpha at byte 3).
void ConvertRow24BGRTo32BGRA(int count, const void* source, void* destination);
void ConvertRow24RGBTo32BGRA(int count, const void* source, void* destination);
void ConvertRow30BGRLTo32BGRA(int count, const void* source, void* destination);
void ConvertRow30RGBTo32BGRA(int count, const void* source, void* destination);
void ConvertRow32ARGBTo32BGRA(int count, const void* source, void* destination);
void ConvertRow32ABGRTo32BGRA(int count, const void* source, void* destination);
void ConvertRow32BGRATo32BGRA(int count, const void* source, void* destination);
void ConvertRow32RGBATo32BGRA(int count, const void* source, void* destination);
void ConvertRow48SRGBTo32BGRA(int count, const void* source, void* destination);
void ConvertRow48BGRTo32BGRA(int count, const void* source, void* destination);

// Into 48BGR (words B, G, R): 8-bit channels << 8, 11-bit channels << 5.
void ConvertRow24BGRTo48BGR(int count, const void* source, void* destination);
void ConvertRow30BGRLTo48BGR(int count, const void* source, void* destination);
void ConvertRow30RGBTo48BGR(int count, const void* source, void* destination);
void ConvertRow32ARGBTo48BGR(int count, const void* source, void* destination);
void ConvertRow32ABGRTo48BGR(int count, const void* source, void* destination);
void ConvertRow32BGRATo48BGR(int count, const void* source, void* destination);
void ConvertRow32RGBATo48BGR(int count, const void* source, void* destination);
void ConvertRow48SRGBTo48BGR(int count, const void* source, void* destination);
void ConvertRow48BGRTo48BGR(int count, const void* source, void* destination);
