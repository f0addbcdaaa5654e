#pragma once
// "user32.dll" of the stand-in (libuser32.so): device-interface notification for programs that bind it by name
// at run time. A window registered for an interface class receives WM_DEVICECHANGE, sent from the library's
// watcher thread (the sender waits until the window's thread has run it), when an interface of that class
// appears in the device services (DBT_DEVICEARRIVAL) or leaves them (DBT_DEVICEREMOVECOMPLETE); lParam is a
// device-interface record with the interface's path. The device services are looked at four times a second.
#include <cstdint>

#include "PlatformDevices.h"
#include "PlatformWindow.h"

enum : uint32_t {
    PLAT_WM_DEVICECHANGE = 0x0219,
    PLAT_DBT_CONFIGCHANGED = 0x0018,
    PLAT_DBT_DEVICEARRIVAL = 0x8000,
    PLAT_DBT_DEVICEQUERYREMOVE = 0x8001,
    PLAT_DBT_DEVICEQUERYREMOVEFAILED = 0x8002,
    PLAT_DBT_DEVICEREMOVEPENDING = 0x8003,
    PLAT_DBT_DEVICEREMOVECOMPLETE = 0x8004,
    PLAT_DBT_DEVICETYPESPECIFIC = 0x8005,
    PLAT_DBT_DEVTYP_DEVICEINTERFACE = 5,
    PLAT_DEVICE_NOTIFY_WINDOW_HANDLE = 0,
};

// The filter of a registration and the record of a message: size in bytes (of the whole record with its
// zero-terminated name), the device type (5), a reserved word, the interface class and the device's path.
struct PlatDevBroadcastDeviceInterface {
    uint32_t size;
    uint32_t deviceType;
    uint32_t reserved;
    PlatGuid classGuid;
    char name[1];
};
// The size of the record's fixed part, up to the name.
constexpr uint32_t PLAT_DEV_BROADCAST_FIXED = 28;

extern "C" {

// Registers the window for the interface class of a device-interface filter (type 5, size at least 28); any
// other filter or flags give 0 with PLAT_ERROR_INVALID_PARAMETER. Interfaces present at registration give no
// message. Answers a notification handle (not 0).
void* RegisterDeviceNotificationA(PlatHWND recipient, const void* filter, uint32_t flags);
// 1, or 0 with PLAT_ERROR_INVALID_HANDLE for a handle that is not registered.
int32_t UnregisterDeviceNotification(void* notification);

}  // extern "C"

using PlatRegisterDeviceNotificationA = decltype(&RegisterDeviceNotificationA);
using PlatUnregisterDeviceNotification = decltype(&UnregisterDeviceNotification);
