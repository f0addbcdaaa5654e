#include "KDataObject.h"

#include <cstring>

#include "KDataBlocks.h"
#include "KException.h"
#include "KICache.h"
#include "KPixmap.h"

void KIDataObject::ReadImageRows(KInt32 first, KInt32 count, KPixmap& into) const
{
    const KPixmap* image = GetImagePixmapPtr();
    if (!image)
        throw KException("KIDataObject::ReadImageRows: no image");
    if (first < 0 || count < 0 || first > image->GetHeight() - count || into.GetHeight() < count ||
        into.GetPixelType() != image->GetPixelType() || into.GetWidth() < image->GetWidth())
        throw KException("KIDataObject::ReadImageRows: rows outside the image or a pixmap that does not fit");
    const size_t bytes = size_t(image->GetWidth()) * KPixelTypeBytes(image->GetPixelType());
    for (KInt32 i = 0; i < count; ++i)
        std::memcpy(into.GetRow(i), image->GetRow(first + i), bytes);
}

KDataObject::KDataObject(KICacheObject* block, KUInt32 kind) : m_pBlock(block), m_Kind(kind) {}

KDataObject::~KDataObject()
{
    if (m_pBlock)
        m_pBlock->Unlock();
}

void KDataObject::AddRef()
{
    m_RefCount.fetch_add(1, std::memory_order_relaxed);
}

void KDataObject::Release()
{
    if (m_RefCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete this;
}

const KFrameBlockHeader* KDataObject::priFrame() const
{
    if (m_Kind != kDataImage || GetDataBlockMark(m_pBlock) != kFrameBlockMark)
        return nullptr;
    return static_cast<const KFrameBlockHeader*>(m_pBlock->GetData());
}

const KCamfileBlockHeader* KDataObject::priCamfile() const
{
    if (m_Kind != kDataCamfile || GetDataBlockMark(m_pBlock) != kCamfileBlockMark)
        return nullptr;
    return static_cast<const KCamfileBlockHeader*>(m_pBlock->GetData());
}

bool KDataObject::GetImageProperties(KInt32& width, KInt32& height, int& pixelType) const
{
    const KFrameBlockHeader* frame = priFrame();
    if (!frame)
        return false;
    width = frame->m_Width;
    height = frame->m_Height;
    pixelType = frame->m_PixelType;
    return true;
}

KPixmap* KDataObject::GetImagePixmapPtr() const
{
    const KFrameBlockHeader* frame = priFrame();
    return frame ? frame->m_pPixmap : nullptr;
}

KUInt32 KDataObject::GetCamfileSize() const
{
    const KCamfileBlockHeader* camfile = priCamfile();
    return camfile ? camfile->m_Count : 0;
}

void* KDataObject::GetCamfileData() const
{
    const KCamfileBlockHeader* camfile = priCamfile();
    return camfile ? camfile->m_pBytes : nullptr;
}

KUInt32 KDataObject::GetCamfileExtra() const
{
    const KCamfileBlockHeader* camfile = priCamfile();
    return camfile ? camfile->m_Extra : 0;
}

KIpMgrAsync* KDataObject::GetBlockStatus() const
{
    return GetDataBlockStatus(m_pBlock);
}
