// The text controls on the headless backend: text box and DYNA_TEXT, edit box, dynamic string, text array,
// text list, reply forwarder and clock, in scripts with display strings in two languages.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "KGenericUiApp.h"
#include "KGenericUiPixmap.h"
#include "KGenericUiWindow.h"
#include "KIUiPixmap.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "KExceptionUiScript.h"
#include "KUiClock.h"
#include "KUiDynaString.h"
#include "KUiEdit.h"
#include "KUiObjectFactory.h"
#include "KUiReplyRequest.h"
#include "KUiTextArray.h"
#include "KUiTextBox.h"
#include "KUiTextList.h"
#include "LumoStorageFixture.h"
#include "LumoTestSupport.h"
#include "PlatformShell.h"
#include "PlatformWindow.h"

namespace {

// Writes down the messages it gets, with the data the text controls' events carry.
class Recorder : public KUiObject {
public:
    bool InitUiObject(KIGenericUiApp* a, KIGenericUiWindow* w, KIUiObject* p, KPropTree* n) override
    {
        KUiObject::InitUiObject(a, w, p, n);
        return true;
    }
    bool UiRelayMessage(const KWString& message, void* data) override
    {
        if (message == kUiMsgPostCreationInit || message == kUiMsgShutdown)
            return false;
        std::string line = WideToUtf8(message);
        if (data && (message == u"ON_SEND_STRING" || message == u"Reply3"))
            line += " " + WideToUtf8(*static_cast<const KWString*>(data));
        else if (data && message == u"ON_STRING_NOT_EMPTY")
            line += *static_cast<const bool*>(data) ? " 1" : " 0";
        log.push_back(line);
        return true;
    }
    std::vector<std::string> log;
};

class RecorderCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override { return new Recorder; }
};

const char kFonts[] = R"(<LANGUAGES><LANGUAGE Name="English" Default="1"/><LANGUAGE Name="Japanese"/></LANGUAGES>
    <FONTS><APPFONT Name="Plain" Height="14" Color="#000000" DisabledColor="#808080">
      <MSWFONT><English Fontname="DejaVu Sans"/><Japanese Fontname="IPAGothic"/></MSWFONT></APPFONT></FONTS>
    <DISPLAY_STRING Name="Hello" AppFont="Plain"><English Text="Hello"/><Japanese Text="こんにちは世界"/>
    </DISPLAY_STRING>)";

class UiTextControls : public lumotest::StorageFixture {
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
    // A script of one window "T.Main" (white) holding body in a VBOX "Col", with the fonts and strings above.
    bool Load(const std::string& body)
    {
        // UTF-16 with its byte-order mark: the script's Japanese strings.
        const KWString text = Utf8ToWide(std::string("<APP Name=\"T\">") + kFonts +
                                         R"(<WINDOW Name="Main" BgColor="#FFFFFF"><VBOX Name="Col">)" + body +
                                         R"(<RECORDER Name="R"/></VBOX></WINDOW></APP>)");
        std::string bytes = "\xFF\xFE";
        for (char16_t unit : text.View()) {
            bytes += static_cast<char>(unit & 0xFF);
            bytes += static_cast<char>(unit >> 8);
        }
        lumotest::WriteText(Root() / "ui.xml", bytes);
        m_App.reset();
        m_App.reset(CreateGenericUiApp());
        static const KWString keyword("RECORDER");
        auto* creator = new RecorderCreator;
        if (!m_App->GetFactory()->Register(&keyword, creator))
            delete creator;
        KWString leaf;
        KIFolder* folder = OpenFolderByURL(RootURL(), leaf, false);
        bool running = false;
        return m_App->LoadUiScript(folder, KWString("ui.xml"), running);
    }
    KGenericUiWindow* Window() { return static_cast<KGenericUiWindow*>(m_App->GetFirstWindow()); }
    PlatHWND Handle() { return *static_cast<PlatHWND*>(Window()->GetAttribute(1)); }
    template <class T = KIUiObject>
    T* Find(const std::string& path)
    {
        return dynamic_cast<T*>(m_App->GetUiRelay(KWString(("T.Main.Col." + path).c_str())));
    }
    std::vector<std::string>& Log() { return Find<Recorder>("R")->log; }
    bool Send(const std::string& path, const char16_t* message, void* data = nullptr)
    {
        KIUiRelay* r = m_App->GetUiRelay(KWString(("T.Main.Col." + path).c_str()));
        return r && r->UiRelayMessage(KWString(message), data);
    }
    // The window's pixel (red, green, blue) after its pending redraw.
    std::array<int, 3> Pixel(int32_t x, int32_t y)
    {
        Window()->RedrawIfDirty();
        int32_t w = 0, h = 0;
        const uint8_t* p = PlatGetWindowPixels(Handle(), w, h);
        if (!p || x < 0 || y < 0 || x >= w || y >= h)
            return {-1, -1, -1};
        const uint8_t* q = p + (static_cast<size_t>(y) * w + x) * 4;
        return {q[2], q[1], q[0]};
    }
    // Width of the text as the own font "DejaVu Sans" 12 renders it.
    static int32_t TextWidth(const std::string& text)
    {
        KIUiPixmap* image = CreateTextUiPixmap(Utf8ToWide(text), KWString("DejaVu Sans"), 12, false, false, false,
                                               KUiColor(0, 0, 0, 255), nullptr, false);
        const int32_t w = image ? image->Width() : -1;
        DeleteUiPixmap(image);
        return w;
    }

    std::unique_ptr<KGenericUiApp> m_App;
};

