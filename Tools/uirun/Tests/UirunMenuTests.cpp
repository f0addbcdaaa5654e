// Menus through uirun on the headless backend: shortcut keys and texts in two languages, the item commands
// and their events, the Delete key, a menu element with a stray child, clicks on the drawn menus and their
// pixels, and the same menus on X11 under an Xvfb of the test's own.
#include <gtest/gtest.h>

#include <algorithm>
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

using uiruntest::kUirun;
using uiruntest::Png;
using uiruntest::RunResult;


class UirunMenus : public lumotest::StorageFixture {
protected:
    void SetUp() override
    {
        StorageFixture::SetUp();
        std::string appData;
        ASSERT_TRUE(PlatGetSpecialFolderPath(PLAT_CSIDL_APPDATA, appData, true));
    }
    RunResult Run(const std::string& script, const std::string& events)
    {
        fs::create_directories(Root() / "t");
        lumotest::WriteText(Root() / "t/ui.xml", script);
        lumotest::WriteText(Root() / "e", events);
        RunResult r;
        const std::string out = (Root() / "stdout").string(), err = (Root() / "stderr").string();
        r.status = lumotest::RunCommand("LUMO_UI=headless timeout 60 " + kUirun + " --folder " +
                                        (Root() / "t").string() + " --events " + (Root() / "e").string() + " >" +
                                        out + " 2>" + err);
        r.out = lumotest::ReadText(out);
        r.err = lumotest::ReadText(err);
        return r;
    }
};

// A File menu of display strings in English and German, with a probe that prints what the items send.
std::string MenuScript(const std::string& items, const std::string& probe = "")
{
    return R"(<APP Name="T" CtrlMenuDisplayString="CtrlText">
  <LANGUAGES><LANGUAGE Name="English" Default="1"/><LANGUAGE Name="German"/></LANGUAGES>
  <FONTS><APPFONT Name="Plain"><MSWFONT><English Fontname="DejaVu Sans"/><German Fontname="DejaVu Sans"/>
  </MSWFONT></APPFONT></FONTS>
  <DISPLAY_STRING Name="CtrlText" AppFont="Plain"><English Text="Ctrl+"/><German Text="Strg+"/></DISPLAY_STRING>
  <DISPLAY_STRING Name="FileText" AppFont="Plain"><English Text="File"/><German Text="Datei"/></DISPLAY_STRING>
  <DISPLAY_STRING Name="OpenText" AppFont="Plain"><English Text="Open"/><German Text="Oeffnen"/></DISPLAY_STRING>
  <DISPLAY_STRING Name="GridText" AppFont="Plain"><English Text="Grid"/><German Text="Raster"/></DISPLAY_STRING>
  <WINDOW Name="Main" X="40" Y="60" BgColor="#E0E0E0">
    <TEST_PROBE Name="P" MinHSize="220" MinVSize="120" Kinds="ON_CHECK_STATE:b" )" +
           probe + R"(/>
    <MENU><MENUITEM Name="File" DisplayString="FileText">)" +
           items + R"(</MENUITEM></MENU>
  </WINDOW>
</APP>)";
}

std::string Item(const std::string& name, const std::string& keys, const std::string& events = "ON_SELECT")
{
    std::string s = "<MENUITEM Name=\"" + name + "\" " + keys + ">";
    size_t at = 0;
    while (at <= events.size()) {
        size_t end = events.find(',', at);
        if (end == std::string::npos)
            end = events.size();
        const std::string e = events.substr(at, end - at);
        s += "<" + e + " Relay=\"T.Main.P\" Message=\"" + e + "\"/>";
        at = end + 1;
    }
    return s + "</MENUITEM>";
}

}  // namespace

