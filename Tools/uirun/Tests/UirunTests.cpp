// uirun end to end: scripts run through the real application on the headless backend, driven by events files;
// the dumps, the printed probe lines, the state file and the exit codes are checked.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>
#include <memory>
#include <string>

#include "KPNGLoader.h"
#include "KPNGWriter.h"
#include "KPixmapDisplay.h"
#include "KStorage.h"
#include "LumoStorageFixture.h"
#include "LumoTestSupport.h"
#include "UirunTestSupport.h"
#include "PlatformShell.h"

namespace fs = std::filesystem;

namespace {

using uiruntest::kUirun;
using uiruntest::Png;
using uiruntest::RunResult;
const std::string kMkbundle = LUMO_BINARY_DIR "/Tools/mkbundle/mkbundle";


class Uirun : public lumotest::StorageFixture {
protected:
    void SetUp() override
    {
        StorageFixture::SetUp();
        std::string appData;
        ASSERT_TRUE(PlatGetSpecialFolderPath(PLAT_CSIDL_APPDATA, appData, true));
        KWString url;
        ASSERT_TRUE(NativePathToURL(Utf8ToWide(appData), url));
        ASSERT_TRUE(URLToPosixPath(url, m_AppData));
    }
    // Writes the script as t/ui.xml and the events, runs uirun with extra options.
    RunResult Script(const std::string& script, const std::string& events, const std::string& options = "")
    {
        fs::create_directories(Root() / "t");
        if (!script.empty())
            lumotest::WriteText(Root() / "t/ui.xml", script);
        lumotest::WriteText(Root() / "e", events);
        return Command("--folder " + (Root() / "t").string() + " --events " + (Root() / "e").string() + " " +
                       options);
    }
    RunResult Command(const std::string& args, const std::string& environment = "")
    {
        RunResult r;
        const std::string out = (Root() / "stdout").string(), err = (Root() / "stderr").string();
        r.status = lumotest::RunCommand(environment + "LUMO_UI=headless timeout 60 " + kUirun + " " + args + " >" + out +
                                        " 2>" + err);
        r.out = lumotest::ReadText(out);
        r.err = lumotest::ReadText(err);
        return r;
    }
    // (r, g, b) of a pixel.
    static std::array<int, 3> Rgb(const KPNGPixmap& p, int x, int y)
    {
        const uint8_t* q = p.GetRow(y) + x * 4;
        return {q[2], q[1], q[0]};
    }

    std::string m_AppData;
};

}  // namespace

TEST_F(Uirun, BareWindowDumpsItsGreyFrame)
{
    RunResult r = Script(R"(<APP Name="T"><WINDOW Name="Main"/></APP>)", "tick\n",
                  "--headless --dump-dir " + Root().string());
    ASSERT_EQ(r.status, 0) << r.err;
    auto png = Png(Root() / "T.Main.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(png->GetWidth(), 200);
    EXPECT_EQ(png->GetHeight(), 100);
    const int grey[4] = {0, 140, 210, 245};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Rgb(*png, i, i), (std::array<int, 3>{grey[i], grey[i], grey[i]})) << i;
}

TEST_F(Uirun, ColourWindowHasItsFrame)
{
    RunResult r = Script(R"(<APP Name="T"><WINDOW Name="Main" BgColor="#3060A0" FrameColor="#FF0000" FrameThickness="3"/>
                     </APP>)",
                  "dump T.Main " + (Root() / "d.png").string() + "\n");
    ASSERT_EQ(r.status, 0) << r.err;
    auto png = Png(Root() / "d.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(Rgb(*png, 2, 2), (std::array<int, 3>{255, 0, 0}));
    EXPECT_EQ(Rgb(*png, 3, 3), (std::array<int, 3>{0x30, 0x60, 0xA0}));
}

