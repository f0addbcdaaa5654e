// uitext as a user runs it: rendered lines as PNG files, prefix widths, metrics and date text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "KPNGLoader.h"
#include "KStorage.h"
#include "LumoStorageFixture.h"
#include "LumoTestSupport.h"

namespace {

const std::string kTool = LUMO_BINARY_DIR "/Tools/uitext/uitext";

struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    int maxAlpha = 0;
    int64_t coverage = 0;  // sum of alpha
    int covered = 0;       // pixels with alpha above 0
    bool onlyColour = true;  // every colour byte is the text colour
};

class Uitext : public lumotest::StorageFixture {
protected:
    std::string Out(const std::string& name) const { return "'" + Path(name).string() + "'"; }
    // Runs in Root(), so that relative names land there.
    int Status(const std::string& args) const
    {
        return lumotest::RunCommand("cd '" + Root().string() + "' && " + kTool + " " + args + " 2>/dev/null");
    }
    std::string Run(const std::string& args) const { return lumotest::CommandOutput(kTool + " " + args); }

    // The PNG file's size and coverage; colour the text colour (r, g, b).
    Picture Read(const std::string& name, uint8_t r, uint8_t g, uint8_t b)
    {
        Picture p;
        KIFile* file = OpenFileByURL(URL(name), KFILE_MODE_READ);
        EXPECT_NE(file, nullptr) << name;
        if (!file)
            return p;
        std::unique_ptr<KPNGPixmap> png(LoadPNGPixmap(file));
        EXPECT_TRUE(png) << name;
        if (!png)
            return p;
        file->Release();
        p.width = png->GetWidth();
        p.height = png->GetHeight();
        for (int32_t y = 0; y < p.height; ++y)
            for (int32_t x = 0; x < p.width; ++x) {
                const uint8_t* q = png->GetRow(y) + x * 4;
                p.maxAlpha = std::max<int>(p.maxAlpha, q[3]);
                p.coverage += q[3];
                p.covered += q[3] > 0;
                p.onlyColour = p.onlyColour && q[0] == b && q[1] == g && q[2] == r;
            }
        return p;
    }
    // Coverage of the columns [from, to) of the file.
    int64_t ColumnCoverage(const std::string& name, int32_t from, int32_t to)
    {
        KIFile* file = OpenFileByURL(URL(name), KFILE_MODE_READ);
        std::unique_ptr<KPNGPixmap> png(file ? LoadPNGPixmap(file) : nullptr);
        if (!png)
            return -1;
        file->Release();
        int64_t sum = 0;
        for (int32_t y = 0; y < png->GetHeight(); ++y)
            for (int32_t x = from; x < to && x < png->GetWidth(); ++x)
                sum += png->GetRow(y)[x * 4 + 3];
        return sum;
    }
};

std::vector<int> Numbers(const std::string& line)
{
    std::vector<int> out;
    std::istringstream in(line);
    for (int v; in >> v;)
        out.push_back(v);
    return out;
}

}  // namespace

TEST_F(Uitext, RendersHelloWithItsWidthsInHalfTransparentRed)
{
    const std::string args = "render --font 'DejaVu Sans' --height 21 --color '#FF000080' --widths Hello ";
    const std::string line = Run(args + Out("out.png"));
    const std::vector<int> widths = Numbers(line);
    ASSERT_EQ(widths.size(), 5u) << line;
    EXPECT_EQ(line.back(), '\n');
    for (size_t i = 1; i < widths.size(); ++i)
        EXPECT_GT(widths[i], widths[i - 1]) << line;
    EXPECT_GT(widths[0], 0);

    EXPECT_EQ(lumotest::CommandOutput("identify -format '%w %h' " + Out("out.png")),
              std::to_string(widths.back() + 2) + " 21");
    const Picture p = Read("out.png", 255, 0, 0);
    EXPECT_EQ(p.width, widths.back() + 2);
    EXPECT_EQ(p.height, 21);
    EXPECT_GT(p.maxAlpha, 0);
    EXPECT_LE(p.maxAlpha, 128);
    EXPECT_TRUE(p.onlyColour);
    // The pen starts at x = 1 and the line ends one pixel before the right edge: no glyph touches them.
    EXPECT_EQ(ColumnCoverage("out.png", 0, 1), 0);
    EXPECT_EQ(ColumnCoverage("out.png", p.width - 1, p.width), 0);

    // The same command gives the same bytes; without --widths it prints nothing.
    EXPECT_EQ(Run(args + Out("again.png")), line);
    EXPECT_EQ(lumotest::RunCommand("cmp -s " + Out("out.png") + " " + Out("again.png")), 0);
    EXPECT_EQ(Run("render --font 'DejaVu Sans' --height 21 --color '#FF000080' Hello " + Out("quiet.png")), "");
    EXPECT_EQ(lumotest::RunCommand("cmp -s " + Out("out.png") + " " + Out("quiet.png")), 0);

    // Opaque black, the default colour, reaches full coverage.
    ASSERT_EQ(Status("render --font 'DejaVu Sans' --height 21 Hello " + Out("black.png")), 0);
    const Picture black = Read("black.png", 0, 0, 0);
    EXPECT_EQ(black.maxAlpha, 255);
    EXPECT_TRUE(black.onlyColour);
    EXPECT_GT(black.covered, p.covered / 2);
}