TEST_F(UirunMenus, ShortcutKeysAndTheirTextsInTwoLanguages)
{
    const std::string items = Item("Open", R"(DisplayString="OpenText" Key="CS-x")") + "<MENUSEPARATOR/>" +
                              Item("Quiet", R"(Label="Quiet" HiddenKey="F5")") +
                              Item("Grid", R"(DisplayString="GridText" HiddenKey="C-g")");
    RunResult r = Run(MenuScript(items), "menus T.Main\nkey T.Main x ctrl shift\nkey T.Main x ctrl\n"
                                         "lang English\nmenus T.Main\nkey T.Main F5\nkey T.Main g ctrl\n"
                                         "lang German\nmenus T.Main\n");
    ASSERT_EQ(r.status, 0) << r.err;
    // Before a language reaches the items they show their labels only; Ctrl+X alone is not the shortcut.
    EXPECT_NE(r.out.find("File\n  0 \"Open\" enabled\n  1 separator\n  2 \"Quiet\" enabled\n  3 \"Grid\" enabled\n"
                         "T.Main.P ON_SELECT\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("T.Main.P ON_SELECT\nT.Main.P ON_SELECT\nFile"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("File\n  0 \"Open\tCtrl+Shift+x\" enabled\n  1 separator\n  2 \"Quiet\" enabled\n"
                         "  3 \"Grid\" enabled\nT.Main.P ON_SELECT\nT.Main.P ON_SELECT\n"
                         "Datei\n  0 \"Oeffnen\tStrg+Shift+x\" enabled\n  1 separator\n  2 \"Quiet\" enabled\n"
                         "  3 \"Raster\" enabled\n"),
              std::string::npos)
        << r.out;
}

TEST_F(UirunMenus, EnableDisableAndCheckMarks)
{
    const std::string items = Item("Open", R"(Label="Open" Key="C-o")") +
                              Item("Grid", R"(Label="Grid" _UseCheck="1")",
                                   "ON_SELECT,ON_CHECK,ON_UNCHECK,ON_CHECK_STATE") +
                              Item("Plain", R"(Label="Plain")", "ON_SELECT,ON_CHECK,ON_UNCHECK");
    RunResult r = Run(MenuScript(items),
                      "relay T.Main.File.Open Disable\nkey T.Main o ctrl\nmenus T.Main\n"
                      "relay T.Main.File.Open Select\n"
                      "relay T.Main.File.Grid Select\nrelay T.Main.File.Grid SetCheck b:1\n"
                      "relay T.Main.File.Grid SetCheck b:1\nrelay T.Main.File.Grid SetCheck b:0\n"
                      "relay T.Main.File.Grid Check\nmenus T.Main\n"
                      "relay T.Main.File.Grid Disable\nrelay T.Main.File.Grid Enable\nmenus T.Main\n"
                      "relay T.Main.File.Grid Disable\nrelay T.Main.File.Grid SetEnabled b:1\nmenus T.Main\n"
                      "relay T.Main.File.Plain Check\nrelay T.Main.File.Plain SetCheck\n"
                      "relay T.Main.File.Plain SetEnabled\nrelay T.Main.File.Plain Bogus\nmenus T.Main\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string expected =
        // A disabled item: its shortcut does nothing, its relay still selects it.
        "relay -> true\nFile\n  0 \"Open\" disabled\n  1 \"Grid\" enabled\n  2 \"Plain\" enabled\n"
        "T.Main.P ON_SELECT\nrelay -> true\n"
        // Select toggles the mark and fires the check events first; SetCheck with the current value fires
        // nothing.
        "T.Main.P ON_CHECK\nT.Main.P ON_CHECK_STATE 1\nT.Main.P ON_SELECT\nrelay -> true\nrelay -> true\n"
        "relay -> true\nT.Main.P ON_UNCHECK\nT.Main.P ON_CHECK_STATE 0\nrelay -> true\n"
        "T.Main.P ON_CHECK\nT.Main.P ON_CHECK_STATE 1\nrelay -> true\n"
        "File\n  0 \"Open\" disabled\n  1 \"Grid\" enabled checked\n  2 \"Plain\" enabled\n";
    EXPECT_NE(r.out.find(expected), std::string::npos) << r.out;
    // "Enable" shows the checked item enabled without its mark; "SetEnabled" shows it enabled and checked.
    EXPECT_NE(r.out.find("File\n  0 \"Open\" disabled\n  1 \"Grid\" enabled\n  2 \"Plain\" enabled\n"
                         "relay -> true\nrelay -> true\n"
                         "File\n  0 \"Open\" disabled\n  1 \"Grid\" enabled checked\n  2 \"Plain\" enabled\n"),
              std::string::npos)
        << r.out;
    // Without "_UseCheck" a check changes nothing and answers true; commands that need data do not run
    // without it.
    EXPECT_NE(r.out.find("relay -> true\nrelay -> false\nrelay -> false\nrelay -> false\nFile\n  0 \"Open\" "
                         "disabled\n  1 \"Grid\" enabled checked\n  2 \"Plain\" enabled\n"),
              std::string::npos)
        << r.out;
}

TEST_F(UirunMenus, DeleteKeyGoesToAMenuShortcutFirst)
{
    const std::string probe = R"(TakeFocus="1" LogInput="1")";
    RunResult with = Run(MenuScript(Item("Del", R"(Label="Delete" Key="Del")"), probe), "key T.Main Delete\n");
    ASSERT_EQ(with.status, 0) << with.err;
    EXPECT_NE(with.out.find("T.Main.P ON_SELECT\n"), std::string::npos) << with.out;
    EXPECT_EQ(with.out.find("KeyDown 127"), std::string::npos) << with.out;
    RunResult without = Run(MenuScript(Item("Open", R"(Label="Open" Key="C-o")"), probe), "key T.Main Delete\n");
    ASSERT_EQ(without.status, 0) << without.err;
    EXPECT_NE(without.out.find("T.Main.P KeyDown 127 0 0\n"), std::string::npos) << without.out;
    EXPECT_EQ(without.out.find("ON_SELECT"), std::string::npos) << without.out;
}

TEST_F(UirunMenus, StrayChildIsNoEntry)
{
    const std::string items = Item("A", R"(Label="A" Key="C-a")") + "<FOO/>" + "<FOO Key=\"C-q\"/>" +
                              Item("B", R"(Label="B" Key="C-b")", "ON_CHECK_STATE") +
                              R"(<MENUITEM Name="C" Label="C" Key="C-c" _UseCheck="1">
                                 <ON_SELECT Relay="T.Main.P" Message="C selected"/></MENUITEM>)";
    RunResult r = Run(MenuScript(items), "key T.Main q ctrl\nkey T.Main c ctrl\nmenus T.Main\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("T.Main.P C selected\nFile\n  0 \"A\" enabled\n  1 \"B\" enabled\n  2 \"C\" enabled checked\n"),
              std::string::npos)
        << r.out;
}

