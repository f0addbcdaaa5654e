#pragma once
// Named objects shared between processes (private to the stand-in).
//
// Each named object is a small file in the machine folder's "objects" folder, mapped shared into every
// process that opens it; the object's state (a process-shared robust mutex, an event word) lives in that
// memory. Why files with flock:
//  - a robust process-shared pthread mutex in shared memory gives exactly the mutex the system expects across
//    processes: thread ownership, recursion, timed waits, and EOWNERDEAD for the next taker when the holder
//    dies (the kernel walks a dead thread's robust list), so a crashed holder never leaves it locked;
//  - every opener holds a shared flock on the file for as long as it has the object open, and the kernel
//    drops it when the process dies. So "is this object open anywhere?" is answered by trying an exclusive
//    flock: when that succeeds nobody has it, and the opener (re)initialises the memory. That gives the
//    "already exists" answer that single-instance checks rely on, and stale files left by crashed processes
//    are simply reused;
//  - opening runs under an exclusive flock on "objects/.guard", so creation and that test never race;
//  - it lives in the machine folder, so LUMO_MACHINE isolates tests like all other machine state.
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>

#include "PlatformObjects.h"

namespace plat {

enum : uint32_t {
    kNamedMutex = 1,
    kNamedEvent = 2,
    kNamedSection = 3,
};

// A mapping of one named object's file; unmapped and closed when the last reference goes.
class Segment {
public:
    Segment(int fd, void* memory, size_t size) : m_Fd(fd), m_Memory(memory), m_Size(size) {}
    ~Segment();
    Segment(const Segment&) = delete;
    Segment& operator=(const Segment&) = delete;

    // The object's state: the bytes after the header.
    void* State() const;

private:
    int m_Fd;
    void* m_Memory;
    size_t m_Size;
};

// The process's object for `name`, opening or creating the shared memory when the process has none yet.
// `size` bytes of object state follow a header in the mapping; `init` prepares them when this call is the
// first opener anywhere; `make` builds the process's object over the mapping. `existed` tells whether the
// object was already open somewhere. Null on failure, with the last error set (PLAT_ERROR_INVALID_HANDLE when
// the name belongs to an object of another kind).
std::shared_ptr<Object> OpenNamed(const char* name, uint32_t kind, size_t size,
                                  const std::function<void(void*)>& init,
                                  const std::function<std::shared_ptr<Object>(std::shared_ptr<Segment>)>& make,
                                  bool* existed);

// True for a name that makes an unnamed object (null or empty).
inline bool IsUnnamed(const char* name)
{
    return !name || !*name;
}

// The object of a Create function: a new one from makeUnnamed, or for a name the process's object as OpenNamed
// answers it. Null with the last error set on failure, also when the name belongs to another kind than T.
template <class T>
std::shared_ptr<T> CreateObject(const char* name, uint32_t kind, size_t size, const std::function<void(void*)>& init,
                                const std::function<std::shared_ptr<Object>(std::shared_ptr<Segment>)>& make,
                                const std::function<std::shared_ptr<Object>()>& makeUnnamed, bool* existed)
{
    std::shared_ptr<Object> object;
    *existed = false;
    try {
        object = IsUnnamed(name) ? makeUnnamed() : OpenNamed(name, kind, size, init, make, existed);
    } catch (const std::bad_alloc&) {
        PlatSetLastError(PLAT_ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!object)
        return nullptr;
    std::shared_ptr<T> typed = std::dynamic_pointer_cast<T>(object);
    if (!typed)
        PlatSetLastError(PLAT_ERROR_INVALID_HANDLE);
    return typed;
}

// A handle for a created object; the last error tells whether its name existed already.
PlatHandle HandleForCreated(std::shared_ptr<Object> object, bool existed);

}  // namespace plat
