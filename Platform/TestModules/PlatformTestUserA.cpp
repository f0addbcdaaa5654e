// A library loaded at run time by the platform's tests: it makes objects through the platform of the process.
#include "PlatformSync.h"

extern "C" {

// A new manual-reset event, not signalled.
PlatHandle TestUserMakeEvent()
{
    return PlatCreateEvent(true, false, nullptr);
}

// Waits on a handle made elsewhere in the process.
uint32_t TestUserWait(PlatHandle handle, uint32_t milliseconds)
{
    return PlatWaitForSingleObject(handle, milliseconds);
}

}
