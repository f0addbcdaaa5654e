// The layout and drawing controls end to end through uirun: the layout listing, the dumped pixels, dragging
// a divider and clicking a frame on the headless backend, scripts with hostile numbers, and the box script on
// the X11 backend under an Xvfb of the test's own.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "KPNGLoader.h"
#include "KStorage.h"
#include "LumoStorageFixture.h"
#include "LumoTestSupport.h"
#include "UirunTestSupport.h"
#include "LumoXvfb.h"
#include "PlatformShell.h"

namespace fs = std::filesystem;

namespace {

using namespace uiruntest;



class UirunControls : public lumotest::StorageFixture {
protected:
    void SetUp() override
    {
        StorageFixture::SetUp();
        std::string appData;
        ASSERT_TRUE(PlatGetSpecialFolderPath(PLAT_CSIDL_APPDATA, appData, true));
    }
    // Writes the script as t/ui.xml and the events, runs uirun (headless unless options say otherwise).
    RunResult Script(const std::string& script, const std::string& events, const std::string& env = "LUMO_UI=headless")
    {
        fs::create_directories(Root() / "t");
        lumotest::WriteText(Root() / "t/ui.xml", script);
        lumotest::WriteText(Root() / "e", events);
        RunResult r;
        const std::string out = (Root() / "stdout").string(), err = (Root() / "stderr").string();
        r.status = lumotest::RunCommand(env + " timeout 60 " + kUirun + " --folder " + (Root() / "t").string() +
                                        " --events " + (Root() / "e").string() + " >" + out + " 2>" + err);
        r.out = lumotest::ReadText(out);
        r.err = lumotest::ReadText(err);
        return r;
    }
};

const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kBackground{0x10, 0x20, 0x30};

// Three stretching rectangles over a row of fixed ones, in a window of background #102030.
const char kBoxScript[] = R"(<APP Name="T"><WINDOW Name="Main" BgColor="#102030">
  <VBOX Name="Col">
    <HBOX Name="Row">
      <RECT Name="A" MinHSize="0" MinVSize="10" HStretch="1" VStretch="1" Color="#FF0000"/>
      <RECT Name="B" MinHSize="0" MinVSize="10" HStretch="1" VStretch="1" Color="#00FF00"/>
      <RECT Name="C" MinHSize="0" MinVSize="10" HStretch="2" VStretch="1" Color="#0000FF"/>
    </HBOX>
    <HLINE Name="L" MinHSize="1" HStretch="1" Color="#FFFFFF"/>
    <HBOX Name="Fixed">
      <RECT Name="D" MinHSize="20" MinVSize="6" HStretch="0" VStretch="0" Color="#FF0000"/>
      <RECT Name="E" MinHSize="20" MinVSize="6" HStretch="0" VStretch="0" Color="#00FF00"/>
    </HBOX>
  </VBOX></WINDOW></APP>)";

}  // namespace

TEST_F(UirunControls, BoxOfStretchesOneOneTwoIn101PixelsListsAndDraws25And25And51)
{
    RunResult r = Script(kBoxScript, "resize T.Main 101 17\nlayout T.Main\ndump T.Main " +
                                         (Root() / "box.png").string() + "\n");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* line : {"VBOX T.Main.Col 0 0 101 17\n", "  HBOX T.Main.Col.Row 0 0 101 10\n",
                             "    RECT T.Main.Col.Row.A 0 0 25 10\n", "    RECT T.Main.Col.Row.B 25 0 25 10\n",
                             "    RECT T.Main.Col.Row.C 50 0 51 10\n", "  HLINE T.Main.Col.L 0 10 101 1\n",
                             "    RECT T.Main.Col.Fixed.E 20 11 20 6\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "in\n" << r.out;
    auto png = Png(Root() / "box.png");
    ASSERT_TRUE(png);
    ASSERT_EQ(png->GetWidth(), 101);
    EXPECT_EQ(At(*png, 24, 5), kRed);
    EXPECT_EQ(At(*png, 25, 5), kGreen);
    EXPECT_EQ(At(*png, 49, 5), kGreen);
    EXPECT_EQ(At(*png, 50, 5), kBlue);
    EXPECT_EQ(At(*png, 100, 5), kBlue);
    EXPECT_EQ(At(*png, 50, 10), (Rgb{255, 255, 255}));
    // The fixed row leaves the room after its last child to the window's background.
    EXPECT_EQ(At(*png, 39, 12), kGreen);
    EXPECT_EQ(At(*png, 40, 12), kBackground);
    EXPECT_EQ(At(*png, 100, 16), kBackground);
}

TEST_F(UirunControls, HostileNumbersLoadWithoutComplaint)
{
    // The malformed colour drops its RECT, so the huge minimum never reaches the window.
    RunResult r = Script(R"(<APP Name="T"><WINDOW Name="Main" BgColor="#FFFFFF"><HBOX Name="Row">
        <RECT Name="Bad" MinHSize="999999999" MinVSize="5" HStretch="-7" VStretch="0" Color="#zz"/>
        <RECT Name="Neg" MinHSize="10" MinVSize="5" HStretch="-7" VStretch="-1" Color="#FF0000"/>
        <FRAME Name="F" MinHSize="-5" MinVSize="-5" HStretch="-1" VStretch="0" FrameColor="#000000"
               FrameThickness="-3"/>
        </HBOX></WINDOW></APP>)",
                         "layout T.Main\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("Bad"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("RECT T.Main.Row.Neg 0 0 10 5\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("FRAME T.Main.Row.F 10 0 1 1\n"), std::string::npos) << r.out;
    // A minimum that does fit nowhere is the script error it reports.
    r = Script(R"(<APP Name="T"><WINDOW Name="Main" BgColor="#FFFFFF">
        <RECT MinHSize="999999999" MinVSize="5" HStretch="-7" VStretch="0" Color="#000000"/></WINDOW></APP>)",
               "tick\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("User Interface Script Error"), std::string::npos) << r.err;
}

