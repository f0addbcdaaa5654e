// The check box, radio button, toggle and image frame on the headless backend, driven through the window's
// input routing; what their events and relays send is recorded by "LOG" objects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KIUiPixmap.h"
#include "KUiCheckbox.h"
#include "KUiImageFrame.h"
#include "KUiToggle.h"
#include "UiPictureFixture.h"

using namespace uitest;

namespace {

using Log = std::vector<std::string>;

class UiToggle : public PictureFixture {
protected:
    void SetUp() override
    {
        PictureFixture::SetUp();
        // 12 x 12 faces with clear 2 x 2 corners: on green, off blue, disabled grey; 13 x 12 of another size.
        CornerPicture("on.png", 12, 12, kGreen, 2);
        CornerPicture("off.png", 12, 12, kBlue, 2);
        CornerPicture("grey.png", 12, 12, Rgb{128, 128, 128}, 2);
        CornerPicture("wide.png", 13, 12, kRed, 2);
    }
};

class UiImageFrame : public PictureFixture {};

const char kEvents[] = R"(<ON_TRUE LocalRelay="L" Message="ON_TRUE"/><ON_FALSE LocalRelay="L" Message="ON_FALSE"/>
                          <ON_STATE LocalRelay="L" Message="ON_STATE"/>)";

}  // namespace

// ---- Check box and radio button ----

TEST_F(UiToggle, CheckBoxClickFlipsAndReports)
{
    ASSERT_TRUE(Load(std::string(R"(<VBOX><CHECKBOX Name="C" File_On="on.png" File_Off="off.png">)") + kEvents +
                     R"(</CHECKBOX><LOG Name="L" Bytes="ON_STATE"/></VBOX>)"));
    auto* c = Find<KUiCheckbox>("C");
    ASSERT_TRUE(c);
    EXPECT_EQ(RectOf(c), KRect(0, 0, 12, 12));
    EXPECT_EQ(Pixel(6, 6), kBlue);
    Window()->MouseDown(0, 6, 6, false, false);
    Window()->MouseUp(0, 6, 6, false, false);
    EXPECT_EQ(TakeLog(), (Log{"ON_TRUE", "ON_STATE 1"}));
    EXPECT_EQ(Pixel(6, 6), kGreen);
    EXPECT_TRUE(c->UiRelayMessage(KWString("Press"), nullptr));
    EXPECT_EQ(TakeLog(), (Log{"ON_FALSE", "ON_STATE 0"}));
    // State commands send nothing; StateQuery writes the state.
    EXPECT_TRUE(c->UiRelayMessage(KWString("Select"), nullptr));
    EXPECT_TRUE(c->GetState());
    unsigned char byte = 7;
    EXPECT_TRUE(c->UiRelayMessage(KWString("StateQuery"), &byte));
    EXPECT_EQ(byte, 1);
    byte = 0;
    EXPECT_TRUE(c->UiRelayMessage(KWString("SetState"), &byte));
    EXPECT_FALSE(c->GetState());
    EXPECT_TRUE(c->UiRelayMessage(KWString("SetTrue"), nullptr));
    EXPECT_TRUE(c->UiRelayMessage(KWString("SetFalse"), nullptr));
    EXPECT_FALSE(c->GetState());
    EXPECT_EQ(TakeLog(), Log{});
    for (const char* needsData : {"SetState", "SetEnabled", "StateQuery"})
        EXPECT_FALSE(c->UiRelayMessage(KWString(needsData), nullptr)) << needsData;
    EXPECT_FALSE(c->UiRelayMessage(KWString("Toggle"), nullptr));
    EXPECT_TRUE(c->UiRelayMessage(KWString("Post Creation Initialization"), nullptr));
}

