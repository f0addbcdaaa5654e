// The flat transfer interface: each export is one device-control request to the USB kernel driver.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "OstraErrors.h"
#include "OstraNames.h"
#include "OstraNotify.h"
#include "OstraReplies.h"
#include "OstraTrace.h"
#include "OstraUsb.h"
#include "PlatformSetupApi.h"

#define OSTRA_EXPORT extern "C" __attribute__((visibility("default")))

using namespace ostra;

namespace {

constexpr uint32_t kGenericRead = 0x80000000;
constexpr uint32_t kGenericWrite = 0x40000000;
constexpr uint32_t kShareReadWrite = 0x3;
constexpr uint32_t kMaxLinkName = 259;
constexpr uint32_t kMaxInstance = 999999999;  // nine digits
constexpr size_t kMaxDevicePath = 512;

uint32_t H32(PlatHandle handle)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle));
}

void Put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// One request, waited for on an event of its own.
uint32_t SyncRequest(PlatHandle handle, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                     uint32_t* returned)
{
    if (!returned)
        return PLAT_ERROR_INVALID_PARAMETER;
    *returned = 0;
    PlatHandle event = PlatCreateEvent(true, false, nullptr);
    if (!event)
        return PlatGetLastError();
    PlatOverlapped overlapped{};
    overlapped.event = event;
    uint32_t result = 0;
    if (!PlatDeviceIoControl(handle, code, in, inSize, out, outSize, returned, &overlapped)) {
        result = PlatGetLastError();
        if (result == PLAT_ERROR_IO_PENDING) {
            PlatWaitForSingleObject(event, PLAT_INFINITE);
            result = PlatGetOverlappedResult(handle, &overlapped, returned, false) ? 0 : PlatGetLastError();
        }
    }
    PlatCloseHandle(event);
    return result;
}

// One request on the caller's overlapped record: 0 done, 997 pending, else the error.
uint32_t AsyncRequest(PlatHandle handle, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                      uint32_t* returned, PlatOverlapped* overlapped)
{
    if (!returned || !overlapped)
        return PLAT_ERROR_INVALID_PARAMETER;
    if (PlatDeviceIoControl(handle, code, in, inSize, out, outSize, returned, overlapped))
        return 0;
    return PlatGetLastError();
}

void TraceFailure(uint32_t result, const char* line)
{
    if (!TracingOn())
        return;
    Trace("%s", line);
    TraceErrorText(result);
}

// "OSTRA_USB: <name> failed (0x%08X), Handle: 0x%08X" and the request's own arguments.
template <class... A>
void TraceFailed(uint32_t result, const char* name, PlatHandle handle, const char* arguments, A... values)
{
    if (!TracingOn())
        return;
    char tail[256] = "";
    if constexpr (sizeof...(A) > 0)
        std::snprintf(tail, sizeof tail, arguments, values...);
    char line[400];
    std::snprintf(line, sizeof line, "OSTRA_USB: %s failed (0x%08X), Handle: 0x%08X%s\r\n", name, result, H32(handle),
                  tail);
    TraceFailure(result, line);
}

// ---- Device lists through "setupapi.dll" ---------------------------------------------------------------------

struct SetupApi {
    PlatModule module = nullptr;
    PlatSetupDiGetClassDevsA getClassDevs = nullptr;
    PlatSetupDiEnumDeviceInterfaces enumInterfaces = nullptr;
    PlatSetupDiGetDeviceInterfaceDetailA getDetail = nullptr;
    PlatSetupDiDestroyDeviceInfoList destroyList = nullptr;
    int openLists = 0;
};

std::mutex g_SetupLock;
constinit SetupApi g_Setup{};

