// Bug checks, DbgPrint, IRQL, spin locks, interlocked lists, events, waits and time.
#include <sched.h>
#include <time.h>
#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "KernelPrivate.h"
#include "PlatformKernelHost.h"

namespace {

thread_local KIRQL t_Irql = PASSIVE_LEVEL;
std::atomic<unsigned> g_Breaks{0};

struct TraceSinks {
    std::mutex lock;
    std::vector<KernDbgPrintCapture*> captures;
    FILE* echo = nullptr;
};
TraceSinks& Sinks()
{
    static TraceSinks* sinks = new TraceSinks;
    return *sinks;
}

bool TraceToStderr()
{
    const char* v = std::getenv("LUMO_TRACE");
    return v && *v && std::strcmp(v, "0") != 0;
}

std::chrono::steady_clock::time_point StartTime()
{
    static const auto start = std::chrono::steady_clock::now();
    return start;
}

LONGLONG SystemTimeNow()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return (static_cast<LONGLONG>(ts.tv_sec) + 11644473600LL) * 10000000LL + ts.tv_nsec / 100;
}

// The steady-clock deadline of a time-out in 100-ns units (negative relative, positive absolute system time).
std::chrono::steady_clock::time_point Deadline(LONGLONG timeout)
{
    LONGLONG relative = timeout < 0 ? -timeout : timeout - SystemTimeNow();
    if (relative < 0)
        relative = 0;
    return std::chrono::steady_clock::now() + std::chrono::nanoseconds(relative) * 100;
}

}  // namespace

// ---- Bug checks and diagnostics --------------------------------------------------------------------------------

void KernBugCheck(const char* what)
{
    std::fprintf(stderr, "bug check: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

extern "C" void KeBugCheckEx(ULONG code, ULONG_PTR p1, ULONG_PTR p2, ULONG_PTR p3, ULONG_PTR p4)
{
    char what[160];
    std::snprintf(what, sizeof what, "0x%08X (0x%zX, 0x%zX, 0x%zX, 0x%zX)", code, static_cast<size_t>(p1),
                  static_cast<size_t>(p2), static_cast<size_t>(p3), static_cast<size_t>(p4));
    KernBugCheck(what);
}

void KernTrace(const char* text)
{
    TraceSinks& sinks = Sinks();
    std::lock_guard<std::mutex> guard(sinks.lock);
    for (KernDbgPrintCapture* capture : sinks.captures)
        capture->Append(text);
    if (sinks.echo) {
        std::fputs(text, sinks.echo);
        std::fflush(sinks.echo);
    }
    if (TraceToStderr())
        std::fputs(text, stderr);
}

extern "C" ULONG DbgPrint(PCSTR format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format ? format : "", args);
    va_end(args);
    KernTrace(text);
    return STATUS_SUCCESS;
}

extern "C" void DbgBreakPoint()
{
    unsigned n = ++g_Breaks;
    char text[64];
    std::snprintf(text, sizeof text, "DbgBreakPoint: break %u\n", n);
    KernTrace(text);
}

unsigned KernGetBreakCount()
{
    return g_Breaks.load();
}

void KernSetDbgPrintEcho(FILE* stream)
{
    std::lock_guard<std::mutex> guard(Sinks().lock);
    Sinks().echo = stream;
}

KernDbgPrintCapture::KernDbgPrintCapture()
{
    std::lock_guard<std::mutex> guard(Sinks().lock);
    Sinks().captures.push_back(this);
}

KernDbgPrintCapture::~KernDbgPrintCapture()
{
    std::lock_guard<std::mutex> guard(Sinks().lock);
    auto& list = Sinks().captures;
    for (auto it = list.begin(); it != list.end(); ++it)
        if (*it == this) {
            list.erase(it);
            break;
        }
}

std::string KernDbgPrintCapture::Text() const
{
    std::lock_guard<std::mutex> guard(m_Lock);
    return m_Text;
}

bool KernDbgPrintCapture::Contains(const std::string& piece) const
{
    return Text().find(piece) != std::string::npos;
}

void KernDbgPrintCapture::Append(const char* text)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    m_Text += text;
}

// ---- IRQL and spin locks -------------------------------------------------------------------------------------------

void KernSetIrql(KIRQL irql)
{
    t_Irql = irql;
}

extern "C" KIRQL KeGetCurrentIrql()
{
    return t_Irql;
}

