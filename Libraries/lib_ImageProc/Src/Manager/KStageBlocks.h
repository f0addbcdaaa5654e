#pragma once
// The cache blocks in which the manager keeps previews, stage results, the tone LUT and the capture
// properties. Blocks are found by label or made under it; a made block is set up at once (on the manager's
// thread, before anyone else can find it), so a block found under a label is always set up.
//
// Pixmap blocks follow KCachedPixmap.h; the tone LUT block is a KCachedLUTRecord followed by three columns of
// 65536 16-bit values. Each pixmap and LUT block owns a mutex that whoever computes its contents holds.
#include <cstdint>

#include "KCachedPixmap.h"
#include "KICache.h"
#include "KTypes.h"
#include "KWString.h"

class KMutex;
class KPropTree;

constexpr int32_t kToneLUTSize = 65536;

struct KCachedLUTRecord {
    int16_t* m_pData;        // the three columns after this record
    uint8_t m_ThreeChannels;  // set
    uint8_t m_Complete;
    KMutex* m_pMutex;
    uint32_t m_Resume[10];
};

// The pixmap block under label holding a pixmap of this type and size, locked once more for the caller, or a
// new one (record zeroed, mutex made, pixmap mapped). A block under the label of another size or geometry
// loses its label and is left to the cache. Null when the cache has no room; throws KException for an
// impossible size.
KICacheObject* FindOrMakePixmapBlock(KICache& cache, const KWString& label, int pixelType, int32_t width,
                                     int32_t height);
// The same for the tone LUT block.
KICacheObject* FindOrMakeLUTBlock(KICache& cache, const KWString& label);

inline KCachedPixmapRecord& PixmapRecord(KICacheObject* block)
{
    return *GetKCachedPixmapRecord(block->GetData());
}
inline KCachedLUTRecord& LUTRecord(KICacheObject* block)
{
    return *static_cast<KCachedLUTRecord*>(block->GetData());
}

// The block's scratch 48-bit signed RGB pixmap, made on first use with this size (owned by the block, freed
// with it). An existing one smaller than asked is made again.
KPixmap* GetBlockTemporary(KCachedPixmapRecord& record, int32_t width, int32_t rows);
// Frees the block's scratch pixmap (none is fine).
void FreeBlockTemporary(KCachedPixmapRecord& record);

// Capture-properties objects: a pointer-sized cache block holding a KPropTree that the block owns.
// Make: a new block under label holding tree (taken over; deleted with the block). Null when the cache has no
// room (the tree is deleted then).
KICacheObject* MakePropertiesBlock(KICache& cache, const KWString& label, KPropTree* tree);
KPropTree* GetPropertiesBlockTree(KICacheObject* block);

// A block that must never be found again: its label emptied and its priority lowered, then unlocked.
void ForgetBlock(KICacheObject* block);