// A device list of the class; the library is loaded with the first list and freed with the last.
class DeviceList {
public:
    DeviceList(const PlatGuid* guid, uint32_t flags)
    {
        std::lock_guard<std::mutex> guard(g_SetupLock);
        if (!g_Setup.module) {
            PlatModule module = PlatLoadLibrary("setupapi.dll");
            if (!module)
                return;
            SetupApi api;
            api.module = module;
            api.getClassDevs = reinterpret_cast<PlatSetupDiGetClassDevsA>(PlatGetProcAddress(module, "SetupDiGetClassDevsA"));
            api.enumInterfaces = reinterpret_cast<PlatSetupDiEnumDeviceInterfaces>(PlatGetProcAddress(module, "SetupDiEnumDeviceInterfaces"));
            api.getDetail = reinterpret_cast<PlatSetupDiGetDeviceInterfaceDetailA>(PlatGetProcAddress(module, "SetupDiGetDeviceInterfaceDetailA"));
            api.destroyList = reinterpret_cast<PlatSetupDiDestroyDeviceInfoList>(PlatGetProcAddress(module, "SetupDiDestroyDeviceInfoList"));
            if (!api.getClassDevs || !api.enumInterfaces || !api.getDetail || !api.destroyList) {
                PlatFreeLibrary(module);
                PlatSetLastError(PLAT_ERROR_PROC_NOT_FOUND);
                return;
            }
            g_Setup = api;
        }
        m_List = g_Setup.getClassDevs(guid, nullptr, nullptr, flags);
        if (m_List == PLAT_INVALID_HANDLE_VALUE) {
            const uint32_t error = PlatGetLastError();
            FreeIfUnused();
            PlatSetLastError(error);
            return;
        }
        ++g_Setup.openLists;
    }
    ~DeviceList()
    {
        if (m_List == PLAT_INVALID_HANDLE_VALUE)
            return;
        const uint32_t error = PlatGetLastError();
        std::lock_guard<std::mutex> guard(g_SetupLock);
        g_Setup.destroyList(m_List);
        --g_Setup.openLists;
        FreeIfUnused();
        PlatSetLastError(error);
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    bool Ok() const { return m_List != PLAT_INVALID_HANDLE_VALUE; }
    PlatHandle List() const { return m_List; }

private:
    static void FreeIfUnused()
    {
        if (g_Setup.openLists == 0 && g_Setup.module) {
            PlatFreeLibrary(g_Setup.module);
            g_Setup = SetupApi();
        }
    }

    PlatHandle m_List = PLAT_INVALID_HANDLE_VALUE;
};

PlatHandle OpenPath(const char* path, int32_t exclusive)
{
    return PlatCreateDeviceFile(path, kGenericRead | kGenericWrite, exclusive ? 0 : kShareReadWrite,
                                PLAT_FILE_FLAG_OVERLAPPED);
}

// ---- Control transfers ---------------------------------------------------------------------------------------

// The function code for a request type (without the direction bit) and request; -1 refused.
int ControlFunction(uint8_t type, uint8_t request)
{
    switch (type) {
    case 0x00:
        switch (request) {
        case 0: return 19;
        case 1: return 16;
        case 3: return 13;
        case 6: return 11;
        case 8: return 38;
        case 5:
            Trace("Ostra for USB does not support the SET_ADDRESS Device Request.\n");
            return -1;
        case 7:
            Trace("Ostra for USB does not support the SET_DESCRIPTOR Device Request.\n");
            return -1;
        case 9:
            Trace("Ostra for USB does not support the SET_CONFIGURATION Device Request.\n");
            return -1;
        default: return 0;  // not one the library knows: passed with no function
        }
    case 0x01:
        switch (request) {
        case 0: return 20;
        case 1: return 17;
        case 3: return 14;
        case 10: return 39;
        case 11:
            Trace("Ostra for USB does not support the SET_INTERFACE Device Request.\n");
            Trace("\tTo change the selected interface, call OstraSelectInterface.\n");
            return -1;
        default: return 0;
        }
    case 0x02:
        switch (request) {
        case 0: return 21;
        case 1: return 18;
        case 3: return 15;
        case 12:
            Trace("Ostra for USB does not support the SYNCH_FRAME Device Request.\n");
            return -1;
        default: return 0;
        }
    case 0x20: return 26;
    case 0x21: return 27;
    case 0x22: return 28;
    case 0x23: return 31;
    case 0x40: return 23;
    case 0x41: return 24;
    case 0x42: return 25;
    case 0x43: return 32;
    default: return -1;
    }
}

// Checks and fills the setup block; 0 or the refusal.
uint32_t SetupBlock(uint8_t type, uint8_t request, uint16_t value, uint16_t index, int32_t hostToDevice,
                    uint32_t length, const char* refusal, const char* name, uint8_t block[16])
{
    const int function = ControlFunction(type, request);
    if (function < 0) {
        Trace("%s", refusal);
        return PLAT_ERROR_INVALID_PARAMETER;
    }
    if (length > OSTRA_MAX_CONTROL_LENGTH) {
        Trace("OSTRA_USB: %s length 0x%08X exceeds the maximum of %u bytes\r\n", name, length,
              OSTRA_MAX_CONTROL_LENGTH);
        return PLAT_ERROR_INVALID_PARAMETER;
    }
    std::memset(block, 0, 16);
    Put32(block, length);
    Put16(block + 4, static_cast<uint16_t>(function));
    block[6] = request;
    Put16(block + 8, value);
    Put16(block + 10, index);
    block[12] = hostToDevice ? 1 : 0;
    return 0;
}

// ---- Isochronous transfers -----------------------------------------------------------------------------------

// Checks the buffer, stores each record's data address and fills the block; 0 or the refusal.
uint32_t IsochronousBlock(uint8_t endpoint, uint32_t packets, uint32_t packetSize, uint32_t bufferLength,
                          void* buffer, uint8_t block[16])
{
    if (!buffer) {
        Trace("OstraIsochronousTransfer: transfer buffer is NULL.\r\n");
        return PLAT_ERROR_INVALID_PARAMETER;
    }
    auto tooSmall = [&](uint64_t needed) {
        Trace("OstraIsochronousTransfer: transfer buffer too small.\r\n");
        Trace("\tLength given: %u\tLength needed: %llu.\r\n", bufferLength, static_cast<unsigned long long>(needed));
        return PLAT_ERROR_INSUFFICIENT_BUFFER;
    };
    // The record size lies in the buffer's first 4 bytes.
    if (bufferLength < 4)
        return tooSmall(4);
    uint32_t recordSize = 0;
    std::memcpy(&recordSize, buffer, 4);
    if (recordSize < OSTRA_ISO_RECORD_SIZE) {
        Trace("OstraIsochronousTransfer: packet record size %u is below %u.\r\n", recordSize, OSTRA_ISO_RECORD_SIZE);
        return PLAT_ERROR_INVALID_PARAMETER;
    }
    const uint64_t needed = uint64_t(packets) * (uint64_t(packetSize) + recordSize);
    if (bufferLength < needed)
        return tooSmall(needed);
    auto* bytes = static_cast<uint8_t*>(buffer);
    const uintptr_t data = reinterpret_cast<uintptr_t>(bytes) + uintptr_t(packets) * recordSize;
    for (uint64_t i = 0; i < packets; ++i)
        Put32(bytes + i * recordSize + 12, static_cast<uint32_t>(data + i * packetSize));
    std::memset(block, 0, 16);
    block[0] = endpoint;
    Put32(block + 4, bufferLength);
    Put32(block + 8, packets);
    Put32(block + 12, packetSize);
    return 0;
}

// ---- Texts from the driver -----------------------------------------------------------------------------------

uint32_t TextRequest(PlatHandle handle, uint32_t code, const void* in, uint32_t inSize, uint32_t stringLength,
                     char* text, const char* name)
{
    if (stringLength > 0x7FFFFFFF)
        return PLAT_ERROR_INVALID_PARAMETER;
    std::vector<uint8_t> units;
    try {
        units.assign(size_t(stringLength) * 2, 0);
    } catch (const std::bad_alloc&) {
        Trace("OSTRA_USB: %s handle 0x%08X: Out of memory\r\n", name, H32(handle));
        return PLAT_ERROR_NOT_ENOUGH_MEMORY;
    }
    uint32_t returned = 0;
    uint32_t result = SyncRequest(handle, code, in, inSize, units.data(), static_cast<uint32_t>(units.size()), &returned);
    if (result != 0) {
        TraceFailed(result, name, handle, nullptr);
        return result;
    }
    uint32_t copied = 0;
    result = ReplyToAnsi(units.data(), returned, text, stringLength, &copied);
    if (result != 0) {
        Trace("OSTRA_USB: %s failed to convert string (0x%08X) handle 0x%08X\r\n", name, result, H32(handle));
        Trace("String Descriptor Length: %u  Buffer Length: %u\r\n", returned / 2, stringLength);
    }
    return result;
}

uint32_t Descriptor(PlatHandle handle, uint32_t code, const void* in, uint32_t inSize, void* buffer,
                    DescriptorKind kind, const char* name)
{
    uint32_t returned = 0;
    const uint32_t result = SyncRequest(handle, code, in, inSize, buffer, DescriptorSize(kind), &returned);
    if (result != 0) {
        TraceFailed(result, name, handle, nullptr);
        return result;
    }
    if (TracingOn())
        for (const std::string& line : DescribeDescriptor(kind, static_cast<const uint8_t*>(buffer), returned, H32(handle)))
            TraceText(line.c_str());
    return 0;
}

}  // namespace

