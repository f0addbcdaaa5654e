#include <mutex>
#include <new>

#include "PlatformSync.h"

struct PlatCriticalSection {
    std::recursive_mutex mutex;
};

PlatCriticalSection* PlatNewCriticalSection()
{
    return new (std::nothrow) PlatCriticalSection;
}

void PlatDeleteCriticalSection(PlatCriticalSection* section)
{
    delete section;
}

void PlatEnterCriticalSection(PlatCriticalSection* section)
{
    section->mutex.lock();
}

bool PlatTryEnterCriticalSection(PlatCriticalSection* section)
{
    return section->mutex.try_lock();
}

void PlatLeaveCriticalSection(PlatCriticalSection* section)
{
    section->mutex.unlock();
}
