// The generic controls of the layout and plain drawing on the headless backend: box layout, spacer and
// sliding divider, rectangle, frame and lines, and the shared colour parser.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "KGenericUiApp.h"
#include "KGenericUiWindow.h"
#include "KIUiPixmap.h"
#include "KStorage.h"
#include "KUiControl.h"
#include "KUiFrame.h"
#include "KUiHVBox.h"
#include "KUiObjectFactory.h"
#include "KUiRect.h"
#include "KUiSpacer.h"
#include "LumoStorageFixture.h"
#include "LumoTestSupport.h"
#include "PlatformShell.h"
#include "PlatformWindow.h"

namespace {

using Rgb = std::array<int, 3>;

class UiControls : public lumotest::StorageFixture {
protected:
    void SetUp() override
    {
        StorageFixture::SetUp();
        setenv("LUMO_UI", "headless", 1);
        std::string error;
        ASSERT_TRUE(PlatUiStart(error)) << error;
        std::string appData;
        ASSERT_TRUE(PlatGetSpecialFolderPath(PLAT_CSIDL_APPDATA, appData, true));
    }
    void TearDown() override
    {
        m_App.reset();
        StorageFixture::TearDown();
    }
    // Loads a script of one window "T.Main" with a white background around body.
    bool Load(const std::string& body, const std::string& head = "")
    {
        lumotest::WriteText(Root() / "ui.xml", "<APP Name=\"T\">" + head + R"(<WINDOW Name="Main" BgColor="#FFFFFF">)" +
                                                   body + "</WINDOW></APP>");
        m_App.reset(CreateGenericUiApp());
        KWString leaf;
        KIFolder* folder = OpenFolderByURL(RootURL(), leaf, false);
        bool running = false;
        return m_App->LoadUiScript(folder, KWString("ui.xml"), running);
    }
    KGenericUiWindow* Window() { return static_cast<KGenericUiWindow*>(m_App->GetFirstWindow()); }
    PlatHWND Handle() { return *static_cast<PlatHWND*>(Window()->GetAttribute(1)); }
    // The object at the dotted path below the window ("Row.A").
    template <class T = KIUiObject>
    T* Find(const std::string& path)
    {
        return dynamic_cast<T*>(m_App->GetUiRelay(KWString(("T.Main." + path).c_str())));
    }
    // Client size as a user would set it, then the redraw that follows.
    void Resize(int32_t width, int32_t height)
    {
        ASSERT_TRUE(PlatSetWindowPos(Handle(), 0, 0, width, height, PLAT_SWP_NOMOVE | PLAT_SWP_NOZORDER));
        Window()->RedrawIfDirty();
    }
    Rgb Pixel(int32_t x, int32_t y)
    {
        Window()->RedrawIfDirty();
        int32_t w = 0, h = 0;
        const uint8_t* p = PlatGetWindowPixels(Handle(), w, h);
        if (!p || x < 0 || y < 0 || x >= w || y >= h)
            return {-1, -1, -1};
        const uint8_t* q = p + (static_cast<size_t>(y) * w + x) * 4;
        return {q[2], q[1], q[0]};
    }
    static KRect RectOf(KIUiObject* o) { return o ? *o->GetRect() : KRect(-1, -1, -1, -1); }
    static int32_t Width(KIUiObject* o) { return o ? o->GetRect()->Width() : -1; }
    static int32_t Height(KIUiObject* o) { return o ? o->GetRect()->Height() : -1; }

    std::unique_ptr<KGenericUiApp> m_App;
};

// The layout cases of the box.
class UiBoxLayout : public UiControls {};

const Rgb kWhite{255, 255, 255};
const Rgb kRed{255, 0, 0};
const Rgb kGreen{0, 255, 0};
const Rgb kBlue{0, 0, 255};

std::string Rect(const std::string& name, int minH, int minV, int hs, int vs, const std::string& colour = "#FF0000")
{
    return "<RECT Name=\"" + name + "\" MinHSize=\"" + std::to_string(minH) + "\" MinVSize=\"" + std::to_string(minV) +
           "\" HStretch=\"" + std::to_string(hs) + "\" VStretch=\"" + std::to_string(vs) + "\" Color=\"" + colour +
           "\"/>";
}

}  // namespace

// ---- Box layout ----

