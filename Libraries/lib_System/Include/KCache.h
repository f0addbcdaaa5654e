#pragma once
// The memory cache: labelled blocks within a byte budget, shared by the user-interface, engine and loader
// threads.
//
// Budget: the bytes in use are the sum over all blocks of (size + 56); a new block must leave them within the
// maximum size (100 MiB at first). Eviction rule: when a block does not fit, unlocked blocks (lock count 0)
// are evicted one at a time, lowest priority first and, among equal priorities, oldest first, until it fits;
// a block of priority 0xFFFFFFFF is never evicted. Each evicted block's free callback runs before its bytes go.
//
// Threads: one re-entrant lock per cache guards the block list and every block's fields. Allocate holds it
// throughout, so free callbacks of the evictions it causes run under it; evictions caused by Unlock and
// SetMaxSize take it per eviction and call the free callbacks without it.
#include <atomic>

#include "KCacheObject.h"
#include "KCriticalSection.h"
#include "KICache.h"

class KIMemoryAllocator;

class KCache : public KICache {
public:
    enum : KUInt32 {
        kDefaultMaxSize = 0x6400000,  // 100 MiB
        kBlockOverhead = 56,          // charged for every block, also one of size 0
    };

    // Blocks come from `allocator`, or from GetMemoryAllocator when it is null.
    explicit KCache(KIMemoryAllocator* allocator = nullptr);
    // Evicts every unlocked block (with callbacks); blocks still locked are left alone.
    ~KCache() override;
    KCache(const KCache&) = delete;
    KCache& operator=(const KCache&) = delete;

    bool SetMaxSize(KUInt32 bytes) override;
    KUInt32 GetMaxSize() const override;
    bool Exists(const KWChar* label, KUInt32 size) override;
    KICacheObject* Allocate(const KWChar* label, KUInt32 size) override;
    std::vector<KWString> List() override;
    void DebugDump() override;

private:
    friend class KCacheObject;
    KCacheObject* priFind(const KWChar* label, KUInt32 size) const;
    KUInt64 priBytesInUse();
    bool priTrim(KUInt64 limit);
    bool priEvictOne();
    // Takes the object out of the list; false when it was not there.
    bool priRemove(KCacheObject* object);
    // Tells the free callback, then deletes the object with its bytes.
    static void priFree(KCacheObject* object);
    static bool priEvictOneCallback(void* cache);

    std::atomic<KUInt32> m_MaxSize{kDefaultMaxSize};
    std::vector<KCacheObject*> m_Entries;  // oldest first; owned
    KCriticalSection m_Lock;
    KIMemoryAllocator* m_pAllocator;  // null: the default allocator
};

// The process's cache. It lives until the process ends (never destroyed, so that threads still running at
// exit can use it).
KCache* GetGlobalCache();
