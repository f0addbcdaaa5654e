#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "PlatformError.h"
#include "PlatformTestHelpers.h"
#include "PlatformText.h"

using plattest::ScopedEnv;

namespace {

struct FontDeleter {
    void operator()(PlatFont* f) const { PlatDeleteFont(f); }
};
using Font = std::unique_ptr<PlatFont, FontDeleter>;

Font MakeFont(const char16_t* face, int32_t height, bool bold = false, bool italic = false, bool underline = false)
{
    return Font(PlatCreateFont(face, height, bold ? PLAT_FW_BOLD : PLAT_FW_NORMAL, italic, underline,
                               PLAT_DEFAULT_CHARSET));
}

int32_t Extent(PlatFont* font, const std::u16string& text)
{
    int32_t cx = -1, cy = -1;
    EXPECT_TRUE(PlatGetTextExtent(font, text.data(), static_cast<int32_t>(text.size()), &cx, &cy));
    return cx;
}

// A line drawn into a black buffer 2 pixels wider than its extent, pen at x = 1.
struct Line {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels;

    Line(PlatFont* font, const std::u16string& text)
    {
        const int32_t n = static_cast<int32_t>(text.size());
        EXPECT_TRUE(PlatGetTextExtent(font, text.data(), n, &width, &height));
        width += 2;
        pixels.assign(size_t(width) * size_t(height) * 4, 0);
        EXPECT_TRUE(PlatDrawText(font, text.data(), n, pixels.data(), width, height, width * 4, 1, 0));
    }
    uint64_t Coverage() const
    {
        uint64_t sum = 0;
        for (size_t i = 0; i < pixels.size(); i += 4)
            sum += pixels[i + 1];
        return sum;
    }
    const uint8_t* At(int32_t x, int32_t y) const { return &pixels[(size_t(y) * size_t(width) + size_t(x)) * 4]; }
};

}  // namespace

TEST(PlatText, HeightsFollowTheCellAndEmRules)
{
    // DejaVu Sans: 2048 units an em, window ascent 1901, descent 483.
    struct Case {
        int32_t height, cell, ascent, descent;
    } cases[] = {
        {21, 21, 17, 4},   // cell: ascent = round(1901 x 21 / 2384)
        {16, 16, 13, 3},
        {-16, 19, 15, 4},  // em: ascent = round(1901 x 16 / 2048), descent = round(483 x 16 / 2048)
        {0, 16, 13, 3},    // the default cell
    };
    for (const Case& c : cases) {
        Font font = MakeFont(u"DejaVu Sans", c.height);
        ASSERT_TRUE(font) << c.height;
        PlatTextMetrics m{};
        ASSERT_TRUE(PlatGetTextMetrics(font.get(), &m));
        EXPECT_EQ(m.height, c.cell) << c.height;
        EXPECT_EQ(m.ascent, c.ascent) << c.height;
        EXPECT_EQ(m.descent, c.descent) << c.height;
        EXPECT_GT(m.aveCharWidth, 0) << c.height;
        EXPECT_LT(m.aveCharWidth, m.height) << c.height;
    }
}

TEST(PlatText, OnlyAnEmptyNameOrAWildHeightMakesNoFont)
{
    EXPECT_FALSE(MakeFont(u"", 21));
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(MakeFont(nullptr, 21));
    EXPECT_FALSE(MakeFont(u"DejaVu Sans", kPlatMaxFontHeight + 1));
    EXPECT_FALSE(MakeFont(u"DejaVu Sans", INT32_MIN));
    Font unknown = MakeFont(u"No Such Family Anywhere", 21);
    ASSERT_TRUE(unknown);
    EXPECT_GT(Extent(unknown.get(), u"Hello"), 0);
    PlatDeleteFont(nullptr);
    EXPECT_FALSE(PlatGetTextMetrics(nullptr, nullptr));
}

TEST(PlatText, PrefixWidthsGrowToTheExtent)
{
    Font font = MakeFont(u"DejaVu Sans", 21);
    ASSERT_TRUE(font);
    const std::u16string text = u"Hello";
    int32_t widths[5] = {};
    ASSERT_TRUE(PlatGetTextPrefixWidths(font.get(), text.data(), 5, widths));
    for (int i = 1; i < 5; ++i)
        EXPECT_GT(widths[i], widths[i - 1]);
    EXPECT_EQ(widths[4], Extent(font.get(), text));
    EXPECT_EQ(widths[0], Extent(font.get(), u"H"));

    // A surrogate pair: its first unit repeats the width before it. An unpaired unit stands for U+FFFD.
    const std::u16string pair = u"a\U0001F600b\xD800";
    int32_t w[5] = {};
    ASSERT_TRUE(PlatGetTextPrefixWidths(font.get(), pair.data(), 5, w));
    EXPECT_EQ(w[1], w[0]);
    EXPECT_GE(w[2], w[1]);
    EXPECT_GT(w[3], w[2]);
    EXPECT_EQ(w[4] - w[3], Extent(font.get(), u"\uFFFD"));
    EXPECT_EQ(w[4], Extent(font.get(), pair));
    EXPECT_TRUE(PlatGetTextPrefixWidths(font.get(), nullptr, 0, nullptr));
}

