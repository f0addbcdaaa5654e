#pragma once
// Builders that turn an image's property tree into EXIF directories: the JPEG APP1 segment is built by
// KJPEGLineWriter::BuildExifBlock, the free-standing EXIF directory block of a TIFF file here. Everything is
// written little-endian. Stateless and callable from any thread.
#include <vector>

#include "KImageLineWriter.h"
#include "KWString.h"

// Byte-order stores: most significant byte first when bigEndian is set.
void WriteExifLong(void* dest, bool bigEndian, KUInt32 value);
void WriteExifRational(void* dest, bool bigEndian, KUInt32 numerator, KUInt32 denominator);
void WriteExifSRational(void* dest, bool bigEndian, KInt32 numerator, KInt32 denominator);

// The current local time as "YYYY:MM:DD hh:mm:ss" and its zero byte; dest holds at least 20 bytes.
void FormatExifDateTimeNow(char* dest);

// The program name followed by the version as " %d.%d.%d.%04d" (Demo 1.2.3.0045).
KWString FormatExifSoftware(const KWString& softwareName, const KVersionInfo& version);

// The application's "ExifCameraModelMakerNote" setting, kept for the writers; the maker note carries the
// tree's texts only.
void SetExifCameraModelMakerNote(const KWString& text);
KWString GetExifCameraModelMakerNote();

// Size in bytes of the TIFF EXIF directory block.
constexpr KUInt32 kExifIfdBlockSize = 986;

// The EXIF directory block of a TIFF file, offsets counted from its first byte, or, with fileOffset, from the
// start of a file in which the block lies at fileOffset (a sub-directory of that file). `size` is set to 986; the
// vector is padded with 0xFF to whole 32-bit words (988 bytes) so that it can be stored as a LONG field.
std::vector<KUInt8> BuildExifIfdBlock(const KPropTree& tree, KInt32 width, KInt32 height, int colorSpaceCode,
                                      const KWString& softwareName, const KVersionInfo& version, KUInt32& size,
                                      KUInt32 fileOffset = 0);
