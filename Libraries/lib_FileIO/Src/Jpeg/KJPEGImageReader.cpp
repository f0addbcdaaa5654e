#include "KJPEGImageReader.h"

#include "KDebug.h"
#include "KExifReader.h"
#include "KJPEGCodec.h"
#include "KNarrowString.h"
#include "KPictureLimits.h"
#include "KPixmap.h"
#include "KPixmapExceptions.h"
#include "KReaderRowConversion.h"
#include "KStorage.h"

namespace {

KNarrowString CannotOpen(const KWString& url)
{
    return KNarrowString("JPEGImageReader: Cannot open file '%s'", url.GetAscii());
}

// Refuses a declared size that no caller should allocate: beyond the largest picture, or more than a file of
// fileSize bytes can encode.
void CheckDeclaredSize(const KWString& url, JDIMENSION width, JDIMENSION height, KUInt32 fileSize)
{
    const uint64_t pixels = static_cast<uint64_t>(width) * height;
    if (pixels > kLargestPicturePixels)
        throw KExceptionJPEG(KNarrowString("JPEGImageReader: '%s' declares %u x %u pixels, more than the largest "
                                           "picture read (%llu pixels)",
                                           url.GetAscii(), width, height,
                                           static_cast<unsigned long long>(kLargestPicturePixels))
                                 .CStr());
    if (fileSize != KFILE_SIZE_UNKNOWN && pixels > kSmallPicturePixels &&
        pixels > static_cast<uint64_t>(fileSize) * kJPEGPixelsPerByte)
        throw KExceptionJPEG(KNarrowString("JPEGImageReader: '%s' declares %u x %u pixels, more than its %u bytes "
                                           "can hold",
                                           url.GetAscii(), width, height, fileSize)
                                 .CStr());
}

}  // namespace

KJPEGImageReader::KJPEGImageReader(const KWString& url) : m_URL(url)
{
    m_pFile.reset(OpenFileByURL(url, KFILE_MODE_READ));
    if (!m_pFile)
        throw KExceptionFileNotFound(CannotOpen(url).CStr());
    m_pCodec = std::make_unique<KJPEGDecompressor>(m_pFile.get());
    jpeg_decompress_struct* info = &m_pCodec->Info();
    m_pCodec->Call([info] {
        jpeg_save_markers(info, JPEG_APP0 + 1, 0xFFFF);
        jpeg_read_header(info, TRUE);
    });
    CheckDeclaredSize(url, info->image_width, info->image_height, m_pFile->GetSize());
    SetScale(0);
}

KJPEGImageReader::~KJPEGImageReader()
{
    jpeg_decompress_struct* info = &m_pCodec->Info();
    if (m_Finished) {
        if (!m_pCodec->CallQuietly([info] { jpeg_finish_decompress(info); }))
            DebugTrace("JPEGImageReader: finishing '%s' failed\n", m_URL.GetAscii());
    } else {
        jpeg_abort_decompress(info);
    }
    m_pCodec.reset();
}

void KJPEGImageReader::SetScale(int n)
{
    n = n < 0 ? 0 : n > 3 ? 3 : n;
    jpeg_decompress_struct* info = &m_pCodec->Info();
    m_pCodec->Call([info, n] {
        info->scale_num = 1;
        info->scale_denom = 1u << n;
        jpeg_calc_output_dimensions(info);
    });
}

void KJPEGImageReader::priUpdateNativeType()
{
    const jpeg_decompress_struct& info = m_pCodec->Info();
    if (info.out_color_space == JCS_GRAYSCALE)
        m_NativeType = kPixelType8Mono;
    else if (info.out_color_space == JCS_RGB)
        m_NativeType = kPixelType24RGB;
    else
        throw KExceptionUnknownPixelType("JPEGImageReader: while getting dimensions");
    m_NativeRowBytes = static_cast<size_t>(info.output_components) * info.output_width;
}

void KJPEGImageReader::GetDimensions(KInt32& width, KInt32& height, int& pixelType)
{
    priUpdateNativeType();
    width = static_cast<KInt32>(m_pCodec->Info().output_width);
    height = static_cast<KInt32>(m_pCodec->Info().output_height);
    pixelType = m_NativeType;
}

void KJPEGImageReader::GetProperties(KPropTree& tree)
{
    for (jpeg_saved_marker_ptr m = m_pCodec->Info().marker_list; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 1)
            continue;
        ParseExifSegment(m->data, m->data_length, tree);
        return;  // the first APP1 only
    }
}

void KJPEGImageReader::ReadImage(KPixmap& pixmap)
{
    priUpdateNativeType();
    jpeg_decompress_struct* info = &m_pCodec->Info();
    if (static_cast<KUInt32>(pixmap.GetWidth()) < info->output_width || pixmap.GetWidth() < 0 ||
        static_cast<KUInt32>(pixmap.GetHeight()) < info->output_height || pixmap.GetHeight() < 0)
        throw KExceptionJPEGPixmapTooSmall("");
    // The conversion is chosen before any row is decoded: a pixmap of a type the table refuses stays untouched.
    const int destinationType = pixmap.GetPixelType();
    KRowConverter convert = nullptr;
    if (destinationType != m_NativeType)
        convert = GetReaderRowConverter(m_NativeType, destinationType, "JPEGReader: Unknown source pixel type",
                                        "Unknown dest pixel type");
    boolean started = FALSE;
    m_pCodec->Call([info, &started] { started = jpeg_start_decompress(info); });
    if (!started)
        throw KExceptionFileNotFound(CannotOpen(m_URL).CStr());
    m_Started = true;
    const KInt32 height = static_cast<KInt32>(info->output_height);
    for (KInt32 row = 0; row < height; ++row)
        priReadScanline(row, pixmap.GetRow(row), convert);
    m_Finished = true;
}

void KJPEGImageReader::priReadScanline(KInt32 row, void* destination, KRowConverter convert)
{
    const bool direct = convert == nullptr;
    if (!direct && m_RowBuffer.empty())
        m_RowBuffer.resize(m_NativeRowBytes);
    JSAMPROW target = direct ? static_cast<JSAMPROW>(destination) : m_RowBuffer.data();
    jpeg_decompress_struct* info = &m_pCodec->Info();
    JDIMENSION lines = 0;
    m_pCodec->Call([info, &target, &lines] { lines = jpeg_read_scanlines(info, &target, 1); });
    if (lines != 1)
        throw KExceptionFileRead(KNarrowString("JPEGReadScanline failed at row %d", row).CStr());
    if (!direct)
        convert(static_cast<int>(info->output_width), m_RowBuffer.data(), destination);
}
