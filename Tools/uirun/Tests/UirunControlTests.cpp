// The layout and drawing controls end to end through uirun on the headless backend: the layout listing, the
// dumped pixels, and scripts with hostile numbers.
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

using Rgb = std::array<int, 3>;

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

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
