// The X11 window backend under an Xvfb of the test's own: window properties, pixels, events turned into
// messages, the clipboard with other clients and the message box. Each test is one process with one server.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LumoFreshProcess.h"
#include "LumoTestSupport.h"
#include "LumoXvfb.h"
#include "PlatformWindow.h"

namespace {

struct Seen {
    PlatHWND window;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
    PlatWindowPos pos;
};
std::vector<Seen> g_Seen;
int32_t g_MinWidth = 0, g_MinHeight = 0;

intptr_t Record(PlatHWND window, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    Seen s{window, message, wParam, lParam, {}};
    if (message == PLAT_WM_WINDOWPOSCHANGED && lParam)
        s.pos = *reinterpret_cast<const PlatWindowPos*>(lParam);
    if (message == PLAT_WM_GETMINMAXINFO && lParam) {
        auto* info = reinterpret_cast<PlatMinMaxInfo*>(lParam);
        info->minWidth = g_MinWidth;
        info->minHeight = g_MinHeight;
    }
    if (message == PLAT_WM_PAINT) {
        PlatRect r{};
        PlatBeginPaint(window, r);
        s.pos = PlatWindowPos{r.left, r.top, r.right - r.left, r.bottom - r.top, 0};
    }
    if (message != PLAT_WM_TIMER && message != PLAT_WM_GETMINMAXINFO)
        g_Seen.push_back(s);
    return 0;
}

int16_t Low(intptr_t l)
{
    return static_cast<int16_t>(l & 0xFFFF);
}

int16_t High(intptr_t l)
{
    return static_cast<int16_t>((l >> 16) & 0xFFFF);
}

class X11Windows : public ::testing::Test {
protected:
    // The window backend is chosen once per process and stays with its server, so each test runs in a new run of
    // this program that runs it alone (whatever ran before it here), with a server of its own.
    template <class Body>
    void InOwnProcess(Body body)
    {
        if (lumotest::RunCommand("command -v Xvfb >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "Xvfb is not installed";
        lumotest::InFreshProcess([&] {
            if (Start())
                body();
            for (PlatHWND w : m_Windows)
                PlatDestroyWindow(w);
            m_Server.reset();
        });
    }
    bool Start()
    {
        m_Server = std::make_unique<lumotest::Xvfb>();
        EXPECT_TRUE(m_Server->Running()) << m_Server->Error();
        if (!m_Server->Running())
            return false;
        setenv("DISPLAY", m_Server->Display().c_str(), 1);
        setenv("LUMO_UI", "x11", 1);
        std::string error;
        EXPECT_TRUE(PlatUiStart(error)) << error;
        EXPECT_STREQ(PlatUiBackend(), "x11");
        g_Seen.clear();
        return std::string(PlatUiBackend()) == "x11";
    }
    PlatHWND Make(const std::u16string& title, int32_t x, int32_t y, int32_t width, int32_t height,
                  uint32_t style = 0, PlatHWND owner = nullptr)
    {
        PlatWindowDesc d;
        d.title = title;
        d.x = x;
        d.y = y;
        d.width = width;
        d.height = height;
        d.style = style;
        d.owner = owner;
        d.procedure = &Record;
        PlatHWND w = PlatCreateWindow(d);
        if (w) {
            m_Windows.push_back(w);
            PlatSetTimer(w, 99, 15);  // keeps the loop turning while a test waits
        }
        return w;
    }
    // Runs the loop until done() holds or a few seconds pass.
    template <class F>
    bool RunUntil(F done, int ms = 5000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            PlatMsg m{};
            if (!PlatGetMessage(m))
                return false;
            PlatDispatchMessage(m);
        }
        return true;
    }
    // Runs the loop while a shell command runs (another client that talks to this one).
    int RunWhile(const std::string& command)
    {
        std::atomic<bool> finished{false};
        int status = -1;
        std::thread t([&] {
            status = lumotest::RunCommand(m_Server->Env() + command);
            finished = true;
        });
        RunUntil([&] { return finished.load(); }, 20000);
        t.join();
        return status;
    }
    std::string Shell(const std::string& command) { return lumotest::CommandOutput(m_Server->Env() + command); }
    // The X window id of the window with this title.
    std::string Xid(const std::string& title)
    {
        const std::string id = Shell("xdotool search --name '^" + title + "$' | head -1");
        if (id.empty() || id[0] < '0' || id[0] > '9')
            return std::string();
        char hex[32];
        std::snprintf(hex, sizeof hex, "0x%lx", std::strtoul(id.c_str(), nullptr, 10));
        return hex;
    }
    // Gives another client the clipboard with xclip's arguments, and waits until it owns it (the data
    // starting with first).
    void Offer(const std::string& xclipArgs, const std::string& target, char first)
    {
        ASSERT_EQ(lumotest::RunCommand(m_Server->Env() + "xclip -selection clipboard " + xclipArgs), 0);
        const std::string wait = "for i in $(seq 100); do [ \"$(xclip -o -selection clipboard -t " + target +
                                 " 2>/dev/null | head -c 1)\" = '" + std::string(1, first) +
                                 "' ] && exit 0; sleep 0.1; done; exit 1";
        ASSERT_EQ(lumotest::RunCommand("export " + m_Server->Env() + "; " + wait), 0);
    }
    void Xdotool(const std::string& args) { ASSERT_EQ(lumotest::RunCommand(m_Server->Env() + "xdotool " + args), 0); }
    static size_t Count(uint32_t message)
    {
        size_t n = 0;
        for (const Seen& s : g_Seen)
            n += s.message == message;
        return n;
    }
    static std::vector<Seen> Only(std::initializer_list<uint32_t> messages)
    {
        std::vector<Seen> out;
        for (const Seen& s : g_Seen)
            for (uint32_t m : messages)
                if (s.message == m)
                    out.push_back(s);
        return out;
    }

    std::unique_ptr<lumotest::Xvfb> m_Server;
    lumotest::TempDir m_Dir;
    std::vector<PlatHWND> m_Windows;
};

TEST_F(X11Windows, StylesBecomePropertiesAndPixelsReachTheScreen)
{
    InOwnProcess([&] {
        g_MinWidth = 150;
        g_MinHeight = 90;
        PlatHWND main = Make(u"Grüße 写真", 40, 30, 320, 200, PLAT_WS_RESIZABLE);
        ASSERT_TRUE(main);
        PlatHWND owned = Make(u"Owned", 400, 30, 100, 60, 0, main);
        PlatHWND top = Make(u"Top", 520, 30, 100, 60, PLAT_WS_TOPMOST);
        PlatHWND tool = Make(u"Tool", 640, 30, 100, 60, PLAT_WS_TOOLWINDOW);
        PlatHWND bare = Make(u"Bare", 760, 30, 100, 60, PLAT_WS_POPUP);
        for (PlatHWND w : {main, owned, top, tool, bare}) {
            ASSERT_TRUE(w);
            PlatShowWindow(w, true);
        }
        RunUntil([] { return false; }, 200);

        const std::string mainId = Xid("Gr.*");
        ASSERT_FALSE(mainId.empty());
        const std::string props = Shell("xprop -id " + mainId);
        EXPECT_NE(props.find("_NET_WM_NAME(UTF8_STRING) = \"Grüße 写真\""), std::string::npos) << props;
        EXPECT_NE(props.find("WM_CLASS(STRING) = \"lumodesk\", \"KOsUiWindow\""), std::string::npos) << props;
        EXPECT_NE(props.find("WM_PROTOCOLS(ATOM): protocols  WM_DELETE_WINDOW"), std::string::npos) << props;
        EXPECT_NE(props.find("program specified minimum size: 150 by 90"), std::string::npos) << props;
        EXPECT_EQ(props.find("maximum size"), std::string::npos) << props;
        EXPECT_NE(props.find("_NET_WM_WINDOW_TYPE(ATOM) = _NET_WM_WINDOW_TYPE_NORMAL"), std::string::npos) << props;

        const std::string ownedProps = Shell("xprop -id " + Xid("Owned"));
        EXPECT_NE(ownedProps.find("WM_TRANSIENT_FOR(WINDOW): window id # " + mainId), std::string::npos) << ownedProps;
        // Not resizable: the size is fixed.
        EXPECT_NE(ownedProps.find("program specified minimum size: 100 by 60"), std::string::npos) << ownedProps;
        EXPECT_NE(ownedProps.find("program specified maximum size: 100 by 60"), std::string::npos) << ownedProps;
        EXPECT_NE(Shell("xprop -id " + Xid("Top") + " _NET_WM_STATE").find("_NET_WM_STATE_ABOVE"), std::string::npos);
        EXPECT_NE(Shell("xprop -id " + Xid("Tool") + " _NET_WM_WINDOW_TYPE").find("_NET_WM_WINDOW_TYPE_UTILITY"),
                  std::string::npos);
        EXPECT_NE(Shell("xprop -id " + Xid("Bare") + " _MOTIF_WM_HINTS").find("= 0x2, 0x0, 0x0, 0x0, 0x0"),
                  std::string::npos);
        const std::string geometry = Shell("xwininfo -id " + mainId);
        EXPECT_NE(geometry.find("Absolute upper-left X:  40\n"), std::string::npos) << geometry;
        EXPECT_NE(geometry.find("Absolute upper-left Y:  30\n"), std::string::npos) << geometry;
        EXPECT_NE(geometry.find("Width: 320\n"), std::string::npos) << geometry;
        EXPECT_NE(geometry.find("Height: 200\n"), std::string::npos) << geometry;

        // A pattern blitted from the middle of a larger buffer, then a filled bar, read back from the server.
        std::vector<uint8_t> buffer(400 * 300 * 4);
        for (int y = 0; y < 300; ++y)
            for (int x = 0; x < 400; ++x) {
                uint8_t* p = &buffer[(size_t(y) * 400 + size_t(x)) * 4];
                p[0] = uint8_t(x);
                p[1] = uint8_t(y);
                p[2] = uint8_t(x ^ y);
                p[3] = 255;
            }
        PlatBlit(main, 0, 0, 320, 200, buffer.data(), 400 * 4, 10, 20);
        PlatFillRect(main, PlatRect{300, 0, 400, 10}, 0x12, 0x34, 0x56);
        int32_t w = 0, h = 0;
        const uint8_t* screen = PlatGetWindowPixels(main, w, h);
        ASSERT_TRUE(screen);
        ASSERT_EQ(w, 320);
        ASSERT_EQ(h, 200);
        int wrong = 0;
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 320; ++x) {
                const uint8_t* s = screen + (size_t(y) * 320 + size_t(x)) * 4;
                const bool bar = x >= 300 && y < 10;
                const uint8_t* p = &buffer[(size_t(y + 20) * 400 + size_t(x + 10)) * 4];
                const uint8_t want[3] = {bar ? uint8_t(0x56) : p[0], bar ? uint8_t(0x34) : p[1],
                                         bar ? uint8_t(0x12) : p[2]};
                wrong += s[0] != want[0] || s[1] != want[1] || s[2] != want[2] || s[3] != 255;
            }
        EXPECT_EQ(wrong, 0);

        // A shaped cursor, hidden, then the arrow again: recorded for the window, no protocol errors.
        uint8_t andMask[128], xorMask[128];
        for (int i = 0; i < 128; ++i) {
            andMask[i] = (i % 4) < 2 ? 0x00 : 0xFF;
            xorMask[i] = (i % 4) == 0 ? 0xF0 : 0x00;
        }
        int32_t hx = 0, hy = 0;
        EXPECT_TRUE(PlatSetCursor(main, andMask, xorMask, 3, 4));
        EXPECT_EQ(PlatGetCursorShape(main, hx, hy), 2);
        EXPECT_EQ(hx * 10 + hy, 34);
        PlatShowCursor(main, false);
        EXPECT_EQ(PlatGetCursorShape(main, hx, hy), 1);
        PlatShowCursor(main, true);
        EXPECT_TRUE(PlatSetCursor(main, nullptr, nullptr, 0, 0));
        EXPECT_EQ(PlatGetCursorShape(main, hx, hy), 0);

        // Setting the title reaches both title properties.
        PlatSetWindowText(main, u"Renamed");
        RunUntil([] { return false; }, 50);
        const std::string renamed = Shell("xprop -id " + mainId + " WM_NAME _NET_WM_NAME");
        EXPECT_NE(renamed.find("WM_NAME(STRING) = \"Renamed\""), std::string::npos) << renamed;
        EXPECT_NE(renamed.find("_NET_WM_NAME(UTF8_STRING) = \"Renamed\""), std::string::npos) << renamed;
    });
}

TEST_F(X11Windows, KeysBecomeVirtualKeysAndCharacters)
{
    InOwnProcess([&] {
        PlatHWND w = Make(u"Keys", 0, 0, 200, 100);
        ASSERT_TRUE(w);
        PlatShowWindow(w, true);
        RunUntil([] { return false; }, 100);
        g_Seen.clear();

        struct Case {
            const char* keys;
            std::vector<std::pair<uint32_t, uint32_t>> want;  // (message, wParam) of key downs and characters
        } cases[] = {
            {"ctrl+bracketleft", {{PLAT_WM_KEYDOWN, 0x11}, {PLAT_WM_KEYDOWN, 0xDB}, {PLAT_WM_CHAR, 27}}},
            {"Escape", {{PLAT_WM_KEYDOWN, 0x1B}, {PLAT_WM_CHAR, 27}}},
            {"shift+a", {{PLAT_WM_KEYDOWN, 0x10}, {PLAT_WM_KEYDOWN, 'A'}, {PLAT_WM_CHAR, 'A'}}},
            {"a 7", {{PLAT_WM_KEYDOWN, 'A'}, {PLAT_WM_CHAR, 'a'}, {PLAT_WM_KEYDOWN, '7'}, {PLAT_WM_CHAR, '7'}}},
            {"ctrl+v", {{PLAT_WM_KEYDOWN, 0x11}, {PLAT_WM_KEYDOWN, 'V'}, {PLAT_WM_CHAR, 22}}},
            {"Prior Next End Home Left Up Right Down Insert",
             {{PLAT_WM_KEYDOWN, 0x21}, {PLAT_WM_KEYDOWN, 0x22}, {PLAT_WM_KEYDOWN, 0x23}, {PLAT_WM_KEYDOWN, 0x24},
              {PLAT_WM_KEYDOWN, 0x25}, {PLAT_WM_KEYDOWN, 0x26}, {PLAT_WM_KEYDOWN, 0x27}, {PLAT_WM_KEYDOWN, 0x28},
              {PLAT_WM_KEYDOWN, 0x2D}}},
            // Delete is its key only, never a character.
            {"Delete F1 F12", {{PLAT_WM_KEYDOWN, 0x2E}, {PLAT_WM_KEYDOWN, 0x70}, {PLAT_WM_KEYDOWN, 0x7B}}},
            {"Return BackSpace Tab space bracketright",
             {{PLAT_WM_KEYDOWN, 0x0D}, {PLAT_WM_CHAR, 13}, {PLAT_WM_KEYDOWN, 0x08}, {PLAT_WM_CHAR, 8},
              {PLAT_WM_KEYDOWN, 0x09}, {PLAT_WM_CHAR, 9}, {PLAT_WM_KEYDOWN, 0x20}, {PLAT_WM_CHAR, ' '},
              {PLAT_WM_KEYDOWN, 0xDD}, {PLAT_WM_CHAR, ']'}}},
            // Alt with a key: the keys, no character.
            {"alt+f", {{PLAT_WM_KEYDOWN, 0x12}, {PLAT_WM_KEYDOWN, 'F'}}},
        };
        for (const Case& c : cases) {
            g_Seen.clear();
            Xdotool(std::string("key ") + c.keys);
            size_t ups = 0;
            RunUntil([&] {
                ups = Count(PLAT_WM_KEYUP);
                return ups >= c.want.size() - Only({PLAT_WM_CHAR}).size();
            });
            std::vector<std::pair<uint32_t, uint32_t>> got;
            for (const Seen& s : Only({PLAT_WM_KEYDOWN, PLAT_WM_CHAR}))
                got.emplace_back(s.message, uint32_t(s.wParam));
            EXPECT_EQ(got, c.want) << c.keys;
            for (const Seen& s : Only({PLAT_WM_KEYDOWN}))
                EXPECT_EQ(s.lParam & (intptr_t(1) << 30), 0) << c.keys;
        }

        // Text beyond Latin-1 arrives as UTF-16 units.
        g_Seen.clear();
        // (xdotool maps the characters to a spare key while it types them: the loop must be turning.)
        EXPECT_EQ(RunWhile("xdotool type --delay 100 'é写'"), 0);
        RunUntil([&] { return Count(PLAT_WM_CHAR) >= 2; });
        std::u16string typed;
        for (const Seen& s : Only({PLAT_WM_CHAR}))
            typed += char16_t(s.wParam);
        EXPECT_EQ(typed, u"é写");

        // A key held down repeats: every press after the first is flagged, and each types its character.
        g_Seen.clear();
        Xdotool("keydown b sleep 1 keyup b");
        RunUntil([&] { return Count(PLAT_WM_KEYUP) >= 1; });
        const auto downs = Only({PLAT_WM_KEYDOWN});
        ASSERT_GE(downs.size(), 2u);
        EXPECT_EQ(downs[0].lParam & (intptr_t(1) << 30), 0);
        for (size_t i = 1; i < downs.size(); ++i)
            EXPECT_NE(downs[i].lParam & (intptr_t(1) << 30), 0);
        EXPECT_EQ(Count(PLAT_WM_CHAR), downs.size());

        // Held modifiers are read from the keyboard.
        Xdotool("keydown ctrl");
        EXPECT_TRUE(PlatIsKeyDown(PLAT_VK_CONTROL));
        EXPECT_FALSE(PlatIsKeyDown(PLAT_VK_SHIFT));
        Xdotool("keyup ctrl");
        EXPECT_FALSE(PlatIsKeyDown(PLAT_VK_CONTROL));
    });
}

TEST_F(X11Windows, MouseButtonsWheelCaptureAndDisabledWindows)
{
    InOwnProcess([&] {
        PlatHWND w = Make(u"Mouse", 100, 50, 300, 200);
        PlatHWND other = Make(u"Other", 500, 50, 100, 100);
        ASSERT_TRUE(w && other);
        PlatShowWindow(other, true);
        PlatShowWindow(w, true);
        RunUntil([] { return false; }, 100);
        g_Seen.clear();

        Xdotool("mousemove 110 70 click 1");
        RunUntil([&] { return Count(PLAT_WM_LBUTTONUP) >= 1; });
        auto clicks = Only({PLAT_WM_LBUTTONDOWN, PLAT_WM_LBUTTONUP, PLAT_WM_LBUTTONDBLCLK});
        ASSERT_EQ(clicks.size(), 2u);
        EXPECT_EQ(clicks[0].message, PLAT_WM_LBUTTONDOWN);
        EXPECT_EQ(Low(clicks[0].lParam), 10);
        EXPECT_EQ(High(clicks[0].lParam), 20);
        EXPECT_EQ(clicks[1].message, PLAT_WM_LBUTTONUP);
        const auto moves = Only({PLAT_WM_MOUSEMOVE});
        ASSERT_FALSE(moves.empty());
        EXPECT_EQ(Low(moves.back().lParam), 10);
        EXPECT_EQ(High(moves.back().lParam), 20);
        int32_t cx = 0, cy = 0;
        PlatGetCursorPos(cx, cy);
        EXPECT_EQ(cx * 10000 + cy, 110 * 10000 + 70);
        EXPECT_EQ(PlatWindowFromPoint(110, 70), w);
        EXPECT_EQ(PlatWindowFromPoint(550, 100), other);
        EXPECT_EQ(PlatWindowFromPoint(5, 5), nullptr);

        // Two presses within 500 ms and 4 pixels: the second is a double click; a third starts again.
        g_Seen.clear();
        Xdotool("sleep 0.6 click --repeat 2 --delay 100 1");
        RunUntil([&] { return Count(PLAT_WM_LBUTTONUP) >= 2; });
        clicks = Only({PLAT_WM_LBUTTONDOWN, PLAT_WM_LBUTTONUP, PLAT_WM_LBUTTONDBLCLK});
        ASSERT_EQ(clicks.size(), 4u);
        EXPECT_EQ(clicks[0].message, PLAT_WM_LBUTTONDOWN);
        EXPECT_EQ(clicks[2].message, PLAT_WM_LBUTTONDBLCLK);
        g_Seen.clear();
        Xdotool("sleep 0.6 click 1");
        RunUntil([&] { return Count(PLAT_WM_LBUTTONUP) >= 1; });
        EXPECT_EQ(Count(PLAT_WM_LBUTTONDOWN), 1u);
        EXPECT_EQ(Count(PLAT_WM_LBUTTONDBLCLK), 0u);

        // Right button, and the wheel with its screen position.
        g_Seen.clear();
        Xdotool("click 3 click 4 click 5");
        RunUntil([&] { return Count(PLAT_WM_MOUSEWHEEL) >= 2; });
        EXPECT_EQ(Count(PLAT_WM_RBUTTONDOWN), 1u);
        EXPECT_EQ(Count(PLAT_WM_RBUTTONUP), 1u);
        const auto wheel = Only({PLAT_WM_MOUSEWHEEL});
        ASSERT_EQ(wheel.size(), 2u);
        EXPECT_EQ(int16_t(wheel[0].wParam >> 16), 120);
        EXPECT_EQ(int16_t(wheel[1].wParam >> 16), -120);
        EXPECT_EQ(Low(wheel[0].lParam), 110);
        EXPECT_EQ(High(wheel[0].lParam), 70);

        // Captured, the window sees the pointer beyond its edges.
        g_Seen.clear();
        PlatSetCapture(w);
        EXPECT_EQ(PlatGetCapture(), w);
        Xdotool("mousemove 550 100 click 1");
        RunUntil([&] { return Count(PLAT_WM_LBUTTONUP) >= 1; });
        for (const Seen& s : g_Seen)
            EXPECT_EQ(s.window, w) << s.message;
        const auto outside = Only({PLAT_WM_LBUTTONUP});
        ASSERT_EQ(outside.size(), 1u);
        EXPECT_EQ(Low(outside[0].lParam), 450);
        EXPECT_EQ(High(outside[0].lParam), 50);
        EXPECT_TRUE(PlatReleaseCapture());
        EXPECT_EQ(PlatGetCapture(), nullptr);

        // A disabled window takes no input.
        PlatEnableWindow(w, false);
        g_Seen.clear();
        Xdotool("mousemove 120 80 click 1 key a");
        RunUntil([] { return false; }, 300);
        EXPECT_EQ(Only({PLAT_WM_LBUTTONDOWN, PLAT_WM_LBUTTONUP, PLAT_WM_MOUSEMOVE, PLAT_WM_KEYDOWN, PLAT_WM_CHAR}).size(),
                  0u);
        PlatEnableWindow(w, true);
    });
}

TEST_F(X11Windows, ServerChangesExposuresTimersAndPostsComeBackAsMessages)
{
    InOwnProcess([&] {
        g_MinWidth = 150;
        g_MinHeight = 90;
        PlatHWND w = Make(u"Sized", 20, 20, 300, 200, PLAT_WS_RESIZABLE);
        ASSERT_TRUE(w);
        PlatShowWindow(w, true);
        RunUntil([] { return Count(PLAT_WM_PAINT) >= 1; });
        const std::string id = Xid("Sized");

        // Sized below its minimum by another client: the window takes its minimum.
        g_Seen.clear();
        Xdotool("windowsize " + id + " 60 40");
        ASSERT_TRUE(RunUntil([] { return Count(PLAT_WM_WINDOWPOSCHANGED) >= 1; }));
        auto pos = Only({PLAT_WM_WINDOWPOSCHANGED});
        EXPECT_EQ(pos[0].pos.width, 150);
        EXPECT_EQ(pos[0].pos.height, 90);
        EXPECT_EQ(pos[0].pos.flags & PLAT_SWP_NOSIZE, 0u);
        EXPECT_NE(pos[0].pos.flags & PLAT_SWP_NOMOVE, 0u);
        RunUntil([] { return false; }, 100);
        EXPECT_NE(Shell("xwininfo -id " + id).find("Width: 150\n"), std::string::npos);
        g_Seen.clear();
        Xdotool("windowsize " + id + " 400 250");
        ASSERT_TRUE(RunUntil([] { return Count(PLAT_WM_WINDOWPOSCHANGED) >= 1; }));
        pos = Only({PLAT_WM_WINDOWPOSCHANGED});
        EXPECT_EQ(pos[0].pos.width * 1000 + pos[0].pos.height, 400250);
        PlatRect r{};
        PlatGetWindowRect(w, r);
        EXPECT_EQ(r.right - r.left, 400);

        g_Seen.clear();
        Xdotool("windowmove " + id + " 70 80");
        ASSERT_TRUE(RunUntil([] { return Count(PLAT_WM_WINDOWPOSCHANGED) >= 1; }));
        pos = Only({PLAT_WM_WINDOWPOSCHANGED});
        EXPECT_EQ(pos[0].pos.x * 1000 + pos[0].pos.y, 70080);
        EXPECT_NE(pos[0].pos.flags & PLAT_SWP_NOSIZE, 0u);

        // Our own moves are not reported twice when the server confirms them.
        g_Seen.clear();
        PlatSetWindowPos(w, 90, 95, 0, 0, PLAT_SWP_NOSIZE | PLAT_SWP_NOZORDER);
        RunUntil([] { return false; }, 200);
        EXPECT_EQ(Count(PLAT_WM_WINDOWPOSCHANGED), 1u);

        // A window shown over part of it and taken away: the uncovered part is painted again.
        PlatHWND cover = Make(u"Cover", 100, 105, 50, 40);
        PlatShowWindow(cover, true);
        RunUntil([] { return false; }, 100);
        g_Seen.clear();
        PlatShowWindow(cover, false);
        ASSERT_TRUE(RunUntil([&] { return !Only({PLAT_WM_PAINT}).empty(); }));
        const auto paint = Only({PLAT_WM_PAINT});
        EXPECT_EQ(paint[0].window, w);
        EXPECT_EQ(paint[0].pos.x * 1000 + paint[0].pos.y, 10010);
        EXPECT_EQ(paint[0].pos.width * 1000 + paint[0].pos.height, 50040);
        EXPECT_EQ(PlatGetActiveWindow(), w);

        // Timers fire on the real clock; a message posted from another thread ends the wait.
        size_t ticks = 0;
        PlatSetTimer(w, 7, 20);
        RunUntil([&] {
            PlatMsg m{};
            while (PlatPeekMessage(m, w, PLAT_WM_TIMER, PLAT_WM_TIMER, false) && m.wParam == 7) {
                PlatPeekMessage(m, w, PLAT_WM_TIMER, PLAT_WM_TIMER, true);
                ++ticks;
            }
            return ticks >= 3;
        });
        EXPECT_GE(ticks, 3u);
        PlatKillTimer(w, 7);
        PlatKillTimer(w, 99);
        PlatKillTimer(cover, 99);
        g_Seen.clear();
        std::thread poster([w] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            PlatPostMessage(w, PLAT_WM_USER + 5, 42, 0);
        });
        PlatMsg m{};
        ASSERT_TRUE(PlatGetMessage(m));
        poster.join();
        EXPECT_EQ(m.message, PLAT_WM_USER + 5);
        EXPECT_EQ(m.wParam, 42u);
    });
}

