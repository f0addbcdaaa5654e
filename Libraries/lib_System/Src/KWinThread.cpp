#include "KWinThread.h"

#include <atomic>
#include <new>

#include "KDebug.h"
#include "PlatformThread.h"

struct KWinThread::Control {
    KThreadBody body;
    void* argument;
    std::atomic<KUInt32> exitValue{kRunningExitValue};
    std::atomic<bool> finished{false};
};

KIThread* KIThread::Create(KThreadBody body, void* argument, int priority)
{
    try {
        return new KWinThread(body, argument, priority);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void KIThread::Destroy(KIThread*& thread)
{
    delete thread;
    thread = nullptr;
}

KWinThread::KWinThread(KThreadBody body, void* argument, int priority) : m_Control(std::make_shared<Control>())
{
    m_Control->body = body;
    m_Control->argument = argument;
    // The running thread owns a reference of its own, handed over through this block.
    auto* handOver = new std::shared_ptr<Control>(m_Control);
    PlatHandle thread = PlatCreateThread(kStackSize, priTrampoline, handOver, &m_ThreadId);
    if (!thread) {
        delete handOver;
        DebugTrace("%s failed", "KWinThread:CreateThread()");
    } else {
        m_Thread = thread;
    }
    SetPriority(priority);
}

KWinThread::~KWinThread()
{
    if (!m_Control->finished.load(std::memory_order_acquire)) {
        // It cannot be terminated here: it runs on, detached, and keeps its control block.
        DebugTraceText("WARNING: Forcibly terminating thread in KWinThread destructor");
    }
    if (m_Thread != PLAT_INVALID_HANDLE_VALUE && !PlatCloseHandle(m_Thread))
        DebugTrace("%s failed", "~KWinThread:CloseHandle");
}

KUInt32 KWinThread::priTrampoline(void* raw)
{
    std::shared_ptr<Control> control;
    {
        auto* handOver = static_cast<std::shared_ptr<Control>*>(raw);
        control = std::move(*handOver);
        delete handOver;
    }
    KUInt32 value;
    try {
        value = control->body ? control->body(control->argument) : kExceptionExitValue;
    } catch (...) {
        value = kExceptionExitValue;
    }
    control->exitValue.store(value, std::memory_order_release);
    control->finished.store(true, std::memory_order_release);
    return 0;
}

bool KWinThread::IsFinished() const
{
    return m_Control->finished.load(std::memory_order_acquire);
}

KUInt32 KWinThread::GetExitValue() const
{
    return m_Control->exitValue.load(std::memory_order_acquire);
}

void KWinThread::SetPriority(int level)
{
    m_Priority = level;
    int priority;
    switch (level) {
    case 0:
        priority = PLAT_THREAD_PRIORITY_LOWEST;
        break;
    case 1:
        priority = PLAT_THREAD_PRIORITY_BELOW_NORMAL;
        break;
    case 3:
        priority = PLAT_THREAD_PRIORITY_ABOVE_NORMAL;
        break;
    case 4:
        priority = PLAT_THREAD_PRIORITY_HIGHEST;
        break;
    default:
        priority = PLAT_THREAD_PRIORITY_NORMAL;
        break;
    }
    if (!PlatSetThreadPriority(m_Thread, priority))
        DebugTrace("%s failed", "KWinThread::SetPriority:SetThreadPriority");
}

int KWinThread::GetPriority() const
{
    return m_Priority;
}
