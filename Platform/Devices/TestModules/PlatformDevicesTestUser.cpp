// A library loaded at run time by the device tests: it enumerates and sends requests through the device
// services of the process, as a device library of the system does.
#include <cstring>
#include <vector>

#include "PlatformDevices.h"

extern "C" {

// The number of present interfaces of the class; the path of the first goes to `firstPath` (capacity bytes).
int TestUserCountInterfaces(const PlatGuid* classGuid, char* firstPath, uint32_t capacity)
{
    PlatHandle set = PlatGetClassDevs(classGuid, PLAT_DIGCF_PRESENT | PLAT_DIGCF_DEVICEINTERFACE);
    if (set == PLAT_INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    for (uint32_t i = 0;; ++i) {
        PlatDeviceInterfaceData data{};
        data.cbSize = sizeof(data);
        if (!PlatEnumDeviceInterfaces(set, classGuid, i, &data))
            break;
        if (count++ == 0) {
            uint32_t needed = 0;
            PlatGetDeviceInterfaceDetail(set, &data, nullptr, 0, &needed);
            std::vector<char> buffer(needed);
            auto* detail = reinterpret_cast<PlatDeviceInterfaceDetail*>(buffer.data());
            detail->cbSize = sizeof(PlatDeviceInterfaceDetail);
            if (PlatGetDeviceInterfaceDetail(set, &data, detail, needed, nullptr) && strlen(detail->devicePath) < capacity)
                strcpy(firstPath, detail->devicePath);
        }
    }
    PlatDestroyDeviceInfoList(set);
    return count;
}

// One request on a handle the caller opened; the bytes returned, or -1.
int TestUserRequest(PlatHandle device, uint32_t code, const void* input, uint32_t inputSize, void* output,
                    uint32_t outputSize)
{
    uint32_t returned = 0;
    if (!PlatDeviceIoControl(device, code, input, inputSize, output, outputSize, &returned, nullptr))
        return -1;
    return static_cast<int>(returned);
}

}
