#pragma once
// The memory cache's interfaces: a cache of labelled, size-accounted, reference-counted (locked) memory
// blocks with priorities (KCache.h), and one block of it.
#include <vector>

#include "KTypes.h"
#include "KWString.h"

class KICacheObject;

// Told about a block: before the cache frees it, or after its bytes moved.
using KCacheObjectCallback = void (*)(KICacheObject* object);

class KICacheObject {
public:
    virtual ~KICacheObject() = default;
    // One more holder; a locked block is never evicted.
    virtual void Lock() = 0;
    // One holder less; the count left, or at 0 whether the cache is within its maximum size (1) or not (0). A
    // block whose label is empty when its last holder lets go is freed then: nobody can find it again.
    virtual KUInt32 Unlock() = 0;
    virtual void* GetData() const = 0;
    virtual KUInt32 GetSize() const = 0;
    // Eviction order: lower goes first; 0xFFFFFFFF is never evicted.
    virtual void SetPriority(KUInt32 priority) = 0;
    virtual const KWChar* GetLabel() const = 0;
    virtual void SetLabel(const KWChar* label) = 0;
    virtual void SetFreeCallback(KCacheObjectCallback callback) = 0;
    virtual void SetRelocateCallback(KCacheObjectCallback callback) = 0;
};

class KICache {
public:
    virtual ~KICache() = default;
    // Stores the limit and evicts until the bytes in use fit; whether they do.
    virtual bool SetMaxSize(KUInt32 bytes) = 0;
    virtual KUInt32 GetMaxSize() const = 0;
    // Whether a block with this label (and this size, unless size is 0) exists.
    virtual bool Exists(const KWChar* label, KUInt32 size) = 0;
    // The existing block with this label (and size, unless 0), locked once more; else a new block locked
    // once; null when size is 0 and none exists, or when it does not fit.
    virtual KICacheObject* Allocate(const KWChar* label, KUInt32 size) = 0;
    // The labels of all blocks, oldest first.
    virtual std::vector<KWString> List() = 0;
    // Traces the limit, the bytes in use and every block.
    virtual void DebugDump() = 0;
};
