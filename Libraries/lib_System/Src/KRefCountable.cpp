#include "KRefCountable.h"

void KRefCountable::AddRef()
{
    KCriticalSectionLock hold(m_Lock);
    ++m_RefCount;
}

void KRefCountable::Release()
{
    bool last;
    {
        KCriticalSectionLock hold(m_Lock);
        last = m_RefCount > 0 && --m_RefCount == 0;
    }
    if (last)
        delete this;
}

int32_t KRefCountable::GetRefCount() const
{
    KCriticalSectionLock hold(m_Lock);
    return m_RefCount;
}
