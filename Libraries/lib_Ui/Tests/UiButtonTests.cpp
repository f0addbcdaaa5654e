// The button, check box, radio button and toggle on the headless backend, driven through the window's input
// routing and ticks; what their events send is recorded by "LOG" objects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KIUiPixmap.h"
#include "KUiButton.h"
#include "UiPictureFixture.h"

using namespace uitest;

namespace {

class UiButton : public PictureFixture {
protected:
    // A 40 x 20 flat button "B" at the window's top-left, its events sent to "L".
    bool LoadButton(const std::string& keys = "", const std::string& children = "")
    {
        return Load(R"(<VBOX><BUTTON Name="B" MinHSize="40" MinVSize="20" ColorN="#0000FF" ColorO="#00FFFF"
                       ColorP="#FF0000" ColorD="#808080" )" + keys + ">" + children + R"(
                       <ON_PRESS LocalRelay="L" Message="ON_PRESS"/><ON_DOWN LocalRelay="L" Message="ON_DOWN"/>
                       <ON_UP LocalRelay="L" Message="ON_UP"/>
                       <ON_ENABLED_STATE LocalRelay="L" Message="ON_ENABLED_STATE"/></BUTTON>
                       <RECT MinHSize="40" MinVSize="20" HStretch="0" VStretch="0" Color="#FFFFFF"/>
                       <LOG Name="L" Bytes="ON_ENABLED_STATE"/></VBOX>)");
    }
    KUiButton* Button() { return Find<KUiButton>("B"); }
};

using Log = std::vector<std::string>;

}  // namespace

TEST_F(UiButton, PressLeaveEnterReleaseOverItAndOutside)
{
    ASSERT_TRUE(LoadButton());
    ASSERT_TRUE(Button());
    EXPECT_EQ(TakeLog(), Log{"ON_ENABLED_STATE 1"});
    KGenericUiWindow* w = Window();
    EXPECT_EQ(Pixel(20, 10), kBlue);
    w->MouseMove(20, 10);
    EXPECT_EQ(Pixel(20, 10), (Rgb{0, 255, 255}));
    w->MouseDown(0, 20, 10, false, false);
    EXPECT_EQ(Pixel(20, 10), kRed);
    w->MouseMove(20, 30);
    w->MouseMove(20, 10);
    w->MouseUp(0, 20, 10, false, false);
    EXPECT_EQ(TakeLog(), (Log{"ON_DOWN", "ON_UP", "ON_DOWN", "ON_PRESS", "ON_UP"}));
    EXPECT_EQ(Button()->GetState(), KUiButton::MouseOver);

    w->MouseDown(0, 20, 10, false, false);
    EXPECT_EQ(Pixel(20, 10), kRed);
    w->MouseMove(20, 30);
    w->MouseUp(0, 20, 30, false, false);
    EXPECT_EQ(TakeLog(), (Log{"ON_DOWN", "ON_UP", "ON_UP"}));
    EXPECT_EQ(Button()->GetState(), KUiButton::Normal);
    EXPECT_EQ(Pixel(20, 10), kBlue);
}

TEST_F(UiButton, RepeatStartsOnTheTickAfterTheDelayAndFiresOncePerTick)
{
    ASSERT_TRUE(LoadButton(R"(Repeat="true" AutoRepeatSensitivity="200")"));
    TakeLog();
    KGenericUiWindow* w = Window();
    w->MouseDown(0, 20, 10, false, false);
    EXPECT_EQ(TakeLog(), Log{"ON_DOWN"});
    std::vector<int> pressesAfterTick;
    for (int tick = 1; tick <= 25; ++tick) {
        w->Tick(0.01);
        int presses = 0;
        for (const std::string& line : TakeLog())
            presses += line == "ON_PRESS";
        pressesAfterTick.push_back(presses);
    }
    // Ticks 1 to 21 reach 210 ms: the 21st starts repeating; ticks 22 to 25 press once each.
    EXPECT_EQ(pressesAfterTick, (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                  1, 1, 1, 1}));
    // Off the button no repeat; back on it again; the release over it presses once more.
    w->MouseMove(20, 30);
    TakeLog();
    w->Tick(0.01);
    w->Tick(0.01);
    EXPECT_EQ(TakeLog(), Log{});
    w->MouseMove(20, 10);
    w->Tick(0.01);
    w->MouseUp(0, 20, 10, false, false);
    EXPECT_EQ(TakeLog(), (Log{"ON_DOWN", "ON_PRESS", "ON_PRESS", "ON_UP"}));
    // Without "Repeat" holding presses nothing.
    ASSERT_TRUE(LoadButton());
    TakeLog();
    Window()->MouseDown(0, 20, 10, false, false);
    for (int tick = 0; tick < 30; ++tick)
        Window()->Tick(0.01);
    EXPECT_EQ(TakeLog(), Log{"ON_DOWN"});
}

