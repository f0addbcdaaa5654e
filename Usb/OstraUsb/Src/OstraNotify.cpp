// Device notification: passed to "user32.dll" where the system has it; on Windows NT 4 emulated from the
// notification key that the USB kernel driver fills, by a watcher thread that compares the key with what it saw
// before and sends the client windows the messages the system would send.
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "OstraNames.h"
#include "OstraNotify.h"
#include "OstraUsb.h"
#include "PlatformDevices.h"
#include "PlatformRegistry.h"
#include "PlatformThread.h"
#include "PlatformUser32.h"

#define OSTRA_EXPORT extern "C" __attribute__((visibility("default")))

using namespace ostra;

namespace {

constexpr uint32_t kNoSystemResources = 1450;
constexpr uint32_t kPassWaitMs = 3000;

struct Name {
    std::string name;
    bool seen;
};

struct Registration {
    uintptr_t number;
    PlatHWND window;
    bool wide;  // always narrow here
    PlatGuid guid;
    std::vector<Name> names;
};

struct Message {
    uintptr_t number;
    PlatHWND window;
    uint32_t event;
    PlatGuid guid;
    std::string name;
};

struct Watcher {
    std::vector<Registration> registrations;
    PlatHandle change = nullptr;  // auto-reset, set by the registry on a change of the key
    PlatHKEY key = nullptr;
    PlatHandle thread = nullptr;
    std::atomic<bool> stop{false};
    uintptr_t next = 1;
    PlatCriticalSection* lock = nullptr;
};

Watcher* g_Watcher = nullptr;
int g_Registrations = 0;

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

void Send(const Message& m)
{
    // The system's record for a narrow name: its size is the name's length + 36.
    const std::string path = "\\\\.\\" + m.name;
    const uint32_t size = static_cast<uint32_t>(path.size()) + 36;
    std::vector<uint8_t> record(size, 0);
    auto* r = reinterpret_cast<PlatDevBroadcastDeviceInterface*>(record.data());
    r->size = size;
    r->deviceType = PLAT_DBT_DEVTYP_DEVICEINTERFACE;
    r->classGuid = m.guid;
    std::memcpy(record.data() + offsetof(PlatDevBroadcastDeviceInterface, name), path.c_str(), path.size() + 1);
    PlatSendMessage(m.window, PLAT_WM_DEVICECHANGE, m.event, reinterpret_cast<intptr_t>(record.data()));
}

// One look at the key (under the watcher's lock): what arrived and what left, for every registration.
std::vector<Message> Pass(Watcher& w)
{
    std::vector<Message> messages;
    if (!w.key &&
        PlatRegCreateKeyEx(PLAT_HKEY_LOCAL_MACHINE, kNotificationKey, 0, PLAT_KEY_READ | PLAT_KEY_NOTIFY, &w.key,
                           nullptr) != 0) {
        w.key = nullptr;
        return messages;
    }
    // Asked before reading, so that no change between the two is lost.
    PlatRegNotifyChangeKeyValue(w.key, true, PLAT_REG_NOTIFY_CHANGE_LAST_SET, w.change, true);
    for (const std::string& name : NotificationNames(w.key)) {
        PlatGuid guid{};
        if (!ParseNotificationName(name.c_str(), &guid))
            continue;
        for (Registration& r : w.registrations) {
            if (!(r.guid == guid))
                continue;
            bool known = false;
            for (Name& n : r.names)
                if (SameName(n.name, name)) {
                    n.seen = true;
                    known = true;
                }
            if (known)
                continue;
            // Each registration knows the devices present when it was made (see Nt4Register), so whatever is new
            // here came since, even in the watcher's first pass.
            r.names.push_back({name, true});
            messages.push_back({r.number, r.window, PLAT_DBT_DEVICEARRIVAL, r.guid, name});
        }
    }
    for (Registration& r : w.registrations) {
        for (auto it = r.names.begin(); it != r.names.end();) {
            if (it->seen) {
                it->seen = false;
                ++it;
            } else {
                messages.push_back({r.number, r.window, PLAT_DBT_DEVICEREMOVECOMPLETE, r.guid, it->name});
                it = r.names.erase(it);
            }
        }
    }
    return messages;
}

uint32_t WatcherMain(void* argument)
{
    Watcher& w = *static_cast<Watcher*>(argument);
    for (;;) {
        PlatEnterCriticalSection(w.lock);
        std::vector<Message> messages = Pass(w);
        // Sent without the lock, so that a client's window may register or unregister meanwhile (the sender
        // waits for the window's thread); a registration that went gets no more.
        for (const Message& m : messages) {
            bool still = false;
            for (const Registration& r : w.registrations)
                still = still || r.number == m.number;
            if (!still || w.stop)
                continue;
            PlatLeaveCriticalSection(w.lock);
            Send(m);
            PlatEnterCriticalSection(w.lock);
        }
        PlatLeaveCriticalSection(w.lock);
        if (w.stop)
            break;
        PlatWaitForSingleObject(w.change, kPassWaitMs);
        if (w.stop)
            break;
    }
    return 0;
}

Watcher* NewWatcher()
{
    auto* w = new Watcher;
    w->lock = PlatNewCriticalSection();
    w->change = PlatCreateEvent(false, false, nullptr);
    if (!w->lock || !w->change) {
        if (w->lock)
            PlatDeleteCriticalSection(w->lock);
        if (w->change)
            PlatCloseHandle(w->change);
        delete w;
        return nullptr;
    }
    return w;
}

void DestroyWatcher(Watcher* w)
{
    if (w->thread) {
        w->stop = true;
        PlatSetEvent(w->change);
        // Messages the watcher sends to this thread's windows meanwhile are delivered.
        PlatMsgWaitForSingleObject(w->thread, PLAT_INFINITE);
        PlatCloseHandle(w->thread);
    }
    if (w->key)
        PlatRegCloseKey(w->key);
    PlatCloseHandle(w->change);
    PlatDeleteCriticalSection(w->lock);
    delete w;
}

void* Nt4Register(PlatHWND recipient, const void* filter)
{
    PlatDevBroadcastDeviceInterface f{};
    if (!filter)
        return nullptr;
    std::memcpy(&f, filter, PLAT_DEV_BROADCAST_FIXED);
    if (f.deviceType != PLAT_DBT_DEVTYP_DEVICEINTERFACE)
        return nullptr;
    PlatEnterCriticalSection(ProcessLock());
    if (!g_Watcher) {
        g_Watcher = NewWatcher();
        if (!g_Watcher) {
            PlatLeaveCriticalSection(ProcessLock());
            PlatSetLastError(kNoSystemResources);
            return nullptr;
        }
    }
    Watcher& w = *g_Watcher;
    Registration r{0, recipient, false, f.classGuid, {}};
    // The devices present now give no message, as with the system's notification.
    for (const std::string& name : NotificationNames()) {
        PlatGuid guid{};
        if (ParseNotificationName(name.c_str(), &guid) && guid == f.classGuid)
            r.names.push_back({name, false});
    }
    PlatEnterCriticalSection(w.lock);
    r.number = w.next++;
    w.registrations.push_back(r);
    PlatLeaveCriticalSection(w.lock);
    ++g_Registrations;
    if (!w.thread) {
        w.thread = PlatCreateThread(0, WatcherMain, &w, nullptr);
        if (!w.thread) {
            PlatEnterCriticalSection(w.lock);
            w.registrations.pop_back();
            PlatLeaveCriticalSection(w.lock);
            if (--g_Registrations == 0) {
                DestroyWatcher(g_Watcher);
                g_Watcher = nullptr;
            }
            PlatLeaveCriticalSection(ProcessLock());
            return nullptr;
        }
    }
    PlatLeaveCriticalSection(ProcessLock());
    return reinterpret_cast<void*>(r.number);
}

int32_t Nt4Unregister(void* notification)
{
    const auto number = reinterpret_cast<uintptr_t>(notification);
    PlatEnterCriticalSection(ProcessLock());
    bool removed = false;
    if (g_Watcher) {
        PlatEnterCriticalSection(g_Watcher->lock);
        auto& list = g_Watcher->registrations;
        for (auto it = list.begin(); it != list.end();) {
            if (it->number == number) {
                it = list.erase(it);
                removed = true;
            } else {
                ++it;
            }
        }
        PlatLeaveCriticalSection(g_Watcher->lock);
    }
    // Only a registration that was there is counted off: a stray handle must not end the others' watcher.
    if (removed && --g_Registrations == 0) {
        DestroyWatcher(g_Watcher);
        g_Watcher = nullptr;
    }
    PlatLeaveCriticalSection(ProcessLock());
    if (!removed)
        PlatSetLastError(PLAT_ERROR_INVALID_HANDLE);
    return removed ? 1 : 0;
}

}  // namespace