TEST(UiColorParser, CommandColoursUseThePropertyTreeSyntax)
{
    const struct {
        const char* text;
        bool ok;
        KUiColor colour;
    } cases[] = {
        {"#FF0000", true, {255, 0, 0, 255}},   {"#FF000080", true, {255, 0, 0, 128}},
        {"#0A1B2C", true, {10, 27, 44, 255}},  {"#ff0000", false, {}},
        {"#FF00F", false, {}},                 {"FF0000", false, {}},
        {"#FF0000800", false, {}},             {"#GG0000", false, {}},
        {"", false, {}},                       {"#FF 000", false, {}},
    };
    for (const auto& c : cases) {
        KUiColor out(1, 2, 3, 4);
        EXPECT_EQ(ParseUiColor(KWString(c.text), out), c.ok) << c.text;
        EXPECT_EQ(out, c.ok ? c.colour : KUiColor(1, 2, 3, 4)) << c.text;
    }
}

TEST_F(UiBoxLayout, StretchSharesRoundToTheLastChild)
{
    ASSERT_TRUE(Load("<HBOX Name=\"Row\">" + Rect("A", 0, 10, 1, 1, "#FF0000") + Rect("B", 0, 10, 1, 1, "#00FF00") +
                     Rect("C", 0, 10, 2, 1, "#0000FF") + "</HBOX>"));
    Resize(101, 10);
    EXPECT_EQ(Width(Find("Row.A")), 25);
    EXPECT_EQ(Width(Find("Row.B")), 25);
    EXPECT_EQ(Width(Find("Row.C")), 51);
    EXPECT_EQ(RectOf(Find("Row.C")), KRect(50, 0, 101, 10));
    // The pixels change colour at the borders.
    EXPECT_EQ(Pixel(24, 5), kRed);
    EXPECT_EQ(Pixel(25, 5), kGreen);
    EXPECT_EQ(Pixel(49, 5), kGreen);
    EXPECT_EQ(Pixel(50, 5), kBlue);
    EXPECT_EQ(Pixel(100, 5), kBlue);
}

TEST_F(UiBoxLayout, MinimumAboveItsShareIsAssignedFirstAndTheOthersShareTheRest)
{
    ASSERT_TRUE(Load("<HBOX Name=\"Row\">" + Rect("A", 60, 10, 1, 1) + Rect("B", 0, 10, 1, 1) + Rect("C", 0, 10, 2, 1) +
                     "</HBOX>"));
    Resize(100, 10);
    // A's share would be 25: it takes its 60; B and C share 40 by 1:2 (333 and 666 per mille).
    EXPECT_EQ(Width(Find("Row.A")), 60);
    EXPECT_EQ(Width(Find("Row.B")), 13);
    EXPECT_EQ(Width(Find("Row.C")), 27);
    EXPECT_EQ(RectOf(Find("Row.C")).right, 100);
}

TEST_F(UiBoxLayout, ZeroStretchUnfixedChildrenShareEquallyAndCapsLimit)
{
    // Each inner box holds only fixed children: it is not fixed but has stretch 0.
    ASSERT_TRUE(Load("<HBOX Name=\"Row\"><HBOX Name=\"A\">" + Rect("", 10, 10, 0, 0) + "</HBOX><HBOX Name=\"B\">" +
                     Rect("", 10, 10, 0, 0) + "</HBOX><HBOX Name=\"C\">" + Rect("", 10, 10, 0, 0) + "</HBOX></HBOX>"));
    EXPECT_EQ(Find("Row.A")->GetLayout(true)->GetStretch(), 0);
    Resize(100, 10);
    EXPECT_EQ(Width(Find("Row.A")), 33);
    EXPECT_EQ(Width(Find("Row.B")), 33);
    EXPECT_EQ(Width(Find("Row.C")), 34);

    // A cap below the share is taken in a pass of its own.
    KIUiObject* row = Find("Row");
    Find("Row.B")->GetLayout(true)->SetCap(20);
    ASSERT_TRUE(row->SetRect(0, 0, 100, 10));
    EXPECT_EQ(Width(Find("Row.A")), 40);
    EXPECT_EQ(Width(Find("Row.B")), 20);
    EXPECT_EQ(Width(Find("Row.C")), 40);
}

