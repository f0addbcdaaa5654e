#include "KCriticalSection.h"

#include <new>

#include "PlatformSync.h"

KCriticalSection::KCriticalSection() : m_pSection(PlatNewCriticalSection())
{
    if (!m_pSection)
        throw std::bad_alloc();
}

KCriticalSection::~KCriticalSection()
{
    PlatDeleteCriticalSection(m_pSection);
}

void KCriticalSection::Enter()
{
    PlatEnterCriticalSection(m_pSection);
}

void KCriticalSection::Leave()
{
    PlatLeaveCriticalSection(m_pSection);
}
