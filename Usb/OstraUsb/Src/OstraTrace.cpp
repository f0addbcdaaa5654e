// The trace buffer shared by every process that has the library loaded: a named section guarded by a named
// mutex, with a named manual-reset event per slot that wakes a reader.
#include "OstraTrace.h"

#include <cstdio>
#include <cstring>

#include "OstraTraceCore.h"
#include "OstraUsb.h"
#include "PlatformSection.h"
#include "PlatformSync.h"

#define OSTRA_EXPORT extern "C" __attribute__((visibility("default")))

namespace ostra {

namespace {

constexpr const char* kSectionName = "OstraUsb.ostrace";
constexpr const char* kMutexName = "OstraUSB_Trace_Buffer_Mutex";

struct Process {
    PlatHandle section = nullptr;
    TraceSection* shared = nullptr;
    PlatHandle mutex = nullptr;
    PlatHandle events[kSlots] = {};
    bool attached = false;
    char format[kSlotText] = {};  // the formatting buffer, used under the mutex
};

constinit Process g_Process{};

// Holds the mutex; an abandoned one (its holder ended) is taken over as it stands.
class Locked {
public:
    Locked() { m_Held = PlatWaitForSingleObject(g_Process.mutex, PLAT_INFINITE) != PLAT_WAIT_FAILED; }
    ~Locked() { Release(); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    void Release()
    {
        if (m_Held)
            PlatReleaseMutex(g_Process.mutex);
        m_Held = false;
    }

private:
    bool m_Held = false;
};

class EventSignal : public SlotSignal {
public:
    void Signal(uint32_t slot) override
    {
        if (slot < kSlots && g_Process.events[slot])
            PlatSetEvent(g_Process.events[slot]);
    }
};

void CloseAll()
{
    for (PlatHandle& e : g_Process.events) {
        if (e)
            PlatCloseHandle(e);
        e = nullptr;
    }
    if (g_Process.mutex)
        PlatCloseHandle(g_Process.mutex);
    g_Process.mutex = nullptr;
    if (g_Process.section)
        PlatCloseHandle(g_Process.section);
    g_Process.section = nullptr;
    g_Process.shared = nullptr;
}

__attribute__((constructor)) void Attach()
{
    g_Process.mutex = PlatCreateMutex(false, kMutexName);
    bool ok = g_Process.mutex != nullptr;
    for (uint32_t i = 0; ok && i < kSlots; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "OstraUSB_Trace_Buffer_Event_0x%02X", i);
        g_Process.events[i] = PlatCreateEvent(true, false, name);
        ok = g_Process.events[i] != nullptr;
    }
    void* view = nullptr;
    if (ok) {
        g_Process.section = PlatCreateSharedSection(kSectionName, sizeof(TraceSection), &view);
        ok = g_Process.section != nullptr;
    }
    if (!ok) {
        // The library stays without its trace buffer: every trace call is refused.
        CloseAll();
        return;
    }
    g_Process.shared = static_cast<TraceSection*>(view);
    Locked lock;
    TraceSection& s = *g_Process.shared;
    if (s.processes++ == 0 || !s.initialised) {
        std::memset(s.slots, 0, sizeof(s.slots));
        s.oldest = 0;
        s.current = 0;
        s.initialised = 1;
    }
    g_Process.attached = true;
}

__attribute__((destructor)) void Detach()
{
    if (!g_Process.attached)
        return;
    {
        Locked lock;
        TraceSection& s = *g_Process.shared;
        if (s.processes > 0)
            --s.processes;
        if (s.processes == 0)
            s.initialised = 0;
        g_Process.attached = false;
    }
    CloseAll();
}

bool Writable(const TraceSection& s)
{
    return s.enabled != 0 && s.initialised != 0;
}

// The write of trace and printf, the mutex held by the caller and released here.
uint32_t WriteLocked(Locked& lock, const char* text, uint32_t count, const char* caller)
{
    if (count > kSlotText) {
        lock.Release();
        Trace("Ostra for USB: %s count of %u exceeds maximum count of %u\r\n", caller, count, kSlotText);
        return OSTRA_E_INVALIDARG;
    }
    EventSignal signal;
    const uint32_t slot = Append(*g_Process.shared, text, count, signal);
    lock.Release();
    signal.Signal(slot);
    return OSTRA_S_OK;
}

uint32_t PrintfV(const char* format, va_list args)
{
    if (!g_Process.attached)
        return OSTRA_E_ACCESSDENIED;
    Locked lock;
    if (!Writable(*g_Process.shared))
        return OSTRA_E_ACCESSDENIED;
    if (!format) {
        lock.Release();
        TraceText("OstraUsbPrintf: pFormat is NULL\r\n");
        return OSTRA_E_INVALIDARG;
    }
    const int n = std::vsnprintf(g_Process.format, sizeof g_Process.format, format, args);
    if (n < 0 || n >= static_cast<int>(sizeof g_Process.format)) {
        lock.Release();
        TraceText("Trace string too long");
        return OSTRA_E_INVALIDARG;
    }
    return WriteLocked(lock, g_Process.format, static_cast<uint32_t>(n), "OstraUsbPrintf");
}

void WakeAndClear()
{
    EventSignal signal;
    WakeReaders(*g_Process.shared, signal);
    ClearSlots(*g_Process.shared);
}

}  // namespace

bool TracingOn()
{
    return g_Process.attached && __atomic_load_n(&g_Process.shared->enabled, __ATOMIC_RELAXED) != 0;
}

void Trace(const char* format, ...)
{
    if (!TracingOn())
        return;
    va_list args;
    va_start(args, format);
    PrintfV(format, args);
    va_end(args);
}

void TraceText(const char* text)
{
    OstraUsbTrace(text, kSlotText);
}

}  // namespace ostra

