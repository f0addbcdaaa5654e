// The picture and text controls on the headless backend: IMAGE, RESIZED_IMAGE and TEXT.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "KIUiImageSource.h"
#include "KIUiPixmap.h"
#include "KUiFrame.h"
#include "KUiImage.h"
#include "KUiText.h"
#include "KUiWindowClass.h"
#include "UiPictureFixture.h"

using namespace uitest;

namespace {

// A picture in memory handed to "SetImage".
class MemorySource : public KIUiImageSource {
public:
    MemorySource(int32_t width, int32_t height, Rgb c) : m_Bytes(size_t(width) * height * 4)
    {
        for (size_t i = 0; i < m_Bytes.size(); i += 4) {
            m_Bytes[i] = uint8_t(c[2]);
            m_Bytes[i + 1] = uint8_t(c[1]);
            m_Bytes[i + 2] = uint8_t(c[0]);
            m_Bytes[i + 3] = 255;
        }
        m_pView = std::make_unique<KPixmap_Display>(m_Bytes.data(), width, height, width * 4);
    }
    const KPixmap_Display* GetDisplayPixmap() override { return m_pView.get(); }

private:
    std::vector<uint8_t> m_Bytes;
    std::unique_ptr<KPixmap_Display> m_pView;
};

class UiImage : public PictureFixture {};
class UiText : public PictureFixture {};

}  // namespace

// ---- IMAGE ----

TEST_F(UiImage, PictureWithoutKeysKeepsItsSizeAndANewPictureRelaysTheWindowOut)
{
    Picture("red.png", 40, 20, [](int32_t, int32_t) { return Rgba{255, 0, 0, 255}; });
    ASSERT_TRUE(Load(R"(<HBOX Name="Row"><IMAGE Name="I" File_Image="red.png"/>
                        <IMAGE Name="Empty"/></HBOX>)"));
    auto* image = Find<KUiImage>("Row.I");
    ASSERT_TRUE(image);
    Resize(100, 50);
    EXPECT_EQ(RectOf(image), KRect(0, 0, 40, 20));
    EXPECT_EQ(Pixel(39, 19), kRed);
    EXPECT_EQ(Pixel(40, 19), kWhite);
    EXPECT_EQ(Pixel(39, 20), kWhite);
    // Without picture and keys: nothing wide, never inverted.
    auto* empty = Find<KUiImage>("Row.Empty");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->GetLayout(true)->GetMinimumSize(), 0);
    EXPECT_EQ(empty->GetLayout(false)->GetMinimumSize(), 0);
    EXPECT_EQ(RectOf(empty).Width(), 0);
    EXPECT_EQ(RectOf(empty).Height(), 0);

    // A 60 x 30 picture: the image and the window take its size (SetImage still answers false).
    Resize(40, 20);
    MemorySource blue(60, 30, kBlue);
    EXPECT_FALSE(image->UiRelayMessage(KWString("SetImage"), &blue));
    EXPECT_EQ(RectOf(image), KRect(0, 0, 60, 30));
    EXPECT_EQ(WindowRect().Width(), 60);
    EXPECT_EQ(WindowRect().Height(), 30);
    EXPECT_EQ(Pixel(59, 29), kBlue);
    EXPECT_FALSE(image->UiRelayMessage(KWString("SetImage"), nullptr));
}

TEST_F(UiImage, TransparentPixelsLetClicksThroughUnlessAlphaIsIgnored)
{
    CornerPicture("round.png", 20, 20, kGreen, 4);
    ASSERT_TRUE(Load(R"(<VBOX><IMAGE Name="A" File_Image="round.png"><ON_PRESS LocalRelay="L" Message="A"/></IMAGE>
                        <IMAGE Name="B" File_Image="round.png" _UseAlphaForHitTest="false">
                        <ON_PRESS LocalRelay="L" Message="B"/></IMAGE><LOG Name="L"/></VBOX>)"));
    KGenericUiWindow* w = Window();
    // A's corner: nothing; its centre: pressed.
    w->MouseDown(0, 1, 1, false, false);
    w->MouseUp(0, 1, 1, false, false);
    w->MouseDown(0, 10, 10, false, false);
    w->MouseUp(0, 10, 10, false, false);
    // B's corner (B starts at y 20).
    w->MouseDown(0, 1, 21, false, false);
    w->MouseUp(0, 1, 21, false, false);
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"A", "B"}));
    // The corner lets the window's background through.
    EXPECT_EQ(Pixel(1, 1), kWhite);
    EXPECT_EQ(Pixel(10, 10), kGreen);
}

