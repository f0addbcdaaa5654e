#include "KDataBlocks.h"

#include <memory>
#include <new>

#include "KException.h"
#include "KICache.h"
#include "KIpMgrAsync.h"
#include "KNarrowString.h"
#include "KPixmap.h"

namespace {
constexpr KUInt64 kAlign = 16;
constexpr KUInt64 kLargestBlock = 0xFFFFFFFFull - 56;  // the cache's sizes are 32-bit, with its overhead

constexpr KUInt64 RoundUp(KUInt64 n)
{
    return (n + kAlign - 1) & ~(kAlign - 1);
}

constexpr KUInt64 kFramePixmapOffset = RoundUp(sizeof(KFrameBlockHeader));
constexpr KUInt64 kCamfileBytesOffset = RoundUp(sizeof(KCamfileBlockHeader));

struct FrameLayout {
    KInt32 rowBytes = 0;
    KUInt64 rowsOffset = 0;
    KUInt64 size = 0;
};

FrameLayout LayOutFrame(int pixelType, KInt32 width, KInt32 height)
{
    if (width < 0 || height < 0)
        throw KException(KNarrowString("KDataRetriever: image size %dx%d out of range.", width, height).CStr());
    KInt32 headerSize = 0;
    FrameLayout layout;
    GetKPixmapSizes(pixelType, width, height, headerSize, layout.rowBytes);
    layout.rowsOffset = kFramePixmapOffset + RoundUp(static_cast<KUInt64>(headerSize));
    layout.size = layout.rowsOffset + static_cast<KUInt64>(height) * static_cast<KUInt64>(layout.rowBytes);
    if (layout.size > kLargestBlock)
        throw KException(KNarrowString("KDataRetriever: image of %dx%d too large for the cache.", width, height).CStr());
    return layout;
}

// Maps the frame's pixmap over the block's bytes where they are now.
void MapFrame(KFrameBlockHeader& header)
{
    const FrameLayout layout = LayOutFrame(header.m_PixelType, header.m_Width, header.m_Height);
    auto* bytes = reinterpret_cast<KUInt8*>(&header);
    header.m_pPixmap = MapKPixmapHeader(bytes + kFramePixmapOffset, header.m_PixelType, header.m_Width,
                                        header.m_Height, layout.rowBytes, bytes + layout.rowsOffset);
}

void FreeDataBlock(KICacheObject* block)
{
    KIpMgrAsync* status = GetDataBlockStatus(block);
    delete status;
}

void RelocateDataBlock(KICacheObject* block)
{
    switch (GetDataBlockMark(block)) {
    case kFrameBlockMark:
        MapFrame(*static_cast<KFrameBlockHeader*>(block->GetData()));
        break;
    case kCamfileBlockMark: {
        auto* header = static_cast<KCamfileBlockHeader*>(block->GetData());
        header->m_pBytes = reinterpret_cast<KUInt8*>(header) + kCamfileBytesOffset;
        break;
    }
    default:
        break;
    }
}

// A block of size bytes under the label with a fresh status block, or null when the cache has no room (or
// gave a block without bytes).
KICacheObject* AllocateBlock(KICache& cache, const KWString& label, KUInt64 size, KIpMgrAsync*& status)
{
    auto newStatus = std::make_unique<KIpMgrAsync>();
    newStatus->Reset();
    KICacheObject* block = cache.Allocate(label.GetBuffer(), static_cast<KUInt32>(size));
    if (!block)
        return nullptr;
    if (!block->GetData()) {
        block->SetLabel(u"");
        block->Unlock();
        return nullptr;
    }
    status = newStatus.release();
    return block;
}
}  // namespace

KUInt32 GetDataBlockMark(const KICacheObject* block)
{
    if (!block || !block->GetData() || block->GetSize() < sizeof(KUInt32))
        return 0;
    return *static_cast<const KUInt32*>(block->GetData());
}

KIpMgrAsync* GetDataBlockStatus(const KICacheObject* block)
{
    switch (GetDataBlockMark(block)) {
    case kFrameBlockMark:
        return static_cast<const KFrameBlockHeader*>(block->GetData())->m_pStatus;
    case kCamfileBlockMark:
        return static_cast<const KCamfileBlockHeader*>(block->GetData())->m_pStatus;
    default:
        return nullptr;
    }
}

KICacheObject* AllocateFrameBlock(KICache& cache, const KWString& label, int pixelType, KInt32 width, KInt32 height)
{
    const FrameLayout layout = LayOutFrame(pixelType, width, height);
    KIpMgrAsync* status = nullptr;
    KICacheObject* block = AllocateBlock(cache, label, layout.size, status);
    if (!block)
        return nullptr;
    auto* header = new (block->GetData()) KFrameBlockHeader{kFrameBlockMark, nullptr, status, pixelType, width, height};
    MapFrame(*header);
    block->SetFreeCallback(FreeDataBlock);
    block->SetRelocateCallback(RelocateDataBlock);
    return block;
}

KICacheObject* AllocateCamfileBlock(KICache& cache, const KWString& label, KUInt32 count, KUInt32 extra)
{
    const KUInt64 size = kCamfileBytesOffset + count;
    if (size > kLargestBlock)
        throw KException(KNarrowString("KDataRetriever: calibration data of %u bytes too large for the cache.", count).CStr());
    KIpMgrAsync* status = nullptr;
    KICacheObject* block = AllocateBlock(cache, label, size, status);
    if (!block)
        return nullptr;
    auto* bytes = static_cast<KUInt8*>(block->GetData());
    new (bytes) KCamfileBlockHeader{kCamfileBlockMark, bytes + kCamfileBytesOffset, count, status, extra};
    block->SetFreeCallback(FreeDataBlock);
    block->SetRelocateCallback(RelocateDataBlock);
    return block;
}
