#pragma once
// The TIFF library's view of our files: a TIFF opened by storage URL (or on an open KIFile) does all its I/O
// through the file's own operations. The library's warnings and errors go to the trace, nothing else; callers
// learn of failures from the library's return values. Nothing else of the program calls the library's open
// functions.
//
// Mode strings, by their first letter: "r" reads an existing file; "r+" reads and writes an existing file
// without truncating it; "w..." creates the file or truncates it; "a" keeps an existing file (else creates
// it). Any other letter: the error "\"<mode>\": Bad mode" and no handle.
#include <tiffio.h>

#include "KWString.h"

class KIFile;

// The private tag that holds the tag block (LONG, variable count).
constexpr ttag_t kTiffTagQuarel = 37717;

// A handle on the file at url, or null (the reason is traced). The TIFF owns the file: TIFFClose releases it.
TIFF* TIFFOpen(const KWString& url, const char* mode);

// A handle on an open file, or null. With takeFile the TIFF owns the file from the call on (it is released on
// every failure path and by TIFFClose); without it the caller keeps the file and releases it after TIFFClose.
// url names the file in the library's messages.
TIFF* TIFFFileOpen(KIFile* file, const KWString& url, const char* mode, bool takeFile = true);

// The file under an open handle of this binding.
KIFile* TIFFGetKIFile(TIFF* tiff);

// The handlers installed for the whole program (done by the first open). Each formats the library's message
// into 2048 bytes and traces "module: Warning, message.\n" / "module: message.\n" (without a module, no
// "module: " in front).
void TiffWarningHandler(const char* module, const char* format, va_list args);
void TiffErrorHandler(const char* module, const char* format, va_list args);