// ---- Opening and closing -----------------------------------------------------------------------------------

OSTRA_EXPORT PlatHandle OstraOpenHandle(const char* linkName, uint32_t instance, int32_t exclusive)
{
    if (!linkName) {
        Trace("OSTRA_USB: OstraOpenHandle NULL LinkName is not allowed.\r\n");
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return PLAT_INVALID_HANDLE_VALUE;
    }
    // A longer name or number would be cut and might name another device.
    if (strnlen(linkName, kMaxLinkName + 1) > kMaxLinkName || instance > kMaxInstance) {
        Trace("OSTRA_USB: OstraOpenHandle link name or instance too long.\r\n");
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return PLAT_INVALID_HANDLE_VALUE;
    }
    const std::string path = std::string("\\\\.\\") + linkName + std::to_string(instance);
    PlatHandle handle = OpenPath(path.c_str(), exclusive);
    if (handle == PLAT_INVALID_HANDLE_VALUE) {
        const uint32_t error = PlatGetLastError();
        Trace("OSTRA_USB: OstraOpenHandle failed for %s.\r\n", path.c_str());
        TraceErrorText(error);
        PlatSetLastError(error);
        return handle;
    }
    if (TracingOn()) {
        Trace("OSTRA_USB: OstraOpenHandle succeeded on %s returning handle (0x%08X)\r\n", path.c_str(), H32(handle));
        uint32_t major = 0, minor = 0;
        OstraGetDriverVersion(handle, &major, &minor);
    }
    PlatSetLastError(PLAT_ERROR_SUCCESS);
    return handle;
}

