#include "KJPEGLineWriter.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "Exif/KExifBuilder.h"
#include "KDebug.h"
#include "KHasProperties.h"
#include "KJPEGCodec.h"
#include "KMemoryStorage.h"
#include "KPixelClasses.h"
#include "KPixmap.h"
#include "KPixmapExceptions.h"
#include "KStorage.h"
#include "KTextFunctions.h"

namespace {

constexpr size_t kICCChunkData = 65518;
constexpr size_t kICCHeader = 14;  // "ICC_PROFILE", a zero byte, chunk number, chunk count
// Longest comment: the text and its zero byte must fit one marker.
constexpr size_t kMaxCommentLength = 65531;
// A thumbnail larger than this is not a 160 x 160 JPEG.
constexpr KUInt32 kMaxThumbnailBytes = 1 << 20;

}  // namespace

KJPEGLineWriter::KJPEGLineWriter(const KWString& url, int quality, bool flag) : m_URL(url), m_Quality(quality)
{
    // The URL, and the system's reason.
    if (!m_Output.Open(url))
        throw KExceptionFileOpen(KNarrowString("%s: %s", WideToUtf8(url).c_str(), m_Output.GetFailure().c_str()).CStr());
}

KJPEGLineWriter::KJPEGLineWriter(KIFile* target, int quality) : m_pTarget(target), m_Quality(quality) {}

KJPEGLineWriter::~KJPEGLineWriter()
{
    m_Thumbnail.clear();
    // An image without all its rows is not finished: the compressor goes, and the temporary file with it.
    m_pCodec.reset();
    DebugTrace("~KJPEGLineWriter: closing file.\n");
    m_Output.Abandon();
}

void KJPEGLineWriter::SetDimensions(KInt32 width, KInt32 height, int pixelType)
{
    int components;
    J_COLOR_SPACE space;
    if (pixelType == kPixelType8Mono) {
        components = 1;
        space = JCS_GRAYSCALE;
    } else if (pixelType == kPixelType24RGB) {
        components = 3;
        space = JCS_RGB;
    } else {
        throw KExceptionUnknownPixelType("JPEGLineWriter: while setting dimensions");
    }
    if (m_pCodec)
        throw KExceptionJPEGOutOfOrderOperation("SetDimensions() must be called only once");
    m_pCodec = std::make_unique<KJPEGCompressor>(m_pTarget ? m_pTarget : m_Output.File());
    jpeg_compress_struct* info = &m_pCodec->Info();
    const int quality = m_Quality;
    const boolean jfif = m_WantExifHeader ? FALSE : TRUE;
    try {
        m_pCodec->Call([=] {
            info->image_width = static_cast<JDIMENSION>(width);
            info->image_height = static_cast<JDIMENSION>(height);
            info->input_components = components;
            info->in_color_space = space;
            jpeg_set_defaults(info);
            info->write_JFIF_header = jfif;
            jpeg_set_quality(info, quality, TRUE);
            if (quality > 78) {
                info->comp_info[0].h_samp_factor = 1;
                info->comp_info[0].v_samp_factor = 1;
            }
            jpeg_start_compress(info, TRUE);
        });
    } catch (...) {
        m_pCodec.reset();
        throw;
    }
    m_PixelType = pixelType;
    m_Width = width;
    m_Height = height;
    m_RowBytes = static_cast<size_t>(components) * static_cast<size_t>(width);
}

void KJPEGLineWriter::priCheckBeforeLines(const char* uninitialized, const char* outOfOrder) const
{
    if (!m_PixelType)
        throw KExceptionJPEGWriteUninitialized(uninitialized);
    if (m_FirstLineWritten)
        throw KExceptionJPEGOutOfOrderOperation(outOfOrder);
}

