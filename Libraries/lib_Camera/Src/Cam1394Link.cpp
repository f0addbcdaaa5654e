// The 1394 link: finds the camera driver's device interfaces through "setupapi.dll", opens one, and moves camera
// register blocks with device-control requests, in the header form or, for a driver that calls itself "QRL1394",
// in the payload-only form.
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "Cam1394Request.h"
#include "KCam1394Link.h"
#include "KCamLinkSupport.h"
#include "PlatformDevices.h"
#include "PlatformSetupApi.h"

using namespace cam1394;

struct Cam1394Device {
    CamLock lock;  // zeroed: the spin byte alone
    uint32_t platform;
    uint32_t osCode;
    PlatHandle handle;
    const CamDriverRow* row;
    uint8_t* request;
    uint32_t lastStatus;
    uint32_t lastSuccess;
    uint32_t payloadOnly;
};

namespace {

// Shared by every device of the process; the first request gets 1.
std::atomic<uint32_t> g_Sequence{1};

// ---- Setup API ------------------------------------------------------------------------------------------------

struct SetupApi {
    PlatSetupDiGetClassDevsA getClassDevs = nullptr;
    PlatSetupDiEnumDeviceInterfaces enumInterfaces = nullptr;
    PlatSetupDiGetDeviceInterfaceDetailA getDetail = nullptr;
    PlatSetupDiDestroyDeviceInfoList destroyList = nullptr;
    bool Bound() const { return getClassDevs && enumInterfaces && getDetail && destroyList; }
};

// Bound once per process; a library or export that is missing leaves no device to find.
const SetupApi& TheSetupApi()
{
    static const SetupApi api = [] {
        SetupApi a;
        PlatModule module = PlatLoadLibrary("setupapi.dll");
        if (!module) {
            CamTrace("1394 link: setupapi.dll cannot be loaded\n");
            return a;
        }
        a.getClassDevs = reinterpret_cast<PlatSetupDiGetClassDevsA>(PlatGetProcAddress(module, "SetupDiGetClassDevsA"));
        a.enumInterfaces =
            reinterpret_cast<PlatSetupDiEnumDeviceInterfaces>(PlatGetProcAddress(module, "SetupDiEnumDeviceInterfaces"));
        a.getDetail = reinterpret_cast<PlatSetupDiGetDeviceInterfaceDetailA>(
            PlatGetProcAddress(module, "SetupDiGetDeviceInterfaceDetailA"));
        a.destroyList =
            reinterpret_cast<PlatSetupDiDestroyDeviceInfoList>(PlatGetProcAddress(module, "SetupDiDestroyDeviceInfoList"));
        if (!a.Bound())
            CamTrace("1394 link: setupapi.dll lacks a device-setup function\n");
        return a;
    }();
    return api;
}

// A list of the present interfaces of one class, given back when it goes.
class InterfaceList {
public:
    explicit InterfaceList(const PlatGuid& guid) : m_Guid(guid)
    {
        const SetupApi& api = TheSetupApi();
        if (api.Bound())
            m_List = api.getClassDevs(&m_Guid, nullptr, nullptr, PLAT_DIGCF_PRESENT | PLAT_DIGCF_DEVICEINTERFACE);
    }
    ~InterfaceList()
    {
        if (Valid())
            TheSetupApi().destroyList(m_List);
    }
    InterfaceList(const InterfaceList&) = delete;
    InterfaceList& operator=(const InterfaceList&) = delete;

    bool Valid() const { return m_List != PLAT_INVALID_HANDLE_VALUE; }

    // 1: the interface is there; 0: past the last; -1: another failure of that index.
    int Interface(uint32_t index, PlatDeviceInterfaceData* data)
    {
        if (!Valid())
            return 0;
        *data = PlatDeviceInterfaceData{};
        data->cbSize = sizeof(PlatDeviceInterfaceData);
        if (TheSetupApi().enumInterfaces(m_List, nullptr, &m_Guid, index, data))
            return 1;
        return PlatGetLastError() == PLAT_ERROR_NO_MORE_ITEMS ? 0 : -1;
    }

