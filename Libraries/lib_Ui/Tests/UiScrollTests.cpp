// The scroll bar read from scripts on the headless backend, with the mkskins images: which scripts make a
// bar, its minimum and orientation, the thumb at the end of the range, keys, and pressing parts while the
// pointer leaves and comes back.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "KGenericUiApp.h"
#include "KGenericUiWindow.h"
#include "KIUiPixmap.h"
#include "KStorage.h"
#include "KUiObject.h"
#include "KUiMultiText.h"
#include "KUiScrollList.h"
#include "KUiScrollbar.h"
#include "KUiFont.h"
#include "KArray.h"
#include "KTextFunctions.h"
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

// ---- Scroll list and multi-line text, with a pinned font configuration ----

namespace {

class UiScrollOwners : public UiScrollbarScript {
protected:
    void SetUp() override
    {
        UiScrollbarScript::SetUp();
        // The DejaVu and IPA Gothic fonts only, so that text measures the same everywhere.
        fs::create_directories(Root() / "fontcache");
        lumotest::WriteText(Root() / "fonts.conf",
                            "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n"
                            "<dir>/usr/share/fonts/truetype/dejavu</dir>\n"
                            "<dir>/usr/share/fonts/opentype/ipafont-gothic</dir>\n<cachedir>" +
                                (Root() / "fontcache").string() + "</cachedir>\n</fontconfig>\n");
        setenv("FONTCONFIG_FILE", (Root() / "fonts.conf").c_str(), 1);
    }
    void TearDown() override
    {
        UiScrollbarScript::TearDown();
        unsetenv("FONTCONFIG_FILE");
    }
    // A script with the fonts and languages around body (in a VBOX "Col" of window "Main").
    bool LoadWithFonts(const std::string& body)
    {
        lumotest::WriteText(Root() / "ui.xml", R"(<APP Name="T">
          <LANGUAGES><LANGUAGE Name="English" Default="1"/><LANGUAGE Name="Japanese"/></LANGUAGES>
          <FONTS><APPFONT Name="Plain" Height="12"><MSWFONT><English Fontname="DejaVu Sans"/>
            <Japanese Fontname="IPAGothic"/></MSWFONT></APPFONT></FONTS>
          <DISPLAY_STRING Name="Body" AppFont="Plain"><English Text="One two three"/><Japanese Text="Ichi"/>
          </DISPLAY_STRING>
          <WINDOW Name="Main" BgColor="#FFFFFF"><VBOX Name="Col">)" + body + "</VBOX></WINDOW></APP>");
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
    static std::string VBar()
    {
        return Bar("SCROLLBAR", "v", "_Horizontal=\"0\" Stretch=\"1\" " + std::string(kColours) + kVKnurls);
    }
    // A multi-line text whose text area (left of its 14-pixel bar) is width wide and 120 high.
    std::string MultiText(int width, const std::string& keys = "AppFont=\"Plain\"", bool bar = true)
    {
        return "<MULTITEXT Name=\"M\" " + keys + " MinHSize=\"" + std::to_string(width + 14 - 1) +
               "\" MinVSize=\"120\" HStretch=\"0\" VStretch=\"0\">" + (bar ? VBar() : "") + "</MULTITEXT>";
    }
    std::vector<std::string> Lines(KUiMultiText* text)
    {
        text->BuildPage();
        std::vector<std::string> out;
        for (const auto& line : text->GetLines())
            out.push_back(WideToUtf8(line.text));
        return out;
    }
    static void SetText(KUiMultiText* text, const char* value)
    {
        KWString s = Utf8ToWide(value);
        text->UiRelayMessage(KWString("SetText"), &s);
    }
};

using UiScrollListDirect = UiScrollOwners;
using UiMultiText = UiScrollOwners;

}  // namespace

TEST_F(UiScrollListDirect, TheBarShowsTheRowsThatDoNotFit)
{
    ASSERT_TRUE(LoadWithFonts(R"(<SCROLLLIST Name="L" AppFont="Plain" MinHSize="100" MinVSize="120" HStretch="0"
        VStretch="0" SelectedFontColor="#FFFFFF" DisabledFontColor="#808080">)" + VBar() + "</SCROLLLIST>"));
    auto* list = Find<KUiScrollList>("T.Main.Col.L");
    ASSERT_TRUE(list);
    EXPECT_EQ(list->GetRowHeight(), 12);
    KUiScrollbar* bar = list->GetScrollbar();
    ASSERT_TRUE(bar);
    KArray<KWString> items;
    for (int i = 0; i < 25; ++i)
        items.Add(KWString(("i" + std::to_string(i)).c_str()));
    ASSERT_TRUE(list->UiRelayMessage(KWString("NewList"), &items));
    EXPECT_EQ((std::array<int32_t, 3>{bar->GetTotal(), bar->GetPage(), bar->GetPosition()}),
              (std::array<int32_t, 3>{25, 10, 0}));
    // The bar's own scrolling reaches the list as its first row.
    bar->MouseWheel(0, 0, 0, -40);
    EXPECT_EQ(list->GetFirstVisibleRow(), 15);
    // Five items fit: a full-length thumb and the first row 0.
    items.Clear();
    for (int i = 0; i < 5; ++i)
        items.Add(KWString("x"));
    ASSERT_TRUE(list->UiRelayMessage(KWString("NewList"), &items));
    EXPECT_EQ((std::array<int32_t, 3>{bar->GetTotal(), bar->GetPage(), bar->GetPosition()}),
              (std::array<int32_t, 3>{10, 10, 0}));
    EXPECT_EQ(list->GetFirstVisibleRow(), 0);
    // Commands that need an argument refuse none.
    for (const char* command : {"NewList", "NewListWithIDs", "AddToList", "AddToListWithID", "Scroll"})
        EXPECT_FALSE(list->UiRelayMessage(KWString(command), nullptr)) << command;
    EXPECT_TRUE(list->UiRelayMessage(KWString("EmptyList"), nullptr));
    EXPECT_EQ(list->GetItemCount(), 0);
}

TEST_F(UiScrollListDirect, ListsWithoutABarKeysOrRowsAreNotMade)
{
    const std::string keys = R"(MinHSize="100" MinVSize="120" HStretch="0" VStretch="0" SelectedFontColor="#FFFFFF")";
    const struct {
        const char* what;
        std::string body;
    } cases[] = {
        {"no bar", "<SCROLLLIST Name=\"L\" AppFont=\"Plain\" " + keys + " DisabledFontColor=\"#808080\"/>"},
        {"no DisabledFontColor", "<SCROLLLIST Name=\"L\" AppFont=\"Plain\" " + keys + ">" + VBar() + "</SCROLLLIST>"},
        {"no font", "<SCROLLLIST Name=\"L\" " + keys + " DisabledFontColor=\"#808080\">" + VBar() + "</SCROLLLIST>"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(LoadWithFonts(c.body)) << c.what;
        EXPECT_EQ(Find<KUiScrollList>("T.Main.Col.L"), nullptr) << c.what;
    }
}

TEST_F(UiMultiText, MarkersEndLinesAndBreakAddsABlankOne)
{
    ASSERT_TRUE(LoadWithFonts(MultiText(200, "AppFont=\"Plain\" MultiLine=\"Body\"")));
    auto* text = Find<KUiMultiText>("T.Main.Col.M");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->GetLineHeight(), 12);
    // The display string in the current language until a text is set.
    EXPECT_EQ(Lines(text), (std::vector<std::string>{"One two three"}));
    m_App->SetLanguage(KWString("Japanese"));
    EXPECT_EQ(Lines(text), (std::vector<std::string>{"Ichi"}));
    m_App->SetLanguage(KWString("English"));
    const struct {
        const char* text;
        std::vector<std::string> lines;
    } cases[] = {
        {"alpha<BR>beta", {"alpha", "", "beta"}},
        {"alpha<LF>beta", {"alpha", "beta"}},
        {"a<LF><LF><BR>b", {"a", "", "", "", "b"}},
        {"<lf>as typed<Br>", {"<lf>as typed<Br>"}},
        {"tail<BR>", {"tail", ""}},
        {"  lead\tand\nfeed", {"leadand feed"}},
        {"", {""}},
    };
    for (const auto& c : cases) {
        SetText(text, c.text);
        EXPECT_EQ(Lines(text), c.lines) << c.text;
    }
    // A text that fits leaves the bar at a full-length thumb and the first line at 0.
    EXPECT_EQ(text->GetScrollbar()->GetTotal(), 10);
    EXPECT_EQ(text->GetFirstLine(), 0);
}

TEST_F(UiMultiText, LinesBreakAtSpacesAndAWordTooWideIsCutAtTheLastCharacterThatFits)
{
    // Text area 60: 60 - margin 2 - 1 = 57 pixels of text.
    ASSERT_TRUE(LoadWithFonts(MultiText(60)));
    auto* text = Find<KUiMultiText>("T.Main.Col.M");
    ASSERT_TRUE(text);
    KUiFont* font = m_App->FindFont(KWString("Plain"));
    ASSERT_TRUE(font);
    auto width = [font](const std::string& s) {
        const KWString w = Utf8ToWide(s);
        std::vector<int32_t> widths(w.GetLength());
        return font->GetTextWidths(nullptr, w, widths.data()) && !widths.empty() ? widths.back() : 0;
    };
    SetText(text, "aa bb cc dd ee ff gg hh ii jj");
    std::vector<std::string> lines = Lines(text);
    ASSERT_GT(lines.size(), 1u);
    std::string joined;
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_LE(width(lines[i]), 57) << lines[i];
        EXPECT_NE(lines[i].front(), ' ');
        // The next word would not have fitted.
        if (i + 1 < lines.size()) {
            EXPECT_GT(width(lines[i] + " " + lines[i + 1].substr(0, 2)), 57) << lines[i];
        }
        joined += (i ? " " : "") + lines[i];
    }
    EXPECT_EQ(joined, "aa bb cc dd ee ff gg hh ii jj");

    SetText(text, "abcdefghijklmnopqrstuvwxyz");
    lines = Lines(text);
    ASSERT_GT(lines.size(), 1u);
    EXPECT_LE(width(lines[0]), 57);
    EXPECT_GT(width(lines[0] + lines[1].substr(0, 1)), 57);
    joined.clear();
    for (const std::string& l : lines)
        joined += l;
    EXPECT_EQ(joined, "abcdefghijklmnopqrstuvwxyz");
}

TEST_F(UiMultiText, NoJapaneseLineStartsWithAStopACommaOrALongVowelMark)
{
    ASSERT_TRUE(LoadWithFonts(MultiText(70)));
    auto* text = Find<KUiMultiText>("T.Main.Col.M");
    ASSERT_TRUE(text);
    m_App->SetLanguage(KWString("Japanese"));
    // Stops, commas and marks at every offset of a line of five or so characters.
    std::string source;
    for (int i = 0; i < 12; ++i)
        source += std::string("あいう") + (i % 3 == 0 ? "。" : i % 3 == 1 ? "、" : "ー") + std::string(i % 5, 'x');
    SetText(text, source.c_str());
    const std::vector<std::string> lines = Lines(text);
    ASSERT_GT(lines.size(), 4u);
    std::string joined;
    for (const std::string& l : lines) {
        ASSERT_FALSE(l.empty());
        for (const char* mark : {"。", "、", "ー"})
            EXPECT_NE(l.rfind(mark, 0), 0u) << l;
        joined += l;
    }
    EXPECT_EQ(joined, source);
    // An empty text is one blank line.
    SetText(text, "");
    EXPECT_EQ(Lines(text), (std::vector<std::string>{""}));
}

TEST_F(UiMultiText, AnAreaNarrowerThanAGlyphStillEndsAndLongTextsScroll)
{
    // Text area 3 pixels: no room for any glyph, one character a line.
    ASSERT_TRUE(LoadWithFonts(MultiText(3)));
    auto* text = Find<KUiMultiText>("T.Main.Col.M");
    ASSERT_TRUE(text);
    SetText(text, "narrow text");
    EXPECT_EQ(Lines(text), (std::vector<std::string>{"n", "a", "r", "r", "o", "w", "t", "e", "x", "t"}));
    // Ten lines of 12 pixels fit 120: no scrolling. A longer text scrolls by lines.
    EXPECT_EQ(text->GetScrollbar()->GetTotal(), 10);
    SetText(text, "abcdefghijklmnop");
    Lines(text);
    KUiScrollbar* bar = text->GetScrollbar();
    EXPECT_EQ((std::array<int32_t, 3>{bar->GetTotal(), bar->GetPage(), bar->GetPosition()}),
              (std::array<int32_t, 3>{16, 10, 0}));
    bar->MouseWheel(0, 0, 0, -3);
    EXPECT_EQ(text->GetFirstLine(), 3);
}

TEST_F(UiMultiText, WithoutItsFontOrItsBarNoTextIsMade)
{
    for (const std::string& body : {MultiText(100, "AppFont=\"Missing\""), MultiText(100, ""),
                                    MultiText(100, "AppFont=\"Plain\"", false)}) {
        ASSERT_TRUE(LoadWithFonts(body));
        EXPECT_EQ(Find<KUiMultiText>("T.Main.Col.M"), nullptr) << body;
    }
}
