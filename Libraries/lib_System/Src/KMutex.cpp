#include "KMutex.h"

#include "KException.h"

KMutex::KMutex()
{
    priCreate(nullptr);
}

KMutex::KMutex(const char* name)
{
    priCreate(name);
}

KMutex::~KMutex() = default;

void KMutex::priCreate(const char* name)
{
    PlatHandle handle = PlatCreateMutex(false, name);
    if (!handle)
        throw KExceptionSyncObject("Can't create handle for KMutex");
    m_Handle = handle;
}

bool KMutex::Lock(KUInt32 milliseconds)
{
    KUInt32 result = WaitResult(milliseconds);
    if (result != PLAT_WAIT_OBJECT_0 && result != PLAT_WAIT_ABANDONED)
        return false;
    // Taken over from an owner that ended: whatever the flag says, nobody else holds it now.
    if (result == PLAT_WAIT_OBJECT_0 && m_Locked.load(std::memory_order_relaxed)) {
        // This thread held it already: give back the acquisition just made.
        PlatReleaseMutex(m_Handle);
        return false;
    }
    m_Locked.store(true, std::memory_order_relaxed);
    return true;
}

bool KMutex::Unlock()
{
    m_Locked.store(false, std::memory_order_relaxed);
    return PlatReleaseMutex(m_Handle);
}
