#pragma once
// One block of a KCache: bytes from a memory allocator, a label, a lock count and a priority. Every operation
// that changes it takes its cache's lock; GetData, GetSize and GetLabel are plain reads, valid while the
// caller holds the block locked.
#include "KICache.h"

class KCache;
class KCriticalSection;
class KIMemoryAllocator;

class KCacheObject : public KICacheObject {
public:
    void Lock() override;
    KUInt32 Unlock() override;
    void* GetData() const override { return m_pData; }
    KUInt32 GetSize() const override { return m_Size; }
    void SetPriority(KUInt32 priority) override;
    const KWChar* GetLabel() const override { return m_Label.GetBuffer(); }
    void SetLabel(const KWChar* label) override;
    void SetFreeCallback(KCacheObjectCallback callback) override;
    void SetRelocateCallback(KCacheObjectCallback callback) override;

private:
    friend class KCache;
    // Locked once, priority 0, no callbacks; the bytes are null when the allocator had none.
    KCacheObject(KCache* cache, KIMemoryAllocator* allocator, const KWChar* label, KUInt32 size);
    // Gives the bytes back to the allocator.
    ~KCacheObject() override;
    // Fetches the bytes' current address from the allocator; tells the relocate callback when they moved.
    void priRefetch();

    KUInt32 m_LockCount = 1;  // 0: evictable
    KUInt32 m_Priority = 0;
    KUInt32 m_Size;
    void* m_pBlock;  // the allocator's block
    void* m_pData;   // its bytes, as last fetched
    KWString m_Label;
    KCriticalSection* m_pLock;  // the cache's
    KIMemoryAllocator* m_pAllocator;
    KCacheObjectCallback m_FreeCallback = nullptr;
    KCacheObjectCallback m_RelocateCallback = nullptr;
    KCache* m_pCache;
};
