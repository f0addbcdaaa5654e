#pragma once
// The ANSI code page of the machine, Windows-1252, and conversion into it from UTF-16 in the shape the
// system's classes expect.
#include <cstdint>

// Converts `length` UTF-16 units of `text` (-1: up to and with its terminating zero) into the ANSI code page.
// A character the code page lacks becomes '?' (a surrogate pair, or a lone surrogate, becomes one '?').
// With outSize 0 answers the bytes needed and writes nothing; otherwise writes at most outSize bytes and
// answers the bytes written, or 0 with PLAT_ERROR_INSUFFICIENT_BUFFER when they do not all fit (those that fit
// are written). 0 with PLAT_ERROR_INVALID_PARAMETER for a null text, a length of 0 or below -1, a null output
// with outSize above 0, or outSize below 0.
int32_t PlatWideCharToMultiByte(const char16_t* text, int32_t length, char* out, int32_t outSize);

// The byte for one UTF-16 unit outside the surrogates, '?' when the code page lacks it.
char PlatAnsiFromWide(char16_t unit);
