#include "KIPEngine2.h"

#include <mutex>
#include <new>

#include "KDebug.h"
#include "KEngineOutcome.h"
#include "KEvent.h"
#include "KIPEngineTestHook.h"
#include "KIThread.h"
#include "KPerfTimer.h"

std::atomic<KEngineStageForTest> g_EngineStageForTest{nullptr};

namespace {
constexpr KUInt32 kIdleWaitMs = 8;
constexpr KUInt32 kExitPollMs = 5;
constexpr int kExitPolls = 1000;  // 5 s in all
constexpr int kWorkerPriority = 2;

bool IsAcceptedKind(KInt32 kind)
{
    return (kind >= kEngineStage1 && kind <= kEngineStage4) || kind == kEngineRotate;
}
}  // namespace

// Everything the worker touches apart from the request: shared between the engine object and the worker, so
// that a worker left running after the engine is gone still finds it.
struct KIPEngine2::Shared {
    KEvent m_Start;
    KEvent m_Done;
    // Taken by Request to test and set the current request, and by the worker to end the request and let go
    // of it in one step: while the pointer is set, the request's state is 1.
    std::mutex m_Lock;
    std::atomic<KIPEngineRequest*> m_pCurrent{nullptr};
    std::atomic<bool> m_Quit{false};
};

KIPEngine2::KIPEngine2() : m_Shared(std::make_shared<Shared>())
{
    // The worker gets its own reference to the shared block through this hand-over.
    auto* handOver = new std::shared_ptr<Shared>(m_Shared);
    m_pThread = KIThread::Create(priWorker, handOver, kWorkerPriority);
    if (!m_pThread) {
        delete handOver;
        throw std::bad_alloc();
    }
}

KIPEngine2::~KIPEngine2()
{
    m_Shared->m_Quit.store(true);
    {
        std::lock_guard<std::mutex> lock(m_Shared->m_Lock);
        if (KIPEngineRequest* current = m_Shared->m_pCurrent.load())
            current->m_Async.SetCancel(true);
    }
    m_Shared->m_Start.Set();
    for (int poll = 0; poll < kExitPolls && !m_pThread->IsFinished(); ++poll)
        SleepMilliseconds(kExitPollMs);
    if (!m_pThread->IsFinished())
        DebugTraceText("KIPEngine2::~KIPEngine2: processing thread failed to exit!\n");
    KIThread::Destroy(m_pThread);
}

void KIPEngine2::Request(KIPEngineRequest& request)
{
    Idle();
    if (!IsAcceptedKind(request.m_Kind)) {
        request.m_Async.Fail(kIpErrUnsupported, KWString(u"KIPEngine2: Unsupported request."));
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_Shared->m_Lock);
        KIPEngineRequest* current = m_Shared->m_pCurrent.load();
        if (current == &request)
            return;  // already running: it runs on undisturbed
        if (current) {
            request.m_Async.Fail(kIpErrBusy, KWString(u"KIPEngine2"));
            return;
        }
        request.m_Async.SetProgress(0.0);
        request.m_Async.SetError(kIpErrNone);
        request.m_Async.SetState(kInProgress);
        m_Shared->m_Done.Reset();
        m_Shared->m_pCurrent.store(&request);
    }
    m_Shared->m_Start.Set();
    Idle();
}

void KIPEngine2::Idle()
{
    if (m_Shared->m_pCurrent.load())
        m_Shared->m_Done.Wait(kIdleWaitMs);
}

KUInt32 KIPEngine2::priWorker(void* argument)
{
    std::shared_ptr<Shared> shared;
    {
        auto* handOver = static_cast<std::shared_ptr<Shared>*>(argument);
        shared = std::move(*handOver);
        delete handOver;
    }
    while (!shared->m_Quit.load()) {
        shared->m_Start.Wait(PLAT_INFINITE);
        KIPEngineRequest* request = shared->m_pCurrent.load();
        if (!request)
            continue;
        KEngineOutcome outcome = priRun(*request);
        {
            std::lock_guard<std::mutex> lock(shared->m_Lock);
            try {
                request->m_Async.End(outcome.m_State, outcome.m_Error, outcome.m_Message);
            } catch (...) {
                request->m_Async.SetError(kIpErrOutOfMemory);
                request->m_Async.SetState(kFailed);
            }
            shared->m_pCurrent.store(nullptr);
        }
        shared->m_Done.Set();
    }
    return 0;
}

void KIPEngine2::Dispatch(KIPEngineRequest& request)
{
    KEngineOutcome outcome = priRun(request);
    request.m_Async.End(outcome.m_State, outcome.m_Error, outcome.m_Message);
}
