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
#include "UirunTestSupport.h"
#include "PlatformShell.h"

namespace fs = std::filesystem;

namespace {

using namespace uiruntest;



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

namespace {

// A font configuration of the DejaVu and IPA Gothic fonts only, so that text measures the same everywhere.
std::string PinnedFonts(const fs::path& folder)
{
    fs::create_directories(folder / "fontcache");
    lumotest::WriteText(folder / "fonts.conf",
                        "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n"
                        "<dir>/usr/share/fonts/truetype/dejavu</dir>\n<dir>/usr/share/fonts/opentype/ipafont-gothic</dir>\n"
                        "<cachedir>" + (folder / "fontcache").string() + "</cachedir>\n</fontconfig>\n");
    return "FONTCONFIG_FILE=" + (folder / "fonts.conf").string() + " ";
}

// A list of 12-pixel rows (DejaVu Sans 12) in 120 pixels whose events reach the probe P, with a vertical bar.
std::string ListScript(const std::string& listKeys = "")
{
    return R"(<APP Name="T" HasPersistantDataStore="1"><WINDOW Name="Main" BgColor="#FFFFFF" _SaveState="1">
      <VBOX Name="Col"><SCROLLLIST Name="List" Font="DejaVu Sans" FontSize="12" FontColor="#000000"
        MinHSize="100" MinVSize="120" HStretch="0" VStretch="0" SelectedFontColor="#FFFFFF"
        DisabledFontColor="#808080" _SelectedFontBgColor="#0000FF" )" + listKeys + ">" +
           BarElement("SCROLLBAR", "Bar", "v", "_Horizontal=\"0\" Stretch=\"1\"", "") +
           R"(<ON_SELECT Relay="T.Main.Col.P" Message="Selected"/><ON_SELECT_ID Relay="T.Main.Col.P" Message="Id"/>
        <ON_ADD_ITEM Relay="T.Main.Col.P" Message="AddItem"/><ON_SET_PULLDOWN Relay="T.Main.Col.P" Message="Pulldown"/>
      </SCROLLLIST>
      <TEST_PROBE Name="P" MinHSize="5" MinVSize="5" Kinds="Selected:s,Id:s"/></VBOX></WINDOW></APP>)";
}

// Items named i0, i1, ... as one "NewList".
std::string Items(int count)
{
    std::string out = "a:";
    for (int i = 0; i < count; ++i)
        out += (i ? "|i" : "i") + std::to_string(i);
    return out;
}

}  // namespace

// ---- Scroll list ----

class UiScrollList : public UirunScroll {};

