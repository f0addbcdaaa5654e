#include "KExifWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "KExifBuilder.h"
#include "KNarrowString.h"

namespace {

std::mutex g_MakerNoteLock;
KWString g_CameraModelMakerNote;

}  // namespace

void WriteExifLong(void* dest, bool bigEndian, KUInt32 value)
{
    KUInt8* p = static_cast<KUInt8*>(dest);
    for (int i = 0; i < 4; ++i) {
        int shift = bigEndian ? 24 - 8 * i : 8 * i;
        p[i] = static_cast<KUInt8>(value >> shift);
    }
}

void WriteExifRational(void* dest, bool bigEndian, KUInt32 numerator, KUInt32 denominator)
{
    WriteExifLong(dest, bigEndian, numerator);
    WriteExifLong(static_cast<KUInt8*>(dest) + 4, bigEndian, denominator);
}

void WriteExifSRational(void* dest, bool bigEndian, KInt32 numerator, KInt32 denominator)
{
    WriteExifRational(dest, bigEndian, static_cast<KUInt32>(numerator), static_cast<KUInt32>(denominator));
}

void FormatExifDateTime(std::time_t t, bool utc, char* dest)
{
    std::tm tm{};
    bool ok = utc ? gmtime_r(&t, &tm) != nullptr : localtime_r(&t, &tm) != nullptr;
    if (!ok)
        tm = std::tm{};
    // Twenty bytes whatever the year: a date the format cannot hold is cut, never written past the buffer.
    char text[64];
    std::snprintf(text, sizeof text, "%04d:%02d:%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    std::memset(dest, 0, 20);
    std::memcpy(dest, text, std::min<size_t>(std::strlen(text), 19));
}

void FormatExifDateTimeNow(char* dest)
{
    FormatExifDateTime(std::time(nullptr), false, dest);
}

KWString FormatExifSoftware(const KWString& softwareName, const KVersionInfo& version)
{
    KNarrowString suffix(" %d.%d.%d.%04d", version.Major, version.Minor, version.Revision, version.Build);
    KWString text(softwareName);
    text += suffix.CStr();
    return text;
}

void SetExifCameraModelMakerNote(const KWString& text)
{
    std::lock_guard<std::mutex> lock(g_MakerNoteLock);
    g_CameraModelMakerNote = text;
}

KWString GetExifCameraModelMakerNote()
{
    std::lock_guard<std::mutex> lock(g_MakerNoteLock);
    return g_CameraModelMakerNote;
}

std::vector<KUInt8> BuildExifIfdBlock(const KPropTree& tree, KInt32 width, KInt32 height, int colorSpaceCode,
                                      const KWString& softwareName, const KVersionInfo& version, KUInt32& size,
                                      KUInt32 fileOffset)
{
    return BuildExifIfdBlockAt(tree, width, height, colorSpaceCode, std::time(nullptr), size, fileOffset);
}
