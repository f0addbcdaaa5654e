#pragma once
// The tests' own provider: devices of one class whose requests come back as they went out.
//   code kEcho:         completes at once, the output = the input (as much as fits);
//   code kEchoLater:    completes 50 ms later from another thread, likewise;
//   code kFail:         completes at once with error 31;
//   code kHold:         stays pending until Release() completes it.
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "PlatformDeviceProvider.h"

namespace devtest {

constexpr PlatGuid kLoopbackClass = {0x6C6F6F70, 0x6261, 0x636B, {0x8A, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}};

enum : uint32_t {
    kEcho = 0x00220004,
    kEchoLater = 0x00220008,
    kFail = 0x0022000C,
    kHold = 0x00220010,
};

class LoopbackProvider : public PlatDeviceProvider, public std::enable_shared_from_this<LoopbackProvider> {
public:
    ~LoopbackProvider() override { Join(); }

    void Plug(const std::string& path)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Paths.insert(path);
    }
    void Unplug(const std::string& path)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        m_Paths.erase(path);
    }
    bool Has(const std::string& path)
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        return m_Paths.count(path) != 0;
    }

    std::vector<PlatDeviceInterface> Interfaces() override
    {
        std::lock_guard<std::mutex> guard(m_Lock);
        std::vector<PlatDeviceInterface> list;
        for (const std::string& p : m_Paths)
            list.push_back({kLoopbackClass, p});
        return list;
    }

    std::shared_ptr<PlatDeviceEndpoint> Open(const std::string& path) override
    {
        if (!Has(path))
            return nullptr;
        return std::make_shared<Endpoint>(shared_from_this(), path);
    }

    // Completes the held requests with the given result.
    void Release(uint32_t error)
    {
        std::vector<std::shared_ptr<PlatDeviceRequest>> held;
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            held.swap(m_Held);
        }
        for (auto& r : held)
            Echo(*r, error);
    }

    // Waits for the later completions started so far.
    void Join()
    {
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> guard(m_Lock);
            threads.swap(m_Threads);
        }
        for (auto& t : threads)
            t.join();
    }

    int closed = 0;

private:
    static void Echo(PlatDeviceRequest& r, uint32_t error)
    {
        uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(r.Input().size()), r.OutputSize());
        if (n)
            memcpy(r.Output(), r.Input().data(), n);
        r.Complete(error, error ? 0 : n);
    }

    class Endpoint : public PlatDeviceEndpoint {
    public:
        Endpoint(std::shared_ptr<LoopbackProvider> owner, std::string path) : m_Owner(std::move(owner)), m_Path(std::move(path)) {}
        bool Present() override { return m_Owner->Has(m_Path); }
        void Submit(std::shared_ptr<PlatDeviceRequest> r) override
        {
            switch (r->Code()) {
            case kEcho:
                Echo(*r, 0);
                break;
            case kEchoLater: {
                std::lock_guard<std::mutex> guard(m_Owner->m_Lock);
                m_Owner->m_Threads.emplace_back([r] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    Echo(*r, 0);
                });
                break;
            }
            case kHold: {
                std::lock_guard<std::mutex> guard(m_Owner->m_Lock);
                m_Owner->m_Held.push_back(r);
                break;
            }
            default:
                r->Complete(31, 0);
            }
        }
        void Closed() override
        {
            std::lock_guard<std::mutex> guard(m_Owner->m_Lock);
            ++m_Owner->closed;
        }

    private:
        std::shared_ptr<LoopbackProvider> m_Owner;
        std::string m_Path;
    };

    std::mutex m_Lock;
    std::set<std::string> m_Paths;
    std::vector<std::thread> m_Threads;
    std::vector<std::shared_ptr<PlatDeviceRequest>> m_Held;
};

}  // namespace devtest
