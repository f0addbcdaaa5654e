// Application fonts and display strings read from a script through the application: entries per language,
// attributes over the font's own, fallbacks, and the text they render.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "KGenericUiApp.h"
#include "KGenericUiPixmap.h"
#include "KStorage.h"
#include "KUiDateText.h"
#include "KUiFont.h"
#include "LumoStorageFixture.h"
#include "LumoTestSupport.h"
#include "PlatformShell.h"
#include "PlatformWindow.h"

namespace {

const char kScript[] = R"(<APP Name="T">
  <LANGUAGES><LANGUAGE Name="English" Default="1"/><LANGUAGE Name="German"/><LANGUAGE Name="French"/></LANGUAGES>
  <FONTS>
    <APPFONT Name="Plain" Height="16" Color="#102030FF">
      <MSWFONT>
        <English Fontname="DejaVu Sans"/>
        <German Fontname="DejaVu Sans" Bold="1"/>
        <Dutch Height="30"/>
      </MSWFONT>
    </APPFONT>
    <APPFONT Name="Elsewhere"><MACFONT><English Fontname="DejaVu Sans"/></MACFONT></APPFONT>
    <APPFONT><MSWFONT><English Fontname="DejaVu Sans"/></MSWFONT></APPFONT>
  </FONTS>
  <DISPLAY_STRING Name="Greeting" AppFont="Plain" Italic="1">
    <English Text="Hello"/><German Text="Hallo" Height="20"/><Dutch/>
  </DISPLAY_STRING>
  <DISPLAY_STRING Name="Lost" AppFont="AppFont"><English Text="Hello"/></DISPLAY_STRING>
  <DISPLAY_STRING Name="Silent" AppFont="Plain"><English/></DISPLAY_STRING>
  <DISPLAY_STRING Name="Unfonted"><English Text="Hello"/></DISPLAY_STRING>
  <WINDOW Name="Main"/>
</APP>)";

struct SurfaceDeleter {
    void operator()(KIUiPixmap* p) const { delete p; }
};
using Surface = std::unique_ptr<KIUiPixmap, SurfaceDeleter>;

// Sum of the alpha bytes.
int64_t Coverage(const KIUiPixmap* s)
{
    int64_t sum = 0;
    for (int32_t y = 0; y < s->Height(); ++y)
        for (int32_t x = 0; x < s->Width(); ++x)
            sum += s->GetAlpha(x, y);
    return sum;
}

class UiFont : public lumotest::StorageFixture {
protected:
    void SetUp() override
    {
        StorageFixture::SetUp();
        setenv("LUMO_UI", "headless", 1);
        std::string error;
        ASSERT_TRUE(PlatUiStart(error)) << error;
        std::string appData;
        ASSERT_TRUE(PlatGetSpecialFolderPath(PLAT_CSIDL_APPDATA, appData, true));
        lumotest::WriteText(Root() / "ui.xml", kScript);
        m_App.reset(CreateGenericUiApp());
        KWString leaf;
        KIFolder* folder = OpenFolderByURL(RootURL(), leaf, false);
        bool running = false;
        ASSERT_TRUE(m_App->LoadUiScript(folder, KWString("ui.xml"), running));
        m_Font = m_App->FindFont(KWString("Plain"));
        m_Greeting = m_App->FindDisplayString(KWString("Greeting"));
        ASSERT_TRUE(m_Font && m_Greeting);
    }
    void TearDown() override
    {
        m_App.reset();
        StorageFixture::TearDown();
    }
    KWString Language() const
    {
        const KUiFont::Entry* e = m_Font->GetCurrentEntry();
        return e ? e->language : KWString("(none)");
    }

    std::unique_ptr<KGenericUiApp> m_App;
    KUiFont* m_Font = nullptr;
    KUiMultiLangString* m_Greeting = nullptr;
};

}  // namespace

TEST_F(UiFont, ALanguageWithoutAnEntryKeepsTheFontAndFallsBackForStrings)
{
    // Entries without "Fontname" or "Text" are dropped.
    ASSERT_EQ(m_Font->GetEntries().size(), 2u);
    ASSERT_EQ(m_Greeting->GetEntries().size(), 2u);
    EXPECT_EQ(Language(), "English");
    EXPECT_EQ(*m_Greeting->GetCurrentText(), "Hello");

    m_App->SetLanguage(KWString("German"));
    EXPECT_EQ(Language(), "German");
    EXPECT_EQ(*m_Greeting->GetCurrentText(), "Hallo");

    EXPECT_FALSE(m_Font->SetLanguage(KWString("French")));
    EXPECT_EQ(Language(), "German");
    EXPECT_FALSE(m_Greeting->SetLanguage(KWString("French")));
    EXPECT_EQ(*m_Greeting->GetCurrentText(), "Hello");

    // The same through the application: the font keeps German, the string shows its first entry.
    m_App->SetLanguage(KWString("German"));
    m_App->SetLanguage(KWString("French"));
    EXPECT_EQ(Language(), "German");
    EXPECT_EQ(*m_Greeting->GetCurrentText(), "Hello");
    Surface text(m_Greeting->RenderText(nullptr, false));
    ASSERT_TRUE(text);
    EXPECT_EQ(text->Height(), 16);

    // Back in a language of both.
    m_App->SetLanguage(KWString("English"));
    EXPECT_EQ(Language(), "English");
    EXPECT_EQ(*m_Greeting->GetCurrentText(), "Hello");
}