TEST_F(Uirun, ScriptErrorsExitTwoAndAnUnloadableScriptThree)
{
    struct Case {
        const char* script;
        int status;
        const char* err;
    } cases[] = {
        {R"(<APP Name="T"><WINDOW Name="Main" Style="Nope"/></APP>)", 2,
         "User Interface Script Error: failed to find the referenced STYLE tag 'Nope'"},
        {R"(<APP Name="T"><STYLE StyleName="A" Style="A"/><WINDOW Name="Main" Style="A"/></APP>)", 2,
         "User Interface Script Error: recursive STYLE reference 'A'"},
        {R"(<APP Name="T"><WINDOW Name="Main" BgImage="missing.png"/></APP>)", 2,
         "User Interface Script Error: failed to load BgImage 'missing.png'"},
        {R"(<APP Name="T"/>)", 3, ""},
    };
    for (const Case& c : cases) {
        RunResult r = Script(c.script, "tick\n");
        EXPECT_EQ(r.status, c.status) << c.script;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
}

TEST_F(Uirun, SavedPlacementComesBackOnTheNextRun)
{
    const std::string script =
        R"(<APP Name="T" HasPersistantDataStore="1"><WINDOW Name="Main" _SaveState="1"/></APP>)";
    RunResult r = Script(script, "relay T.Main Move ii:50,60\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("relay -> true"), std::string::npos);
    const fs::path state = fs::path(m_AppData) / "T.state.xml";
    ASSERT_TRUE(fs::exists(state));
    EXPECT_EQ(lumotest::RunCommand("iconv -f UTF-16 -t UTF-8 " + state.string() + " | xmllint --noout -"), 0);
    const std::string text = lumotest::CommandOutput("iconv -f UTF-16 -t UTF-8 " + state.string());
    EXPECT_NE(text.find(R"(<PERDATA Name="T.Main"  X="50"  Y="60")"), std::string::npos) << text;
    r = Script(script, "list\n");
    EXPECT_NE(r.out.find(R"(T.Main "Window" 50 60 200 100 1 1)"), std::string::npos) << r.out;
}

TEST_F(Uirun, BundleDumpsTheSameAsTheFolder)
{
    const std::string script = R"(<APP Name="T"><WINDOW Name="Main" BgColor="#102030" FrameThickness="2"/></APP>)";
    RunResult r = Script(script, "dump T.Main " + (Root() / "a.png").string() + "\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const fs::path bundle = Root() / "ui.bundle";
    ASSERT_EQ(lumotest::RunCommand(kMkbundle + " /dev/null " + (Root() / "t").string() + " " + bundle.string()), 0);
    r = Command("--bundle " + bundle.string() + " --events " + (Root() / "e").string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lumotest::ReadBytes(Root() / "a.png").size() > 0, true);
    lumotest::WriteText(Root() / "e", "dump T.Main " + (Root() / "b.png").string() + "\n");
    r = Command("--bundle " + bundle.string() + " --events " + (Root() / "e").string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lumotest::ReadBytes(Root() / "a.png"), lumotest::ReadBytes(Root() / "b.png"));
}

TEST_F(Uirun, ProbeSeesTheRaisedSizeAndHeldDisplayHidesChanges)
{
    const std::string script = R"(<APP Name="T"><WINDOW Name="Main" BgColor="#000000">
        <TEST_PROBE Name="P" MinHSize="50" MinVSize="40" HStretch="1" VStretch="1" Color="#0000FF"
                    Kinds="ON_RESIZE:ii,SetColor:s,Resized:ii"/>
        <ON_RESIZE Relay="T.Main.P" Message="Resized"/>
      </WINDOW></APP>)";
    RunResult r = Script(script, "resize T.Main 5 5\nlist\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("T.Main.P Resized 50,40"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(R"(T.Main "Window" 0 0 50 40 1 1)"), std::string::npos) << r.out;

    const std::string held = (Root() / "held.png").string(), shown = (Root() / "shown.png").string();
    r = Script(script, "relay T.Main \"Disable Window Display.\"\n"
                       "relay T.Main.P SetColor s:#00FF00\n"
                       "tick\n"
                       "dump T.Main " + held + "\n"
                       "relay T.Main \"Enable Window Display & Redraw All.\"\n"
                       "dump T.Main " + shown + "\n");
    ASSERT_EQ(r.status, 0) << r.err;
    auto before = Png(held), after = Png(shown);
    ASSERT_TRUE(before && after);
    EXPECT_EQ(Rgb(*before, 10, 10), (std::array<int, 3>{0, 0, 255}));
    EXPECT_EQ(Rgb(*after, 10, 10), (std::array<int, 3>{0, 255, 0}));
}

TEST_F(Uirun, LanguageSwitchesTheTitleAndIsKeptForTheNextRun)
{
    const std::string script = R"(<APP Name="L" HasPersistantDataStore="1">
      <LANGUAGES><LANGUAGE Name="English" Default="1"/><LANGUAGE Name="Japanese"/></LANGUAGES>
      <FONTS><APPFONT Name="Plain"><MSWFONT><English Fontname="DejaVu Sans"/><Japanese Fontname="IPAGothic"/>
      </MSWFONT></APPFONT></FONTS>
      <DISPLAY_STRING Name="Title" AppFont="Plain"><English Text="Hello"/><Japanese Text="Konnichiwa"/>
      </DISPLAY_STRING>
      <WINDOW Name="Main" DisplayString="Title"/></APP>)";
    RunResult r = Script(script, "list\nlang Japanese\nlist\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("L.Main \"Hello\" 0 0 200 100 1 1\nL.Main \"Konnichiwa\""), std::string::npos) << r.out;
    const std::string text =
        lumotest::CommandOutput("iconv -f UTF-16 -t UTF-8 " + (fs::path(m_AppData) / "L.state.xml").string());
    EXPECT_NE(text.find(R"(CurrentLanguage="Japanese")"), std::string::npos) << text;
    r = Script(script, "list\n");
    EXPECT_NE(r.out.find("L.Main \"Konnichiwa\""), std::string::npos) << r.out;
}

TEST_F(Uirun, CaptionIsDrawnIntoTheDefaultLook)
{
    RunResult r = Script(R"(<APP Name="T"><WINDOW Name="Main" Text="Caption" Font="DejaVu Sans"/></APP>)",
                         "dump T.Main " + (Root() / "c.png").string() + "\n");
    ASSERT_EQ(r.status, 0) << r.err;
    auto png = Png(Root() / "c.png");
    ASSERT_TRUE(png);
    int dark = 0;
    for (int y = 20; y < 40; ++y)
        for (int x = 20; x < 80; ++x)
            dark += Rgb(*png, x, y)[0] < 100;
    EXPECT_GT(dark, 20);
    EXPECT_EQ(Rgb(*png, 10, 10), (std::array<int, 3>{245, 245, 245}));
}

namespace {

// A 16 x 16 picture of one colour, as a cursor file of the script folder.
void WriteCursor(const fs::path& path, uint8_t r, uint8_t g, uint8_t b, uint8_t a)
{
    std::vector<uint8_t> pixels(16 * 16 * 4);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = b;
        pixels[i + 1] = g;
        pixels[i + 2] = r;
        pixels[i + 3] = a;
    }
    KPixmap_Display view(pixels.data(), 16, 16, 16 * 4);
    KWString url;
    ASSERT_TRUE(PosixFileToURL(path.string(), url));
    SavePNGPixmap(view, url);
}

size_t Count(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

}  // namespace

TEST_F(Uirun, DragStartsAfterThreePixelsAndDropsOnceWhereAccepted)
{
    fs::create_directories(Root() / "t");
    WriteCursor(Root() / "t/no.png", 255, 0, 0, 255);
    WriteCursor(Root() / "t/yes.png", 255, 255, 255, 255);
    const std::string script = R"(<APP Name="T" File_DragAndDropCursorNo="no.png" DragAndDropCursorNo_X="3"
        DragAndDropCursorNo_Y="4" File_DragAndDropCursorYes="yes.png" DragAndDropCursorYes_X="7"
        DragAndDropCursorYes_Y="8">
      <WINDOW Name="Main" BgColor="#000000">
        <TEST_PROBE Name="Src" Rect="0, 0, 49, 49" MinHSize="200" MinVSize="100" DragPayload="/a/b.kzr" LogInput="1"/>
        <TEST_PROBE Name="Off" Rect="50, 0, 99, 49" LogInput="1"/>
        <TEST_PROBE Name="Dst" Rect="100, 0, 149, 49" AcceptDrop="1" LogInput="1"/>
      </WINDOW></APP>)";
    RunResult r = Script(script, "down T.Main 10 10\nmouse T.Main 13 13\ncursor T.Main\nmouse T.Main 14 10\n"
                                 "cursor T.Main\nmouse T.Main 60 10\ncursor T.Main\nmouse T.Main 120 10\n"
                                 "cursor T.Main\nup T.Main 120 10\ncursor T.Main\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("T.Main.Src MouseDown 10 10 0 0\ndefault\ncustom 3 4\nT.Main.Src MouseLeave 60 10\n"
                         "custom 3 4\ncustom 7 8\nT.Main.Dst Drop 120 10 /a/b.kzr\nT.Main.Src MouseUp 120 10 0 0\n"
                         "T.Main.Dst MouseEnter 120 10\ndefault\n"),
              std::string::npos)
        << r.out;
    // While the button is held on Src, neither Off nor Dst becomes the hover.
    EXPECT_EQ(r.out.find("T.Main.Off MouseEnter"), std::string::npos) << r.out;
    EXPECT_EQ(Count(r.out, "Drop "), 1u) << r.out;

    // Released over an object that refuses: no drop, the default cursor comes back.
    r = Script(script, "down T.Main 10 10\nmouse T.Main 60 10\nup T.Main 60 10\ncursor T.Main\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("Drop "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("T.Main.Off MouseEnter 60 10\ndefault\n"), std::string::npos) << r.out;

    // A press without moving more than 3 pixels never drags.
    r = Script(script, "down T.Main 10 10\nmouse T.Main 7 7\nup T.Main 7 7\ncursor T.Main\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("Drop "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("T.Main.Src MouseUp 7 7 0 0\ndefault\n"), std::string::npos) << r.out;
}

TEST_F(Uirun, EscapeClosesTheWindow)
{
    RunResult r = Script(R"(<APP Name="T"><WINDOW Name="Main" _HideOnClose="1" BgColor="#000000">
        <TEST_PROBE Name="P" TakeFocus="1" LogInput="1"/>
        <ON_BEEN_HIDDEN Relay="T.Main.P" Message="Hidden"/></WINDOW></APP>)",
                         "key T.Main Escape\nlist\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("T.Main.P Hidden\nT.Main \"Window\" 0 0 5 5 0 1\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("KeyDown"), std::string::npos) << r.out;

    r = Script(R"(<APP Name="T"><WINDOW Name="Main"/></APP>)", "key T.Main Escape\nlist\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");  // the run ended with the window, before "list"
}

TEST_F(Uirun, WindowClassInstancesAreMadeAddressedAndClosed)
{
    const std::string script = R"(<APP Name="T"><WINDOW Name="Main" BgColor="#000000"/>
      <WINDOWCLASS Name="Dlg" BgColor="#000000">
        <TEST_PROBE Name="Q" Rect="0, 0, 49, 49" MinHSize="60" MinVSize="60" LogInput="1">
          <ON_PROBE LocalRelay="" Message="InternalClose"/>
        </TEST_PROBE>
      </WINDOWCLASS></APP>)";
    RunResult r = Script(script, "relay T.Dlg.Top Show\n"
                                 "relay T CreateWindow ss:Dlg|NoParent\nrelay T CreateWindow ss:Dlg|Main\n"
                                 "relay T CreateWindow ss:Nope|NoParent\nlist\n"
                                 "relay T.Dlg.Top.OK X\nrelay T.Dlg.All.Q Ping\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("relay -> false\n"), std::string::npos) << r.out;  // no instance yet
    EXPECT_NE(r.out.find("T.Main \"Window\" 0 0 200 100 1 1\nT.Dlg \"Window\" 0 0 60 60 1 1\n"
                         "T.Dlg \"Window\" 0 0 60 60 1 1\nrelay -> true\nT.Dlg.Q Ping\nT.Dlg.Q Ping\nrelay -> true\n"),
              std::string::npos)
        << r.out;

    // A probe whose release closes its own instance: the instance goes after the message, cleanly.
    r = Script(script, "relay T CreateWindow ss:Dlg|Main\nrelay T CreateWindow ss:Dlg|NoParent\n"
                       "click T.Dlg 10 10\nlist\nclick T.Dlg 10 10\nlist\nrelay T.Dlg.Top Show\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("T.Dlg.Q MouseUp 10 10 0 0\nT.Dlg.Q we're goin' bye-bye\n"
                         "T.Main \"Window\" 0 0 200 100 1 1\nT.Dlg \"Window\" 0 0 60 60 1 1\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("T.Main \"Window\" 0 0 200 100 1 1\nrelay -> false\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find("ERROR"), std::string::npos) << r.err;

    // The main window's end closes the instance it owns.
    r = Script(script, "relay T CreateWindow ss:Dlg|Main\nclose T.Main\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("T.Dlg.Q we're goin' bye-bye"), std::string::npos) << r.out;
}

class UiWindowProc : public Uirun {
protected:
    RunResult Probe(const std::string& events)
    {
        return Script(R"(<APP Name="T"><WINDOW Name="Main" BgColor="#000000">
            <TEST_PROBE Name="P" MinHSize="100" MinVSize="100" TakeFocus="1" LogInput="1" CopyText="copied"
                        LogTick="1"/>
            <ON_LEFT_ARROW Relay="T.Main.P" Message="Left" Kinds="Left:i"/>
            <ON_CTRL_I Relay="T.Main.P" Message="CtrlI"/>
          </WINDOW></APP>)",
                      events);
    }
};

TEST_F(UiWindowProc, KeysAndCharactersBecomeTheProgramsCodes)
{
    RunResult r = Probe("key T.Main Left\nkey T.Main Right\nkey T.Main Delete\nkey T.Main [ ctrl\n"
                        "key T.Main Escape ctrl\nkey T.Main a\nkey T.Main a shift\nkey T.Main 146\n"
                        "key T.Main 9 ctrl\nkey T.Main F5\nkey T.Main Return\ntype T.Main h\xC3\xA9\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("T.Main.P KeyDown 146 0 0\nT.Main.P Left\nT.Main.P KeyDown 145 0 0\n"
                         "T.Main.P KeyDown 127 0 0\nT.Main.P KeyDown 91 1 0\nT.Main.P KeyDown 91 1 0\n"
                         "T.Main.P KeyDown 97 0 0\nT.Main.P KeyDown 65 0 1\nT.Main.P KeyDown 146 0 0\nT.Main.P Left\n"
                         "T.Main.P KeyDown 9 1 0\nT.Main.P CtrlI\nT.Main.P KeyDown 13 0 0\n"
                         "T.Main.P KeyDown 104 0 0\nT.Main.P KeyDown 233 0 0\n"),
              std::string::npos)
        << r.out;
}

TEST_F(UiWindowProc, ClipboardKeysGoThroughTheFocus)
{
    RunResult r = Probe("key T.Main c ctrl\nclipboard\nkey T.Main 22\nkey T.Main x ctrl\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("T.Main.P Copy\ncopied\nT.Main.P Paste copied\nT.Main.P Cut\n"), std::string::npos)
        << r.out;
    // Nothing to copy: the key itself goes on.
    r = Script(R"(<APP Name="T"><WINDOW Name="Main"><TEST_PROBE Name="P" TakeFocus="1" LogInput="1"/></WINDOW>
        </APP>)", "key T.Main c ctrl\nkey T.Main v ctrl\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("T.Main.P Copy\nT.Main.P KeyDown 3 1 0\nT.Main.P KeyDown 22 1 0\n"), std::string::npos)
        << r.out;
}

TEST_F(UiWindowProc, WheelNotchesAndTicks)
{
    RunResult r = Probe("wheel T.Main 10 10 -120\nwheel T.Main 10 10 60\nwheel T.Main 10 10 240\nwait 30\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("T.Main.P MouseWheel 10 10 0 -1\nT.Main.P MouseWheel 10 10 0 0\n"
                         "T.Main.P MouseWheel 10 10 0 2\nT.Main.P Tick 30\nT.Main.P we're"),
              std::string::npos)
        << r.out;
}