TEST_F(UiImage, VisibilityCommandsAndContent)
{
    Picture("red.png", 10, 10, [](int32_t, int32_t) { return Rgba{255, 0, 0, 255}; });
    ASSERT_TRUE(Load(R"(<VBOX Name="Col">
        <IMAGE Name="I" File_Image="red.png" _MinHSize="30" _Visible="false"/>
        <IMAGE Name="Grow" File_Image="red.png" _HStretch="1">
          <HBOX><RECT Name="In" MinHSize="40" MinVSize="5" HStretch="0" VStretch="0" Color="#0000FF"/></HBOX>
        </IMAGE>
        <IMAGE Name="Fixed" File_Image="red.png">
          <HBOX><RECT MinHSize="40" MinVSize="5" HStretch="0" VStretch="0" Color="#0000FF"/></HBOX>
        </IMAGE></VBOX>)"));
    auto* image = Find<KUiImage>("Col.I");
    ASSERT_TRUE(image);
    // The minimum key stretches the picture to 30 x 10.
    EXPECT_EQ(RectOf(image), KRect(0, 0, 30, 10));
    EXPECT_EQ(Pixel(25, 5), kWhite);
    EXPECT_TRUE(image->UiRelayMessage(KWString("Show"), nullptr));
    EXPECT_TRUE(Near(Pixel(25, 5), kRed));
    EXPECT_TRUE(image->UiRelayMessage(KWString("ToggleVisibility"), nullptr));
    EXPECT_FALSE(image->IsVisible());
    EXPECT_TRUE(image->UiRelayMessage(KWString("ToggleVisibility"), nullptr));
    EXPECT_TRUE(image->IsVisible());
    bool no = false;
    EXPECT_TRUE(image->UiRelayMessage(KWString("Visibility"), &no));
    EXPECT_EQ(Pixel(25, 5), kWhite);
    EXPECT_FALSE(image->UiRelayMessage(KWString("Visibility"), nullptr));
    EXPECT_FALSE(image->UiRelayMessage(KWString("Redraw"), nullptr));
    // Hidden images are still hit.
    EXPECT_EQ(image->HitTest(5, 5), image);

    // A stretching axis takes the content's larger minimum; a fixed one drops the image.
    auto* grow = Find<KUiImage>("Col.Grow");
    ASSERT_TRUE(grow);
    EXPECT_EQ(grow->GetLayout(true)->GetMinimumSize(), 40);
    EXPECT_FALSE(Find("Col.Fixed"));
    // The content is drawn over the picture and is what a click hits there.
    const KRect g = RectOf(grow);
    EXPECT_EQ(Pixel(g.left + 1, g.top + 1), kBlue);
    EXPECT_TRUE(Near(Pixel(g.left + 1, g.top + 7), kRed));
    EXPECT_EQ(grow->HitTest(g.left + 1, g.top + 1), Find("Col.Grow.In"));
    EXPECT_EQ(grow->HitTest(g.left + 1, g.top + 7), grow);
}

// ---- RESIZED_IMAGE ----

TEST_F(UiImage, ResizedImageKeepsItsBordersAndChecksItsStretchRectangle)
{
    // 30 x 30: red border of 10, blue centre, the top-left pixel transparent.
    Picture("skin.png", 30, 30, [](int32_t x, int32_t y) {
        if (x == 0 && y == 0)
            return Rgba{0, 0, 0, 0};
        const bool centre = x >= 10 && x < 20 && y >= 10 && y < 20;
        return centre ? Rgba{0, 0, 255, 255} : Rgba{255, 0, 0, 255};
    });
    const std::string keys = R"( File_Image="skin.png" MinHSize="0" MinVSize="0" HStretch="1" VStretch="1")";
    ASSERT_TRUE(Load(R"(<VBOX Name="Col"><RESIZED_IMAGE Name="R" ResizeRect="10, 10, 19, 19")" + keys + R"(/>
        <RESIZED_IMAGE Name="Column0" ResizeRect="0, 10, 19, 19")" + keys + R"(/>
        <RESIZED_IMAGE Name="Row0" ResizeRect="10, 0, 19, 19")" + keys + R"(/>
        <RESIZED_IMAGE Name="Beyond" ResizeRect="10, 10, 30, 19")" + keys + R"(/>
        <RESIZED_IMAGE Name="Inverted" ResizeRect="20, 10, 9, 19")" + keys + R"(/>
        <RESIZED_IMAGE Name="NoRect")" + keys + R"(/>
        <RESIZED_IMAGE Name="NoFile" ResizeRect="10, 10, 19, 19" File_Image="none.png" MinHSize="0" MinVSize="0"
                       HStretch="1" VStretch="1"/>
        <RESIZED_IMAGE Name="NoStretch" ResizeRect="10, 10, 19, 19" File_Image="skin.png" MinHSize="0"
                       MinVSize="0" HStretch="1"/></VBOX>)"));
    auto* r = Find<KUiResizedImage>("Col.R");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->GetLayout(true)->GetMinimumSize(), 21);
    EXPECT_EQ(r->GetLayout(false)->GetMinimumSize(), 21);
    for (const char* dropped : {"Col.Column0", "Col.Row0", "Col.Beyond", "Col.Inverted", "Col.NoRect", "Col.NoFile",
                                "Col.NoStretch"})
        EXPECT_FALSE(Find(dropped)) << dropped;
    // At 60 x 60 the borders keep their 10 pixels and the centre stretches.
    Resize(60, 60);
    EXPECT_EQ(RectOf(r), KRect(0, 0, 60, 60));
    EXPECT_EQ(Pixel(9, 30), kRed);
    EXPECT_EQ(Pixel(10, 30), kBlue);
    EXPECT_EQ(Pixel(49, 30), kBlue);
    EXPECT_EQ(Pixel(50, 30), kRed);
    EXPECT_EQ(Pixel(30, 50), kRed);
    EXPECT_EQ(Pixel(0, 0), kWhite);
    EXPECT_EQ(r->HitTest(0, 0), nullptr);
    EXPECT_EQ(r->HitTest(1, 0), r);
    EXPECT_EQ(r->HitTest(60, 5), nullptr);
}

// ---- TEXT ----

namespace {

// A display string of that name whose rendered text is a block of red (its background).
std::string Block(const std::string& name, const std::string& english, const std::string& german = "")
{
    return "<DISPLAY_STRING Name=\"" + name + "\" AppFont=\"Plain\" BgColor=\"#FF0000\" Color=\"#FF0000\">" +
           "<English Text=\"" + english + "\"/>" + (german.empty() ? "" : "<German Text=\"" + german + "\"/>") +
           "</DISPLAY_STRING>";
}

}  // namespace

TEST_F(UiText, JustificationPlacesTheTextInsideItsMinimum)
{
    ASSERT_TRUE(Load(R"(<VBOX Name="Col"><TEXT Name="C" DisplayString="S" _MinHSize="100" _MinVSize="30"/>
        <TEXT Name="R" DisplayString="S" _MinHSize="100" _CenterJust="false"/>
        <TEXT Name="L" DisplayString="S" _MinHSize="100" _CenterJust="false" _RightJust="false"/>
        <TEXT Name="Unknown" DisplayString="Nothing"/><TEXT Name="None"/></VBOX>)",
                     Fonts() + Block("S", "Marked")));
    auto* c = Find<KUiText>("Col.C");
    ASSERT_TRUE(c && c->GetRenderedText());
    // "Marked" in DejaVu Sans of 12 pixels is 40 wide: centred, it starts 30 pixels from the left.
    const int32_t tw = c->GetRenderedText()->Width(), th = c->GetRenderedText()->Height();
    ASSERT_EQ(tw, 40);
    ASSERT_LT(th, 30);
    EXPECT_EQ(RectOf(c), KRect(0, 0, 100, 30));
    // Centred: (100 - tw) / 2 from the left, (30 - th) / 2 from the top.
    const int32_t left = 30, top = (30 - th) / 2;
    EXPECT_EQ(Pixel(left - 1, top + 1), kWhite);
    EXPECT_EQ(Pixel(left, top), kRed);
    EXPECT_EQ(Pixel(left + tw - 1, top + th - 1), kRed);
    EXPECT_EQ(Pixel(left + tw, top + 1), kWhite);
    EXPECT_EQ(Pixel(left, top - 1), kWhite);
    // Right and left.
    const int32_t ry = RectOf(Find("Col.R")).top, ly = RectOf(Find("Col.L")).top;
    EXPECT_EQ(Pixel(100 - tw - 1, ry + 1), kWhite);
    EXPECT_EQ(Pixel(100 - tw, ry + 1), kRed);
    EXPECT_EQ(Pixel(99, ry + 1), kRed);
    EXPECT_EQ(Pixel(0, ly + 1), kRed);
    EXPECT_EQ(Pixel(tw, ly + 1), kWhite);
    // A text never stretches, and a missing or unknown display string drops it.
    EXPECT_EQ(c->GetLayout(true)->GetStretch(), 0);
    int32_t fixed = 0;
    EXPECT_TRUE(c->GetLayout(true)->GetFixedSize(fixed));
    EXPECT_EQ(fixed, 100);
    EXPECT_FALSE(Find("Col.Unknown"));
    EXPECT_FALSE(Find("Col.None"));
}

