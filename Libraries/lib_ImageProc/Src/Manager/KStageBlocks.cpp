#include "KStageBlocks.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "KMutex.h"
#include "KPixelClasses.h"
#include "KPropTree.h"

namespace {

using KScratchPixmap = KPixmapTemplate<KPixelClass48SRGB>;

void FreeTemporary(KCachedPixmapRecord& record)
{
    if (KPixmap* temporary = record.m_pTemporary) {
        std::free(temporary->GetData());
        delete temporary;
        record.m_pTemporary = nullptr;
    }
}

// The header moved with the bytes; map it again over the rows at their new address.
void RelocatePixmapBlock(KICacheObject* block)
{
    auto* data = static_cast<uint8_t*>(block->GetData());
    const KPixmap* moved = reinterpret_cast<const KPixmap*>(data + sizeof(KCachedPixmapRecord));
    MapKCachedPixmap(data, moved->GetPixelType(), moved->GetWidth(), moved->GetHeight());
}

void FreePixmapBlock(KICacheObject* block)
{
    if (!block->GetData())
        return;
    KCachedPixmapRecord& record = PixmapRecord(block);
    delete record.m_pMutex;
    record.m_pMutex = nullptr;
    FreeTemporary(record);
}

void RelocateLUTBlock(KICacheObject* block)
{
    auto* data = static_cast<uint8_t*>(block->GetData());
    LUTRecord(block).m_pData = reinterpret_cast<int16_t*>(data + sizeof(KCachedLUTRecord));
}

void FreeLUTBlock(KICacheObject* block)
{
    if (!block->GetData())
        return;
    delete LUTRecord(block).m_pMutex;
    LUTRecord(block).m_pMutex = nullptr;
}

void FreePropertiesBlock(KICacheObject* block)
{
    if (!block->GetData())
        return;
    KPropTree*& tree = *static_cast<KPropTree**>(block->GetData());
    delete tree;
    tree = nullptr;
}

// A new block under label, or null when the cache has no room or the allocator had no bytes for it.
KICacheObject* AllocateNew(KICache& cache, const KWString& label, KUInt32 size)
{
    KICacheObject* block = cache.Allocate(label.c_str(), size);
    if (block && !block->GetData()) {
        ForgetBlock(block);
        return nullptr;
    }
    return block;
}

}  // namespace

void ForgetBlock(KICacheObject* block)
{
    block->SetLabel(u"");
    block->SetPriority(0);
    block->Unlock();
}

namespace {

// The block under label when `fits` accepts it; else a new block of `size` whose record (a Record at the start
// of its bytes) is zeroed and given its mutex. Null when the cache has no room.
template <class Record, class Fits>
KICacheObject* FindOrMakeBlock(KICache& cache, const KWString& label, KUInt32 size, Fits fits, bool& made)
{
    made = false;
    if (KICacheObject* found = cache.Allocate(label.c_str(), 0)) {
        if (found->GetSize() == size && found->GetData() && fits(found))
            return found;
        ForgetBlock(found);
    }
    KICacheObject* block = AllocateNew(cache, label, size);
    if (!block)
        return nullptr;
    Record& record = *static_cast<Record*>(block->GetData());
    std::memset(&record, 0, sizeof(record));
    try {
        record.m_pMutex = new KMutex();
    } catch (...) {
        ForgetBlock(block);
        throw;
    }
    made = true;
    return block;
}

}  // namespace

KICacheObject* FindOrMakePixmapBlock(KICache& cache, const KWString& label, int pixelType, int32_t width,
                                     int32_t height)
{
    auto fits = [&](KICacheObject* found) {
        const KPixmap* pixmap = PixmapRecord(found).m_pPixmap;
        return pixmap && pixmap->GetPixelType() == pixelType && pixmap->GetWidth() == width &&
               pixmap->GetHeight() == height;
    };
    bool made = false;
    KICacheObject* block = FindOrMakeBlock<KCachedPixmapRecord>(
        cache, label, GetKCachedPixmapBlockSize(pixelType, width, height), fits, made);
    if (made) {
        MapKCachedPixmap(block->GetData(), pixelType, width, height);
        block->SetRelocateCallback(RelocatePixmapBlock);
        block->SetFreeCallback(FreePixmapBlock);
    }
    return block;
}

KICacheObject* FindOrMakeLUTBlock(KICache& cache, const KWString& label)
{
    const KUInt32 size = static_cast<KUInt32>(sizeof(KCachedLUTRecord) + 3 * kToneLUTSize * sizeof(int16_t));
    bool made = false;
    KICacheObject* block =
        FindOrMakeBlock<KCachedLUTRecord>(cache, label, size, [](KICacheObject*) { return true; }, made);
    if (made) {
        LUTRecord(block).m_ThreeChannels = 1;
        RelocateLUTBlock(block);
        block->SetRelocateCallback(RelocateLUTBlock);
        block->SetFreeCallback(FreeLUTBlock);
    }
    return block;
}

KPixmap* GetBlockTemporary(KCachedPixmapRecord& record, int32_t width, int32_t rows)
{
    KPixmap* temporary = record.m_pTemporary;
    if (temporary && temporary->GetWidth() >= width && temporary->GetHeight() >= rows)
        return temporary;
    FreeTemporary(record);
    int32_t headerSize = 0, rowBytes = 0;
    GetKPixmapSizes(kPixelType48SRGB, width, rows, headerSize, rowBytes);
    void* pixels = std::calloc(static_cast<size_t>(rows > 0 ? rows : 1), static_cast<size_t>(rowBytes));
    if (!pixels)
        throw std::bad_alloc();
    try {
        record.m_pTemporary = new KScratchPixmap(pixels, width, rows, rowBytes);
    } catch (...) {
        std::free(pixels);
        throw;
    }
    return record.m_pTemporary;
}

void FreeBlockTemporary(KCachedPixmapRecord& record)
{
    FreeTemporary(record);
}

KICacheObject* MakePropertiesBlock(KICache& cache, const KWString& label, KPropTree* tree)
{
    KICacheObject* block = AllocateNew(cache, label, sizeof(KPropTree*));
    if (!block) {
        delete tree;
        return nullptr;
    }
    *static_cast<KPropTree**>(block->GetData()) = tree;
    block->SetFreeCallback(FreePropertiesBlock);
    return block;
}

KPropTree* GetPropertiesBlockTree(KICacheObject* block)
{
    if (!block || !block->GetData() || block->GetSize() < sizeof(KPropTree*))
        return nullptr;
    return *static_cast<KPropTree**>(block->GetData());
}