namespace {

// The pixel's "r,g,b".
std::string At(const KPNGPixmap& p, int x, int y)
{
    if (x < 0 || y < 0 || x >= p.GetWidth() || y >= p.GetHeight())
        return "outside";
    const uint8_t* q = p.GetRow(y) + x * 4;
    return std::to_string(q[2]) + "," + std::to_string(q[1]) + "," + std::to_string(q[0]);
}

std::string SizeOf(const fs::path& png)
{
    return lumotest::CommandOutput("identify -format '%wx%h' " + png.string());
}

// A window with a File menu (Open, a separator, a checked Grid and a disabled Quit) and an Edit menu.
const char kDrawnScript[] = R"(<APP Name="T">
  <WINDOW Name="Main" WindowTitle="MenuMain" X="40" Y="60" BgColor="#E0E0E0">
    <TEST_PROBE Name="P" MinHSize="240" MinVSize="120" TakeFocus="1" LogInput="1"/>
    <ON_CREATE Relay="T.Main.File.Grid" Message="Check"/>
    <ON_CREATE Relay="T.Main.File.Quit" Message="Disable"/>
    <MENU>
      <MENUITEM Name="File" Label="File">
        <MENUITEM Name="Open" Label="Open" Key="C-o"><ON_SELECT Relay="T.Main.P" Message="Open selected"/></MENUITEM>
        <MENUSEPARATOR/>
        <MENUITEM Name="Grid" Label="Grid" _UseCheck="1"><ON_SELECT Relay="T.Main.P" Message="Grid selected"/>
        </MENUITEM>
        <MENUITEM Name="Quit" Label="Quit"><ON_SELECT Relay="T.Main.P" Message="Quit selected"/></MENUITEM>
      </MENUITEM>
      <MENUITEM Name="Edit" Label="Edit">
        <MENUITEM Name="Copy" Label="Copy"><ON_SELECT Relay="T.Main.P" Message="Copy selected"/></MENUITEM>
      </MENUITEM>
    </MENU>
  </WINDOW>
</APP>)";

}  // namespace

