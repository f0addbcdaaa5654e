#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "PlatformThread.h"
#include "PlatformTime.h"

namespace {

struct Probe {
    PlatHandle go = nullptr;  // the body waits for it
    std::atomic<uint32_t> id{0};
    std::atomic<size_t> stack{0};
    std::atomic<int> nice{0};
    std::atomic<bool> done{false};
};

uint32_t Body(void* argument)
{
    auto* probe = static_cast<Probe*>(argument);
    probe->id = PlatGetCurrentThreadId();
    pthread_attr_t attr;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstacksize(&attr, &size);
        pthread_attr_destroy(&attr);
    }
    probe->stack = size;
    if (probe->go)
        PlatWaitForSingleObject(probe->go, PLAT_INFINITE);
    probe->nice = getpriority(PRIO_PROCESS, 0);
    probe->done = true;
    return 7;
}

}  // namespace

TEST(PlatThread, RunsTheBodyAndReportsItsEnd)
{
    Probe probe;
    probe.go = PlatCreateEvent(true, false, nullptr);
    uint32_t id = 0;
    PlatHandle t = PlatCreateThread(65535, Body, &probe, &id);
    ASSERT_NE(t, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, PlatGetCurrentThreadId());
    uint32_t code = 0;
    EXPECT_TRUE(PlatGetExitCodeThread(t, &code));
    EXPECT_EQ(code, PLAT_STILL_ACTIVE);
    EXPECT_EQ(PlatWaitForSingleObject(t, 20), PLAT_WAIT_TIMEOUT);
    PlatSetEvent(probe.go);
    EXPECT_EQ(PlatWaitForSingleObject(t, 10000), PLAT_WAIT_OBJECT_0);
    EXPECT_EQ(PlatWaitForSingleObject(t, 0), PLAT_WAIT_OBJECT_0) << "stays signalled";
    EXPECT_TRUE(PlatGetExitCodeThread(t, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_EQ(probe.id.load(), id);
    EXPECT_GE(probe.stack.load(), PLAT_MIN_THREAD_STACK) << "the small stack asked for is raised";
    EXPECT_TRUE(PlatCloseHandle(t));
    PlatCloseHandle(probe.go);
}

TEST(PlatThread, PrioritiesAreNiceValuesOfTheThread)
{
    Probe probe;
    probe.go = PlatCreateEvent(true, false, nullptr);
    PlatHandle t = PlatCreateThread(0, Body, &probe, nullptr);
    ASSERT_NE(t, nullptr);
    const int base = getpriority(PRIO_PROCESS, 0);
    EXPECT_TRUE(PlatSetThreadPriority(t, PLAT_THREAD_PRIORITY_LOWEST)) << PlatGetLastError();
    EXPECT_FALSE(PlatSetThreadPriority(t, 9));
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_INVALID_PARAMETER);
    PlatSetEvent(probe.go);
    PlatWaitForSingleObject(t, 10000);
    EXPECT_EQ(probe.nice.load(), base + 2);
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), base) << "the caller's own priority is untouched";
    EXPECT_TRUE(PlatSetThreadPriority(t, PLAT_THREAD_PRIORITY_HIGHEST)) << "an ended thread takes anything";
    PlatCloseHandle(t);
}

TEST(PlatThread, ClosingTheHandleLetsTheThreadRunOn)
{
    Probe probe;
    probe.go = PlatCreateEvent(true, false, nullptr);
    PlatHandle t = PlatCreateThread(0, Body, &probe, nullptr);
    EXPECT_TRUE(PlatCloseHandle(t));
    PlatSetEvent(probe.go);
    for (int i = 0; i < 10000 && !probe.done; ++i)
        PlatSleep(1);
    EXPECT_TRUE(probe.done.load());
    PlatSleep(10);  // let it leave the body before the event goes
    PlatCloseHandle(probe.go);
}

TEST(PlatThread, ProcessorCountIsWhatTheThreadMayRunOn)
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    EXPECT_EQ(PlatGetProcessorCount(), CPU_COUNT(&allowed));
    std::vector<int> cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &allowed))
            cpus.push_back(cpu);
    // On a thread of its own, so that this one keeps its processors.
    for (size_t n = 1; n <= std::min<size_t>(2, cpus.size()); ++n) {
        int counted = 0;
        std::thread pinned([&] {
            cpu_set_t some;
            CPU_ZERO(&some);
            for (size_t i = 0; i < n; ++i)
                CPU_SET(cpus[i], &some);
            if (sched_setaffinity(0, sizeof some, &some) == 0)
                counted = PlatGetProcessorCount();
        });
        pinned.join();
        EXPECT_EQ(counted, static_cast<int>(n));
    }
}

TEST(PlatTime, CounterIsMonotonicNanosecondsAndSleepLastsAtLeastItsTime)
{
    int64_t frequency = 0, a = 0, b = 0;
    EXPECT_TRUE(PlatQueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency, 1000000000);
    EXPECT_TRUE(PlatQueryPerformanceCounter(&a));
    PlatSleep(20);
    EXPECT_TRUE(PlatQueryPerformanceCounter(&b));
    EXPECT_GE(b - a, 20 * 1000000);
    EXPECT_LT(b - a, 2000 * 1000000LL);
    PlatSleep(0);
    EXPECT_FALSE(PlatQueryPerformanceCounter(nullptr));
}