class UiTextBox : public UiTextControls {};
class UiEditBox : public UiTextControls {};

const std::array<int, 3> kWhite{255, 255, 255};

}  // namespace

// ---- Text box ----

TEST_F(UiTextBox, ShortensWithDotsAndShowsHashesWhenNothingFits)
{
    ASSERT_TRUE(Load(R"(<TEXT_BOX Name="B" MinHSize="0" HStretch="1" VStretch="0" Font="DejaVu Sans" FontSize="12"
                                  _Text="abcdef"/>)"));
    auto* box = Find<KUiTextBox>("B");
    ASSERT_TRUE(box);
    const int32_t h = box->GetLayout(false)->GetMinimumSize();
    EXPECT_GT(h, 0);
    // The full text's size is the box's most.
    EXPECT_TRUE(box->GetLayout(true)->HasCap());
    EXPECT_EQ(box->GetLayout(true)->GetCap(), TextWidth("abcdef"));
    const struct {
        int32_t width;
        const char* shown;
    } cases[] = {
        {TextWidth("abcdef"), "abcdef"},
        {TextWidth("abcdef") - 1, "abcd..."},
        {TextWidth("abc..."), "abc..."},
        {TextWidth("a..."), "a..."},
        {TextWidth("a...") - 1, "##"},
        {1, "##"},
    };
    for (const auto& c : cases) {
        box->SetRect(0, 0, c.width, h);
        EXPECT_EQ(WideToUtf8(box->GetShownText()), c.shown) << c.width;
    }
    // Not enough room for "abcde..." either at one pixel less than the whole text.
    EXPECT_GT(TextWidth("abcde..."), TextWidth("abcdef") - 1);
}

TEST_F(UiTextBox, TextWiderThanAnySurfaceIsStillShortened)
{
    // 20000 characters are wider than the largest surface: the box goes straight to the form that fits.
    ASSERT_TRUE(Load("<TEXT_BOX Name=\"B\" MinHSize=\"0\" HStretch=\"1\" VStretch=\"0\" Font=\"DejaVu Sans\" "
                     "FontSize=\"12\" _Text=\"" + std::string(20000, 'm') + "\"/>"));
    auto* box = Find<KUiTextBox>("B");
    ASSERT_TRUE(box);
    box->SetRect(0, 0, TextWidth("mmmm..."), 20);
    EXPECT_EQ(WideToUtf8(box->GetShownText()), "mmmm...");
}

TEST(UiTextShortener, PathFormsDropOneFolderEachThenTheShortestIsShortenedPlainlyAndEnds)
{
    KUiTextShortener path(KWString("home/a/b/c"), true);
    std::vector<std::string> forms;
    for (KWString form; path.Next(form) && forms.size() < 100;)
        forms.push_back(WideToUtf8(form));
    ASSERT_GE(forms.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(forms.begin(), forms.begin() + 3),
              (std::vector<std::string>{"home/.../b/c", "home/.../c", "home/.../"}));
    // Then "home/.../" loses a character at a time, down to "##", and the sequence ends.
    EXPECT_EQ(forms[3], "home/......");
    EXPECT_EQ(forms.back(), "##");
    EXPECT_EQ(forms.size(), 3u + 9u);
    // Plain shortening; a surrogate pair goes as one character.
    KUiTextShortener plain(Utf8ToWide("ab\xF0\x9F\x98\x80"), false);
    forms.clear();
    for (KWString form; plain.Next(form);)
        forms.push_back(WideToUtf8(form));
    EXPECT_EQ(forms, (std::vector<std::string>{"ab...", "a...", "##"}));
    // A text without any separator in path mode is shortened plainly.
    KUiTextShortener none(KWString("abc"), true);
    forms.clear();
    for (KWString form; none.Next(form);)
        forms.push_back(WideToUtf8(form));
    EXPECT_EQ(forms, (std::vector<std::string>{"ab...", "a...", "##"}));
}

TEST_F(UiTextBox, PathModeShowsTheFirstFormThatFits)
{
    ASSERT_TRUE(Load(R"(<TEXT_BOX Name="B" MinHSize="0" HStretch="1" VStretch="0" Font="DejaVu Sans" FontSize="12"
                                  DirPath="1" _Text="home/alpha/beta/c"/>
                        <TEXT_BOX Name="W" MinHSize="0" HStretch="1" VStretch="0" Font="DejaVu Sans" FontSize="12"
                                  DirPath="1" _Text="C:\xxxx\y"/>)"));
    auto* box = Find<KUiTextBox>("B");
    ASSERT_TRUE(box);
    for (const char* form : {"home/alpha/beta/c", "home/.../beta/c", "home/.../c", "home/.../"}) {
        box->SetRect(0, 0, TextWidth(form), 20);
        EXPECT_EQ(WideToUtf8(box->GetShownText()), form);
    }
    // Narrower: the first plain form of "home/.../" that fits.
    box->SetRect(0, 0, TextWidth("home/.../") - 1, 20);
    EXPECT_EQ(WideToUtf8(box->GetShownText()), "home/...");
    box->SetRect(0, 0, 3, 20);
    EXPECT_EQ(WideToUtf8(box->GetShownText()), "##");
    // The backslash comes first among the separators.
    auto* windows = Find<KUiTextBox>("W");
    windows->SetRect(0, 0, TextWidth("C:\\...\\y"), 20);
    EXPECT_EQ(WideToUtf8(windows->GetShownText()), "C:\\...\\y");
}

TEST_F(UiTextBox, SetTextAnswersTrueAndTheSameTextRepaintsNothing)
{
    ASSERT_TRUE(Load(R"(<TEXT_BOX Name="B" MinHSize="80" HStretch="0" VStretch="0" Font="DejaVu Sans" FontSize="12"
                                  _Text="same"/>)"));
    Window()->RedrawIfDirty();
    KWString same("same"), other("other"), out;
    EXPECT_TRUE(Send("B", u"SetText", &same));
    EXPECT_TRUE(Window()->GetDirtyRects().empty());
    EXPECT_TRUE(Send("B", u"SetText", &other));
    EXPECT_FALSE(Window()->GetDirtyRects().empty());
    EXPECT_TRUE(Send("B", u"GetText", &out));
    EXPECT_EQ(out, other);
    // Every other message answers false, also when acted on.
    EXPECT_FALSE(Send("B", u"GetText"));
    EXPECT_FALSE(Send("B", u"Disable"));
    EXPECT_FALSE(Send("B", u"Enable"));
    EXPECT_FALSE(Send("B", u"Nonsense"));
    EXPECT_TRUE(Send("B", u"SetText"));
}

TEST_F(UiTextBox, DynaTextMinimumIsItsRenderedTextAndFollowsIt)
{
    ASSERT_TRUE(Load(R"(<DYNA_TEXT Name="D" MinHSize="500" HStretch="0" VStretch="0" Font="DejaVu Sans" FontSize="12"
                                   DirPath="1" _Text="a/very/long/path/that/is/never/shortened"/>
                        <TEXT_BOX Name="NoMin" HStretch="0" VStretch="0" Font="DejaVu Sans" FontSize="12"/>
                        <TEXT_BOX Name="Empty" MinHSize="10" HStretch="0" VStretch="0" Font="DejaVu Sans"
                                  FontSize="12"/>)"));
    auto* d = Find<KUiTextBox>("D");
    ASSERT_TRUE(d);
    EXPECT_EQ(Find("NoMin"), nullptr);
    ASSERT_TRUE(d->GetImage());
    EXPECT_EQ(WideToUtf8(d->GetShownText()), "a/very/long/path/that/is/never/shortened");
    EXPECT_EQ(d->GetLayout(true)->GetMinimumSize(), d->GetImage()->Width());
    EXPECT_EQ(d->GetLayout(false)->GetMinimumSize(), d->GetImage()->Height());
    EXPECT_EQ(d->GetRect()->Width(), TextWidth("a/very/long/path/that/is/never/shortened"));
    KWString shorter("ab");
    EXPECT_TRUE(Send("D", u"SetText", &shorter));
    Window()->RedrawIfDirty();
    EXPECT_EQ(d->GetLayout(true)->GetMinimumSize(), TextWidth("ab"));
    EXPECT_EQ(d->GetRect()->Width(), TextWidth("ab"));
    // An empty text has no image and no most size.
    auto* empty = Find<KUiTextBox>("Empty");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->GetImage(), nullptr);
    EXPECT_FALSE(empty->GetLayout(true)->HasCap());
}

TEST_F(UiTextBox, LanguageAndEnabledStateRenderAgain)
{
    ASSERT_TRUE(Load(R"(<DYNA_TEXT Name="D" MinHSize="0" HStretch="0" VStretch="0" AppFont="Plain" _Text="Hello"/>
                        <TEXT_BOX Name="Own" MinHSize="60" HStretch="0" VStretch="0" Font="DejaVu Sans"
                                  FontSize="12" FontColor="#FF0000" _Text="MMMM"/>)"));
    auto* d = Find<KUiTextBox>("D");
    auto* own = Find<KUiTextBox>("Own");
    ASSERT_TRUE(d && own && d->GetImage());
    auto darkest = [](const KIUiPixmap* image) {
        KUiColor best(255, 255, 255, 0);
        for (int32_t y = 0; image && y < image->Height(); ++y)
            for (int32_t x = 0; x < image->Width(); ++x) {
                KUiColor c;
                image->GetPixel(x, y, c);
                if (c.a > best.a)
                    best = c;
            }
        return best;
    };
    EXPECT_EQ(darkest(d->GetImage()).r, 0);
    EXPECT_TRUE(Send("D", u"Disable") == false);
    EXPECT_FALSE(d->IsEnabled());
    EXPECT_EQ(darkest(d->GetImage()).r, 128);
    Send("D", u"Enable");
    EXPECT_EQ(darkest(d->GetImage()).r, 0);
    // An own font keeps its colour when disabled.
    Send("Own", u"Disable");
    ASSERT_TRUE(own->GetImage());
    EXPECT_EQ(darkest(own->GetImage()).r, 255);
    EXPECT_EQ(darkest(own->GetImage()).g, 0);
    // The Japanese font's face draws the same text at another width.
    const int32_t english = d->GetImage()->Width();
    m_App->SetLanguage(KWString("Japanese"));
    ASSERT_TRUE(d->GetImage());
    EXPECT_NE(d->GetImage()->Width(), english);
    EXPECT_EQ(d->GetLayout(true)->GetMinimumSize(), d->GetImage()->Width());
}

// ---- Edit box ----

namespace {

const char kEdit[] = R"(<EDIT_BOX Name="E" MinHSize="120" HStretch="0" FrameColor="#000000" FrameThickness="1"
      Font="DejaVu Sans" FontSize="12" _CursorColor="#FF0000" %s>
      <ON_SEND_STRING Relay="T.Main.Col.R" Message="ON_SEND_STRING"/>
      <ON_STRING_NOT_EMPTY Relay="T.Main.Col.R" Message="ON_STRING_NOT_EMPTY"/>
      <ON_NEW_STRING Relay="T.Main.Col.R" Message="ON_NEW_STRING"/>
      <ON_ENTER_HIT Relay="T.Main.Col.R" Message="ON_ENTER_HIT"/></EDIT_BOX>)";

std::string Edit(const std::string& keys = "")
{
    std::string s = kEdit;
    s.replace(s.find("%s"), 2, keys);
    return s;
}

}  // namespace

TEST_F(UiEditBox, TypingSendsEveryTextThenEnterEndsIt)
{
    ASSERT_TRUE(Load(Edit()));
    auto* e = Find<KUiEdit>("E");
    ASSERT_TRUE(e);
    EXPECT_EQ(Log(), (std::vector<std::string>{"ON_SEND_STRING ", "ON_STRING_NOT_EMPTY 0"}));
    Log().clear();
    Window()->MouseDown(0, 5, 5, false, false);
    Window()->MouseUp(0, 5, 5, false, false);
    EXPECT_TRUE(e->IsFocused());
    for (int c : {'a', 'b', 'c'})
        Window()->KeyDown(c, false, false);
    Window()->KeyDown(13, false, false);
    EXPECT_EQ(Log(), (std::vector<std::string>{"ON_SEND_STRING a", "ON_STRING_NOT_EMPTY 1", "ON_SEND_STRING ab",
                                               "ON_STRING_NOT_EMPTY 1", "ON_SEND_STRING abc", "ON_STRING_NOT_EMPTY 1",
                                               "ON_NEW_STRING", "ON_ENTER_HIT"}));
    EXPECT_FALSE(e->IsFocused());
    KWString out;
    EXPECT_TRUE(Send("E", u"GetText", &out));
    EXPECT_EQ(WideToUtf8(out), "abc");
}

TEST_F(UiEditBox, MaximumLengthDropsTypingAndCutsPastes)
{
    ASSERT_TRUE(Load(Edit(R"(_MaxTextLen="3")")));
    auto* e = Find<KUiEdit>("E");
    ASSERT_TRUE(e);
    Window()->MouseDown(0, 5, 5, false, false);
    Window()->MouseUp(0, 5, 5, false, false);
    for (int c : {'a', 'b', 'c', 'd'})
        Window()->KeyDown(c, false, false);
    EXPECT_EQ(WideToUtf8(e->GetText()), "abc");
    Log().clear();
    Window()->Paste(KWString("xyz"));
    EXPECT_EQ(WideToUtf8(e->GetText()), "abc");
    EXPECT_TRUE(Log().empty());
    // Codes without an action insert nothing: Ctrl+V with nothing to paste, Ctrl+E, a language chord.
    for (int code : {22, 24, 5, 6, 21, 25, 1})
        Window()->KeyDown(code, true, false);
    Window()->KeyDown(8, false, false);
    EXPECT_EQ(WideToUtf8(e->GetText()), "ab");
    for (int code : {22, 5, 26})
        Window()->KeyDown(code, true, false);
    EXPECT_EQ(WideToUtf8(e->GetText()), "ab");
    // A paste beyond the maximum keeps its first characters; the cursor ends after them.
    Window()->Paste(KWString("xyz"));
    EXPECT_EQ(WideToUtf8(e->GetText()), "abx");
    EXPECT_EQ(e->GetCursor(), 3u);
    // A selection is replaced by the paste.
    Window()->KeyDown(20, false, false);
    Window()->KeyDown(145, false, true);
    Window()->Paste(KWString("Q"));
    EXPECT_EQ(WideToUtf8(e->GetText()), "Qbx");
    EXPECT_EQ(e->GetCursor(), 1u);
}

TEST_F(UiEditBox, ClicksPutTheCursorAtTheNearestBoundary)
{
    ASSERT_TRUE(Load(Edit(R"(_Text="WWW")")));
    auto* e = Find<KUiEdit>("E");
    ASSERT_TRUE(e);
    const std::vector<int32_t>& w = e->GetPrefixWidths();
    ASSERT_EQ(w.size(), 3u);
    const KRect r = *e->GetRect();
    // Window x of p in the control's formula: left + frame + 1 + p.
    auto x = [&](int32_t p) { return r.left + 1 + 1 + p; };
    const struct {
        int32_t p;
        uint32_t cursor;
    } cases[] = {
        {0, 0},
        {w[0] / 2 - 1, 0},
        {w[0] / 2, 1},
        {w[0] + 1, 1},                          // left half of the second character
        {w[0] + (w[1] - w[0]) / 2 - 1, 1},      // just left of its middle
        {w[1] - 1, 2},                          // right half of the second character
        {w[1] + (w[2] - w[1]) / 2 + 1, 3},      // right half of the last one
        {w[2] + 30, 3},                         // past the last character
    };
    for (const auto& c : cases) {
        Window()->MouseDown(0, x(c.p), r.top + 5, false, false);
        Window()->MouseUp(0, x(c.p), r.top + 5, false, false);
        EXPECT_EQ(e->GetCursor(), c.cursor) << c.p;
        EXPECT_EQ(e->CursorFromX(x(c.p)), c.cursor) << c.p;
    }
    // A drag selects; Ctrl+C copies the selection.
    Window()->MouseDown(0, x(0), r.top + 5, false, false);
    Window()->MouseMove(x(w[1] - 1), r.top + 5);
    Window()->MouseUp(0, x(w[1] - 1), r.top + 5, false, false);
    EXPECT_EQ(e->GetAnchor(), 0u);
    EXPECT_EQ(e->GetCursor(), 2u);
    KWString copied;
    Window()->Copy(copied);
    EXPECT_EQ(WideToUtf8(copied), "WW");
    Window()->Cut(copied);
    EXPECT_EQ(WideToUtf8(e->GetText()), "W");
}

TEST_F(UiEditBox, KeysMoveSelectAndDelete)
{
    ASSERT_TRUE(Load(Edit(R"(_Text="abcd")")));
    auto* e = Find<KUiEdit>("E");
    ASSERT_TRUE(e);
    Send("E", u"GrabKeyboard");
    EXPECT_TRUE(e->IsFocused());
    EXPECT_EQ(e->GetCursor(), 0u);
    // Backspace at 0 deletes nothing.
    Window()->KeyDown(8, false, false);
    EXPECT_EQ(WideToUtf8(e->GetText()), "abcd");
    Window()->KeyDown(127, false, false);
    EXPECT_EQ(WideToUtf8(e->GetText()), "bcd");
    Window()->KeyDown(2, false, false);
    EXPECT_EQ(e->GetCursor(), 3u);
    Window()->KeyDown(146, false, true);
    Window()->KeyDown(146, false, true);
    EXPECT_EQ(e->GetAnchor(), 3u);
    EXPECT_EQ(e->GetCursor(), 1u);
    Window()->KeyDown('X', false, false);
    EXPECT_EQ(WideToUtf8(e->GetText()), "bX");
    EXPECT_EQ(e->GetCursor(), 2u);
    // Delete at the end, arrows past the ends and the ignored keys change nothing.
    for (int code : {127, 145, 9, 14, 17, 18, 19})
        Window()->KeyDown(code, false, false);
    EXPECT_EQ(WideToUtf8(e->GetText()), "bX");
    EXPECT_EQ(e->GetCursor(), 2u);
    Window()->KeyDown(20, false, false);
    Window()->KeyDown(146, false, false);
    EXPECT_EQ(e->GetCursor(), 0u);
}

TEST_F(UiEditBox, SetTextClearsSelectionAndScroll)
{
    ASSERT_TRUE(Load(Edit()));
    auto* e = Find<KUiEdit>("E");
    ASSERT_TRUE(e);
    Send("E", u"GrabKeyboard");
    for (int i = 0; i < 40; ++i)
        Window()->KeyDown('m', false, false);
    EXPECT_GT(e->GetScrollOffset(), 0);
    Window()->KeyDown(146, false, true);
    EXPECT_NE(e->GetAnchor(), e->GetCursor());
    Log().clear();
    KWString text("new");
    EXPECT_TRUE(Send("E", u"SetText", &text));
    EXPECT_EQ(e->GetScrollOffset(), 0);
    EXPECT_EQ(e->GetAnchor(), 0u);
    EXPECT_EQ(e->GetCursor(), 0u);
    EXPECT_FALSE(e->IsFocused());
    EXPECT_EQ(Log(), (std::vector<std::string>{"ON_SEND_STRING new", "ON_STRING_NOT_EMPTY 1"}));
    Log().clear();
    EXPECT_TRUE(Send("E", u"EmptyText"));
    EXPECT_EQ(Log(), (std::vector<std::string>{"ON_SEND_STRING ", "ON_STRING_NOT_EMPTY 0"}));
    // A display string's text in the current language; an unknown name changes nothing of the text.
    KWString name("Hello"), unknown("Nope");
    EXPECT_TRUE(Send("E", u"SetTextString", &name));
    EXPECT_EQ(WideToUtf8(e->GetText()), "Hello");
    m_App->SetLanguage(KWString("Japanese"));
    EXPECT_TRUE(Send("E", u"SetTextString", &name));
    EXPECT_EQ(WideToUtf8(e->GetText()), "こんにちは世界");
    EXPECT_EQ(e->GetPrefixWidths().size(), 7u);
    EXPECT_TRUE(Send("E", u"SetTextString", &unknown));
    EXPECT_EQ(WideToUtf8(e->GetText()), "こんにちは世界");
    EXPECT_FALSE(Send("E", u"Unknown"));
}

TEST_F(UiEditBox, CursorBlinksEvery325MillisecondsOnlyWhileFocused)
{
    ASSERT_TRUE(Load(Edit()));
    auto* e = Find<KUiEdit>("E");
    ASSERT_TRUE(e);
    const KRect r = *e->GetRect();
    // The bar of an empty box: at left + frame + 1, from top + frame + 1.
    const int32_t bx = r.left + 2, by = r.top + 4;
    const std::array<int, 3> red{255, 0, 0};
    EXPECT_EQ(Pixel(bx, by), kWhite);
    Window()->Tick(1.0);
    EXPECT_EQ(Pixel(bx, by), kWhite);
    Window()->MouseDown(0, bx, by, false, false);
    Window()->MouseUp(0, bx, by, false, false);
    EXPECT_EQ(Pixel(bx, by), red);
    Window()->Tick(0.325);
    EXPECT_EQ(Pixel(bx, by), red);
    Window()->Tick(0.001);
    EXPECT_EQ(Pixel(bx, by), kWhite);
    Window()->Tick(0.326);
    EXPECT_EQ(Pixel(bx, by), red);
    Window()->KeyDown(13, false, false);
    EXPECT_EQ(Pixel(bx, by), kWhite);
    for (int i = 0; i < 5; ++i) {
        Window()->Tick(0.4);
        EXPECT_EQ(Pixel(bx, by), kWhite);
    }
}

TEST_F(UiEditBox, RequiredKeysAndLanguageListeners)
{
    ASSERT_TRUE(Load(R"(<EDIT_BOX Name="NoFrame" MinHSize="50" HStretch="0" FrameColor="#000000" Font="DejaVu Sans"/>
        <EDIT_BOX Name="A" MinHSize="50" HStretch="0" FrameColor="#000000" FrameThickness="2" AppFont="Plain"
                  DisplayString="Hello"/>)"));
    EXPECT_EQ(Find("NoFrame"), nullptr);
    auto* e = Find<KUiEdit>("A");
    ASSERT_TRUE(e);
    EXPECT_EQ(WideToUtf8(e->GetText()), "Hello");
    EXPECT_EQ(e->GetLayout(false)->GetMinimumSize(), e->GetLayout(false)->GetSize());
    const size_t before = e->GetPrefixWidths().size();
    EXPECT_EQ(before, 5u);
    m_App->SetLanguage(KWString("Japanese"));
    EXPECT_EQ(WideToUtf8(e->GetText()), "Hello");
    EXPECT_EQ(e->GetPrefixWidths().size(), 5u);
}

// ---- Dynamic string ----

TEST_F(UiTextControls, DynaStringShowsANamedStringOrALiteralAndFollowsItsSize)
{
    ASSERT_TRUE(Load(R"(<DYNA_STRING Name="S" MinHSize="0" HStretch="0" VStretch="0" AppFont="Plain"
                                     _DisplayString="Hello"/>
                        <DYNA_STRING Name="NoFont" MinHSize="0" HStretch="0" VStretch="0" AppFont="Nope"/>
                        <DYNA_STRING Name="NoMin" HStretch="0" VStretch="0" AppFont="Plain"/>)"));
    auto* s = Find<KUiDynaString>("S");
    ASSERT_TRUE(s && s->GetImage());
    EXPECT_EQ(Find("NoFont"), nullptr);
    EXPECT_EQ(Find("NoMin"), nullptr);
    const int32_t hello = s->GetImage()->Width();
    EXPECT_EQ(s->GetLayout(true)->GetMinimumSize(), hello);
    EXPECT_EQ(s->GetRect()->Width(), hello);
    // The same literal twice changes nothing the second time; after the named string it shows again.
    KWString literal("Hi"), name("Hello"), unknown("Nope");
    EXPECT_TRUE(Send("S", u"SetText", &literal));
    EXPECT_TRUE(s->IsLiteral());
    const int32_t hi = s->GetImage()->Width();
    EXPECT_LT(hi, hello);
    Window()->RedrawIfDirty();
    EXPECT_TRUE(Send("S", u"SetText", &literal));
    EXPECT_TRUE(Window()->GetDirtyRects().empty());
    EXPECT_TRUE(Send("S", u"SetDisplayString", &name));
    EXPECT_FALSE(s->IsLiteral());
    EXPECT_EQ(s->GetImage()->Width(), hello);
    EXPECT_TRUE(Send("S", u"SetText", &literal));
    EXPECT_EQ(s->GetImage()->Width(), hi);
    // A name that matches no string: nothing shown, and no room taken.
    EXPECT_TRUE(Send("S", u"SetDisplayString", &unknown));
    EXPECT_EQ(s->GetImage(), nullptr);
    EXPECT_EQ(s->GetLayout(true)->GetMinimumSize(), 0);
    EXPECT_EQ(s->GetLayout(false)->GetMinimumSize(), 0);
    Window()->RedrawIfDirty();
    EXPECT_EQ(s->GetRect()->Width(), 0);
    // The named string in the other language, laid out again.
    EXPECT_TRUE(Send("S", u"SetDisplayString", &name));
    m_App->SetLanguage(KWString("Japanese"));
    ASSERT_TRUE(s->GetImage());
    EXPECT_NE(s->GetImage()->Width(), hello);
    Window()->RedrawIfDirty();
    EXPECT_EQ(s->GetRect()->Width(), s->GetImage()->Width());
    EXPECT_FALSE(Send("S", u"Other"));
}

// ---- Text array ----

TEST_F(UiTextControls, TextArrayChoosesAnEntryByNumberTextOrBool)
{
    ASSERT_TRUE(Load(R"(<TEXTARRAY Name="A" NumStrings="3" Font="DejaVu Sans" FontSize="12" Text1="Hello"
                                   Text3="a longer literal entry"/>
                        <TEXTARRAY Name="B" NumStrings="2" Font="DejaVu Sans" FontSize="12" Text1="off" Text2="on"
                                   _CenterJust="0" _RightJust="0"/>
                        <TEXTARRAY Name="None" NumStrings="0" Font="DejaVu Sans" FontSize="12"/>
                        <TEXTARRAY Name="Huge" NumStrings="2000000000" Font="DejaVu Sans" FontSize="12"/>)"));
    auto* a = Find<KUiTextArray>("A");
    auto* b = Find<KUiTextArray>("B");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(Find("None"), nullptr);
    EXPECT_EQ(Find("Huge"), nullptr);
    // A missing entry shows its own key.
    EXPECT_EQ(WideToUtf8(a->GetEntries()[1]), "Text2");
    // As large as the widest entry, whichever is shown.
    const int32_t widest = TextWidth("a longer literal entry");
    EXPECT_EQ(a->GetRect()->Width(), widest);
    EXPECT_EQ(a->GetLayout(true)->GetMinimumSize(), widest);
    const struct {
        const char16_t* message;
        int32_t number;
        const char* text;
        int32_t index;
    } cases[] = {
        {u"StringNum", -5, nullptr, 0},      {u"StringNum", 99, nullptr, 2},    {u"StringNum", 1, nullptr, 1},
        {u"StrStringNum", 0, " 2abc", 2},    {u"StrStringNum", 0, "-7", 0},     {u"StrStringNum", 0, "x", 0},
        {u"StrStringNum", 0, "99999999999", 2},
    };
    for (const auto& c : cases) {
        KWString text = c.text ? KWString(c.text) : KWString();
        int32_t number = c.number;
        EXPECT_TRUE(Send("A", c.message, c.text ? static_cast<void*>(&text) : &number));
        EXPECT_EQ(a->GetIndex(), c.index) << WideToUtf8(KWString(c.message)) << " " << c.number;
        EXPECT_EQ(a->GetRect()->Width(), widest);
    }
    bool yes = true, no = false;
    EXPECT_FALSE(Send("A", u"BoolString", &yes));
    EXPECT_EQ(a->GetIndex(), 2);
    EXPECT_TRUE(Send("B", u"BoolString", &yes));
    EXPECT_EQ(b->GetIndex(), 1);
    EXPECT_TRUE(Send("B", u"BoolString", &no));
    EXPECT_EQ(b->GetIndex(), 0);
    // Hidden: not drawn and not hit.
    const KRect r = *a->GetRect();
    EXPECT_EQ(a->HitTest(r.left, r.top), a);
    EXPECT_TRUE(Send("A", u"Hide"));
    EXPECT_EQ(a->HitTest(r.left, r.top), nullptr);
    EXPECT_TRUE(Send("A", u"Visibility", &yes));
    EXPECT_TRUE(a->IsVisible());
    EXPECT_TRUE(Send("A", u"ToggleVisibility"));
    EXPECT_FALSE(a->IsVisible());
    EXPECT_FALSE(Send("A", u"Other"));
}

TEST_F(UiTextControls, TextArrayEntriesFollowTheLanguageAndAreCentredByDefault)
{
    ASSERT_TRUE(Load(R"(<TEXTARRAY Name="A" NumStrings="2" Font="DejaVu Sans" FontSize="12" FontColor="#FF0000"
                                   Text1="Hello" Text2="WWWWWWWWWWWWWWWWWWWW"/>)"));
    auto* a = Find<KUiTextArray>("A");
    ASSERT_TRUE(a && a->GetImage());
    const int32_t english = a->GetImage()->Width();
    // Entry 0 is the display string, centred over the width of entry 1.
    const KRect r = *a->GetRect();
    const int32_t left = r.left + (r.Width() - english) / 2;
    int32_t firstInk = -1;
    for (int32_t x = r.left; x < r.right && firstInk < 0; ++x)
        for (int32_t y = r.top; y < r.bottom; ++y)
            if (Pixel(x, y) != kWhite) {
                firstInk = x;
                break;
            }
    EXPECT_GE(firstInk, left);
    EXPECT_LT(firstInk, left + 6);
    m_App->SetLanguage(KWString("Japanese"));
    ASSERT_TRUE(a->GetImage());
    EXPECT_NE(a->GetImage()->Width(), english);
}

// ---- Text list ----

TEST_F(UiTextControls, TextListStepsWithoutWrappingAndKeepsSixtyFourItems)
{
    std::string items;
    for (int i = 1; i <= 70; ++i)
        items += "<ITEM Name=\"n" + std::to_string(i) + "\" Value=\"" + std::to_string(i) + "\"/>";
    ASSERT_TRUE(Load(R"(<TEXTLIST Name="L" Font="DejaVu Sans" FontSize="12" FontColor="#000000" IncMsg="Up"
                                  DecMsg="Down" StartIndex="62">)" +
                     items + R"(</TEXTLIST>
                        <TEXTLIST Name="Same" Font="DejaVu Sans" FontSize="12" FontColor="#000000" IncMsg="Step"
                                  DecMsg="Step" StartIndex="99"><ITEM Name=""/><ITEM Name="a"/><ITEM Name="bb"/>
                                  <ITEM Name="c"/></TEXTLIST>
                        <TEXTLIST Name="Empty" Font="DejaVu Sans" FontSize="12" FontColor="#000000">
                                  <ITEM Name=""/></TEXTLIST>
                        <TEXTLIST Name="NoFont" FontSize="12" FontColor="#000000"><ITEM Name="a"/></TEXTLIST>)"));
    auto* l = Find<KUiTextList>("L");
    auto* same = Find<KUiTextList>("Same");
    ASSERT_TRUE(l && same);
    EXPECT_EQ(Find("Empty"), nullptr);
    EXPECT_EQ(Find("NoFont"), nullptr);
    ASSERT_EQ(l->GetNames().size(), 64u);
    EXPECT_EQ(WideToUtf8(l->GetNames().back()), "n64");
    EXPECT_EQ(l->GetValues()[63], 64);
    EXPECT_EQ(l->GetIndex(), 62u);
    EXPECT_TRUE(Send("L", u"Up"));
    EXPECT_EQ(l->GetIndex(), 63u);
    EXPECT_FALSE(Send("L", u"Up"));
    EXPECT_EQ(l->GetIndex(), 63u);
    EXPECT_FALSE(Send("L", u"Other"));
    // A start beyond the last item shows the last; one message for both steps back from the last item and
    // forward from any other.
    EXPECT_EQ(same->GetNames().size(), 3u);
    EXPECT_EQ(same->GetIndex(), 2u);
    EXPECT_EQ(same->GetRect()->Width(), TextWidth("c"));
    EXPECT_TRUE(Send("Same", u"Step"));
    EXPECT_EQ(same->GetIndex(), 1u);
    // The rectangle follows the name shown, the layout does not run.
    EXPECT_EQ(same->GetRect()->Width(), TextWidth("bb"));
    EXPECT_TRUE(Send("Same", u"Step"));
    EXPECT_EQ(same->GetIndex(), 2u);
    EXPECT_FALSE(Send("Same", u"Down"));
}

// ---- Reply forwarder ----

TEST_F(UiTextControls, ReplyForwarderPassesRepliesToALiveTargetOnly)
{
    ASSERT_TRUE(Load(R"(<REPLY_REQUEST Name="F"/><REPLY_REQUEST Name="G"/>)"));
    auto* f = Find<KUiReplyRequest>("F");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->GetRect()->Height(), 0);
    KWString x("x");
    EXPECT_FALSE(Send("F", u"Reply3", &x));
    KIUiRelay* recorder = Find<Recorder>("R");
    EXPECT_TRUE(Send("F", u"Relay", recorder));
    EXPECT_TRUE(Send("F", u"Reply3", &x));
    EXPECT_TRUE(Send("F", u"Reply"));
    EXPECT_EQ(Log(), (std::vector<std::string>{"Reply3 x", "Reply"}));
    EXPECT_FALSE(Send("F", u"Reply9"));
    EXPECT_FALSE(Send("F", u"Reply1"));
    // Arguments that are no relay object are refused and the target stays.
    EXPECT_FALSE(Send("F", u"Relay"));
    EXPECT_FALSE(Send("F", u"Relay", &x));
    EXPECT_FALSE(Send("F", u"Relay", f));
    EXPECT_EQ(f->GetTarget(), recorder);
    // Two forwarders pointing at each other pass a reply round once.
    EXPECT_TRUE(Send("F", u"Relay", Find<KUiReplyRequest>("G")));
    EXPECT_TRUE(Send("G", u"Relay", f));
    EXPECT_FALSE(Send("F", u"Reply2"));
    // A target that is gone answers nothing.
    auto* gone = new Recorder;
    EXPECT_TRUE(Send("F", u"Relay", static_cast<KIUiRelay*>(gone)));
    EXPECT_TRUE(Send("F", u"Reply"));
    delete gone;
    EXPECT_EQ(f->GetTarget(), nullptr);
    EXPECT_FALSE(Send("F", u"Reply"));
}

// ---- Clock ----

namespace {

int64_t g_Now = 0;
int64_t TestTime()
{
    return g_Now;
}

class UiClock : public UiTextControls {
protected:
    void SetUp() override
    {
        UiTextControls::SetUp();
        KUiClock::SetTimeSource(&TestTime);
    }
    void TearDown() override
    {
        UiTextControls::TearDown();
        KUiClock::SetTimeSource(nullptr);
    }
    std::string Clock(int64_t now, int offset)
    {
        g_Now = now;
        if (!Load("<CLOCK Name=\"C\" Font=\"DejaVu Sans\" FontSize=\"12\" FontColor=\"#000000\" GmtDelta=\"" +
                  std::to_string(offset) + "\"/>"))
            return "no script";
        auto* c = Find<KUiClock>("C");
        return c ? WideToUtf8(c->GetText()) : "no clock";
    }
};

constexpr int64_t kDay = 20000 * int64_t{86400};

}  // namespace

TEST_F(UiClock, HourIsUtcPlusTheOffsetWithinTheDay)
{
    const struct {
        int64_t now;
        int offset;
        const char* text;
    } cases[] = {
        {kDay + 20 * 3600 + 30 * 60, 9, "05:30"},  {kDay + 2 * 3600 + 7 * 60, -5, "21:07"},
        {kDay + 20 * 3600 + 30 * 60, 0, "20:30"},  {kDay + 20 * 3600 + 30 * 60, 100, "00:30"},
        {kDay + 2 * 3600 + 7 * 60, -100, "22:07"}, {kDay + 2 * 3600 + 7 * 60, -2147483647, "19:07"},
        {-60, 0, "23:59"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Clock(c.now, c.offset), c.text) << c.now << " " << c.offset;
}

TEST_F(UiClock, TextIsRenderedAgainWhenTheSecondChanges)
{
    ASSERT_EQ(Clock(kDay + 59, 0), "00:00");
    auto* c = Find<KUiClock>("C");
    const int32_t renders = c->GetRenderCount();
    Window()->Tick(0.01);
    Window()->Tick(0.01);
    EXPECT_EQ(c->GetRenderCount(), renders);
    g_Now = kDay + 60;
    Window()->Tick(0.01);
    EXPECT_EQ(c->GetRenderCount(), renders + 1);
    EXPECT_EQ(WideToUtf8(c->GetText()), "00:01");
    EXPECT_EQ(c->GetRect()->Width(), c->GetImage()->Width());
    g_Now = kDay + 61;
    Window()->Tick(0.01);
    EXPECT_EQ(c->GetRenderCount(), renders + 2);
}

TEST_F(UiClock, MissingFontKeyIsAScriptError)
{
    g_Now = kDay;
    try {
        Load(R"(<CLOCK Name="C" Font="DejaVu Sans" FontColor="#000000"/>)");
        ADD_FAILURE() << "no exception";
    } catch (const KExceptionUiScript& e) {
        EXPECT_STREQ(e.GetMessage(), "KUiClock::InitUiObject() failed: missing required font property(s)");
    }
}
