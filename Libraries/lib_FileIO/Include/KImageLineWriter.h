#pragma once
// The row-by-row image writer that the JPEG and TIFF writers implement. Calls come in the order dimensions,
// tags, thumbnail, properties, profile, lines; a file is complete once its last row is written. One thread
// uses a writer at a time.
#include "KTypes.h"
#include "KWString.h"

class KHasProperties;
class KPixmap;
class KPropTree;

// The program's version: four 32-bit numbers, shown as " %d.%d.%d.%04d" after the program's name.
struct KVersionInfo {
    KInt32 Major = 0;
    KInt32 Minor = 0;
    KInt32 Revision = 0;
    KInt32 Build = 0;
};

class KImageLineWriter {
public:
    virtual ~KImageLineWriter() = default;
    virtual void SetDimensions(KInt32 width, KInt32 height, int pixelType) = 0;
    virtual void WriteTags(const KHasProperties& tags) = 0;
    virtual void WriteProperties(const KPropTree& props, int colorSpaceCode, const KWString& softwareName,
                                 const KVersionInfo& version) = 0;
    virtual void WriteThumbnail(const KPixmap& pixmap) = 0;
    virtual void WriteProfile(KUInt32 size, const void* data) = 0;
    virtual void WriteLine(const void* row, int pixelType) = 0;
};

// A writer of whole pixmaps (the JPEG writer's thumbnail maker among its users).
class KImageWriter {
public:
    virtual ~KImageWriter() = default;
    // Remembers a profile to embed; the caller keeps the bytes alive until Write returns.
    virtual void SetProfile(KUInt32 size, const void* data) = 0;
    virtual void Write(const KPixmap& pixmap, const KHasProperties& tags) = 0;
};
