#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <cmath>
#include <stdexcept>

#include "KDebug.h"
#include "KException.h"
#include "KIThread.h"
#include "KPerfTimer.h"
#include "KWinThread.h"

namespace {

KUInt32 ReturnSeven(void*)
{
    return 7;
}

KUInt32 ThrowKException(void*)
{
    throw KException("body failed");
}

KUInt32 ThrowStd(void*)
{
    throw std::runtime_error("body failed");
}

KUInt32 ThrowInt(void*)
{
    throw 3;
}

struct Gate {
    std::atomic<bool> open{false};
    std::atomic<bool> done{false};
    std::atomic<int> nice{-100};
};

KUInt32 WaitForGate(void* argument)
{
    auto* gate = static_cast<Gate*>(argument);
    while (!gate->open)
        SleepMilliseconds(1);
    gate->nice = getpriority(PRIO_PROCESS, 0);
    gate->done = true;
    return 1;
}

void WaitFinished(const KIThread* thread)
{
    for (int i = 0; i < 10000 && !thread->IsFinished(); ++i)
        SleepMilliseconds(1);
}

}  // namespace

TEST(KWinThread, ExitValueOfABodyThatReturnsOrThrows)
{
    struct Case {
        KThreadBody body;
        KUInt32 exitValue;
    } cases[] = {
        {ReturnSeven, 7},
        {ThrowKException, 0xDEADBEEF},
        {ThrowStd, 0xDEADBEEF},
        {ThrowInt, 0xDEADBEEF},
    };
    for (const Case& c : cases) {
        KIThread* thread = KIThread::Create(c.body, nullptr, 2);
        ASSERT_NE(thread, nullptr);
        WaitFinished(thread);
        EXPECT_TRUE(thread->IsFinished());
        EXPECT_EQ(thread->GetExitValue(), c.exitValue);
        KIThread::Destroy(thread);
        EXPECT_EQ(thread, nullptr);
    }
}

TEST(KWinThread, RunningThreadReadsUnfinished)
{
    Gate gate;
    KIThread* thread = KIThread::Create(WaitForGate, &gate, 2);
    EXPECT_FALSE(thread->IsFinished());
    EXPECT_EQ(thread->GetExitValue(), 0xABCDEFABu);
    gate.open = true;
    WaitFinished(thread);
    EXPECT_EQ(thread->GetExitValue(), 1u);
    KIThread::Destroy(thread);
}

TEST(KWinThread, PriorityLevels)
{
    Gate gate;
    const int base = getpriority(PRIO_PROCESS, 0);
    KWinThread thread(WaitForGate, &gate, 0);
    EXPECT_EQ(thread.GetPriority(), 0);
    gate.open = true;
    WaitFinished(&thread);
    EXPECT_EQ(gate.nice.load(), base + 2) << "level 0 is the lowest";
    thread.SetPriority(2);
    EXPECT_EQ(thread.GetPriority(), 2);
    thread.SetPriority(9);
    EXPECT_EQ(thread.GetPriority(), 9) << "any level is kept; it runs as normal";
}

TEST(KWinThread, DeletingARunningThreadWarnsAndLetsItRunOn)
{
    Gate gate;
    KTraceCapture capture;
    KIThread* thread = KIThread::Create(WaitForGate, &gate, 2);
    KIThread::Destroy(thread);
    EXPECT_TRUE(capture.Contains("WARNING: Forcibly terminating thread in KWinThread destructor"));
    gate.open = true;
    for (int i = 0; i < 10000 && !gate.done; ++i)
        SleepMilliseconds(1);
    EXPECT_TRUE(gate.done.load()) << "the body ran to its end after the object went";
    SleepMilliseconds(20);  // let it leave the body while the gate still exists

    capture.Clear();
    thread = KIThread::Create(ReturnSeven, nullptr, 2);
    WaitFinished(thread);
    KIThread::Destroy(thread);
    EXPECT_FALSE(capture.Contains("WARNING")) << "a finished thread goes quietly";
}

TEST(KPerfTimer, ElapsedRunsFromStartWhetherStoppedOrNot)
{
    KPerfTimer timer;
    EXPECT_DOUBLE_EQ(KPerfTimer::GetSecondsPerTick(), 1e-9);
    timer.Start();
    EXPECT_LT(timer.GetElapsedSeconds(), 0.5);
    EXPECT_GE(timer.GetElapsedSeconds(), 0.0);
    SleepMilliseconds(1);
    EXPECT_GE(timer.GetElapsedSeconds(), 0.001);
    timer.Stop();
    double atStop = timer.GetElapsedSeconds();
    SleepMilliseconds(5);
    EXPECT_GE(timer.GetElapsedSeconds(), atStop + 0.005);
}

TEST(KPerfTimer, SleepsCutTheFractionOfAMillisecond)
{
    struct Case {
        double seconds;
        double atLeast;
    } cases[] = {
        {0.0009, 0.0}, {0.0, 0.0}, {-5.0, 0.0}, {std::nan(""), 0.0}, {0.012, 0.012},
    };
    for (const Case& c : cases) {
        KPerfTimer timer;
        timer.Start();
        SleepSeconds(c.seconds);
        double elapsed = timer.GetElapsedSeconds();
        EXPECT_GE(elapsed, c.atLeast) << c.seconds;
        EXPECT_LT(elapsed, c.atLeast + 0.5) << c.seconds;
    }
}
