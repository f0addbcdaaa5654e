#pragma once
// Waitable objects of the stand-in: mutexes and events, unnamed or named, the single-object wait with a
// time-out, handles, and critical sections.
//
// A mutex is owned by one thread at a time and is recursive for its owner (each wait that succeeds needs one
// release). When its owner thread or process ends while holding it, the next wait that takes it answers
// PLAT_WAIT_ABANDONED (and owns it). An event is manual-reset (stays signalled until reset) or auto-reset
// (releases one waiter, then resets itself).
//
// Named objects are shared by name within the process and with every other process of the same machine
// (PlatformMachine.h): creating a name that is open somewhere returns a handle to that object with
// PLAT_ERROR_ALREADY_EXISTS as last error. Mutexes and events share one name space; a name taken by the other
// kind fails with PLAT_ERROR_INVALID_HANDLE. An object lives while any process has a handle to it.
//
// Every function may be called from any thread. A handle stays usable until PlatCloseHandle; a wait running
// on it when it is closed finishes normally.
#include <cstdint>

#include "PlatformError.h"

using PlatHandle = void*;

// The value of a handle word that holds no handle (all bits set). Create functions answer null on failure.
#define PLAT_INVALID_HANDLE_VALUE (reinterpret_cast<PlatHandle>(~static_cast<uintptr_t>(0)))

enum : uint32_t { PLAT_INFINITE = 0xFFFFFFFFu };

// Results of PlatWaitForSingleObject.
enum : uint32_t {
    PLAT_WAIT_OBJECT_0 = 0,       // signalled (a mutex is now owned by the caller)
    PLAT_WAIT_ABANDONED = 0x80,   // a mutex whose owner ended while holding it; now owned by the caller
    PLAT_WAIT_TIMEOUT = 0x102,
    PLAT_WAIT_FAILED = 0xFFFFFFFFu,  // see PlatGetLastError
};

// Longest name of a named object, in bytes of UTF-8; longer names fail with PLAT_ERROR_FILENAME_EXCED_RANGE.
enum : uint32_t { PLAT_MAX_OBJECT_NAME = 260 };

// A mutex; name null or empty gives an unnamed one. initialOwner takes it at once, unless the name already
// existed. Null on failure.
PlatHandle PlatCreateMutex(bool initialOwner, const char* name);
// Gives back one ownership; false (PLAT_ERROR_NOT_OWNER) when the caller does not own it.
bool PlatReleaseMutex(PlatHandle mutex);

// An event; name as for mutexes (an existing named event keeps its kind and state). Null on failure.
PlatHandle PlatCreateEvent(bool manualReset, bool initialState, const char* name);
bool PlatSetEvent(PlatHandle event);
bool PlatResetEvent(PlatHandle event);

// Waits until the object is signalled (a mutex: until the caller owns it; a thread: until it has ended), or
// for at most `milliseconds` (0 tests and returns at once, PLAT_INFINITE waits without limit).
uint32_t PlatWaitForSingleObject(PlatHandle object, uint32_t milliseconds);

// Gives back a handle of any kind. False (PLAT_ERROR_INVALID_HANDLE) for a handle that is not open.
bool PlatCloseHandle(PlatHandle object);

// A critical section: recursive for its owner thread, for the threads of one process.
struct PlatCriticalSection;
PlatCriticalSection* PlatNewCriticalSection();  // null when memory runs out
void PlatDeleteCriticalSection(PlatCriticalSection* section);
void PlatEnterCriticalSection(PlatCriticalSection* section);
bool PlatTryEnterCriticalSection(PlatCriticalSection* section);
void PlatLeaveCriticalSection(PlatCriticalSection* section);
