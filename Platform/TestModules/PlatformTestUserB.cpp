// A second library loaded at run time by the platform's tests: it uses handles made by others.
#include "PlatformSync.h"

extern "C" {

bool TestUserSignal(PlatHandle event)
{
    return PlatSetEvent(event);
}

bool TestUserClose(PlatHandle handle)
{
    return PlatCloseHandle(handle);
}

}
