// The USB link: the library bound at run time by name, the camera's devices by index, and register blocks
// moved as an address request, a length request and a bulk transfer.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>

#include "CamUsbReplies.h"
#include "KCamLinkSupport.h"
#include "KCamUsbLink.h"
#include "OstraUsb.h"
#include "PlatformTime.h"
#include "PlatformWindow.h"

namespace {

// The interface class the USB kernel driver publishes for the camera.
constexpr PlatGuid kCameraGuid = {0x3219D400, 0xE372, 0x4B5D, {0xAB, 0x0F, 0xD2, 0x59, 0x4C, 0xD9, 0x08, 0x4D}};
constexpr char kNamePrefix[] = "tool_OstraUSB";
constexpr uint32_t kNamePrefixLength = 13;
constexpr uint32_t kAttempts = 6;
constexpr uint32_t kStallRetries = 20;
constexpr uint32_t kControlWaitMs = 100;
constexpr uint32_t kBulkWaitMs = 500;
constexpr uint32_t kStallPauseMs = 500;
// A request still running after its wait has failed, but it owns its buffers until it ends: it gets this long
// more before the handle is closed under it, which aborts it.
constexpr uint32_t kLateWaitMs = 15000;
// How long a transfer waits for another program's transfer on the same camera.
constexpr uint32_t kDeviceMutexWaitMs = 60000;
constexpr uint32_t kStalled = OSTRA_USB_STALL_PID;
constexpr uint32_t kPending = 997;

// ---- Binding table --------------------------------------------------------------------------------------------

#define CAM_OSTRA_EXPORTS(X)                                                                                         \
    X(OstraOpenHandle) X(OstraOpenGuidHandle) X(OstraCloseHandle) X(OstraBulkTransfer) X(OstraControlTransfer)       \
    X(OstraInterruptTransfer) X(OstraIsochronousTransfer) X(OstraAsynchBulkTransfer) X(OstraAsynchControlTransfer)  \
    X(OstraAsynchInterruptTransfer) X(OstraAsynchIsochronousTransfer) X(OstraGetDeviceDescriptor)                    \
    X(OstraGetConfigDescriptor) X(OstraGetInterfaceDescriptor) X(OstraGetEndpointDescriptor) X(OstraGetDriverVersion) \
    X(OstraClearStall) X(OstraCheckAsynchCompletion) X(OstraGetLanguageIds) X(OstraGetNumberOfLanguageIds)           \
    X(OstraGetStringDescriptor) X(OstraGetStringDescriptorLength) X(OstraSelectInterface) X(OstraUsbTrace)          \
    X(OstraUsbPrintf) X(OstraGetGuid) X(OstraGetLinkname) X(OstraRegisterDeviceNotification)                         \
    X(OstraUnregisterDeviceNotification) X(OstraSetReadTraceOwnerKey) X(OstraReleaseReadTraceOwnerKey)               \
    X(OstraClearTraceBuffer)

struct Binding {
#define CAM_OSTRA_MEMBER(name) decltype(&::name) name;
    CAM_OSTRA_EXPORTS(CAM_OSTRA_MEMBER)
#undef CAM_OSTRA_MEMBER
};
static_assert(sizeof(Binding) == 32 * sizeof(void*), "32 entry points");

// Substitutes for what the library does not have: transfers and descriptors answer the error 1.
template <typename F>
struct Substitute;
template <typename R, typename... A>
struct Substitute<R (*)(A...)> {
    static R Call(A...)
    {
        if constexpr (std::is_pointer_v<R>)
            return nullptr;
        else
            return R(1);
    }
};
template <typename... A>
struct Substitute<void (*)(A...)> {
    static void Call(A...) {}
};

template <typename R, typename... A>
struct Substitute<R (*)(A..., ...)> {
    static R Call(A..., ...) { return R(1); }
};

PlatHandle NoHandle(const char*, uint32_t, int32_t) { return PLAT_INVALID_HANDLE_VALUE; }
PlatHandle NoGuidHandle(const PlatGuid*, uint32_t, int32_t) { return PLAT_INVALID_HANDLE_VALUE; }
int32_t NoClose(PlatHandle) { return 0; }
uint32_t NoPrintf(const char*, ...) { return 1; }
void* NoRegistration(PlatWindow*, const void*, uint32_t) { return nullptr; }
int32_t NoUnregistration(void*) { return 0; }
int32_t NoOwnerKey(uint32_t, int32_t) { return 0; }

// (The printf-style export's format attribute does not travel into a template argument.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-attributes"
Binding SubstituteTable()
{
    Binding b{};
#define CAM_OSTRA_SUBSTITUTE(name) b.name = &Substitute<decltype(&::name)>::Call;
    CAM_OSTRA_EXPORTS(CAM_OSTRA_SUBSTITUTE)
#undef CAM_OSTRA_SUBSTITUTE
    b.OstraOpenHandle = NoHandle;
    b.OstraOpenGuidHandle = NoGuidHandle;
    b.OstraCloseHandle = NoClose;
    b.OstraUsbPrintf = NoPrintf;
    b.OstraRegisterDeviceNotification = NoRegistration;
    b.OstraUnregisterDeviceNotification = NoUnregistration;
    b.OstraSetReadTraceOwnerKey = NoOwnerKey;
    return b;
}
#pragma GCC diagnostic pop

std::mutex g_BindLock;
std::atomic<bool> g_Bound{false};
Binding g_Usb{};

// The table, once bound.
const Binding& Usb() { return g_Usb; }

}  // namespace