TEST_F(UiButton, EnabledStateCommandsAndKeys)
{
    ASSERT_TRUE(LoadButton());
    KUiButton* b = Button();
    ASSERT_TRUE(b);
    TakeLog();
    EXPECT_TRUE(b->UiRelayMessage(KWString("Enable"), nullptr));
    EXPECT_EQ(TakeLog(), Log{});
    EXPECT_TRUE(b->UiRelayMessage(KWString("Disable"), nullptr));
    EXPECT_TRUE(b->UiRelayMessage(KWString("Disable"), nullptr));
    EXPECT_EQ(TakeLog(), Log{"ON_ENABLED_STATE 0"});
    EXPECT_EQ(Pixel(20, 10), (Rgb{128, 128, 128}));
    // Disabled: the mouse does nothing, the keys 3, 13 and 32 still press.
    Window()->MouseDown(0, 20, 10, false, false);
    Window()->MouseUp(0, 20, 10, false, false);
    EXPECT_EQ(TakeLog(), Log{});
    for (int key : {3, 13, 32, int('a'), 0x1000D})
        b->KeyDown(key, false, false);
    EXPECT_EQ(TakeLog(), (Log{"ON_PRESS", "ON_PRESS", "ON_PRESS", "ON_PRESS"}));
    bool yes = true, no = false;
    EXPECT_TRUE(b->UiRelayMessage(KWString("SetEnabled"), &yes));
    EXPECT_TRUE(b->UiRelayMessage(KWString("SetEnabled"), &no));
    EXPECT_TRUE(b->UiRelayMessage(KWString("ToggleEnabled"), nullptr));
    EXPECT_FALSE(b->UiRelayMessage(KWString("SetEnabled"), nullptr));
    EXPECT_EQ(TakeLog(), (Log{"ON_ENABLED_STATE 1", "ON_ENABLED_STATE 0", "ON_ENABLED_STATE 1"}));
    // Hidden buttons draw nothing but are still hit.
    EXPECT_TRUE(b->UiRelayMessage(KWString("Hide"), nullptr));
    EXPECT_EQ(Pixel(20, 10), kWhite);
    EXPECT_EQ(b->HitTest(20, 10), b);
    EXPECT_TRUE(b->UiRelayMessage(KWString("Show"), nullptr));
    EXPECT_EQ(Pixel(20, 10), kBlue);
    EXPECT_TRUE(b->UiRelayMessage(KWString("GrabKeyboard"), nullptr));
    EXPECT_FALSE(b->UiRelayMessage(KWString("Press"), nullptr));
}

TEST_F(UiButton, ADisabledHeldButtonIsNotLeftHeld)
{
    ASSERT_TRUE(LoadButton());
    KUiButton* b = Button();
    ASSERT_TRUE(b);
    TakeLog();
    Window()->MouseDown(0, 20, 10, false, false);
    EXPECT_TRUE(b->UiRelayMessage(KWString("Disable"), nullptr));
    Window()->MouseUp(0, 20, 10, false, false);
    EXPECT_TRUE(b->UiRelayMessage(KWString("Enable"), nullptr));
    TakeLog();
    // The next click is a whole click.
    Window()->MouseDown(0, 20, 10, false, false);
    Window()->MouseUp(0, 20, 10, false, false);
    EXPECT_EQ(TakeLog(), (Log{"ON_DOWN", "ON_PRESS", "ON_UP"}));
}