TEST_F(X11Windows, ClipboardTalksToOtherClients)
{
    InOwnProcess([&] {
        PlatHWND w = Make(u"Clip", 0, 0, 100, 100);
        ASSERT_TRUE(w);
        PlatShowWindow(w, true);
        RunUntil([] { return false; }, 50);
        const std::string out = (m_Dir / "out").string();

        // Ours, read by another client in each of the targets we offer.
        ASSERT_TRUE(PlatSetClipboardText(u"wörld 写"));
        EXPECT_EQ(RunWhile("xclip -o -selection clipboard > " + out), 0);
        EXPECT_EQ(lumotest::ReadText(out), "wörld 写");
        EXPECT_EQ(RunWhile("xclip -o -selection clipboard -t TARGETS > " + out), 0);
        EXPECT_EQ(lumotest::ReadText(out), "TARGETS\nUTF8_STRING\nSTRING\nTEXT\n");
        EXPECT_EQ(RunWhile("xclip -o -selection clipboard -t STRING > " + out), 0);
        EXPECT_EQ(lumotest::ReadText(out), "w\xF6rld ?");
        std::u16string text;
        ASSERT_TRUE(PlatGetClipboardText(text));
        EXPECT_EQ(text, u"wörld 写");

        // Another client's text.
        lumotest::WriteText(m_Dir / "in", "héllo\n");
        Offer("-i " + (m_Dir / "in").string(), "UTF8_STRING", 'h');
        text.clear();
        ASSERT_TRUE(PlatGetClipboardText(text));
        EXPECT_EQ(text, u"héllo\n");

        // An owner that has no text, and one whose text comes in pieces: refused, the text left as it was.
        lumotest::WriteBytes(m_Dir / "png", std::vector<uint8_t>{0x89, 'P', 'N', 'G'});
        Offer("-t image/png -i " + (m_Dir / "png").string(), "image/png", '\x89');
        text = u"kept";
        EXPECT_FALSE(PlatGetClipboardText(text));
        EXPECT_EQ(text, u"kept");
        lumotest::WriteText(m_Dir / "big", std::string(3 << 20, 'x'));
        Offer("-i " + (m_Dir / "big").string(), "UTF8_STRING", 'x');
        EXPECT_FALSE(PlatGetClipboardText(text));
        EXPECT_EQ(text, u"kept");
        // Our own window still answers after all that.
        g_Seen.clear();
        Xdotool("mousemove 10 10 click 1");
        EXPECT_TRUE(RunUntil([] { return Count(PLAT_WM_LBUTTONUP) >= 1; }));
    });
}