TEST_F(UiWindowProc, LeavingTheWindowAndRightButtons)
{
    RunResult r = Probe("mouse T.Main 10 10\nleave T.Main\nmouse T.Main 20 20\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("T.Main.P MouseEnter 10 10\nT.Main.P MouseLeave -16777217 -16777217\n"
                         "T.Main.P Tick 10\nT.Main.P MouseEnter 20 20\n"),
              std::string::npos)
        << r.out;
}

TEST_F(UiWindowProc, AWindowDraggedByItsBodyFollowsAnUntakenPress)
{
    RunResult r = Script(R"(<APP Name="T"><WINDOW Name="Main" _BagTheTitleBar="1" X="100" Y="100"/></APP>)",
                         "down T.Main 10 10\nmouse T.Main 30 40\nup T.Main 10 10\nlist\n"
                         "mouse T.Main 50 50\nlist\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("T.Main \"Window\" 120 130 200 100 1 1\nT.Main \"Window\" 120 130 200 100 1 1\n"),
              std::string::npos)
        << r.out;
}

TEST_F(UiWindowProc, HiddenLanguageMode)
{
    const std::string script = R"(<APP Name="L">
      <LANGUAGES><LANGUAGE Name="A" Default="1"/><LANGUAGE Name="B"/><LANGUAGE Name="C"/></LANGUAGES>
      <FONTS><APPFONT Name="Plain"><MSWFONT><A Fontname="DejaVu Sans"/><B Fontname="DejaVu Sans"/>
        <C Fontname="DejaVu Sans"/></MSWFONT></APPFONT></FONTS>
      <DISPLAY_STRING Name="Title" AppFont="Plain"><A Text="a"/><B Text="b"/><C Text="c"/></DISPLAY_STRING>
      <WINDOW Name="Main" DisplayString="Title"><TEST_PROBE Name="P" TakeFocus="1" LogInput="1"/></WINDOW></APP>)";
    // Ctrl+Shift+F, U, Y, then space three times cycles B, C, A; a fourth chord Y leaves the mode.
    RunResult r = Script(script, "key L.Main f ctrl shift\nkey L.Main u ctrl shift\nkey L.Main y ctrl shift\n"
                                 "key L.Main space\nlist\nkey L.Main space\nlist\nkey L.Main space\nlist\n"
                                 "key L.Main y ctrl shift\nkey L.Main space\nlist\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("L.Main.P KeyDown 25 1 1\nL.Main \"b\" 0 0 200 100 1 1\nL.Main \"c\" 0 0 200 100 1 1\n"
                         "L.Main \"a\" 0 0 200 100 1 1\nL.Main.P KeyDown 25 1 1\nL.Main.P KeyDown 32 0 0\n"
                         "L.Main \"a\""),
              std::string::npos)
        << r.out;
    // A broken chord starts again: F, then another key.
    r = Script(script, "key L.Main f ctrl shift\nkey L.Main a\nkey L.Main u ctrl shift\nkey L.Main y ctrl shift\n"
                       "key L.Main space\nlist\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("L.Main.P KeyDown 32 0 0\nL.Main \"a\""), std::string::npos) << r.out;
}