using namespace ostra;

OSTRA_EXPORT int32_t OstraUsbEnableTracing(uint32_t key, int32_t enable)
{
    if (!g_Process.attached)
        return 0;
    Locked lock;
    TraceSection& s = *g_Process.shared;
    if (key != s.ownerKey)
        return 0;
    if (!enable)
        WakeAndClear();
    s.enabled = enable ? 1 : 0;
    return 1;
}

OSTRA_EXPORT void OstraClearTraceBuffer(void)
{
    if (!g_Process.attached)
        return;
    Locked lock;
    WakeAndClear();
}

OSTRA_EXPORT int32_t OstraSetReadTraceOwnerKey(uint32_t key, int32_t force)
{
    if (!g_Process.attached)
        return 0;
    Locked lock;
    TraceSection& s = *g_Process.shared;
    EventSignal signal;
    if (s.keyHeld && s.ownerKey != key && !force)
        return 0;
    WakeReaders(s, signal);
    s.ownerKey = key;
    s.keyHeld = 1;
    return 1;
}

OSTRA_EXPORT int32_t OstraReleaseReadTraceOwnerKey(uint32_t key)
{
    if (!g_Process.attached)
        return 0;
    Locked lock;
    TraceSection& s = *g_Process.shared;
    if (key != s.ownerKey)
        return 0;
    s.keyHeld = 0;
    return 1;
}

OSTRA_EXPORT uint32_t OstraUsbTrace(const char* text, uint32_t maximumCount)
{
    if (!g_Process.attached)
        return OSTRA_E_ACCESSDENIED;
    Locked lock;
    if (!Writable(*g_Process.shared))
        return OSTRA_E_ACCESSDENIED;
    if (!text) {
        lock.Release();
        TraceText("OstraUsbTrace: pTraceString is NULL\r\n");
        return OSTRA_E_INVALIDARG;
    }
    // Measured no further than the count: the text need not end within it.
    const uint32_t count = static_cast<uint32_t>(strnlen(text, maximumCount));
    return WriteLocked(lock, text, count, "OstraUsbTrace");
}

OSTRA_EXPORT uint32_t OstraUsbPrintf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const uint32_t r = PrintfV(format, args);
    va_end(args);
    return r;
}

OSTRA_EXPORT uint32_t WaitForTrace(int32_t slot, uint32_t reserved, uint32_t milliseconds, void* slotBuffer,
                                   int32_t* nextSlot, uint32_t* length, uint32_t ownerKey)
{
    if (!g_Process.attached)
        return OSTRA_E_ACCESSDENIED;
    if (!slotBuffer || !nextSlot || !length)
        return OSTRA_E_INVALIDARG;
    Locked lock;
    TraceSection& s = *g_Process.shared;
    auto clearedAnswer = [&]() {
        s.cleared = 0;
        *nextSlot = 0;
        *length = 0;
        return OSTRA_WAIT_TIMEOUT;
    };
    if (ownerKey != s.ownerKey)
        return OSTRA_ERROR_BADKEY;
    if (s.cleared)
        return clearedAnswer();
    if (slot == -1)
        slot = static_cast<int32_t>(SlotNumber(s.oldest));
    if (slot < 0 || slot >= static_cast<int32_t>(kSlots))
        return OSTRA_E_INVALIDARG;
    PlatHandle event = g_Process.events[slot];
    if (!event)
        return OSTRA_E_ACCESSDENIED;
    lock.Release();
    // Waited in slices, looking at the key and the cleared flag between them: a wake-up that another reader
    // took back at once (reset the event) must not leave this reader asleep with a lost key.
    constexpr uint32_t kSlice = 50;
    uint32_t left = milliseconds;
    for (;;) {
        const uint32_t slice = left < kSlice ? left : kSlice;
        const uint32_t waited = PlatWaitForSingleObject(event, slice);
        if (waited == PLAT_WAIT_ABANDONED)
            return OSTRA_WAIT_ABANDONED;
        if (waited != PLAT_WAIT_OBJECT_0 && waited != PLAT_WAIT_TIMEOUT)
            return PlatGetLastError();
        if (waited == PLAT_WAIT_TIMEOUT && milliseconds != PLAT_INFINITE)
            left -= slice;
        if (waited == PLAT_WAIT_OBJECT_0)
            break;
        Locked between;
        if (ownerKey != s.ownerKey)
            return OSTRA_ERROR_BADKEY;
        if (s.cleared)
            return clearedAnswer();
        if (left == 0)
            return OSTRA_WAIT_TIMEOUT;
    }
    Locked again;
    if (ownerKey != s.ownerKey)
        return OSTRA_ERROR_BADKEY;
    if (s.cleared)
        return clearedAnswer();
    PlatResetEvent(event);
    uint32_t next = 0;
    CopySlot(s, static_cast<uint32_t>(slot), static_cast<uint8_t*>(slotBuffer), &next, length);
    *nextSlot = static_cast<int32_t>(next);
    return 0;
}
