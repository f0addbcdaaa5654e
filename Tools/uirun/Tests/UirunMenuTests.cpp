// Menus through uirun on the headless backend: shortcut keys and texts in two languages, the item commands
// and their events, the Delete key, and a menu element with a stray child.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "LumoStorageFixture.h"
#include "LumoTestSupport.h"
#include "PlatformShell.h"

namespace fs = std::filesystem;

namespace {

const std::string kUirun = LUMO_BINARY_DIR "/Tools/uirun/uirun";

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

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
