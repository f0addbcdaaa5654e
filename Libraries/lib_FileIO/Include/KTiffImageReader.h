#pragma once
// Reads the TIFF files that the TIFF line writer makes: 8- or 16-bit grey, 8-bit RGB, 8-bit RGB with one extra
// sample (the packed 11-bit 30RGBL type) and 16-bit RGB, samples contiguous. Any other layout has pixel type 0
// and cannot be read. Rows can be reduced by a power of two while reading (pixels averaged along the row, only
// every n-th row read). The system's own metadata comes back from the private tag 37717.
// One thread uses a reader at a time; the reader owns its open file.
#include <memory>

#include "KTiffExceptions.h"
#include "KWString.h"

class KPixmap;
class KPropTree;

class KTiffImageReader {
public:
    // Opens the file at url. KExceptionFileNotFound "TiffImageReader: Cannot open file '<url>'" when that fails;
    // KExceptionTIFF when the declared size is beyond the largest picture or more than the file can hold.
    explicit KTiffImageReader(const KWString& url);
    virtual ~KTiffImageReader();
    KTiffImageReader(const KTiffImageReader&) = delete;
    KTiffImageReader& operator=(const KTiffImageReader&) = delete;

    // Reduction factor 2^n (n from 0 to 30); the scaled size is the file's size divided by it (truncating).
    void SetScale(int n);
    // The scaled size and the file's pixel type (0 when unsupported).
    void GetDimensions(int32_t* width, int32_t* height, int* pixelType) const;
    // Tiled files have pixel type 0: their rows are not read.
    bool IsTiled() const;
    // Appends "ROWS" and "COLS", then what the private tag holds: "AP_DESC", "SH_DESC", "CAMSERIAL" and the
    // free pairs. A missing or unparsable tag adds nothing more.
    void GetProperties(KPropTree& tree) const;
    // Every scaled row into the pixmap (of any supported type). KExceptionPixmapTooSmall when it is smaller
    // than the scaled image.
    void ReadImage(KPixmap& pixmap);
    // One scaled row (file row row x factor) into destination, in the destination's pixel type.
    void ReadScanline(int32_t row, void* destination, int destinationType);

private:
    struct State;
    void priReadMainTags();
    void priCheckDeclaredSize(uint32_t width, uint32_t height) const;
    void priReduceRow(uint8_t* row) const;

    std::unique_ptr<State> m_pState;
};