    uint32_t Count()
    {
        uint32_t count = 0;
        PlatDeviceInterfaceData data;
        // An index that fails otherwise is skipped; the number of indexes asked is bounded all the same.
        for (uint32_t i = 0; i < 100000; ++i) {
            const int r = Interface(i, &data);
            if (r == 0)
                break;
            if (r > 0)
                ++count;
        }
        return count;
    }

    // The device path of the index-th interface that is there (skipping failing indexes as Count does).
    bool Path(uint32_t wanted, std::vector<char>* path)
    {
        PlatDeviceInterfaceData data;
        uint32_t seen = 0;
        for (uint32_t i = 0; i < 100000; ++i) {
            const int r = Interface(i, &data);
            if (r == 0)
                return false;
            if (r < 0 || seen++ != wanted)
                continue;
            uint32_t needed = 0;
            TheSetupApi().getDetail(m_List, &data, nullptr, 0, &needed, nullptr);
            if (needed < sizeof(PlatDeviceInterfaceDetail) || needed > (1u << 20))
                return false;
            std::vector<uint8_t> memory(needed + 1, 0);
            auto* detail = reinterpret_cast<PlatDeviceInterfaceDetail*>(memory.data());
            detail->cbSize = sizeof(PlatDeviceInterfaceDetail);
            if (!TheSetupApi().getDetail(m_List, &data, detail, needed, nullptr, nullptr))
                return false;
            const char* text = detail->devicePath;
            const size_t room = needed - offsetof(PlatDeviceInterfaceDetail, devicePath);
            const size_t length = strnlen(text, room);
            path->assign(text, text + length);
            path->push_back(0);
            return true;
        }
        return false;
    }

private:
    PlatGuid m_Guid;
    PlatHandle m_List = PLAT_INVALID_HANDLE_VALUE;
};

bool NameBeginsK1394(const CamDriverRow* row)
{
    return row && row->name && std::strncmp(row->name, "K1394", 5) == 0;
}

// The class whose interfaces are the devices: the driver's own when it has one, else the older driver's.
bool SelectInterfaceClass(PlatGuid* guid)
{
    const CamDriverRow* row = kCam1394DriverRow;
    if (InterfaceList(row->guid).Count() > 0) {
        *guid = row->guid;
        return true;
    }
    if (NameBeginsK1394(row) && InterfaceList(kCamOlder1394DriverRow->guid).Count() > 0) {
        *guid = kCamOlder1394DriverRow->guid;
        return true;
    }
    return false;
}

uint32_t CountNow()
{
    PlatGuid guid;
    if (!SelectInterfaceClass(&guid))
        return 0;
    return InterfaceList(guid).Count();
}

// ---- Requests -----------------------------------------------------------------------------------------------

class DeviceLock {
public:
    explicit DeviceLock(Cam1394Device* device) : m_Lock(&device->lock) { Lock(m_Lock); }
    ~DeviceLock() { Unlock(m_Lock); }
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

private:
    CamLock* m_Lock;
};

// The device's request buffer with room for `capacity` payload bytes (null when it cannot be had).
uint8_t* RequestBuffer(Cam1394Device* device, uint32_t capacity)
{
    if (device->request && Field(device->request, kCapacityAt) >= capacity)
        return device->request;
    PageFree(device->request);
    device->request = static_cast<uint8_t*>(PageAlloc(BufferBytes(capacity)));
    if (!device->request)
        return nullptr;
    std::memset(device->request, 0, kHeaderSize);
    SetField(device->request, kCapacityAt, capacity);
    return device->request;
}

// A fresh header for one attempt: every field zero but the capacity and the ones given.
void BuildHeader(uint8_t* request, uint32_t code, uint32_t low, uint32_t high, uint32_t in, uint32_t out)
{
    const uint32_t capacity = Field(request, kCapacityAt);
    std::memset(request, 0, kHeaderSize);
    SetField(request, kCapacityAt, capacity);
    SetField(request, kCodeAt, code);
    SetField(request, kAddressLowAt, low);
    SetField(request, kAddressHighAt, high);
    SetField(request, kInputSizeAt, in);
    SetField(request, kOutputSizeAt, out);
}

bool SendHeaderForm(Cam1394Device* device, uint8_t* request)
{
    const uint32_t code = Field(request, kCodeAt);
    const uint32_t capacity = Field(request, kCapacityAt);
    const uint32_t inSize = Field(request, kInputSizeAt);
    const uint32_t outSize = Field(request, kOutputSizeAt);
    if (uint64_t(inSize) > uint64_t(capacity) + kSlack || uint64_t(outSize) > uint64_t(capacity) + kSlack)
        return false;
    uint32_t returned = 0;
    const bool ok = PlatDeviceIoControl(device->handle, code, request, kHeaderSize + inSize, request,
                                        kHeaderSize + outSize, &returned, nullptr);
    if (!ok)
        return false;
    return AcceptHeaderReply(request, outSize, returned);
}

bool SendPayloadOnlyForm(Cam1394Device* device, uint8_t* request)
{
    uint32_t code = Field(request, kCodeAt);
    switch (code) {
    case kCodeGetName:
    case kCodeGetGeneration:
    case kCodeRead:
        break;
    case kCodeWrite:
        code = kCodeWritePayloadOnly;
        break;
    default:
        SetField(request, kStatusAt, kStatusNotImplemented);
        SetField(request, kSuccessAt, 0);
        return false;
    }
    const uint32_t room = Field(request, kCapacityAt) + kSlack;  // payload bytes of the buffer
    uint8_t* payload = request + kHeaderSize;
    const uint32_t high = Field(request, kAddressHighAt);
    const uint32_t low = Field(request, kAddressLowAt);
    uint32_t inSize = Field(request, kInputSizeAt);
    uint32_t outSize = Field(request, kOutputSizeAt);
    auto prefix = [&](uint32_t length) {
        const uint32_t words[7] = {0, high, low, length, 128, 0, 0};
        std::memcpy(payload, words, sizeof words);
    };
    uint32_t length = 0;
    if (code == kCodeRead) {
        length = outSize;
        if (uint64_t(length) + kPrefixSize > room && length > kPrefixSize)
            length -= kPrefixSize;
        if (uint64_t(length) + kSlack > room)
            return false;
        prefix(length);
        inSize = outSize = length + kSlack;
    } else if (code == kCodeWritePayloadOnly) {
        length = inSize;
        if (uint64_t(length) + kSlack > room)
            return false;
        std::memmove(payload + kPrefixSize, payload, length);
        prefix(length);
        std::memset(payload + kPrefixSize + length, 0, kTrailerSize);
        inSize = length + kSlack;
        outSize = kSlack;
    } else if (inSize > room || outSize > room) {
        return false;
    }
    uint32_t returned = 0;
    const bool ok = PlatDeviceIoControl(device->handle, code, payload, inSize, payload, outSize, &returned, nullptr);
    SetField(request, kCompletionAt, 1);
    if (!ok) {
        // A driver that answers busy fails the request with the busy error.
        if (PlatGetLastError() == PLAT_ERROR_BUSY)
            SetField(request, kStatusAt, kStatusBusy);
        SetField(request, kSuccessAt, 0);
        return false;
    }
    if (returned > outSize)
        return false;
    if (code == kCodeGetGeneration && returned >= 4)
        SetField(request, kGenerationAt, Word(payload));
    if (code == kCodeRead) {
        if (!AcceptPayloadOnlyReadReply(payload, length, returned, &returned))
            return false;
    } else if (code == kCodeWritePayloadOnly) {
        SetField(request, kInputSizeAt, length);
    }
    SetField(request, kStatusAt, 0);
    SetField(request, kSuccessAt, 1);
    SetField(request, kOutputSizeAt, returned);
    return true;
}

}  // namespace

