// The timer, blink, film strip, progress bar and slider end to end through uirun on the headless backend,
// with the mkskins images: what reaches a test probe through their events, and the dumped pixels.
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



// The printed lines that start with prefix, without it, in order; the start and end broadcasts left out.
std::vector<std::string> Lines(const std::string& out, const std::string& prefix)
{
    std::vector<std::string> lines;
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

using Strings = std::vector<std::string>;

class UirunAnimation : public lumotest::StorageFixture {
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
        for (const char* skin : {"slider_bg", "slider_vbg", "slider_knob", "slider_knob_down", "filmstrip", "progress_bg",
                                 "progress_fg", "button_normal", "button_pressed"})
            fs::copy_file(std::string(LUMO_BINARY_DIR "/skins/") + skin + ".png", Root() / "t" / (std::string(skin) + ".png"),
                          fs::copy_options::overwrite_existing);
    }
    // A window of one VBOX "Col" holding body and the probe P (5 x 5) that prints what reaches it.
    static std::string Window(const std::string& body, const std::string& kinds, const std::string& appKeys = "")
    {
        return "<APP Name=\"T\" " + appKeys + R"(><WINDOW Name="Main" BgColor="#FFFFFF"><VBOX Name="Col">)" + body +
               R"(<TEST_PROBE Name="P" MinHSize="5" MinVSize="5" Kinds=")" + kinds + "\"/></VBOX></WINDOW></APP>";
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

    std::string m_AppData;
};

class UiTimer : public UirunAnimation {};
class UiBlink : public UirunAnimation {};
class UiFilmStrip : public UirunAnimation {};
class UiProgressBar : public UirunAnimation {};
class UiSlider : public UirunAnimation {};

// ---- Timer ----

std::string TimerScript()
{
    std::string relays;
    for (const char* e : {"ON_BEGIN", "ON_TICK", "ON_PAUSED", "ON_UNPAUSED", "ON_CANCELED", "ON_END"})
        relays += std::string("<") + e + " Relay=\"T.Main.Col.P\" Message=\"" + e + "\"/>";
    return R"(<TIMER Name="Tm">)" + relays + "</TIMER>";
}

}  // namespace

TEST_F(UiTimer, CountsDownInTickIntervalsAndEndsWithOne)
{
    const struct {
        const char* what;
        std::string events;
        Strings expected;
    } cases[] = {
        // 11 ticks of 10 ms: an interval passes only when more than 30 ms gathered; the end comes after 100.
        {"100 / 30", "relay T.Main.Col.Tm SetTimer ii:100,30\nrelay T.Main.Col.Tm Begin\ntick 11\n",
         {"ON_BEGIN", "ON_TICK 0.4", "ON_TICK 0.7", "ON_TICK 1", "ON_TICK 1", "ON_END"}},
        // Ten ticks are not more than 100 ms: no end yet; a second "Begin" while running does nothing.
        {"not past the period", "relay T.Main.Col.Tm SetTimer ii:100,30\nrelay T.Main.Col.Tm Begin\ntick 10\n"
                                "relay T.Main.Col.Tm Begin\n",
         {"ON_BEGIN", "ON_TICK 0.4", "ON_TICK 0.7", "ON_TICK 1"}},
        // The script's keys; several intervals in one tick would carry the same fraction.
        {"keys, tick 0", "relay T.Main.Col.Tm SetTimer ii:100,0\nrelay T.Main.Col.Tm Begin\ntick 20\n", {}},
        {"period not above tick", "relay T.Main.Col.Tm SetTimer ii:30,30\nrelay T.Main.Col.Tm Begin\ntick 20\n", {}},
        // Paused, it stands still; "Cancel" then unpauses and cancels; it can begin again.
        {"pause and cancel",
         "relay T.Main.Col.Tm SetTimer ii:100,10\nrelay T.Main.Col.Tm Begin\ntick 2\nrelay T.Main.Col.Tm Pause\n"
         "relay T.Main.Col.Tm SetTimer ii:1000,500\ntick 30\nrelay T.Main.Col.Tm Cancel\nrelay T.Main.Col.Tm Cancel\n"
         "tick 5\nrelay T.Main.Col.Tm Begin\ntick 2\n",
         {"ON_BEGIN", "ON_TICK 0.2", "ON_PAUSED", "ON_UNPAUSED", "ON_CANCELED", "ON_BEGIN", "ON_TICK 0.2"}},
        {"pause and unpause",
         "relay T.Main.Col.Tm SetTimer ii:40,10\nrelay T.Main.Col.Tm Begin\ntick 2\nrelay T.Main.Col.Tm Pause\n"
         "relay T.Main.Col.Tm Pause\ntick 10\nrelay T.Main.Col.Tm Unpause\nrelay T.Main.Col.Tm Unpause\ntick 2\n",
         {"ON_BEGIN", "ON_TICK 0.5", "ON_PAUSED", "ON_UNPAUSED", "ON_TICK 0.75", "ON_TICK 1"}},
    };
    for (const auto& c : cases) {
        RunResult r = Script(Window(TimerScript(), "ON_TICK:d"), c.events);
        ASSERT_EQ(r.status, 0) << c.what << "\n" << r.err;
        EXPECT_EQ(Lines(r.out, "T.Main.Col.P "), c.expected) << c.what << "\n" << r.out;
    }
}

