#include "KTiffImageReader.h"

#include <cstring>
#include <vector>

#include "KDebug.h"
#include "KPictureLimits.h"
#include "KPixmap.h"
#include "KPixmapExceptions.h"
#include "KPropTree.h"
#include "KQuarelTag.h"
#include "KReaderRowConversion.h"
#include "Tiff/KTiffFile.h"

struct KTiffImageReader::State {
    TIFF* tiff = nullptr;
    KWString url;
    uint64_t scanlineSize = 0;
    uint16_t bitsPerSample = 0;
    uint16_t samplesPerPixel = 0;
    uint16_t extraSamples = 0;
    uint16_t compression = 0;
    uint16_t photometric = 0;
    uint16_t planarConfig = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t scaledWidth = 0;
    int32_t scaledHeight = 0;
    int pixelType = 0;
    std::vector<uint8_t> rowBuffer;
    int32_t scaleFactor = 1;
    bool tiled = false;

    ~State()
    {
        if (tiff != nullptr)
            TIFFClose(tiff);
    }
};

namespace {

// The pixel type of a layout; 0 for every layout the writer does not make.
int PixelTypeOfLayout(uint16_t photometric, uint16_t samples, uint16_t extra, uint16_t bits)
{
    if (photometric == PHOTOMETRIC_MINISBLACK && samples == 1 && extra == 0) {
        if (bits == 8)
            return kPixelType8Mono;
        if (bits == 16)
            return kPixelType16Mono;
    }
    if (photometric == PHOTOMETRIC_RGB) {
        if (samples == 3 && extra == 0 && bits == 8)
            return kPixelType24RGB;
        if (samples == 4 && extra == 1 && bits == 8)
            return kPixelType30RGBL;
        if (samples == 3 && extra == 0 && bits == 16)
            return kPixelType48RGB;
    }
    return 0;
}

// The mean of factor consecutive values of each channel, in place: channels values of 8 or 16 bits a pixel.
template <class Sample, int Channels>
void ReduceSamples(uint8_t* row, int32_t outWidth, int32_t factor)
{
    for (int32_t x = 0; x < outWidth; ++x) {
        for (int c = 0; c < Channels; ++c) {
            uint32_t sum = 0;
            for (int32_t i = 0; i < factor; ++i) {
                Sample v;
                std::memcpy(&v, row + (static_cast<size_t>(x) * factor + i) * sizeof(Sample) * Channels + c * sizeof(Sample),
                            sizeof v);
                sum += v;
            }
            const Sample mean = static_cast<Sample>(sum / static_cast<uint32_t>(factor));
            std::memcpy(row + (static_cast<size_t>(x) * Channels + c) * sizeof(Sample), &mean, sizeof mean);
        }
    }
}

void Reduce30RGBL(uint8_t* row, int32_t outWidth, int32_t factor)
{
    for (int32_t x = 0; x < outWidth; ++x) {
        uint32_t r = 0, g = 0, b = 0;
        for (int32_t i = 0; i < factor; ++i) {
            const KRGBTriple c = KPixelClass30RGBL::GetRGB(row + (static_cast<size_t>(x) * factor + i) * 4);
            r += static_cast<uint32_t>(c.r);
            g += static_cast<uint32_t>(c.g);
            b += static_cast<uint32_t>(c.b);
        }
        const uint32_t f = static_cast<uint32_t>(factor);
        KPixelClass30RGBL::SetRGB(row + static_cast<size_t>(x) * 4, static_cast<int32_t>(r / f),
                                  static_cast<int32_t>(g / f), static_cast<int32_t>(b / f));
    }
}

}  // namespace

KTiffImageReader::KTiffImageReader(const KWString& url) : m_pState(std::make_unique<State>())
{
    m_pState->url = url;
    m_pState->tiff = TIFFOpen(url, "r");
    if (m_pState->tiff == nullptr) {
        KNarrowString message("TiffImageReader: Cannot open file '%s'", url.GetAscii());
        throw KExceptionFileNotFound(message.CStr());
    }
    priReadMainTags();
}

KTiffImageReader::~KTiffImageReader() = default;

