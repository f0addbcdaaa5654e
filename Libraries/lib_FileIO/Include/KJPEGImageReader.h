#pragma once
// Reads a JPEG file through the storage layer: its (optionally reduced) dimensions and native pixel type, its
// EXIF properties, and its pixels into a caller's pixmap of any colour type the reader table converts to.
// Use: construct (header read), optionally SetScale, GetDimensions, then ReadImage once and GetProperties in
// either order. One thread uses a reader at a time.
#include <memory>
#include <vector>

#include "KJPEGExceptions.h"
#include "KRowConverters.h"
#include "KStorageHolder.h"
#include "KWString.h"

class KJPEGDecompressor;
class KPixmap;
class KPropTree;

class KJPEGImageReader {
public:
    // Opens the URL; KExceptionFileNotFound when it cannot, KExceptionJPEG when it holds no JPEG header.
    explicit KJPEGImageReader(const KWString& url);
    virtual ~KJPEGImageReader();
    KJPEGImageReader(const KJPEGImageReader&) = delete;
    KJPEGImageReader& operator=(const KJPEGImageReader&) = delete;

    // Decode at 1/2 to the power n (n from 0 to 3; the codec's smallest reduction is 1/8).
    void SetScale(int n);
    // Output size; pixel type 1 (8Mono) for grey files, 7 (24RGB) for colour ones.
    void GetDimensions(KInt32& width, KInt32& height, int& pixelType);
    // Adds the EXIF pairs of the first APP1 segment; nothing when there is none or it is not EXIF.
    void GetProperties(KPropTree& tree);
    // Decodes every row into the pixmap (at least the output size); columns and rows beyond stay as they were.
    void ReadImage(KPixmap& pixmap);

private:
    void priUpdateNativeType();
    // One row into destination: decoded straight into it (convert null) or through the row buffer.
    void priReadScanline(KInt32 row, void* destination, KRowConverter convert);

    KWString m_URL;
    KFileHolder m_pFile;
    std::unique_ptr<KJPEGDecompressor> m_pCodec;  // after the file: destroyed before it
    int m_NativeType = 0;
    size_t m_NativeRowBytes = 0;
    std::vector<KUInt8> m_RowBuffer;
    bool m_Started = false;
    bool m_Finished = false;
};
