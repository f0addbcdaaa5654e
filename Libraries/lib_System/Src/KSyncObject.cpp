#include "KSyncObject.h"

#include "KDebug.h"

KSyncObject::~KSyncObject()
{
    if (m_Handle != PLAT_INVALID_HANDLE_VALUE && m_Handle)
        PlatCloseHandle(m_Handle);
}

KUInt32 KSyncObject::WaitResult(KUInt32 milliseconds)
{
    return PlatWaitForSingleObject(m_Handle, milliseconds);
}

bool KSyncObject::Wait(KUInt32 milliseconds)
{
    KUInt32 result = WaitResult(milliseconds);
    if (result == PLAT_WAIT_FAILED) {
        // A failed wait acquired nothing: never report it as success.
        DebugTrace("KSyncObject::Wait failed (error %u)\n", PlatGetLastError());
        return false;
    }
    return result != PLAT_WAIT_TIMEOUT;
}

bool KSyncObject::TryWait()
{
    return Wait(0);
}
