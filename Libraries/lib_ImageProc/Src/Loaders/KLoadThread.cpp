#include "KLoadThread.h"

#include <new>

#include "KDebug.h"
#include "KEvent.h"
#include "KIThread.h"
#include "KLoaderTestHook.h"
#include "KPerfTimer.h"

std::atomic<KLoaderHookForTest> g_LoaderHookForTest{nullptr};

namespace {
constexpr KUInt32 kExitWaitMs = 45 * 109;  // 45 polls of 0.109 s
constexpr KUInt32 kExitPollMs = 1;
constexpr KUInt32 kPendingPollMs = 100;
}  // namespace

struct KLoadThread::Shared {
    KEvent m_Work;
    KEvent m_Done;
    // The request handed to the thread; set by Queue, cleared by the thread once it is done with it. The
    // requester may free a request as soon as its status is final, so the pointer is only compared with null
    // after that: m_Handled says whether the thread has finished the pending request.
    std::atomic<KLoaderRequest*> m_pPending{nullptr};
    std::atomic<bool> m_Handled{false};
    std::atomic<bool> m_Quit{false};
    KLoaderHandler m_Handler = nullptr;
    bool m_SignalsDone = false;
    // An object that must outlive a request the thread may still be running; freed with this block.
    std::shared_ptr<void> m_Kept;
};

KLoadThread::KLoadThread(const char* name, int priority, bool doneEvent, KLoaderHandler handler)
    : m_pName(name), m_Shared(std::make_shared<Shared>())
{
    m_Shared->m_Handler = handler;
    m_Shared->m_SignalsDone = doneEvent;
    auto* handOver = new std::shared_ptr<Shared>(m_Shared);
    m_pThread = KIThread::Create(priRun, handOver, priority);
    if (!m_pThread) {
        delete handOver;
        throw std::bad_alloc();
    }
}

KLoadThread::~KLoadThread()
{
    m_Shared->m_Quit.store(true);
    m_Shared->m_Work.Set();
    for (KUInt32 waited = 0; waited < kExitWaitMs && !m_pThread->IsFinished(); waited += kExitPollMs)
        SleepMilliseconds(kExitPollMs);
    if (!m_pThread->IsFinished())
        DebugTrace("%s::~%s: load thread failed to exit!\n", m_pName, m_pName);
    KIThread::Destroy(m_pThread);
}

void KLoadThread::RunNow(KLoaderRequest& request)
{
    request.Begin();
    priHandle(m_Shared->m_Handler, request).WriteTo(request);
}

void KLoadThread::Queue(KLoaderRequest& request)
{
    Shared& shared = *m_Shared;
    if (shared.m_pPending.load()) {
        if (!shared.m_Handled.load()) {
            request.Fail(kIpErrBusy, KWString(m_pName));
            return;
        }
        // Finished, but the thread has not let go of it yet.
        if (shared.m_SignalsDone)
            shared.m_Done.Wait(PLAT_INFINITE);
        while (shared.m_pPending.load())
            SleepMilliseconds(kPendingPollMs);
    }
    request.Begin();
    if (shared.m_SignalsDone)
        shared.m_Done.Reset();
    shared.m_Handled.store(false);
    shared.m_pPending.store(&request);
    shared.m_Work.Set();
    if (shared.m_SignalsDone)
        Idle(100);
}

void KLoadThread::Idle(KUInt32 milliseconds)
{
    if (m_Shared->m_SignalsDone && m_Shared->m_pPending.load())
        m_Shared->m_Done.Wait(milliseconds);
}

void KLoadThread::KeepAlive(std::shared_ptr<void> holder) noexcept
{
    m_Shared->m_Kept = std::move(holder);
}

KLoaderOutcome KLoadThread::priHandle(KLoaderHandler handler, KLoaderRequest& request)
{
    try {
        return handler(request);
    } catch (...) {
        // The handlers map their own exceptions; this is only the making of the outcome itself.
        return KLoaderOutcome{kFailed, kIpErrOutOfMemory, KWString()};
    }
}

KUInt32 KLoadThread::priRun(void* argument)
{
    std::shared_ptr<Shared> shared;
    {
        auto* handOver = static_cast<std::shared_ptr<Shared>*>(argument);
        shared = std::move(*handOver);
        delete handOver;
    }
    while (!shared->m_Quit.load()) {
        shared->m_Work.Wait(PLAT_INFINITE);
        KLoaderRequest* request = shared->m_pPending.load();
        if (!request)
            continue;
        if (KLoaderHookForTest hook = g_LoaderHookForTest.load())
            hook(*request);
        KLoaderOutcome outcome = priHandle(shared->m_Handler, *request);
        shared->m_Handled.store(true);
        outcome.WriteTo(*request);  // the requester may free the request from here on
        shared->m_pPending.store(nullptr);
        if (shared->m_SignalsDone)
            shared->m_Done.Set();
    }
    return 0;
}
