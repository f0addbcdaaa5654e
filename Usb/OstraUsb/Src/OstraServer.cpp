// Device notification and the in-process server's entry points. Neither is there yet: registering gives no
// notification handle, and the server has no classes.
#include "OstraUsb.h"

#define OSTRA_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr uint32_t kNotSupported = 120;
constexpr int32_t kClassNotAvailable = static_cast<int32_t>(0x80040111);
constexpr int32_t kNotImplemented = static_cast<int32_t>(0x80004001);

}  // namespace

OSTRA_EXPORT void* OstraRegisterDeviceNotification(PlatWindow*, const void*, uint32_t)
{
    PlatSetLastError(kNotSupported);
    return nullptr;
}

OSTRA_EXPORT int32_t OstraUnregisterDeviceNotification(void*)
{
    return 0;
}

OSTRA_EXPORT int32_t DllCanUnloadNow(void)
{
    return 0;
}

OSTRA_EXPORT int32_t DllGetClassObject(const PlatGuid*, const PlatGuid*, void** object)
{
    if (object)
        *object = nullptr;
    return kClassNotAvailable;
}

OSTRA_EXPORT int32_t DllRegisterServer(void)
{
    return kNotImplemented;
}

OSTRA_EXPORT int32_t DllUnregisterServer(void)
{
    return kNotImplemented;
}
