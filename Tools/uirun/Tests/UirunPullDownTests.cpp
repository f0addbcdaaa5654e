// The pull-down list end to end through uirun on the headless backend, with the mkskins images: opening and
// closing its drop-down by presses on the field and elsewhere, a choice relayed back from the drop-down, and
// the shown text and id kept in the state file from one run to the next.
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

using uiruntest::kUirun;
using uiruntest::Rgb;
using uiruntest::RunResult;

using Strings = std::vector<std::string>;


// What reached the probe P, in order, without the start and end broadcasts.
Strings ProbeLines(const std::string& out)
{
    const std::string prefix = "T.Main.Col.P ";
    Strings lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(prefix, 0) != 0)
            continue;
        line = line.substr(prefix.size());
        if (line != "Post Creation Initialization" && line != "we're goin' bye-bye")
            lines.push_back(line);
    }
    return lines;
}

class UiPullDown : public lumotest::StorageFixture {
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
        for (const char* skin : {"pulldown_normal", "pulldown_over", "pulldown_pressed", "pulldown_disabled",
                                 "pulldown_frame", "button_normal", "vscroll_a_normal", "vscroll_a_pressed",
                                 "vscroll_b_normal", "vscroll_b_pressed", "vscroll_thumb", "vscroll_knurls"})
            fs::copy_file(std::string(LUMO_BINARY_DIR "/skins/") + skin + ".png", Root() / "t" / (std::string(skin) + ".png"),
                          fs::copy_options::overwrite_existing);
    }
    RunResult Script(const std::string& script, const std::string& events)
    {
        lumotest::WriteText(Root() / "t/ui.xml", script);
        lumotest::WriteText(Root() / "e", events);
        RunResult r;
        const std::string out = (Root() / "stdout").string(), err = (Root() / "stderr").string();
        r.status = lumotest::RunCommand("LUMO_UI=headless timeout 120 " + kUirun + " --folder " + (Root() / "t").string() +
                                        " --events " + (Root() / "e").string() + " >" + out + " 2>" + err);
        r.out = lumotest::ReadText(out);
        r.err = lumotest::ReadText(err);
        return r;
    }
    std::string Dump(const std::string& name) { return "dump T.Main " + (Root() / name).string() + "\n"; }
    std::unique_ptr<KPNGPixmap> Png(const std::string& name) { return uiruntest::Png(Root() / name); }
    Rgb At(const std::string& name, int x, int y)
    {
        auto png = Png(name);
        if (!png)
            return {-1, -1, -1};
        return uiruntest::At(*png, x, y);
    }
    // The height of the pull-down's field from the layout listing, or -1.
    static int FieldHeight(const std::string& out)
    {
        const std::string key = "  PULLDOWN T.Main.Col.PD ";
        const size_t at = out.find(key);
        if (at == std::string::npos)
            return -1;
        std::istringstream in(out.substr(at + key.size()));
        int left = 0, top = 0, width = 0, height = -1;
        in >> left >> top >> width >> height;
        return height;
    }

    std::string m_AppData;
};

const Rgb kDropColour{0, 255, 0}, kRoomColour{0, 0, 255};

