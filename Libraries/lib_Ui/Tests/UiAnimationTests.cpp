// The slider's value mapping and knob, the film strip's alpha hit test and a timer made directly under the
// application, read from scripts on the headless backend with the mkskins images.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "KGenericUiApp.h"
#include "KGenericUiPixmap.h"
#include "KIGenericUiWindow.h"
#include "KIUiPixmap.h"
#include "KStorage.h"
#include "KUiControl.h"
#include "KUiFilmStrip.h"
#include "KUiObject.h"
#include "KUiSlider.h"
#include "KUiTimer.h"
#include "LumoStorageFixture.h"
#include "LumoTestSupport.h"
#include "PlatformShell.h"
#include "PlatformWindow.h"

namespace fs = std::filesystem;

namespace {

// Records the messages that reach it.
class Recorder : public KUiObject {
public:
    bool UiRelayMessage(const KWString& message, void*) override
    {
        seen.push_back(WideToUtf8(message));
        return true;
    }
    std::vector<std::string> seen;
};

class UiAnimationScript : public lumotest::StorageFixture {
protected:
    void SetUp() override
    {
        StorageFixture::SetUp();
        setenv("LUMO_UI", "headless", 1);
        std::string error;
        ASSERT_TRUE(PlatUiStart(error)) << error;
        std::string appData;
        ASSERT_TRUE(PlatGetSpecialFolderPath(PLAT_CSIDL_APPDATA, appData, true));
        for (const char* skin : {"slider_bg", "slider_knob", "filmstrip"})
            fs::copy_file(std::string(LUMO_BINARY_DIR "/skins/") + skin + ".png", Root() / (std::string(skin) + ".png"),
                          fs::copy_options::overwrite_existing);
    }
    void TearDown() override
    {
        m_App.reset();
        StorageFixture::TearDown();
    }
    // The script as the application's; body sits in the window's VBOX "Col", top beside the window.
    bool Load(const std::string& body, const std::string& top = "")
    {
        lumotest::WriteText(Root() / "ui.xml", R"(<APP Name="T">)" + top +
                                                   R"(<WINDOW Name="Main" BgColor="#FFFFFF"><VBOX Name="Col">)" + body +
                                                   "</VBOX></WINDOW></APP>");
        m_App.reset(CreateGenericUiApp());
        KWString leaf;
        KIFolder* folder = OpenFolderByURL(RootURL(), leaf, false);
        bool running = false;
        return m_App->LoadUiScript(folder, KWString("ui.xml"), running);
    }
    template <class T>
    T* Find(const char* path)
    {
        return dynamic_cast<T*>(m_App->GetUiRelay(KWString(path)));
    }

    std::unique_ptr<KGenericUiApp> m_App;
};

std::string Slider(const std::string& keys)
{
    return R"(<SLIDER Name="S" Font="DejaVu Sans" FontSize="10" FontColor="#000000" File_Image_Bg="slider_bg.png" )"
           R"(File_Image_Knob="slider_knob.png" )" +
           keys + "/>";
}

}  // namespace

TEST_F(UiAnimationScript, SliderPositionsMapToTheGridAndShowAsText)
{
    ASSERT_TRUE(Load(Slider(R"(Lower="0" Upper="10" Step="1" DontScaleKnob="1")")));
    auto* slider = Find<KUiSlider>("T.Main.Col.S");
    ASSERT_TRUE(slider);
    ASSERT_EQ(slider->GetTrackLength(), 110);
    const struct {
        double position;
        double value;
    } cases[] = {{0.44, 4}, {0.04, 0}, {0.96, 10}, {0.5, 5}, {0.0, 0}, {1.0, 10}, {0.14, 1}};
    for (const auto& c : cases) {
        double p = c.position;
        ASSERT_TRUE(slider->UiRelayMessage(KWString(u"SetWithNoUpdate"), &p));
        double value = -1;
        ASSERT_TRUE(slider->UiRelayMessage(KWString(u"GetValue"), &value));
        EXPECT_EQ(value, c.value) << c.position;
    }
    EXPECT_EQ(slider->FormatValue(7.9), KWString(u"7.9"));

    // A value within a thousandth of 0 shows as 0; integers are truncated.
    ASSERT_TRUE(Load(Slider(R"(Lower="-0.0004" Upper="10" DontScaleKnob="1")")));
    slider = Find<KUiSlider>("T.Main.Col.S");
    ASSERT_TRUE(slider);
    EXPECT_EQ(slider->MapValue(), 0.0);
    EXPECT_EQ(slider->FormatValue(slider->MapValue()), KWString(u"0.0"));
    ASSERT_TRUE(Load(Slider(R"(Lower="0" Upper="10" _DisplayIntegers="1" DontScaleKnob="1")")));
    slider = Find<KUiSlider>("T.Main.Col.S");
    ASSERT_TRUE(slider);
    EXPECT_EQ(slider->FormatValue(7.9), KWString(u"7"));
    EXPECT_EQ(slider->FormatValue(1e300), KWString(u"2147483647"));
}

