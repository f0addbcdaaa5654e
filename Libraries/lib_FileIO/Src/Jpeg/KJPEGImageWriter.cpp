#include "KJPEGImageWriter.h"

#include "KPixmap.h"
#include "KPixmapExceptions.h"

KJPEGImageWriter::KJPEGImageWriter(const KWString& url, int quality, bool flag)
    : m_pWriter(std::make_unique<KJPEGLineWriter>(url, quality, flag))
{
}

KJPEGImageWriter::~KJPEGImageWriter() = default;

void KJPEGImageWriter::SetProfile(KUInt32 size, const void* data)
{
    m_ProfileSize = size;
    m_pProfile = data;
}

void KJPEGImageWriter::Write(const KPixmap& pixmap, const KHasProperties& tags)
{
    int writerType;
    switch (pixmap.GetPixelType()) {
    case kPixelType8Mono:
        writerType = kPixelType8Mono;
        break;
    case kPixelType24BGR:
    case kPixelType24RGB:
        writerType = kPixelType24RGB;
        break;
    default:
        throw KExceptionUnknownPixelType("");
    }
    m_pWriter->SetDimensions(pixmap.GetWidth(), pixmap.GetHeight(), writerType);
    m_pWriter->WriteTags(tags);
    if (m_ProfileSize)
        m_pWriter->WriteProfile(m_ProfileSize, m_pProfile);
    for (KInt32 row = 0; row < pixmap.GetHeight(); ++row)
        m_pWriter->WriteLine(pixmap.GetRow(row), pixmap.GetPixelType());
}
