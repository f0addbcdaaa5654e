// The handle table, and small pieces shared by the kernel objects.
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "PlatformObjects.h"

namespace plat {

namespace {

struct HandleTable {
    std::mutex lock;
    std::unordered_map<uintptr_t, std::shared_ptr<Object>> objects;
    // Handle values are never reused, so a stale handle can never reach a newer object.
    uintptr_t next = 0x100;
};

// Never destroyed: threads may still close handles while the process exits.
HandleTable& Table()
{
    static HandleTable* table = new HandleTable;
    return *table;
}

}  // namespace

PlatHandle NewHandle(std::shared_ptr<Object> object)
{
    try {
        HandleTable& t = Table();
        std::lock_guard<std::mutex> guard(t.lock);
        uintptr_t value = t.next;
        t.objects.emplace(value, std::move(object));
        t.next += 4;
        return reinterpret_cast<PlatHandle>(value);
    } catch (const std::bad_alloc&) {
        PlatSetLastError(PLAT_ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

namespace {

// The object behind an open handle, taken out of the table when `close`; null with PLAT_ERROR_INVALID_HANDLE.
std::shared_ptr<Object> Lookup(PlatHandle handle, bool close)
{
    HandleTable& t = Table();
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == t.objects.end()) {
        PlatSetLastError(PLAT_ERROR_INVALID_HANDLE);
        return nullptr;
    }
    std::shared_ptr<Object> object = it->second;
    if (close)
        t.objects.erase(it);
    return object;
}

}  // namespace

std::shared_ptr<Object> FindObject(PlatHandle handle)
{
    return Lookup(handle, false);
}

void Retire(std::shared_ptr<void> memory)
{
    static std::mutex lock;
    static auto* retired = new std::vector<std::shared_ptr<void>>;
    std::lock_guard<std::mutex> guard(lock);
    retired->push_back(std::move(memory));
}

int64_t MonotonicNanoseconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t DeadlineAfter(uint32_t milliseconds)
{
    return MonotonicNanoseconds() + static_cast<int64_t>(milliseconds) * 1000000;
}

uint32_t CurrentThreadId()
{
    // Not cached: a forked child's thread has an id of its own.
    return static_cast<uint32_t>(gettid());
}

uint32_t EventWord::Wait(std::atomic<uint32_t>* word, bool manual, bool shared, uint32_t milliseconds)
{
    const int64_t deadline = milliseconds == PLAT_INFINITE ? 0 : DeadlineAfter(milliseconds);
    const int op = FUTEX_WAIT_BITSET | (shared ? 0 : FUTEX_PRIVATE_FLAG);
    // A manual-reset wait is satisfied by the set itself: a set seen as a new generation releases the waiter even
    // when another thread reset the event before the waiter ran.
    const uint32_t started = word->load(std::memory_order_acquire);
    for (;;) {
        uint32_t expected = 0;
        if (manual) {
            expected = word->load(std::memory_order_acquire);
            if ((expected & kSignalled) != 0 || (expected >> 1) != (started >> 1))
                return PLAT_WAIT_OBJECT_0;
        } else {
            uint32_t signalled = 1;
            if (word->compare_exchange_strong(signalled, 0, std::memory_order_acq_rel))
                return PLAT_WAIT_OBJECT_0;
        }
        timespec at{};
        if (milliseconds != PLAT_INFINITE) {
            if (MonotonicNanoseconds() >= deadline)
                return PLAT_WAIT_TIMEOUT;
            at.tv_sec = deadline / 1000000000;
            at.tv_nsec = deadline % 1000000000;
        }
        // Sleeps only while the word is unchanged; FUTEX_WAIT_BITSET takes an absolute CLOCK_MONOTONIC time.
        long rc = syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), op, expected,
                          milliseconds == PLAT_INFINITE ? nullptr : &at, nullptr, FUTEX_BITSET_MATCH_ANY);
        if (rc != 0 && errno != EAGAIN && errno != EINTR && errno != ETIMEDOUT) {
            PlatSetLastError(PlatErrorFromErrno(errno));
            return PLAT_WAIT_FAILED;
        }
    }
}

void EventWord::Set(std::atomic<uint32_t>* word, bool manual, bool shared)
{
    if (manual) {
        // Signalled, and the generation (the bits above) moves on.
        uint32_t w = word->load(std::memory_order_relaxed);
        while (!word->compare_exchange_weak(w, (w + 2) | kSignalled, std::memory_order_release,
                                            std::memory_order_relaxed)) {
        }
    } else {
        word->store(kSignalled, std::memory_order_release);
    }
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE | (shared ? 0 : FUTEX_PRIVATE_FLAG),
            manual ? INT_MAX : 1, nullptr, nullptr, 0);
}

void EventWord::Reset(std::atomic<uint32_t>* word)
{
    word->fetch_and(~kSignalled, std::memory_order_release);
}

}  // namespace plat

using namespace plat;

uint32_t PlatWaitForSingleObject(PlatHandle object, uint32_t milliseconds)
{
    std::shared_ptr<Object> o = FindObject(object);
    if (!o)
        return PLAT_WAIT_FAILED;
    return o->Wait(milliseconds);
}

bool PlatCloseHandle(PlatHandle object)
{
    // The object goes (when this was its last reference) here, outside the table's lock.
    return Lookup(object, true) != nullptr;
}
