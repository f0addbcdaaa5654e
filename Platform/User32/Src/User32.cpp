#include "PlatformUser32.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#define USER32_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Registration {
    uintptr_t number;
    PlatHWND window;
    PlatGuid guid;
    std::set<std::string> paths;  // present at the last look
};

struct Message {
    uintptr_t number;
    PlatHWND window;
    uint32_t event;
    PlatGuid guid;
    std::string path;
};

struct State {
    std::mutex lock;
    std::condition_variable wake;
    std::vector<Registration> registrations;
    uintptr_t next = 1;
    bool running = false;
};

State& S()
{
    static auto* s = new State;
    return *s;
}

// The paths of the interfaces of the class present now; false when the device services cannot say.
bool Present(const PlatGuid& guid, std::set<std::string>* paths)
{
    PlatHandle list = PlatGetClassDevs(&guid, PLAT_DIGCF_PRESENT | PLAT_DIGCF_DEVICEINTERFACE);
    if (list == PLAT_INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    for (uint32_t i = 0;; ++i) {
        PlatDeviceInterfaceData data{};
        data.cbSize = sizeof data;
        if (!PlatEnumDeviceInterfaces(list, &guid, i, &data)) {
            ok = PlatGetLastError() == PLAT_ERROR_NO_MORE_ITEMS;
            break;
        }
        uint32_t required = 0;
        PlatGetDeviceInterfaceDetail(list, &data, nullptr, 0, &required);
        if (required < sizeof(PlatDeviceInterfaceDetail) || required > (1u << 16))
            continue;
        std::vector<uint8_t> buffer(required, 0);
        auto* detail = reinterpret_cast<PlatDeviceInterfaceDetail*>(buffer.data());
        detail->cbSize = sizeof(PlatDeviceInterfaceDetail);
        if (!PlatGetDeviceInterfaceDetail(list, &data, detail, required, nullptr))
            continue;
        const char* text = reinterpret_cast<const char*>(buffer.data()) + offsetof(PlatDeviceInterfaceDetail, devicePath);
        paths->insert(std::string(text, strnlen(text, required - offsetof(PlatDeviceInterfaceDetail, devicePath))));
    }
    PlatDestroyDeviceInfoList(list);
    return ok;
}

void Send(const Message& m)
{
    std::vector<uint8_t> record(PLAT_DEV_BROADCAST_FIXED + m.path.size() + 1 + 3, 0);
    auto* r = reinterpret_cast<PlatDevBroadcastDeviceInterface*>(record.data());
    r->size = static_cast<uint32_t>(PLAT_DEV_BROADCAST_FIXED + m.path.size() + 1);
    r->deviceType = PLAT_DBT_DEVTYP_DEVICEINTERFACE;
    r->classGuid = m.guid;
    std::memcpy(record.data() + offsetof(PlatDevBroadcastDeviceInterface, name), m.path.c_str(), m.path.size() + 1);
    PlatSendMessage(m.window, PLAT_WM_DEVICECHANGE, m.event, reinterpret_cast<intptr_t>(record.data()));
}

// Looks at the device services while registrations exist, and tells each window what came and went.
void Watch()
{
    State& s = S();
    std::unique_lock<std::mutex> guard(s.lock);
    while (!s.registrations.empty()) {
        s.wake.wait_for(guard, std::chrono::milliseconds(250));
        std::vector<std::pair<uintptr_t, PlatGuid>> wanted;
        for (const Registration& r : s.registrations)
            wanted.emplace_back(r.number, r.guid);
        guard.unlock();
        std::map<uintptr_t, std::set<std::string>> now;
        for (const auto& [number, guid] : wanted) {
            std::set<std::string> paths;
            if (Present(guid, &paths))
                now[number] = std::move(paths);
        }
        guard.lock();
        std::vector<Message> messages;
        for (Registration& r : s.registrations) {
            auto it = now.find(r.number);
            if (it == now.end())
                continue;
            // What left is told before what came.
            for (const std::string& p : r.paths)
                if (!it->second.count(p))
                    messages.push_back({r.number, r.window, PLAT_DBT_DEVICEREMOVECOMPLETE, r.guid, p});
            for (const std::string& p : it->second)
                if (!r.paths.count(p))
                    messages.push_back({r.number, r.window, PLAT_DBT_DEVICEARRIVAL, r.guid, p});
            r.paths = it->second;
        }
        // Sent without the lock, so that a window may register or unregister while it handles one; a
        // registration that went meanwhile gets no more.
        for (const Message& m : messages) {
            bool still = false;
            for (const Registration& r : s.registrations)
                still = still || r.number == m.number;
            if (!still)
                continue;
            guard.unlock();
            Send(m);
            guard.lock();
        }
    }
    s.running = false;
}

}  // namespace

USER32_EXPORT void* RegisterDeviceNotificationA(PlatHWND recipient, const void* filter, uint32_t flags)
{
    if (!recipient || !filter || flags != PLAT_DEVICE_NOTIFY_WINDOW_HANDLE) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    PlatDevBroadcastDeviceInterface f{};
    std::memcpy(&f, filter, PLAT_DEV_BROADCAST_FIXED);
    if (f.size < PLAT_DEV_BROADCAST_FIXED || f.deviceType != PLAT_DBT_DEVTYP_DEVICEINTERFACE) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Registration r{0, recipient, f.classGuid, {}};
    Present(f.classGuid, &r.paths);
    State& s = S();
    std::lock_guard<std::mutex> guard(s.lock);
    r.number = s.next++;
    s.registrations.push_back(r);
    if (!s.running) {
        s.running = true;
        std::thread(Watch).detach();
    }
    PlatSetLastError(PLAT_ERROR_SUCCESS);
    return reinterpret_cast<void*>(r.number);
}

USER32_EXPORT int32_t UnregisterDeviceNotification(void* notification)
{
    State& s = S();
    std::lock_guard<std::mutex> guard(s.lock);
    const auto number = reinterpret_cast<uintptr_t>(notification);
    for (auto it = s.registrations.begin(); it != s.registrations.end(); ++it)
        if (it->number == number) {
            s.registrations.erase(it);
            s.wake.notify_all();
            return 1;
        }
    PlatSetLastError(PLAT_ERROR_INVALID_HANDLE);
    return 0;
}
