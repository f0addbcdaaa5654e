#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "PlatformSync.h"
#include "PlatformTestHelpers.h"
#include "PlatformThread.h"
#include "PlatformTime.h"

using plattest::Clock;
using plattest::MillisecondsSince;
using plattest::OnOtherThread;

namespace {

// The scheduler state letter of one of this process's threads ('S' while it sleeps in a wait).
char ThreadState(int tid)
{
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(in, line);
    const size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() ? line[close + 2] : '?';
}

// The mutex's owner ended holding it: the next wait takes it over, and from then on it is an ordinary mutex.
void ExpectTakenOverThenFree(PlatHandle m)
{
    EXPECT_EQ(PlatWaitForSingleObject(m, 10000), PLAT_WAIT_ABANDONED);
    EXPECT_TRUE(PlatReleaseMutex(m));
    EXPECT_EQ(PlatWaitForSingleObject(m, 0), PLAT_WAIT_OBJECT_0);
    EXPECT_TRUE(PlatReleaseMutex(m));
}

}  // namespace

TEST(PlatMutex, RecursiveForItsOwnerAndExclusiveForOthers)
{
    PlatHandle m = PlatCreateMutex(false, nullptr);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_SUCCESS);
    EXPECT_EQ(PlatWaitForSingleObject(m, 0), PLAT_WAIT_OBJECT_0);
    EXPECT_EQ(PlatWaitForSingleObject(m, PLAT_INFINITE), PLAT_WAIT_OBJECT_0);
    EXPECT_EQ(OnOtherThread([&] { return PlatWaitForSingleObject(m, 0); }), PLAT_WAIT_TIMEOUT);
    EXPECT_FALSE(OnOtherThread([&] { return PlatReleaseMutex(m); }));
    EXPECT_TRUE(PlatReleaseMutex(m));
    EXPECT_EQ(OnOtherThread([&] { return PlatWaitForSingleObject(m, 0); }), PLAT_WAIT_TIMEOUT)
        << "held once more after one of two releases";
    EXPECT_TRUE(PlatReleaseMutex(m));
    EXPECT_FALSE(PlatReleaseMutex(m));
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_NOT_OWNER);
    EXPECT_TRUE(OnOtherThread([&] {
        return PlatWaitForSingleObject(m, 0) == PLAT_WAIT_OBJECT_0 && PlatReleaseMutex(m);
    }));
    EXPECT_TRUE(PlatCloseHandle(m));
}

TEST(PlatMutex, TimedWaitTimesOutAfterAboutTheTime)
{
    PlatHandle m = PlatCreateMutex(true, nullptr);
    ASSERT_NE(m, nullptr);
    auto start = Clock::now();
    EXPECT_EQ(OnOtherThread([&] { return PlatWaitForSingleObject(m, 120); }), PLAT_WAIT_TIMEOUT);
    EXPECT_GE(MillisecondsSince(start), 115);
    // A waiter is released as soon as the owner lets go.
    std::atomic<uint32_t> result{12345};
    std::thread waiter([&] {
        result = PlatWaitForSingleObject(m, 10000);
        if (result == PLAT_WAIT_OBJECT_0)
            PlatReleaseMutex(m);
    });
    PlatSleep(30);
    EXPECT_TRUE(PlatReleaseMutex(m));
    waiter.join();
    EXPECT_EQ(result.load(), PLAT_WAIT_OBJECT_0);
    PlatCloseHandle(m);
}

TEST(PlatMutex, AThreadThatEndsHoldingItAbandonsIt)
{
    PlatHandle m = PlatCreateMutex(false, nullptr);
    std::thread([&] { PlatWaitForSingleObject(m, PLAT_INFINITE); }).join();
    ExpectTakenOverThenFree(m);
    PlatCloseHandle(m);
}

