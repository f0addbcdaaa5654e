#include "KFrameRows.h"

#include "KQrlbImageReader.h"

KFrameRows::KFrameRows(const KWString& url, KInt32 index) : m_pReader(std::make_unique<KQrlbImageReader>(url))
{
    m_pRows = m_pReader->OpenImageRows(index);
}

KFrameRows::~KFrameRows()
{
    m_pRows.reset();  // before the reader whose file it reads
}

void KFrameRows::AddRef()
{
    m_RefCount.fetch_add(1, std::memory_order_relaxed);
}

void KFrameRows::Release()
{
    if (m_RefCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete this;
}

bool KFrameRows::GetImageProperties(KInt32& width, KInt32& height, int& pixelType) const
{
    width = m_pRows->GetWidth();
    height = m_pRows->GetHeight();
    pixelType = m_pRows->GetPixelType();
    return true;
}

void KFrameRows::ReadImageRows(KInt32 first, KInt32 count, KPixmap& into) const
{
    m_pRows->ReadRows(first, count, &into);
}