extern "C" void KeRaiseIrql(KIRQL newIrql, PKIRQL oldIrql)
{
    if (newIrql < t_Irql)
        KernBugCheck("IRQL raised to a lower level");
    if (oldIrql)
        *oldIrql = t_Irql;
    t_Irql = newIrql;
}

extern "C" void KeLowerIrql(KIRQL newIrql)
{
    if (newIrql > t_Irql)
        KernBugCheck("IRQL lowered to a higher level");
    t_Irql = newIrql;
}

extern "C" KIRQL KeRaiseIrqlToDpcLevel()
{
    KIRQL old = PASSIVE_LEVEL;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    return old;
}

void KernSpinAcquire(PKSPIN_LOCK lock)
{
    unsigned spins = 0;
    while (__atomic_exchange_n(lock, static_cast<KSPIN_LOCK>(1), __ATOMIC_ACQUIRE) != 0) {
        if (++spins > 64)
            sched_yield();
    }
}

void KernSpinRelease(PKSPIN_LOCK lock)
{
    __atomic_store_n(lock, static_cast<KSPIN_LOCK>(0), __ATOMIC_RELEASE);
}

extern "C" void KeInitializeSpinLock(PKSPIN_LOCK lock)
{
    *lock = 0;
}

extern "C" void KeAcquireSpinLock(PKSPIN_LOCK lock, PKIRQL oldIrql)
{
    if (t_Irql > DISPATCH_LEVEL)
        KernBugCheck("spin lock acquired above DISPATCH_LEVEL");
    KeRaiseIrql(DISPATCH_LEVEL, oldIrql);
    KernSpinAcquire(lock);
}

extern "C" void KeReleaseSpinLock(PKSPIN_LOCK lock, KIRQL newIrql)
{
    if (__atomic_load_n(lock, __ATOMIC_RELAXED) == 0)
        KernBugCheck("releasing a spin lock that is not held");
    KernSpinRelease(lock);
    KeLowerIrql(newIrql);
}

extern "C" void KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK lock)
{
    if (t_Irql < DISPATCH_LEVEL)
        KernBugCheck("spin lock acquired at DPC level below DISPATCH_LEVEL");
    KernSpinAcquire(lock);
}

extern "C" void KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK lock)
{
    if (__atomic_load_n(lock, __ATOMIC_RELAXED) == 0)
        KernBugCheck("releasing a spin lock that is not held");
    KernSpinRelease(lock);
}

// ---- Interlocked lists -------------------------------------------------------------------------------------------------

extern "C" PLIST_ENTRY ExInterlockedInsertHeadList(PLIST_ENTRY head, PLIST_ENTRY entry, PKSPIN_LOCK lock)
{
    KIRQL old;
    KeAcquireSpinLock(lock, &old);
    PLIST_ENTRY first = IsListEmpty(head) ? nullptr : head->Flink;
    InsertHeadList(head, entry);
    KeReleaseSpinLock(lock, old);
    return first;
}

extern "C" PLIST_ENTRY ExInterlockedInsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry, PKSPIN_LOCK lock)
{
    KIRQL old;
    KeAcquireSpinLock(lock, &old);
    PLIST_ENTRY last = IsListEmpty(head) ? nullptr : head->Blink;
    InsertTailList(head, entry);
    KeReleaseSpinLock(lock, old);
    return last;
}

extern "C" PLIST_ENTRY ExInterlockedRemoveHeadList(PLIST_ENTRY head, PKSPIN_LOCK lock)
{
    KIRQL old;
    KeAcquireSpinLock(lock, &old);
    PLIST_ENTRY entry = IsListEmpty(head) ? nullptr : RemoveHeadList(head);
    KeReleaseSpinLock(lock, old);
    return entry;
}

extern "C" PSINGLE_LIST_ENTRY ExInterlockedPushEntryList(PSINGLE_LIST_ENTRY head, PSINGLE_LIST_ENTRY entry,
                                                         PKSPIN_LOCK lock)
{
    KIRQL old;
    KeAcquireSpinLock(lock, &old);
    PSINGLE_LIST_ENTRY first = head->Next;
    PushEntryList(head, entry);
    KeReleaseSpinLock(lock, old);
    return first;
}