TEST(PlatMutex, ClosingTheLastHandleWhileHeldIsSafe)
{
    // By its owner: every ownership is given back.
    PlatHandle m = PlatCreateMutex(true, nullptr);
    PlatWaitForSingleObject(m, 0);
    EXPECT_TRUE(PlatCloseHandle(m));
    // By another thread while the owner still holds it: the memory stays for the owner.
    std::atomic<bool> taken{false}, closed{false};
    PlatHandle m2 = PlatCreateMutex(false, nullptr);
    std::thread owner([&] {
        PlatWaitForSingleObject(m2, PLAT_INFINITE);
        taken = true;
        while (!closed)
            PlatSleep(1);
        PlatHandle other = PlatCreateMutex(true, nullptr);  // robust-list traffic after the close
        PlatReleaseMutex(other);
        PlatCloseHandle(other);
    });
    while (!taken)
        PlatSleep(1);
    EXPECT_TRUE(PlatCloseHandle(m2));
    closed = true;
    owner.join();
}

TEST(PlatHandles, BadHandlesFailWithInvalidHandle)
{
    PlatHandle m = PlatCreateMutex(false, nullptr);
    PlatHandle e = PlatCreateEvent(true, false, nullptr);
    ASSERT_TRUE(PlatCloseHandle(m));
    struct Case {
        const char* what;
        bool ok;
    } cases[] = {
        {"close twice", PlatCloseHandle(m)},
        {"wait on closed", PlatWaitForSingleObject(m, 0) != PLAT_WAIT_FAILED},
        {"wait on invalid", PlatWaitForSingleObject(PLAT_INVALID_HANDLE_VALUE, 0) != PLAT_WAIT_FAILED},
        {"wait on null", PlatWaitForSingleObject(nullptr, 0) != PLAT_WAIT_FAILED},
        {"release an event", PlatReleaseMutex(e)},
        {"set a closed mutex", PlatSetEvent(m)},
    };
    for (const Case& c : cases) {
        PlatSetLastError(PLAT_ERROR_SUCCESS);
        EXPECT_FALSE(c.ok) << c.what;
    }
    PlatSetLastError(PLAT_ERROR_SUCCESS);
    EXPECT_FALSE(PlatSetEvent(nullptr));
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_INVALID_HANDLE);
    PlatCloseHandle(e);
}

TEST(PlatEvent, AutoResetReleasesOneWaiterAndManualResetStays)
{
    PlatHandle a = PlatCreateEvent(false, true, nullptr);
    EXPECT_EQ(PlatWaitForSingleObject(a, 0), PLAT_WAIT_OBJECT_0);
    EXPECT_EQ(PlatWaitForSingleObject(a, 0), PLAT_WAIT_TIMEOUT) << "the wait consumed the signal";
    PlatSetEvent(a);
    PlatSetEvent(a);
    EXPECT_EQ(PlatWaitForSingleObject(a, 0), PLAT_WAIT_OBJECT_0);
    EXPECT_EQ(PlatWaitForSingleObject(a, 0), PLAT_WAIT_TIMEOUT) << "two sets are one signal";
    PlatSetEvent(a);
    PlatResetEvent(a);
    EXPECT_EQ(PlatWaitForSingleObject(a, 0), PLAT_WAIT_TIMEOUT);

    PlatHandle m = PlatCreateEvent(true, false, nullptr);
    EXPECT_EQ(PlatWaitForSingleObject(m, 20), PLAT_WAIT_TIMEOUT);
    PlatSetEvent(m);
    EXPECT_EQ(PlatWaitForSingleObject(m, 0), PLAT_WAIT_OBJECT_0);
    EXPECT_EQ(PlatWaitForSingleObject(m, 0), PLAT_WAIT_OBJECT_0);
    PlatResetEvent(m);
    EXPECT_EQ(PlatWaitForSingleObject(m, 0), PLAT_WAIT_TIMEOUT);
    PlatCloseHandle(a);
    PlatCloseHandle(m);
}