OSTRA_EXPORT PlatHandle OstraOpenGuidHandle(const PlatGuid* interfaceClass, uint32_t memberIndex, int32_t exclusive)
{
    if (!interfaceClass) {
        Trace("OstraOpenGuidHandle pGuid may not be NULL.\r\n");
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return PLAT_INVALID_HANDLE_VALUE;
    }
    std::string path;
    if (IsWindowsNT4()) {
        // No device-setup functions: the devices are the values of the notification key, in its order.
        const std::vector<std::string> paths = Nt4DevicePaths(*interfaceClass);
        if (memberIndex >= paths.size()) {
            Trace("OstraOpenGuidHandle failed to get device interface: %d\r\n", static_cast<int>(PLAT_ERROR_NO_MORE_ITEMS));
            PlatSetLastError(PLAT_ERROR_NO_MORE_ITEMS);
            return PLAT_INVALID_HANDLE_VALUE;
        }
        path = paths[memberIndex];
        if (path.size() > kMaxDevicePath) {
            Trace("OstraOpenGuidHandle failed to get device interface detail: %d\r\n",
                  static_cast<int>(PLAT_ERROR_INSUFFICIENT_BUFFER));
            PlatSetLastError(PLAT_ERROR_INSUFFICIENT_BUFFER);
            return PLAT_INVALID_HANDLE_VALUE;
        }
    } else {
        DeviceList list(interfaceClass, PLAT_DIGCF_PRESENT | PLAT_DIGCF_DEVICEINTERFACE);
        if (!list.Ok()) {
            Trace("OstraOpenGuidHandle failed to get device list: %d\r\n", static_cast<int>(PlatGetLastError()));
            return PLAT_INVALID_HANDLE_VALUE;
        }
        PlatDeviceInterfaceData data{};
        data.cbSize = sizeof data;
        if (!g_Setup.enumInterfaces(list.List(), nullptr, interfaceClass, memberIndex, &data)) {
            Trace("OstraOpenGuidHandle failed to get device interface: %d\r\n", static_cast<int>(PlatGetLastError()));
            return PLAT_INVALID_HANDLE_VALUE;
        }
        uint32_t required = 0;
        g_Setup.getDetail(list.List(), &data, nullptr, 0, &required, nullptr);
        if (required < sizeof(PlatDeviceInterfaceDetail)) {
            Trace("OstraOpenGuidHandle failed to get device interface detail: %d\r\n",
                  static_cast<int>(PlatGetLastError()));
            return PLAT_INVALID_HANDLE_VALUE;
        }
        auto* detail = static_cast<PlatDeviceInterfaceDetail*>(std::calloc(1, required));
        if (!detail) {
            Trace("OstraOpenGuidHandle failed to allocate device interface detail: %d\r\n",
                  static_cast<int>(PLAT_ERROR_NOT_ENOUGH_MEMORY));
            PlatSetLastError(PLAT_ERROR_NOT_ENOUGH_MEMORY);
            return PLAT_INVALID_HANDLE_VALUE;
        }
        detail->cbSize = sizeof(PlatDeviceInterfaceDetail);
        const bool got = g_Setup.getDetail(list.List(), &data, detail, required, nullptr, nullptr);
        if (got) {
            const char* text = reinterpret_cast<const char*>(detail) + offsetof(PlatDeviceInterfaceDetail, devicePath);
            const size_t room = required - offsetof(PlatDeviceInterfaceDetail, devicePath);
            path.assign(text, strnlen(text, room));
        }
        const uint32_t error = PlatGetLastError();
        std::free(detail);
        // A longer path would be cut and might name another device.
        if (!got || path.size() > kMaxDevicePath) {
            Trace("OstraOpenGuidHandle failed to get device interface detail: %d\r\n",
                  static_cast<int>(got ? PLAT_ERROR_INSUFFICIENT_BUFFER : error));
            PlatSetLastError(got ? PLAT_ERROR_INSUFFICIENT_BUFFER : error);
            return PLAT_INVALID_HANDLE_VALUE;
        }
    }
    PlatHandle handle = OpenPath(path.c_str(), exclusive);
    if (handle == PLAT_INVALID_HANDLE_VALUE) {
        const uint32_t error = PlatGetLastError();
        Trace("OstraOpenGuidHandle failed to open device handle\r\n");
        PlatSetLastError(error);
    }
    return handle;
}