TEST_F(X11Windows, MessageBoxShowsItsTextAndWaitsForOk)
{
    InOwnProcess([&] {
        PlatHWND w = Make(u"Owner", 100, 100, 400, 300);
        ASSERT_TRUE(w);
        PlatShowWindow(w, true);
        RunUntil([] { return false; }, 50);
        const std::string shot = (m_Dir / "box.png").string();
        std::atomic<int> status{-1};
        // Another client finds the box, photographs it and presses Return.
        std::thread user([&] {
            status = lumotest::RunCommand(m_Server->Env() + "id=$(xdotool search --sync --name '^Box caption$' | head -1)"
                                          " && sleep 0.3 && import -window $id " + shot +
                                          " && xdotool key Return");
        });
        PlatMessageBox(w, u"Something went wrong while reading the file; the other files are fine.", u"Box caption");
        user.join();
        EXPECT_EQ(status.load(), 0);
        // Grey, black text and the button's frame: many shades of grey.
        const std::string colours = lumotest::CommandOutput("convert " + shot + " -format %k info:");
        EXPECT_GT(std::atoi(colours.c_str()), 8) << colours;
        // The owner takes input again.
        g_Seen.clear();
        Xdotool("mousemove 150 150 click 1");
        EXPECT_TRUE(RunUntil([] { return Count(PLAT_WM_LBUTTONUP) >= 1; }));
    });
}

}  // namespace
