// The scroll bar and its owners end to end through uirun on the headless backend, with the mkskins images:
// what reaches a test probe through "ON_SCROLL", the layout listing and the dumped pixels.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "KPNGLoader.h"
#include "KStorage.h"
#include "LumoStorageFixture.h"
#include "LumoTestSupport.h"
#include "PlatformShell.h"

namespace fs = std::filesystem;

namespace {

const std::string kUirun = LUMO_BINARY_DIR "/Tools/uirun/uirun";

using Rgb = std::array<int, 3>;

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// The printed lines that start with prefix, in order.
std::vector<std::string> LinesStartingWith(const std::string& out, const std::string& prefix)
{
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0)
            lines.push_back(line);
    return lines;
}

class UirunScroll : public lumotest::StorageFixture {
protected:
    void SetUp() override
    {
        StorageFixture::SetUp();
        std::string appData;
        ASSERT_TRUE(PlatGetSpecialFolderPath(PLAT_CSIDL_APPDATA, appData, true));
        KWString url;
        ASSERT_TRUE(NativePathToURL(Utf8ToWide(appData), url));
        ASSERT_TRUE(URLToPosixPath(url, m_AppData));
        fs::create_directories(Root() / "t");
        for (const char* skin : {"hscroll_a_normal", "hscroll_a_pressed", "hscroll_b_normal", "hscroll_b_pressed",
                                 "hscroll_thumb", "hscroll_knurls", "vscroll_a_normal", "vscroll_a_pressed",
                                 "vscroll_b_normal", "vscroll_b_pressed", "vscroll_thumb", "vscroll_knurls"})
            fs::copy_file(std::string(LUMO_BINARY_DIR "/skins/") + skin + ".png", Root() / "t" / (std::string(skin) + ".png"),
                          fs::copy_options::overwrite_existing);
    }
    // Writes the script as t/ui.xml and the events, runs uirun on the headless backend.
    RunResult Script(const std::string& script, const std::string& events, const std::string& env = "")
    {
        lumotest::WriteText(Root() / "t/ui.xml", script);
        lumotest::WriteText(Root() / "e", events);
        RunResult r;
        const std::string out = (Root() / "stdout").string(), err = (Root() / "stderr").string();
        r.status = lumotest::RunCommand(env + "LUMO_UI=headless timeout 120 " + kUirun + " --folder " +
                                        (Root() / "t").string() + " --events " + (Root() / "e").string() + " >" + out +
                                        " 2>" + err);
        r.out = lumotest::ReadText(out);
        r.err = lumotest::ReadText(err);
        return r;
    }
    std::unique_ptr<KPNGPixmap> Png(const fs::path& path)
    {
        KWString url;
        EXPECT_TRUE(PosixFileToURL(path.string(), url));
        KIFile* file = OpenFileByURL(url, KFILE_MODE_READ);
        if (!file)
            return nullptr;
        std::unique_ptr<KPNGPixmap> png(LoadPNGPixmap(file));
        file->Release();
        return png;
    }
    static Rgb At(const KPNGPixmap& p, int x, int y)
    {
        const uint8_t* q = p.GetRow(y) + x * 4;
        return {q[2], q[1], q[0]};
    }

    std::string m_AppData;
};

class UiScrollbar : public UirunScroll {};

// The keys of a bar of the mkskins images ("h" or "v"), with children.
std::string BarElement(const std::string& tag, const std::string& name, const char* set, const std::string& extra,
                       const std::string& children)
{
    const std::string s = set;
    return "<" + tag + " Name=\"" + name + "\" " + extra + " BgColor=\"#E0E0E0\" BgClickColor=\"#606060\"" +
           " File_ButtonANormal=\"" + s + "scroll_a_normal.png\" File_ButtonAPressed=\"" + s + "scroll_a_pressed.png\"" +
           " File_ButtonBNormal=\"" + s + "scroll_b_normal.png\" File_ButtonBPressed=\"" + s + "scroll_b_pressed.png\"" +
           " File_Slider=\"" + s + "scroll_thumb.png\" File_SliderKnurls=\"" + s + "scroll_knurls.png\"" +
           " SliderResizeRect=\"" + (s == "h" ? "4, 4, 15, 8" : "4, 4, 8, 15") + "\">" + children + "</" + tag + ">";
}

