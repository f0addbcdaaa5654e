#include "PlatformThread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <new>

#include "PlatformObjects.h"

namespace plat {

namespace {

class ThreadObject : public Object {
public:
    uint32_t Wait(uint32_t milliseconds) override { return EventWord::Wait(&m_Ended, true, false, milliseconds); }

    std::mutex m_Lock;
    std::condition_variable m_Started;
    uint32_t m_Tid = 0;       // under m_Lock; set once the thread runs
    bool m_Finished = false;  // under m_Lock; from then on m_Tid may name another thread
    std::atomic<uint32_t> m_ExitCode{PLAT_STILL_ACTIVE};
    std::atomic<uint32_t> m_Ended{0};
};

struct StartBlock {
    std::shared_ptr<ThreadObject> thread;
    PlatThreadStart start;
    void* argument;
};

void* Trampoline(void* raw)
{
    std::shared_ptr<ThreadObject> thread;
    PlatThreadStart start;
    void* argument;
    {
        std::unique_ptr<StartBlock> block(static_cast<StartBlock*>(raw));
        thread = std::move(block->thread);
        start = block->start;
        argument = block->argument;
    }
    {
        std::lock_guard<std::mutex> guard(thread->m_Lock);
        thread->m_Tid = CurrentThreadId();
    }
    thread->m_Started.notify_all();
    uint32_t code = start(argument);
    {
        std::lock_guard<std::mutex> guard(thread->m_Lock);
        thread->m_Finished = true;
    }
    thread->m_ExitCode.store(code, std::memory_order_release);
    EventWord::Set(&thread->m_Ended, true, false);
    return nullptr;
}

// The process's nice value when threads were first given priorities: the "normal" of every thread.
int BaseNice()
{
    static const int base = [] {
        errno = 0;
        int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
        return errno == 0 ? nice : 0;
    }();
    return base;
}

}  // namespace

}  // namespace plat

using namespace plat;

PlatHandle PlatCreateThread(size_t stackSize, PlatThreadStart start, void* argument, uint32_t* threadId)
{
    if (!start) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::shared_ptr<ThreadObject> thread;
    StartBlock* block = nullptr;
    try {
        thread = std::make_shared<ThreadObject>();
        block = new StartBlock{thread, start, argument};
    } catch (const std::bad_alloc&) {
        PlatSetLastError(PLAT_ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t stack = stackSize > PLAT_MIN_THREAD_STACK ? stackSize : PLAT_MIN_THREAD_STACK;
    stack = (stack + page - 1) / page * page;

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    int rc = pthread_attr_setstacksize(&attr, stack);
    pthread_t id;
    if (rc == 0)
        rc = pthread_create(&id, &attr, Trampoline, block);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete block;
        PlatSetLastError(rc == EAGAIN ? PLAT_ERROR_NOT_ENOUGH_MEMORY : PlatErrorFromErrno(rc));
        return nullptr;
    }
    uint32_t tid;
    {
        std::unique_lock<std::mutex> guard(thread->m_Lock);
        thread->m_Started.wait(guard, [&] { return thread->m_Tid != 0; });
        tid = thread->m_Tid;
    }
    if (threadId)
        *threadId = tid;
    // When no handle can be made the thread still runs to its end; only the caller cannot see it.
    return NewHandle(std::move(thread));
}

bool PlatSetThreadPriority(PlatHandle handle, int priority)
{
    if (priority < PLAT_THREAD_PRIORITY_LOWEST || priority > PLAT_THREAD_PRIORITY_HIGHEST) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return false;
    }
    std::shared_ptr<ThreadObject> thread = Find<ThreadObject>(handle);
    if (!thread)
        return false;
    std::lock_guard<std::mutex> guard(thread->m_Lock);
    if (thread->m_Finished)
        return true;
    // Linux threads each have a nice value of their own, set through the thread id.
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(thread->m_Tid), BaseNice() - priority) != 0) {
        PlatSetLastError(PlatErrorFromErrno(errno));
        return false;
    }
    return true;
}

bool PlatGetExitCodeThread(PlatHandle handle, uint32_t* exitCode)
{
    std::shared_ptr<ThreadObject> thread = Find<ThreadObject>(handle);
    if (!thread || !exitCode) {
        if (thread)
            PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return false;
    }
    *exitCode = thread->m_ExitCode.load(std::memory_order_acquire);
    return true;
}

uint32_t PlatGetCurrentThreadId()
{
    return CurrentThreadId();
}

int PlatGetProcessorCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0)
            return count;
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}
