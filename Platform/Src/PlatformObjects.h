#pragma once
// Kernel objects behind handles (private to the stand-in).
#include <atomic>
#include <cstdint>
#include <memory>

#include "PlatformSync.h"

namespace plat {

class Object {
public:
    virtual ~Object() = default;
    // One of the PLAT_WAIT_* results.
    virtual uint32_t Wait(uint32_t milliseconds) = 0;
};

// A new handle for the object (null and PLAT_ERROR_NOT_ENOUGH_MEMORY when that fails).
PlatHandle NewHandle(std::shared_ptr<Object> object);
// The object behind an open handle of type T; null with PLAT_ERROR_INVALID_HANDLE otherwise.
std::shared_ptr<Object> FindObject(PlatHandle handle);
template <class T>
std::shared_ptr<T> Find(PlatHandle handle)
{
    std::shared_ptr<T> object = std::dynamic_pointer_cast<T>(FindObject(handle));
    if (!object)
        PlatSetLastError(PLAT_ERROR_INVALID_HANDLE);
    return object;
}

// Keeps memory that must never be given back (a mutex still held by another thread when its last handle
// closed: the thread's robust list points into it) reachable for the life of the process.
void Retire(std::shared_ptr<void> memory);

// Monotonic time in nanoseconds.
int64_t MonotonicNanoseconds();
// The absolute monotonic deadline `milliseconds` from now.
int64_t DeadlineAfter(uint32_t milliseconds);

// The caller's kernel thread id.
uint32_t CurrentThreadId();

// A 32-bit word waited on with futexes; `shared` when it lives in memory shared between processes.
// Bit 0 is the signalled state. Manual-reset waits leave it signalled; auto-reset waits consume it. A manual-reset
// word counts its sets in the bits above, so a waiter released by a set is not put back to sleep by a reset.
class EventWord {
public:
    static constexpr uint32_t kSignalled = 1;
    static uint32_t Wait(std::atomic<uint32_t>* word, bool manual, bool shared, uint32_t milliseconds);
    static void Set(std::atomic<uint32_t>* word, bool manual, bool shared);
    static void Reset(std::atomic<uint32_t>* word);
};

}  // namespace plat
