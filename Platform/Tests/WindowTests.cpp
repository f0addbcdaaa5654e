// The headless window backend: windows as records with screens, activation, timers on the virtual clock, the
// queue and ownership.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "PlatformWindow.h"

namespace {

struct Seen {
    PlatHWND window;
    uint32_t message;
    uintptr_t wParam;
};
std::vector<Seen> g_Seen;

intptr_t Record(PlatHWND window, uint32_t message, uintptr_t wParam, intptr_t)
{
    g_Seen.push_back({window, message, wParam});
    return 0;
}

class HeadlessWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("LUMO_UI", "headless", 1);
        std::string error;
        ASSERT_TRUE(PlatUiStart(error)) << error;
        ASSERT_STREQ(PlatUiBackend(), "headless");
        g_Seen.clear();
    }
    void TearDown() override
    {
        for (PlatHWND w : m_Windows)
            PlatDestroyWindow(w);
        PlatUseVirtualClock(false);
        PlatMsg m{};
        while (PlatPeekMessage(m, nullptr, 0, 0, true)) {
        }
    }
    PlatHWND Make(int32_t width, int32_t height, PlatHWND owner = nullptr)
    {
        PlatWindowDesc d;
        d.width = width;
        d.height = height;
        d.owner = owner;
        d.procedure = &Record;
        PlatHWND w = PlatCreateWindow(d);
        m_Windows.push_back(w);
        return w;
    }
    size_t Count(PlatHWND w, uint32_t message, uintptr_t wParam)
    {
        size_t n = 0;
        for (const Seen& s : g_Seen)
            n += s.window == w && s.message == message && s.wParam == wParam;
        return n;
    }
    std::vector<PlatHWND> m_Windows;
};

}  // namespace

TEST_F(HeadlessWindows, ShowingActivatesAndTheOtherWindowIsDeactivated)
{
    PlatHWND a = Make(10, 10), b = Make(10, 10);
    EXPECT_EQ(Count(a, PLAT_WM_CREATE, 0), 1u);
    PlatShowWindow(a, true);
    PlatShowWindow(b, true);
    EXPECT_EQ(PlatGetActiveWindow(), b);
    EXPECT_EQ(Count(a, PLAT_WM_ACTIVATE, 1), 1u);
    EXPECT_EQ(Count(a, PLAT_WM_ACTIVATE, 0), 1u);
    EXPECT_EQ(Count(b, PLAT_WM_ACTIVATE, 1), 1u);
    PlatShowWindow(b, false);
    EXPECT_EQ(PlatGetActiveWindow(), a);
}

TEST_F(HeadlessWindows, SizesAreKeptWithinOneAndTheLargestSide)
{
    PlatHWND w = Make(0, -3);
    int32_t width = 0, height = 0;
    ASSERT_TRUE(PlatGetWindowPixels(w, width, height));
    EXPECT_EQ(width, 1);
    EXPECT_EQ(height, 1);
    PlatSetWindowPos(w, 0, 0, 1 << 30, 7, PLAT_SWP_NOMOVE);
    PlatGetWindowPixels(w, width, height);
    EXPECT_EQ(width, 16384);
    EXPECT_EQ(height, 7);
}

TEST_F(HeadlessWindows, BlitIsClippedToTheWindow)
{
    PlatHWND w = Make(4, 4);
    std::vector<uint8_t> source(8 * 8 * 4, 0x55);
    PlatBlit(w, -2, 2, 8, 8, source.data(), 8 * 4, 0, 0);
    int32_t width = 0, height = 0;
    const uint8_t* p = PlatGetWindowPixels(w, width, height);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[(2 * 4 + 0) * 4], 0x55);
    EXPECT_EQ(p[(3 * 4 + 3) * 4], 0x55);
}

TEST_F(HeadlessWindows, VirtualClockQueuesOneTimerMessageHoweverLongItWaits)
{
    PlatUseVirtualClock(true);
    PlatHWND w = Make(4, 4);
    ASSERT_TRUE(PlatSetTimer(w, 42, 10));
    const uint32_t start = PlatGetTickCount();
    PlatAdvanceClock(9);
    PlatMsg m{};
    EXPECT_FALSE(PlatPeekMessage(m, w, PLAT_WM_TIMER, PLAT_WM_TIMER, false));
    PlatAdvanceClock(100);
    EXPECT_EQ(PlatGetTickCount() - start, 109u);
    ASSERT_TRUE(PlatPeekMessage(m, w, PLAT_WM_TIMER, PLAT_WM_TIMER, true));
    EXPECT_EQ(m.wParam, 42u);
    EXPECT_FALSE(PlatPeekMessage(m, w, PLAT_WM_TIMER, PLAT_WM_TIMER, false));
    PlatKillTimer(w, 42);
    PlatAdvanceClock(100);
    EXPECT_FALSE(PlatPeekMessage(m, w, 0, 0, false));
}

TEST_F(HeadlessWindows, LoopEndsWhenTheIdleHookHasNoMoreAndOnQuit)
{
    PlatUseVirtualClock(true);
    PlatHWND w = Make(4, 4);
    PlatPostMessage(w, PLAT_WM_USER, 7, 0);
    int calls = 0;
    PlatSetIdleHook([](void* c) { return ++*static_cast<int*>(c) < 3; }, &calls);
    PlatMsg m{};
    ASSERT_TRUE(PlatGetMessage(m));
    EXPECT_EQ(m.message, static_cast<uint32_t>(PLAT_WM_USER));
    EXPECT_EQ(PlatDispatchMessage(m), 0);
    EXPECT_FALSE(PlatGetMessage(m));
    EXPECT_EQ(calls, 3);
    PlatSetIdleHook(nullptr, nullptr);
    PlatPostQuitMessage(0);
    EXPECT_FALSE(PlatGetMessage(m));
}

TEST_F(HeadlessWindows, DestroyingTheOwnerDestroysOwnedWindowsFirst)
{
    PlatHWND owner = Make(4, 4);
    PlatHWND owned = Make(4, 4, owner);
    PlatPostMessage(owned, PLAT_WM_USER, 0, 0);
    g_Seen.clear();
    EXPECT_TRUE(PlatDestroyWindow(owner));
    ASSERT_EQ(g_Seen.size(), 2u);
    EXPECT_EQ(g_Seen[0].window, owned);
    EXPECT_EQ(g_Seen[1].window, owner);
    EXPECT_FALSE(PlatIsWindow(owned));
    PlatMsg m{};
    EXPECT_FALSE(PlatPeekMessage(m, nullptr, 0, 0, false));
    EXPECT_FALSE(PlatDestroyWindow(owner));
    m_Windows.clear();
}