OSTRA_EXPORT int32_t OstraCloseHandle(PlatHandle handle)
{
    Trace("OSTRA for USB: OstraCloseHandle for handle(0x%08X)\r\n", H32(handle));
    return PlatCloseHandle(handle) ? 1 : 0;
}

// ---- Transfers ---------------------------------------------------------------------------------------------

namespace {

void PipeBlock(uint8_t endpoint, uint32_t length, uint8_t block[8])
{
    std::memset(block, 0, 8);
    block[0] = endpoint;
    Put32(block + 4, length);
}

}  // namespace

OSTRA_EXPORT uint32_t OstraBulkTransfer(PlatHandle handle, uint8_t endpoint, uint32_t length, void* buffer,
                                        uint32_t* returned)
{
    uint8_t block[8];
    PipeBlock(endpoint, length, block);
    const uint32_t r = SyncRequest(handle, OSTRA_IOCTL_BULK, block, 8, buffer, length, returned);
    if (r != 0)
        TraceFailed(r, "OstraBulkTransfer", handle, ", Endpoint: 0x%02X, Length: 0x%08X", endpoint, length);
    return r;
}

OSTRA_EXPORT uint32_t OstraInterruptTransfer(PlatHandle handle, uint8_t endpoint, uint32_t length, void* buffer,
                                             uint32_t* returned)
{
    uint8_t block[8];
    PipeBlock(endpoint, length, block);
    const uint32_t r = SyncRequest(handle, OSTRA_IOCTL_INTERRUPT, block, 8, buffer, length, returned);
    if (r != 0)
        TraceFailed(r, "OstraInterruptTransfer", handle, ", Endpoint: 0x%02X, Length: 0x%08X", endpoint, length);
    return r;
}

OSTRA_EXPORT uint32_t OstraControlTransfer(PlatHandle handle, uint8_t requestType, uint8_t request, uint16_t value,
                                           uint16_t index, int32_t hostToDevice, uint32_t length, void* buffer,
                                           uint32_t* returned)
{
    uint8_t block[16];
    uint32_t r = SetupBlock(requestType, request, value, index, hostToDevice, length,
                            "Invalid Control Transfer attempted.\r\n", "OstraControlTransfer", block);
    if (r != 0)
        return r;
    r = SyncRequest(handle, OSTRA_IOCTL_CONTROL, block, 16, buffer, length, returned);
    if (r != 0)
        TraceFailed(r, "OstraControlTransfer", handle,
                    ", RequestType: 0x%02X, Request: 0x%02X, Value: 0x%04X, Index: 0x%04X, Direction: %d, Length: 0x%08X",
                    requestType, request, value, index, hostToDevice ? 1 : 0, length);
    return r;
}

