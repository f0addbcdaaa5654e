// Camera discovery and connections: the registry of connections by device name, the link dispatch, opening and
// re-opening a connection's device and the liveness test.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "KCam1394Link.h"
#include "KCamConnection.h"
#include "KCamFileLink.h"
#include "KCamMailbox.h"
#include "KCamUsbLink.h"
#include "PlatformTime.h"

#if defined(__SANITIZE_ADDRESS__)
#define CAM_LEAK_CHECKER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CAM_LEAK_CHECKER 1
#endif
#endif
#ifdef CAM_LEAK_CHECKER
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// The link table: a name's link part gives the kind by its position.
const char* const kLinkParts[] = {"NONE", "1394", "USB", "FILE", "TCP"};
constexpr uint32_t kLinkCount = sizeof(kLinkParts) / sizeof(kLinkParts[0]);

// The connection pool: chunks of ten records and room for six and a half chunks, which serve 54 connections.
constexpr size_t kPoolChunk = 10 * sizeof(CamConnection);
constexpr size_t kPoolLimit = 65 * sizeof(CamConnection);

struct Registry {
    CamLock lock;
    CamList* all;
    CamList* open;
    CamNameTable* names;
    CamPool* pool;
    CamConnection* last;  // the last connection found by name
    uint32_t lastCount;
    double lastCountTime;
    bool counted;
};

Registry* g_Registry = nullptr;
std::once_flag g_RegistryOnce;

Registry* TheRegistry()
{
    return InitCameraRegistry() ? g_Registry : nullptr;
}

// Closes the device of a connection; `use` is held exclusively.
void CloseDevice(CamConnection* c)
{
    if (c->device1394)
        Close1394Device(c->device1394);
    if (c->deviceUsb)
        CloseUsbDevice(c->deviceUsb);
    if (c->fileDevice)
        CloseFileDevice(c->fileDevice);
    c->device1394 = nullptr;
    c->deviceUsb = nullptr;
    c->fileDevice = nullptr;
}

// Opens the connection's device and reads its configuration area. The connection lock is held, and `use`
// exclusively, so that no transfer sees the device or the area half made.
bool OpenDeviceExclusive(CamConnection* c)
{
    c->lastResult = 0;
    if (c->driverRow) {
        if (c->linkKind == kCamLinkUsb)
            c->deviceUsb = OpenUsbDevice(c->driverRow, c->devicePart);
        else
            c->device1394 = Open1394Device(c->driverRow, c->devicePart);
    } else if (c->linkKind == kCamLinkFile) {
        c->fileDevice = OpenFileDevice(c->devicePart);
    }
    c->deviceIndex = FindCameraDeviceIndex(c->name);
    ResetCamConfigArea(&c->config);
    if (c->device1394)
        Read1394ConfigurationArea(c->device1394, &c->config);
    else if (c->deviceUsb)
        ReadConfigurationArea(c->deviceUsb, &c->config);
    return c->device1394 || c->deviceUsb || c->fileDevice;
}

bool OpenDevice(CamConnection* c)
{
    std::unique_lock<std::shared_mutex> use(c->use);
    return OpenDeviceExclusive(c);
}

bool SameName(const CamConnection* c, const char* name)
{
    return std::strcmp(c->name, name) == 0;
}

// Records live in the pool's own pages, which the leak checker does not scan: what they hold is reachable.
void WatchRecord(CamConnection* c, bool watch)
{
#ifdef CAM_LEAK_CHECKER
    if (watch)
        __lsan_register_root_region(c, sizeof(*c));
    else
        __lsan_unregister_root_region(c, sizeof(*c));
#else
    (void)c;
    (void)watch;
#endif
}

// Gives a record back to the pool.
void Discard(Registry* r, CamConnection* c)
{
    WatchRecord(c, false);
    DestroyLock(&c->lock);
    c->~CamConnection();
    PoolFree(r->pool, c);
}

