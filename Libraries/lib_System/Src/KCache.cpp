#include "KCache.h"

#include <algorithm>
#include <new>
#include <string_view>

#include "KDebug.h"
#include "KMemoryAllocator.h"
#include "KTextFunctions.h"

namespace {

std::u16string_view LabelView(const KWChar* label)
{
    return label ? std::u16string_view(label) : std::u16string_view();
}

}  // namespace

KCache::KCache(KIMemoryAllocator* allocator) : m_pAllocator(allocator) {}

KCache::~KCache()
{
    SetMaxSize(0);
    // Blocks of the top priority are never evicted, but go with the cache like every unlocked block.
    std::vector<KCacheObject*> unlocked;
    {
        KCriticalSectionLock lock(m_Lock);
        for (KCacheObject* entry : m_Entries)
            if (entry->m_LockCount == 0)
                unlocked.push_back(entry);
        m_Entries.clear();
    }
    for (KCacheObject* entry : unlocked)
        priFree(entry);
    // Blocks still locked stay with their holders.
}

bool KCache::SetMaxSize(KUInt32 bytes)
{
    const KUInt32 before = m_MaxSize.exchange(bytes);
    const bool trimmed = priTrim(bytes);
    // A smaller budget takes back the memory the allocator keeps for reuse too.
    if (bytes < before)
        ReleaseKeptMemory();
    return trimmed;
}

KUInt32 KCache::GetMaxSize() const
{
    return m_MaxSize.load();
}

KCacheObject* KCache::priFind(const KWChar* label, KUInt32 size) const
{
    const std::u16string_view wanted = LabelView(label);
    for (KCacheObject* entry : m_Entries)
        if (entry->m_Label.View() == wanted && (size == 0 || entry->m_Size == size))
            return entry;
    return nullptr;
}

bool KCache::Exists(const KWChar* label, KUInt32 size)
{
    KCriticalSectionLock lock(m_Lock);
    return priFind(label, size) != nullptr;
}

KICacheObject* KCache::Allocate(const KWChar* label, KUInt32 size)
{
    KCriticalSectionLock lock(m_Lock);
    if (KCacheObject* found = priFind(label, size)) {
        found->Lock();
        return found;
    }
    if (size == 0)
        return nullptr;
    const KUInt64 needed = static_cast<KUInt64>(size) + kBlockOverhead;
    const KUInt64 maxSize = GetMaxSize();
    if (needed >= maxSize || !priTrim(maxSize - needed)) {
        DebugTrace("Cache is full! Label = '%s' Size Requested = %u\n", WideToUtf8(LabelView(label)).c_str(), size);
        DebugDump();
        return nullptr;
    }
    KCacheObject* object = nullptr;
    try {
        KIMemoryAllocator* allocator = m_pAllocator ? m_pAllocator : GetMemoryAllocator(priEvictOneCallback, this);
        object = new KCacheObject(this, allocator, label, size);
        // A block without bytes is no use to anyone: callers expect bytes or null.
        if (!object->m_pData) {
            delete object;
            object = nullptr;
        } else {
            m_Entries.push_back(object);
        }
    } catch (const std::bad_alloc&) {
        delete object;
        object = nullptr;
    }
    if (!object)
        DebugTrace("Allocation of cache obj failed!. Size Requested = %u\n", size);
    return object;
}

std::vector<KWString> KCache::List()
{
    KCriticalSectionLock lock(m_Lock);
    std::vector<KWString> labels;
    labels.reserve(m_Entries.size());
    for (KCacheObject* entry : m_Entries)
        labels.push_back(entry->m_Label);
    return labels;
}

void KCache::DebugDump()
{
    KCriticalSectionLock lock(m_Lock);
    DebugTrace("KCache debug dump:\nCache size: %u\nIn use: %llu\n=========================\n", GetMaxSize(),
               static_cast<unsigned long long>(priBytesInUse()));
    int index = 0;
    for (KCacheObject* entry : m_Entries) {
        DebugTrace("Entry %d: '%s' size %u ptr 0x%08lX refcount %d priority %d\n", index++,
                   WideToUtf8(entry->m_Label).c_str(), entry->m_Size,
                   static_cast<unsigned long>(reinterpret_cast<uintptr_t>(entry->m_pData)),
                   static_cast<int>(entry->m_LockCount), static_cast<int>(entry->m_Priority));
    }
    DebugTraceText("=========================\n");
}

KUInt64 KCache::priBytesInUse()
{
    KCriticalSectionLock lock(m_Lock);
    KUInt64 bytes = 0;
    for (KCacheObject* entry : m_Entries)
        bytes += static_cast<KUInt64>(entry->m_Size) + kBlockOverhead;
    return bytes;
}

bool KCache::priTrim(KUInt64 limit)
{
    while (priBytesInUse() > limit) {
        if (!priEvictOne())
            return false;
    }
    return true;
}

bool KCache::priEvictOne()
{
    KCacheObject* victim = nullptr;
    {
        KCriticalSectionLock lock(m_Lock);
        KUInt32 lowest = 0xFFFFFFFF;
        auto at = m_Entries.end();
        for (auto it = m_Entries.begin(); it != m_Entries.end(); ++it) {
            if ((*it)->m_LockCount == 0 && (*it)->m_Priority < lowest) {
                lowest = (*it)->m_Priority;
                at = it;
            }
        }
        if (at == m_Entries.end())
            return false;
        victim = *at;
        m_Entries.erase(at);
    }
    priFree(victim);
    return true;
}

bool KCache::priRemove(KCacheObject* object)
{
    KCriticalSectionLock lock(m_Lock);
    auto it = std::find(m_Entries.begin(), m_Entries.end(), object);
    if (it == m_Entries.end())
        return false;
    m_Entries.erase(it);
    return true;
}

void KCache::priFree(KCacheObject* object)
{
    if (object->m_FreeCallback) {
        object->priRefetch();
        object->m_FreeCallback(object);
    }
    delete object;
}

bool KCache::priEvictOneCallback(void* cache)
{
    return static_cast<KCache*>(cache)->priEvictOne();
}

KCache* GetGlobalCache()
{
    static KCache* cache = new KCache;
    return cache;
}