OSTRA_EXPORT uint32_t OstraIsochronousTransfer(PlatHandle handle, uint8_t endpoint, uint32_t packets,
                                               uint32_t packetSize, uint32_t bufferLength, void* buffer,
                                               uint32_t* returned)
{
    if (!returned)
        return PLAT_ERROR_INVALID_PARAMETER;
    uint8_t block[16];
    uint32_t r = IsochronousBlock(endpoint, packets, packetSize, bufferLength, buffer, block);
    if (r != 0)
        return r;
    r = SyncRequest(handle, OSTRA_IOCTL_ISOCHRONOUS, block, 16, buffer, bufferLength, returned);
    if (r != 0)
        TraceFailed(r, "OstraIsochronousTransfer", handle, ", Endpoint: 0x%02X, Packets: 0x%08X, PacketSize: 0x%08X",
                    endpoint, packets, packetSize);
    return r;
}

OSTRA_EXPORT uint32_t OstraAsynchBulkTransfer(PlatHandle handle, uint8_t endpoint, uint32_t length, void* buffer,
                                              uint32_t* returned, PlatOverlapped* overlapped)
{
    uint8_t block[8];
    PipeBlock(endpoint, length, block);
    const uint32_t r = AsyncRequest(handle, OSTRA_IOCTL_BULK, block, 8, buffer, length, returned, overlapped);
    if (r != 0 && r != PLAT_ERROR_IO_PENDING)
        TraceFailed(r, "OstraAsynchBulkTransfer", handle, ", Endpoint: 0x%02X, Length: 0x%08X", endpoint, length);
    return r;
}

OSTRA_EXPORT uint32_t OstraAsynchInterruptTransfer(PlatHandle handle, uint8_t endpoint, uint32_t length, void* buffer,
                                                   uint32_t* returned, PlatOverlapped* overlapped)
{
    uint8_t block[8];
    PipeBlock(endpoint, length, block);
    const uint32_t r = AsyncRequest(handle, OSTRA_IOCTL_INTERRUPT, block, 8, buffer, length, returned, overlapped);
    if (r != 0 && r != PLAT_ERROR_IO_PENDING)
        TraceFailed(r, "OstraAsynchInterruptTransfer", handle, ", Endpoint: 0x%02X, Length: 0x%08X", endpoint, length);
    return r;
}

OSTRA_EXPORT uint32_t OstraAsynchControlTransfer(PlatHandle handle, uint8_t requestType, uint8_t request,
                                                 uint16_t value, uint16_t index, int32_t hostToDevice, uint32_t length,
                                                 void* buffer, uint32_t* returned, PlatOverlapped* overlapped)
{
    uint8_t block[16];
    uint32_t r = SetupBlock(requestType, request, value, index, hostToDevice, length,
                            "OstraAsynchControlTransfer: Invalid Control transfer attempted.\r\n",
                            "OstraAsynchControlTransfer", block);
    if (r != 0)
        return r;
    r = AsyncRequest(handle, OSTRA_IOCTL_CONTROL, block, 16, buffer, length, returned, overlapped);
    if (r != 0 && r != PLAT_ERROR_IO_PENDING)
        TraceFailed(r, "OstraAsynchControlTransfer", handle,
                    ", RequestType: 0x%02X, Request: 0x%02X, Value: 0x%04X, Index: 0x%04X, Direction: %d, Length: 0x%08X",
                    requestType, request, value, index, hostToDevice ? 1 : 0, length);
    return r;
}

OSTRA_EXPORT uint32_t OstraAsynchIsochronousTransfer(PlatHandle handle, uint8_t endpoint, uint32_t packets,
                                                     uint32_t packetSize, uint32_t bufferLength, void* buffer,
                                                     uint32_t* returned, PlatOverlapped* overlapped)
{
    if (!returned || !overlapped)
        return PLAT_ERROR_INVALID_PARAMETER;
    uint8_t block[16];
    uint32_t r = IsochronousBlock(endpoint, packets, packetSize, bufferLength, buffer, block);
    if (r != 0)
        return r;
    r = AsyncRequest(handle, OSTRA_IOCTL_ISOCHRONOUS, block, 16, buffer, bufferLength, returned, overlapped);
    if (r != 0 && r != PLAT_ERROR_IO_PENDING)
        TraceFailed(r, "OstraAsynchIsochronousTransfer", handle,
                    ", Endpoint: 0x%02X, Packets: 0x%08X, PacketSize: 0x%08X", endpoint, packets, packetSize);
    return r;
}