TEST_F(UiBoxLayout, FixedChildrenLeaveTheRestEmptyAfterTheLast)
{
    ASSERT_TRUE(Load("<VBOX><HBOX Name=\"Row\">" + Rect("A", 20, 10, 0, 0) + Rect("B", 30, 10, 0, 0, "#00FF00") +
                     "</HBOX>" + Rect("Wide", 100, 5, 0, 0, "#0000FF") + "</VBOX>"));
    KIUiObject* row = Find("Row");
    EXPECT_EQ(row->GetLayout(true)->GetStretch(), 0);
    EXPECT_EQ(row->GetLayout(true)->GetMinimumSize(), 50);
    EXPECT_EQ(RectOf(Find("Row.A")), KRect(0, 0, 20, 10));
    EXPECT_EQ(RectOf(Find("Row.B")), KRect(20, 0, 50, 10));
    EXPECT_EQ(Width(row), 100);
    EXPECT_EQ(Pixel(49, 5), kGreen);
    EXPECT_EQ(Pixel(50, 5), kWhite);
    EXPECT_EQ(Pixel(99, 5), kWhite);
    EXPECT_EQ(Pixel(99, 12), kBlue);
    // Below the minimum, or fixed children that do not fit: refused, nothing moves.
    EXPECT_FALSE(row->SetRect(0, 0, 49, 10));
    EXPECT_EQ(RectOf(row), KRect(0, 0, 100, 10));
}

TEST_F(UiBoxLayout, CrossAxisIsNeverDistributed)
{
    ASSERT_TRUE(Load("<VBOX Name=\"Col\">" + Rect("A", 10, 10, 1, 0) + Rect("B", 40, 10, 0, 0) + "</VBOX>"));
    KIUiObject* col = Find("Col");
    EXPECT_EQ(col->GetLayout(true)->GetMinimumSize(), 40);
    EXPECT_EQ(col->GetLayout(false)->GetMinimumSize(), 20);
    // A stretches across; B is fixed at its 40 whatever room the box has.
    Resize(90, 20);
    EXPECT_EQ(RectOf(Find("Col.A")), KRect(0, 0, 90, 10));
    EXPECT_EQ(RectOf(Find("Col.B")), KRect(0, 10, 40, 20));
}

TEST_F(UiBoxLayout, EmptyBoxAndUnknownOrFailingChildren)
{
    ASSERT_TRUE(Load(R"(<VBOX Name="Col"><HBOX Name="Empty"/><NOSUCH/><RECT MinHSize="5"/></VBOX>)"));
    KIUiObject* empty = Find("Col.Empty");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->GetLayout(true)->GetMinimumSize(), 0);
    EXPECT_EQ(empty->GetLayout(false)->GetMinimumSize(), 0);
    EXPECT_EQ(empty->GetLayout(true)->GetStretch(), 0);
    EXPECT_TRUE(empty->SetRect(3, 4, 5, 6));
    EXPECT_EQ(RectOf(empty), KRect(3, 4, 8, 10));
    // The unknown element and the RECT without its keys are left out.
    EXPECT_EQ(empty->GetNext(), nullptr);
}

TEST_F(UiBoxLayout, DefaultsAndNames)
{
    ASSERT_TRUE(Load("<VBOX Name=\"Col\"><HBOX Name=\"Row\">" + Rect("A", 0, 0, 1, 1) + "</HBOX><HBOX>" +
                     Rect("B", 0, 0, 1, 1) + "</HBOX></VBOX>"));
    KIUiObject* row = Find("Row") ? nullptr : Find("Col.Row");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->GetLayout(true)->GetStretch(), 100);
    EXPECT_EQ(row->GetLayout(false)->GetStretch(), 0);
    KIUiObject* col = Find("Col");
    EXPECT_EQ(col->GetLayout(false)->GetStretch(), 1000);
    EXPECT_EQ(col->GetLayout(true)->GetStretch(), 0);
    // An unnamed box passes names through; a named one only below its name.
    EXPECT_TRUE(Find("Col.B"));
    EXPECT_FALSE(Find("Col.Row.B"));
    EXPECT_TRUE(Find("Col.Row.A"));
    EXPECT_FALSE(Find("Col.A"));
    EXPECT_TRUE(row->IsHBox());
    EXPECT_FALSE(row->IsVBox());
    EXPECT_TRUE(col->IsVBox());
}

