#pragma once
// The cache blocks that hold loaded data. Each starts with a mark word and carries a status block of its own
// (allocated beside it, freed by the block's free callback) that tells later requests whether the filling
// has finished.
//
//   frame block:       | KFrameBlockHeader | pixmap header | rows |
//   calibration block: | KCamfileBlockHeader | bytes |
#include "KTypes.h"

class KICache;
class KICacheObject;
class KIpMgrAsync;
class KPixmap;
class KWString;

constexpr KUInt32 kFrameBlockMark = 0x4344494D;
constexpr KUInt32 kCamfileBlockMark = 0x43444346;

struct KFrameBlockHeader {
    KUInt32 m_Mark;
    KPixmap* m_pPixmap;       // the pixmap header inside this block
    KIpMgrAsync* m_pStatus;   // owned by the block
    KInt32 m_PixelType;       // to map the pixmap again after the block moved
    KInt32 m_Width;
    KInt32 m_Height;
};

struct KCamfileBlockHeader {
    KUInt32 m_Mark;
    KUInt8* m_pBytes;         // the bytes inside this block
    KUInt32 m_Count;
    KIpMgrAsync* m_pStatus;   // owned by the block
    KUInt32 m_Extra;          // 1 camera file, 2 calibration block
};

// The mark of a block's bytes, or 0 when the block is too small to carry one.
KUInt32 GetDataBlockMark(const KICacheObject* block);
// The status block of a frame or calibration block, or null.
KIpMgrAsync* GetDataBlockStatus(const KICacheObject* block);

// A new frame block under the label for an image of the type and size, locked once, its status block state 0;
// null when the cache has no room. Throws KException for an unknown type or a size beyond 32 bits,
// std::bad_alloc when the status block cannot be made.
KICacheObject* AllocateFrameBlock(KICache& cache, const KWString& label, int pixelType, KInt32 width, KInt32 height);
// A new calibration block of count bytes, likewise.
KICacheObject* AllocateCamfileBlock(KICache& cache, const KWString& label, KUInt32 count, KUInt32 extra);