OSTRA_EXPORT uint32_t OstraCheckAsynchCompletion(PlatHandle handle, uint32_t* returned, PlatOverlapped* overlapped)
{
    if (!returned) {
        Trace("OstraCheckAsynchCompletion: pReturnLength is NULL.\r\n");
        return PLAT_ERROR_INVALID_PARAMETER;
    }
    if (!overlapped) {
        Trace("OstraCheckAsynchCompletion: pOverlapped is NULL.\r\n");
        return PLAT_ERROR_INVALID_PARAMETER;
    }
    if (!PlatHasOverlappedIoCompleted(overlapped))
        return PLAT_ERROR_IO_PENDING;
    return PlatGetOverlappedResult(handle, overlapped, returned, false) ? 0 : PlatGetLastError();
}

// ---- Descriptors and queries -------------------------------------------------------------------------------

OSTRA_EXPORT uint32_t OstraGetDeviceDescriptor(PlatHandle handle, void* descriptor18)
{
    return Descriptor(handle, OSTRA_IOCTL_DEVICE_DESCRIPTOR, nullptr, 0, descriptor18, DescriptorKind::Device,
                      "OstraGetDeviceDescriptor");
}

OSTRA_EXPORT uint32_t OstraGetConfigDescriptor(PlatHandle handle, void* descriptor9)
{
    return Descriptor(handle, OSTRA_IOCTL_CONFIGURATION_DESCRIPTOR, nullptr, 0, descriptor9,
                      DescriptorKind::Configuration, "OstraGetConfigDescriptor");
}

OSTRA_EXPORT uint32_t OstraGetInterfaceDescriptor(PlatHandle handle, void* descriptor9)
{
    return Descriptor(handle, OSTRA_IOCTL_INTERFACE_DESCRIPTOR, nullptr, 0, descriptor9, DescriptorKind::Interface,
                      "OstraGetInterfaceDescriptor");
}

OSTRA_EXPORT uint32_t OstraGetEndpointDescriptor(PlatHandle handle, uint8_t endpointIndex, void* descriptor7)
{
    return Descriptor(handle, OSTRA_IOCTL_ENDPOINT_DESCRIPTOR, &endpointIndex, 1, descriptor7,
                      DescriptorKind::Endpoint, "OstraGetEndpointDescriptor");
}

OSTRA_EXPORT uint32_t OstraGetDriverVersion(PlatHandle handle, uint32_t* major, uint32_t* minor)
{
    if (!major || !minor) {
        Trace("OstraGetDriverVersion: invalid parameter.\r\n");
        return PLAT_ERROR_INVALID_PARAMETER;
    }
    uint8_t version[8] = {};
    uint32_t returned = 0;
    const uint32_t r = SyncRequest(handle, OSTRA_IOCTL_DRIVER_VERSION, nullptr, 0, version, 8, &returned);
    if (r != 0) {
        TraceFailed(r, "OstraGetDriverVersion", handle, nullptr);
        return r;
    }
    std::memcpy(major, version, 4);
    std::memcpy(minor, version + 4, 4);
    Trace("OSTRA_USB: MajorVersion:0x%08X  MinorVersion:0x%08X\r\n", *major, *minor);
    return 0;
}

OSTRA_EXPORT uint32_t OstraClearStall(PlatHandle handle, uint8_t endpoint)
{
    uint32_t returned = 0;
    const uint32_t r = SyncRequest(handle, OSTRA_IOCTL_CLEAR_STALL, &endpoint, 1, nullptr, 0, &returned);
    if (r != 0)
        TraceFailed(r, "OstraClearStall", handle, ", Endpoint: 0x%02X", endpoint);
    return r;
}

OSTRA_EXPORT uint32_t OstraGetNumberOfLanguageIds(PlatHandle handle, uint16_t* count)
{
    if (!count) {
        Trace("OstraGetNumberOfLanguageIds: pNumberOfIds is NULL.\r\n");
        return PLAT_ERROR_INVALID_PARAMETER;
    }
    uint32_t returned = 0;
    const uint32_t r = SyncRequest(handle, OSTRA_IOCTL_NUMBER_OF_LANGUAGE_IDS, nullptr, 0, count, 2, &returned);
    if (r != 0) {
        TraceFailed(r, "OstraGetNumberOfLanguageIds", handle, nullptr);
        return r;
    }
    Trace("OSTRA_USB: Number of language IDs %d for handle: 0x%08X\r\n", *count, H32(handle));
    return 0;
}