bool BindUsbLibrary()
{
    if (g_Bound.load(std::memory_order_acquire))
        return true;
    std::lock_guard<std::mutex> hold(g_BindLock);
    if (g_Bound.load(std::memory_order_relaxed))
        return true;
    g_Usb = Binding{};
    PlatModule module = PlatLoadLibrary("OstraUsb.dll");
    if (!module)
        return false;
    g_Usb = SubstituteTable();
#define CAM_OSTRA_BIND(name)                                                                     \
    if (void* entry = PlatGetProcAddress(module, #name))                                         \
        g_Usb.name = reinterpret_cast<decltype(&::name)>(entry);
    CAM_OSTRA_EXPORTS(CAM_OSTRA_BIND)
#undef CAM_OSTRA_BIND
    // The library stays loaded for the life of the process.
    g_Bound.store(true, std::memory_order_release);
    return true;
}

uint32_t CountUsbDevices()
{
    if (!BindUsbLibrary())
        return 0;
    uint32_t count = 0;
    for (;;) {
        PlatHandle h = Usb().OstraOpenGuidHandle(&kCameraGuid, count, 0);
        if (h == PLAT_INVALID_HANDLE_VALUE || !h)
            break;
        Usb().OstraCloseHandle(h);
        ++count;
    }
    return count;
}

bool GetUsbDeviceName(uint32_t index, char* part, uint32_t capacity)
{
    if (!g_Bound.load(std::memory_order_acquire) || !part)
        return false;
    char digits[12];
    CamFormatUnsigned(digits, sizeof digits, index);
    if (kNamePrefixLength + CamStrLength(digits) + 1 > capacity)
        return false;
    CamStrCopy(part, capacity, kNamePrefix);
    CamStrAppend(part, capacity, digits);
    return true;
}

bool ParseUsbDeviceIndex(const char* part, uint32_t* index)
{
    if (!part || !index || strncmp(part, kNamePrefix, kNamePrefixLength) != 0)
        return false;
    const char* p = part + kNamePrefixLength;
    if (!*p)
        return false;
    uint64_t v = 0;
    for (; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        v = v * 10 + static_cast<uint64_t>(*p - '0');
        if (v > 0xFFFFFFFFull)
            return false;
    }
    *index = static_cast<uint32_t>(v);
    return true;
}

// ---- Device record ----------------------------------------------------------------------------------------------

enum class CamUsbKind : uint32_t { None, ReadAddress, InLength, WriteAddress, OutLength, ReadInteger, Bulk };

// The last request made on a device.
struct CamUsbTransferBlock {
    uint8_t requestType;
    uint8_t request;
    uint16_t value;
    uint16_t index;
    uint32_t direction;  // 1 host to device, 0 device to host
    uint32_t dataLength;
    CamUsbKind kind;
    uint32_t addressHigh;
    uint32_t addressLow;
    uint32_t lengthOrValue;
    uint32_t integerResult;
    uint32_t bulkPipe;
    uint32_t bulkLength;
};

struct CamUsbDevice {
    CamLock lock;  // zeroed: the spin byte alone
    uint32_t platform;
    uint32_t osCode;
    PlatHandle handle;
    const CamDriverRow* row;
    uint32_t lastStatus;
    uint32_t lastSuccess;
    void* notification;
    PlatHWND window;
    CamUsbTransferBlock transfer;
    PlatHandle event;        // manual-reset, for the overlapped requests
    PlatHandle sharedMutex;  // named after the device part: one transfer at a time from all processes
    uint8_t control[8];
    uint8_t data[kCamUsbMaxChunk];
};

namespace {

intptr_t HiddenWindowProcedure(PlatHWND, uint32_t, uintptr_t, intptr_t) { return 0; }

// The hidden "STATIC" window "KUSB" that device notifications are registered for; it is never shown.
PlatHWND CreateHiddenWindow()
{
    PlatWindowDesc desc;
    desc.title = u"KUSB";
    desc.className = "STATIC";
    desc.style = 0xCF0000;
    desc.x = 0;
    desc.y = 0;
    desc.width = 16;
    desc.height = 16;
    desc.messageOnly = true;
    desc.procedure = HiddenWindowProcedure;
    return PlatCreateWindow(desc);
}

void FreeDevice(CamUsbDevice* d)
{
    if (d->event)
        PlatCloseHandle(d->event);
    if (d->sharedMutex)
        PlatCloseHandle(d->sharedMutex);
    free(d);
}

}  // namespace

CamUsbDevice* OpenUsbDevice(const CamDriverRow* row, const char* part)
{
    if (!g_Bound.load(std::memory_order_acquire))
        return nullptr;
    PlatHWND window = CreateHiddenWindow();
    if (!window)
        return nullptr;
    uint32_t platform = 0, code = 0, index = 0;
    auto* d = static_cast<CamUsbDevice*>(calloc(1, sizeof(CamUsbDevice)));
    if (!GetOsVersionCode(&platform, &code) || !ParseUsbDeviceIndex(part, &index) || !d) {
        free(d);
        PlatDestroyWindow(window);
        return nullptr;
    }
    d->platform = platform;
    d->osCode = code;
    d->window = window;
    d->row = row;
    d->handle = PLAT_INVALID_HANDLE_VALUE;
    const std::string mutexName = std::string("KUSB ") + part;
    d->event = PlatCreateEvent(true, false, nullptr);
    d->sharedMutex = PlatCreateMutex(false, mutexName.c_str());
    if (d->event && d->sharedMutex)
        d->handle = Usb().OstraOpenGuidHandle(&kCameraGuid, index, 0);
    if (d->handle == PLAT_INVALID_HANDLE_VALUE || !d->handle) {
        FreeDevice(d);
        PlatDestroyWindow(window);
        return nullptr;
    }
    // The filter: size 32, device type 5 (device interface), reserved 0, the camera's class.
    uint8_t filter[32] = {};
    const uint32_t head[3] = {32, 5, 0};
    memcpy(filter, head, sizeof head);
    memcpy(filter + 12, &kCameraGuid, sizeof kCameraGuid);
    d->notification = Usb().OstraRegisterDeviceNotification(window, filter, 0);
    if (!d->notification) {
        Usb().OstraCloseHandle(d->handle);
        FreeDevice(d);
        PlatDestroyWindow(window);
        return nullptr;
    }
    d->lastStatus = 0;
    d->lastSuccess = 1;
    return d;
}

bool CloseUsbDevice(CamUsbDevice* device)
{
    if (!device || !g_Bound.load(std::memory_order_acquire))
        return false;
    // The window stays (it may belong to another thread); its registration goes with the device.
    Usb().OstraUnregisterDeviceNotification(device->notification);
    const bool closed = device->handle != PLAT_INVALID_HANDLE_VALUE && Usb().OstraCloseHandle(device->handle) != 0;
    FreeDevice(device);
    return closed;
}

// ---- Transfers -----------------------------------------------------------------------------------------------

namespace {

// The camera answers with its own interface class on the open handle.
bool Connected(CamUsbDevice* d)
{
    if (!g_Bound.load(std::memory_order_acquire) || d->handle == PLAT_INVALID_HANDLE_VALUE)
        return false;
    PlatGuid guid{};
    if (Usb().OstraGetGuid(d->handle, &guid) != 0)
        return false;
    return guid.data1 == kCameraGuid.data1 && guid.data2 == kCameraGuid.data2 && guid.data3 == kCameraGuid.data3 &&
           guid.data4[0] == kCameraGuid.data4[0];
}

// A request that did not end within its wait: it still owns the buffers, so wait on; if it never ends, close
// the handle under it (which aborts it) so that nothing is written into the record afterwards.
void Settle(CamUsbDevice* d, PlatOverlapped* overlapped)
{
    if (PlatHasOverlappedIoCompleted(overlapped) || PlatWaitForSingleObject(d->event, kLateWaitMs) == PLAT_WAIT_OBJECT_0)
        return;
    Usb().OstraCloseHandle(d->handle);
    d->handle = PLAT_INVALID_HANDLE_VALUE;
}

// Waits for an overlapped request that started and answers its result.
uint32_t Finish(CamUsbDevice* d, PlatOverlapped* overlapped, uint32_t waitMs, uint32_t* moved)
{
    PlatWaitForSingleObject(d->event, waitMs);
    uint32_t bytes = 0;
    uint32_t r = Usb().OstraCheckAsynchCompletion(d->handle, &bytes, overlapped);
    if (r == kPending)
        Settle(d, overlapped);
    *moved = r == 0 ? bytes : 0;
    return r;
}

void TraceControlFailure(CamUsbDevice* d, uint32_t error)
{
    CamTrace("Failed Control Transfer 0x%x\r\n", error);
    if (error < 0xE0100001 || error > 0xE0100030)
        return;
    switch (error & 0xFF) {
    case 1: case 2: case 3: case 4: case 6: case 7:
        CamTrace("HW USB protocol error, reboot camera\r\n");
        break;
    case 5:
        CamTrace("USB Device not responding addr 0x%04x 0x%08x, re-start program\r\n", d->transfer.addressHigh,
                 d->transfer.addressLow);
        break;
    case 8: case 12:
        CamTrace("USB Device data overrun\r\n");
        break;
    case 9: case 13:
        CamTrace("USB Device data underrun\r\n");
        break;
    case 48:
        CamTrace("USB Control Endpoint halted\r\n");
        break;
    default:
        break;
    }
}

// One vendor request (type 0x40) with its data stage in d->control; 0 or the error.
uint32_t Control(CamUsbDevice* d, CamUsbKind kind, uint8_t request, uint16_t value, uint16_t index,
                 bool hostToDevice, uint32_t length, uint32_t* moved)
{
    CamUsbTransferBlock& t = d->transfer;
    t.requestType = 0x40;
    t.request = request;
    t.value = value;
    t.index = index;
    t.direction = hostToDevice ? 1 : 0;
    t.dataLength = length;
    t.kind = kind;
    *moved = 0;
    PlatResetEvent(d->event);
    PlatOverlapped overlapped{};
    overlapped.event = d->event;
    uint32_t bytes = 0;
    uint32_t r = Usb().OstraAsynchControlTransfer(d->handle, 0x40, request, value, index, hostToDevice ? 1 : 0,
                                                  length, length ? d->control : nullptr, &bytes, &overlapped);
    if (r == 0 || r == kPending)
        r = Finish(d, &overlapped, kControlWaitMs, moved);
    if (r != 0) {
        TraceControlFailure(d, r);
        return r;
    }
    if (kind == CamUsbKind::ReadInteger && *moved >= 4) {
        uint32_t v;
        memcpy(&v, d->control, 4);
        t.integerResult = v;
    }
    return 0;
}

uint32_t AddressRequest(CamUsbDevice* d, bool forWrite, uint32_t low, uint32_t high)
{
    d->transfer.addressHigh = high;
    d->transfer.addressLow = low;
    UsbAddressBytes(low, high, d->control);
    uint32_t moved = 0;
    return Control(d, forWrite ? CamUsbKind::WriteAddress : CamUsbKind::ReadAddress, forWrite ? 1 : 0, 0, 0, true, 6,
                   &moved);
}

uint32_t LengthRequest(CamUsbDevice* d, bool forWrite, uint32_t length)
{
    d->transfer.lengthOrValue = length;
    uint32_t moved = 0;
    return Control(d, forWrite ? CamUsbKind::OutLength : CamUsbKind::InLength, forWrite ? 5 : 4,
                   static_cast<uint16_t>(length >> 16), static_cast<uint16_t>(length & 0xFFFF), true, 0, &moved);
}

struct StageTexts {
    const char* stalled;
    const char* exhausted;
    const char* failed;
};

const StageTexts& TextsOf(CamUsbStage stage)
{
    static const StageTexts texts[] = {
        {"BO 1 Endpoint %d stalled, restarting...\r\n", "USB Bulk Transfer error 0x%x\r\n",
         "USB Bulk Transfer error 0x%x\r\n"},
        {"BI 1 Endpoint %d stalled, clearing stall...\r\n", "EP2 1 Error processing 0x%x\r\n",
         "USB BulkIN 1 Transfer error 0x%x\r\n"},
        {"BI 2 Endpoint %d stalled, resending...\r\n", "EP2 2 Error processing 0x%x\r\n",
         "USB BulkIN second get processing error 0x%x\r\n"},
        {"MPBI 1 Endpoint %d stalled, clearing stall...\r\n", "EP2 MP 1 Error processing 0x%x\r\n",
         "USB MultiPacket Bulk Transfer error 0x%x\r\n"},
        {"MPBI 2 Endpoint %d stalled, resending...\r\n", "EP2 MP 2 Error processing 0x%x\r\n",
         "USB MP BulkIN 2 get processing error 0x%x\r\n"},
    };
    return texts[static_cast<uint32_t>(stage)];
}

// One bulk transfer, without stall handling.
uint32_t BulkOnce(CamUsbDevice* d, uint32_t pipe, uint8_t* buffer, uint32_t length, uint32_t* moved)
{
    d->transfer.kind = CamUsbKind::Bulk;
    d->transfer.bulkPipe = pipe;
    d->transfer.bulkLength = length;
    *moved = 0;
    PlatResetEvent(d->event);
    PlatOverlapped overlapped{};
    overlapped.event = d->event;
    uint32_t bytes = 0;
    uint32_t r = Usb().OstraAsynchBulkTransfer(d->handle, static_cast<uint8_t>(pipe), length, buffer, &bytes,
                                               &overlapped);
    if (r == 0 || r == kPending)
        r = Finish(d, &overlapped, kBulkWaitMs, moved);
    return r;
}

// A bulk transfer whose stalls are cleared and retried (at most 20 times).
uint32_t Bulk(void* context, CamUsbStage stage, uint32_t pipe, uint8_t* buffer, uint32_t length, uint32_t* moved)
{
    auto* d = static_cast<CamUsbDevice*>(context);
    const StageTexts& texts = TextsOf(stage);
    for (uint32_t stalls = 0;; ++stalls) {
        uint32_t r = BulkOnce(d, pipe, buffer, length, moved);
        if (r == 0)
            return 0;
        if (r != kStalled) {
            CamTrace(texts.failed, r);
            return r;
        }
        if (stalls == kStallRetries) {
            CamTrace(texts.exhausted, r);
            return r;
        }
        if (stalls > 0 && stage == CamUsbStage::Out)
            CamTrace("EP1, try to unstall again\r\n");
        if (stalls > 0 && stage == CamUsbStage::MultiIn2)
            CamTrace("retry unstall for EP2\r\n");
        CamTrace(texts.stalled, static_cast<int>(pipe + 1));
        const uint32_t cleared = Usb().OstraClearStall(d->handle, static_cast<uint8_t>(pipe));
        if (cleared != 0) {
            CamTrace("OstraClearStall failed: %d\r\n", static_cast<int>(cleared));
            return cleared;
        }
        PlatSleep(kStallPauseMs);
        if (stage == CamUsbStage::Out)
            CamTrace("After unstall EP1 send once more\r\n");
    }
}

// Holds the device's mutex shared by every process: the camera latches one address and one length, so another
// program's requests between ours would make our bulk transfer move the wrong bytes.
class SharedHold {
public:
    explicit SharedHold(CamUsbDevice* d) : m_Mutex(d->sharedMutex)
    {
        const uint32_t r = PlatWaitForSingleObject(m_Mutex, kDeviceMutexWaitMs);
        m_Held = r == PLAT_WAIT_OBJECT_0 || r == PLAT_WAIT_ABANDONED;
    }
    ~SharedHold()
    {
        if (m_Held)
            PlatReleaseMutex(m_Mutex);
    }
    SharedHold(const SharedHold&) = delete;
    SharedHold& operator=(const SharedHold&) = delete;
    bool Held() const { return m_Held; }

private:
    PlatHandle m_Mutex;
    bool m_Held = false;
};

// One attempt at the read of one chunk.
bool ReadChunkOnce(CamUsbDevice* d, uint32_t low, uint32_t high, uint32_t chunk, uint8_t* out, uint32_t* received)
{
    if (!Connected(d)) {
        CamTrace("USBReadBytes no camera connection\r\n");
        return false;
    }
    SharedHold hold(d);
    if (!hold.Held())
        return false;
    if (AddressRequest(d, false, low, high) != 0) {
        CamTrace("USBReadBytes failed address cmd\r\n");
        return false;
    }
    if (LengthRequest(d, false, chunk) != 0) {
        CamTrace("USBReadBytes failed filelen command\r\n");
        return false;
    }
    const CamUsbBulkPort port{d, Bulk};
    return ReceiveUsbChunk(port, low, high, chunk, d->data, out, received) != 0;
}

// One attempt at the write of one chunk (at most 16 bytes).
bool WriteChunkOnce(CamUsbDevice* d, uint32_t low, uint32_t high, const uint8_t* bytes, uint32_t chunk)
{
    if (!Connected(d)) {
        CamTrace("USBWriteBytes no camera connection\r\n");
        return false;
    }
    memcpy(d->data, bytes, chunk);
    if (chunk == 4 && IsUsbRegisterWrite(low, high)) {
        std::swap(d->data[0], d->data[3]);
        std::swap(d->data[1], d->data[2]);
        uint32_t v;
        memcpy(&v, d->data, 4);
        CamTrace("FileLen = (0x%x)\r\n", v);
    }
    SharedHold hold(d);
    if (!hold.Held())
        return false;
    if (AddressRequest(d, true, low, high) != 0) {
        CamTrace("USBWriteBytes failed address cmd\r\n");
        return false;
    }
    if (LengthRequest(d, true, chunk) != 0) {
        CamTrace("USBWriteBytes failed filelen command\r\n");
        return false;
    }
    CamTrace("BulkOUT h 0x%04x l 0x%08x %d bytes\r\n", high, low, static_cast<int>(chunk));
    uint32_t sent = 0;
    // A chunk the camera took only in part is sent again whole, to the same address.
    return Bulk(d, CamUsbStage::Out, 0, d->data, chunk, &sent) == 0 && sent == chunk;
}

void Record(CamUsbDevice* d, int ok)
{
    d->lastStatus = ok ? 0 : 1;
    d->lastSuccess = ok ? 1 : 0;
}

}  // namespace

int ReadUsbBlock(CamUsbDevice* device, uint32_t low, uint32_t high, void* buffer, uint32_t length)
{
    if (!device || (!buffer && length))
        return 0;
    Lock(&device->lock);
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t remaining = length;
    int ok = 1;
    while (remaining > 0 && ok) {
        const uint32_t chunk = UsbReadChunkSize(low, high, remaining);
        uint32_t received = 0;
        bool done = false;
        for (uint32_t attempt = 0; attempt < kAttempts && !done; ++attempt)
            done = ReadChunkOnce(device, low, high, chunk, out, &received);
        if (!done) {
            ok = 0;
            break;
        }
        out += received;
        remaining -= received;
        AdvanceUsbAddress(&low, &high, received);
    }
    Record(device, ok);
    Unlock(&device->lock);
    return ok;
}

int WriteUsbBlock(CamUsbDevice* device, uint32_t low, uint32_t high, const void* buffer, uint32_t length)
{
    if (!device || (!buffer && length))
        return 0;
    Lock(&device->lock);
    const auto* in = static_cast<const uint8_t*>(buffer);
    uint32_t remaining = length;
    int ok = 1;
    while (remaining > 0) {
        const uint32_t chunk = UsbWriteChunkSize(remaining);
        bool done = false;
        for (uint32_t attempt = 0; attempt < kAttempts && !done; ++attempt)
            done = WriteChunkOnce(device, low, high, in, chunk);
        if (!done) {
            ok = 0;
            break;
        }
        in += chunk;
        remaining -= chunk;
        AdvanceUsbAddress(&low, &high, chunk);
    }
    Record(device, ok);
    Unlock(&device->lock);
    return ok;
}

namespace {

bool ReadIntegerOnce(CamUsbDevice* d, uint32_t low, uint32_t high, uint32_t* value)
{
    if (!Connected(d)) {
        CamTrace("USBReadInteger no camera connection\r\n");
        return false;
    }
    SharedHold hold(d);
    if (!hold.Held())
        return false;
    if (AddressRequest(d, false, low, high) != 0) {
        CamTrace("USBReadInteger failed address cmd\r\n");
        return false;
    }
    d->transfer.lengthOrValue = 4;
    uint32_t moved = 0;
    memset(d->control, 0, sizeof d->control);
    if (Control(d, CamUsbKind::ReadInteger, 8, 0, 4, false, 4, &moved) != 0 || moved < 4) {
        CamTrace("USBReadInteger failed read command\r\n");
        return false;
    }
    *value = d->transfer.integerResult;
    return true;
}

int ReadIntegerPort(void* context, uint32_t low, uint32_t high, uint32_t* value)
{
    return ReadUsbInteger(static_cast<CamUsbDevice*>(context), low, high, value);
}

}  // namespace

int ReadUsbInteger(CamUsbDevice* device, uint32_t low, uint32_t high, uint32_t* value)
{
    if (!device || !value)
        return 0;
    Lock(&device->lock);
    bool done = false;
    for (uint32_t attempt = 0; attempt < kAttempts && !done; ++attempt)
        done = ReadIntegerOnce(device, low, high, value);
    Unlock(&device->lock);
    return done ? 1 : 0;
}

uint32_t ReadConfigurationArea(CamUsbDevice* device, CamConfigArea* area)
{
    if (!device || !area)
        return 0;
    const CamUsbIntegerPort port{device, ReadIntegerPort};
    return FillUsbConfigurationArea(port, area);
}