TEST(PlatEvent, SetWakesOneWaiterOfAnAutoEventAndAllOfAManualOne)
{
    for (bool manual : {false, true}) {
        PlatHandle e = PlatCreateEvent(manual, false, nullptr);
        std::atomic<int> woken{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < 3; ++i)
            waiters.emplace_back([&] {
                if (PlatWaitForSingleObject(e, 10000) == PLAT_WAIT_OBJECT_0)
                    ++woken;
            });
        PlatSleep(50);
        PlatSetEvent(e);
        const int expected = manual ? 3 : 1;
        for (int i = 0; i < 5000 && woken < expected; ++i)
            PlatSleep(1);
        PlatSleep(50);
        EXPECT_EQ(woken.load(), expected) << (manual ? "manual" : "auto");
        for (int more = 2; more <= 3 && !manual; ++more) {
            PlatSetEvent(e);
            for (int i = 0; i < 5000 && woken < more; ++i)
                PlatSleep(1);
        }
        for (auto& t : waiters)
            t.join();
        EXPECT_EQ(woken.load(), 3);
        PlatCloseHandle(e);
    }
}

// A set followed at once by a reset still releases the thread that was waiting.
TEST(PlatEvent, ManualSetThenResetReleasesTheWaitersAlreadyWaiting)
{
    PlatHandle e = PlatCreateEvent(true, false, nullptr);
    std::atomic<int> tid{0};
    std::atomic<uint32_t> result{0xFFFFFFFFu};
    std::thread waiter([&] {
        tid = static_cast<int>(gettid());
        result = PlatWaitForSingleObject(e, 5000);
    });
    // Wait until the waiter sleeps in the kernel.
    for (int i = 0; i < 20000; ++i) {
        if (tid != 0 && ThreadState(tid) == 'S')
            break;
        PlatSleep(1);
    }
    PlatSetEvent(e);
    PlatResetEvent(e);
    waiter.join();
    EXPECT_EQ(result.load(), PLAT_WAIT_OBJECT_0);
    // The event is reset: a new wait times out, a new set releases it and stays.
    EXPECT_EQ(PlatWaitForSingleObject(e, 0), PLAT_WAIT_TIMEOUT);
    PlatSetEvent(e);
    EXPECT_EQ(PlatWaitForSingleObject(e, 0), PLAT_WAIT_OBJECT_0);
    EXPECT_EQ(PlatWaitForSingleObject(e, 0), PLAT_WAIT_OBJECT_0);
    PlatCloseHandle(e);
}

class PlatNamed : public ::testing::Test {
protected:
    plattest::ScratchMachine m_Machine;
};

TEST_F(PlatNamed, SameNameIsTheSameObjectInOneProcess)
{
    PlatHandle a = PlatCreateMutex(false, "Lumo.Test Mutex");
    ASSERT_NE(a, nullptr) << PlatGetLastError();
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_SUCCESS);
    PlatHandle b = PlatCreateMutex(true, "Lumo.Test Mutex");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_ALREADY_EXISTS);
    EXPECT_NE(a, b);
    EXPECT_EQ(OnOtherThread([&] { return PlatWaitForSingleObject(a, 0); }), PLAT_WAIT_OBJECT_0)
        << "initial ownership is ignored for an existing name";
    EXPECT_EQ(PlatWaitForSingleObject(a, 0), PLAT_WAIT_ABANDONED) << "that thread ended holding it";
    EXPECT_EQ(OnOtherThread([&] { return PlatWaitForSingleObject(b, 0); }), PLAT_WAIT_TIMEOUT);
    EXPECT_TRUE(PlatReleaseMutex(b)) << "released through the other handle";
    PlatCloseHandle(a);
    PlatCloseHandle(b);
    PlatHandle c = PlatCreateMutex(false, "Lumo.Test Mutex");
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_SUCCESS) << "gone with its last handle";
    PlatCloseHandle(c);
}

