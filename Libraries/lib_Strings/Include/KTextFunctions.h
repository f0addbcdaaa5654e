#pragma once
// Bridges between KWString and the platform: the Unicode test, UTF-16 <-> ANSI (UTF-8 here), extensions.
#include <string>

#include "KWString.h"

// True on this platform: every platform call takes the wide form.
bool IsUnicodeOS();

// New arrays (caller frees with delete[]), or null when the text is not valid UTF-16 / UTF-8.
char* NewAnsiFromWide(const KWChar* wide);
KWChar* NewWideFromAnsi(const char* ansi);

// The text from the last '.' to the end, dot included; false (and empty) when there is no '.'.
bool GetFileExtension(const KWString& name, KWString& extension);

// Conversions at the POSIX boundary. Bytes that are not valid UTF-8 are kept as the lone surrogates
// U+DC80..U+DCFF and written back as the same bytes, so any file name survives a round trip.
KWString Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::u16string_view wide);
inline std::string WideToUtf8(const KWString& wide) { return WideToUtf8(wide.View()); }