TEST_F(UiBoxLayout, CollapseCommands)
{
    ASSERT_TRUE(Load("<VBOX>" + Rect("Top", 50, 10, 0, 0, "#00FF00") + "<HBOX Name=\"Row\">" + Rect("A", 50, 30, 0, 0) +
                     "</HBOX></VBOX>"));
    auto* row = Find<KUiHVBox>("Row");
    ASSERT_TRUE(row);
    Resize(50, 40);
    EXPECT_EQ(Pixel(5, 20), kRed);
    EXPECT_TRUE(row->UiRelayMessage(KWString("HideChildren"), nullptr));
    EXPECT_TRUE(row->IsCollapsed());
    EXPECT_EQ(row->GetLayout(false)->GetMinimumSize(), 0);
    KRect r;
    Window()->GetWindowRect(r);
    EXPECT_EQ(r.Height(), 10);
    EXPECT_EQ(row->HitTest(5, 5), nullptr);
    // A second hide changes nothing; toggling opens; Visibility without data does nothing.
    EXPECT_TRUE(row->UiRelayMessage(KWString("HideChildren"), nullptr));
    EXPECT_TRUE(row->IsCollapsed());
    EXPECT_TRUE(row->UiRelayMessage(KWString("Visibility"), nullptr));
    EXPECT_TRUE(row->IsCollapsed());
    EXPECT_TRUE(row->UiRelayMessage(KWString("ToggleChildren"), nullptr));
    EXPECT_FALSE(row->IsCollapsed());
    EXPECT_EQ(row->GetLayout(false)->GetMinimumSize(), 30);
    Window()->GetWindowRect(r);
    EXPECT_EQ(r.Height(), 40);
    bool hidden = false;
    EXPECT_TRUE(row->UiRelayMessage(KWString("Visibility"), &hidden));
    EXPECT_TRUE(row->IsCollapsed());
    EXPECT_TRUE(row->UiRelayMessage(KWString("NoSuchCommand"), nullptr));
}

TEST_F(UiBoxLayout, HostileNumbersNeitherOverflowNorCrash)
{
    // Stretches near 2^31 share in 64 bits; negative ones count as 0.
    ASSERT_TRUE(Load("<HBOX Name=\"Row\">" + Rect("A", 0, 5, 2147483647, 0) + Rect("B", 0, 5, 2147483647, 0) +
                     Rect("C", -50, 5, -7, 0) + "</HBOX>"));
    Resize(100, 5);
    EXPECT_EQ(Find("Row.C")->GetLayout(true)->GetStretch(), 0);
    EXPECT_EQ(Find("Row.C")->GetLayout(true)->GetMinimumSize(), 0);
    EXPECT_EQ(Width(Find("Row.A")), 50);
    EXPECT_EQ(Width(Find("Row.B")), 50);
    EXPECT_EQ(Width(Find("Row.C")), 0);
    // A minimum beyond any window is the script error it reports, and a malformed colour drops its RECT.
    EXPECT_THROW(Load("<VBOX>" + Rect("Huge", 999999999, 5, -7, 0, "#zz") + Rect("Big", 999999999, 5, -7, 0) +
                      "</VBOX>"),
                 KException);
    ASSERT_TRUE(Load("<VBOX Name=\"Col\">" + Rect("Bad", 5, 5, 0, 0, "#zz") + Rect("Ok", 5, 5, 0, 0) + "</VBOX>"));
    EXPECT_FALSE(Find("Col.Bad"));
    EXPECT_TRUE(Find("Col.Ok"));
}

TEST_F(UiControls, ARegisteredKeywordKeepsItsFirstCreator)
{
    ASSERT_TRUE(Load(""));
    int32_t registered = 0, created = 0, after = 0;
    m_App->GetFactory()->GetCounts(registered, created);
    EXPECT_FALSE(KUiHVBox::RegisterCreator(m_App->GetFactory()));
    EXPECT_FALSE(RegisterGenericControls(m_App->GetFactory()));
    m_App->GetFactory()->GetCounts(after, created);
    EXPECT_EQ(after, registered);
}

// ---- Spacer and sliding divider ----

