#include "KCacheObject.h"

#include "KCache.h"
#include "KCriticalSection.h"
#include "KMemoryAllocator.h"

KCacheObject::KCacheObject(KCache* cache, KIMemoryAllocator* allocator, const KWChar* label, KUInt32 size)
    : m_Size(size),
      m_pBlock(nullptr),
      m_pData(nullptr),
      m_Label(label ? label : u""),
      m_pLock(&cache->m_Lock),
      m_pAllocator(allocator),
      m_pCache(cache)
{
    // Last, when nothing can throw any more.
    m_pBlock = allocator->Allocate(size);
    m_pData = m_pBlock ? allocator->Lock(m_pBlock) : nullptr;
}

KCacheObject::~KCacheObject()
{
    if (m_pBlock)
        m_pAllocator->Free(m_pBlock);
    ReleaseMemoryAllocator(m_pAllocator);
}

void KCacheObject::priRefetch()
{
    if (!m_pBlock)
        return;
    void* data = m_pAllocator->Lock(m_pBlock);
    if (data != m_pData) {
        m_pData = data;
        if (m_RelocateCallback)
            m_RelocateCallback(this);
    }
}

void KCacheObject::Lock()
{
    KCriticalSectionLock lock(*m_pLock);
    if (m_LockCount == 0)
        priRefetch();
    ++m_LockCount;
}

KUInt32 KCacheObject::Unlock()
{
    KCache* cache = m_pCache;
    bool removed = false;
    {
        KCriticalSectionLock lock(*m_pLock);
        if (m_LockCount > 0)
            --m_LockCount;
        if (m_LockCount > 0)
            return m_LockCount;
        // Taken out under the same lock as the count reached 0, so that nobody locks it again meanwhile. A block
        // without a label can never be found again: its bytes go back at once instead of waiting for a trim.
        if (m_pAllocator->IsMovable() || m_Label.IsEmpty())
            removed = cache->priRemove(this);
    }
    if (removed)
        KCache::priFree(this);
    // From here on this object may be gone (evicted by the trim or by another thread).
    return cache->priTrim(cache->GetMaxSize()) ? 1 : 0;
}

void KCacheObject::SetPriority(KUInt32 priority)
{
    KCriticalSectionLock lock(*m_pLock);
    m_Priority = priority;
}

void KCacheObject::SetLabel(const KWChar* label)
{
    KCriticalSectionLock lock(*m_pLock);
    m_Label = label ? label : u"";
}

void KCacheObject::SetFreeCallback(KCacheObjectCallback callback)
{
    KCriticalSectionLock lock(*m_pLock);
    m_FreeCallback = callback;
}

void KCacheObject::SetRelocateCallback(KCacheObjectCallback callback)
{
    KCriticalSectionLock lock(*m_pLock);
    m_RelocateCallback = callback;
}
