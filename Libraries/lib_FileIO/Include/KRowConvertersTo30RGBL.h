#pragma once
// Row converters into the packed 11-bit 30RGBL type and into 16Mono, from the types that KRowConverters.h does
// not cover (the TIFF line writer stores rows in these). Same contract as those: (count, source row, destination
// row), nothing written for a count of 0 or less. 8-bit channels become the high 8 of 11 bits (low bits 0);
// 16-bit channels become 11 bits by an arithmetic shift right by 5; nothing rounds or clamps.

void ConvertRow30RGBTo30RGBL(int count, const void* source, void* destination);   // B field << 1
void ConvertRow32ARGBTo30RGBL(int count, const void* source, void* destination);  // bytes 1, 2, 3
void ConvertRow32ABGRTo30RGBL(int count, const void* source, void* destination);  // bytes 3, 2, 1
void ConvertRow32BGRATo30RGBL(int count, const void* source, void* destination);  // bytes 2, 1, 0
void ConvertRow32RGBATo30RGBL(int count, const void* source, void* destination);  // bytes 0, 1, 2
void ConvertRow48SRGBTo30RGBL(int count, const void* source, void* destination);  // signed words >> 5
void ConvertRow48BGRTo30RGBL(int count, const void* source, void* destination);   // signed words 2, 1, 0 >> 5

void ConvertRow8MonoTo16Mono(int count, const void* source, void* destination);   // value << 8
void ConvertRow12MonoTo16Mono(int count, const void* source, void* destination);  // value << 4, kept to 16 bits
void ConvertRow32MonoTo16Mono(int count, const void* source, void* destination);  // low 16 bits << 4, kept to 16