TEST_F(UiScrollList, PostCreationAsksForItemsAndAClickSelectsTextThenId)
{
    RunResult r = Script(ListScript(), "relay T.Main.Col.List NewListWithIDs a:a|b|x|y\nclick T.Main 10 6\n"
                                       "click T.Main 10 18\nclick T.Main 10 60\nlayout T.Main\n",
                         PinnedFonts(Root()));
    ASSERT_EQ(r.status, 0) << r.err;
    // At post-creation "ON_ADD_ITEM" then "ON_SET_PULLDOWN"; each click "ON_SELECT" then "ON_SELECT_ID"; a click
    // below the last item nothing.
    const std::string expected = "T.Main.Col.P AddItem\nT.Main.Col.P Pulldown\n";
    EXPECT_NE(r.out.find(expected), std::string::npos) << r.out;
    EXPECT_EQ(LinesStartingWith(r.out, "T.Main.Col.P S").size() + LinesStartingWith(r.out, "T.Main.Col.P I").size(), 4u);
    const std::string clicks = "T.Main.Col.P Selected a\nT.Main.Col.P Id x\nT.Main.Col.P Selected b\nT.Main.Col.P Id y\n";
    EXPECT_NE(r.out.find(clicks), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  SCROLLLIST T.Main.Col.List 0 0 101 120\n"), std::string::npos) << r.out;
}

TEST_F(UiScrollList, TwentyFiveRowsScrollToShowTheLastTen)
{
    RunResult r = Script(ListScript(), "relay T.Main.Col.List NewList " + Items(25) + "\n"
                                       "click T.Main 10 6\n"
                                       "wheel T.Main 10 60 -2400\n"
                                       "dump T.Main " + (Root() / "end.png").string() + "\n"
                                       "click T.Main 10 6\nclick T.Main 10 114\nclick T.Main 10 60\n",
                         PinnedFonts(Root()));
    ASSERT_EQ(r.status, 0) << r.err;
    // Rows 0 and 9 at the end of the range show items 15 and 24; the selection follows the click.
    EXPECT_EQ(LinesStartingWith(r.out, "T.Main.Col.P Selected"),
              (std::vector<std::string>{"T.Main.Col.P Selected i0", "T.Main.Col.P Selected i15",
                                        "T.Main.Col.P Selected i24", "T.Main.Col.P Selected i20"}))
        << r.out;
    // Scrolled to the end, item 0 (selected, its row filled blue) is out of sight: no row shows blue, the bar
    // column left of the bar is black.
    auto png = Png(Root() / "end.png");
    ASSERT_TRUE(png);
    for (int y = 1; y < 120; y += 12)
        EXPECT_NE(At(*png, 50, y), (Rgb{0, 0, 255})) << y;
    EXPECT_EQ(At(*png, 86, 60), (Rgb{0, 0, 0}));
}

TEST_F(UiScrollList, OddNumberOfStringsPairsTheFirstHalf)
{
    RunResult r = Script(ListScript(), "relay T.Main.Col.List NewListWithIDs a:a|b|c|x|y\n"
                                       "click T.Main 10 6\nclick T.Main 10 18\nclick T.Main 10 30\n",
                         PinnedFonts(Root()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("relay -> true\n"), std::string::npos) << r.out;
    EXPECT_EQ(LinesStartingWith(r.out, "T.Main.Col.P Selected"),
              (std::vector<std::string>{"T.Main.Col.P Selected a", "T.Main.Col.P Selected b"}))
        << r.out;
    EXPECT_EQ(LinesStartingWith(r.out, "T.Main.Col.P Id"),
              (std::vector<std::string>{"T.Main.Col.P Id x", "T.Main.Col.P Id y"}))
        << r.out;
}

TEST_F(UiScrollList, ItemsAreKeptUnderTheirIdsAndBadOnesDoNotSpoilTheStateFile)
{
    const std::string script = ListScript();
    RunResult r = Script(script, "relay T.Main Move ii:50,60\n"
                                 "relay T.Main.Col.List AddToListWithID ss:Alpha|first\n"
                                 "relay T.Main.Col.List AddToListWithID ss:Spaced|a b\n"
                                 "relay T.Main.Col.List AddToListWithID ss:say \"hi\"|quoted\n"
                                 "relay T.Main.Col.List AddToListWithID ss:Beta|second\n"
                                 "relay T.Main.Col.List AddToList s:no id\n",
                         PinnedFonts(Root()));
    ASSERT_EQ(r.status, 0) << r.err;
    const fs::path state = fs::path(m_AppData) / "T.state.xml";
    ASSERT_TRUE(fs::exists(state));
    EXPECT_EQ(lumotest::RunCommand("iconv -f UTF-16 -t UTF-8 " + state.string() + " | xmllint --noout -"), 0);
    const std::string text = lumotest::CommandOutput("iconv -f UTF-16 -t UTF-8 " + state.string());
    EXPECT_NE(text.find(R"(first="Alpha")"), std::string::npos) << text;
    EXPECT_NE(text.find(R"(second="Beta")"), std::string::npos) << text;
    EXPECT_EQ(text.find("Spaced"), std::string::npos) << text;
    EXPECT_EQ(text.find("quoted"), std::string::npos) << text;
    EXPECT_EQ(text.find("no id"), std::string::npos) << text;
    // The next run finds the window where the first left it.
    r = Script(script, "list\n", PinnedFonts(Root()));
    EXPECT_NE(r.out.find("T.Main \"Window\" 50 60"), std::string::npos) << r.out;
}

TEST_F(UiScrollList, HoverSelectsWithoutEventsAndEmptyListAsksForItems)
{
    RunResult r = Script(ListScript("_MouseOver=\"1\" _SaveState=\"0\""),
                         "relay T.Main.Col.List NewListWithIDs a:i0|i1|i2|i3|i4|k0|k1|k2|k3|k4\n"
                         "mouse T.Main 10 30\nmouse T.Main 10 31\n"
                         "dump T.Main " + (Root() / "hover.png").string() + "\n"
                         "relay T.Main.Col.List EmptyList\n",
                         PinnedFonts(Root()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(LinesStartingWith(r.out, "T.Main.Col.P Selected").empty()) << r.out;
    EXPECT_EQ(LinesStartingWith(r.out, "T.Main.Col.P AddItem").size(), 2u) << r.out;
    // Row 2 (item i2) is selected: its text's row is filled with the selected background.
    auto png = Png(Root() / "hover.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(At(*png, 60, 30), (Rgb{0, 0, 255}));
    EXPECT_NE(At(*png, 60, 18), (Rgb{0, 0, 255}));
    const std::string text = lumotest::CommandOutput("iconv -f UTF-16 -t UTF-8 " +
                                                     (fs::path(m_AppData) / "T.state.xml").string());
    EXPECT_EQ(text.find("k2"), std::string::npos) << text;
}

// ---- Scrolled frame ----

namespace {

// A frame of thickness 2 around a 100-pixel view of a 250-pixel column: two clickable 24-pixel frames over a
// 202-pixel rectangle; lines of 10 + 2 pixels. "SIZECHANGED" and the frames' presses reach the probe.
std::string FrameScript(int fillerHeight)
{
    return R"(<APP Name="T"><WINDOW Name="Main" BgColor="#FFFFFF"><VBOX Name="Col">
      <SCROLLED_FRAME Name="F" MinHSize="60" MinVSize="104" HStretch="0" VStretch="0" FrameColor="#000080"
        FrameThickness="2" LineSize="10" SpacerSize="2" _FillColor="#E0E0E0">
        <SIZECHANGED Relay="T.Main.Col.P" Message="Size"/>)" +
           BarElement("SCROLLBAR", "Bar", "v", "_Horizontal=\"0\" Stretch=\"1\"", "") +
           R"(<VBOX Name="C">
          <FRAME Name="B0" MinHSize="40" MinVSize="24" HStretch="0" VStretch="0" FrameColor="#FF0000"
            FrameThickness="1" _FillColor="#FF0000" _Clickable="1"><ON_PRESS Relay="T.Main.Col.P" Message="Pressed0"/></FRAME>
          <FRAME Name="B1" MinHSize="40" MinVSize="24" HStretch="0" VStretch="0" FrameColor="#00FF00"
            FrameThickness="1" _FillColor="#00FF00" _Clickable="1"><ON_PRESS Relay="T.Main.Col.P" Message="Pressed1"/></FRAME>
          <RECT MinHSize="40" MinVSize=")" + std::to_string(fillerHeight) +
           R"(" HStretch="0" VStretch="0" Color="#0000FF"/>
        </VBOX>
      </SCROLLED_FRAME>
      <TEST_PROBE Name="P" MinHSize="5" MinVSize="5" Kinds="Size:ddd"/></VBOX></WINDOW></APP>)";
}

}  // namespace

class UiScrolledFrame : public UirunScroll {};

TEST_F(UiScrolledFrame, ScrolledContentIsClickedWhereItShowsAndCutAtTheView)
{
    RunResult r = Script(FrameScript(202), "wheel T.Main 20 50 -240\nlayout T.Main\n"
                                           "dump T.Main " + (Root() / "scrolled.png").string() + "\n"
                                           "click T.Main 20 5\nclick T.Main 20 1\n"
                                           "relay T.Main.Col.F Visibility b:0\n"
                                           "dump T.Main " + (Root() / "hidden.png").string() + "\n"
                                           "click T.Main 20 5\n");
    ASSERT_EQ(r.status, 0) << r.err;
    // 250 pixels are 252 in whole lines of 12: 21 lines, 8 of them in the 100-pixel view.
    EXPECT_NE(r.out.find("T.Main.Col.P Size 21,8,0\n"), std::string::npos) << r.out;
    // Two lines down the second frame sits at the view's top, the first above it.
    EXPECT_NE(r.out.find("  SCROLLED_FRAME T.Main.Col.F 0 0 60 104\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("      FRAME T.Main.Col.F.C.B0 2 -22 40 24\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("      FRAME T.Main.Col.F.C.B1 2 2 40 24\n"), std::string::npos) << r.out;
    EXPECT_EQ(LinesStartingWith(r.out, "T.Main.Col.P Pressed"), (std::vector<std::string>{"T.Main.Col.P Pressed1"}))
        << r.out;
    auto png = Png(Root() / "scrolled.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(At(*png, 20, 1), (Rgb{0, 0, 0x80}));
    EXPECT_EQ(At(*png, 20, 2), (Rgb{0, 255, 0}));
    EXPECT_EQ(At(*png, 20, 101), (Rgb{0, 0, 255}));
    EXPECT_EQ(At(*png, 20, 102), (Rgb{0, 0, 0x80}));
    // Hidden content: border and fill stay, the content neither shows nor takes clicks.
    png = Png(Root() / "hidden.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(At(*png, 20, 5), (Rgb{0xE0, 0xE0, 0xE0}));
    EXPECT_EQ(At(*png, 20, 1), (Rgb{0, 0, 0x80}));
}

TEST_F(UiScrolledFrame, ContentThatFitsPublishesTheViewInLines)
{
    RunResult r = Script(FrameScript(40), "wheel T.Main 20 50 -240\nlayout T.Main\n");
    ASSERT_EQ(r.status, 0) << r.err;
    // 88 pixels fit the view: 8 lines of 8 from line 0, and the wheel has nowhere to go.
    EXPECT_NE(r.out.find("T.Main.Col.P Size 8,8,0\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("T.Main.Col.P Size 21"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("      FRAME T.Main.Col.F.C.B0 2 2 40 24\n"), std::string::npos) << r.out;
}