// The connection of a name: the cached one, one of the name table, or a new one.
CamConnection* GetConnection(const char* name)
{
    Registry* r = TheRegistry();
    const size_t length = std::strlen(name);
    if (!r || length == 0 || length > kCamMaxDeviceName)
        return nullptr;
    const auto keyLength = static_cast<uint32_t>(length + 1);
    Lock(&r->lock);
    CamConnection* c = r->last && SameName(r->last, name) ? r->last : nullptr;
    if (!c)
        c = static_cast<CamConnection*>(NameTableFind(r->names, name, keyLength));
    bool created = false;
    if (!c) {
        uint32_t platform = 0, code = 0;
        const uint32_t kind = GetLinkKind(name);
        void* memory = nullptr;
        if (GetOsVersionCode(&platform, &code) && kind != kCamLinkNone)
            memory = PoolAllocZeroed(r->pool);
        if (memory) {
            c = new (memory) CamConnection{};
            WatchRecord(c, true);
            std::memcpy(c->name, name, length + 1);
            c->platformCode = 7;
            c->osVersionCode = code;
            c->devicePart = std::strchr(c->name, '@') + 1;
            c->linkKind = kind;
            c->driverRow = kind == kCamLink1394 ? kCam1394DriverRow : kind == kCamLinkUsb ? kCamUsbDriverRow : nullptr;
            c->deviceIndex = -1;
            ResetCamConfigArea(&c->config);
            if (!CreateLock(&c->lock) || !NameTableInsert(r->names, name, keyLength, c)) {
                Discard(r, c);
                c = nullptr;
            } else if (!ListPushBack(r->all, c)) {
                NameTableRemove(r->names, name, keyLength);
                Discard(r, c);
                c = nullptr;
            } else {
                created = true;
            }
        }
    }
    if (c)
        r->last = c;
    Unlock(&r->lock);
    if (created) {
        // Looked up outside the registry lock: it enumerates the links.
        const int32_t index = FindCameraDeviceIndex(c->name);
        Lock(&c->lock);
        if (!IsCameraDeviceOpen(c))
            c->deviceIndex = index;
        Unlock(&c->lock);
    }
    return c;
}

// Opens a connection by name: its device when none is open yet, else the liveness test.
CamConnection* OpenByName(const char* name)
{
    CamConnection* c = GetConnection(name);
    if (!c)
        return nullptr;
    Lock(&c->lock);
    bool ok;
    if (IsCameraDeviceOpen(c)) {
        Unlock(&c->lock);
        ok = IsCameraAlive(c);
        Lock(&c->lock);
    } else {
        ok = OpenDevice(c);
    }
    if (ok && c->openCount++ == 0) {
        Registry* r = TheRegistry();
        Lock(&r->lock);
        ListPushBack(r->open, c);
        Unlock(&r->lock);
    }
    Unlock(&c->lock);
    return ok ? c : nullptr;
}

}  // namespace

bool InitCameraRegistry()
{
    std::call_once(g_RegistryOnce, [] {
        auto* r = new (std::nothrow) Registry{};
        if (!r)
            return;
        CreateLock(&r->lock);
        r->all = ListCreate();
        r->open = ListCreate();
        r->names = NameTableCreate(1, kCamMaxDeviceName + 1, true);
        r->pool = PoolCreate(sizeof(CamConnection), kPoolChunk, kPoolChunk, kPoolLimit);
        if (!r->all || !r->open || !r->names || !r->pool) {
            CamTrace("InitCameraRegistry: cannot create the registry\n");
            return;  // kept (and leaked) so that nothing half made is used
        }
        g_Registry = r;
    });
    return g_Registry != nullptr;
}