TEST_F(UiText, CommandsAnswerAndRepaint)
{
    ASSERT_TRUE(Load(R"(<VBOX Name="Col"><TEXT Name="T" DisplayString="S"><ON_PRESS LocalRelay="Col.L" Message="P"/>
                        </TEXT><LOG Name="L"/></VBOX>)",
                     Fonts() + R"(<DISPLAY_STRING Name="S" AppFont="Plain" Color="#000000" DisabledColor="#00FF00">
                                  <English Text="Hello"/></DISPLAY_STRING>)"));
    auto* t = Find<KUiText>("Col.T");
    ASSERT_TRUE(t);
    KWString text;
    EXPECT_TRUE(t->UiRelayMessage(KWString("GetDisplayString"), &text));
    EXPECT_EQ(text, KWString("Hello"));
    EXPECT_FALSE(t->UiRelayMessage(KWString("GetDisplayString"), nullptr));
    // Enabling an enabled text renders nothing again.
    const KIUiPixmap* rendered = t->GetRenderedText();
    bool yes = true, no = false;
    EXPECT_TRUE(t->UiRelayMessage(KWString("SetEnabled"), &yes));
    EXPECT_EQ(t->GetRenderedText(), rendered);
    // Disabled: drawn in the disabled colour.
    EXPECT_TRUE(t->UiRelayMessage(KWString("SetEnabled"), &no));
    EXPECT_FALSE(t->IsEnabled());
    const KRect r = RectOf(t);
    bool green = false;
    for (int32_t y = r.top; y < r.bottom && !green; ++y)
        for (int32_t x = r.left; x < r.right && !green; ++x)
            green = Pixel(x, y)[1] > Pixel(x, y)[0] + 100;
    EXPECT_TRUE(green);
    EXPECT_TRUE(t->UiRelayMessage(KWString("Hide"), nullptr));
    EXPECT_EQ(t->HitTest(r.left + 1, r.top + 1), nullptr);
    EXPECT_TRUE(t->UiRelayMessage(KWString("Visibility"), &yes));
    EXPECT_EQ(t->HitTest(r.left + 1, r.top + 1), t);
    EXPECT_FALSE(t->UiRelayMessage(KWString("Visibility"), nullptr));
    EXPECT_FALSE(t->UiRelayMessage(KWString("SetEnabled"), nullptr));
    EXPECT_FALSE(t->UiRelayMessage(KWString("Set Language"), nullptr));
    EXPECT_FALSE(t->UiRelayMessage(KWString("Unknown"), nullptr));
    // A click fires ON_PRESS.
    Window()->MouseDown(0, r.left + 1, r.top + 1, false, false);
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"P"});
}