TEST_F(PlatNamed, NamesAreExactAndKindsDoNotMix)
{
    const std::string longest(PLAT_MAX_OBJECT_NAME, 'x');
    const char* names[] = {"a/b", "a%2Fb", "..", "Caf\xC3\xA9", "cafe", "CAFE", longest.c_str()};
    std::vector<PlatHandle> handles;
    for (const char* name : names) {
        handles.push_back(PlatCreateEvent(true, false, name));
        EXPECT_NE(handles.back(), nullptr) << name;
        EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_SUCCESS) << name << " is a name of its own";
    }
    PlatSetEvent(handles[0]);
    PlatHandle again = PlatCreateEvent(false, false, "a/b");
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_ALREADY_EXISTS);
    EXPECT_EQ(PlatWaitForSingleObject(again, 0), PLAT_WAIT_OBJECT_0);
    EXPECT_EQ(PlatWaitForSingleObject(again, 0), PLAT_WAIT_OBJECT_0) << "keeps its manual reset";
    EXPECT_EQ(PlatWaitForSingleObject(handles[1], 0), PLAT_WAIT_TIMEOUT);

    EXPECT_EQ(PlatCreateMutex(false, "cafe"), nullptr);
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_INVALID_HANDLE);
    EXPECT_EQ(PlatCreateEvent(false, false, (longest + "y").c_str()), nullptr);
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_FILENAME_EXCED_RANGE);
    PlatHandle unnamed = PlatCreateMutex(false, "");
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_SUCCESS) << "an empty name is no name";
    PlatCloseHandle(unnamed);
    PlatCloseHandle(again);
    for (PlatHandle h : handles)
        PlatCloseHandle(h);
}

TEST_F(PlatNamed, EachMachineHasItsOwnNames)
{
    PlatHandle here = PlatCreateEvent(true, true, "Shared name");
    plattest::ScratchMachine other;
    PlatHandle there = PlatCreateEvent(true, false, "Shared name");
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_SUCCESS);
    EXPECT_EQ(PlatWaitForSingleObject(there, 0), PLAT_WAIT_TIMEOUT);
    EXPECT_EQ(PlatWaitForSingleObject(here, 0), PLAT_WAIT_OBJECT_0);
    PlatCloseHandle(here);
    PlatCloseHandle(there);
}

TEST_F(PlatNamed, AnUnusableMachineFolderFailsTheCreation)
{
    lumotest::WriteText(m_Machine.Dir() / "file", "x");
    std::string blocked = (m_Machine.Dir() / "file").string();
    plattest::ScopedEnv env("LUMO_MACHINE", blocked.c_str());
    EXPECT_EQ(PlatCreateMutex(false, "m"), nullptr);
    EXPECT_NE(PlatGetLastError(), PLAT_ERROR_SUCCESS);
}

// Across processes. Each child opens the object on its own after the fork.

TEST_F(PlatNamed, AMutexHeldByAnotherProcessBlocksUntilReleased)
{
    plattest::Channel up, down;
    pid_t child = plattest::Fork([&] {
        PlatHandle m = PlatCreateMutex(false, "Shared");
        if (!m || PlatWaitForSingleObject(m, PLAT_INFINITE) != PLAT_WAIT_OBJECT_0)
            return 1;
        up.Send('L');
        if (down.Receive() != 'U')
            return 2;
        PlatSleep(100);
        return PlatReleaseMutex(m) ? 0 : 3;
    });
    ASSERT_EQ(up.Receive(), 'L');
    PlatHandle m = PlatCreateMutex(true, "Shared");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_ALREADY_EXISTS);
    EXPECT_EQ(PlatWaitForSingleObject(m, 0), PLAT_WAIT_TIMEOUT) << "not taken: initial ownership ignored";
    auto start = Clock::now();
    EXPECT_EQ(PlatWaitForSingleObject(m, 100), PLAT_WAIT_TIMEOUT);
    EXPECT_GE(MillisecondsSince(start), 95);
    down.Send('U');
    start = Clock::now();
    EXPECT_EQ(PlatWaitForSingleObject(m, 10000), PLAT_WAIT_OBJECT_0);
    EXPECT_GE(MillisecondsSince(start), 50) << "waited for the other process";
    EXPECT_EQ(plattest::Reap(child), 0);
    EXPECT_TRUE(PlatReleaseMutex(m));
    PlatCloseHandle(m);
}