// ---- Reply checks -------------------------------------------------------------------------------------------------

namespace cam1394 {

bool AcceptHeaderReply(uint8_t* request, uint32_t asked, uint32_t returned)
{
    if (Field(request, kSuccessAt) == 0)
        return false;
    if (returned < kHeaderSize || uint64_t(returned) > uint64_t(asked) + kHeaderSize) {
        SetField(request, kSuccessAt, 0);
        return false;
    }
    SetField(request, kOutputSizeAt, returned - kHeaderSize);
    return true;
}

bool AcceptPayloadOnlyReadReply(uint8_t* payload, uint32_t asked, uint32_t returned, uint32_t* delivered)
{
    if (returned < kSlack)
        return false;
    uint32_t data = returned - kSlack;
    if (data > asked)
        data = asked;
    std::memmove(payload, payload + kPrefixSize, data);
    *delivered = data;
    return true;
}

bool AcceptConfigArea(const uint8_t* payload, uint32_t returned, CamConfigArea* area)
{
    if (returned < sizeof(CamConfigArea))
        return false;
    std::memcpy(area, payload, sizeof(CamConfigArea));
    if (area->entryCount > kCamMaxConfigEntries)
        area->entryCount = kCamMaxConfigEntries;
    return true;
}

}  // namespace cam1394

