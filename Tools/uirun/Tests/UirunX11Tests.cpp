// uirun on the X11 backend under an Xvfb of the test's own: what reaches the screen is what the headless
// backend dumps, the windows carry their styles, and other clients' requests reach the script. Each test is
// one process with one server, a few uirun runs in it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "LumoTestSupport.h"
#include "LumoXvfb.h"

namespace fs = std::filesystem;

namespace {

const std::string kUirun = LUMO_BINARY_DIR "/Tools/uirun/uirun";
const std::string kDemo = LUMO_SOURCE_DIR "/Tools/uirun/demo";

std::string Trim(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

class UirunX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!m_Server.Running())
            GTEST_SKIP() << m_Server.Error();
        // The scratch machine keeps the runs away from the user's settings.
        m_Env = m_Server.Env() + "LUMO_MACHINE=" + (m_Dir / "machine").string() + " ";
    }
    void TearDown() override { Stop(); }
    // Starts uirun --x11 in the background on the folder (at most timeout seconds); its exit status is kept.
    void Start(const std::string& folder, int timeout = 60)
    {
        Stop();
        const std::string pid = (m_Dir / "pid").string(), status = (m_Dir / "status").string();
        fs::remove(pid);
        fs::remove(status);
        ASSERT_EQ(lumotest::RunCommand("export " + m_Env + "; ( " + kUirun + " --x11 --folder " + folder +
                                       " --timeout " + std::to_string(timeout) + " >" + Out() + " 2>" + Err() +
                                       " & echo $! >" + pid + "; wait $!; echo $? >" + status +
                                       " ) >/dev/null 2>&1 &"),
                  0);
        auto text = [&pid] { return fs::exists(pid) ? lumotest::ReadText(pid) : std::string(); };
        for (int i = 0; i < 500 && (text().empty() || text().back() != '\n'); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        m_Pid = std::atoi(text().c_str());
    }
    // Waits for the end of the run; its exit status, -1 when it did not end within ms.
    int Wait(int ms)
    {
        if (m_Pid <= 0)
            return -1;
        const fs::path status = m_Dir / "status";
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            const std::string text = fs::exists(status) ? lumotest::ReadText(status) : std::string();
            if (!text.empty() && text.back() == '\n') {
                m_Pid = -1;
                return std::atoi(text.c_str());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }
    void Stop()
    {
        if (m_Pid > 0) {
            lumotest::RunCommand("kill " + std::to_string(m_Pid) + " 2>/dev/null");
            Wait(5000);
            m_Pid = -1;
        }
    }
    // The X window id of the window with this title, once it is shown.
    std::string Window(const std::string& title)
    {
        return Trim(Shell("timeout 30 xdotool search --sync --onlyvisible --name '^" + title + "$' | head -1"));
    }
    std::string Shell(const std::string& command)
    {
        return lumotest::CommandOutput("export " + m_Env + "; " + command);
    }
    int Run(const std::string& command) { return lumotest::RunCommand("export " + m_Env + "; " + command); }
    std::string Out() const { return (m_Dir / "out").string(); }
    std::string Err() const { return (m_Dir / "err").string(); }
    // Waits until uirun has printed the text.
    bool Printed(const std::string& text, int ms = 10000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (lumotest::ReadText(Out()).find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    int Field(const std::string& info, const std::string& name)
    {
        const size_t at = info.find(name);
        return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + name.size());
    }
    fs::path Script(const std::string& text)
    {
        fs::create_directories(m_Dir / "t");
        lumotest::WriteText(m_Dir / "t/ui.xml", text);
        return m_Dir / "t";
    }

    lumotest::Xvfb m_Server;
    lumotest::TempDir m_Dir;
    std::string m_Env;
    int m_Pid = -1;
};

TEST_F(UirunX11, DemoOnTheScreenIsTheHeadlessDump)
{
    // The same script's headless dump.
    lumotest::WriteText(m_Dir / "events", "tick\n");
    ASSERT_EQ(Run("LUMO_UI=headless " + kUirun + " --headless --folder " + kDemo + " --events " +
                  (m_Dir / "events").string() + " --dump-dir " + m_Dir.Path().string()),
              0);
    const std::string dump = (m_Dir / "Demo.Main.png").string();
    ASSERT_TRUE(fs::exists(dump));

    Start(kDemo);
    const std::string id = Window("PELTA Lumo Desk");
    ASSERT_FALSE(id.empty()) << lumotest::ReadText(Err());
    const std::string info = Shell("xwininfo -id " + id);
    const int x = Field(info, "Absolute upper-left X:"), y = Field(info, "Absolute upper-left Y:");
    const int w = Field(info, "Width:"), h = Field(info, "Height:");
    EXPECT_EQ(x * 1000 + y, 60040) << info;
    EXPECT_EQ(w * 1000 + h, 440120) << info;
    // The screen, cropped to the window: until it has been painted, then not a pixel apart.
    const std::string shot = (m_Dir / "shot.png").string(), crop = (m_Dir / "crop.png").string();
    std::string differ;
    for (int attempt = 0; attempt < 50; ++attempt) {
        ASSERT_EQ(Run("import -window root " + shot), 0);
        ASSERT_EQ(lumotest::RunCommand("convert " + shot + " -crop " + std::to_string(w) + "x" + std::to_string(h) +
                                       "+" + std::to_string(x) + "+" + std::to_string(y) + " +repage " + crop),
                  0);
        differ = lumotest::CommandOutput("compare -metric AE " + crop + " " + dump + " null: 2>&1");
        if (Trim(differ) == "0")
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(Trim(differ), "0");
    // Text is part of it: the caption's many shades.
    EXPECT_GT(std::atoi(lumotest::CommandOutput("convert " + crop + " -format %k info:").c_str()), 20);
    // Escape in the focused window ends the run.
    ASSERT_EQ(Run("xdotool key Escape"), 0);
    EXPECT_EQ(Wait(2000), 0) << lumotest::ReadText(Err());
}

TEST_F(UirunX11, StylesAreOnTheServerAndTheMinimumSizeIsKept)
{
    const fs::path folder = Script(R"(<APP Name="T">
        <WINDOW Name="Main" WindowTitle="Main" X="10" Y="10" BgColor="#000000">
          <TEST_PROBE Name="P" MinHSize="120" MinVSize="70" HStretch="1" VStretch="1" Color="#0000FF"
                      Kinds="ON_RESIZE:ii"/>
          <ON_RESIZE Relay="T.Main.P" Message="ON_RESIZE"/>
        </WINDOW>
        <WINDOW Name="Owned" WindowTitle="Owned" _Parent="Main" X="300" Y="10"/>
        <WINDOW Name="Top" WindowTitle="Top" _TopMost="1" X="520" Y="10"/>
        <WINDOW Name="Tool" WindowTitle="Tool" _ToolWindow="1" X="740" Y="10"/>
        <WINDOW Name="Bare" WindowTitle="Bare" _BagTheTitleBar="1" X="960" Y="10"/>
      </APP>)");
    Start(folder.string());
    const std::string main = Window("Main");
    ASSERT_FALSE(main.empty()) << lumotest::ReadText(Err());
    for (const char* title : {"Owned", "Top", "Tool", "Bare"})
        ASSERT_FALSE(Window(title).empty()) << title;
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%lx", std::strtoul(main.c_str(), nullptr, 10));
    EXPECT_NE(Shell("xprop -id " + Window("Owned") + " WM_TRANSIENT_FOR").find(std::string("window id # ") + hex),
              std::string::npos);
    EXPECT_NE(Shell("xprop -id " + Window("Top") + " _NET_WM_STATE").find("_NET_WM_STATE_ABOVE"), std::string::npos);
    EXPECT_NE(Shell("xprop -id " + Window("Tool") + " _NET_WM_WINDOW_TYPE").find("_NET_WM_WINDOW_TYPE_UTILITY"),
              std::string::npos);
    EXPECT_NE(Shell("xprop -id " + Window("Bare") + " _MOTIF_WM_HINTS").find("0x2, 0x0, 0x0, 0x0, 0x0"),
              std::string::npos);
    // The default look is not resizable: its size is fixed, 200 x 100.
    const std::string fixed = Shell("xprop -id " + Window("Owned") + " WM_NORMAL_HINTS");
    EXPECT_NE(fixed.find("program specified minimum size: 200 by 100"), std::string::npos) << fixed;
    EXPECT_NE(fixed.find("program specified maximum size: 200 by 100"), std::string::npos) << fixed;
    const std::string resizable = Shell("xprop -id " + main + " WM_NORMAL_HINTS");
    EXPECT_NE(resizable.find("program specified minimum size: 120 by 70"), std::string::npos) << resizable;

    // Sized by another client; below its minimum, the window keeps its minimum and says so.
    ASSERT_EQ(Run("xdotool windowsize " + main + " 300 150"), 0);
    EXPECT_TRUE(Printed("T.Main.P ON_RESIZE 300,150")) << lumotest::ReadText(Out());
    ASSERT_EQ(Run("xdotool windowsize " + main + " 30 20"), 0);
    EXPECT_TRUE(Printed("T.Main.P ON_RESIZE 120,70")) << lumotest::ReadText(Out());
    EXPECT_NE(Shell("xwininfo -id " + main).find("Width: 120\n"), std::string::npos);
}

TEST_F(UirunX11, InputAndClipboardFromOtherClientsReachTheProbe)
{
    const fs::path folder = Script(R"(<APP Name="I">
        <WINDOW Name="Main" WindowTitle="PELTA Lumo Desk" X="0" Y="0" BgColor="#000000">
          <TEST_PROBE Name="P" MinHSize="200" MinVSize="100" Color="#00FF00" LogInput="1" TakeFocus="1"
                      CopyText="world"/>
        </WINDOW>
      </APP>)");
    Start(folder.string());
    ASSERT_FALSE(Window("PELTA Lumo Desk").empty()) << lumotest::ReadText(Err());
    ASSERT_TRUE(Printed("I.Main.P Post Creation Initialization"));

    ASSERT_EQ(Run("xdotool mousemove 50 40 click 1"), 0);
    EXPECT_TRUE(Printed("I.Main.P MouseDown 50 40 0 0\n")) << lumotest::ReadText(Out());
    EXPECT_TRUE(Printed("I.Main.P MouseUp 50 40 0 0\n")) << lumotest::ReadText(Out());
    ASSERT_EQ(Run("xdotool sleep 0.6 click --repeat 2 --delay 100 1"), 0);
    EXPECT_TRUE(Printed("I.Main.P DoubleClick 50 40 0 0\n")) << lumotest::ReadText(Out());
    ASSERT_EQ(Run("xdotool key ctrl+bracketleft"), 0);
    EXPECT_TRUE(Printed("I.Main.P KeyDown 91 1 0\n")) << lumotest::ReadText(Out());

    // Another client's text pasted; the probe's text copied for another client.
    ASSERT_EQ(Run("printf hello | xclip -selection clipboard -i"), 0);
    ASSERT_EQ(Run("for i in $(seq 100); do [ \"$(xclip -o -selection clipboard)\" = hello ] && break; sleep 0.1; "
                  "done"),
              0);
    ASSERT_EQ(Run("xdotool key ctrl+v"), 0);
    EXPECT_TRUE(Printed("I.Main.P Paste hello\n")) << lumotest::ReadText(Out());
    ASSERT_EQ(Run("xdotool key ctrl+c"), 0);
    std::string copied;
    for (int i = 0; i < 100 && copied != "world"; ++i) {
        copied = Shell("xclip -o -selection clipboard");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(copied, "world");

    // Escape on the main window ends the run.
    ASSERT_EQ(Run("xdotool key Escape"), 0);
    EXPECT_EQ(Wait(2000), 0);
}

TEST_F(UirunX11, SecondInstanceHandsItsArgumentToTheFirst)
{
    const fs::path folder = Script(R"(<APP Name="S" _SingleInstApp="1" _DeclareAppName="LumoX11Test">
      <ON_OPEN_PATH_EVENT Relay="S.Main.P" Message="ON_OPEN_PATH_EVENT"/>
      <WINDOW Name="Main" WindowTitle="PELTA Lumo Desk">
        <TEST_PROBE Name="P" Kinds="ON_OPEN_PATH_EVENT:s"/></WINDOW></APP>)");
    Start(folder.string(), 30);
    ASSERT_FALSE(Window("PELTA Lumo Desk").empty()) << lumotest::ReadText(Err());
    ASSERT_TRUE(Printed("S.Main.P Post Creation Initialization"));
    const auto start = std::chrono::steady_clock::now();
    const std::string secondErr = (m_Dir / "second.err").string();
    EXPECT_EQ(Run(kUirun + " --x11 --folder " + folder.string() + " /x/y.kzr 2>" + secondErr), 0)
        << lumotest::ReadText(secondErr);
    // Within 2 seconds on a quiet machine; the bound leaves room for a loaded sanitizer build.
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
    EXPECT_TRUE(Printed("S.Main.P ON_OPEN_PATH_EVENT /x/y.kzr\n")) << lumotest::ReadText(Out());
    const std::string out = lumotest::ReadText(Out());
    EXPECT_EQ(out.find("ON_OPEN_PATH_EVENT"), out.rfind("ON_OPEN_PATH_EVENT"));
}

}  // namespace

namespace {

// Without a display to show them on, the X11 backend refuses to start and says why.
TEST(UirunX11Start, NoDisplayIsAClearError)
{
    lumotest::TempDir dir;
    const std::string err = (dir / "err").string();
    struct Case {
        const char* env;
        const char* option;
        const char* message;
    } cases[] = {
        {"env -u DISPLAY LUMO_UI=x11 ", "", "uirun: the X11 window backend needs an X display: DISPLAY is not set"},
        {"DISPLAY=/nowhere/none:7 ", "--x11 ", "uirun: cannot open the X display \"/nowhere/none:7\""},
        {"LUMO_UI=other ", "", "uirun: LUMO_UI must be \"headless\" or \"x11\", not \"other\""},
    };
    for (const Case& c : cases) {
        const int status = lumotest::RunCommand(std::string(c.env) + "LUMO_MACHINE=" + (dir / "m").string() + " " +
                                                kUirun + " " + c.option + "--folder " + kDemo + " 2>" + err);
        EXPECT_EQ(status, 1) << c.env;
        EXPECT_EQ(lumotest::ReadText(err), std::string(c.message) + "\n") << c.env;
    }
}

}  // namespace
