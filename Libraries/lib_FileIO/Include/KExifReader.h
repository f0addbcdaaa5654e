#pragma once
// Reads the TIFF-structured directories of an EXIF block into text pairs of a property tree, under the keys
// the EXIF writers use (CAMMANUF, SH_DESC, ISO, TIME, ...). Every offset, count and size taken from the block
// is checked against the block before use; a bad entry ends the walk of its directory quietly, and nested
// directories are followed only a few levels deep and a bounded number of times. Nothing is thrown.
#include <cstddef>

#include "KTypes.h"

class KPropTree;

// 16- and 32-bit reads in the given byte order.
KUInt16 ReadExifShort(const void* p, bool bigEndian);
KUInt32 ReadExifLong(const void* p, bool bigEndian);

// The first element of a value as a number: BYTE, SHORT, LONG unsigned; SBYTE, SSHORT, SLONG signed;
// RATIONAL and SRATIONAL as signed numerator / signed denominator (0 when the denominator is 0); FLOAT and
// DOUBLE as stored; ASCII, UNDEFINED and other types 0. The value must hold one element of the type.
double GetExifValueAsDouble(const void* value, int type, bool bigEndian);

// "Y:M:D h:m:s" as seconds since 1970-01-01 00:00:00 UTC (kept to 32 bits); 0 when fewer than six fields.
KInt32 ParseExifDateTime(const char* text);

// Walks the directory at `directory` (its entry count) of the block that starts at `base` and holds `length`
// bytes, adding pairs to the tree. True when the directory was read to its end.
bool ParseExifIfd(const KUInt8* directory, const KUInt8* base, KUInt32 length, bool bigEndian, KPropTree& tree);

// The data of a JPEG APP1 segment: "Exif" or "Jfif", two zero bytes, a TIFF header ("II" or "MM", 42, and the
// first directory at 8). Walks the main directory when the header matches; false (nothing added) otherwise.
bool ParseExifSegment(const KUInt8* data, size_t size, KPropTree& tree);