void KJPEGLineWriter::WriteTags(const KHasProperties& tags)
{
    priCheckBeforeLines("JPEGLineWriter::WriteTags()", "Tags must be written before the first WriteLine()");
    if (!tags.HasProperty("Description"))
        return;
    const char* text = tags.GetProperty("Description", "");
    const size_t length = std::strlen(text);
    if (length > kMaxCommentLength)
        return;
    jpeg_compress_struct* info = &m_pCodec->Info();
    const JOCTET* bytes = reinterpret_cast<const JOCTET*>(text);
    m_pCodec->Call([=] { jpeg_write_marker(info, JPEG_COM, bytes, static_cast<unsigned>(length + 1)); });
}

void KJPEGLineWriter::WriteProperties(const KPropTree& props, int colorSpaceCode, const KWString& softwareName,
                                      const KVersionInfo& version)
{
    priCheckBeforeLines("JPEGLineWriter::WriteTags()", "Tags must be written before the first WriteLine()");
    BuildExifBlock(props, colorSpaceCode, softwareName, version);
}

void KJPEGLineWriter::BuildExifBlock(const KPropTree& props, int colorSpaceCode, const KWString& softwareName,
                                     const KVersionInfo& version)
{
    priCheckBeforeLines("JPEGLineWriter::WriteTags()", "Tags must be written before the first WriteLine()");
    std::vector<KUInt8> segment = BuildExifApp1Segment(props, m_Width, m_Height, colorSpaceCode, softwareName,
                                                       version, m_Thumbnail, std::time(nullptr));
    jpeg_compress_struct* info = &m_pCodec->Info();
    const JOCTET* bytes = segment.data();
    const unsigned size = static_cast<unsigned>(segment.size());
    m_pCodec->Call([=] { jpeg_write_marker(info, JPEG_APP0 + 1, bytes, size); });
    m_PropertiesWritten = true;
}

void KJPEGLineWriter::WriteThumbnail(const KPixmap& pixmap)
{
    if (m_PropertiesWritten)
        throw KExceptionJPEGOutOfOrderOperation("Thumbnails must be written before properties!");
    if (pixmap.GetWidth() > kJPEGThumbnailMaxSize || pixmap.GetHeight() > kJPEGThumbnailMaxSize)
        throw KExceptionJPEG(
            KNarrowString("Thumbnails can't be larger than %dx%d.", kJPEGThumbnailMaxSize, kJPEGThumbnailMaxSize)
                .CStr());
    int thumbnailType;
    switch (pixmap.GetPixelType()) {
    case kPixelType8Mono: thumbnailType = kPixelType8Mono; break;
    case kPixelType24RGB:
    case kPixelType24BGR: thumbnailType = kPixelType24RGB; break;
    default: throw KExceptionUnknownPixelType("JPEGLineWriter: thumbnail pixel type");
    }
    m_Thumbnail.clear();
    // The thumbnail is a JPEG file of its own, made in memory: it needs no scratch file, and a failure fails the
    // save rather than leaving the image without it.
    KMemoryBytes bytes = std::make_shared<std::vector<uint8_t>>();
    KMemoryFile file(bytes, m_URL, true);
    {
        KJPEGLineWriter thumbnail(&file, 90);
        thumbnail.SetDimensions(pixmap.GetWidth(), pixmap.GetHeight(), thumbnailType);
        for (KInt32 row = 0; row < pixmap.GetHeight(); ++row)
            thumbnail.WriteLine(pixmap.GetRow(row), pixmap.GetPixelType());
    }
    if (bytes->empty() || bytes->size() > kMaxThumbnailBytes)
        throw KExceptionJPEG(KNarrowString("JPEGLineWriter: a thumbnail of %zu bytes", bytes->size()).CStr());
    m_Thumbnail.assign(bytes->begin(), bytes->end());
}