TEST_F(PlatNamed, AKilledHolderAbandonsTheMutex)
{
    plattest::Channel up;
    pid_t child = plattest::Fork([&] {
        PlatHandle m = PlatCreateMutex(true, "Shared");
        if (!m)
            return 1;
        up.Send('L');
        for (;;)
            PlatSleep(1000);
    });
    ASSERT_EQ(up.Receive(), 'L');
    PlatHandle m = PlatCreateMutex(false, "Shared");
    EXPECT_EQ(PlatWaitForSingleObject(m, 50), PLAT_WAIT_TIMEOUT);
    kill(child, SIGKILL);
    EXPECT_EQ(plattest::Reap(child), -1);
    ExpectTakenOverThenFree(m);
    PlatCloseHandle(m);
}

TEST_F(PlatNamed, ExistsWhileAnyProcessHasItOpen)
{
    plattest::Channel up, down;
    pid_t child = plattest::Fork([&] {
        PlatHandle e = PlatCreateEvent(false, false, "Instance");
        if (!e || PlatGetLastError() != PLAT_ERROR_SUCCESS)
            return 1;
        up.Send('O');
        if (down.Receive() != 'C')
            return 2;
        // A waiter in this process is woken by a set in the other.
        if (PlatWaitForSingleObject(e, 10000) != PLAT_WAIT_OBJECT_0)
            return 3;
        return 0;
    });
    ASSERT_EQ(up.Receive(), 'O');
    PlatHandle e = PlatCreateEvent(true, true, "Instance");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_ALREADY_EXISTS);
    EXPECT_EQ(PlatWaitForSingleObject(e, 0), PLAT_WAIT_TIMEOUT) << "kind and state are the creator's";
    down.Send('C');
    PlatSleep(50);
    PlatSetEvent(e);
    EXPECT_EQ(plattest::Reap(child), 0);
    PlatCloseHandle(e);

    // The child is gone and this process closed its handle: the next opener creates it afresh.
    PlatHandle again = PlatCreateEvent(true, true, "Instance");
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_SUCCESS);
    EXPECT_EQ(PlatWaitForSingleObject(again, 0), PLAT_WAIT_OBJECT_0);
    PlatCloseHandle(again);
}

TEST(PlatCriticalSection, RecursiveAndExclusive)
{
    PlatCriticalSection* cs = PlatNewCriticalSection();
    ASSERT_NE(cs, nullptr);
    PlatEnterCriticalSection(cs);
    PlatEnterCriticalSection(cs);
    EXPECT_FALSE(OnOtherThread([&] { return PlatTryEnterCriticalSection(cs); }));
    PlatLeaveCriticalSection(cs);
    EXPECT_FALSE(OnOtherThread([&] { return PlatTryEnterCriticalSection(cs); }));
    PlatLeaveCriticalSection(cs);
    EXPECT_TRUE(OnOtherThread([&] {
        bool in = PlatTryEnterCriticalSection(cs);
        if (in)
            PlatLeaveCriticalSection(cs);
        return in;
    }));
    PlatDeleteCriticalSection(cs);
}

TEST(PlatMutex, ThreadsTakingItInTurnNeverOverlap)
{
    PlatHandle m = PlatCreateMutex(false, nullptr);
    ASSERT_NE(m, nullptr);
    constexpr int kThreads = 6, kRounds = 300;
    int inside = 0, overlaps = 0, total = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                // Infinite and timed waits mixed: both hand the mutex over through the same release.
                const uint32_t wait = (i + t) % 2 ? static_cast<uint32_t>(PLAT_INFINITE) : 10000u;
                if (PlatWaitForSingleObject(m, wait) != PLAT_WAIT_OBJECT_0)
                    continue;
                overlaps += inside++;
                ++total;
                --inside;
                PlatReleaseMutex(m);
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(overlaps, 0);
    EXPECT_EQ(total, kThreads * kRounds);
    EXPECT_TRUE(PlatCloseHandle(m));
}
