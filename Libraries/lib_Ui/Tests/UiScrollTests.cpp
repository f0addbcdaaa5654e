// The scroll bar read from scripts on the headless backend, with the mkskins images: which scripts make a
// bar, its minimum and orientation, the thumb at the end of the range, keys, and pressing parts while the
// pointer leaves and comes back.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "KGenericUiApp.h"
#include "KGenericUiWindow.h"
#include "KIUiPixmap.h"
#include "KStorage.h"
#include "KUiObject.h"
#include "KUiScrollbar.h"
#include "LumoStorageFixture.h"
#include "LumoTestSupport.h"
#include "PlatformShell.h"
#include "PlatformWindow.h"

namespace fs = std::filesystem;

namespace {

// Records the positions a bar reports.
class ScrollRecorder : public KUiObject {
public:
    bool UiRelayMessage(const KWString& message, void* data) override
    {
        if (message == u"Scroll" && data)
            positions.push_back(*static_cast<const int32_t*>(data));
        return true;
    }
    std::vector<int32_t> positions;
};

std::string Bar(const std::string& tag, const char* set, const std::string& extra)
{
    const std::string s = set;
    return "<" + tag + " Name=\"Bar\" " + extra +
           " File_ButtonANormal=\"" + s + "scroll_a_normal.png\" File_ButtonAPressed=\"" + s + "scroll_a_pressed.png\"" +
           " File_ButtonBNormal=\"" + s + "scroll_b_normal.png\" File_ButtonBPressed=\"" + s + "scroll_b_pressed.png\"" +
           " File_Slider=\"" + s + "scroll_thumb.png\"/>";
}

const char kColours[] = "BgColor=\"#E0E0E0\" BgClickColor=\"#606060\" ";
const char kHKnurls[] = "File_SliderKnurls=\"hscroll_knurls.png\" SliderResizeRect=\"4, 4, 15, 8\" ";
const char kVKnurls[] = "File_SliderKnurls=\"vscroll_knurls.png\" SliderResizeRect=\"4, 4, 8, 15\" ";

class UiScrollbarScript : public lumotest::StorageFixture {
protected:
    void SetUp() override
    {
        StorageFixture::SetUp();
        setenv("LUMO_UI", "headless", 1);
        std::string error;
        ASSERT_TRUE(PlatUiStart(error)) << error;
        std::string appData;
        ASSERT_TRUE(PlatGetSpecialFolderPath(PLAT_CSIDL_APPDATA, appData, true));
        for (const char* skin : {"hscroll_a_normal", "hscroll_a_pressed", "hscroll_b_normal", "hscroll_b_pressed",
                                 "hscroll_thumb", "hscroll_knurls", "vscroll_a_normal", "vscroll_a_pressed",
                                 "vscroll_b_normal", "vscroll_b_pressed", "vscroll_thumb", "vscroll_knurls"})
            fs::copy_file(std::string(LUMO_BINARY_DIR "/skins/") + skin + ".png", Root() / (std::string(skin) + ".png"),
                          fs::copy_options::overwrite_existing);
    }
    void TearDown() override
    {
        m_App.reset();
        StorageFixture::TearDown();
    }
    // A window of one VBOX holding body and a fixed 5 x 5 rectangle; the bar, when made, is "T.Main.Col.Bar".
    KUiScrollbar* Load(const std::string& body)
    {
        lumotest::WriteText(Root() / "ui.xml", R"(<APP Name="T"><WINDOW Name="Main" BgColor="#FFFFFF"><VBOX Name="Col">)" +
                                                   body +
                                                   R"(<RECT MinHSize="5" MinVSize="5" HStretch="0" VStretch="0" )"
                                                   R"(Color="#FF0000"/></VBOX></WINDOW></APP>)");
        m_App.reset(CreateGenericUiApp());
        KWString leaf;
        KIFolder* folder = OpenFolderByURL(RootURL(), leaf, false);
        bool running = false;
        if (!m_App->LoadUiScript(folder, KWString("ui.xml"), running))
            return nullptr;
        auto* bar = dynamic_cast<KUiScrollbar*>(m_App->GetUiRelay(KWString("T.Main.Col.Bar")));
        if (bar)
            bar->ConnectEvent(KWString("ON_SCROLL"), KWString("Scroll"), &m_Recorder);
        return bar;
    }
    KGenericUiWindow* Window() { return static_cast<KGenericUiWindow*>(m_App->GetFirstWindow()); }
    static bool Set(KUiScrollbar* bar, double total, double page, double position)
    {
        double values[3] = {total, page, position};
        return bar->UiRelayMessage(KWString("Set"), values);
    }

    std::unique_ptr<KGenericUiApp> m_App;
    ScrollRecorder m_Recorder;
};

using UiScrollbarDirect = UiScrollbarScript;

}  // namespace

TEST_F(UiScrollbarDirect, ScriptsWithoutARequiredKeyOrWithImagesThatDisagreeMakeNoBar)
{
    const std::string h = std::string(kColours) + kHKnurls;
    const struct {
        const char* what;
        std::string body;
        bool made;
    } cases[] = {
        {"complete", Bar("HSCROLLBAR", "h", "Stretch=\"0\" " + h), true},
        {"no Stretch", Bar("HSCROLLBAR", "h", h), false},
        {"no BgColor", Bar("HSCROLLBAR", "h", "Stretch=\"0\" BgClickColor=\"#606060\" " + std::string(kHKnurls)), false},
        {"no SliderResizeRect",
         Bar("HSCROLLBAR", "h", "Stretch=\"0\" " + std::string(kColours) + "File_SliderKnurls=\"hscroll_knurls.png\""),
         false},
        {"missing picture", Bar("HSCROLLBAR", "h", "Stretch=\"0\" " + std::string(kColours) +
                                                       "File_SliderKnurls=\"nothing.png\" SliderResizeRect=\"4, 4, 15, 8\""),
         false},
        // A button B of another size than button A.
        {"unequal buttons",
         "<HSCROLLBAR Name=\"Bar\" Stretch=\"0\" " + h +
             "File_ButtonANormal=\"hscroll_a_normal.png\" File_ButtonAPressed=\"hscroll_a_pressed.png\" "
             "File_ButtonBNormal=\"hscroll_thumb.png\" File_ButtonBPressed=\"hscroll_thumb.png\" "
             "File_Slider=\"hscroll_thumb.png\"/>",
         false},
        // Grip marks 20 high on 13-pixel buttons of a horizontal bar; 7 high is fine on a vertical one.
        {"thick knurls", Bar("HSCROLLBAR", "h", "Stretch=\"0\" " + std::string(kColours) +
                                                    "File_SliderKnurls=\"vscroll_thumb.png\" SliderResizeRect=\"4, 4, 15, 8\""),
         false},
        {"vertical", Bar("VSCROLLBAR", "v", "Stretch=\"1\" " + std::string(kColours) + kVKnurls), true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Load(c.body) != nullptr, c.made) << c.what;
}

TEST_F(UiScrollbarDirect, OrientationAndMinimumFollowTheTag)
{
    KUiScrollbar* bar = Load(Bar("SCROLLBAR", "h", "Stretch=\"0\" " + std::string(kColours) + kHKnurls));
    ASSERT_TRUE(bar);
    EXPECT_TRUE(bar->IsHorizontal());
    EXPECT_EQ(bar->GetMinWidth(), 39);
    EXPECT_EQ(bar->GetMinHeight(), 14);
    // A smaller rect leaves the bar at its minimum.
    bar->SetRect(3, 4, 10, 2);
    EXPECT_EQ(*bar->GetRect(), KRect(3, 4, 42, 18));

    bar = Load(Bar("SCROLLBAR", "v", "_Horizontal=\"0\" Stretch=\"1\" " + std::string(kColours) + kVKnurls));
    ASSERT_TRUE(bar);
    EXPECT_FALSE(bar->IsHorizontal());
    EXPECT_EQ(bar->GetMinWidth(), 14);
    EXPECT_EQ(bar->GetMinHeight(), 39);
    EXPECT_EQ(bar->GetLayout(false)->GetStretch(), 1);
    EXPECT_EQ(bar->GetLayout(true)->GetStretch(), 0);

    // "HSCROLLBAR" is horizontal whatever "_Horizontal" says.
    bar = Load(Bar("HSCROLLBAR", "h", "_Horizontal=\"0\" Stretch=\"0\" " + std::string(kColours) + kHKnurls));
    ASSERT_TRUE(bar);
    EXPECT_TRUE(bar->IsHorizontal());
}

TEST_F(UiScrollbarDirect, AtTheEndOfTheRangeTheThumbTouchesButtonB)
{
    KUiScrollbar* bar = Load(Bar("VSCROLLBAR", "v", "Stretch=\"0\" " + std::string(kColours) + kVKnurls));
    ASSERT_TRUE(bar);
    bar->SetRect(0, 0, 14, 39);
    // Track 13: thumb 4 x 13 / 10 = 5; offset 6 x 13 / 10 = 7 would leave a gap of one pixel.
    ASSERT_TRUE(Set(bar, 10, 4, 6));
    EXPECT_EQ(bar->GetButtonARect(), KRect(1, 0, 14, 13));
    EXPECT_EQ(bar->GetButtonBRect(), KRect(1, 26, 14, 39));
    EXPECT_EQ(bar->GetThumbRect(), KRect(1, 21, 14, 26));
    EXPECT_EQ(bar->GetPageBeforeRect(), KRect(1, 13, 14, 20));
    ASSERT_TRUE(bar->GetThumbImage());
    EXPECT_EQ(bar->GetThumbImage()->Width(), 13);
    EXPECT_EQ(bar->GetThumbImage()->Height(), 5);
    // A thumb shorter than a pixel keeps its place but has no image.
    ASSERT_TRUE(Set(bar, 100, 4, 0));
    EXPECT_EQ(bar->GetThumbRect().Height(), 0);
    EXPECT_EQ(bar->GetThumbImage(), nullptr);
    EXPECT_EQ(bar->GetPageAfterRect(), KRect(1, 13, 14, 26));
}

TEST_F(UiScrollbarDirect, KeysOfTheBarsOrientationMoveItEvenWhenNothingChanges)
{
    KUiScrollbar* bar = Load(Bar("VSCROLLBAR", "v", "Stretch=\"0\" " + std::string(kColours) + kVKnurls));
    ASSERT_TRUE(bar);
    ASSERT_TRUE(Set(bar, 10, 4, 0));
    ASSERT_TRUE(Window()->SetKeyboardFocus(bar, true));
    // Up at 0 (0 again), Down, Left and Right (horizontal only: nothing), Page Down twice (4, then 6), Page Up,
    // a letter (nothing).
    for (int code : {14, 19, 146, 145, 18, 18, 17, int('a')})
        Window()->KeyDown(code, false, false);
    EXPECT_EQ(m_Recorder.positions, (std::vector<int32_t>{0, 1, 5, 6, 2}));
    EXPECT_EQ(bar->GetPosition(), 2);
}

TEST_F(UiScrollbarDirect, LeavingAHeldButtonStopsTheRepeatAndComingBackStartsItAgain)
{
    KUiScrollbar* bar = Load(Bar("HSCROLLBAR", "h", "Stretch=\"0\" " + std::string(kColours) + kHKnurls));
    ASSERT_TRUE(bar);
    ASSERT_TRUE(Set(bar, 1000, 4, 0));
    ASSERT_TRUE(bar->MouseDown(30, 7, false, false));
    EXPECT_EQ(m_Recorder.positions, (std::vector<int32_t>{1}));
    for (int i = 0; i < 35; ++i)
        bar->Tick(10);
    bar->MouseMove(30, 40);
    for (int i = 0; i < 100; ++i)
        bar->Tick(10);
    EXPECT_EQ(m_Recorder.positions, (std::vector<int32_t>{1}));
    // Back over button B: the delay starts again from the first tick.
    bar->MouseMove(30, 7);
    for (int i = 0; i < 41; ++i)
        bar->Tick(10);
    EXPECT_EQ(m_Recorder.positions, (std::vector<int32_t>{1}));
    bar->Tick(10);
    EXPECT_EQ(m_Recorder.positions, (std::vector<int32_t>{1, 2}));
    // Ticks of any length make one step at most.
    bar->Tick(1000);
    EXPECT_EQ(m_Recorder.positions, (std::vector<int32_t>{1, 2, 3}));
    bar->MouseUp(30, 7, false, false);
    for (int i = 0; i < 100; ++i)
        bar->Tick(10);
    EXPECT_EQ(m_Recorder.positions, (std::vector<int32_t>{1, 2, 3}));
}
