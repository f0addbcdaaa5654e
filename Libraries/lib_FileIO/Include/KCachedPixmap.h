#pragma once
// A pixmap held in one cache block: a record of the image-processing stages, then the pixmap header, then the
// rows. The image handle given to the user interface finds its pixmap through the record's pixmap pointer.
//
//   | record (KCachedPixmapRecord) | pixmap header (GetKPixmapSizes) | height x row bytes of rows |
#include <cstddef>
#include <cstdint>

#include "KPixmap.h"

class KMutex;

struct KCachedPixmapRecord {
    int32_t m_Words[6];         // preview and stage-3 blocks: crop left, top, right, bottom, fitted width, height
    double m_Statistics[8];     // automatic-settings output of stage 2
    KPixmap* m_pPixmap;         // the pixmap header inside this block
    KPixmap* m_pTemporary;      // scratch pixmap owned by the block, or null
    uint8_t m_Complete;         // 1 when the pixel data is final
    KMutex* m_pMutex;           // owned by the block; whoever computes the pixels holds it
    uint32_t m_Resume[10];      // copy of the engine request's resume block
};
static_assert(sizeof(KCachedPixmapRecord) % alignof(KPixmap) == 0);

// Bytes of a block for a pixmap of the type and size: record + pixmap header + height x row bytes. Throws
// KException for an unknown type, a negative size or a block beyond 32 bits (the cache's sizes).
uint32_t GetKCachedPixmapBlockSize(int pixelType, int32_t width, int32_t height);

// Maps the pixmap header after the record at the start of block (the cache object's bytes, pointer-aligned)
// over the rows that follow, and stores it in the record's pixmap pointer. Also after the block has moved.
KPixmap* MapKCachedPixmap(void* block, int pixelType, int32_t width, int32_t height);

inline KCachedPixmapRecord* GetKCachedPixmapRecord(void* block) { return static_cast<KCachedPixmapRecord*>(block); }
