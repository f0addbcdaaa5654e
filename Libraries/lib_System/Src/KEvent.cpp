#include "KEvent.h"

#include "KException.h"

KEvent::KEvent()
{
    PlatHandle handle = PlatCreateEvent(false, false, nullptr);
    if (!handle)
        throw KExceptionSyncObject("Can't create handle for KEvent");
    m_Handle = handle;
}

bool KEvent::Set()
{
    return PlatSetEvent(m_Handle);
}

bool KEvent::Reset()
{
    return PlatResetEvent(m_Handle);
}
