// The text controls end to end through uirun: typing into an edit box and its events at the probe, the
// maximum length against typing and pasting, the reply forwarder; and the edit box's clipboard on X11 under an
// Xvfb of the test's own, against another client's clipboard.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "LumoStorageFixture.h"
#include "LumoTestSupport.h"
#include "UirunTestSupport.h"
#include "LumoXvfb.h"
#include "PlatformShell.h"

namespace fs = std::filesystem;

namespace {

using uiruntest::kUirun;
using uiruntest::RunResult;


class UirunText : public lumotest::StorageFixture {
protected:
    void SetUp() override
    {
        StorageFixture::SetUp();
        std::string appData;
        ASSERT_TRUE(PlatGetSpecialFolderPath(PLAT_CSIDL_APPDATA, appData, true));
    }
    RunResult Script(const std::string& script, const std::string& events)
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

// An edit box over a probe that prints its events; the probe copies "xyz" when it has the focus.
std::string EditScript(const std::string& keys)
{
    return R"(<APP Name="T"><WINDOW Name="Main" BgColor="#FFFFFF"><VBOX>
        <EDIT_BOX Name="E" MinHSize="120" HStretch="0" FrameColor="#000000" FrameThickness="1" Font="DejaVu Sans"
                  FontSize="12" )" +
           keys + R"(>
          <ON_SEND_STRING Relay="T.Main.P" Message="ON_SEND_STRING"/>
          <ON_STRING_NOT_EMPTY Relay="T.Main.P" Message="ON_STRING_NOT_EMPTY"/>
          <ON_NEW_STRING Relay="T.Main.P" Message="ON_NEW_STRING"/>
          <ON_ENTER_HIT Relay="T.Main.P" Message="ON_ENTER_HIT"/></EDIT_BOX>
        <TEST_PROBE Name="P" MinHSize="120" MinVSize="20" TakeFocus="1" CopyText="xyz"
                    Kinds="ON_SEND_STRING:s,ON_STRING_NOT_EMPTY:b"/>
        </VBOX></WINDOW></APP>)";
}

}  // namespace