TEST_F(UiButton, StateImagesStretchAroundTheirScalingRectangle)
{
    // 20 x 10 faces: a 4-pixel border of one colour around a centre of another, the 2 x 2 corners clear.
    auto face = [this](const std::string& name, Rgb border, Rgb centre) {
        Picture(name, 20, 10, [=](int32_t x, int32_t y) {
            if ((x < 2 || x >= 18) && (y < 2 || y >= 8))
                return Rgba{0, 0, 0, 0};
            const Rgb c = x >= 4 && x < 16 && y >= 4 && y < 6 ? centre : border;
            return Rgba{c[0], c[1], c[2], 255};
        });
    };
    face("n.png", kBlue, kGreen);
    face("p.png", kRed, kGreen);
    face("small.png", kRed, kGreen);
    Picture("odd.png", 21, 10, [](int32_t, int32_t) { return Rgba{0, 0, 0, 255}; });
    const std::string images = R"( ScalingRect="4, 4, 15, 5" LabelRect="4, 4, 15, 5" File_Normal="n.png"
                                   File_Pressed="p.png")";
    ASSERT_TRUE(Load(R"(<VBOX Name="Col">
        <BUTTON Name="Plain" HStretch="1" VStretch="1"><BGIMAGES _NoLabel="true" File_Normal="n.png"
          File_Pressed="p.png"/></BUTTON>
        <HBOX><BUTTON Name="Label"><HBOX><RECT MinHSize="30" MinVSize="4" HStretch="0" VStretch="0"
          Color="#FFFF00"/></HBOX><BGIMAGES)" + images + R"(/></BUTTON></HBOX>
        <BUTTON Name="BadRect" MinHSize="7" MinVSize="7"><BGIMAGES ScalingRect="4, 4, 20, 5" LabelRect="4, 4, 15, 5"
          File_Normal="n.png" File_Pressed="p.png"/></BUTTON>
        <BUTTON Name="OddSize" MinHSize="7" MinVSize="7"><BGIMAGES _NoLabel="true" File_Normal="n.png"
          File_Pressed="p.png" File_MouseOver="odd.png"/></BUTTON>
        <BUTTON Name="NoPressed" MinHSize="7" MinVSize="7"><BGIMAGES _NoLabel="true" File_Normal="n.png"/></BUTTON>
        </VBOX>)"));
    Resize(200, 100);
    // Without a label: the picture's size, whatever the box offers; its corners let clicks through.
    auto* plain = Find<KUiButton>("Col.Plain");
    ASSERT_TRUE(plain && plain->HasImages());
    EXPECT_EQ(RectOf(plain), KRect(0, 0, 20, 10));
    EXPECT_EQ(Pixel(10, 1), kBlue);
    EXPECT_EQ(Pixel(0, 0), kWhite);
    EXPECT_EQ(plain->HitTest(0, 0), nullptr);
    EXPECT_EQ(plain->HitTest(2, 0), plain);
    // Over it without a mouse-over picture: the normal one; pressed: the pressed one.
    Window()->MouseMove(10, 1);
    EXPECT_EQ(plain->GetState(), KUiButton::MouseOver);
    EXPECT_EQ(Pixel(10, 1), kBlue);
    Window()->MouseDown(0, 10, 1, false, false);
    EXPECT_EQ(Pixel(10, 1), kRed);
    Window()->MouseUp(0, 10, 1, false, false);

    // With a label of 30 x 4: the label area grows by 18 x 2, the borders keep 4 pixels.
    auto* label = Find<KUiButton>("Col.Label");
    ASSERT_TRUE(label && label->HasImages());
    EXPECT_EQ(label->GetLayout(true)->GetMinimumSize(), 20 - 12 + 30);
    EXPECT_EQ(label->GetLayout(false)->GetMinimumSize(), 10 - 2 + 4);
    const KRect r = RectOf(label);
    EXPECT_EQ(r.Width(), 38);
    EXPECT_EQ(r.Height(), 12);
    EXPECT_EQ(Pixel(r.left + 3, r.top + 6), kBlue);
    EXPECT_EQ(Pixel(r.left + 4, r.top + 6), (Rgb{255, 255, 0}));
    EXPECT_EQ(Pixel(r.left + 34, r.top + 6), kBlue);
    // A rectangle beyond the picture, a picture of another size or a missing required one: flat colours.
    for (const char* name : {"Col.BadRect", "Col.OddSize", "Col.NoPressed"}) {
        auto* b = Find<KUiButton>(name);
        ASSERT_TRUE(b) << name;
        EXPECT_FALSE(b->HasImages()) << name;
        EXPECT_EQ(RectOf(b).Width(), 7) << name;
    }
}