TEST_F(Uitext, JapaneseIsDrawnByIPAGothicAndThroughFallback)
{
    for (const char* face : {"IPAGothic", "DejaVu Sans"}) {
        const std::string name = std::string(face) + ".png";
        const std::vector<int> widths =
            Numbers(Run(std::string("render --font '") + face + "' --height 16 --widths 日本語 " + Out(name)));
        ASSERT_EQ(widths.size(), 3u) << face;
        const Picture p = Read(name, 0, 0, 0);
        EXPECT_EQ(p.height, 16) << face;
        EXPECT_EQ(p.width, widths[2] + 2) << face;
        // Each character has ink of its own, a full-width glyph rather than a missing-glyph box.
        int previous = 0;
        for (int w : widths) {
            EXPECT_GT(ColumnCoverage(name, 1 + previous, 1 + w), 20 * 255) << face << " up to " << w;
            EXPECT_GE(w - previous, 12) << face;
            previous = w;
        }
    }
}

TEST_F(Uitext, BoldCoversMoreThanRegular)
{
    ASSERT_EQ(Status("render --font 'DejaVu Sans' --height 21 Hamburgefonts " + Out("regular.png")), 0);
    ASSERT_EQ(Status("render --font 'DejaVu Sans' --height 21 --bold Hamburgefonts " + Out("bold.png")), 0);
    const Picture regular = Read("regular.png", 0, 0, 0);
    const Picture bold = Read("bold.png", 0, 0, 0);
    EXPECT_GT(bold.coverage, regular.coverage * 11 / 10);
    EXPECT_EQ(bold.height, regular.height);

    // Italic and underline change the picture but not its cell.
    ASSERT_EQ(Status("render --font 'DejaVu Sans' --height 21 --italic Hamburgefonts " + Out("italic.png")), 0);
    ASSERT_EQ(Status("render --font 'DejaVu Sans' --height 21 --underline Hamburgefonts " + Out("under.png")), 0);
    EXPECT_NE(lumotest::RunCommand("cmp -s " + Out("regular.png") + " " + Out("italic.png")), 0);
    const Picture under = Read("under.png", 0, 0, 0);
    EXPECT_EQ(under.width, regular.width);
    EXPECT_GT(under.coverage, regular.coverage);
}

TEST_F(Uitext, MetricsAreTheCellAndTheAverageWidth)
{
    const std::vector<int> cell = Numbers(Run("metrics --font 'DejaVu Sans' --height 21"));
    ASSERT_EQ(cell.size(), 2u);
    EXPECT_EQ(cell[0], 21);
    EXPECT_GT(cell[1], 3);
    EXPECT_LT(cell[1], 21);
    // A negative height is the em: the cell around it is taller.
    const std::vector<int> em = Numbers(Run("metrics --font 'DejaVu Sans' --height -21"));
    ASSERT_EQ(em.size(), 2u);
    EXPECT_GT(em[0], 21);
    EXPECT_GE(em[1], cell[1]);
    EXPECT_EQ(Numbers(Run("metrics --font 'DejaVu Sans' --height 21 --bold")).size(), 2u);
}

TEST_F(Uitext, DatesAreUtcInTheUserFormat)
{
    EXPECT_EQ(lumotest::CommandOutput("LC_ALL=C.UTF-8 " + kTool + " date 0"), "01/01/70 00:00:00\n");
    EXPECT_EQ(lumotest::CommandOutput("env -u LC_ALL -u LC_TIME -u LANG " + kTool + " date 4294967295"),
              "02/07/06 06:28:15\n");
    EXPECT_EQ(lumotest::CommandOutput("LC_ALL=C.UTF-8 TZ=Asia/Tokyo " + kTool + " date 86399"),
              "01/01/70 23:59:59\n");
}

TEST_F(Uitext, WrongCommandLinesAreRefusedAndWriteNothing)
{
    struct Case {
        const char* args;
        int status;
    } cases[] = {
        {"", 2},
        {"frobnicate", 2},
        {"render --height 21 Hi x.png", 2},
        {"render --font 'DejaVu Sans' Hi x.png", 2},
        {"render --font '' --height 21 Hi x.png", 2},
        {"render --font 'DejaVu Sans' --height 2x Hi x.png", 2},
        {"render --font 'DejaVu Sans' --height 21 --color red Hi x.png", 2},
        {"render --font 'DejaVu Sans' --height 21 --color '#FF00008' Hi x.png", 2},
        {"render --font 'DejaVu Sans' --height 21 --color '#GG0000' Hi x.png", 2},
        {"render --font 'DejaVu Sans' --height 21 --sparkle Hi x.png", 2},
        {"render --font 'DejaVu Sans' --height 21 Hi", 2},
        {"render --font 'DejaVu Sans' --height 21 '' x.png", 1},
        {"render --font 'DejaVu Sans' --height 100000 Hi x.png", 1},
        {"render --font 'DejaVu Sans' --height 21 Hi missing/x.png", 1},
        {"metrics --font 'DejaVu Sans'", 2},
        {"metrics --font 'DejaVu Sans' --height 21 Hi", 2},
        {"metrics --font 'DejaVu Sans' --height 21 --widths", 2},
        {"metrics --font 'DejaVu Sans' --height 99999", 1},
        {"date", 2},
        {"date -1", 2},
        {"date 4294967296", 2},
        {"date 12abc", 2},
        {"date 1 2", 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Status(c.args), c.status) << c.args;
    EXPECT_TRUE(std::filesystem::is_empty(Root()));
}