TEST_F(UiText, ALongerTranslationWidensTheWindow)
{
    ASSERT_TRUE(Load(R"(<HBOX><TEXT Name="T" DisplayString="S"/></HBOX>)",
                     Fonts() + Block("S", "Hi", "Guten Tag und willkommen")));
    auto* t = Find<KUiText>("T");
    ASSERT_TRUE(t);
    const int32_t before = WindowRect().Width();
    EXPECT_EQ(before, RectOf(t).Width());
    m_App->SetLanguage(KWString("German"));
    EXPECT_GT(WindowRect().Width(), before);
    EXPECT_EQ(WindowRect().Width(), t->GetRenderedText()->Width());
    // Back to the short text: the text shrinks, the window keeps the size it has.
    m_App->SetLanguage(KWString("English"));
    EXPECT_EQ(RectOf(t).Width(), before);
}

TEST_F(UiText, ACaptionOfAClosedInstanceHearsNoLaterLanguageChange)
{
    ASSERT_TRUE(Load("", Fonts() + Block("Cap", "Caption", "Beschriftung"),
                     R"(<WINDOWCLASS Name="Dlg" BgColor="#FFFFFF"><FRAME Name="F" MinHSize="0" MinVSize="0"
                        HStretch="0" VStretch="0" FrameColor="#000000" FrameThickness="1">
                        <TEXT DisplayString="Cap"/></FRAME></WINDOWCLASS>)"));
    KUiWindowClass* c = m_App->GetFirstWindowClass();
    ASSERT_TRUE(c);
    KIGenericUiWindow* a = c->CreateWindow(KWString("Dlg"), nullptr);
    KIGenericUiWindow* b = c->CreateWindow(KWString("Dlg"), nullptr);
    ASSERT_TRUE(a && b);
    c->CloseWindow(a);
    DeleteClosedUiWindows();
    // The caption of the deleted instance is gone from the listeners; the other one follows the switch.
    KIUiObject* frame = static_cast<KGenericUiWindow*>(b)->GetFirstObject();
    ASSERT_TRUE(frame);
    const int32_t english = frame->GetLayout(true)->GetMinimumSize();
    m_App->SetLanguage(KWString("German"));
    EXPECT_GT(frame->GetLayout(true)->GetMinimumSize(), english);
    m_App->SetLanguage(KWString("English"));
    EXPECT_EQ(frame->GetLayout(true)->GetMinimumSize(), english);
}
