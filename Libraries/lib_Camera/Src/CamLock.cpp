// The lock object and the OS version code.
#include <sched.h>

#include <cstdlib>

#include "KCamLinkSupport.h"
#include "PlatformOS.h"

CamLock* CreateLock(CamLock* object)
{
    if (!object) {
        object = static_cast<CamLock*>(calloc(1, sizeof(CamLock)));
        if (!object)
            return nullptr;
        object->allocated = 1;
    } else {
        const uint32_t allocated = object->allocated;
        *object = CamLock{};
        object->allocated = allocated;
    }
    // Without a mutex the spin byte alone serves.
    object->mutex = PlatCreateMutex(false, nullptr);
    object->timeout = PLAT_INFINITE;
    return object;
}

bool Lock(CamLock* object)
{
    if (!object)
        return false;
    if (object->mutex) {
        object->lastWait = PlatWaitForSingleObject(object->mutex, object->timeout);
        if (object->lastWait != PLAT_WAIT_OBJECT_0 && object->lastWait != PLAT_WAIT_ABANDONED)
            return false;
    }
    while (__atomic_exchange_n(&object->spin, 1, __ATOMIC_ACQUIRE)) {
        int spins = 0;
        while (__atomic_load_n(&object->spin, __ATOMIC_RELAXED))
            if (++spins % 64 == 0)
                sched_yield();
    }
    return true;
}

void Unlock(CamLock* object)
{
    if (!object)
        return;
    __atomic_store_n(&object->spin, 0, __ATOMIC_RELEASE);
    if (object->mutex)
        PlatReleaseMutex(object->mutex);
}

void DestroyLock(CamLock* object)
{
    if (!object)
        return;
    if (object->mutex)
        PlatCloseHandle(object->mutex);
    object->mutex = nullptr;
    if (object->allocated)
        free(object);
}

uint32_t OsVersionCodeOf(uint32_t platformId, uint32_t major, uint32_t minor)
{
    switch (platformId) {
    case PLAT_OS_PLATFORM_WIN32S:
        return 0x70001;
    case PLAT_OS_PLATFORM_WINDOWS:
        if (minor == 0)
            return 0x70002;
        if (minor == 10)
            return 0x70003;
        if (minor == 90)
            return 0x70005;
        return 0;
    case PLAT_OS_PLATFORM_NT:
        if (major == 3 && minor == 51)
            return 0x70006;
        if (major == 4 && minor == 0)
            return 0x70007;
        if (major == 5 && minor == 0)
            return 0x70008;
        if (major == 5 && minor == 1)
            return 0x70009;
        return 0;
    default:
        return 0;
    }
}

bool GetOsVersionCode(uint32_t* platform, uint32_t* code)
{
    PlatOsVersion version{};
    if (!PlatGetVersion(&version))
        return false;
    const uint32_t c = OsVersionCodeOf(version.platformId, version.major, version.minor);
    if (c == 0)
        return false;
    if (platform)
        *platform = 7;
    if (code)
        *code = c;
    return true;
}
