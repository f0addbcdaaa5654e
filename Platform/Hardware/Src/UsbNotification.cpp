// The USB kernel driver's values in the device-notification key of a Windows NT 4 machine: one per camera
// plugged into USB, named after its interface class and link name, following the plug state.
#include <string>
#include <vector>

#include "PlatformOS.h"
#include "PlatformRegistry.h"
#include "SimCamera.h"

namespace simcam {

namespace {

const char kKey[] = "System\\CurrentControlSet\\Control\\Rokit\\DeviceNotification";

bool IsNt4()
{
    PlatOsVersion v{};
    return PlatGetVersion(&v) && v.platformId == PLAT_OS_PLATFORM_NT && v.major == 4;
}

std::string ValueName(size_t link)
{
    return std::string(CameraUsbIdentity().interfaceClass) + "#KUSB" + std::to_string(link);
}

}  // namespace

size_t UsbCameraCount()
{
    size_t n = 0;
    for (const CameraSummary& c : ListCameras())
        n += c.plug == Plug::Usb;
    return n;
}

void SyncUsbNotificationValues(size_t before)
{
    if (!IsNt4())
        return;
    const size_t now = UsbCameraCount();
    PlatHKEY key = nullptr;
    if (PlatRegCreateKeyEx(PLAT_HKEY_LOCAL_MACHINE, kKey, 0, PLAT_KEY_ALL_ACCESS, &key, nullptr) != 0)
        return;
    for (size_t link = 0; link < now; ++link) {
        const std::string name = ValueName(link);
        if (PlatRegQueryValueEx(key, name.c_str(), nullptr, nullptr, nullptr) == PLAT_ERROR_FILE_NOT_FOUND) {
            const std::string data = "\\\\.\\" + name;
            PlatRegSetValueEx(key, name.c_str(), PLAT_REG_SZ, data.c_str(), static_cast<uint32_t>(data.size() + 1));
        }
    }
    for (size_t link = now; link < before; ++link)
        PlatRegDeleteValue(key, ValueName(link).c_str());
    PlatRegCloseKey(key);
}

}  // namespace simcam