bool Send1394Request(Cam1394Device* device, uint8_t* request)
{
    if (!device || !request)
        return false;
    SetField(request, kStatusAt, kStatusPreset);
    SetField(request, kSuccessAt, 0);
    device->lastStatus = kStatusPreset;
    device->lastSuccess = 0;
    SetField(request, kMagicAt, kMagic);
    SetField(request, kSequenceAt, g_Sequence.fetch_add(1, std::memory_order_relaxed));
    const bool ok = device->payloadOnly ? SendPayloadOnlyForm(device, request) : SendHeaderForm(device, request);
    device->lastStatus = Field(request, kStatusAt);
    device->lastSuccess = Field(request, kSuccessAt);
    return ok && device->lastSuccess != 0;
}

uint32_t Get1394LastStatus(const Cam1394Device* device)
{
    return device ? device->lastStatus : 0;
}

namespace {

// Sends the request built by `build` until it succeeds: busy answers without limit, other failures 21 times in
// all, with a random pause after each. A read that delivers nothing counts as failed.
template <typename Build>
bool SendWithRetries(Cam1394Device* device, uint8_t* request, bool needsBytes, Build build)
{
    uint32_t retries = 0;
    for (;;) {
        build();
        if (Send1394Request(device, request) && (!needsBytes || Field(request, kOutputSizeAt) > 0))
            return true;
        if (device->lastStatus == kStatusBusy && device->lastSuccess == 0) {
            retries = 0;
        } else if (++retries > 20) {
            CamTrace("1394 link: request 0x%08X failed, status 0x%08X\n", Field(request, kCodeAt), device->lastStatus);
            return false;
        }
        RandomPause();
    }
}

int ReadBlock(Cam1394Device* device, uint32_t code, uint32_t low, uint32_t high, void* buffer, uint32_t length)
{
    if (!device || (length && !buffer))
        return 0;
    if (length == 0)
        return 1;
    DeviceLock guard(device);
    uint8_t* request = RequestBuffer(device, kChunk);
    if (!request)
        return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    uint64_t address = uint64_t(high) << 32 | low;
    while (length > 0) {
        const uint32_t chunk = length < kChunk ? length : kChunk;
        const bool ok = SendWithRetries(device, request, true, [&] {
            BuildHeader(request, code, uint32_t(address), uint32_t(address >> 32) & 0xFFFF, 0, chunk);
        });
        if (!ok)
            return 0;
        uint32_t got = Field(request, kOutputSizeAt);
        if (got > chunk)
            got = chunk;
        std::memcpy(out, request + kHeaderSize, got);
        out += got;
        address += got;
        length -= got;
    }
    return 1;
}

}  // namespace

// ---- The link's operations ------------------------------------------------------------------------------------

uint32_t Count1394Devices()
{
    static std::mutex lock;
    static double lastTime = -1;
    static uint32_t lastCount = 0;
    std::lock_guard<std::mutex> guard(lock);
    const double now = TimeNow();
    if (lastTime >= 0 && now <= lastTime)
        return lastCount;
    lastCount = CountNow();
    lastTime = now;
    return lastCount;
}

bool Get1394DeviceName(uint32_t index, char* path, uint32_t capacity)
{
    if (!path || capacity == 0)
        return false;
    PlatGuid guid;
    if (!SelectInterfaceClass(&guid))
        return false;
    std::vector<char> name;
    if (!InterfaceList(guid).Path(index, &name) || name.size() > capacity)
        return false;
    std::memcpy(path, name.data(), name.size());
    return true;
}