TEST_F(UiTimer, AnIntervalOfExactlyTheTickDoesNotFireAndSetTimerNeedsItsArgument)
{
    RunResult r = Script(Window(TimerScript(), "ON_TICK:d"),
                         "relay T.Main.Col.Tm SetTimer\nrelay T.Main.Col.Tm Other\n"
                         "relay T.Main.Col.Tm SetTimer ii:50,10\nrelay T.Main.Col.Tm Begin\ntick 1\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out, "relay -> "), (Strings{"false", "false", "true", "true"}));
    EXPECT_EQ(Lines(r.out, "T.Main.Col.P "), (Strings{"ON_BEGIN"})) << r.out;
}

// ---- Blink ----

TEST_F(UiBlink, AScriptErrorEndsTheRunWithTheMessage)
{
    const struct {
        const char* what;
        std::string body;
        std::string message;
    } cases[] = {
        {"no Period", R"(<HBOX><BLINK Name="B"/></HBOX>)",
         "KUiBlink::InitUiObject() failed: missing required property 'Period'!"},
        {"no images", R"(<BLINK Name="B" Period="500"><RECT Name="On"/></BLINK>)",
         "KUiBlink::InitUiObject() failed: do not have both on and off images!"},
    };
    for (const auto& c : cases) {
        RunResult r = Script(Window(c.body, ""), "tick 2\n");
        // Exit 2 (a leak report would change it): the boxes and window let go of what they made.
        EXPECT_EQ(r.status, 2) << c.what << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << "\n" << r.err;
    }
}

// ---- Film strip ----

namespace {

// Frame i of the mkskins strip is this colour at (8, 8).
Rgb FrameColour(int i)
{
    return {20 + 23 * i, 230 - 21 * i, i % 2 ? 200 : 60};
}

std::string Strip(const std::string& keys = "")
{
    return R"(<FILMSTRIP Name="F" File_Image="filmstrip.png" NumFrames="10" )" + keys + "/>";
}

}  // namespace

TEST_F(UiFilmStrip, AnimateHoldsTheFirstFrameThenPlaysTheRangeInALoop)
{
    // Shown frame after so many ticks of 10 ms: 2 until the 101st tick (1010 > 1000), then 3, 4 and 5
    // eleven ticks apart (110 > 100), then 2 again with its hold.
    const std::vector<std::pair<int, int>> expected = {{0, 2},   {100, 2}, {101, 3}, {111, 3}, {112, 4},
                                                       {123, 5}, {133, 5}, {134, 2}, {234, 2}, {235, 3}};
    std::string events = "relay T.Main.Col.F Animate s:2-5,100,1000\n";
    int at = 0;
    for (const auto& [ticks, frame] : expected) {
        if (ticks > at)
            events += "tick " + std::to_string(ticks - at) + "\n";
        at = ticks;
        events += Dump("f" + std::to_string(ticks) + ".png");
    }
    // The same animation again changes nothing.
    events += "relay T.Main.Col.F Animate s:2-5,100,1000\n" + Dump("same.png");
    RunResult r = Script(Window(Strip(), ""), events);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const auto& [ticks, frame] : expected) {
        auto png = Png("f" + std::to_string(ticks) + ".png");
        ASSERT_TRUE(png) << ticks;
        EXPECT_EQ(At(*png, 8, 8), FrameColour(frame)) << "after " << ticks << " ticks";
    }
    auto same = Png("same.png");
    ASSERT_TRUE(same);
    EXPECT_EQ(At(*same, 8, 8), FrameColour(3));
}