uint32_t GetLinkKind(const char* name)
{
    if (!name)
        return kCamLinkNone;
    const char* at = std::strchr(name, '@');
    if (!at || std::strlen(name) > kCamMaxDeviceName)
        return kCamLinkNone;
    const auto partLength = static_cast<size_t>(at - name);
    for (uint32_t kind = 1; kind < kLinkCount; ++kind)
        if (std::strlen(kLinkParts[kind]) == partLength && std::memcmp(kLinkParts[kind], name, partLength) == 0)
            return kind;
    return kCamLinkNone;
}

uint32_t CountCameraDevices()
{
    Registry* r = TheRegistry();
    if (!r)
        return 0;
    const double now = TimeNow();
    Lock(&r->lock);
    if (r->counted && !(now > r->lastCountTime)) {
        const uint32_t count = r->lastCount;
        Unlock(&r->lock);
        return count;
    }
    Unlock(&r->lock);
    const uint32_t count = Count1394Devices() + CountUsbDevices() + CountFileDevices();
    Lock(&r->lock);
    r->lastCount = count;
    r->lastCountTime = now;
    r->counted = true;
    Unlock(&r->lock);
    return count;
}

bool GetCameraDeviceName(uint32_t index, char* name, uint32_t capacity)
{
    if (!name || capacity == 0 || !InitCameraRegistry())
        return false;
    char part[kCamMaxDeviceName + 1];
    const char* link = nullptr;
    const uint32_t count1394 = Count1394Devices();
    if (index < count1394) {
        if (!Get1394DeviceName(index, part, sizeof(part)))
            return false;
        link = "1394";
    } else {
        index -= count1394;
        const uint32_t countUsb = CountUsbDevices();
        if (index < countUsb) {
            if (!GetUsbDeviceName(index, part, sizeof(part)))
                return false;
            link = "USB";
        } else {
            index -= countUsb;
            const char* path = index < CountFileDevices() ? GetFileDeviceName(index) : nullptr;
            if (!path)
                return false;
            CamStrCopy(part, sizeof(part), path);
            link = "FILE";
        }
    }
    const size_t need = std::strlen(link) + 1 + std::strlen(part) + 1;
    if (need > capacity || need > kCamMaxDeviceName + 1)
        return false;
    CamStrCopy(name, capacity, link);
    CamStrAppend(name, capacity, "@");
    CamStrAppend(name, capacity, part);
    return true;
}

uint32_t ListCameraDeviceNames(char* buffer, uint32_t* size)
{
    if (!size || (!buffer && *size != 0))
        return 0;
    const uint32_t count = CountCameraDevices();
    uint32_t need = 1;
    uint32_t used = 0;  // bytes of the buffer filled, without the terminating zero
    bool fits = buffer != nullptr;
    if (buffer)
        buffer[0] = 0;
    uint32_t listed = 0;
    for (uint32_t i = 0; i < count; ++i) {
        char name[kCamMaxDeviceName + 1];
        if (!GetCameraDeviceName(i, name, sizeof(name)))
            continue;
        const auto length = static_cast<uint32_t>(std::strlen(name)) + (listed > 0 ? 1 : 0);
        need += length;
        ++listed;
        if (fits && used + length + 1 <= *size) {
            if (listed > 1)
                buffer[used] = '\n';
            std::memcpy(buffer + used + (listed > 1 ? 1 : 0), name, std::strlen(name) + 1);
            used += length;
        } else {
            fits = false;
        }
    }
    *size = need;
    return listed;
}

int32_t FindCameraDeviceIndex(const char* name)
{
    if (!name || !*name)
        return -1;
    const uint32_t count = CountCameraDevices();
    for (uint32_t i = 0; i < count; ++i) {
        char candidate[kCamMaxDeviceName + 1];
        if (GetCameraDeviceName(i, candidate, sizeof(candidate)) && std::strcmp(candidate, name) == 0)
            return static_cast<int32_t>(i);
    }
    return -1;
}

