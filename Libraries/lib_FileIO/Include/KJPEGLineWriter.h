#pragma once
// Writes one image row by row as a JPEG file with an EXIF APP1 segment (and its thumbnail), a comment and an
// ICC profile. Order: construct, SetDimensions (starts the compressor), then tags, thumbnail, properties and
// profile (thumbnail before properties; all before the first line), then exactly `height` lines. The last
// WriteLine finishes the file and gives it its name; a writer destroyed before that leaves no file behind.
// One thread uses a writer at a time.
#include <memory>
#include <vector>

#include "KFileReplacer.h"
#include "KImageLineWriter.h"
#include "KJPEGExceptions.h"
#include "KRowConverters.h"

class KJPEGCompressor;

// Largest thumbnail edge.
constexpr KInt32 kJPEGThumbnailMaxSize = 160;

class KJPEGLineWriter : public KImageLineWriter {
public:
    // Opens the file (under a temporary name beside it); KExceptionFileOpen (message: the URL) when it cannot.
    // The flag is not used.
    KJPEGLineWriter(const KWString& url, int quality, bool flag);
    ~KJPEGLineWriter() override;
    KJPEGLineWriter(const KJPEGLineWriter&) = delete;
    KJPEGLineWriter& operator=(const KJPEGLineWriter&) = delete;

    // Pixel type 1 (grey) or 7 (RGB).
    void SetDimensions(KInt32 width, KInt32 height, int pixelType) override;
    // "Description" becomes a comment (COM) segment.
    void WriteTags(const KHasProperties& tags) override;
    void WriteProperties(const KPropTree& props, int colorSpaceCode, const KWString& softwareName,
                         const KVersionInfo& version) override;
    // At most 160 x 160; grey, 24RGB or 24BGR. Embedded in the EXIF segment by WriteProperties.
    void WriteThumbnail(const KPixmap& pixmap) override;
    // The profile in APP2 "ICC_PROFILE" chunks of up to 65518 bytes.
    void WriteProfile(KUInt32 size, const void* data) override;
    // One row; a colour writer takes 24BGR and the 32-bit types too.
    void WriteLine(const void* row, int pixelType) override;

    // Builds the APP1 "Exif" segment from the properties and writes it (reached through WriteProperties).
    virtual void BuildExifBlock(const KPropTree& props, int colorSpaceCode, const KWString& softwareName,
                                const KVersionInfo& version);

private:
    // Writes into target (which the caller keeps) rather than a named file: the thumbnail is made so.
    KJPEGLineWriter(KIFile* target, int quality);
    void priCheckBeforeLines(const char* uninitialized, const char* outOfOrder) const;
    KRowConverter priConverterFor(int pixelType) const;
    void priFinish();

    KWString m_URL;
    KFileReplacer m_Output;                     // the file, under a temporary name until finished
    KIFile* m_pTarget = nullptr;                // or this file, the caller's
    std::unique_ptr<KJPEGCompressor> m_pCodec;  // after the file: destroyed before it
    int m_Quality;
    int m_PixelType = 0;
    KInt32 m_Width = 0;
    KInt32 m_Height = 0;
    KInt32 m_RowsWritten = 0;
    size_t m_RowBytes = 0;
    std::vector<KUInt8> m_RowBuffer;
    bool m_WantExifHeader = true;  // the codec never writes a JFIF header
    bool m_FirstLineWritten = false;
    bool m_PropertiesWritten = false;
    bool m_Finished = false;
    std::vector<KUInt8> m_Thumbnail;  // a complete JPEG file, empty when there is none
};
