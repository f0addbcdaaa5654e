// The picture, text and button controls end to end through uirun with the mkskins pictures: the events the
// TEST_PROBE prints for clicks, holds and ticks, the dumped pixels against skins.txt, the layout listing after
// a language switch, and a click from another X client on the X11 backend under an Xvfb of the test's own.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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
using uiruntest::Rgb;
using uiruntest::RunResult;
const fs::path kSkins = LUMO_BINARY_DIR "/skins";

// The colour skins.txt gives for a sample of a file ("button_pressed.png", "centre").
Rgb SkinColour(const std::string& file, const std::string& sample)
{
    std::istringstream in(lumotest::ReadText(kSkins / "skins.txt"));
    std::string name, what, colour;
    int w = 0, h = 0, x = 0, y = 0;
    while (in >> name >> w >> h >> what >> x >> y >> colour)
        if (name == file && what == sample && colour.size() == 9)
            return {std::stoi(colour.substr(1, 2), nullptr, 16), std::stoi(colour.substr(3, 2), nullptr, 16),
                    std::stoi(colour.substr(5, 2), nullptr, 16)};
    ADD_FAILURE() << "no sample " << sample << " of " << file;
    return {-1, -1, -1};
}

// The lines of text that start with prefix, leaving out the system's broadcasts.
std::vector<std::string> Lines(const std::string& text, const std::string& prefix)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0 && line.find("Post Creation Initialization") == std::string::npos &&
            line.find("we're goin' bye-bye") == std::string::npos)
            out.push_back(line);
    return out;
}

class UirunPictures : public lumotest::StorageFixture {
protected:
    void SetUp() override
    {
        StorageFixture::SetUp();
        std::string appData;
        ASSERT_TRUE(PlatGetSpecialFolderPath(PLAT_CSIDL_APPDATA, appData, true));
        fs::create_directories(Root() / "t");
        for (const char* skin : {"button_normal.png", "button_pressed.png", "button_over.png", "check_on.png",
                                 "check_off.png"})
            fs::copy_file(kSkins / skin, Root() / "t" / skin, fs::copy_options::overwrite_existing);
    }
    RunResult Script(const std::string& script, const std::string& events)
    {
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
    std::string Dump(const std::string& name) { return "dump T.Main " + (Root() / name).string() + "\n"; }
    Rgb At(const std::string& name, int x, int y)
    {
        auto png = uiruntest::Png(Root() / name);
        if (!png || x >= png->GetWidth() || y >= png->GetHeight())
            return {-1, -1, -1};
        return uiruntest::At(*png, x, y);
    }
};

// A 48 x 20 button of the skins at the window's top-left with its events sent to the probe P.
std::string ButtonScript(const std::string& keys)
{
    return R"(<APP Name="T"><WINDOW Name="Main" BgColor="#FFFFFF"><VBOX>
        <TEST_PROBE Name="Clock" MinHSize="1" MinVSize="1" LogTick=")" +
           std::string(keys.find("Repeat") != std::string::npos ? "1" : "0") + R"("/>
        <HBOX><BUTTON Name="B" )" + keys + R"(><BGIMAGES _NoLabel="1" File_Normal="button_normal.png"
                  File_Pressed="button_pressed.png" File_MouseOver="button_over.png"/>
          <ON_PRESS Relay="T.Main.P" Message="ON_PRESS"/><ON_DOWN Relay="T.Main.P" Message="ON_DOWN"/>
          <ON_UP Relay="T.Main.P" Message="ON_UP"/></BUTTON></HBOX>
        <TEST_PROBE Name="P" MinHSize="48" MinVSize="20"/></VBOX></WINDOW></APP>)";
}

}  // namespace

TEST_F(UirunPictures, ButtonEventsAndFacesFollowThePointer)
{
    // The button starts one pixel down, under the clock probe.
    const std::string events = "down T.Main 24 11\n" + Dump("held.png") +
                               "mouse T.Main 24 40\nmouse T.Main 24 11\nup T.Main 24 11\n"
                               "down T.Main 24 11\nmouse T.Main 24 40\nup T.Main 24 40\n" +
                               Dump("released.png");
    RunResult r = Script(ButtonScript(""), events);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out, "T.Main.P ON_"),
              (std::vector<std::string>{"T.Main.P ON_DOWN", "T.Main.P ON_UP", "T.Main.P ON_DOWN", "T.Main.P ON_PRESS",
                                        "T.Main.P ON_UP", "T.Main.P ON_DOWN", "T.Main.P ON_UP", "T.Main.P ON_UP"}))
        << r.out;
    EXPECT_EQ(At("held.png", 24, 11), SkinColour("button_pressed.png", "centre"));
    EXPECT_EQ(At("released.png", 24, 11), SkinColour("button_normal.png", "centre"));
    // The transparent corner shows the window.
    EXPECT_EQ(At("released.png", 0, 1), (Rgb{255, 255, 255}));
}

