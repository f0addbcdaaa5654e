// Mutexes: a robust, recursive pthread mutex, private to the process or (named) in shared memory.
// Robust, so that the next taker learns when an owner thread or process ended while holding it, and takes it
// (PLAT_WAIT_ABANDONED) instead of waiting forever.
//
// Timed waits do not use pthread_mutex_timedlock (its deadline is on the wall clock, and ThreadSanitizer
// loses track of a mutex it takes over from a dead owner). They try the lock and sleep on a release counter
// beside the mutex, which every release bumps; a short sleep slice notices an owner that died, whose death
// bumps nothing.
#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>
#include <new>

#include "PlatformNamed.h"

namespace plat {

namespace {

bool InitRobustMutex(pthread_mutex_t* mutex, bool shared)
{
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0)
        return false;
    bool ok = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
              pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
              pthread_mutexattr_setpshared(&attr, shared ? PTHREAD_PROCESS_SHARED : PTHREAD_PROCESS_PRIVATE) == 0 &&
              pthread_mutex_init(mutex, &attr) == 0;
    pthread_mutexattr_destroy(&attr);
    return ok;
}

// The mutex and its release counter, in the heap or in a named object's shared memory.
struct MutexState {
    pthread_mutex_t mutex;
    std::atomic<uint32_t> releases;
};

struct HeapMutex {
    MutexState state;
    bool ready = false;
    ~HeapMutex()
    {
        if (ready)
            pthread_mutex_destroy(&state.mutex);
    }
};

constexpr int64_t kSliceNanoseconds = 50 * 1000000;

int TimedLock(MutexState* state, bool shared, uint32_t milliseconds)
{
    const int64_t deadline = DeadlineAfter(milliseconds);
    for (;;) {
        const uint32_t seen = state->releases.load(std::memory_order_acquire);
        int rc = pthread_mutex_trylock(&state->mutex);
        if (rc != EBUSY)
            return rc;
        const int64_t now = MonotonicNanoseconds();
        if (now >= deadline)
            return ETIMEDOUT;
        const int64_t until = deadline - now > kSliceNanoseconds ? now + kSliceNanoseconds : deadline;
        timespec at{static_cast<time_t>(until / 1000000000), static_cast<long>(until % 1000000000)};
        syscall(SYS_futex, reinterpret_cast<uint32_t*>(&state->releases),
                FUTEX_WAIT_BITSET | (shared ? 0 : FUTEX_PRIVATE_FLAG), seen, &at, nullptr, FUTEX_BITSET_MATCH_ANY);
    }
}

class MutexObject : public Object {
public:
    MutexObject(MutexState* state, bool shared, std::shared_ptr<void> storage)
        : m_State(state), m_Mutex(&state->mutex), m_Shared(shared), m_Storage(std::move(storage))
    {
    }

    ~MutexObject() override
    {
        const uint32_t owner = m_Owner.load(std::memory_order_relaxed);
        if (owner == CurrentThreadId()) {
            // The last handle goes while its owner still holds it: give every ownership back.
            for (; m_Count > 0; --m_Count)
                pthread_mutex_unlock(m_Mutex);
        } else if (owner != 0) {
            // Another thread of this process holds it: its robust list points into this memory, which must
            // therefore stay.
            Retire(m_Storage);
        }
    }

    uint32_t Wait(uint32_t milliseconds) override
    {
        int rc;
        if (milliseconds == 0)
            rc = pthread_mutex_trylock(m_Mutex);
        else if (milliseconds == PLAT_INFINITE)
            rc = pthread_mutex_lock(m_Mutex);
        else
            rc = TimedLock(m_State, m_Shared, milliseconds);
        bool abandoned = false;
        if (rc == EOWNERDEAD) {
            pthread_mutex_consistent(m_Mutex);
            abandoned = true;
            rc = 0;
        }
        if (rc == EBUSY || rc == ETIMEDOUT)
            return PLAT_WAIT_TIMEOUT;
        if (rc != 0) {
            PlatSetLastError(PlatErrorFromErrno(rc));
            return PLAT_WAIT_FAILED;
        }
        const uint32_t self = CurrentThreadId();
        if (!abandoned && m_Owner.load(std::memory_order_relaxed) == self) {
            ++m_Count;
        } else {
            m_Owner.store(self, std::memory_order_relaxed);
            m_Count = 1;
        }
        return abandoned ? PLAT_WAIT_ABANDONED : PLAT_WAIT_OBJECT_0;
    }

    bool Release()
    {
        if (m_Owner.load(std::memory_order_relaxed) != CurrentThreadId() || m_Count == 0) {
            PlatSetLastError(PLAT_ERROR_NOT_OWNER);
            return false;
        }
        // Decided before the unlock: afterwards the count belongs to the next owner.
        const bool last = --m_Count == 0;
        if (last)
            m_Owner.store(0, std::memory_order_relaxed);
        int rc = pthread_mutex_unlock(m_Mutex);
        if (rc != 0) {
            PlatSetLastError(PlatErrorFromErrno(rc));
            return false;
        }
        if (last) {
            m_State->releases.fetch_add(1, std::memory_order_release);
            syscall(SYS_futex, reinterpret_cast<uint32_t*>(&m_State->releases),
                    FUTEX_WAKE | (m_Shared ? 0 : FUTEX_PRIVATE_FLAG), INT_MAX, nullptr, nullptr, 0);
        }
        return true;
    }

private:
    MutexState* m_State;
    pthread_mutex_t* m_Mutex;
    bool m_Shared;
    std::shared_ptr<void> m_Storage;  // the heap mutex or the named object's segment
    // This process's view of the owner (a thread id, 0 for none) and its recursion count; written by the
    // owner only.
    std::atomic<uint32_t> m_Owner{0};
    uint32_t m_Count = 0;
};

std::shared_ptr<Object> NewUnnamedMutex()
{
    auto storage = std::make_shared<HeapMutex>();
    storage->ready = InitRobustMutex(&storage->state.mutex, false);
    if (!storage->ready) {
        PlatSetLastError(PLAT_ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    MutexState* state = &storage->state;
    return std::make_shared<MutexObject>(state, false, std::move(storage));
}

}  // namespace

}  // namespace plat

using namespace plat;

PlatHandle PlatCreateMutex(bool initialOwner, const char* name)
{
    bool existed = false;
    std::shared_ptr<MutexObject> object = CreateObject<MutexObject>(
        name, kNamedMutex, sizeof(MutexState),
        [](void* state) {
            auto* s = new (state) MutexState;
            s->releases.store(0);
            InitRobustMutex(&s->mutex, true);
        },
        [](std::shared_ptr<Segment> segment) -> std::shared_ptr<Object> {
            auto* state = static_cast<MutexState*>(segment->State());
            return std::make_shared<MutexObject>(state, true, std::move(segment));
        },
        NewUnnamedMutex, &existed);
    if (!object)
        return nullptr;
    if (initialOwner && !existed)
        object->Wait(PLAT_INFINITE);
    return HandleForCreated(std::move(object), existed);
}

bool PlatReleaseMutex(PlatHandle mutex)
{
    std::shared_ptr<MutexObject> object = Find<MutexObject>(mutex);
    return object && object->Release();
}