void KTiffImageReader::priReadMainTags()
{
    State& s = *m_pState;
    TIFF* tiff = s.tiff;
    s.scanlineSize = TIFFScanlineSize64(tiff);
    uint32_t width = 0, height = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &s.bitsPerSample);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &s.samplesPerPixel);
    uint16_t extraCount = 0;
    uint16_t* extraTypes = nullptr;
    s.extraSamples = TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) ? extraCount : 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &s.compression);
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &s.photometric))
        s.photometric = 0xFFFF;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &s.planarConfig);
    s.rowBuffer.clear();
    s.tiled = TIFFIsTiled(tiff) != 0;
    priCheckDeclaredSize(width, height);

    // Sizes beyond 2^31 - 1 do not fit the pixmaps; such a file is reported as unsupported and empty.
    const bool sizeFits = width <= 0x7FFFFFFF && height <= 0x7FFFFFFF;
    s.width = sizeFits ? static_cast<int32_t>(width) : 0;
    s.height = sizeFits ? static_cast<int32_t>(height) : 0;
    s.pixelType = sizeFits && !s.tiled ? PixelTypeOfLayout(s.photometric, s.samplesPerPixel, s.extraSamples, s.bitsPerSample) : 0;
    // Rows are read straight into pixmap rows: the library's row must be exactly the pixel type's row.
    if (s.pixelType != 0 && s.scanlineSize != static_cast<uint64_t>(s.width) * KPixelTypeBytes(s.pixelType)) {
        DebugTrace("KTiffImageReader: scanline of %llu bytes for %d pixels of type %d\n",
                   static_cast<unsigned long long>(s.scanlineSize), s.width, s.pixelType);
        s.pixelType = 0;
    }
    SetScale(0);
}

// Refuses a declared size that no caller should allocate: beyond the largest picture, or more pixel data than
// the file can hold (as it is, or unpacked from compressed data).
void KTiffImageReader::priCheckDeclaredSize(uint32_t width, uint32_t height) const
{
    const State& s = *m_pState;
    const uint64_t pixels = static_cast<uint64_t>(width) * height;
    if (pixels > kLargestPicturePixels)
        throw KExceptionTIFF(KNarrowString("TiffImageReader: '%s' declares %u x %u pixels, more than the largest "
                                           "picture read (%llu pixels)",
                                           s.url.GetAscii(), width, height,
                                           static_cast<unsigned long long>(kLargestPicturePixels))
                                 .CStr());
    const uint64_t fileSize = static_cast<uint64_t>(TIFFGetSizeProc(s.tiff)(TIFFClientdata(s.tiff)));
    const uint64_t dataBytes = s.scanlineSize * height;
    const uint64_t ratio = s.compression == COMPRESSION_NONE ? 1 : kTIFFUnpackedBytesPerByte;
    if (fileSize < 0xFFFFFFFFu && dataBytes > fileSize * ratio)
        throw KExceptionTIFF(KNarrowString("TiffImageReader: '%s' declares %u x %u pixels, more than its %llu bytes "
                                           "can hold",
                                           s.url.GetAscii(), width, height, static_cast<unsigned long long>(fileSize))
                                 .CStr());
}

void KTiffImageReader::SetScale(int n)
{
    KASSERT_PARAM(n >= 0 && n <= 30, n);
    State& s = *m_pState;
    s.scaleFactor = int32_t(1) << n;
    s.scaledWidth = s.width / s.scaleFactor;
    s.scaledHeight = s.height / s.scaleFactor;
}

void KTiffImageReader::GetDimensions(int32_t* width, int32_t* height, int* pixelType) const
{
    *width = m_pState->scaledWidth;
    *height = m_pState->scaledHeight;
    *pixelType = m_pState->pixelType;
}

bool KTiffImageReader::IsTiled() const
{
    return m_pState->tiled;
}