TEST(PlatText, DrawsWhiteCoverageAndLeavesAlpha)
{
    Font font = MakeFont(u"DejaVu Sans", 21);
    ASSERT_TRUE(font);
    Line line(font.get(), u"Hello");
    EXPECT_EQ(line.height, 21);
    EXPECT_GT(line.Coverage(), 0u);
    for (size_t i = 0; i < line.pixels.size(); i += 4) {
        EXPECT_EQ(line.pixels[i], line.pixels[i + 1]);
        EXPECT_EQ(line.pixels[i + 2], line.pixels[i + 1]);
        EXPECT_EQ(line.pixels[i + 3], 0);
    }
    // The column left of the pen is empty for an 'H'.
    for (int32_t y = 0; y < line.height; ++y)
        EXPECT_EQ(line.At(0, y)[1], 0);

    // Twice the same pixels.
    Line again(font.get(), u"Hello");
    EXPECT_EQ(again.pixels, line.pixels);
}

TEST(PlatText, BoldCoversMoreAndUnderlineDrawsARow)
{
    Font regular = MakeFont(u"DejaVu Sans", 21);
    Font bold = MakeFont(u"DejaVu Sans", 21, true);
    Font underlined = MakeFont(u"DejaVu Sans", 21, false, false, true);
    ASSERT_TRUE(regular && bold && underlined);
    EXPECT_GT(Line(bold.get(), u"Hello").Coverage(), Line(regular.get(), u"Hello").Coverage());

    Line plain(regular.get(), u"Hello");
    Line under(underlined.get(), u"Hello");
    ASSERT_EQ(under.width, plain.width);
    int fullRows = 0;
    for (int32_t y = 0; y < under.height; ++y) {
        bool full = true;
        for (int32_t x = 1; x < under.width - 1; ++x)
            full = full && under.At(x, y)[1] == 255;
        fullRows += full;
    }
    EXPECT_GE(fullRows, 1);
    EXPECT_GT(under.Coverage(), plain.Coverage());
}

TEST(PlatText, ItalicOfAFaceWithoutOneIsSlanted)
{
    // IPAGothic has no italic face: the match asks for a synthetic oblique.
    Font upright = MakeFont(u"IPAGothic", 21);
    Font slanted = MakeFont(u"IPAGothic", 21, false, true);
    ASSERT_TRUE(upright && slanted);
    EXPECT_NE(Line(slanted.get(), u"l").pixels, Line(upright.get(), u"l").pixels);
}

TEST(PlatText, MissingCharactersComeFromTheNextFace)
{
    Font latin = MakeFont(u"DejaVu Sans", 16);
    Font japanese = MakeFont(u"IPAGothic", 16);
    ASSERT_TRUE(latin && japanese);
    for (PlatFont* font : {latin.get(), japanese.get()}) {
        Line line(font, u"日本語");
        EXPECT_GT(line.Coverage(), 0u);
        EXPECT_GT(line.width, 2 + 3 * 8);
        // Real glyphs, not three copies of a missing-glyph box.
        EXPECT_NE(Line(font, u"日").pixels, Line(font, u"本").pixels);
    }
}

TEST(PlatText, DrawingIsClippedToThePixels)
{
    Font font = MakeFont(u"DejaVu Sans", 40, false, false, true);
    ASSERT_TRUE(font);
    const std::u16string text = u"Clipped gjW";
    std::vector<uint8_t> pixels(10 * 8 * 4, 0);
    for (int32_t x : {-300, -5, 0, 3, 9, 10, 500})
        for (int32_t y : {-60, -10, 0, 5, 8, 100})
            EXPECT_TRUE(PlatDrawText(font.get(), text.data(), int32_t(text.size()), pixels.data(), 10, 8, 40, x, y));
    EXPECT_FALSE(PlatDrawText(font.get(), text.data(), int32_t(text.size()), pixels.data(), 10, 8, 39, 0, 0));
}

TEST(PlatText, TheUserLanguageComesFromTheLocaleVariables)
{
    struct Case {
        const char* all;
        const char* ctype;
        const char* lang;
        uint16_t id;
    } cases[] = {
        {"ja_JP.UTF-8", nullptr, nullptr, 0x0411},
        {nullptr, "ja_JP.eucJP", "en_US.UTF-8", 0x0411},
        {"", nullptr, "ja", 0x0411},
        {"C.UTF-8", nullptr, "ja_JP.UTF-8", 0x0409},
        {nullptr, nullptr, "jam_JM", 0x0409},
        {nullptr, nullptr, nullptr, 0x0409},
    };
    for (const Case& c : cases) {
        ScopedEnv all("LC_ALL", c.all);
        ScopedEnv ctype("LC_CTYPE", c.ctype);
        ScopedEnv lang("LANG", c.lang);
        EXPECT_EQ(PlatGetUserDefaultLangID(), c.id) << (c.all ? c.all : "-") << (c.ctype ? c.ctype : "-");
    }
}