TEST_F(UiFilmStrip, FrameNumbersWrapAndStopThePlaying)
{
    const struct {
        const char* what;
        std::string keys;
        std::string events;
        int frame;
    } cases[] = {
        {"FrameNum -1", "_Period=\"100\"", "relay T.Main.Col.F Play\ntick 25\nrelay T.Main.Col.F FrameNum i:-1\ntick 30\n", 9},
        {"FrameNum 23", "", "relay T.Main.Col.F FrameNum i:23\n", 3},
        {"StrFrameNum -25", "", "relay T.Main.Col.F StrFrameNum s:-25\n", 5},
        {"_FrameNo -2", "_FrameNo=\"-2\"", "", 8},
        {"Animate -3-5", "", "relay T.Main.Col.F Animate s:-3-5,100,0\n", 7},
        {"Animate wraps both ends", "", "relay T.Main.Col.F Animate s:12-14,50,0\ntick 6\n", 3},
        {"Decrement from 0", "", "relay T.Main.Col.F DecrementFrame\n", 9},
        {"Increment from 9", "_FrameNo=\"9\"", "relay T.Main.Col.F IncrementFrame\n", 0},
        // Without "_Period" the strip is not playable: "Play" does nothing, "Animate" makes it so.
        {"no period, Play", "", "relay T.Main.Col.F IncrementFrame\nrelay T.Main.Col.F Play\ntick 150\n", 1},
        {"Play from frame 0", "_Period=\"100\" _FrameNo=\"4\"", "relay T.Main.Col.F Play\ntick 11\n", 1},
        {"Stop goes to frame 0", "_Period=\"100\" _FrameNo=\"4\"",
         "relay T.Main.Col.F SetPlay b:1\ntick 23\nrelay T.Main.Col.F SetPlay b:0\ntick 20\n", 0},
    };
    for (const auto& c : cases) {
        RunResult r = Script(Window(Strip(c.keys), ""), c.events + Dump("f.png"));
        ASSERT_EQ(r.status, 0) << c.what << "\n" << r.err;
        auto png = Png("f.png");
        ASSERT_TRUE(png) << c.what;
        EXPECT_EQ(At(*png, 8, 8), FrameColour(c.frame)) << c.what;
    }
}