extern "C" PSINGLE_LIST_ENTRY ExInterlockedPopEntryList(PSINGLE_LIST_ENTRY head, PKSPIN_LOCK lock)
{
    KIRQL old;
    KeAcquireSpinLock(lock, &old);
    PSINGLE_LIST_ENTRY first = PopEntryList(head);
    KeReleaseSpinLock(lock, old);
    return first;
}

// ---- Events and waits --------------------------------------------------------------------------------------------------

std::mutex& KernDispatcherLock()
{
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::condition_variable& KernDispatcherCondition()
{
    static std::condition_variable* condition = new std::condition_variable;
    return *condition;
}

extern "C" void KeInitializeEvent(PKEVENT event, EVENT_TYPE type, BOOLEAN state)
{
    std::memset(event, 0, sizeof *event);
    event->Header.Type = static_cast<UCHAR>(type);
    event->Header.SignalState = state ? 1 : 0;
}

extern "C" LONG KeSetEvent(PKEVENT event, KPRIORITY, BOOLEAN)
{
    if (t_Irql > DISPATCH_LEVEL)
        KernBugCheck("event set above DISPATCH_LEVEL");
    LONG previous;
    {
        std::lock_guard<std::mutex> guard(KernDispatcherLock());
        previous = event->Header.SignalState;
        event->Header.SignalState = 1;
    }
    KernDispatcherCondition().notify_all();
    return previous;
}

extern "C" LONG KeResetEvent(PKEVENT event)
{
    std::lock_guard<std::mutex> guard(KernDispatcherLock());
    LONG previous = event->Header.SignalState;
    event->Header.SignalState = 0;
    return previous;
}

extern "C" void KeClearEvent(PKEVENT event)
{
    KeResetEvent(event);
}

extern "C" LONG KeReadStateEvent(PKEVENT event)
{
    std::lock_guard<std::mutex> guard(KernDispatcherLock());
    return event->Header.SignalState;
}

extern "C" NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER timeout)
{
    bool blocking = !timeout || timeout->QuadPart != 0;
    if (blocking && t_Irql >= DISPATCH_LEVEL)
        KernBugCheck("blocking wait at DISPATCH_LEVEL");
    if (!blocking && t_Irql > DISPATCH_LEVEL)
        KernBugCheck("wait above DISPATCH_LEVEL");
    auto* event = static_cast<PKEVENT>(object);
    if (!event)
        KernBugCheck("wait on no object");
    const bool limited = timeout != nullptr;
    const auto deadline = limited ? Deadline(timeout->QuadPart) : std::chrono::steady_clock::time_point{};
    std::unique_lock<std::mutex> lock(KernDispatcherLock());
    for (;;) {
        if (event->Header.SignalState) {
            if (event->Header.Type == SynchronizationEvent)
                event->Header.SignalState = 0;
            return STATUS_SUCCESS;
        }
        if (!limited) {
            KernDispatcherCondition().wait(lock);
            continue;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return STATUS_TIMEOUT;
        KernDispatcherCondition().wait_until(lock, deadline);
    }
}

extern "C" NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER interval)
{
    if (t_Irql >= DISPATCH_LEVEL)
        KernBugCheck("delay at DISPATCH_LEVEL");
    if (!interval)
        return STATUS_INVALID_PARAMETER;
    std::this_thread::sleep_until(Deadline(interval->QuadPart));
    return STATUS_SUCCESS;
}

extern "C" void KeStallExecutionProcessor(ULONG microseconds)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(microseconds);
    while (std::chrono::steady_clock::now() < until) {
    }
}

// ---- Time ------------------------------------------------------------------------------------------------------------------

extern "C" void KeQuerySystemTime(PLARGE_INTEGER currentTime)
{
    currentTime->QuadPart = SystemTimeNow();
}

extern "C" ULONGLONG KeQueryInterruptTime()
{
    auto elapsed = std::chrono::steady_clock::now() - StartTime();
    return static_cast<ULONGLONG>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 100);
}

extern "C" LARGE_INTEGER KeQueryPerformanceCounter(PLARGE_INTEGER frequency)
{
    if (frequency)
        frequency->QuadPart = 10000000;
    LARGE_INTEGER now;
    now.QuadPart = static_cast<LONGLONG>(KeQueryInterruptTime());
    return now;
}

extern "C" ULONGLONG KeReadTimeStampCounter()
{
#if defined(__x86_64__) || defined(__i386__)
    return __rdtsc();
#else
    return static_cast<ULONGLONG>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
#endif
}