TEST_F(UirunMenus, ClicksOnTheBarAndTheOpenMenu)
{
    const std::string dir = Root().string();
    RunResult r = Run(kDrawnScript,
                      // Quit is disabled: its menu stays open until its title is clicked again.
                      "list\nmenu T.Main File Open\nmenu T.Main File Quit\nmenu T.Main File\n"
                      "menu T.Main File Grid\nmenus T.Main\nmenu T.Main File\nmenu T.Main Edit Copy\n"
                      // A press beside the open menu, and Escape, only close it.
                      "menu T.Main File\nclick T.Main 20 20\nmenu T.Main File\nkey T.Main Escape\n"
                      "dump T.Main.popup " + dir + "/none.png\n"
                      "relay T.Main.File.Quit Enable\nmenu T.Main File Quit\n"
                      "relay T.Main.File.Open Disable\nmenu T.Main File Open\nrelay T.Main.File.Open Select\n");
    ASSERT_EQ(r.status, 0) << r.err;
    // The client area keeps its corner and size: the bar lies above it.
    EXPECT_NE(r.out.find("T.Main \"MenuMain\" 40 60 240 120 1 1\n"), std::string::npos) << r.out;
    const std::string expected = "T.Main.P Open selected\n"
                                 "T.Main.P Grid selected\nFile\n  0 \"Open\" enabled\n  1 separator\n"
                                 "  2 \"Grid\" enabled\n  3 \"Quit\" disabled\nEdit\n  0 \"Copy\" enabled\n"
                                 "T.Main.P Copy selected\n";
    EXPECT_NE(r.out.find(expected), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("MouseDown"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("KeyDown 27"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("no pixels to dump"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("relay -> true\nT.Main.P Quit selected\nrelay -> true\nT.Main.P Open selected\n"
                         "relay -> true\n"),
              std::string::npos)
        << r.out;
}

TEST_F(UirunMenus, BarAndPopupPixels)
{
    const fs::path bar = Root() / "bar.png", open = Root() / "open.png", popup = Root() / "popup.png",
                   client = Root() / "client.png";
    RunResult r = Run(kDrawnScript, "dump T.Main.bar " + bar.string() + "\ndump T.Main " + client.string() +
                                         "\nmenu T.Main File\ndump T.Main.bar " + open.string() +
                                         "\ndump T.Main.popup " + popup.string() + "\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(SizeOf(bar), "240x21");
    EXPECT_EQ(SizeOf(client), "240x120");
    auto barPng = Png(bar), openPng = Png(open), popupPng = Png(popup);
    ASSERT_TRUE(barPng && openPng && popupPng);
    // The bar: its colour, a line at the bottom, the open title highlighted.
    EXPECT_EQ(At(*barPng, 200, 5), "240,240,240");
    EXPECT_EQ(At(*barPng, 200, 20), "205,205,205");
    EXPECT_EQ(At(*barPng, 5, 2), "240,240,240");
    EXPECT_EQ(At(*openPng, 5, 2), "51,102,204");
    // The title's text is drawn.
    int inked = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            inked += At(*barPng, x, y) != "240,240,240";
    EXPECT_GT(inked, 20);
    // The popup: a frame, the separator's line, the check mark, grey text for the disabled entry.
    const std::string size = SizeOf(popup);
    const int w = std::atoi(size.c_str()), h = std::atoi(size.c_str() + size.find('x') + 1);
    EXPECT_EQ(h, 3 + 21 + 9 + 21 + 21 + 3) << size;
    EXPECT_EQ(At(*popupPng, 0, 0), "128,128,128");
    EXPECT_EQ(At(*popupPng, w - 1, h - 1), "128,128,128");
    EXPECT_EQ(At(*popupPng, 2, 2), "250,250,250");
    EXPECT_EQ(At(*popupPng, 20, 24 + 4), "190,190,190");
    EXPECT_EQ(At(*popupPng, 9, 33 + 10), "0,0,0");
    EXPECT_EQ(At(*popupPng, 9, 3 + 10), "250,250,250");
    int darkest = 255;
    for (int y = 54; y < 75; ++y)
        for (int x = 20; x < 60; ++x)
            darkest = std::min(darkest, std::atoi(At(*popupPng, x, y).c_str()));
    EXPECT_EQ(darkest, 150);
}

// The same script under an Xvfb of the test's own: the bar and the open menu show the headless pixels, and
// pointer clicks on the title and the entry select it.
TEST_F(UirunMenus, X11ShowsTheHeadlessMenusAndTakesClicks)
{
    lumotest::Xvfb server;
    if (!server.Running())
        GTEST_SKIP() << server.Error();
    const fs::path bar = Root() / "bar.png", client = Root() / "client.png", popup = Root() / "popup.png";
    RunResult r = Run(kDrawnScript, "dump T.Main.bar " + bar.string() + "\ndump T.Main " + client.string() +
                                         "\nmenu T.Main File\ndump T.Main.popup " + popup.string() + "\n");
    ASSERT_EQ(r.status, 0) << r.err;

    const std::string env = "export " + server.Env() + "LUMO_MACHINE=" + (Root() / "machine").string() + "; ";
    const std::string out = (Root() / "x11.out").string(), err = (Root() / "x11.err").string();
    const std::string pidFile = (Root() / "x11.pid").string();
    ASSERT_EQ(lumotest::RunCommand(env + "( " + kUirun + " --x11 --folder " + (Root() / "t").string() +
                                   " --timeout 60 >" + out + " 2>" + err + " & echo $! >" + pidFile +
                                   "; wait ) >/dev/null 2>&1 &"),
              0);
    auto trim = [](std::string s) {
        while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
            s.pop_back();
        return s;
    };
    auto shell = [&](const std::string& command) { return trim(lumotest::CommandOutput(env + command)); };
    struct Stop {
        std::string pidFile;
        ~Stop()
        {
            for (int i = 0; i < 200 && lumotest::ReadText(pidFile).empty(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const std::string pid = lumotest::ReadText(pidFile);
            if (!pid.empty())
                lumotest::RunCommand("kill " + pid.substr(0, pid.find('\n')) + " 2>/dev/null");
        }
    } stop{pidFile};
    ASSERT_FALSE(shell("timeout 30 xdotool search --sync --onlyvisible --name '^MenuMain$' | head -1").empty())
        << lumotest::ReadText(err);
    // Crops of the screen until they match (the first paint may still be on its way).
    auto matches = [&](const fs::path& expected, int x, int y, int w, int h) {
        const std::string shot = (Root() / "shot.png").string(), crop = (Root() / "crop.png").string();
        std::string differ;
        for (int attempt = 0; attempt < 50; ++attempt) {
            if (lumotest::RunCommand(env + "import -window root " + shot) == 0 &&
                lumotest::RunCommand("convert " + shot + " -crop " + std::to_string(w) + "x" + std::to_string(h) +
                                     "+" + std::to_string(x) + "+" + std::to_string(y) + " +repage " + crop) == 0) {
                differ = trim(lumotest::CommandOutput("compare -metric AE " + crop + " " + expected.string() +
                                                      " null: 2>&1"));
                if (differ == "0")
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ADD_FAILURE() << expected << " differs by " << differ;
        return false;
    };
    EXPECT_TRUE(matches(bar, 40, 60 - 21, 240, 21));
    EXPECT_TRUE(matches(client, 40, 60, 240, 120));

    // A click on the title opens the menu where the headless one opens, with the same pixels.
    ASSERT_EQ(lumotest::RunCommand(env + "xdotool mousemove 52 49 click 1"), 0);
    const std::string id = shell("timeout 30 xdotool search --sync --onlyvisible --name '^File$' | head -1");
    ASSERT_FALSE(id.empty()) << lumotest::ReadText(err);
    const std::string size = SizeOf(popup);
    const int w = std::atoi(size.c_str()), h = std::atoi(size.c_str() + size.find('x') + 1);
    EXPECT_TRUE(matches(popup, 44, 60, w, h));
    // A click on Open selects it.
    ASSERT_EQ(lumotest::RunCommand(env + "xdotool mousemove 74 73 click 1"), 0);
    bool selected = false;
    for (int i = 0; i < 300 && !selected; ++i) {
        selected = lumotest::ReadText(out).find("T.Main.P Open selected\n") != std::string::npos;
        if (!selected)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(selected) << lumotest::ReadText(out) << lumotest::ReadText(err);
}