OSTRA_EXPORT uint32_t OstraGetLanguageIds(PlatHandle handle, uint16_t count, uint16_t* ids)
{
    if (!ids) {
        Trace("OstraGetLanguageIds: pLanguageIds is NULL.\r\n");
        return PLAT_ERROR_INVALID_PARAMETER;
    }
    uint32_t returned = 0;
    const uint32_t r = SyncRequest(handle, OSTRA_IOCTL_LANGUAGE_IDS, nullptr, 0, ids, uint32_t(count) * 2, &returned);
    if (r != 0)
        TraceFailed(r, "OstraGetLanguageIds", handle, ", Count: %u", static_cast<unsigned>(count));
    return r;
}

OSTRA_EXPORT uint32_t OstraGetStringDescriptorLength(PlatHandle handle, uint16_t languageId, uint32_t index,
                                                     uint32_t* length)
{
    if (!length) {
        Trace("OstraGetStringDescriptorLength: pStringLength is NULL.\r\n");
        return PLAT_ERROR_INVALID_PARAMETER;
    }
    uint8_t block[8] = {};
    Put16(block, languageId);
    Put32(block + 4, index);
    uint32_t returned = 0;
    const uint32_t r = SyncRequest(handle, OSTRA_IOCTL_STRING_DESCRIPTOR_LENGTH, block, 8, length, 4, &returned);
    if (r != 0)
        TraceFailed(r, "OstraGetStringDescriptorLength", handle, ", LanguageId: 0x%04X, Index: 0x%08X", languageId,
                    index);
    return r;
}

OSTRA_EXPORT uint32_t OstraGetStringDescriptor(PlatHandle handle, uint16_t languageId, uint32_t index,
                                               uint32_t stringLength, char* text)
{
    if (!text) {
        Trace("OSTRA_USB: OstraGetStringDescriptor handle 0x%08X: String buffer 0x00000000 invalid\r\n", H32(handle));
        return PLAT_ERROR_INVALID_PARAMETER;
    }
    if (stringLength == 0) {
        Trace("OSTRA_USB: OstraGetStringDescriptor handle 0x%08X: String length 0x00000000 invalid\r\n", H32(handle));
        return PLAT_ERROR_INVALID_PARAMETER;
    }
    uint8_t block[8] = {};
    Put16(block, languageId);
    Put32(block + 4, index);
    return TextRequest(handle, OSTRA_IOCTL_STRING_DESCRIPTOR, block, 8, stringLength, text, "OstraGetStringDescriptor");
}

OSTRA_EXPORT uint32_t OstraSelectInterface(PlatHandle handle, uint32_t interfaceNumber, uint32_t alternateSetting)
{
    uint8_t block[8];
    Put32(block, interfaceNumber);
    Put32(block + 4, alternateSetting);
    uint32_t returned = 0;
    const uint32_t r = SyncRequest(handle, OSTRA_IOCTL_SELECT_INTERFACE, block, 8, nullptr, 0, &returned);
    if (r != 0)
        TraceFailed(r, "OstraSelectInterface", handle, ", Interface: 0x%08X, AlternateSetting: 0x%08X", interfaceNumber,
                    alternateSetting);
    return r;
}

OSTRA_EXPORT uint32_t OstraGetGuid(PlatHandle handle, PlatGuid* interfaceClass)
{
    if (!interfaceClass) {
        Trace("OSTRA_USB: OstraGetGuid handle 0x%08X: GUID buffer 0x00000000 invalid\r\n", H32(handle));
        return PLAT_ERROR_INVALID_PARAMETER;
    }
    uint32_t returned = 0;
    const uint32_t r = SyncRequest(handle, OSTRA_IOCTL_INTERFACE_GUID, nullptr, 0, interfaceClass, sizeof(PlatGuid), &returned);
    if (r != 0)
        TraceFailed(r, "OstraGetGuid", handle, nullptr);
    return r;
}

OSTRA_EXPORT uint32_t OstraGetLinkname(PlatHandle handle, uint32_t stringLength, char* text)
{
    if (!text) {
        Trace("OSTRA_USB: OstraGetLinkname handle 0x%08X: String buffer 0x00000000 invalid\r\n", H32(handle));
        return PLAT_ERROR_INVALID_PARAMETER;
    }
    return TextRequest(handle, OSTRA_IOCTL_LINK_NAME, nullptr, 0, stringLength, text, "OstraGetLinkname");
}