TEST_F(UirunControls, DraggingADividerMovesRoomBetweenThePanesAndShowsItsCursor)
{
    fs::create_directories(Root() / "t");
    fs::copy_file(LUMO_BINARY_DIR "/skins/cursor_divider.png", Root() / "t/divider.png",
                  fs::copy_options::overwrite_existing);
    // 334 and 666 per mille of 300 pixels: panes of 100 and 200 on either side of a 4-pixel divider.
    const std::string script = R"(<APP Name="T"><WINDOW Name="Main" BgColor="#102030"><HBOX Name="Row">
      <RECT Name="L" MinHSize="0" MinVSize="20" HStretch="334" VStretch="1" Color="#FF0000"/>
      <SPACER Name="D" _SlidingDivider="1" MinSize="4" Stretch="0" File_Cursor="divider.png" CursorX="8" CursorY="7"/>
      <RECT Name="R" MinHSize="0" MinVSize="20" HStretch="666" VStretch="1" Color="#0000FF"/>
      </HBOX></WINDOW></APP>)";
    RunResult r = Script(script, "resize T.Main 304 20\nlayout T.Main\nmouse T.Main 102 5\ncursor T.Main\n"
                                 "down T.Main 102 5\nmouse T.Main 110 5\nmouse T.Main 117 5\nup T.Main 117 5\n"
                                 "layout T.Main\ndump T.Main " + (Root() / "drag.png").string() +
                                 "\nmouse T.Main 150 5\ncursor T.Main\n"
                                 "down T.Main 114 5\nmouse T.Main 400 5\nmouse T.Main 450 5\nup T.Main 450 5\n"
                                 "layout T.Main\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string before = "  RECT T.Main.Row.L 0 0 100 20\n  SPACER T.Main.Row.D 100 0 4 20\n"
                               "  RECT T.Main.Row.R 104 0 200 20\n";
    // After 15 pixels: stretches 115 and 185, which are 383 and 616 per mille: 114 and 186 pixels.
    const std::string after = "  RECT T.Main.Row.L 0 0 114 20\n  SPACER T.Main.Row.D 114 0 4 20\n"
                              "  RECT T.Main.Row.R 118 0 186 20\n";
    // Dragged past the right pane: its stretch stops at 0 and the left one takes all the room.
    const std::string end = "  RECT T.Main.Row.L 0 0 300 20\n  SPACER T.Main.Row.D 300 0 4 20\n"
                            "  RECT T.Main.Row.R 304 0 0 20\n";
    const size_t a = r.out.find(before), b = r.out.find(after), c = r.out.find(end);
    EXPECT_NE(a, std::string::npos) << r.out;
    EXPECT_NE(b, std::string::npos) << r.out;
    EXPECT_NE(c, std::string::npos) << r.out;
    EXPECT_TRUE(a < b && b < c) << r.out;
    // The divider's cursor over it, the default one after leaving it.
    const size_t custom = r.out.find("custom 8 7\n"), plain = r.out.find("default\n");
    EXPECT_TRUE(custom != std::string::npos && plain != std::string::npos && custom < plain) << r.out;
    auto png = Png(Root() / "drag.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(At(*png, 113, 5), kRed);
    EXPECT_EQ(At(*png, 114, 5), kBackground);
    EXPECT_EQ(At(*png, 118, 5), kBlue);
}

TEST_F(UirunControls, FrameWithOnePressRelayPrintsOneLinePerClick)
{
    RunResult r = Script(R"(<APP Name="T"><WINDOW Name="Main" BgColor="#FFFFFF"><VBOX>
        <FRAME Name="F" MinHSize="40" MinVSize="30" HStretch="0" VStretch="0" FrameColor="#000000"
               FrameThickness="2" _Clickable="1"><ON_PRESS Relay="T.Main.P" Message="Pressed"/></FRAME>
        <TEST_PROBE Name="P" MinHSize="10" MinVSize="10"/>
        </VBOX></WINDOW></APP>)",
                         "click T.Main 10 10\nclick T.Main 20 20\nclick T.Main 10 35\n");
    ASSERT_EQ(r.status, 0) << r.err;
    size_t count = 0;
    for (size_t at = r.out.find("T.Main.P Pressed"); at != std::string::npos; at = r.out.find("T.Main.P Pressed", at + 1))
        ++count;
    EXPECT_EQ(count, 2u) << r.out;
}