TEST_F(UiControls, SpacerIsAFixedGapAlongItsBoxOnly)
{
    ASSERT_TRUE(Load("<VBOX Name=\"Col\"><HBOX Name=\"Row\">" + Rect("A", 10, 10, 0, 0) +
                     R"(<SPACER Name="S" MinSize="10" Stretch="0"/>)" + Rect("B", 10, 10, 0, 0) + "</HBOX>" +
                     R"(<SPACER Name="V" MinSize="10" Stretch="0"/>)" + Rect("C", 30, 10, 0, 0) + "</VBOX>"));
    EXPECT_EQ(RectOf(Find("Col.Row.S")), KRect(10, 0, 20, 10));
    EXPECT_EQ(RectOf(Find("Col.Row.B")), KRect(20, 0, 30, 10));
    EXPECT_EQ(Height(Find("Col.V")), 10);
    EXPECT_EQ(RectOf(Find("Col.C")), KRect(0, 20, 30, 30));
    EXPECT_EQ(Pixel(15, 5), kWhite);
    EXPECT_EQ(Pixel(5, 15), kWhite);
}

TEST_F(UiControls, SpacerOutsideABoxOrWithoutStretchIsNotCreated)
{
    ASSERT_TRUE(Load(R"(<VBOX Name="Col"><SPACER Name="NoStretch" MinSize="4"/><SPACER Name="Ok" Stretch="1"/>
                        <RECT Name="R" MinHSize="5" MinVSize="5" HStretch="1" VStretch="1" Color="#FF0000">
                        </RECT></VBOX>)"));
    EXPECT_FALSE(Find("Col.NoStretch"));
    EXPECT_TRUE(Find("Col.Ok"));
    ASSERT_TRUE(Load(R"(<SPACER Name="Top" Stretch="1"/>)"));
    EXPECT_FALSE(Find("Top"));
}

TEST_F(UiControls, DividerMovesRoomBetweenItsNeighboursInPixels)
{
    // 334 and 666 per mille of 300 pixels: panes of 100 and 200.
    ASSERT_TRUE(Load("<HBOX Name=\"Row\">" + Rect("L", 0, 20, 334, 1) +
                     R"(<SPACER Name="D" _SlidingDivider="1" MinSize="4" Stretch="0"/>)" +
                     Rect("R", 0, 20, 666, 1, "#0000FF") + "</HBOX>"));
    Resize(304, 20);
    KIUiObject* left = Find("Row.L");
    KIUiObject* right = Find("Row.R");
    auto* divider = Find<KUiSpacer>("Row.D");
    ASSERT_TRUE(divider);
    EXPECT_EQ(Width(left), 100);
    EXPECT_EQ(Width(right), 200);
    EXPECT_EQ(divider->HitTest(101, 5), divider);
    EXPECT_TRUE(divider->MouseDown(101, 5, false, false));
    EXPECT_EQ(left->GetLayout(true)->GetStretch(), 100);
    EXPECT_EQ(right->GetLayout(true)->GetStretch(), 200);
    divider->MouseMove(116, 5);
    divider->MouseUp(116, 5, false, false);
    EXPECT_FALSE(divider->IsDragging());
    EXPECT_EQ(left->GetLayout(true)->GetStretch(), 115);
    EXPECT_EQ(right->GetLayout(true)->GetStretch(), 185);
    // Shares are per mille of the room: 115 of 300 is 383, 114 pixels; the last pane takes the rest.
    EXPECT_EQ(Width(left), 114);
    EXPECT_EQ(Width(right), 186);
    EXPECT_EQ(Pixel(113, 5), kRed);
    EXPECT_EQ(Pixel(118, 5), kBlue);

    // Past the right pane's width its stretch stops at 0 while the left one keeps growing.
    EXPECT_TRUE(divider->MouseDown(116, 5, false, false));
    divider->MouseMove(316, 5);
    divider->MouseMove(356, 5);
    divider->MouseUp(356, 5, false, false);
    EXPECT_EQ(right->GetLayout(true)->GetStretch(), 0);
    EXPECT_EQ(left->GetLayout(true)->GetStretch(), 354);
    EXPECT_EQ(Width(left), 300);
    EXPECT_EQ(Width(right), 0);
}

TEST_F(UiControls, DividerWithoutTwoNeighboursOrPlainSpacerDoesNothing)
{
    ASSERT_TRUE(Load(R"(<HBOX Name="Row"><SPACER Name="First" _SlidingDivider="1" MinSize="4" Stretch="0"/>)" +
                     Rect("L", 0, 20, 1, 1) + R"(<SPACER Name="Plain" MinSize="4" Stretch="0"/>)" +
                     Rect("R", 0, 20, 1, 1) + R"(<SPACER Name="Last" _SlidingDivider="1" MinSize="4" Stretch="0"/>)" +
                     "</HBOX>"));
    Resize(112, 20);
    for (const char* name : {"Row.First", "Row.Plain", "Row.Last"}) {
        auto* s = Find<KUiSpacer>(name);
        ASSERT_TRUE(s) << name;
        EXPECT_FALSE(s->MouseDown(s->GetRect()->left, 5, false, false)) << name;
        s->MouseMove(s->GetRect()->left + 30, 5);
        s->MouseUp(s->GetRect()->left + 30, 5, false, false);
        s->MouseEnter(s->GetRect()->left, 5);
    }
    EXPECT_EQ(Find("Row.L")->GetLayout(true)->GetStretch(), 1);
    EXPECT_EQ(Width(Find("Row.L")), 50);
}

// ---- Rectangle, frame and lines ----

TEST_F(UiControls, RectangleHoldsOneBoxAndRefusesAFixedAxisTooSmall)
{
    ASSERT_TRUE(Load(R"(<VBOX Name="Col">
        <RECT Name="Grow" MinHSize="5" MinVSize="5" HStretch="1" VStretch="0" Color="#0000FF">
          <TEXT/><VBOX Name="In"><RECT Name="Inner" MinHSize="30" MinVSize="5" HStretch="0" VStretch="0"
                                        Color="#FF0000"/></VBOX><HBOX Name="Second"/></RECT>
        <RECT Name="TooSmall" MinHSize="5" MinVSize="5" HStretch="0" VStretch="0" Color="#00FF00">
          <HBOX><RECT MinHSize="30" MinVSize="5" HStretch="0" VStretch="0" Color="#FF0000"/></HBOX></RECT>
        </VBOX>)"));
    auto* grow = Find<KUiRect>("Col.Grow");
    ASSERT_TRUE(grow);
    EXPECT_FALSE(Find("Col.TooSmall"));
    EXPECT_EQ(grow->GetLayout(true)->GetMinimumSize(), 30);
    EXPECT_TRUE(Find("Col.Grow.In.Inner"));
    EXPECT_FALSE(Find("Col.Grow.Second"));
    Resize(40, 5);
    EXPECT_EQ(RectOf(grow), KRect(0, 0, 40, 5));
    EXPECT_EQ(Pixel(29, 2), kRed);
    EXPECT_EQ(Pixel(30, 2), kBlue);
    EXPECT_EQ(grow->HitTest(35, 2), grow);
    EXPECT_EQ(grow->HitTest(40, 2), nullptr);
    EXPECT_EQ(grow->HitTest(5, 2), Find("Col.Grow.In.Inner"));
    // SetColor: a bad colour changes nothing; every message is handled.
    KWString bad("#00ff00"), good("#00FF00");
    EXPECT_TRUE(grow->UiRelayMessage(KWString("SetColor"), &bad));
    EXPECT_EQ(grow->GetColor(), KUiColor(0, 0, 255, 255));
    EXPECT_TRUE(grow->UiRelayMessage(KWString("SetColor"), &good));
    EXPECT_EQ(Pixel(35, 2), kGreen);
    EXPECT_TRUE(grow->UiRelayMessage(KWString("SetColor"), nullptr));
}

TEST_F(UiControls, FrameWithCaptionPlacesItsContentAndLeavesGapsBesideTheCaption)
{
    ASSERT_TRUE(Load(R"(<VBOX><FRAME Name="F" MinHSize="0" MinVSize="0" HStretch="0" VStretch="0"
                           FrameColor="#000080" FrameThickness="2">
          <TEXT DisplayString="Cap" _MinHSize="20" _MinVSize="10"/>
          <VBOX><RECT Name="In" MinHSize="40" MinVSize="20" HStretch="0" VStretch="0" Color="#00FF00"/></VBOX>
        </FRAME></VBOX>)",
                     R"(<FONTS><APPFONT Name="Plain"><MSWFONT><English Fontname="DejaVu Sans" Height="8"/></MSWFONT>
                        </APPFONT></FONTS><DISPLAY_STRING Name="Cap" AppFont="Plain"><English Text="a"/>
                        </DISPLAY_STRING>)"));
    auto* frame = Find<KUiFrame>("F");
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->GetCaptionTop(), 10);
    EXPECT_EQ(frame->GetMargin(), 3);
    EXPECT_EQ(frame->GetCaptionLeft(), 7);
    // Content 5 in from the left, 10 down; width 40 + 2 x 5, height 10 + 3 + 2 + 20.
    EXPECT_EQ(RectOf(Find("F.In")), KRect(5, 10, 45, 30));
    EXPECT_EQ(RectOf(frame), KRect(0, 0, 50, 35));
    const Rgb navy{0, 0, 128};
    // The top band passes through the caption's middle (row 5 and 6), with 2-pixel gaps beside the caption.
    EXPECT_EQ(Pixel(0, 5), navy);
    EXPECT_EQ(Pixel(4, 6), navy);
    EXPECT_EQ(Pixel(5, 5), kWhite);
    EXPECT_EQ(Pixel(6, 6), kWhite);
    EXPECT_EQ(Pixel(27, 5), kWhite);
    EXPECT_EQ(Pixel(28, 6), kWhite);
    EXPECT_EQ(Pixel(29, 5), navy);
    EXPECT_EQ(Pixel(49, 6), navy);
    EXPECT_EQ(Pixel(0, 4), kWhite);
    EXPECT_EQ(Pixel(10, 7), kWhite);
    // Left, right and bottom bands; the 3-pixel margin inside is window background.
    EXPECT_EQ(Pixel(1, 20), navy);
    EXPECT_EQ(Pixel(2, 20), kWhite);
    EXPECT_EQ(Pixel(48, 20), navy);
    EXPECT_EQ(Pixel(20, 34), navy);
    EXPECT_EQ(Pixel(20, 32), kWhite);
    EXPECT_EQ(Pixel(5, 10), kGreen);
    EXPECT_EQ(Pixel(4, 10), kWhite);
}

TEST_F(UiControls, FrameGeometryTableAndCommands)
{
    ASSERT_TRUE(Load(R"(<VBOX Name="Col">
        <FRAME Name="Thin" MinHSize="0" MinVSize="0" HStretch="0" VStretch="0" FrameColor="#000000"
               FrameThickness="4"><TEXT DisplayString="Empty" _MinHSize="6" _MinVSize="3"/></FRAME>
        <FRAME Name="Plain" MinHSize="0" MinVSize="0" HStretch="0" VStretch="0" FrameColor="#FF0000"
               FrameThickness="3"/>
        <FRAME Name="Big" MinHSize="60" MinVSize="0" HStretch="0" VStretch="0" FrameColor="#FF0000"
               FrameThickness="1"><HBOX><RECT MinHSize="5" MinVSize="5" HStretch="0" VStretch="0" Color="#00FF00"/>
               </HBOX></FRAME>
        <FRAME Name="NoColour" MinHSize="0" MinVSize="0" HStretch="0" VStretch="0" FrameColor="#zz"
               FrameThickness="1"/>
        <FRAME Name="NoThickness" MinHSize="0" MinVSize="0" HStretch="0" VStretch="0" FrameColor="#000000"/>
        </VBOX>)",
                     // An empty text: the caption is exactly its "_MinHSize" x "_MinVSize".
                     R"(<FONTS><APPFONT Name="Plain"><MSWFONT><English Fontname="DejaVu Sans" Height="8"/></MSWFONT>
                        </APPFONT></FONTS><DISPLAY_STRING Name="Empty" AppFont="Plain"><English Text=""/>
                        </DISPLAY_STRING>)"));
    auto* thin = Find<KUiFrame>("Col.Thin");
    ASSERT_TRUE(thin);
    EXPECT_EQ(thin->GetCaptionTop(), 5);
    EXPECT_EQ(thin->GetMargin(), 0);
    // Without content the content counts 1 x 1.
    EXPECT_EQ(thin->GetLayout(true)->GetMinimumSize(), 6 + 2 * (0 + 4 + 1));
    EXPECT_EQ(thin->GetLayout(false)->GetMinimumSize(), 5 + 0 + 4 + 1);
    auto* plain = Find<KUiFrame>("Col.Plain");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->GetLayout(true)->GetMinimumSize(), 7);
    EXPECT_EQ(plain->HitTest(plain->GetRect()->left + 1, plain->GetRect()->top + 1), nullptr);
    auto* big = Find<KUiFrame>("Col.Big");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->GetLayout(true)->GetMinimumSize(), 60);
    EXPECT_FALSE(Find("Col.NoColour"));
    EXPECT_FALSE(Find("Col.NoThickness"));

    // Hide and Show; SetColor fills the inside.
    const int32_t y = plain->GetRect()->top;
    EXPECT_EQ(Pixel(0, y), kRed);
    EXPECT_TRUE(plain->UiRelayMessage(KWString("Hide"), nullptr));
    EXPECT_FALSE(plain->IsVisible());
    EXPECT_EQ(Pixel(0, y), kWhite);
    EXPECT_TRUE(plain->UiRelayMessage(KWString("Show"), nullptr));
    KWString blue("#0000FF");
    EXPECT_TRUE(plain->UiRelayMessage(KWString("SetColor"), &blue));
    EXPECT_EQ(Pixel(0, y), kRed);
    EXPECT_EQ(Pixel(3, y + 3), kBlue);
    EXPECT_TRUE(plain->UiRelayMessage(KWString("Whatever"), nullptr));
}