namespace ostra {

PlatCriticalSection* ProcessLock()
{
    // Given back when the library is unloaded.
    static const struct Lock {
        PlatCriticalSection* section = PlatNewCriticalSection();
        ~Lock() { PlatDeleteCriticalSection(section); }
    } lock;
    return lock.section;
}

std::vector<std::string> Nt4DevicePaths(const PlatGuid& guid)
{
    std::vector<std::string> paths;
    PlatEnterCriticalSection(ProcessLock());
    for (const std::string& name : NotificationNames()) {
        PlatGuid g{};
        if (ParseNotificationName(name.c_str(), &g) && g == guid)
            paths.push_back("\\\\.\\" + name);
    }
    PlatLeaveCriticalSection(ProcessLock());
    return paths;
}

}  // namespace ostra

OSTRA_EXPORT void* OstraRegisterDeviceNotification(PlatWindow* recipient, const void* filter, uint32_t flags)
{
    if (IsWindowsNT4())
        return Nt4Register(recipient, filter);
    PlatModule user32 = PlatLoadLibrary("user32.dll");
    if (!user32)
        return nullptr;
    auto fn = reinterpret_cast<PlatRegisterDeviceNotificationA>(PlatGetProcAddress(user32, "RegisterDeviceNotificationA"));
    void* result = nullptr;
    uint32_t error = PlatGetLastError();
    if (fn) {
        result = fn(recipient, filter, flags);
        error = PlatGetLastError();
    }
    PlatFreeLibrary(user32);
    PlatSetLastError(error);
    return result;
}

OSTRA_EXPORT int32_t OstraUnregisterDeviceNotification(void* notification)
{
    if (!notification)
        return 0;
    if (IsWindowsNT4())
        return Nt4Unregister(notification);
    PlatModule user32 = PlatLoadLibrary("user32.dll");
    if (!user32)
        return 0;
    auto fn = reinterpret_cast<PlatUnregisterDeviceNotification>(PlatGetProcAddress(user32, "UnregisterDeviceNotification"));
    int32_t result = 0;
    uint32_t error = PlatGetLastError();
    if (fn) {
        result = fn(notification);
        error = PlatGetLastError();
    }
    PlatFreeLibrary(user32);
    PlatSetLastError(error);
    return result;
}