TEST_F(UiToggle, RadioButtonThatIsOnIgnoresClicksAndDeselectsSilently)
{
    ASSERT_TRUE(Load(std::string(R"(<VBOX><RADIO_BUTTON Name="R" File_On="on.png" File_Off="off.png"
                                     _InitialState="true">)") +
                     kEvents + R"(</RADIO_BUTTON><LOG Name="L" Bytes="ON_STATE"/></VBOX>)"));
    auto* r = Find<KUiCheckbox>("R");
    ASSERT_TRUE(r && r->IsRadio());
    EXPECT_TRUE(r->GetState());
    Window()->MouseDown(0, 6, 6, false, false);
    Window()->MouseUp(0, 6, 6, false, false);
    EXPECT_EQ(TakeLog(), Log{});
    EXPECT_TRUE(r->UiRelayMessage(KWString("Deselect"), nullptr));
    EXPECT_FALSE(r->GetState());
    EXPECT_EQ(TakeLog(), Log{});
    EXPECT_EQ(Pixel(6, 6), kBlue);
    Window()->MouseDown(0, 6, 6, false, false);
    EXPECT_EQ(TakeLog(), (Log{"ON_TRUE", "ON_STATE 1"}));
}

TEST_F(UiToggle, DisabledCheckBoxIgnoresPressesAndStateCommands)
{
    ASSERT_TRUE(Load(std::string(R"(<VBOX><CHECKBOX Name="G" File_On="on.png" File_Off="off.png"
                                     File_Disabled="grey.png">)") + kEvents + R"(</CHECKBOX>
                     <CHECKBOX Name="P" File_On="on.png" File_Off="off.png" _MinHSize="20" _HStretch="1"/>
                     <CHECKBOX Name="Odd" File_On="on.png" File_Off="wide.png"/>
                     <CHECKBOX Name="NoOff" File_On="on.png"/>
                     <RADIO_BUTTON Name="Lost" File_On="on.png" File_Off="none.png"/>
                     <LOG Name="L"/></VBOX>)"));
    auto* g = Find<KUiCheckbox>("G");
    auto* p = Find<KUiCheckbox>("P");
    ASSERT_TRUE(g && p);
    EXPECT_TRUE(g->UiRelayMessage(KWString("Disable"), nullptr));
    EXPECT_EQ(Pixel(6, 6), (Rgb{128, 128, 128}));
    EXPECT_TRUE(g->UiRelayMessage(KWString("Press"), nullptr));
    Window()->MouseDown(0, 6, 6, false, false);
    EXPECT_TRUE(g->UiRelayMessage(KWString("Select"), nullptr));
    unsigned char on = 1;
    EXPECT_TRUE(g->UiRelayMessage(KWString("SetState"), &on));
    EXPECT_FALSE(g->GetState());
    EXPECT_EQ(TakeLog(), Log{});
    EXPECT_TRUE(g->UiRelayMessage(KWString("SetEnabled"), &on));
    EXPECT_FALSE(g->IsDisabled());
    EXPECT_EQ(Pixel(6, 6), kBlue);
    // Without a disabled picture a disabled box shows its state; a stretching axis takes its room, the picture
    // stays at the top-left.
    EXPECT_TRUE(p->UiRelayMessage(KWString("Disable"), nullptr));
    const KRect r = RectOf(p);
    EXPECT_GE(r.Width(), 20);
    EXPECT_EQ(Pixel(r.left + 6, r.top + 6), kBlue);
    EXPECT_EQ(Pixel(r.left + 15, r.top + 6), kWhite);
    EXPECT_EQ(p->HitTest(r.left + 15, r.top + 6), p);
    for (const char* dropped : {"Odd", "NoOff", "Lost"})
        EXPECT_FALSE(Find(dropped)) << dropped;
}

// ---- Toggle ----

TEST_F(UiToggle, RadioToggleRelaysOnceAndWaitsForOff)
{
    ASSERT_TRUE(Load(R"(<VBOX><TOGGLE Name="T" Type="RadioButton" InitialState="false">
                          <ON File_Image="on.png"/><OFF File_Image="off.png"/>
                          <ONRELAY Relay="T.Main.L" Message="Chosen"/></TOGGLE><LOG Name="L"/></VBOX>)"));
    auto* t = Find<KUiToggle>("T");
    ASSERT_TRUE(t);
    EXPECT_FALSE(t->IsFlipMode());
    EXPECT_EQ(RectOf(t), KRect(0, 0, 12, 12));
    EXPECT_EQ(Pixel(6, 6), kBlue);
    KGenericUiWindow* w = Window();
    w->MouseDown(0, 6, 6, false, false);
    EXPECT_EQ(TakeLog(), Log{"Chosen"});
    EXPECT_EQ(Pixel(6, 6), kGreen);
    w->MouseUp(0, 6, 6, false, false);
    w->MouseDown(0, 6, 6, false, false);
    w->MouseUp(0, 6, 6, false, false);
    EXPECT_EQ(TakeLog(), Log{});
    EXPECT_TRUE(t->UiRelayMessage(KWString("Off"), nullptr));
    EXPECT_EQ(Pixel(6, 6), kBlue);
    EXPECT_EQ(TakeLog(), Log{});
    w->MouseDown(0, 6, 6, false, false);
    EXPECT_EQ(TakeLog(), Log{"Chosen"});
    // The corners of the picture are not the toggle.
    EXPECT_EQ(t->HitTest(0, 0), nullptr);
    EXPECT_EQ(t->HitTest(2, 0), t);
}

TEST_F(UiToggle, FlipToggleSendsNothingAndAPressIsNotRepeatedUntilReleased)
{
    ASSERT_TRUE(Load(R"(<VBOX><TOGGLE Name="T" Type="Checkbox"><ON File_Image="on.png"/><OFF File_Image="wide.png"/>
                          <TEXT DisplayString="S"/><ONRELAY Relay="T.Main.L" Message="Chosen"/></TOGGLE>
                          <TOGGLE Name="NoOff"><ON File_Image="on.png"/></TOGGLE>
                          <LOG Name="L"/></VBOX>)",
                     Fonts() + R"(<DISPLAY_STRING Name="S" AppFont="Plain" BgColor="#FF0000"><English Text="x"/>
                                  </DISPLAY_STRING>)"));
    auto* t = Find<KUiToggle>("T");
    ASSERT_TRUE(t && t->IsFlipMode());
    EXPECT_TRUE(t->GetState());
    EXPECT_FALSE(Find("NoOff"));
    KGenericUiWindow* w = Window();
    // The label sits at the top-left, over the picture.
    EXPECT_EQ(Pixel(0, 0), kRed);
    EXPECT_EQ(Pixel(9, 9), kGreen);
    w->MouseDown(0, 6, 6, false, false);
    EXPECT_FALSE(t->GetState());
    EXPECT_TRUE(t->MouseDown(6, 6, false, false));
    EXPECT_FALSE(t->GetState());
    w->MouseUp(0, 6, 6, false, false);
    EXPECT_EQ(Pixel(9, 9), kRed);
    w->MouseDown(0, 6, 6, false, false);
    EXPECT_TRUE(t->GetState());
    EXPECT_EQ(TakeLog(), Log{});
    EXPECT_TRUE(t->UiRelayMessage(KWString("On"), nullptr));
    EXPECT_FALSE(t->UiRelayMessage(KWString("Press"), nullptr));
}

TEST_F(UiToggle, ARelayToNothingFailsTheConnection)
{
    ASSERT_TRUE(Load(R"(<VBOX><TOGGLE Name="T" Type="Tab" InitialState="false"><ON File_Image="on.png"/>
                          <OFF File_Image="off.png"/><ONRELAY Relay="T.Main.Nobody" Message="Chosen"/></TOGGLE></VBOX>)"));
    auto* t = Find<KUiToggle>("T");
    ASSERT_TRUE(t);
    EXPECT_FALSE(t->PostCreationConnect());
    // Pressed, it turns on and sends nothing anywhere.
    Window()->MouseDown(0, 6, 6, false, false);
    EXPECT_TRUE(t->GetState());
}

// ---- Image frame ----

TEST_F(UiImageFrame, CornersKeepTheirPixelsAndBarePartsAreNotHit)
{
    // 24 x 24: 8-pixel corners red, edges green, centre blue; the inside rectangle is the centre.
    Picture("frame.png", 24, 24, [](int32_t x, int32_t y) {
        const bool midX = x >= 8 && x < 16, midY = y >= 8 && y < 16;
        if (midX && midY)
            return Rgba{0, 0, 255, 255};
        return midX || midY ? Rgba{0, 255, 0, 255} : Rgba{255, 0, 0, 255};
    });
    ASSERT_TRUE(Load(R"(<VBOX Name="Col">
        <IMAGE_FRAME Name="F" File_Image="frame.png" InsideRect="8, 8, 15, 15" HStretch="1" VStretch="1"
                     MinHSize="48" MinVSize="48"><ON_PRESS LocalRelay="Col.L" Message="Pressed"/>
          <HBOX><RECT Name="In" MinHSize="4" MinVSize="4" HStretch="0" VStretch="0" Color="#FFFF00"/></HBOX>
        </IMAGE_FRAME>
        <IMAGE_FRAME Name="Fixed" File_Image="frame.png" InsideRect="8, 8, 15, 15" _NoScale="1" MinHSize="100"
                     HStretch="1" _Clickable="1"><ON_PRESS LocalRelay="Col.L" Message="Clicked"/></IMAGE_FRAME>
        <IMAGE_FRAME Name="Outside" File_Image="frame.png" InsideRect="8, 8, 24, 15"/>
        <IMAGE_FRAME Name="BadLayout" File_Image="frame.png" InsideRect="8, 8, 15, 15" _LayoutRect="9, 9, 3, 3"/>
        <IMAGE_FRAME Name="NoInside" File_Image="frame.png"/>
        <IMAGE_FRAME Name="NoImage" InsideRect="8, 8, 15, 15"/>
        <LOG Name="L"/></VBOX>)"));
    auto* f = Find<KUiImageFrame>("Col.F");
    ASSERT_TRUE(f);
    Resize(100, 72);
    EXPECT_EQ(RectOf(f), KRect(0, 0, 100, 48));
    // Each corner keeps its 8 x 8 red pixels at twice the size and more.
    for (const auto& [x, y] : {std::pair{0, 0}, {7, 7}, {92, 0}, {99, 7}, {0, 40}, {7, 47}, {92, 40}, {99, 47}})
        EXPECT_EQ(Pixel(x, y), kRed) << x << "," << y;
    EXPECT_EQ(Pixel(8, 0), kGreen);
    EXPECT_EQ(Pixel(91, 7), kGreen);
    EXPECT_EQ(Pixel(50, 30), kBlue);
    // The box sits in the layout region (the inside rectangle), drawn over the frame.
    EXPECT_EQ(RectOf(Find("Col.F.In")), KRect(8, 8, 12, 12));
    EXPECT_EQ(Pixel(9, 9), (Rgb{255, 255, 0}));
    // Not clickable: a bare part hits nothing, the box is hit through it; a press is relayed, never taken.
    EXPECT_EQ(f->HitTest(50, 30), nullptr);
    EXPECT_EQ(f->HitTest(9, 9), Find("Col.F.In"));
    EXPECT_FALSE(f->MouseDown(9, 9, false, false));
    EXPECT_EQ(TakeLog(), Log{"Pressed"});

    // _NoScale keeps the picture's size in a box that stretches it; clickable, it is hit everywhere.
    auto* fixed = Find<KUiImageFrame>("Col.Fixed");
    ASSERT_TRUE(fixed);
    EXPECT_EQ(RectOf(fixed), KRect(0, 48, 24, 72));
    EXPECT_EQ(fixed->HitTest(12, 60), fixed);
    Window()->MouseDown(0, 12, 60, false, false);
    EXPECT_EQ(TakeLog(), Log{"Clicked"});
    EXPECT_EQ(Pixel(30, 60), kWhite);
    for (const char* dropped : {"Col.Outside", "Col.BadLayout", "Col.NoInside", "Col.NoImage"})
        EXPECT_FALSE(Find(dropped)) << dropped;

    EXPECT_TRUE(f->UiRelayMessage(KWString("Hide"), nullptr));
    EXPECT_EQ(Pixel(0, 0), kWhite);
    EXPECT_EQ(Pixel(9, 9), kWhite);
    EXPECT_TRUE(f->UiRelayMessage(KWString("Show"), nullptr));
    EXPECT_TRUE(f->UiRelayMessage(KWString("Redraw"), nullptr));
    EXPECT_EQ(Pixel(0, 0), kRed);
    EXPECT_FALSE(f->UiRelayMessage(KWString("SetColor"), nullptr));
}