TEST_F(UiFont, AnEntrySetsItsOwnAttributesOverTheFonts)
{
    const KUiFont::Entry& english = m_Font->GetEntries()[0];
    const KUiFont::Entry& german = m_Font->GetEntries()[1];
    EXPECT_FALSE(m_Font->GetAttributes().bold);
    EXPECT_FALSE(m_Font->GetAttributes().hasBold);
    EXPECT_FALSE(english.attributes.bold);
    EXPECT_FALSE(english.attributes.hasBold);
    EXPECT_TRUE(german.attributes.bold);
    EXPECT_TRUE(german.attributes.hasBold);
    // Values given on the font reach every entry with their flags.
    for (const KUiFont::Entry* e : {&english, &german}) {
        EXPECT_EQ(e->attributes.height, 16);
        EXPECT_TRUE(e->attributes.hasHeight);
        EXPECT_EQ(e->attributes.colour, KUiColor(0x10, 0x20, 0x30, 255));
        EXPECT_FALSE(e->attributes.hasItalic);
    }

    Surface regular(m_Font->RenderText(nullptr, KWString("Hamburgefonts"), false));
    ASSERT_TRUE(m_Font->SetLanguage(KWString("German")));
    std::vector<int32_t> widths(13);
    Surface bold(m_Font->RenderText(nullptr, KWString("Hamburgefonts"), widths.data(), false));
    ASSERT_TRUE(regular && bold);
    EXPECT_EQ(bold->Height(), 16);
    EXPECT_EQ(bold->Width(), widths.back() + 2);
    EXPECT_GT(Coverage(bold.get()), Coverage(regular.get()) * 11 / 10);
    KUiColor c;
    m_Font->GetColour(c);
    EXPECT_EQ(c, KUiColor(0x10, 0x20, 0x30, 255));
    int32_t height = 0, average = 0;
    m_Font->GetMetrics(nullptr, &height, &average);
    EXPECT_EQ(height, 16);
    EXPECT_GT(average, 0);

    // A string's attributes override its font entry's: German "Hallo" is italic, bold and 20 high.
    m_App->SetLanguage(KWString("German"));
    Surface hallo(m_Greeting->RenderText(nullptr, false));
    ASSERT_TRUE(hallo);
    EXPECT_EQ(hallo->Height(), 20);
    KUiTextAttributes override;
    override.italic = override.hasItalic = true;
    override.height = 20;
    override.hasHeight = true;
    Surface direct(m_Font->RenderText(&override, KWString("Hallo"), false));
    ASSERT_TRUE(direct);
    ASSERT_EQ(direct->Width(), hallo->Width());
    for (int32_t y = 0; y < hallo->Height(); ++y)
        for (int32_t x = 0; x < hallo->Width(); ++x)
            ASSERT_EQ(hallo->GetAlpha(x, y), direct->GetAlpha(x, y)) << x << "," << y;
}

TEST_F(UiFont, WhatCannotBeMadeIsNotCreated)
{
    EXPECT_EQ(m_App->FindDisplayString(KWString("Lost")), nullptr);      // unknown "AppFont"
    EXPECT_EQ(m_App->FindDisplayString(KWString("Unfonted")), nullptr);  // no "AppFont"
    EXPECT_EQ(m_App->FindDisplayString(KWString("Silent")), nullptr);    // no entry with "Text"
    EXPECT_EQ(m_App->FindFont(KWString("Elsewhere")), nullptr);          // no entry for this platform
    EXPECT_EQ(m_App->FindFont(KWString("")), nullptr);                   // no "Name"

    // A font with no current entry measures and renders nothing.
    KUiFont font(false, true);
    int32_t height = 7, average = 7;
    font.GetMetrics(nullptr, &height, &average);
    EXPECT_EQ(height, 0);
    EXPECT_EQ(average, 0);
    EXPECT_EQ(font.RenderText(nullptr, KWString("x"), false), nullptr);
    int32_t width = 0;
    EXPECT_FALSE(font.GetTextWidths(nullptr, KWString("x"), &width));
    KUiMultiLangString text;
    EXPECT_EQ(text.GetCurrentText(), nullptr);
    EXPECT_EQ(text.RenderText(nullptr, false), nullptr);
}

TEST(UiDateText, SecondsBecomeUtcCalendarDates)
{
    struct Case {
        uint32_t seconds;
        uint16_t year, month, day, hour, minute, second, weekday;
    } cases[] = {
        {0, 1970, 1, 1, 0, 0, 0, 4},
        {951782400, 2000, 2, 29, 0, 0, 0, 2},
        {4294967295u, 2106, 2, 7, 6, 28, 15, 0},
    };
    for (const Case& c : cases) {
        PlatSystemTime t{};
        ASSERT_TRUE(SecondsToSystemTime(c.seconds, &t)) << c.seconds;
        EXPECT_EQ(std::vector<int>({t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wDayOfWeek}),
                  std::vector<int>({c.year, c.month, c.day, c.hour, c.minute, c.second, c.weekday}))
            << c.seconds;
    }
    EXPECT_FALSE(SecondsToSystemTime(0, nullptr));
}
