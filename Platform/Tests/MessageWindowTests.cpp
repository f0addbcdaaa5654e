// Message-only windows and messages sent from other threads: they run on the window's thread while it waits
// for messages, the sender waits for the result, and a window that goes answers what was sent to it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "PlatformSync.h"
#include "PlatformWindow.h"

namespace {

constexpr uint32_t kAsk = PLAT_WM_USER + 7;
constexpr uint32_t kReply = PLAT_WM_USER + 8;

std::atomic<std::thread::id> g_RanOn;
std::atomic<PlatHWND> g_Peer{nullptr};

intptr_t Procedure(PlatHWND, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (message == kAsk) {
        g_RanOn = std::this_thread::get_id();
        return static_cast<intptr_t>(wParam) * 2 + *reinterpret_cast<const int*>(lParam);
    }
    if (message == kReply && g_Peer)
        return PlatSendMessage(g_Peer, kAsk, wParam, lParam) + 1;  // to the other thread's window
    return 0;
}

PlatHWND MessageWindow()
{
    PlatWindowDesc desc;
    desc.messageOnly = true;
    desc.procedure = Procedure;
    return PlatCreateWindow(desc);
}

}  // namespace

TEST(MessageWindow, SentFromAnotherThreadRunsOnTheWindowsThread)
{
    PlatHWND window = MessageWindow();  // no backend started
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(PlatIsWindow(window));
    const int extra = 5;
    std::atomic<intptr_t> result{0};
    std::thread sender([&] { result = PlatSendMessage(window, kAsk, 20, reinterpret_cast<intptr_t>(&extra)); });
    // The sender waits until this thread runs the message.
    for (int i = 0; i < 1000 && result == 0; ++i)
        PlatMsgWaitForSingleObject(nullptr, 10);
    sender.join();
    EXPECT_EQ(result, 45);
    EXPECT_EQ(g_RanOn.load(), std::this_thread::get_id());
    // From its own thread a message runs at once.
    EXPECT_EQ(PlatSendMessage(window, kAsk, 1, reinterpret_cast<intptr_t>(&extra)), 7);
    EXPECT_TRUE(PlatDestroyWindow(window));
    EXPECT_FALSE(PlatIsWindow(window));
}

TEST(MessageWindow, WaitEndsWithItsObject)
{
    PlatHandle event = PlatCreateEvent(true, false, nullptr);
    EXPECT_EQ(PlatMsgWaitForSingleObject(event, 30), PLAT_WAIT_TIMEOUT);
    std::thread setter([&] { PlatSetEvent(event); });
    EXPECT_EQ(PlatMsgWaitForSingleObject(event, 10000), PLAT_WAIT_OBJECT_0);
    setter.join();
    PlatCloseHandle(event);
}

TEST(MessageWindow, TwoThreadsSendingToEachOtherBothFinish)
{
    PlatHWND mine = MessageWindow();
    std::atomic<PlatHWND> theirs{nullptr};
    std::atomic<bool> done{false};
    const int extra = 1;
    std::thread other([&] {
        theirs = MessageWindow();
        while (!done)
            PlatMsgWaitForSingleObject(nullptr, 10);
        PlatDestroyWindow(theirs);
    });
    while (!theirs)
        std::this_thread::yield();
    // This thread asks the other's window, whose procedure asks this thread's window back meanwhile.
    g_Peer = mine;
    const intptr_t result = PlatSendMessage(theirs, kReply, 3, reinterpret_cast<intptr_t>(&extra));
    g_Peer = nullptr;
    EXPECT_EQ(result, 8);
    EXPECT_EQ(g_RanOn.load(), std::this_thread::get_id());
    done = true;
    other.join();
    PlatDestroyWindow(mine);
}

TEST(MessageWindow, AWindowThatGoesAnswersWhatWasSentToIt)
{
    std::atomic<PlatHWND> window{nullptr};
    std::atomic<bool> go{false};
    std::thread owner([&] {
        window = MessageWindow();
        while (!go)
            std::this_thread::yield();
        // Destroyed without ever running what may wait for it.
        PlatDestroyWindow(window);
    });
    while (!window)
        std::this_thread::yield();
    const int extra = 0;
    std::atomic<intptr_t> result{-1};
    std::thread sender([&] { result = PlatSendMessage(window, kAsk, 1, reinterpret_cast<intptr_t>(&extra)); });
    go = true;
    owner.join();
    sender.join();
    EXPECT_EQ(result, 0);
    // Sent after it went: nothing runs.
    EXPECT_EQ(PlatSendMessage(window, kAsk, 1, reinterpret_cast<intptr_t>(&extra)), 0);
}