TEST_F(UiFilmStrip, BadStripsAreDroppedAndMalformedCommandsRefused)
{
    // A strip that does not divide into frames, or frames under 2 pixels, makes no control: the probe is first.
    for (const char* keys : {"NumFrames=\"7\"", "NumFrames=\"0\"", "NumFrames=\"-3\"", "NumFrames=\"160\"", ""}) {
        const std::string body = std::string(R"(<FILMSTRIP Name="F" File_Image="filmstrip.png" )") + keys + "/>";
        RunResult r = Script(Window(body, ""), "layout T.Main\n");
        ASSERT_EQ(r.status, 0) << keys << "\n" << r.err;
        EXPECT_EQ(r.out.find("FILMSTRIP"), std::string::npos) << keys << "\n" << r.out;
    }
    RunResult r = Script(Window(Strip(), ""), "relay T.Main.Col.F Animate s:1-2,3\nrelay T.Main.Col.F Animate\n"
                                              "relay T.Main.Col.F FrameNum\nrelay T.Main.Col.F Hide\n"
                                              "relay T.Main.Col.F Hide\nrelay T.Main.Col.F Other\nlayout T.Main\n" +
                                                  Dump("hidden.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out, "relay -> "), (Strings{"false", "false", "false", "true", "true", "false"}));
    EXPECT_NE(r.out.find("  FILMSTRIP T.Main.Col.F 0 0 16 16\n"), std::string::npos) << r.out;
    auto png = Png("hidden.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(At(*png, 8, 8), (Rgb{255, 255, 255}));
}

// ---- Progress bar ----

namespace {

const Rgb kProgressBg{210, 210, 220};

// Column c of the mkskins foreground.
Rgb Stripe(int c)
{
    return (c / 4) % 2 ? Rgb{40, 120, 220} : Rgb{80, 170, 250};
}

std::string Bar(const std::string& keys = "")
{
    return R"(<PROGRESSBAR Name="Pb" File_BgImage="progress_bg.png" File_FgImage="progress_fg.png" )" + keys + "/>";
}

}  // namespace

TEST_F(UiProgressBar, TheForegroundCoversTheFilledPartFromTheLeft)
{
    const struct {
        const char* what;
        std::string progress;
        int filled;
    } cases[] = {
        {"half", "d:0.5", 50}, {"rounded", "d:0.333", 33}, {"above 1", "d:1.5", 100}, {"huge", "d:1e300", 100},
        {"negative", "d:-0.2", 0}, {"NaN", "d:nan", 0},
    };
    for (const auto& c : cases) {
        RunResult r = Script(Window(Bar(), ""), "relay T.Main.Col.Pb Progress " + c.progress + "\n" + Dump("p.png"));
        ASSERT_EQ(r.status, 0) << c.what << "\n" << r.err;
        auto png = Png("p.png");
        ASSERT_TRUE(png) << c.what;
        for (int x : {0, 1, 32, 33, 49, 50, 99}) {
            const Rgb expected = x < c.filled ? Stripe(x) : kProgressBg;
            EXPECT_EQ(At(*png, x, 6), expected) << c.what << " x " << x;
        }
    }
    RunResult r = Script(Window(Bar(), ""), "relay T.Main.Col.Pb Progress d:0.7\nrelay T.Main.Col.Pb Reset\n"
                                            "relay T.Main.Col.Pb Progress\nrelay T.Main.Col.Pb Other\n" +
                                                Dump("reset.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out, "relay -> "), (Strings{"true", "true", "false", "false"}));
    auto png = Png("reset.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(At(*png, 0, 6), kProgressBg);
}

TEST_F(UiProgressBar, ThePatternSlidesRightAtItsRateAndWraps)
{
    const struct {
        const char* what;
        std::string keys;
        int ticks;
        int offset;
    } cases[] = {
        {"still", "", 100, 0},
        {"50 a second, 1 s", "SlideRate=\"50\"", 100, 50},
        {"50 a second, 3 s", "SlideRate=\"50\"", 300, 50},
        {"-30 a second, 1 s", "SlideRate=\"-30\"", 100, 70},
    };
    for (const auto& c : cases) {
        RunResult r = Script(Window(Bar(c.keys), ""), "relay T.Main.Col.Pb Progress d:1\ntick " +
                                                          std::to_string(c.ticks) + "\n" + Dump("s.png"));
        ASSERT_EQ(r.status, 0) << c.what << "\n" << r.err;
        auto png = Png("s.png");
        ASSERT_TRUE(png) << c.what;
        // The foreground's column (x - offset) modulo its width shows at x.
        for (int x : {0, 1, 2, 3, 4, 5, 6, 48, 50, 51, 99})
            EXPECT_EQ(At(*png, x, 6), Stripe(((x - c.offset) % 100 + 100) % 100)) << c.what << " x " << x;
    }
}

TEST_F(UiProgressBar, BothPicturesAreRequired)
{
    for (const char* body : {R"(<PROGRESSBAR Name="Pb" File_BgImage="progress_bg.png"/>)",
                             R"(<PROGRESSBAR Name="Pb" File_FgImage="progress_fg.png"/>)",
                             R"(<PROGRESSBAR Name="Pb" File_BgImage="progress_bg.png" File_FgImage="none.png"/>)"}) {
        RunResult r = Script(Window(body, ""), "layout T.Main\n");
        ASSERT_EQ(r.status, 0) << body << "\n" << r.err;
        EXPECT_EQ(r.out.find("PROGRESSBAR"), std::string::npos) << body << "\n" << r.out;
    }
    RunResult r = Script(Window(Bar(), ""), "layout T.Main\n");
    EXPECT_NE(r.out.find("  PROGRESSBAR T.Main.Col.Pb 0 0 100 12\n"), std::string::npos) << r.out;
}

// ---- Slider ----

namespace {

// A slider of the mkskins images: a 120-pixel track picture and a 10 x 16 knob that keeps its size, so the
// knob travels 110 pixels; the five events reach the probe.
std::string Slider(const std::string& keys, bool snapRelay = false, bool horizontal = true)
{
    std::string relays;
    for (const char* e : {"ON_RELEASE", "ON_SLIDE", "ON_UPDATE", "ON_MANUAL"})
        relays += std::string("<") + e + " Relay=\"T.Main.Col.P\" Message=\"" + e + "\"/>";
    if (snapRelay)
        relays += R"(<ON_SNAP Relay="T.Main.Col.P" Message="ON_SNAP"/>)";
    return std::string(R"(<SLIDER Name="S" Font="DejaVu Sans" FontSize="10" FontColor="#000000" )") +
           "File_Image_Bg=\"" + (horizontal ? "slider_bg.png" : "slider_vbg.png") +
           "\" File_Image_Knob=\"slider_knob.png\" File_Image_Knob_Down=\"slider_knob_down.png\" DontScaleKnob=\"1\" " +
           (horizontal ? "" : "_Horizontal=\"0\" ") + keys + ">" + relays + "</SLIDER>";
}

const char kSliderKinds[] = "ON_RELEASE:d,ON_SLIDE:d,ON_UPDATE:d,ON_SNAP:d";
const Rgb kKnob{230, 120, 40}, kKnobDown{170, 80, 20};

}  // namespace

TEST_F(UiSlider, SetMovesTheKnobOnceAndReportsPositionThenValue)
{
    RunResult r = Script(Window(Slider(R"(Lower="0" Upper="10" Step="1")"), kSliderKinds),
                         "relay T.Main.Col.S Set d:1.5\nrelay T.Main.Col.S Set d:1.5\nlayout T.Main\n" + Dump("set.png") +
                             "relay T.Main.Col.S SetWithNoUpdate d:0.5\nrelay T.Main.Col.S Set d:nan\n"
                             "relay T.Main.Col.S Set\nrelay T.Main.Col.S GetValue\nrelay T.Main.Col.S Other\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out, "T.Main.Col.P "), (Strings{"ON_RELEASE 1", "ON_UPDATE 10", "ON_RELEASE 0", "ON_UPDATE 0"}))
        << r.out;
    EXPECT_EQ(Lines(r.out, "relay -> "), (Strings{"true", "true", "true", "true", "false", "false", "false"}));
    EXPECT_NE(r.out.find("  SLIDER T.Main.Col.S 0 0 120 16\n"), std::string::npos) << r.out;
    auto png = Png("set.png");
    ASSERT_TRUE(png);
    // The knob at the far end, the track before it.
    EXPECT_EQ(At(*png, 115, 8), kKnob);
    EXPECT_EQ(At(*png, 60, 4), (Rgb{140, 160, 140}));
}

TEST_F(UiSlider, DraggingTheKnobSlidesAndMapsToTheGrid)
{
    // The knob grabbed at x 5 and dragged 48 pixels: offset 48 of 110 (0.436) maps to 4.
    RunResult r = Script(Window(Slider(R"(Lower="0" Upper="10" Step="1")"), kSliderKinds),
                         "down T.Main 5 8\nmouse T.Main 53 8\n" + Dump("held.png") +
                             "up T.Main 53 8\ndown T.Main 55 8\nmouse T.Main 500 8\nup T.Main 500 8\n"
                             "down T.Main 115 8\nmouse T.Main 111 8\nup T.Main 111 8\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const Strings expected = {"ON_MANUAL",     "ON_SLIDE 0.436364", "ON_UPDATE 4",        "ON_RELEASE 0.436364",
                              "ON_MANUAL",     "ON_SLIDE 1",        "ON_UPDATE 10",       "ON_RELEASE 1",
                              "ON_MANUAL",     "ON_SLIDE 0.963636", "ON_UPDATE 10",       "ON_RELEASE 0.963636"};
    EXPECT_EQ(Lines(r.out, "T.Main.Col.P "), expected) << r.out;
    auto png = Png("held.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(At(*png, 53, 8), kKnobDown);
}

TEST_F(UiSlider, WithSnapRelaysAReleaseSnapsToTheNearestStep)
{
    // Upper 4: n = 4; a press off the knob takes the position of the press: 33 / 110 = 0.3 snaps to 0.25,
    // 99 / 110 = 0.9 to 1 (the knob at the far end), 41.25 would be a border, 44 / 110 = 0.4 goes to 0.5.
    RunResult r = Script(Window(Slider(R"(Lower="0" Upper="4" Step="1" _DisplayValue="0")", true), kSliderKinds),
                         "click T.Main 33 8\nclick T.Main 99 8\n" + Dump("end.png") + "click T.Main 44 8\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out, "T.Main.Col.P "), (Strings{"ON_SNAP 0.25", "ON_SNAP 1", "ON_SNAP 0.5"})) << r.out;
    auto png = Png("end.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(At(*png, 111, 8), kKnob);
    EXPECT_EQ(At(*png, 108, 4), (Rgb{140, 160, 140}));
}

TEST_F(UiSlider, WithoutAStepOrARangeDragsAndDrawsFinish)
{
    const struct {
        const char* what;
        std::string keys;
        Strings expected;
    } cases[] = {
        // No grid: the raw value, and "ON_SNAP" the raw position.
        {"no Step", R"(Lower="0" Upper="10")",
         {"ON_MANUAL", "ON_SLIDE 0.436364", "ON_UPDATE 4.36364", "ON_SNAP 0.436364", "ON_SNAP 0.3", "ON_RELEASE 0.3",
          "ON_UPDATE 3"}},
        {"Upper = Lower", R"(Lower="5" Upper="5" Step="1")",
         {"ON_MANUAL", "ON_SLIDE 0.436364", "ON_UPDATE 5", "ON_SNAP 0.436364", "ON_SNAP 0.3", "ON_RELEASE 0",
          "ON_UPDATE 5"}},
        {"step wider than the range", R"(Lower="0" Upper="1" Step="3")",
         {"ON_MANUAL", "ON_SLIDE 0.436364", "ON_UPDATE 0.436364", "ON_SNAP 0.436364", "ON_SNAP 0.3",
          "ON_RELEASE 1", "ON_UPDATE 1"}},
        {"tiny step", R"(Lower="0" Upper="10" Step="1e-300")",
         {"ON_MANUAL", "ON_SLIDE 0.436364", "ON_UPDATE 4.36364", "ON_SNAP 0.436364", "ON_SNAP 0.3", "ON_RELEASE 0.3",
          "ON_UPDATE 3"}},
    };
    for (const auto& c : cases) {
        RunResult r = Script(Window(Slider(c.keys, true), kSliderKinds),
                             "down T.Main 5 8\nmouse T.Main 53 8\nup T.Main 53 8\n" + Dump("a.png") +
                                 "click T.Main 33 8\nrelay T.Main.Col.S Increment\n" + Dump("b.png"));
        ASSERT_EQ(r.status, 0) << c.what << "\n" << r.err;
        EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << c.what << "\n" << r.err;
        EXPECT_EQ(Lines(r.out, "T.Main.Col.P "), c.expected) << c.what << "\n" << r.out;
    }
}

TEST_F(UiSlider, AVerticalSliderCountsItsValueFromTheBottom)
{
    RunResult r = Script(Window(Slider(R"(Lower="0" Upper="10" Step="1" Init="2")", false, false), kSliderKinds),
                         "layout T.Main\nrelay T.Main.Col.S Increment\nrelay T.Main.Col.S Increment\n"
                         "relay T.Main.Col.S Decrement\nrelay T.Main.Col.S Reset\nrelay T.Main.Col.S Decrement\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("  SLIDER T.Main.Col.S 0 0 10 120\n"), std::string::npos) << r.out;
    // Positions from the top of a 104-pixel track: 3 sits at 104 - 31, 4 at 104 - 41.
    const Strings expected = {"ON_RELEASE 0.701923", "ON_UPDATE 3", "ON_RELEASE 0.605769", "ON_UPDATE 4",
                              "ON_RELEASE 0.701923", "ON_UPDATE 3", "ON_RELEASE 1",        "ON_UPDATE 0",
                              "ON_RELEASE 1",        "ON_UPDATE 0"};
    EXPECT_EQ(Lines(r.out, "T.Main.Col.P "), expected) << r.out;
}

TEST_F(UiSlider, AStoredPositionIsLimitedToTheTrack)
{
    const struct {
        const char* stored;
        const char* value;  // after one "Increment"
    } cases[] = {{"0.5", "6"}, {"7", "10"}, {"-3", "1"}, {"nan", "3"}, {"", "3"}};
    for (const auto& c : cases) {
        std::string state = "<STATE>";
        if (*c.stored)
            state += std::string(R"(<PERDATA Name="T.Main.Col.S" SliderValue=")") + c.stored + "\"/>";
        state += "</STATE>";
        fs::create_directories(m_AppData);
        // The state file as the application writes it, in UTF-16.
        lumotest::WriteText(Root() / "state.xml", state);
        ASSERT_EQ(lumotest::RunCommand("iconv -f UTF-8 -t UTF-16 " + (Root() / "state.xml").string() + " >" +
                                       (fs::path(m_AppData) / "T.state.xml").string()),
                  0);
        RunResult r = Script(Window(Slider(R"(Lower="0" Upper="10" Step="1" Init="2")"), kSliderKinds,
                                    "HasPersistantDataStore=\"1\""),
                             "relay T.Main.Col.S Increment\n");
        ASSERT_EQ(r.status, 0) << c.stored << "\n" << r.err;
        const Strings lines = Lines(r.out, "T.Main.Col.P ON_UPDATE ");
        EXPECT_EQ(lines, (Strings{c.value})) << c.stored << "\n" << r.out;
    }
}

TEST_F(UiSlider, ADisabledSliderIgnoresTheMouseButObeysSet)
{
    RunResult r = Script(Window(Slider(R"(Lower="0" Upper="10" Step="1")", true), kSliderKinds),
                         "relay T.Main.Col.S SetEnabled b:0\nclick T.Main 5 8\ndown T.Main 5 8\nmouse T.Main 60 8\n"
                         "up T.Main 60 8\nrelay T.Main.Col.S Set d:0.5\nrelay T.Main.Col.S SetEnabled b:1\n"
                         "relay T.Main.Col.S Hide\n" + Dump("hidden.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out, "T.Main.Col.P "), (Strings{"ON_RELEASE 0.5", "ON_UPDATE 5"})) << r.out;
    // Disabled while the knob is held: the press ends and the mouse is free for the probe.
    r = Script(Window(Slider(R"(Lower="0" Upper="10" Step="1")") +
                          R"(<TEST_PROBE Name="Q" MinHSize="20" MinVSize="20" LogInput="1"/>)",
                      kSliderKinds),
               "down T.Main 5 8\nrelay T.Main.Col.S SetEnabled b:0\nup T.Main 5 8\nclick T.Main 10 30\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("T.Main.Col.Q MouseDown 10 30"), std::string::npos) << r.out;
    auto png = Png("hidden.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(At(*png, 60, 8), (Rgb{255, 255, 255}));
}

TEST_F(UiSlider, APressedKnobOfAnotherSizeIsAScriptError)
{
    RunResult r = Script(Window(R"(<SLIDER Name="S" Font="DejaVu Sans" FontSize="10" FontColor="#000000" )"
                                R"(File_Image_Bg="slider_bg.png" File_Image_Knob="slider_knob.png" )"
                                R"(File_Image_Knob_Down="button_pressed.png"/>)",
                                ""),
                         "tick 1\n");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("KUiCheckbox::InitUiObject() failed: on and off images are NOT the same size!"),
              std::string::npos)
        << r.err;
    // Without a font key there is no slider.
    r = Script(Window(R"(<SLIDER Name="S" Font="DejaVu Sans" FontSize="10" File_Image_Bg="slider_bg.png" )"
                      R"(File_Image_Knob="slider_knob.png"/>)",
                      ""),
               "layout T.Main\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("SLIDER"), std::string::npos) << r.out;
}
