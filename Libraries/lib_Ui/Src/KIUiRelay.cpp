#include "KIUiRelay.h"

#include <mutex>
#include <unordered_map>

namespace {

// Live relay objects with the serial each got when it was made.
struct RelayRegistry {
    std::mutex lock;
    std::unordered_map<const KIUiRelay*, uint64_t> live;
    uint64_t next = 0;
};

RelayRegistry& Registry()
{
    // Never destroyed: relay objects with static lifetime may outlive any other static.
    static RelayRegistry* registry = new RelayRegistry;
    return *registry;
}

void Enter(const KIUiRelay* relay)
{
    RelayRegistry& r = Registry();
    std::lock_guard<std::mutex> hold(r.lock);
    r.live[relay] = ++r.next;
}

}  // namespace

KIUiRelay::KIUiRelay()
{
    Enter(this);
}

KIUiRelay::KIUiRelay(const KIUiRelay&)
{
    Enter(this);
}

KIUiRelay::~KIUiRelay()
{
    RelayRegistry& r = Registry();
    std::lock_guard<std::mutex> hold(r.lock);
    r.live.erase(this);
}

KUiRelayRef KUiRelayRef::FromData(const void* data)
{
    KUiRelayRef ref;
    if (!data)
        return ref;
    RelayRegistry& r = Registry();
    std::lock_guard<std::mutex> hold(r.lock);
    auto it = r.live.find(static_cast<const KIUiRelay*>(data));
    if (it == r.live.end())
        return ref;
    ref.m_pRelay = const_cast<KIUiRelay*>(it->first);
    ref.m_Serial = it->second;
    return ref;
}

KIUiRelay* KUiRelayRef::Get() const
{
    if (!m_pRelay)
        return nullptr;
    RelayRegistry& r = Registry();
    std::lock_guard<std::mutex> hold(r.lock);
    auto it = r.live.find(m_pRelay);
    return it != r.live.end() && it->second == m_Serial ? m_pRelay : nullptr;
}