TEST_F(UirunText, TypingIntoAnEditBoxPrintsEveryTextThenTheNewStringAndEnter)
{
    RunResult r = Script(EditScript(""), "click T.Main 10 8\ntype T.Main abc\nkey T.Main 13\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string expected = "T.Main.P ON_SEND_STRING a\nT.Main.P ON_STRING_NOT_EMPTY 1\n"
                                 "T.Main.P ON_SEND_STRING ab\nT.Main.P ON_STRING_NOT_EMPTY 1\n"
                                 "T.Main.P ON_SEND_STRING abc\nT.Main.P ON_STRING_NOT_EMPTY 1\n"
                                 "T.Main.P ON_NEW_STRING\nT.Main.P ON_ENTER_HIT\n";
    EXPECT_NE(r.out.find(expected), std::string::npos) << r.out;
}

TEST_F(UirunText, MaximumLengthKeepsThreeCharactersAgainstTypingAndPasting)
{
    // The probe takes the focus and copies "xyz"; back in the edit box, End and Ctrl+V paste it.
    RunResult r = Script(EditScript(R"(_MaxTextLen="3")"),
                         "click T.Main 10 8\ntype T.Main abcd\nclick T.Main 10 30\nkey T.Main c ctrl\nclipboard\n"
                         "click T.Main 10 8\nkey T.Main End\nkey T.Main v ctrl\nrelay T.Main.E EmptyText\n"
                         "key T.Main v ctrl\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("T.Main.P ON_SEND_STRING abc\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("ON_SEND_STRING abcd"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nxyz\n"), std::string::npos) << r.out;
    // The paste at the end changes nothing; into the emptied box it goes whole.
    const size_t emptied = r.out.find("T.Main.P ON_SEND_STRING\nT.Main.P ON_STRING_NOT_EMPTY 0\nrelay -> true\n");
    ASSERT_NE(emptied, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("ON_SEND_STRING abcx"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("T.Main.P ON_SEND_STRING xyz\n", emptied), std::string::npos) << r.out;
}

TEST_F(UirunText, EmptyClipboardPastesNothing)
{
    RunResult r = Script(EditScript(""), "click T.Main 10 8\ntype T.Main a\nkey T.Main 22\nkey T.Main 5\nkey T.Main 22\n");
    ASSERT_EQ(r.status, 0) << r.err;
    size_t sends = 0;
    for (size_t at = r.out.find("ON_SEND_STRING"); at != std::string::npos; at = r.out.find("ON_SEND_STRING", at + 1))
        ++sends;
    // The one at the start and the one of "a".
    EXPECT_EQ(sends, 2u) << r.out;
}

namespace {

class UirunTextX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!m_Server.Running())
            GTEST_SKIP() << m_Server.Error();
        m_Env = "export " + m_Server.Env() + "LUMO_MACHINE=" + (m_Dir / "machine").string() + "; ";
    }
    void TearDown() override
    {
        if (!m_Pid.empty())
            lumotest::RunCommand("kill " + m_Pid + " 2>/dev/null");
    }
    std::string Out() const { return (m_Dir / "out").string(); }
    bool Printed(const std::string& text)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (lumotest::ReadText(Out()).find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    std::string Shell(const std::string& command) { return lumotest::CommandOutput(m_Env + command); }
    int Run(const std::string& command) { return lumotest::RunCommand(m_Env + command); }

    lumotest::Xvfb m_Server;
    lumotest::TempDir m_Dir;
    std::string m_Env;
    std::string m_Pid;
};

}  // namespace

TEST_F(UirunTextX11, EditBoxPastesAndCopiesThroughTheClipboardOfOtherClients)
{
    fs::create_directories(m_Dir / "t");
    std::string script = EditScript("");
    script.replace(script.find("BgColor"), 0, "WindowTitle=\"Edit\" X=\"0\" Y=\"0\" ");
    lumotest::WriteText(m_Dir / "t/ui.xml", script);
    const std::string pidFile = (m_Dir / "pid").string();
    ASSERT_EQ(Run(kUirun + " --x11 --folder " + (m_Dir / "t").string() + " --timeout 60 >" + Out() +
                  " 2>/dev/null & echo $! >" + pidFile),
              0);
    m_Pid = std::to_string(std::atoi(lumotest::ReadText(pidFile).c_str()));
    std::string id = Shell("timeout 30 xdotool search --sync --onlyvisible --name '^Edit$' | head -1");
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(Printed("T.Main.P ON_STRING_NOT_EMPTY 0\n")) << lumotest::ReadText(Out());

    ASSERT_EQ(Run("printf hello | xclip -selection clipboard -i"), 0);
    ASSERT_EQ(Run("for i in $(seq 100); do [ \"$(xclip -o -selection clipboard)\" = hello ] && break; sleep 0.1; "
                  "done"),
              0);
    ASSERT_EQ(Run("xdotool mousemove 10 8 click 1"), 0);
    ASSERT_EQ(Run("xdotool key ctrl+v"), 0);
    EXPECT_TRUE(Printed("T.Main.P ON_SEND_STRING hello\n")) << lumotest::ReadText(Out());

    // Another client's text goes first, so that the copy below is seen to replace it.
    ASSERT_EQ(Run("printf other | xclip -selection clipboard -i"), 0);
    ASSERT_EQ(Run("xdotool key Home shift+End ctrl+c"), 0);
    std::string copied;
    for (int i = 0; i < 100 && copied != "hello"; ++i) {
        copied = Shell("xclip -o -selection clipboard");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(copied, "hello");
}

TEST_F(UirunText, ReplyForwarderPassesRepliesToTheProbeUntilItsWindowCloses)
{
    RunResult r = Script(R"(<APP Name="T"><WINDOW Name="Main" BgColor="#000000"><VBOX>
        <REPLY_REQUEST Name="F"/><TEST_PROBE Name="P" MinHSize="20" MinVSize="20"/></VBOX></WINDOW>
      <WINDOWCLASS Name="Dlg" BgColor="#000000">
        <TEST_PROBE Name="Q" Rect="0, 0, 49, 49" MinHSize="60" MinVSize="60" Kinds="Reply3:s">
          <ON_PROBE LocalRelay="" Message="InternalClose"/>
        </TEST_PROBE>
      </WINDOWCLASS></APP>)",
                         "relay T CreateWindow ss:Dlg|NoParent\nrelay T.Main.F Reply3 s:early\n"
                         "relay T.Main.F Relay o:T.Dlg.Top.Q\nrelay T.Main.F Reply3 s:x\n"
                         "relay T.Main.F Reply9 s:x\nclick T.Dlg 10 10\nlist\nrelay T.Main.F Reply s:y\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("relay -> false\nrelay -> true\nT.Dlg.Q Reply3 x\nrelay -> true\nrelay -> false\n"),
              std::string::npos)
        << r.out;
    // The instance is gone: the last reply is not handled, and reaches no freed object.
    const size_t listed = r.out.find("T.Main \"Window\"");
    ASSERT_NE(listed, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("T.Dlg \"Window\"", listed), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("relay -> false\n", listed), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(" y\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find("ERROR"), std::string::npos) << r.err;
}

TEST_F(UirunText, TextControlsOfAClosedInstanceHearNoLanguageChange)
{
    RunResult r = Script(R"(<APP Name="T"><LANGUAGES><LANGUAGE Name="English" Default="1"/><LANGUAGE Name="Japanese"/>
      </LANGUAGES><FONTS><APPFONT Name="Plain"><MSWFONT><English Fontname="DejaVu Sans"/>
        <Japanese Fontname="IPAGothic"/></MSWFONT></APPFONT></FONTS>
      <DISPLAY_STRING Name="Hello" AppFont="Plain"><English Text="Hello"/><Japanese Text="Konnichiwa"/></DISPLAY_STRING>
      <WINDOW Name="Main" BgColor="#000000"><TEST_PROBE Name="P" MinHSize="20" MinVSize="20"/></WINDOW>
      <WINDOWCLASS Name="Dlg" BgColor="#000000"><VBOX>
        <TEST_PROBE Name="Q" MinHSize="60" MinVSize="20"><ON_PROBE LocalRelay="" Message="InternalClose"/></TEST_PROBE>
        <TEXT_BOX MinHSize="40" HStretch="0" VStretch="0" AppFont="Plain" _Text="a"/>
        <DYNA_TEXT MinHSize="0" HStretch="0" VStretch="0" AppFont="Plain" _Text="b"/>
        <EDIT_BOX MinHSize="40" HStretch="0" FrameColor="#000000" FrameThickness="1" AppFont="Plain"/>
        <DYNA_STRING MinHSize="0" HStretch="0" VStretch="0" AppFont="Plain" _DisplayString="Hello"/>
        <TEXTARRAY NumStrings="1" AppFont="Plain" Text1="Hello"/>
      </VBOX></WINDOWCLASS></APP>)",
                         "relay T CreateWindow ss:Dlg|NoParent\nlang Japanese\nclick T.Dlg 10 10\nlist\n"
                         "lang English\nlang Japanese\nlist\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const size_t listed = r.out.find("T.Main \"Window\"");
    ASSERT_NE(listed, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("T.Dlg \"Window\"", listed), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find("ERROR"), std::string::npos) << r.err;
}