// A pull-down whose drop-down holds one item (a probe filled green, 90 x 40) that, released, relays its
// choice back and rolls the list up; below it a blue rectangle the drop-down covers while open.
std::string PullDownScript(const std::string& keys = R"(_DisplayText="First" _IDText="id1")")
{
    return R"(<APP Name="T" HasPersistantDataStore="1"><WINDOW Name="Main" BgColor="#FFFFFF"><VBOX Name="Col">)"
           R"(<PULLDOWN Name="PD" Font="DejaVu Sans" FontSize="12" FontColor="#000000" MinHSize="60" HStretch="0" )"
           R"(File_Normal="pulldown_normal.png" File_MouseOver="pulldown_over.png" File_Pressed="pulldown_pressed.png" )"
           R"(File_Disabled="pulldown_disabled.png" File_Frame="pulldown_frame.png" FrameRect="4, 4, 11, 11" )" +
           keys +
           R"(><VBOX Name="Drop"><TEST_PROBE Name="Item" MinHSize="90" MinVSize="40" Color="#00FF00">)"
           R"(<ON_PROBE Relay="T.Main.Col.PD" Message="SetText" Data="Second"/>)"
           R"(<ON_PROBE Relay="T.Main.Col.PD" Message="SetID" Data="id2"/>)"
           R"(<ON_PROBE Relay="T.Main.Col.PD" Message="RollUp"/></TEST_PROBE></VBOX>)"
           R"(<ON_SELECT Relay="T.Main.Col.P" Message="Select"/><ON_SELECT_ID Relay="T.Main.Col.P" Message="SelectId"/>)"
           R"(</PULLDOWN><RECT Name="Room" MinHSize="120" MinVSize="100" HStretch="0" VStretch="0" Color="#0000FF"/>)"
           R"(<TEST_PROBE Name="P" MinHSize="5" MinVSize="5" Kinds="Select:s,SelectId:s"/></VBOX></WINDOW></APP>)";
}

}  // namespace

