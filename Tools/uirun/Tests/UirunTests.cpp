// uirun end to end: scripts run through the real application on the headless backend, driven by events files;
// the dumps, the printed probe lines, the state file and the exit codes are checked.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <memory>
#include <string>

#include "KPNGLoader.h"
#include "KStorage.h"
#include "LumoStorageFixture.h"
#include "LumoTestSupport.h"
#include "PlatformShell.h"

namespace fs = std::filesystem;

namespace {

const std::string kUirun = LUMO_BINARY_DIR "/Tools/uirun/uirun";
const std::string kMkbundle = LUMO_BINARY_DIR "/Tools/mkbundle/mkbundle";

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

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
    RunResult Command(const std::string& args)
    {
        RunResult r;
        const std::string out = (Root() / "stdout").string(), err = (Root() / "stderr").string();
        r.status = lumotest::RunCommand("LUMO_UI=headless timeout 60 " + kUirun + " " + args + " >" + out +
                                        " 2>" + err);
        r.out = lumotest::ReadText(out);
        r.err = lumotest::ReadText(err);
        return r;
    }
    // The PNG file's pixmap.
    std::unique_ptr<KPNGPixmap> Png(const fs::path& path)
    {
        KWString url;
        EXPECT_TRUE(PosixFileToURL(path.string(), url));
        KIFile* file = OpenFileByURL(url, KFILE_MODE_READ);
        if (!file)
            return nullptr;
        std::unique_ptr<KPNGPixmap> png(LoadPNGPixmap(file));
        if (png)
            file->Release();
        return png;
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