Cam1394Device* Open1394Device(const CamDriverRow* row, const char* path)
{
    if (!path)
        return nullptr;
    uint32_t platform = 0, osCode = 0;
    if (!GetOsVersionCode(&platform, &osCode))
        return nullptr;
    auto* device = static_cast<Cam1394Device*>(PageAllocZeroed(sizeof(Cam1394Device)));
    if (!device)
        return nullptr;
    device->platform = platform;
    device->osCode = osCode;
    device->row = row;
    // No access rights asked, no sharing; the handle is not overlapped.
    device->handle = PlatCreateDeviceFile(path, 0, 0, 0);
    if (device->handle == PLAT_INVALID_HANDLE_VALUE) {
        CamTrace("1394 link: cannot open %s (error %u)\n", path, PlatGetLastError());
        PageFree(device);
        return nullptr;
    }
    if (NameBeginsK1394(row)) {
        uint8_t name[16] = {};
        uint32_t returned = 0;
        if (PlatDeviceIoControl(device->handle, kCodeGetName, name, sizeof name, name, sizeof name, &returned,
                                nullptr) &&
            returned >= 7 && std::memcmp(name, "QRL1394", 7) == 0)
            device->payloadOnly = 1;
    }
    device->lastStatus = 0;
    device->lastSuccess = 1;
    return device;
}

bool Close1394Device(Cam1394Device* device)
{
    if (!device)
        return false;
    PageFree(device->request);
    PlatCloseHandle(device->handle);
    PageFree(device);
    return true;
}

bool Is1394PayloadOnly(const Cam1394Device* device)
{
    return device && device->payloadOnly;
}

int Read1394Block(Cam1394Device* device, uint32_t low, uint32_t high, void* buffer, uint32_t length)
{
    return ReadBlock(device, kCodeRead, low, high, buffer, length);
}

int FastRead1394Block(Cam1394Device* device, uint32_t low, uint32_t high, void* buffer, uint32_t length)
{
    return ReadBlock(device, kCodeFastRead, low, high, buffer, length);
}

int Write1394Block(Cam1394Device* device, uint32_t low, uint32_t high, const void* buffer, uint32_t length)
{
    if (!device || (length && !buffer))
        return 0;
    if (length == 0)
        return 1;
    DeviceLock guard(device);
    uint8_t* request = RequestBuffer(device, kChunk);
    if (!request)
        return 0;
    auto* in = static_cast<const uint8_t*>(buffer);
    uint64_t address = uint64_t(high) << 32 | low;
    while (length > 0) {
        const uint32_t chunk = length < kChunk ? length : kChunk;
        // The chunk is copied again for each attempt: the payload-only form moves it within the buffer.
        const bool ok = SendWithRetries(device, request, false, [&] {
            BuildHeader(request, kCodeWrite, uint32_t(address), uint32_t(address >> 32) & 0xFFFF, chunk, 0);
            std::memcpy(request + kHeaderSize, in, chunk);
        });
        if (!ok)
            return 0;
        in += chunk;
        address += chunk;
        length -= chunk;
    }
    return 1;
}

int Read1394ConfigurationArea(Cam1394Device* device, CamConfigArea* area)
{
    if (!device || !area)
        return 0;
    DeviceLock guard(device);
    uint8_t* request = RequestBuffer(device, kChunk);
    if (!request)
        return 0;
    constexpr uint32_t kAreaSize = sizeof(CamConfigArea);
    uint32_t retries = 0;
    for (;;) {
        BuildHeader(request, kCodeConfigArea, 0, 0, 0, kAreaSize);
        if (Send1394Request(device, request) &&
            AcceptConfigArea(request + kHeaderSize, Field(request, kOutputSizeAt), area))
            return 1;
        if (device->lastStatus == kStatusBusy && device->lastSuccess == 0) {
            retries = 0;
        } else if (++retries > 20) {
            CamTrace("1394 link: the configuration area cannot be read, status 0x%08X\n", device->lastStatus);
            return 0;
        }
        RandomPause();
    }
}
