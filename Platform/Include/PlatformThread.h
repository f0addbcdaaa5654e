#pragma once
// Threads of the stand-in (pthreads).
//
// A thread handle is a waitable object (PlatformSync.h) that becomes signalled when the thread has ended.
// Closing the handle does not stop the thread: there is no safe way to kill a thread here, so a thread always
// runs until its start routine returns. Threads are detached: nobody needs to join them.
#include <cstddef>
#include <cstdint>

#include "PlatformSync.h"

using PlatThreadStart = uint32_t (*)(void* argument);

// Every thread gets at least this much stack whatever it asks for: stacks are reserved, not committed, and
// codecs and sanitizer builds need far more than the sizes the system's classes ask for.
constexpr size_t PLAT_MIN_THREAD_STACK = 4u << 20;

// Exit code read while a thread still runs.
enum : uint32_t { PLAT_STILL_ACTIVE = 259 };

// Relative priorities.
enum : int {
    PLAT_THREAD_PRIORITY_LOWEST = -2,
    PLAT_THREAD_PRIORITY_BELOW_NORMAL = -1,
    PLAT_THREAD_PRIORITY_NORMAL = 0,
    PLAT_THREAD_PRIORITY_ABOVE_NORMAL = 1,
    PLAT_THREAD_PRIORITY_HIGHEST = 2,
};

// Starts start(argument) on a new thread with a stack of at least stackSize bytes. The thread's id goes to
// *threadId when that is not null. Null on failure.
PlatHandle PlatCreateThread(size_t stackSize, PlatThreadStart start, void* argument, uint32_t* threadId);

// Sets a thread's priority as a nice value relative to the process's (lowest = 2 nicer, highest = 2 less
// nice). Raising a thread above the process's priority, or back up after lowering it, needs a privilege that
// ordinary users lack: that fails with PLAT_ERROR_ACCESS_DENIED. Other values than -2..2 fail with
// PLAT_ERROR_INVALID_PARAMETER. A thread that has already ended accepts any priority.
bool PlatSetThreadPriority(PlatHandle thread, int priority);

// The thread's exit code (the start routine's result), PLAT_STILL_ACTIVE while it runs.
bool PlatGetExitCodeThread(PlatHandle thread, uint32_t* exitCode);

// The calling thread's id (unique among the running threads of the machine).
uint32_t PlatGetCurrentThreadId();

// The processors this process may run on (its affinity mask), at least 1.
int PlatGetProcessorCount();