// The box script on the X11 backend under an Xvfb of the test's own shows the headless dump's pixels.
TEST(UirunControlsX11, BoxScriptOnTheScreenIsTheHeadlessDump)
{
    lumotest::Xvfb server;
    if (!server.Running())
        GTEST_SKIP() << server.Error();
    lumotest::TempDir dir;
    const std::string env = server.Env() + "LUMO_MACHINE=" + (dir / "machine").string() + " ";
    fs::create_directories(dir / "t");
    std::string script = kBoxScript;
    script.replace(script.find("BgColor"), 0, "WindowTitle=\"Boxes\" X=\"30\" Y=\"40\" ");
    lumotest::WriteText(dir / "t/ui.xml", script);
    lumotest::WriteText(dir / "events", "tick\n");
    ASSERT_EQ(lumotest::RunCommand("LUMO_UI=headless LUMO_MACHINE=" + (dir / "machine").string() + " " + kUirun +
                                   " --headless --folder " + (dir / "t").string() + " --events " +
                                   (dir / "events").string() + " --dump-dir " + dir.Path().string()),
              0);
    const std::string dump = (dir / "T.Main.png").string();
    ASSERT_TRUE(fs::exists(dump));

    const std::string pidFile = (dir / "pid").string();
    ASSERT_EQ(lumotest::RunCommand(env + kUirun + " --x11 --folder " + (dir / "t").string() +
                                   " --timeout 60 >/dev/null 2>&1 & echo $! >" + pidFile),
              0);
    const std::string pid = std::to_string(std::atoi(lumotest::ReadText(pidFile).c_str()));
    auto trim = [](std::string s) {
        while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
            s.pop_back();
        return s;
    };
    const std::string id =
        trim(lumotest::CommandOutput(env + "timeout 30 xdotool search --sync --onlyvisible --name '^Boxes$' | head -1"));
    std::string differ = "no window";
    if (!id.empty()) {
        const std::string info = lumotest::CommandOutput(env + "xwininfo -id " + id);
        auto field = [&info](const std::string& name) {
            const size_t at = info.find(name);
            return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + name.size());
        };
        const std::string geometry = std::to_string(field("Width:")) + "x" + std::to_string(field("Height:")) + "+" +
                                     std::to_string(field("Absolute upper-left X:")) + "+" +
                                     std::to_string(field("Absolute upper-left Y:"));
        const std::string shot = (dir / "shot.png").string(), crop = (dir / "crop.png").string();
        // Until the window has been painted, then not a pixel apart.
        for (int attempt = 0; attempt < 50; ++attempt) {
            ASSERT_EQ(lumotest::RunCommand(env + "import -window root " + shot), 0);
            ASSERT_EQ(lumotest::RunCommand("convert " + shot + " -crop " + geometry + " +repage " + crop), 0);
            differ = trim(lumotest::CommandOutput("compare -metric AE " + crop + " " + dump + " null: 2>&1"));
            if (differ == "0")
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    lumotest::RunCommand("kill " + pid + " 2>/dev/null");
    EXPECT_EQ(differ, "0");
}