void KTiffImageReader::GetProperties(KPropTree& tree) const
{
    const State& s = *m_pState;
    tree.AddPair(KWString("ROWS"), KWString(KNarrowString("%d", s.height).CStr()));
    tree.AddPair(KWString("COLS"), KWString(KNarrowString("%d", s.width).CStr()));

    uint32_t words = 0;
    const uint32_t* data = nullptr;
    if (!TIFFGetField(s.tiff, kTiffTagQuarel, &words, &data) || data == nullptr)
        return;
    KQuarelTag tag;
    try {
        tag.SetBuffer(data, static_cast<size_t>(words) * 4);
    } catch (const KException& e) {
        DebugTrace("KTiffImageReader: tag block of '%s' not read: %s\n", s.url.GetAscii(), e.GetMessage());
        return;
    }
    struct Fixed {
        uint32_t key;
        const char* name;
    };
    static const Fixed kFixed[] = {
        {KQuarelKey("sfsp"), "AP_DESC"},
        {KQuarelKey("sssd"), "SH_DESC"},
        {KQuarelKey("came"), "CAMSERIAL"},
    };
    KNarrowString text;
    for (const Fixed& f : kFixed)
        if (tag.GetString(f.key, &text))
            tree.AddPair(KWString(f.name), KWString(text.CStr()));

    int32_t count = 0;
    if (!tag.GetInt(KQuarelKey("exsu"), &count) || count <= 0 || !tag.GetString(KQuarelKey("exst"), &text))
        return;
    // Empty texts keep their places, so that a pair with an empty value does not shift the pairs after it.
    std::vector<KNarrowString> strings;
    const int n = KQuarelTag::SplitStringListKeepingEmpty(text.CStr(), strings, count);
    for (int i = 0; i + 1 < n; i += 2)
        if (strings[i].GetLength() > 0)
            tree.AddPair(KWString(strings[i].CStr()), KWString(strings[i + 1].CStr()));
}

void KTiffImageReader::ReadImage(KPixmap& pixmap)
{
    const State& s = *m_pState;
    if (pixmap.GetWidth() < s.scaledWidth || pixmap.GetHeight() < s.scaledHeight)
        throw KExceptionPixmapTooSmall("");
    for (int32_t r = 0; r < s.scaledHeight; ++r)
        ReadScanline(r, pixmap.GetRow(r), pixmap.GetPixelType());
}

void KTiffImageReader::priReduceRow(uint8_t* row) const
{
    const State& s = *m_pState;
    switch (s.pixelType) {
    case kPixelType16Mono: ReduceSamples<uint16_t, 1>(row, s.scaledWidth, s.scaleFactor); break;
    case kPixelType24RGB: ReduceSamples<uint8_t, 3>(row, s.scaledWidth, s.scaleFactor); break;
    case kPixelType30RGBL: Reduce30RGBL(row, s.scaledWidth, s.scaleFactor); break;
    case kPixelType48RGB: ReduceSamples<uint16_t, 3>(row, s.scaledWidth, s.scaleFactor); break;
    default: throw KExceptionUnknownPixelType("TiffReader:Scaling: Unknown source pixel type");
    }
}

void KTiffImageReader::ReadScanline(int32_t row, void* destination, int destinationType)
{
    State& s = *m_pState;
    if (s.planarConfig != PLANARCONFIG_CONTIG)
        throw KExceptionUnknownPixelType("Tiff planar config is not contiguous");
    // An unsupported layout is refused before the library writes anything.
    if (s.tiled)
        throw KExceptionUnknownPixelType("TiffReader: tiled TIFF files are not supported");
    if (s.pixelType == 0)
        throw KExceptionUnknownPixelType(s.scaleFactor > 1 ? "TiffReader:Scaling: Unknown source pixel type"
                                                           : "TiffReader: Unknown destination pixel type");

    const bool direct = destinationType == s.pixelType && s.scaleFactor == 1;
    if (!direct && s.rowBuffer.empty())
        s.rowBuffer.resize(static_cast<size_t>(s.scanlineSize));
    void* target = direct ? destination : s.rowBuffer.data();
    const int64_t fileRow = static_cast<int64_t>(row) * s.scaleFactor;
    if (row < 0 || fileRow >= s.height || TIFFReadScanline(s.tiff, target, static_cast<uint32_t>(fileRow), 0) == -1) {
        KNarrowString message("TIFFReadScanline failed at row %lld", static_cast<long long>(fileRow));
        throw KExceptionFileRead(message.CStr());
    }
    if (direct)
        return;
    if (s.scaleFactor > 1)
        priReduceRow(s.rowBuffer.data());
    KRowConverter convert = GetReaderRowConverter(s.pixelType, destinationType,
                                                  "TiffReader: Unknown destination pixel type",
                                                  "Unknown dest pixel type");
    convert(s.scaledWidth, s.rowBuffer.data(), destination);
}
