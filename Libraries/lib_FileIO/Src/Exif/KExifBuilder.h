#pragma once
// The two EXIF builders with the clock reading passed in (the public entry points read the clock once).
#include <ctime>
#include <vector>

#include "KExifWriter.h"

class KPropTree;

// Most data bytes a JPEG marker segment can hold (65535 less its 2-byte length).
constexpr size_t kMaxMarkerData = 65533;

// Longest Make, Model and Software texts written into the JPEG segment; longer ones are cut.
constexpr size_t kMaxMainText = 255;

// The data of the APP1 "Exif" segment: header, main directory, the thumbnail directory with the thumbnail's
// bytes when `thumbnail` is not empty, the EXIF directory and the maker note. Never more than 65533 bytes: a
// thumbnail that does not fit is left out (with a trace).
std::vector<KUInt8> BuildExifApp1Segment(const KPropTree& tree, KInt32 width, KInt32 height, int colorSpaceCode,
                                         const KWString& softwareName, const KVersionInfo& version,
                                         const std::vector<KUInt8>& thumbnail, std::time_t now);

std::vector<KUInt8> BuildExifIfdBlockAt(const KPropTree& tree, KInt32 width, KInt32 height, int colorSpaceCode,
                                        std::time_t now, KUInt32& size, KUInt32 fileOffset = 0);

// "YYYY:MM:DD hh:mm:ss" and its zero byte, in UTC or local time.
void FormatExifDateTime(std::time_t t, bool utc, char* dest);
