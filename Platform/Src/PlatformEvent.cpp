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
    std::shared_ptr<Object> object;
    bool existed = false;
    try {
        if (IsUnnamed(name)) {
            auto word = std::make_shared<std::atomic<uint32_t>>(initialState ? 1u : 0u);
            std::atomic<uint32_t>* raw = word.get();
            object = std::make_shared<EventObject>(raw, manualReset, false, std::move(word));
        } else {
            object = OpenNamed(
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
                &existed);
        }
    } catch (const std::bad_alloc&) {
        PlatSetLastError(PLAT_ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!object)
        return nullptr;
    if (!std::dynamic_pointer_cast<EventObject>(object)) {
        PlatSetLastError(PLAT_ERROR_INVALID_HANDLE);
        return nullptr;
    }
    PlatHandle handle = NewHandle(std::move(object));
    if (handle)
        PlatSetLastError(existed ? PLAT_ERROR_ALREADY_EXISTS : PLAT_ERROR_SUCCESS);
    return handle;
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
