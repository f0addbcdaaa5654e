#pragma once
// Row converters into 48RGB (words R, G, B) from the colour types that KRowConverters.h does not cover.
// Same contract as those: (count, source row, destination row), nothing written for a count of 0 or less.
// 8-bit channels become 16-bit values by << 8, 11-bit channels by << 5; nothing rounds or clamps.
//
// The 24RGB, 30RGBL and 48RGB sources are in KRowConverters.h (ConvertRow24RGBTo48RGB, ConvertRow30RGBLTo48RGB,
// ConvertRow48RGBTo48RGB).
#include "KRowConverters.h"

void ConvertRow24BGRTo48RGB(int count, const void* source, void* destination);   // bytes 2, 1, 0 << 8
void ConvertRow30BGRLTo48RGB(int count, const void* source, void* destination);  // 11-bit R, G, B << 5
void ConvertRow30RGBTo48RGB(int count, const void* source, void* destination);   // R, G, B field << 1, all << 5
void ConvertRow32ARGBTo48RGB(int count, const void* source, void* destination);  // bytes 1, 2, 3 << 8
void ConvertRow32ABGRTo48RGB(int count, const void* source, void* destination);  // bytes 3, 2, 1 << 8
void ConvertRow32BGRATo48RGB(int count, const void* source, void* destination);  // bytes 2, 1, 0 << 8
void ConvertRow32RGBATo48RGB(int count, const void* source, void* destination);  // bytes 0, 1, 2 << 8
void ConvertRow48SRGBTo48RGB(int count, const void* source, void* destination);  // words copied, sign bits kept
void ConvertRow48BGRTo48RGB(int count, const void* source, void* destination);   // words 0 and 2 exchanged

// The converter from any colour type into 48RGB (the words also serve as 48SRGB); null for other types.
KRowConverter FindRowConverterTo48RGB(int sourceType);