// A horizontal bar of the minimum 39 x 14 pixels (13-pixel buttons, a 13-pixel track) whose "ON_SCROLL"
// reaches the probe P as "Scrolled", the probe logging its ticks after the bar's.
std::string BarScript(const std::string& probeKeys = "")
{
    return R"(<APP Name="T"><WINDOW Name="Main" BgColor="#FFFFFF"><VBOX Name="Col">)" +
           BarElement("HSCROLLBAR", "Bar", "h", "Stretch=\"0\"",
                      R"(<ON_SCROLL Relay="T.Main.Col.P" Message="Scrolled"/>)") +
           R"(<TEST_PROBE Name="P" MinHSize="5" MinVSize="5" Kinds="Scrolled:i" )" + probeKeys +
           "/></VBOX></WINDOW></APP>";
}

}  // namespace

// ---- Scroll bar ----

TEST_F(UiScrollbar, BarLaysItsPartsOutAtItsMinimum)
{
    RunResult r = Script(BarScript(), "relay T.Main.Col.Bar Set ddd:10,4,0\nlayout T.Main\ndump T.Main " +
                                          (Root() / "bar.png").string() + "\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("  SCROLLBAR T.Main.Col.Bar 0 0 39 14\n"), std::string::npos) << r.out;
    auto png = Png(Root() / "bar.png");
    ASSERT_TRUE(png);
    // The black edge line on top, button A, the thumb (5 of the 13 track pixels) with its grip mark, the track,
    // button B.
    EXPECT_EQ(At(*png, 20, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(At(*png, 1, 2), (Rgb{200, 200, 210}));
    EXPECT_EQ(At(*png, 13, 13), (Rgb{90, 90, 110}));
    EXPECT_EQ(At(*png, 18, 7), (Rgb{224, 224, 224}));
    EXPECT_EQ(At(*png, 25, 7), (Rgb{224, 224, 224}));
    EXPECT_EQ(At(*png, 27, 2), (Rgb{200, 210, 200}));
}

TEST_F(UiScrollbar, SetCorrectsThePositionAndTellsTheOwnerFirst)
{
    RunResult r = Script(BarScript(), "relay T.Main.Col.Bar Set ddd:10,4,9\n"
                                      "relay T.Main.Col.Bar Set ddd:10,4,9\n"
                                      "relay T.Main.Col.Bar Set ddd:10,4,-3\n"
                                      "relay T.Main.Col.Bar Set ddd:10,4,2\n"
                                      "relay T.Main.Col.Bar Set ddd:10,4,2\n"
                                      "relay T.Main.Col.Bar Set ddd:3e9,1,nan\n"
                                      "relay T.Main.Col.Bar Set ddd:-3e9,inf,-inf\n"
                                      "relay T.Main.Col.Bar Set\n"
                                      "relay T.Main.Col.Bar Other ddd:1,1,1\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
    // 6 before the relay returns; the same values again are a second correction; -3 becomes 0; a position
    // inside the range is no news; (3e9, 1, NaN) clamps to the 32-bit range with position 0; (-3e9, inf, -inf)
    // is an empty range whose position is corrected to 0; no argument and other messages are refused.
    const std::string expected = "T.Main.Col.P Scrolled 6\nrelay -> true\n"
                                 "T.Main.Col.P Scrolled 6\nrelay -> true\n"
                                 "T.Main.Col.P Scrolled 0\nrelay -> true\n"
                                 "relay -> true\nrelay -> true\n"
                                 "relay -> true\n"
                                 "T.Main.Col.P Scrolled 0\nrelay -> true\n"
                                 "relay -> false\nrelay -> false\n";
    const size_t at = r.out.find("T.Main.Col.P Scrolled");
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(at, expected.size()), expected) << r.out;
}

TEST_F(UiScrollbar, AnEmptyRangeLeavesTheBarBlankAndDeaf)
{
    RunResult r = Script(BarScript(), "relay T.Main.Col.Bar Set ddd:10,4,0\n"
                                      "relay T.Main.Col.Bar Set ddd:10,0,0\n"
                                      "click T.Main 5 7\nclick T.Main 30 7\nclick T.Main 20 7\n"
                                      "down T.Main 18 7\nmouse T.Main 30 7\nup T.Main 30 7\n"
                                      "wheel T.Main 20 7 -240\nkey T.Main Right\nkey T.Main PageDown\ntick 50\n"
                                      "dump T.Main " + (Root() / "blank.png").string() + "\n"
                                      "relay T.Main.Col.Bar Set ddd:0,0,0\nrelay T.Main.Col.Bar Set ddd:3,5,0\n"
                                      "click T.Main 30 7\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(LinesStartingWith(r.out, "T.Main.Col.P Scrolled").empty()) << r.out;
    auto png = Png(Root() / "blank.png");
    ASSERT_TRUE(png);
    for (int x : {0, 5, 20, 35})
        EXPECT_EQ(At(*png, x, 7), (Rgb{255, 255, 255})) << x;
}

TEST_F(UiScrollbar, HoldingButtonBStepsAtThePressThenAfter300AndEvery100Milliseconds)
{
    RunResult r = Script(BarScript("LogTick=\"1\""), "relay T.Main.Col.Bar Set ddd:100,4,0\n"
                                                     "down T.Main 30 7\ntick 70\nup T.Main 30 7\ntick 30\n");
    ASSERT_EQ(r.status, 0) << r.err;
    // For each "Scrolled", how many of the probe's ticks came before it (the bar ticks first).
    std::vector<std::string> seen;
    int ticks = 0;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        if (line == "T.Main.Col.P Tick 10")
            ++ticks;
        else if (line.rfind("T.Main.Col.P Scrolled ", 0) == 0)
            seen.push_back(std::to_string(ticks) + ":" + line.substr(22));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"0:1", "41:2", "51:3", "61:4"})) << r.out;
    EXPECT_EQ(ticks, 100);
}

TEST_F(UiScrollbar, ButtonAAtTheStartSaysZeroAgainButTheWheelThereSaysNothing)
{
    RunResult r = Script(BarScript(), "relay T.Main.Col.Bar Set ddd:10,4,0\n"
                                      "click T.Main 5 7\n"
                                      "wheel T.Main 20 7 120\n"
                                      "wheel T.Main 20 7 -240\n"
                                      "click T.Main 30 7\n"
                                      "click T.Main 25 7\n"
                                      "click T.Main 14 7\n"
                                      "wheel T.Main 20 7 480\n");
    ASSERT_EQ(r.status, 0) << r.err;
    // Button A at 0; the wheel up at 0 nothing, down two notches 2; button B 3; the page after the thumb (+4,
    // limited to 6); the page before it -4; the wheel up four notches ends at 0.
    EXPECT_EQ(LinesStartingWith(r.out, "T.Main.Col.P Scrolled"),
              (std::vector<std::string>{"T.Main.Col.P Scrolled 0", "T.Main.Col.P Scrolled 2", "T.Main.Col.P Scrolled 3",
                                        "T.Main.Col.P Scrolled 6", "T.Main.Col.P Scrolled 2", "T.Main.Col.P Scrolled 0"}))
        << r.out;
}

TEST_F(UiScrollbar, DraggingTheThumbToTheButtonsGivesTheEndsOfTheRange)
{
    // Range 10, page 4 on a 13-pixel track: a 5-pixel thumb, 8 free pixels for 6 positions.
    RunResult r = Script(BarScript(), "relay T.Main.Col.Bar Set ddd:10,4,0\n"
                                      "down T.Main 15 7\nmouse T.Main 16 7\nmouse T.Main 60 7\nmouse T.Main 61 7\n"
                                      "mouse T.Main 0 7\nmouse T.Main 19 7\nup T.Main 19 7\n"
                                      "dump T.Main " + (Root() / "drag.png").string() + "\n"
                                      // Range 26, page 20: a 10-pixel thumb on 3 free pixels for 6 positions.
                                      "relay T.Main.Col.Bar Set ddd:26,20,0\n"
                                      "down T.Main 15 7\nmouse T.Main 30 7\nup T.Main 30 7\n");
    ASSERT_EQ(r.status, 0) << r.err;
    // One pixel right: 7 x 1 / 9 = 0; to button B's edge 6; past it nothing new; back to button A's edge 0;
    // 4 pixels: 7 x 4 / 9 = 3. On the short track the end gives 7 x 3 / 4 = 5.
    EXPECT_EQ(LinesStartingWith(r.out, "T.Main.Col.P Scrolled"),
              (std::vector<std::string>{"T.Main.Col.P Scrolled 0", "T.Main.Col.P Scrolled 6", "T.Main.Col.P Scrolled 0",
                                        "T.Main.Col.P Scrolled 3", "T.Main.Col.P Scrolled 5"}))
        << r.out;
    // Released at position 3 the thumb is laid out from it: offset 3 x 13 / 10 = 3, pixels 16 to 20.
    auto png = Png(Root() / "drag.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(At(*png, 15, 7), (Rgb{224, 224, 224}));
    EXPECT_EQ(At(*png, 16, 13), (Rgb{90, 90, 110}));
    EXPECT_EQ(At(*png, 20, 13), (Rgb{90, 90, 110}));
    EXPECT_EQ(At(*png, 21, 7), (Rgb{224, 224, 224}));
}
