#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "../../../Platform/Tests/PlatformTestHelpers.h"
#include "KCriticalSection.h"
#include "KEvent.h"
#include "KException.h"
#include "KMutex.h"
#include "KPerfTimer.h"

using plattest::Clock;
using plattest::MillisecondsSince;
using plattest::OnOtherThread;

TEST(KMutex, SecondLockBySameThreadIsFalseAndLeavesItHeldOnce)
{
    KMutex m;
    EXPECT_TRUE(m.Lock());
    EXPECT_FALSE(m.Lock(0));
    EXPECT_FALSE(m.Lock(PLAT_INFINITE));
    EXPECT_FALSE(OnOtherThread([&] { return m.Lock(0); }));
    EXPECT_TRUE(m.Unlock());
    // One Unlock was enough: the refused Locks gave their acquisitions back.
    EXPECT_TRUE(OnOtherThread([&] { return m.Lock(0) && m.Unlock(); }));
    EXPECT_FALSE(m.Unlock()) << "not held";
}

TEST(KMutex, LockTimesOutWhileAnotherThreadHoldsIt)
{
    KMutex m;
    ASSERT_TRUE(m.Lock());
    auto start = Clock::now();
    EXPECT_FALSE(OnOtherThread([&] { return m.Lock(0); }));
    EXPECT_LT(MillisecondsSince(start), 1000) << "timeout 0 returns at once";
    start = Clock::now();
    EXPECT_FALSE(OnOtherThread([&] { return m.Lock(150); }));
    EXPECT_GE(MillisecondsSince(start), 145);
    m.Unlock();
}

TEST(KMutex, ATakerAfterAnOwnerThreadEndedGetsIt)
{
    KMutex m;
    std::thread([&] { m.Lock(); }).join();  // ends holding it; the flag still says locked
    EXPECT_TRUE(m.Lock(1000));
    EXPECT_TRUE(m.Unlock());
    EXPECT_TRUE(OnOtherThread([&] { return m.Lock(0) && m.Unlock(); }));
}

TEST(KMutex, SameNameIsTheSameMutex)
{
    plattest::ScratchMachine machine;
    KMutex a("CirroCameraMutex");
    KMutex b("CirroCameraMutex");
    KMutex other("OtherMutex");
    ASSERT_TRUE(a.Lock());
    EXPECT_FALSE(OnOtherThread([&] { return b.Lock(0); }));
    EXPECT_TRUE(OnOtherThread([&] { return other.Lock(0) && other.Unlock(); }));
    a.Unlock();
    EXPECT_TRUE(OnOtherThread([&] { return b.Lock(0) && b.Unlock(); }));
}

TEST(KMutex, SecondProcessWaitsForTheHolderAndTakesItWhenTheHolderIsKilled)
{
    plattest::ScratchMachine machine;
    for (bool killed : {false, true}) {
        plattest::Channel up, down;
        pid_t child = plattest::Fork([&] {
            KMutex m("CirroCameraMutex");
            if (!m.Lock())
                return 1;
            up.Send('L');
            if (killed)
                for (;;)
                    SleepSeconds(1);
            if (down.Receive() != 'U')
                return 2;
            SleepMilliseconds(100);
            return m.Unlock() ? 0 : 3;
        });
        ASSERT_EQ(up.Receive(), 'L');
        KMutex m("CirroCameraMutex");
        EXPECT_FALSE(m.Lock(100)) << "held by the other process";
        auto start = Clock::now();
        if (killed) {
            kill(child, SIGKILL);
            EXPECT_EQ(plattest::Reap(child), -1);
        } else {
            down.Send('U');
        }
        EXPECT_TRUE(m.Lock(5000)) << (killed ? "killed holder" : "holder unlocked");
        if (!killed) {
            EXPECT_GE(MillisecondsSince(start), 50) << "waited for the holder";
        }
        EXPECT_TRUE(m.Unlock());
        if (!killed) {
            EXPECT_EQ(plattest::Reap(child), 0);
        }
    }
}

TEST(KMutex, ConstructionFailureThrows)
{
    plattest::ScratchMachine machine;
    lumotest::WriteText(machine.Dir() / "file", "x");
    std::string blocked = (machine.Dir() / "file").string();
    plattest::ScopedEnv env("LUMO_MACHINE", blocked.c_str());
    try {
        KMutex m("Unreachable");
        FAIL() << "no exception";
    } catch (const KExceptionSyncObject& e) {
        EXPECT_STREQ(e.GetMessage(), "Can't create handle for KMutex");
        EXPECT_STREQ(e.GetDescription(), "Sync object exception");
    }
}

TEST(KEvent, TryWaitConsumesTheSignal)
{
    KEvent e;
    EXPECT_FALSE(e.TryWait()) << "starts unsignalled";
    EXPECT_TRUE(e.Set());
    EXPECT_TRUE(e.TryWait());
    EXPECT_FALSE(e.TryWait()) << "auto-reset";
    e.Set();
    EXPECT_TRUE(e.Reset());
    EXPECT_FALSE(e.Wait(20));
}

TEST(KEvent, SetReleasesAWaitingThread)
{
    KEvent e;
    std::atomic<bool> released{false};
    std::thread waiter([&] { released = e.Wait(10000); });
    SleepMilliseconds(30);
    EXPECT_FALSE(released.load());
    e.Set();
    waiter.join();
    EXPECT_TRUE(released.load());
    EXPECT_FALSE(e.TryWait()) << "the waiter consumed it";
}

TEST(KSyncObject, AFailedWaitIsNotSuccess)
{
    struct NoHandle : KSyncObject {
    } object;
    EXPECT_FALSE(object.Wait(PLAT_INFINITE));
    EXPECT_FALSE(object.TryWait());
}

TEST(KCriticalSection, ReentrantForItsOwnerOnly)
{
    KCriticalSection cs;
    std::atomic<int> counter{0};
    cs.Enter();
    cs.Enter();
    std::thread other([&] {
        KCriticalSectionLock lock(cs);
        counter = 2;
    });
    counter = 1;
    SleepMilliseconds(20);
    EXPECT_EQ(counter.load(), 1) << "the other thread waits";
    cs.Leave();
    SleepMilliseconds(20);
    EXPECT_EQ(counter.load(), 1) << "still held once";
    cs.Leave();
    other.join();
    EXPECT_EQ(counter.load(), 2);
}