TEST_F(UirunPictures, HeldRepeatingButtonPressesOncePerTickAfterItsDelay)
{
    RunResult r = Script(ButtonScript(R"(Repeat="1" AutoRepeatSensitivity="200")"),
                         "down T.Main 24 11\ntick 25\n");
    ASSERT_EQ(r.status, 0) << r.err;
    // The presses after each tick line belong to that tick.
    std::vector<int> presses;
    for (const std::string& line : Lines(r.out, "T.Main.")) {
        if (line.rfind("T.Main.Clock Tick", 0) == 0)
            presses.push_back(0);
        else if (line == "T.Main.P ON_PRESS" && !presses.empty())
            ++presses.back();
    }
    ASSERT_EQ(presses.size(), 25u) << r.out;
    for (size_t i = 0; i < 25; ++i)
        EXPECT_EQ(presses[i], i < 21 ? 0 : 1) << "tick " << i + 1;
}

TEST_F(UirunPictures, ClicksOnTransparentCornersOfAnImageMissUnlessAlphaIsIgnored)
{
    const std::string script = R"(<APP Name="T"><WINDOW Name="Main" BgColor="#FFFFFF"><VBOX>
        <IMAGE Name="A" File_Image="button_normal.png"><ON_PRESS Relay="T.Main.P" Message="A"/></IMAGE>
        <IMAGE Name="B" File_Image="button_normal.png" _UseAlphaForHitTest="false">
          <ON_PRESS Relay="T.Main.P" Message="B"/></IMAGE>
        <IMAGE Name="Wide" File_Image="button_normal.png" _MinHSize="60"/>
        <TEST_PROBE Name="P" MinHSize="10" MinVSize="10"/></VBOX></WINDOW></APP>)";
    RunResult r = Script(script, "click T.Main 0 0\nclick T.Main 24 10\nclick T.Main 0 20\nlayout T.Main\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out, "T.Main.P "), (std::vector<std::string>{"T.Main.P A", "T.Main.P B"})) << r.out;
    // The 48 x 20 picture without keys is laid out 48 x 20; with "_MinHSize" 60 it is 60 wide.
    EXPECT_NE(r.out.find("  IMAGE T.Main.A 0 0 48 20\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  IMAGE T.Main.Wide 0 40 60 20\n"), std::string::npos) << r.out;
}

TEST_F(UirunPictures, CheckBoxAndRadioToggle)
{
    const std::string script = R"(<APP Name="T"><WINDOW Name="Main" BgColor="#FFFFFF"><VBOX>
        <CHECKBOX Name="C" File_On="check_on.png" File_Off="check_off.png">
          <ON_TRUE Relay="T.Main.P" Message="ON_TRUE"/><ON_STATE Relay="T.Main.P" Message="ON_STATE"/></CHECKBOX>
        <RADIO_BUTTON Name="R" File_On="check_on.png" File_Off="check_off.png" _InitialState="1">
          <ON_TRUE Relay="T.Main.P" Message="R_TRUE"/></RADIO_BUTTON>
        <TOGGLE Name="G" Type="RadioButton" InitialState="0"><ON File_Image="check_on.png"/>
          <OFF File_Image="check_off.png"/><ONRELAY Relay="T.Main.P" Message="Chosen"/></TOGGLE>
        <TEST_PROBE Name="P" MinHSize="10" MinVSize="10" Kinds="ON_STATE:b"/></VBOX></WINDOW></APP>)";
    RunResult r = Script(script, "click T.Main 6 6\nclick T.Main 6 19\nrelay T.Main.R Deselect\n" + Dump("off.png") +
                                     "click T.Main 6 32\nclick T.Main 6 32\n" + Dump("on.png") +
                                     "relay T.Main.G Off\nclick T.Main 6 32\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out, "T.Main.P "), (std::vector<std::string>{"T.Main.P ON_TRUE", "T.Main.P ON_STATE 1",
                                                                   "T.Main.P Chosen", "T.Main.P Chosen"}))
        << r.out;
    EXPECT_EQ(At("off.png", 6, 19), SkinColour("check_off.png", "centre"));
    EXPECT_EQ(At("off.png", 6, 32), SkinColour("check_off.png", "centre"));
    EXPECT_EQ(At("on.png", 6, 32), SkinColour("check_on.png", "centre"));
}