TEST_F(UiControls, ClickableFrameFiresItsPressOnceAndLeavesThePressUntaken)
{
    ASSERT_TRUE(Load(R"(<VBOX Name="Col">
        <FRAME Name="F" MinHSize="20" MinVSize="20" HStretch="0" VStretch="0" FrameColor="#000000"
               FrameThickness="1" _Clickable="1"><ON_PRESS LocalRelay="Col.Row" Message="ToggleChildren"/></FRAME>
        <HBOX Name="Row"><RECT MinHSize="5" MinVSize="5" HStretch="0" VStretch="0" Color="#00FF00"/></HBOX>
        </VBOX>)"));
    auto* frame = Find<KUiFrame>("Col.F");
    auto* row = Find<KUiHVBox>("Col.Row");
    ASSERT_TRUE(frame && row);
    EXPECT_EQ(frame->HitTest(5, 5), frame);
    // Relayed once per press: one toggle collapses, a second opens again.
    EXPECT_FALSE(frame->MouseDown(5, 5, false, false));
    EXPECT_TRUE(row->IsCollapsed());
    EXPECT_FALSE(frame->MouseDown(5, 5, false, false));
    EXPECT_FALSE(row->IsCollapsed());
}

TEST_F(UiControls, LinesTakeOnePixelAcrossTheirBox)
{
    ASSERT_TRUE(Load("<VBOX Name=\"Col\">" + Rect("A", 30, 10, 0, 0) +
                     R"(<HLINE Name="H" MinHSize="10" HStretch="1" Color="#0000FF"/>)" + Rect("B", 30, 10, 0, 0) +
                     R"(<HBOX Name="Row"><VLINE Name="V" MinVSize="4" VStretch="1" Color="#00FF00"/></HBOX>
                        <HLINE Name="NoColour" MinHSize="10" HStretch="1"/><VLINE Name="NoStretch" MinVSize="3"
                        Color="#000000"/></VBOX>)"));
    KIUiObject* h = Find("Col.H");
    ASSERT_TRUE(h);
    EXPECT_EQ(RectOf(h), KRect(0, 10, 30, 11));
    EXPECT_EQ(RectOf(Find("Col.B")), KRect(0, 11, 30, 21));
    EXPECT_EQ(Pixel(15, 10), kBlue);
    EXPECT_EQ(Pixel(15, 11), kRed);
    EXPECT_EQ(h->HitTest(15, 10), nullptr);
    KIUiObject* v = Find("Col.Row.V");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->GetRect()->Width(), 1);
    EXPECT_EQ(v->GetLayout(false)->GetMinimumSize(), 4);
    EXPECT_FALSE(Find("Col.NoColour"));
    EXPECT_FALSE(Find("Col.NoStretch"));
}