TEST_F(UiAnimationScript, TheKnobGrowsToHoldTheWidestValue)
{
    KUiOwnFont font;
    font.name = KWString(u"DejaVu Sans");
    font.size = 10;
    KIUiPixmap* sample = font.Render(KWString(u"-8.88"));
    ASSERT_TRUE(sample);
    const int32_t tw = sample->Width(), th = sample->Height();
    DeleteUiPixmap(sample);
    // The label 2, 2 to 7, 13 (inclusive) of the 10 x 16 knob holds 5 x 11 pixels of text.
    ASSERT_TRUE(Load(Slider(R"(Lower="0" Upper="10" LabelRect="2, 2, 7, 13" ResizeRect="3, 3, 6, 12")")));
    auto* slider = Find<KUiSlider>("T.Main.Col.S");
    ASSERT_TRUE(slider);
    ASSERT_TRUE(slider->GetKnobImage());
    EXPECT_EQ(slider->GetKnobImage()->Width(), 10 + tw - 5);
    EXPECT_EQ(slider->GetKnobImage()->Height(), 16 + th - 11);
    EXPECT_EQ(slider->GetTrackLength(), 120 - (10 + tw - 5));
    // "_DisplayValue" off or "DontScaleKnob" keeps the picture's size.
    for (const char* keys : {R"(_DisplayValue="0")", R"(DontScaleKnob="1")"}) {
        ASSERT_TRUE(Load(Slider(keys)));
        slider = Find<KUiSlider>("T.Main.Col.S");
        ASSERT_TRUE(slider);
        EXPECT_EQ(slider->GetKnobImage()->Width(), 10) << keys;
    }
}

TEST_F(UiAnimationScript, AFilmStripIsHitOnlyWhereItsCurrentFrameIsOpaque)
{
    ASSERT_TRUE(Load(R"(<FILMSTRIP Name="F" File_Image="filmstrip.png" NumFrames="10" _FrameNo="3"/>)"));
    auto* strip = Find<KUiFilmStrip>("T.Main.Col.F");
    ASSERT_TRUE(strip);
    EXPECT_EQ(*strip->GetRect(), KRect(0, 0, 16, 16));
    EXPECT_EQ(strip->GetFrame(), 3);
    EXPECT_EQ(strip->HitTest(1, 1), nullptr);
    EXPECT_EQ(strip->HitTest(3, 3), nullptr);
    EXPECT_EQ(strip->HitTest(4, 1), strip);
    EXPECT_EQ(strip->HitTest(8, 8), strip);
    EXPECT_EQ(strip->HitTest(16, 8), nullptr);
    EXPECT_FALSE(strip->IsPlayable());
    int32_t frame = 12;
    ASSERT_TRUE(strip->UiRelayMessage(KWString(u"FrameNum"), &frame));
    EXPECT_EQ(strip->GetFrame(), 2);
    EXPECT_EQ(strip->HitTest(1, 1), nullptr);
    EXPECT_EQ(strip->HitTest(15, 15), strip);
}

TEST_F(UiAnimationScript, ATimerUnderTheApplicationTicksWithTheMainWindow)
{
    ASSERT_TRUE(Load("", R"(<TIMER Name="Tm" _Period="100" _Tick="30"/>)"));
    auto* timer = Find<KUiTimer>("T.Tm");
    ASSERT_TRUE(timer);
    EXPECT_EQ(*timer->GetRect(), KRect());
    Recorder recorder;
    for (const char* e : {"ON_BEGIN", "ON_TICK", "ON_END"})
        timer->FindEvent(KWString(e))->AddDirectRelay(KWString(e + 3), &recorder);
    ASSERT_TRUE(timer->UiRelayMessage(KWString(u"Begin"), nullptr));
    EXPECT_TRUE(timer->IsRunning());
    for (int i = 0; i < 10; ++i)
        m_App->GetFirstWindow()->Tick(0.01);
    EXPECT_TRUE(timer->IsRunning());
    m_App->GetFirstWindow()->Tick(0.01);
    EXPECT_FALSE(timer->IsRunning());
    EXPECT_EQ(recorder.seen, (std::vector<std::string>{"BEGIN", "TICK", "TICK", "TICK", "TICK", "END"}));
}