TEST_F(UirunPictures, ResizedImageMinimumAndTextAfterALanguageSwitch)
{
    const std::string script = R"(<APP Name="T">
        <LANGUAGES><LANGUAGE Name="English" Default="1"/><LANGUAGE Name="German"/></LANGUAGES>
        <FONTS><APPFONT Name="Plain"><MSWFONT><English Fontname="DejaVu Sans" Height="12"/>
          <German Fontname="DejaVu Sans" Height="12"/></MSWFONT></APPFONT></FONTS>
        <DISPLAY_STRING Name="S" AppFont="Plain"><English Text="Hi"/>
          <German Text="Eine viel längere Übersetzung"/></DISPLAY_STRING>
        <WINDOW Name="Main" BgColor="#FFFFFF"><VBOX>
        <RESIZED_IMAGE Name="R" File_Image="button_normal.png" ResizeRect="10, 5, 37, 14" MinHSize="0" MinVSize="0"
                       HStretch="0" VStretch="0"/>
        <RESIZED_IMAGE Name="Zero" File_Image="button_normal.png" ResizeRect="0, 5, 37, 14" MinHSize="0"
                       MinVSize="0" HStretch="0" VStretch="0"/>
        <HBOX><TEXT Name="X" DisplayString="S"/></HBOX></VBOX></WINDOW></APP>)";
    RunResult r = Script(script, "layout T.Main\nlang German\nlayout T.Main\n");
    ASSERT_EQ(r.status, 0) << r.err;
    // 48 - 28 + 1 by 20 - 10 + 1; the stretch rectangle from column 0 drops its control.
    EXPECT_NE(r.out.find("  RESIZED_IMAGE T.Main.R 0 0 21 11\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Zero"), std::string::npos) << r.out;
    const std::vector<std::string> boxes = Lines(r.out, "VBOX T.Main ");
    ASSERT_EQ(boxes.size(), 2u) << r.out;
    auto width = [](const std::string& line) {
        std::istringstream in(line);
        std::string type, path;
        int x = 0, y = 0, w = 0;
        in >> type >> path >> x >> y >> w;
        return w;
    };
    EXPECT_GT(width(boxes[1]), width(boxes[0])) << r.out;
    EXPECT_GT(width(boxes[1]), 100) << r.out;
}

// A click from another X client on a button of the X11 window reaches the probe.
TEST(UirunPicturesX11, ClickOnAButtonPrintsItsPress)
{
    lumotest::Xvfb server;
    if (!server.Running())
        GTEST_SKIP() << server.Error();
    lumotest::TempDir dir;
    const std::string env = server.Env() + "LUMO_MACHINE=" + (dir / "machine").string() + " ";
    fs::create_directories(dir / "t");
    lumotest::WriteText(dir / "t/ui.xml", R"(<APP Name="T"><WINDOW Name="Main" WindowTitle="Buttons" X="0" Y="0"
        BgColor="#FFFFFF"><VBOX><HBOX><BUTTON Name="B" MinHSize="60" MinVSize="30" ColorN="#0000FF">
        <ON_PRESS Relay="T.Main.P" Message="ON_PRESS"/></BUTTON></HBOX>
        <TEST_PROBE Name="P" MinHSize="60" MinVSize="10"/></VBOX></WINDOW></APP>)");
    const std::string out = (dir / "out").string(), pidFile = (dir / "pid").string();
    ASSERT_EQ(lumotest::RunCommand(env + kUirun + " --x11 --folder " + (dir / "t").string() + " --timeout 60 >" + out +
                                   " 2>&1 & echo $! >" + pidFile),
              0);
    const std::string pid = std::to_string(std::atoi(lumotest::ReadText(pidFile).c_str()));
    std::string id = lumotest::CommandOutput(env + "timeout 30 xdotool search --sync --onlyvisible --name '^Buttons$'");
    bool printed = false;
    if (!id.empty()) {
        // The probe's first line says the script is running.
        for (int i = 0; i < 500 && lumotest::ReadText(out).find("T.Main.P Post Creation") == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(lumotest::RunCommand(env + "xdotool mousemove 30 15 click 1"), 0);
        for (int i = 0; i < 500 && !printed; ++i) {
            printed = lumotest::ReadText(out).find("T.Main.P ON_PRESS\n") != std::string::npos;
            if (!printed)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    lumotest::RunCommand("kill " + pid + " 2>/dev/null");
    EXPECT_FALSE(id.empty()) << lumotest::ReadText(out);
    EXPECT_TRUE(printed) << lumotest::ReadText(out);
}
