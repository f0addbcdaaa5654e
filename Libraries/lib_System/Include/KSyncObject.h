#pragma once
// Base of the kernel wait objects (mutex, event): a handle and a timed wait. Usable from any thread.
#include "KTypes.h"
#include "PlatformSync.h"

class KSyncObject {
public:
    virtual ~KSyncObject();
    KSyncObject(const KSyncObject&) = delete;
    KSyncObject& operator=(const KSyncObject&) = delete;

    // Waits up to `milliseconds` (PLAT_INFINITE: without limit) for the object. False when the wait timed out
    // or failed; true when the object was signalled (for a mutex: now owned, also when its last owner ended
    // without giving it back).
    virtual bool Wait(KUInt32 milliseconds);
    // Wait(0) through the virtual slot.
    bool TryWait();

protected:
    KSyncObject() = default;
    // The platform's answer (PLAT_WAIT_*) to a wait on the handle.
    KUInt32 WaitResult(KUInt32 milliseconds);

    PlatHandle m_Handle = PLAT_INVALID_HANDLE_VALUE;  // until a handle is created
};