CamConnection* OpenCamera(const char* name)
{
    if (!InitCameraRegistry())
        return nullptr;
    if (name)
        return OpenByName(name);
    const uint32_t count = CountCameraDevices();
    for (uint32_t i = 0; i < count; ++i) {
        char candidate[kCamMaxDeviceName + 1];
        if (!GetCameraDeviceName(i, candidate, sizeof(candidate)))
            continue;
        if (CamConnection* c = OpenByName(candidate))
            return c;
    }
    return nullptr;
}

bool CloseCamera(CamConnection* c)
{
    Registry* r = TheRegistry();
    if (!c || !r)
        return false;
    Lock(&c->lock);
    const bool wasOpen = c->openCount > 0;
    if (wasOpen && --c->openCount == 0) {
        Lock(&r->lock);
        ListRemoveValue(r->open, c);
        Unlock(&r->lock);
    }
    Unlock(&c->lock);
    return wasOpen;
}

bool IsCameraAlive(CamConnection* c)
{
    if (!c)
        return false;
    if (c->lastResult != 0 && TimeNow() < c->lastResultTime)
        return c->lastResult != 0;
    for (int attempt = 1;; ++attempt) {
        char rom[4] = {};
        if (ReadCameraBlock(c, 0xF0000404, 0xFFFF, rom, 4, 0) && std::memcmp(rom, "1394", 4) == 0)
            return true;
        c->lastResult = 0;
        if (attempt == 3) {
            CamTrace("IsCameraAlive: %s is not alive\n", c->name);
            return false;
        }
        CamWaitSleep(500);
        const bool reopened = ReopenCamera(c);
        CamTrace("IsCameraAlive: %s did not answer, re-opened it: %s\n", c->name, reopened ? "yes" : "no");
    }
}

bool ReopenCamera(CamConnection* c)
{
    if (!c)
        return false;
    Lock(&c->lock);
    bool ok;
    {
        std::unique_lock<std::shared_mutex> use(c->use);
        CloseDevice(c);
        ok = OpenDeviceExclusive(c);
    }
    Unlock(&c->lock);
    return ok;
}

bool IsCameraDeviceOpen(CamConnection* c)
{
    if (!c)
        return false;
    std::shared_lock<std::shared_mutex> use(c->use);
    return c->device1394 || c->deviceUsb || c->fileDevice;
}

bool FindCameraConfigEntry(CamConnection* c, uint32_t type, CamConfigEntry* entry)
{
    if (!c)
        return false;
    std::shared_lock<std::shared_mutex> use(c->use);
    const CamConfigArea& area = c->config;
    if (!area.areaValid)
        return false;
    const uint32_t count = area.entryCount < kCamMaxConfigEntries ? area.entryCount : kCamMaxConfigEntries;
    for (uint32_t i = 0; i < count; ++i) {
        if (area.entries[i].type == type) {
            if (entry)
                *entry = area.entries[i];
            return true;
        }
    }
    return false;
}

// ---- The time source of the waits --------------------------------------------------------------------------

namespace {

std::atomic<uint32_t> g_Pace{0xFFFFFFFFu};  // all bits: not read from the environment yet

uint32_t Pace()
{
    uint32_t pace = g_Pace.load();
    if (pace == 0xFFFFFFFFu) {
        pace = 100;
        if (const char* text = std::getenv("LUMO_CAMERA_PACE")) {
            char* end = nullptr;
            const unsigned long v = std::strtoul(text, &end, 10);
            if (end != text && *end == 0 && v <= 100)
                pace = static_cast<uint32_t>(v);
        }
        uint32_t expected = 0xFFFFFFFFu;
        if (!g_Pace.compare_exchange_strong(expected, pace))
            pace = expected;
    }
    return pace;
}

}  // namespace

void CamWaitSleep(uint32_t milliseconds)
{
    const uint64_t scaled = static_cast<uint64_t>(milliseconds) * Pace() / 100;
    PlatSleep(static_cast<uint32_t>(scaled));
}

void SetCameraWaitPace(uint32_t percent)
{
    g_Pace = percent > 100 ? 100 : percent;
}