TEST_F(Uirun, SecondInstanceHandsItsArgumentToTheFirst)
{
    fs::create_directories(Root() / "single");
    lumotest::WriteText(Root() / "single/ui.xml", R"(<APP Name="S" _SingleInstApp="1" _DeclareAppName="LumoDesk">
      <ON_OPEN_PATH_EVENT Relay="S.Main.P" Message="ON_OPEN_PATH_EVENT"/>
      <WINDOW Name="Main" WindowTitle="PELTA Lumo Desk">
        <TEST_PROBE Name="P" Kinds="ON_OPEN_PATH_EVENT:s"/></WINDOW></APP>)");
    const std::string folder = (Root() / "single").string();
    const fs::path firstOut = Root() / "first.out";
    const std::string first = "LUMO_UI=headless " + kUirun + " --headless --folder " + folder + " --timeout 20 >" +
                              firstOut.string() + " 2>&1 & echo $!";
    std::string pid = lumotest::CommandOutput(first);
    pid.erase(pid.find_last_not_of(" \n") + 1);
    ASSERT_FALSE(pid.empty());
    // Ready once its probe is made.
    for (int i = 0; i < 200 && lumotest::ReadText(firstOut).find("Post Creation") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    RunResult second = Command("--headless --folder " + folder + " /x/y.kzr");
    EXPECT_EQ(second.status, 0) << second.err;
    std::string out;
    for (int i = 0; i < 100; ++i) {
        out = lumotest::ReadText(firstOut);
        if (out.find("/x/y.kzr") != std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(Count(out, "S.Main.P ON_OPEN_PATH_EVENT /x/y.kzr\n"), 1u) << out;
    EXPECT_EQ(out.find('\0'), std::string::npos);

    // A program of the family that also creates the older program's mutex tells the user an older one runs,
    // then hands over too.
    fs::create_directories(Root() / "newer");
    lumotest::WriteText(Root() / "newer/ui.xml", R"(<APP Name="N" _SingleInstApp="1" _DeclareAppName="LumoNext"
        _CreateOldMutex="1">
      <LANGUAGES><LANGUAGE Name="English" Default="1"/></LANGUAGES>
      <FONTS><APPFONT Name="Plain"><MSWFONT><English Fontname="DejaVu Sans"/></MSWFONT></APPFONT></FONTS>
      <DISPLAY_STRING Name="QuarelOtherAppWinTitle" AppFont="Plain"><English Text="Older"/></DISPLAY_STRING>
      <DISPLAY_STRING Name="QuarelOtherAppWinText" AppFont="Plain"><English Text="An older one runs."/>
      </DISPLAY_STRING>
      <WINDOW Name="Main"/></APP>)");
    RunResult third = Command("--headless --folder " + (Root() / "newer").string() + " /x/z.kzr");
    EXPECT_EQ(third.status, 0) << third.err;
    EXPECT_NE(third.err.find("Older: An older one runs."), std::string::npos) << third.err;
    for (int i = 0; i < 100 && lumotest::ReadText(firstOut).find("/x/z.kzr") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_NE(lumotest::ReadText(firstOut).find("S.Main.P ON_OPEN_PATH_EVENT /x/z.kzr\n"), std::string::npos);

    lumotest::RunCommand("kill -9 " + pid);
    lumotest::RunCommand("while kill -0 " + pid + " 2>/dev/null; do sleep 0.05; done");

    // After the first one was killed, a new first instance starts normally.
    lumotest::WriteText(Root() / "e", "list\n");
    RunResult again = Command("--folder " + folder + " --events " + (Root() / "e").string());
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("S.Main \"PELTA Lumo Desk\""), std::string::npos) << again.out;
}
