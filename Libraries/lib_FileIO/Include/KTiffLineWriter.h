#pragma once
// Writes one image row by row as an uncompressed little-endian TIFF file: the standard tags, the system's own
// metadata in the private tag 37717 (a tag block), an EXIF sub-directory (tag 34665), a Photoshop thumbnail
// resource (34377) and an ICC profile (34675). Rows may come in any colour or grey pixel type and are stored in
// the file's type (8Mono, 16Mono, 24RGB, 30RGBL or 48RGB).
//
// Order: construct, SetDimensions, then tags, thumbnail, properties and profile (all before the first line),
// then `height` lines. The last WriteLine finishes the file and gives it its name; a writer destroyed before
// that leaves no file behind. One thread uses a writer at a time.
#include <memory>

#include "KImageLineWriter.h"
#include "KPixmapExceptions.h"
#include "KTiffExceptions.h"

class KTiffLineWriter : public KImageLineWriter {
public:
    // Opens the file (under a temporary name beside it; "wa" with the flag, else "w": both create or
    // truncate). KExceptionFileOpen (message: the URL) when it cannot.
    KTiffLineWriter(const KWString& url, bool append);
    ~KTiffLineWriter() override;
    KTiffLineWriter(const KTiffLineWriter&) = delete;
    KTiffLineWriter& operator=(const KTiffLineWriter&) = delete;

    // Pixel type 1, 3, 7, 8 or 15; anything else: KExceptionUnknownPixelType
    // "TiffLineWriter: while setting dimensions".
    void SetDimensions(KInt32 width, KInt32 height, int pixelType) override;
    // Save options: standard tags ("XResolution", "Description", "DateTime", ...), tag-block items ("Lens",
    // "Exposure", ...) and every other key as a free pair of the tag block. "Rows", "Columns" and "Filename" are
    // left out.
    void WriteTags(const KHasProperties& tags) override;
    // Resolution 180 dpi, make, model, software, date, the tag block (exposure texts, serial number, free pairs
    // of the capture settings and the raw size) and the EXIF sub-directory.
    void WriteProperties(const KPropTree& props, int colorSpaceCode, const KWString& softwareName,
                         const KVersionInfo& version) override;
    // A 24-bit pixmap (24RGB or 24BGR) as a Photoshop thumbnail resource; KExceptionThumbTooBig when the
    // resource would exceed 65535 bytes.
    void WriteThumbnail(const KPixmap& pixmap) override;
    void WriteProfile(KUInt32 size, const void* data) override;
    // One row of `width` pixels in the given type, converted to the file's type.
    void WriteLine(const void* row, int pixelType) override;

private:
    struct State;
    void priCheckBeforeLines(const char* refusal) const;
    void priWriteTagBlock(class KQuarelTag& tag, const char* refusal);
    void priWriteExifDirectory(const KPropTree& props, int colorSpaceCode, const KWString& softwareName,
                               const KVersionInfo& version);
    void priFinish();

    std::unique_ptr<State> m_pState;
};