TEST_F(UiPullDown, TheFieldOpensTheDropDownAtReleaseAndThePressAfterClosesIt)
{
    RunResult r = Script(PullDownScript(), "layout T.Main\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const int fh = FieldHeight(r.out);
    ASSERT_GT(fh, 16) << r.out;
    // As wide as its column (its minimum is raised to the drop-down's 90), as tall as its field; the drop-down
    // below it.
    EXPECT_NE(r.out.find("  PULLDOWN T.Main.Col.PD 0 0 120 " + std::to_string(fh) + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("    VBOX T.Main.Col.PD.Drop 0 " + std::to_string(fh) + " 120 40\n"), std::string::npos) << r.out;
    const int below = fh + 20;
    const std::string field = "T.Main 10 " + std::to_string(fh / 2) + "\n";
    r = Script(PullDownScript(),
               "down " + field + Dump("held.png") + "up " + field + Dump("open.png") +
                   // Press and release again: closed, and it stays closed.
                   "down " + field + "up " + field + "tick 3\n" + Dump("closed.png") +
                   // Open, then a press elsewhere closes it; one press and release on the field opens it again.
                   "click " + field + "click T.Main 110 " + std::to_string(fh + 90) + "\n" + Dump("outside.png") +
                   "click " + field + Dump("again.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(At("held.png", 45, below), kRoomColour);
    EXPECT_EQ(At("open.png", 45, below), kDropColour);
    EXPECT_EQ(At("open.png", 89, fh + 39), kDropColour);
    EXPECT_EQ(At("closed.png", 45, below), kRoomColour);
    EXPECT_EQ(At("outside.png", 45, below), kRoomColour);
    EXPECT_EQ(At("again.png", 45, below), kDropColour);
    // The field's frame and the button, which takes the field's height.
    EXPECT_EQ(At("closed.png", 0, fh / 2), (Rgb{60, 60, 60}));
    // (the mouse-over face, scaled from 16 to the field's height)
    const Rgb over = At("closed.png", 120 - fh + 4, 4);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(over[i], (Rgb{235, 235, 200})[i], 3) << i;
    EXPECT_EQ(At("closed.png", 120 - fh - 1, 1), (Rgb{60, 60, 60}));
    // Only the post-creation notification reached the probe.
    EXPECT_EQ(ProbeLines(r.out), (Strings{"Select First", "SelectId id1"})) << r.out;
}

TEST_F(UiPullDown, AChoiceIsRelayedBackAndKeptForTheNextRun)
{
    RunResult r = Script(PullDownScript(), "layout T.Main\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const int fh = FieldHeight(r.out);
    ASSERT_GT(fh, 16);
    ASSERT_LT(fh, 40);
    const std::string field = "T.Main 10 " + std::to_string(fh / 2) + "\n";
    r = Script(PullDownScript(), "click " + field + "click T.Main 45 " + std::to_string(fh + 20) + "\n" +
                                     Dump("chosen.png") + "relay T.Main.Col.PD GetText s:x\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ProbeLines(r.out), (Strings{"Select First", "SelectId id1", "Select Second", "SelectId id2"})) << r.out;
    EXPECT_EQ(At("chosen.png", 45, fh + 20), kRoomColour);

    // The next run starts with the stored choice, and is restored: the script's initial commands are ignored.
    r = Script(PullDownScript(), "relay T.Main.Col.PD InitPulldown ss:Third|id3\nrelay T.Main.Col.PD InitText s:Fourth\n"
                                 "relay T.Main.Col.PD InitID s:id4\nrelay T.Main.Col.PD SetID s:id5\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ProbeLines(r.out), (Strings{"Select Second", "SelectId id2", "SelectId id5"})) << r.out;

    // A text with a double quote is not stored: the state file stays well-formed and keeps the id.
    r = Script(PullDownScript(), "relay T.Main.Col.PD SetText s:say \"cheese\"\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const fs::path state = fs::path(m_AppData) / "T.state.xml";
    ASSERT_TRUE(fs::exists(state));
    EXPECT_EQ(lumotest::RunCommand("iconv -f UTF-16 -t UTF-8 " + state.string() + " | xmllint --noout -"), 0);
    r = Script(PullDownScript(), "");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ProbeLines(r.out), (Strings{"Select First", "SelectId id5"})) << r.out;
}

TEST_F(UiPullDown, WithoutPersistentDataOrRestoredTheInitialCommandsApply)
{
    RunResult r = Script(PullDownScript("_UsePersistentData=\"0\""),
                         "relay T.Main.Col.PD InitText s:Fourth\nrelay T.Main.Col.PD InitID s:id4\n"
                         "relay T.Main.Col.PD InitPulldown ss:Third|id3\nrelay T.Main.Col.PD SetText\n"
                         "relay T.Main.Col.PD Other\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ProbeLines(r.out), (Strings{"Select", "SelectId", "Select Fourth", "SelectId id4"})) << r.out;
    Strings relays;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("relay -> ", 0) == 0)
            relays.push_back(line.substr(9));
    EXPECT_EQ(relays, (Strings{"true", "true", "true", "false", "false"}));
}

TEST_F(UiPullDown, ADisabledPullDownIgnoresTheMouse)
{
    RunResult r = Script(PullDownScript("_Disabled=\"1\""), "layout T.Main\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const int fh = FieldHeight(r.out);
    const std::string field = "T.Main 10 " + std::to_string(fh / 2) + "\n";
    r = Script(PullDownScript("_Disabled=\"1\""), "click " + field + Dump("disabled.png") +
                                                      "relay T.Main.Col.PD Enable\nclick " + field + Dump("enabled.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(At("disabled.png", 45, fh + 20), kRoomColour);
    EXPECT_EQ(At("enabled.png", 45, fh + 20), kDropColour);
}

TEST_F(UiPullDown, BadScriptsMakeNoPullDown)
{
    auto keys = [](const char* pressed) {
        return std::string(R"(Font="DejaVu Sans" FontSize="12" FontColor="#000000" File_Normal="pulldown_normal.png" )"
                           R"(File_MouseOver="pulldown_over.png" File_Disabled="pulldown_disabled.png" )"
                           R"(File_Frame="pulldown_frame.png" File_Pressed=")") +
               pressed + "\" ";
    };
    const std::string base = keys("pulldown_pressed.png");
    const std::string drop = R"(<VBOX><RECT MinHSize="5" MinVSize="5" HStretch="0" VStretch="0"/></VBOX>)";
    const struct {
        const char* what;
        std::string element;
    } cases[] = {
        {"no MinHSize", "<PULLDOWN Name=\"PD\" HStretch=\"0\" FrameRect=\"4, 4, 11, 11\" " + base + ">" + drop + "</PULLDOWN>"},
        {"frame rect too wide",
         "<PULLDOWN Name=\"PD\" MinHSize=\"9\" HStretch=\"0\" FrameRect=\"4, 4, 16, 11\" " + base + ">" + drop + "</PULLDOWN>"},
        {"no drop-down", "<PULLDOWN Name=\"PD\" MinHSize=\"9\" HStretch=\"0\" FrameRect=\"4, 4, 11, 11\" " + base + "/>"},
        {"buttons of two sizes", "<PULLDOWN Name=\"PD\" MinHSize=\"9\" HStretch=\"0\" FrameRect=\"4, 4, 11, 11\" " +
                                     keys("button_normal.png") + ">" + drop + "</PULLDOWN>"},
    };
    for (const auto& c : cases) {
        RunResult r = Script(R"(<APP Name="T"><WINDOW Name="Main"><VBOX Name="Col">)" + c.element +
                                 R"(<RECT MinHSize="5" MinVSize="5" HStretch="0" VStretch="0"/></VBOX></WINDOW></APP>)",
                             "layout T.Main\n");
        ASSERT_EQ(r.status, 0) << c.what << "\n" << r.err;
        EXPECT_EQ(r.out.find("PULLDOWN"), std::string::npos) << c.what << "\n" << r.out;
    }
}

TEST_F(UiPullDown, ADropDownHoldingAScrollListChoosesARow)
{
    // The list's rows come back to the pull-down as "SetText" and "SetID", and its choice rolls the list up.
    const std::string list =
        R"(<VBOX Name="Drop"><SCROLLLIST Name="List" Font="DejaVu Sans" FontSize="12" FontColor="#000000" )"
        R"(MinHSize="100" MinVSize="60" HStretch="0" VStretch="0" SelectedFontColor="#FFFFFF" )"
        R"(DisabledFontColor="#808080"><SCROLLBAR Name="Bar" _Horizontal="0" Stretch="1" BgColor="#E0E0E0" )"
        R"(BgClickColor="#606060" File_ButtonANormal="vscroll_a_normal.png" File_ButtonAPressed="vscroll_a_pressed.png" )"
        R"(File_ButtonBNormal="vscroll_b_normal.png" File_ButtonBPressed="vscroll_b_pressed.png" )"
        R"(File_Slider="vscroll_thumb.png" File_SliderKnurls="vscroll_knurls.png" SliderResizeRect="4, 4, 8, 15"/>)"
        R"(<ON_SELECT Relay="T.Main.Col.PD" Message="SetText"/><ON_SELECT_ID Relay="T.Main.Col.PD" Message="SetID"/>)"
        R"(<ON_SELECT Relay="T.Main.Col.PD" Message="RollUp"/></SCROLLLIST></VBOX>)";
    std::string script = PullDownScript();
    const size_t from = script.find("<VBOX Name=\"Drop\">"), to = script.find("</VBOX>", from) + 7;
    ASSERT_NE(from, std::string::npos);
    script.replace(from, to - from, list);
    RunResult r = Script(script, "layout T.Main\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const int fh = FieldHeight(r.out);
    ASSERT_GT(fh, 16) << r.out;
    const std::string field = "T.Main 10 " + std::to_string(fh / 2) + "\n";
    r = Script(script, "relay T.Main.Col.PD.Drop.List NewListWithIDs a:Alpha|Beta|ida|idb\nclick " + field +
                           Dump("open.png") + "click T.Main 10 " + std::to_string(fh + 6) + "\n" + Dump("chosen.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ProbeLines(r.out), (Strings{"Select First", "SelectId id1", "Select Alpha", "SelectId ida"})) << r.out;
    // Open, the list's bar (its black edge column and grey track) covers the blue room below the field; chosen,
    // the room shows again.
    auto open = Png("open.png"), chosen = Png("chosen.png");
    ASSERT_TRUE(open && chosen);
    int barPixels = 0, roomPixels = 0;
    for (int x = 0; x < 120; ++x) {
        const uint8_t* o = open->GetRow(fh + 30) + x * 4;
        const Rgb a{o[2], o[1], o[0]};
        barPixels += a == Rgb{0, 0, 0} || a == Rgb{224, 224, 224};
        const uint8_t* c = chosen->GetRow(fh + 30) + x * 4;
        roomPixels += Rgb{c[2], c[1], c[0]} == kRoomColour;
    }
    EXPECT_GT(barPixels, 0);
    EXPECT_EQ(roomPixels, 120);
}
