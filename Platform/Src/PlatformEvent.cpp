// Events: a futex word, private to the process or (named) in shared memory. The word's atomic operations
// order the memory of the setter before the waiter that it releases.
#include <new>

#include "PlatformNamed.h"

namespace plat {

namespace {

struct SharedEvent {
    std::atomic<uint32_t> state;
    uint32_t manual;
};

class EventObject : public Object {
public:
    EventObject(std::atomic<uint32_t>* word, bool manual, bool shared, std::shared_ptr<void> storage)
        : m_Word(word), m_Manual(manual), m_Shared(shared), m_Storage(std::move(storage))
    {
    }

    uint32_t Wait(uint32_t milliseconds) override { return EventWord::Wait(m_Word, m_Manual, m_Shared, milliseconds); }
    void Set() { EventWord::Set(m_Word, m_Manual, m_Shared); }
    void Reset() { EventWord::Reset(m_Word); }

private:
    std::atomic<uint32_t>* m_Word;
    bool m_Manual;
    bool m_Shared;
    std::shared_ptr<void> m_Storage;  // the heap word or the named object's segment
};

}  // namespace

}  // namespace plat

using namespace plat;

static_assert(std::atomic<uint32_t>::is_always_lock_free, "the event word is shared between processes");

PlatHandle PlatCreateEvent(bool manualReset, bool initialState, const char* name)
{
    bool existed = false;
    std::shared_ptr<EventObject> object = CreateObject<EventObject>(
        name, kNamedEvent, sizeof(SharedEvent),
        [&](void* state) {
            auto* e = new (state) SharedEvent;
            e->state.store(initialState ? 1u : 0u);
            e->manual = manualReset ? 1u : 0u;
        },
        [](std::shared_ptr<Segment> segment) -> std::shared_ptr<Object> {
            auto* e = static_cast<SharedEvent*>(segment->State());
            return std::make_shared<EventObject>(&e->state, e->manual != 0, true, std::move(segment));
        },
        [&]() -> std::shared_ptr<Object> {
            auto word = std::make_shared<std::atomic<uint32_t>>(initialState ? 1u : 0u);
            std::atomic<uint32_t>* raw = word.get();
            return std::make_shared<EventObject>(raw, manualReset, false, std::move(word));
        },
        &existed);
    if (!object)
        return nullptr;
    return HandleForCreated(std::move(object), existed);
}

bool PlatSetEvent(PlatHandle event)
{
    std::shared_ptr<EventObject> object = Find<EventObject>(event);
    if (!object)
        return false;
    object->Set();
    return true;
}

bool PlatResetEvent(PlatHandle event)
{
    std::shared_ptr<EventObject> object = Find<EventObject>(event);
    if (!object)
        return false;
    object->Reset();
    return true;
}