void KJPEGLineWriter::WriteProfile(KUInt32 size, const void* data)
{
    priCheckBeforeLines("JPEGLineWriter::WriteProfile()", "ICC Profiles must be written before the first WriteLine()");
    if (size == 0)
        return;
    const size_t count = (static_cast<size_t>(size) + kICCChunkData - 1) / kICCChunkData;
    if (count > 255)
        throw KExceptionJPEG(KNarrowString("ICC profile of %u bytes is too large for a JPEG file", size).CStr());
    const KUInt8* bytes = static_cast<const KUInt8*>(data);
    std::vector<JOCTET> marker(kICCHeader + kICCChunkData);
    jpeg_compress_struct* info = &m_pCodec->Info();
    for (size_t i = 0; i < count; ++i) {
        const size_t offset = i * kICCChunkData;
        const size_t chunk = std::min(kICCChunkData, size - offset);
        std::memcpy(marker.data(), "ICC_PROFILE", 12);
        marker[12] = static_cast<JOCTET>(i + 1);
        marker[13] = static_cast<JOCTET>(count);
        std::memcpy(marker.data() + kICCHeader, bytes + offset, chunk);
        const JOCTET* p = marker.data();
        const unsigned length = static_cast<unsigned>(kICCHeader + chunk);
        m_pCodec->Call([=] { jpeg_write_marker(info, JPEG_APP0 + 2, p, length); });
    }
}

KRowConverter KJPEGLineWriter::priConverterFor(int pixelType) const
{
    if (m_PixelType != kPixelType24RGB)
        throw KExceptionUnknownPixelType("JPEGLineWriter: Unknown source pixel type");
    switch (pixelType) {
    case kPixelType24BGR:
        return ConvertRowThroughTriple<KPixelClass24BGR, KPixelClass24RGB, 0>;
    case kPixelType32ARGB:
        return ConvertRowThroughTriple<KPixelClass32ARGB, KPixelClass24RGB, 0>;
    case kPixelType32ABGR:
        return ConvertRowThroughTriple<KPixelClass32ABGR, KPixelClass24RGB, 0>;
    case kPixelType32BGRA:
        return ConvertRowThroughTriple<KPixelClass32BGRA, KPixelClass24RGB, 0>;
    case kPixelType32RGBA:
        return ConvertRowThroughTriple<KPixelClass32RGBA, KPixelClass24RGB, 0>;
    case kPixelType30RGBL:
    case kPixelType30BGRL:
    case kPixelType30RGB:
    case kPixelType48RGB:
    case kPixelType48SRGB:
    case kPixelType48BGR:
        throw KExceptionBitDepthMismatch("");
    default:
        throw KExceptionUnknownPixelType("JPEGLineWriter: Unknown dest pixel type");
    }
}

void KJPEGLineWriter::WriteLine(const void* row, int pixelType)
{
    if (!m_PixelType)
        throw KExceptionJPEGWriteUninitialized("JPEGLineWriter::WriteLine()");
    if (m_RowsWritten >= m_Height)
        throw KExceptionJPEG("More scan lines written than rows specified.");
    KASSERT(row != nullptr);
    JSAMPROW line = static_cast<JSAMPROW>(const_cast<void*>(row));
    if (pixelType != m_PixelType) {
        KRowConverter convert = priConverterFor(pixelType);
        if (m_RowBuffer.empty())
            m_RowBuffer.resize(m_RowBytes);
        convert(m_Width, row, m_RowBuffer.data());
        line = m_RowBuffer.data();
    }
    m_FirstLineWritten = true;
    jpeg_compress_struct* info = &m_pCodec->Info();
    m_pCodec->Call([info, &line] { jpeg_write_scanlines(info, &line, 1); });
    if (++m_RowsWritten == m_Height)
        priFinish();
}

void KJPEGLineWriter::priFinish()
{
    // Finished here rather than in the destructor, so that a failed last write or flush is reported.
    jpeg_compress_struct* info = &m_pCodec->Info();
    m_pCodec->Call([info] { jpeg_finish_compress(info); });
    if (!m_pTarget)
        m_Output.Commit();
    m_Finished = true;
}
