// The directory tree end to end through uirun on the headless backend, over a scratch machine of its own for
// each test: C: a folder tree, E: a removable drive without medium, F: a CD-ROM, N: a network drive, Z: the
// test's files (the script and its images, from mkskins). What reaches a test probe through the tree's events,
// and the dumped pixels. Rows are 16 pixels high (the 16 x 16 icons); a volume's expander is centred at x 10,
// its icon at x 30, its label starts at x 42, and each level is 20 pixels further right.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "KPNGLoader.h"
#include "KStorage.h"
#include "LumoStorageFixture.h"
#include "LumoTestSupport.h"
#include "UirunTestSupport.h"

namespace fs = std::filesystem;

namespace {

using namespace uiruntest;
const std::string kLumofs = LUMO_BINARY_DIR "/Tools/lumofs/lumofs";
const std::string kUitext = LUMO_BINARY_DIR "/Tools/uitext/uitext";


const Rgb kWhite{255, 255, 255};
const Rgb kSelectedBg{32, 64, 192};
const Rgb kCorner{0, 255, 0};
// The mkskins tree icons.
const Rgb kDiskIcon{120, 120, 140};
const Rgb kRemovableIcon{140, 120, 120};
const Rgb kCdRomIcon{200, 200, 230};
const Rgb kFolderIcon{230, 200, 80};
const Rgb kOpenFolderIcon{250, 220, 120};
const Rgb kClosedExpander{80, 80, 80};
const Rgb kOpenExpander{20, 20, 20};

constexpr int kRow = 16;


// What the probe printed (without its path), and the lines of "sh echo", in order.
std::vector<std::string> ProbeLines(const std::string& out)
{
    const std::string prefix = "T.Main.Col.P ";
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(prefix, 0) == 0) {
            const std::string rest = line.substr(prefix.size());
            if (rest != "Post Creation Initialization" && rest != "we're goin' bye-bye")
                lines.push_back(rest);
        } else if (line.rfind("STEP ", 0) == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::vector<std::string> Only(const std::vector<std::string>& lines, const std::string& prefix)
{
    std::vector<std::string> out;
    for (const std::string& l : lines)
        if (l.rfind(prefix, 0) == 0)
            out.push_back(l);
    return out;
}

struct TreeOptions {
    int height = 100;
    bool hbar = false;
    std::string appKeys;      // on the APP element
    std::string appChildren;  // first in the APP element
    std::string treeKeys;     // on the DIRTREE element
    std::string probeKeys;  // on the probe
};

class UiDirTree : public lumotest::StorageFixture {
protected:
    void SetUp() override
    {
        StorageFixture::SetUp();
        for (const char* d : {"c", "f", "n", "t"})
            fs::create_directories(Root() / d);
        for (const char* skin : {"tree_disk", "tree_removable", "tree_cdrom", "tree_folder", "tree_folder_open",
                                 "tree_closed", "tree_open", "vscroll_a_normal", "vscroll_a_pressed", "vscroll_b_normal",
                                 "vscroll_b_pressed", "vscroll_thumb", "vscroll_knurls", "hscroll_a_normal",
                                 "hscroll_a_pressed", "hscroll_b_normal", "hscroll_b_pressed", "hscroll_thumb",
                                 "hscroll_knurls", "cursor_nodrop", "cursor_drop"})
            fs::copy_file(std::string(LUMO_BINARY_DIR "/skins/") + skin + ".png", Root() / "t" / (std::string(skin) + ".png"),
                          fs::copy_options::overwrite_existing);
        lumotest::WriteText(Machine() / "drives", "# the test machine\n"
                                                  "C fixed " + Path("c").string() + "\n"
                                                  "E removable " + Path("nomedium").string() + "\n"
                                                  "F cdrom " + Path("f").string() + "\n"
                                                  "N network " + Path("n").string() + "\n"
                                                  "Z fixed " + Root().string() + "\n");
    }
    void Folders(std::initializer_list<const char*> paths)
    {
        for (const char* p : paths)
            fs::create_directories(Root() / "c" / fs::u8path(p));
    }
    static std::string Script(const TreeOptions& o)
    {
        const std::string v = "<VSCROLLBAR Stretch=\"1\" BgColor=\"#E0E0E0\" BgClickColor=\"#606060\" "
                              "File_ButtonANormal=\"vscroll_a_normal.png\" File_ButtonAPressed=\"vscroll_a_pressed.png\" "
                              "File_ButtonBNormal=\"vscroll_b_normal.png\" File_ButtonBPressed=\"vscroll_b_pressed.png\" "
                              "File_Slider=\"vscroll_thumb.png\" File_SliderKnurls=\"vscroll_knurls.png\" "
                              "SliderResizeRect=\"4, 4, 8, 15\"/>";
        const std::string h = "<HSCROLLBAR Stretch=\"1\" BgColor=\"#E0E0E0\" BgClickColor=\"#606060\" "
                              "File_ButtonANormal=\"hscroll_a_normal.png\" File_ButtonAPressed=\"hscroll_a_pressed.png\" "
                              "File_ButtonBNormal=\"hscroll_b_normal.png\" File_ButtonBPressed=\"hscroll_b_pressed.png\" "
                              "File_Slider=\"hscroll_thumb.png\" File_SliderKnurls=\"hscroll_knurls.png\" "
                              "SliderResizeRect=\"4, 4, 15, 8\"/>";
        return "<APP Name=\"T\" " + o.appKeys + ">" + o.appChildren +
               "<WINDOW Name=\"Main\" BgColor=\"#FFFFFF\"><VBOX Name=\"Col\">"
               "<DIRTREE Name=\"Tree\" " + o.treeKeys + " MinHSize=\"150\" MinVSize=\"" + std::to_string(o.height) +
               "\" HStretch=\"0\" VStretch=\"0\" Font=\"DejaVu Sans\" FontSize=\"12\" FontColor=\"#000000\" "
               "SelectedFontColor=\"#FFFFFF\" SelectedBgColor=\"#2040C0\" DisabledFontColor=\"#A0A0A0\" "
               "LowerLeftColor=\"#00FF00\" File_DiskIcon=\"tree_disk.png\" File_RemovableDiskIcon=\"tree_removable.png\" "
               "File_CDRomIcon=\"tree_cdrom.png\" File_FolderIcon=\"tree_folder.png\" "
               "File_OpenFolderIcon=\"tree_folder_open.png\" File_IsClosedIcon=\"tree_closed.png\" "
               "File_IsOpenIcon=\"tree_open.png\">" + v + (o.hbar ? h : "") +
               "<ON_DIRSELECTED Relay=\"T.Main.Col.P\" Message=\"Dir\"/>"
               "<SIZECHANGED Relay=\"T.Main.Col.P\" Message=\"Size\"/>"
               "<ON_COPY_FILE Relay=\"T.Main.Col.P\" Message=\"Copy\"/></DIRTREE>"
               "<TEST_PROBE Name=\"P\" MinHSize=\"151\" MinVSize=\"20\" Kinds=\"Dir:s,Size:ddd,Copy:ss\" " + o.probeKeys +
               "/></VBOX></WINDOW></APP>";
    }
    // Writes the script as t/ui.xml and the events, runs uirun on the headless backend on the test's machine.
    RunResult Run(const TreeOptions& o, const std::string& events)
    {
        lumotest::WriteText(Root() / "t/ui.xml", Script(o));
        lumotest::WriteText(Root() / "e", events);
        RunResult r;
        const std::string out = (Root() / "stdout").string(), err = (Root() / "stderr").string();
        r.status = lumotest::RunCommand("cd " + Root().string() + " && LUMO_UI=headless timeout 300 " + kUirun +
                                        " --folder " + (Root() / "t").string() + " --events " +
                                        (Root() / "e").string() + " >" + out + " 2>" + err);
        r.out = lumotest::ReadText(out);
        r.err = lumotest::ReadText(err);
        return r;
    }
    std::string Dump(const std::string& name) const { return "dump T.Main " + (Root() / name).string() + "\n"; }
    std::unique_ptr<KPNGPixmap> Png(const std::string& name) { return uiruntest::Png(Root() / name); }
    // Pixels of a row from x to the vertical bar that satisfy test.
    template <class Test>
    static int CountInRow(const KPNGPixmap& p, int row, int x, Test test)
    {
        int n = 0;
        for (int y = row * kRow; y < (row + 1) * kRow; ++y)
            for (int xx = x; xx < 137; ++xx)
                n += test(At(p, xx, y)) ? 1 : 0;
        return n;
    }
    static int CountInRow(const KPNGPixmap& p, int row, int x, const Rgb& colour)
    {
        return CountInRow(p, row, x, [&](const Rgb& c) { return c == colour; });
    }
    // Small anti-aliased text has few fully covered pixels: black text shows as dark greys, the disabled
    // colour (160) only as lighter ones, white text on the selection band as pixels far redder than the band.
    static int DarkText(const KPNGPixmap& p, int row, int x)
    {
        return CountInRow(p, row, x, [](const Rgb& c) { return c[0] < 96 && c[0] == c[1] && c[1] == c[2]; });
    }
    static int GreyText(const KPNGPixmap& p, int row, int x)
    {
        return CountInRow(p, row, x, [](const Rgb& c) { return c[0] < 230 && c[0] == c[1] && c[1] == c[2]; });
    }
    static int SelectedText(const KPNGPixmap& p, int row, int x)
    {
        return CountInRow(p, row, x, [](const Rgb& c) { return c[0] > 150 && c[2] > 220; });
    }
    // Whether the dark pixels of a row's label are the text as uitext renders it: inked where the text is
    // mostly opaque, blank where it is mostly clear.
    bool LabelIs(const KPNGPixmap& dump, int row, int depth, const std::string& text, bool bold = false)
    {
        const std::string file = (Root() / "label.png").string();
        if (lumotest::RunCommand(kUitext + " render --font 'DejaVu Sans' --height 12 --color '#000000' " +
                                 (bold ? "--bold '" : "'") + text + "' " + file + " >/dev/null") != 0)
            return false;
        auto label = Png("label.png");
        if (!label)
            return false;
        const int x0 = 42 + 20 * (depth - 1), y0 = row * kRow + (kRow - label->GetHeight()) / 2;
        int checked = 0;
        for (int y = 0; y < label->GetHeight(); ++y)
            for (int x = 0; x < label->GetWidth() && x0 + x < 137; ++x) {
                const int alpha = label->GetRow(y)[x * 4 + 3];
                const int grey = At(dump, x0 + x, y0 + y)[1];
                if ((alpha >= 170 && grey > 100) || (alpha <= 80 && grey < 160))
                    return false;
                checked += alpha >= 170;
            }
        return checked > 0;
    }
};

}  // namespace

TEST_F(UiDirTree, SelectDirOpensTheAncestorsAndRefreshDropsAFolderThatWentAway)
{
    Folders({"a/b", "a/A", "a/.x"});
    RunResult r = Run({}, "relay T.Main.Col.Tree SelectDir s:disk://C/a/b\n" + Dump("selected.png") +
                              "sh rm -r c/a/b\nrelay T.Main.Col.Tree Refresh\n" + Dump("refreshed.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    // Rows C, a, A, b, E, F, N, Z: eight, six of them in 100 pixels; after the refresh b is gone.
    EXPECT_EQ(ProbeLines(r.out), (std::vector<std::string>{"Dir disk://C/a/b/", "Size 8,6,0", "Dir", "Size 7,6,0"}))
        << r.out;
    auto png = Png("selected.png");
    ASSERT_TRUE(png);
    // C and a are open; b's row is a band of the selection colour with its label in the selected colour.
    EXPECT_EQ(At(*png, 10, 8), kOpenExpander);
    EXPECT_EQ(At(*png, 30, 8), kDiskIcon);
    EXPECT_EQ(At(*png, 30, kRow + 8), kOpenExpander);
    EXPECT_EQ(At(*png, 50, kRow + 8), kOpenFolderIcon);
    EXPECT_EQ(At(*png, 70, 2 * kRow + 8), kFolderIcon);
    EXPECT_EQ(At(*png, 130, 2 * kRow + 8), kWhite);
    for (int x : {0, 20, 130, 136})
        EXPECT_EQ(At(*png, x, 3 * kRow + 8), kSelectedBg) << x;
    EXPECT_EQ(At(*png, 70, 3 * kRow + 8), kFolderIcon);
    EXPECT_GT(SelectedText(*png, 3, 82), 0);
    png = Png("refreshed.png");
    ASSERT_TRUE(png);
    for (int row = 0; row < 6; ++row)
        EXPECT_EQ(CountInRow(*png, row, 0, kSelectedBg), 0) << row;
}

TEST_F(UiDirTree, FoldersSortWithoutCaseHiddenOnesStayOutAndEscapedNamesRoundTrip)
{
    Folders({"a/b", "a/A", "a/.x", "a/it's #1"});
    const std::string urlFile = (Root() / "url").string();
    ASSERT_EQ(lumotest::RunCommand(kLumofs + " url \"" + Path("c/a/it's #1").string() + "\" >" + urlFile), 0);
    std::string url = lumotest::ReadText(urlFile);
    while (!url.empty() && (url.back() == '\n' || url.back() == '\r'))
        url.pop_back();
    ASSERT_EQ(url, "disk://C/a/it%0027s %00231");
    RunResult r = Run({}, "relay T.Main.Col.Tree SelectDir s:disk://C/a\nmouse T.Main 60 5\n"
                          "key T.Main 145\nkey T.Main 145\nkey T.Main 19\nkey T.Main 19\n" + Dump("sorted.png") +
                          "key T.Main 146\nrelay T.Main.Col.Tree SelectDir s:" + url + "\n");
    ASSERT_EQ(r.status, 0) << r.err;
    // A, b and it's #1 under a (nine rows), never .x.
    EXPECT_EQ(Only(ProbeLines(r.out), "Dir"),
              (std::vector<std::string>{"Dir disk://C/a/", "Dir disk://C/a/", "Dir disk://C/a/A/", "Dir disk://C/a/b/",
                                        "Dir disk://C/a/it%0027s %00231/", "Dir disk://C/a/",
                                        "Dir " + url + "/"}))
        << r.out;
    EXPECT_EQ(Only(ProbeLines(r.out), "Size").back(), "Size 9,6,0");
    auto png = Png("sorted.png");
    ASSERT_TRUE(png);
    EXPECT_TRUE(LabelIs(*png, 1, 2, "a"));
    EXPECT_TRUE(LabelIs(*png, 2, 3, "A"));
    EXPECT_TRUE(LabelIs(*png, 3, 3, "b"));
    EXPECT_FALSE(LabelIs(*png, 2, 3, "b"));
    EXPECT_GT(SelectedText(*png, 4, 82), 0);
}

TEST_F(UiDirTree, SlowVolumesWaitForAClickAndOneWithoutMediumIgnoresIt)
{
    Folders({"a"});
    fs::create_directories(Path("f/photos"));
    fs::create_directories(Path("n/share"));
    RunResult r = Run({}, "relay T.Main.Col.Tree GetSelectedDir\n" + Dump("start.png") +
                              "click T.Main 60 24\nclick T.Main 60 8\nclick T.Main 60 56\n" + Dump("clicked.png") +
                              "click T.Main 60 95\n");
    ASSERT_EQ(r.status, 0) << r.err;
    // Nothing selected at first; E: (no medium) takes no click; a click below the rows repeats the selection.
    EXPECT_EQ(Only(ProbeLines(r.out), "Dir"),
              (std::vector<std::string>{"Dir", "Dir disk://C/", "Dir disk://N/", "Dir disk://N/"}))
        << r.out;
    auto png = Png("start.png");
    ASSERT_TRUE(png);
    // Rows C, E, F, N, Z: icons by drive type; E: and N: not listed yet, so without expander and grey.
    const Rgb icons[] = {kDiskIcon, kRemovableIcon, kCdRomIcon, kDiskIcon, kDiskIcon};
    const Rgb expanders[] = {kClosedExpander, kWhite, kClosedExpander, kWhite, kClosedExpander};
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(At(*png, 30, row * kRow + 8), icons[row]) << row;
        EXPECT_EQ(At(*png, 10, row * kRow + 8), expanders[row]) << row;
        const bool slow = row == 1 || row == 3;
        EXPECT_GT(GreyText(*png, row, 42), 0) << row;
        EXPECT_EQ(DarkText(*png, row, 42) > 0, !slow) << row;
    }
    png = Png("clicked.png");
    ASSERT_TRUE(png);
    // N: was listed when selected: its expander shows.
    EXPECT_EQ(At(*png, 10, 3 * kRow + 8), kClosedExpander);
    EXPECT_EQ(At(*png, 130, 3 * kRow + 8), kSelectedBg);
    EXPECT_EQ(DarkText(*png, 1, 42), 0);
    EXPECT_GT(DarkText(*png, 0, 42), 0);
}

TEST_F(UiDirTree, KeysWalkOpenAndCloseTheTree)
{
    Folders({"a/A", "a/b"});
    RunResult r = Run({}, "relay T.Main.Col.Tree SelectDir s:disk://C/a\nmouse T.Main 60 5\n"
                          "key T.Main 145\nkey T.Main 145\nkey T.Main 19\nkey T.Main 14\nkey T.Main 146\n"
                          "key T.Main 13\nkey T.Main 13\nkey T.Main a\n"
                          // Without focus (the pointer left) keys reach nothing.
                          "mouse T.Main 60 110\nkey T.Main 19\n");
    ASSERT_EQ(r.status, 0) << r.err;
    // Rows C, a, E, F, N, Z fit in six; with A and b there are eight.
    EXPECT_EQ(ProbeLines(r.out), (std::vector<std::string>{"Dir disk://C/a/", "Size 10,10,0",
                                                           "Size 8,6,0", "Dir disk://C/a/",
                                                           "Dir disk://C/a/A/", "Size 8,6,0",
                                                           "Dir disk://C/a/b/", "Size 8,6,0",
                                                           "Dir disk://C/a/A/", "Size 8,6,0",
                                                           "Dir disk://C/a/", "Size 8,6,0",
                                                           "Size 10,10,0",
                                                           "Size 8,6,0", "Dir disk://C/a/"}))
        << r.out;
}

TEST_F(UiDirTree, DropsReachWritableFoldersOnly)
{
    Folders({"a", "ro"});
    fs::permissions(Path("c/ro"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    TreeOptions o;
    o.appKeys = "File_DragAndDropCursorNo=\"cursor_nodrop.png\" DragAndDropCursorNo_X=\"3\" DragAndDropCursorNo_Y=\"3\" "
                "File_DragAndDropCursorYes=\"cursor_drop.png\" DragAndDropCursorYes_X=\"7\" DragAndDropCursorYes_Y=\"3\"";
    o.probeKeys = "DragPayload=\"disk://Z/photo.kzr\"";
    // Rows C, a, ro, E, F, N, Z once a is selected; the probe is below the tree.
    RunResult r = Run(o, "relay T.Main.Col.Tree SelectDir s:disk://C/a\n"
                         "down T.Main 10 110\nmouse T.Main 20 110\nmouse T.Main 60 24\ncursor T.Main\nup T.Main 60 24\n"
                         "down T.Main 10 110\nmouse T.Main 20 110\nmouse T.Main 60 40\ncursor T.Main\nup T.Main 60 40\n"
                         "down T.Main 10 110\nmouse T.Main 20 110\nmouse T.Main 60 8\nup T.Main 60 8\n");
    fs::permissions(Path("c/ro"), fs::perms::owner_write, fs::perm_options::add);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Only(ProbeLines(r.out), "Copy"),
              (std::vector<std::string>{"Copy disk://Z/photo.kzr|disk://C/a/", "Copy disk://Z/photo.kzr|disk://C/"}))
        << r.out;
    EXPECT_NE(r.out.find("custom 7 3\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("custom 3 3\n"), std::string::npos) << r.out;
}

TEST_F(UiDirTree, TwentyRefreshesWhileFoldersComeAndGoReportOnlyFoldersThatExist)
{
    Folders({"w/keep", "w/k1/deep"});
    // Round i: k<i>/deep and m<i> appear, k<i-1> and m<i-3> go; then the tree is refreshed (its selection, in
    // k<i-1>, goes with it), a folder in the new k<i> is selected and the keys walk around it.
    std::string events = "relay T.Main.Col.Tree SelectDir s:disk://C/w/k1/deep\nmouse T.Main 60 5\n";
    std::vector<std::set<std::string>> exists(22);
    exists[0] = {"C", "C/w", "C/w/keep", "C/w/k1", "C/w/k1/deep"};
    for (int i = 2; i <= 21; ++i) {
        const std::string k = "k" + std::to_string(i), m = "m" + std::to_string(i);
        events += "sh mkdir -p c/w/" + k + "/deep c/w/" + m + " && rm -r c/w/k" + std::to_string(i - 1);
        if (i >= 5)
            events += " && rm -r c/w/m" + std::to_string(i - 3);
        events += " && echo STEP " + std::to_string(i) + "\n";
        events += "relay T.Main.Col.Tree Refresh\nrelay T.Main.Col.Tree SelectDir s:disk://C/w/" + k + "/deep\n";
        events += i % 2 ? "key T.Main 146\nkey T.Main 14\nkey T.Main 19\n" : "key T.Main 14\nkey T.Main 13\n";
        if (i % 5 == 0)
            events += "click T.Main 60 8\nclick T.Main 10 8\nclick T.Main 10 8\n";
        std::set<std::string>& now = exists[i];
        now = {"C", "C/w", "C/w/keep", "C/w/" + k, "C/w/" + k + "/deep"};
        for (int j = std::max(2, i - 2); j <= i; ++j)
            now.insert("C/w/m" + std::to_string(j));
    }
    RunResult r = Run({}, events);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("AddressSanitizer"), std::string::npos) << r.err;
    int step = 0, empties = 0, named = 0;
    for (const std::string& line : ProbeLines(r.out)) {
        if (line.rfind("STEP ", 0) == 0) {
            step = std::stoi(line.substr(5));
            continue;
        }
        if (line == "Dir") {
            ++empties;
            continue;
        }
        if (line.rfind("Dir disk://", 0) != 0)
            continue;
        std::string path = line.substr(11);
        if (!path.empty() && path.back() == '/')
            path.pop_back();
        EXPECT_TRUE(exists[step].count(path)) << "step " << step << ": " << line;
        ++named;
    }
    // Each refresh dropped the selection once; each round named folders.
    EXPECT_GE(empties, 15);
    EXPECT_GE(named, 60);
}

TEST_F(UiDirTree, WithAHorizontalBarTheLastRowScrollsIntoViewAboveIt)
{
    Folders({"d1/d2/d3/d4/d5 with a long name"});
    TreeOptions o;
    o.hbar = true;
    const std::string deep = "disk://C/d1/d2/d3/d4/d5 with a long name";
    RunResult r = Run(o, "relay T.Main.Col.Tree SelectDir s:" + deep + "\n"
                         "relay T.Main.Col.Tree SelectDir s:disk://Z\n" + Dump("last.png") +
                         "relay T.Main.Col.Tree SelectDir s:" + deep + "\n" + Dump("deep.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = ProbeLines(r.out);
    ASSERT_EQ(lines.size(), 9u) << r.out;
    // Ten rows, five of them above the 14-pixel bar; d5 (row 5) becomes the last visible row, five cells in:
    // the view moves 100 - 8 - 32 = 60 pixels right, as the widest row (d5's label from x 142) allows. Z
    // (row 9) is the last visible row after its selection, and d5 then lies in view.
    EXPECT_EQ(lines[0], "Dir " + deep + "/");
    EXPECT_EQ(lines[1], "Size 10,5,1");
    EXPECT_EQ(lines[2].substr(lines[2].size() - 7), ",137,60") << lines[2];
    EXPECT_EQ(lines[3], "Dir disk://Z/");
    EXPECT_EQ(lines[4], "Size 10,5,5");
    EXPECT_EQ(lines[5].substr(lines[5].size() - 6), ",137,0") << lines[5];
    EXPECT_EQ(lines[6], "Dir " + deep + "/");
    EXPECT_EQ(lines[7], "Size 10,5,5");
    EXPECT_EQ(lines[8], lines[2]);
    auto png = Png("last.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(At(*png, 130, 4 * kRow + 8), kSelectedBg);
    EXPECT_EQ(At(*png, 30, 4 * kRow + 8), kDiskIcon);
    EXPECT_EQ(At(*png, 145, 93), kCorner);
    png = Png("deep.png");
    ASSERT_TRUE(png);
    // d5's row is the first visible one; its icon sits at 30 + 5 x 20 - 60.
    EXPECT_EQ(At(*png, 2, 8), kSelectedBg);
    EXPECT_EQ(At(*png, 70, 8), kFolderIcon);
}

TEST_F(UiDirTree, TheMouseOpensWithTheExpanderOrADoubleClickAndTheWheelScrolls)
{
    Folders({"a/x", "b", "c", "d", "e", "g"});
    RunResult r = Run({}, "click T.Main 10 8\n" + Dump("open.png") + "dblclick T.Main 64 24\n"
                          "wheel T.Main 60 40 -240\n" + Dump("scrolled.png") + "dblclick T.Main 50 24\n");
    ASSERT_EQ(r.status, 0) << r.err;
    // C opens (nothing selected); a double click on a's label selects it (each press) and opens it; the wheel
    // moves two rows down; a double click on b's icon selects b, which has nothing to open.
    EXPECT_EQ(ProbeLines(r.out), (std::vector<std::string>{"Size 11,6,0", "Dir", "Dir disk://C/a/", "Dir disk://C/a/",
                                                           "Size 12,6,0", "Dir disk://C/a/", "Dir disk://C/b/",
                                                           "Dir disk://C/b/"}))
        << r.out;
    auto png = Png("open.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(At(*png, 10, 8), kOpenExpander);
    EXPECT_EQ(At(*png, 30, kRow + 8), kClosedExpander);
    EXPECT_EQ(At(*png, 50, kRow + 8), kFolderIcon);
    png = Png("scrolled.png");
    ASSERT_TRUE(png);
    // Rows from x (in a) on: x, then b.
    EXPECT_EQ(At(*png, 50, 8), kWhite);
    EXPECT_EQ(At(*png, 70, 8), kFolderIcon);
    EXPECT_EQ(At(*png, 50, kRow + 8), kFolderIcon);
}

TEST_F(UiDirTree, CreatedNewDirReadsTheFolderAgain)
{
    Folders({"a/old"});
    RunResult r = Run({}, "relay T.Main.Col.Tree SelectDir s:disk://C/a/old\nsh mkdir c/a/new\n"
                          "relay T.Main.Col.Tree SelectDir s:disk://C/a/new\n"
                          "relay T.Main.Col.Tree CreatedNewDir s:disk://C/a/new\n"
                          "sh mkdir g && echo 'G fixed " + Path("g").string() + "' >>" + (Machine() / "drives").string() +
                          "\nrelay T.Main.Col.Tree SelectDir s:disk://G\n"
                          "relay T.Main.Col.Tree CreatedNewDir s:disk://G\n"
                          "relay T.Main.Col.Tree SelectDir s:camera://C/a\nrelay T.Main.Col.Tree SelectDir\n");
    ASSERT_EQ(r.status, 0) << r.err;
    // The listing of a is stale until CreatedNewDir reads it again (the selection in it goes first); a new
    // volume shows once the volumes are read again; other storage classes are not the tree's.
    EXPECT_EQ(Only(ProbeLines(r.out), "Dir"),
              (std::vector<std::string>{"Dir disk://C/a/old/", "Dir", "Dir disk://C/a/new/", "Dir disk://G/"}))
        << r.out;
}

TEST_F(UiDirTree, AFolderThatIsGoneWhenOpenedOrSelectedListsAsEmpty)
{
    Folders({"a/b/c/d", "a/e"});
    RunResult r = Run({}, "relay T.Main.Col.Tree SelectDir s:disk://C/a/b\nmouse T.Main 60 5\nsh rm -r c/a/b\n"
                          "key T.Main 13\nkey T.Main 13\nclick T.Main 80 40\nkey T.Main 19\nkey T.Main 14\n"
                          "relay T.Main.Col.Tree Refresh\n");
    ASSERT_EQ(r.status, 0) << r.err;
    // b still shows until the refresh; opening it finds nothing (it keeps no children, so 13 cannot close it
    // again); the click and the keys move between b and e; the refresh takes b and the selection away.
    EXPECT_EQ(ProbeLines(r.out), (std::vector<std::string>{"Dir disk://C/a/b/", "Size 8,6,0", "Size 8,6,0",
                                                           "Dir disk://C/a/b/", "Dir disk://C/a/b/",
                                                           "Dir disk://C/a/e/", "Size 8,6,0", "Dir disk://C/a/b/",
                                                           "Size 8,6,0", "Dir", "Size 7,6,0"}))
        << r.out;
}

TEST_F(UiDirTree, ScriptsWithoutARequiredKeyOrPictureOrVerticalBarMakeNoTree)
{
    // Each tree of the script drops one requirement; only the complete one is made.
    const std::string full = Script({});
    const size_t start = full.find("<DIRTREE"), end = full.find("</DIRTREE>") + 10;
    const std::string tree = full.substr(start, end - start);
    const struct {
        const char* name;
        std::string from, to;
    } cases[] = {
        {"Whole", "", ""},
        {"NoSelectedColour", "SelectedFontColor=\"#FFFFFF\"", ""},
        {"NoCorner", "LowerLeftColor=\"#00FF00\"", ""},
        {"NoMinimum", "MinVSize=\"100\"", ""},
        {"NoPicture", "tree_cdrom.png", "nothing.png"},
        {"NoIcon", "File_IsOpenIcon", "File_IsOpen"},
        {"NoVerticalBar", "<VSCROLLBAR", "<XSCROLLBAR"},
        {"BrokenVerticalBar", "File_Slider=\"vscroll_thumb.png\"", ""},
    };
    std::string trees;
    for (const auto& c : cases) {
        std::string t = tree;
        t.replace(t.find("Name=\"Tree\""), 11, "Name=\"" + std::string(c.name) + "\"");
        if (!c.from.empty())
            t.replace(t.find(c.from), c.from.size(), c.to);
        trees += t;
    }
    std::string script = full;
    script.replace(start, end - start, trees);
    lumotest::WriteText(Root() / "t/ui.xml", script);
    lumotest::WriteText(Root() / "e", "layout T.Main\n");
    const std::string out = (Root() / "stdout").string();
    ASSERT_EQ(lumotest::RunCommand("LUMO_UI=headless timeout 300 " + kUirun + " --folder " + (Root() / "t").string() +
                                   " --events " + (Root() / "e").string() + " >" + out + " 2>/dev/null"),
              0);
    const std::string layout = lumotest::ReadText(out);
    for (const auto& c : cases)
        EXPECT_EQ(layout.find("DIRTREE T.Main.Col." + std::string(c.name) + " ") != std::string::npos,
                  std::string(c.name) == "Whole")
            << c.name << "\n" << layout;
}

TEST_F(UiDirTree, LabelsOfAnApplicationFontFollowTheLanguage)
{
    TreeOptions o;
    o.appChildren = "<LANGUAGES><LANGUAGE Name=\"English\" Default=\"1\"/><LANGUAGE Name=\"German\"/></LANGUAGES>"
                    "<FONTS><APPFONT Name=\"Plain\" Height=\"12\" Color=\"#000000\"><MSWFONT>"
                    "<English Fontname=\"DejaVu Sans\"/><German Fontname=\"DejaVu Sans\" Bold=\"1\"/>"
                    "</MSWFONT></APPFONT></FONTS>";
    o.treeKeys = "AppFont=\"Plain\"";
    RunResult r = Run(o, Dump("english.png") + "lang German\n" + Dump("german.png") + "relay T.Main.Col.Tree Other\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("relay -> false\n"), std::string::npos) << r.out;
    auto english = Png("english.png"), german = Png("german.png");
    ASSERT_TRUE(english && german);
    EXPECT_TRUE(LabelIs(*english, 0, 1, "C"));
    EXPECT_FALSE(LabelIs(*english, 0, 1, "C", true));
    EXPECT_TRUE(LabelIs(*german, 0, 1, "C", true));
    EXPECT_TRUE(LabelIs(*german, 4, 1, "Z", true));
    // Slow volumes keep the disabled colour.
    EXPECT_EQ(DarkText(*german, 1, 42), 0);
    EXPECT_GT(GreyText(*german, 1, 42), 0);
}

TEST_F(UiDirTree, ALabelBackgroundStaysUnderTheTextInEveryState)
{
    Folders({"a"});
    TreeOptions o;
    o.treeKeys = "_FontBgColor=\"#FFFF00\"";
    RunResult r = Run(o, "relay T.Main.Col.Tree SelectDir s:disk://C/a\n" + Dump("bg.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    auto png = Png("bg.png");
    ASSERT_TRUE(png);
    const Rgb yellow{255, 255, 0};
    // Rows C (normal), a (selected), E (disabled): each label on yellow, with text of its colour on it:
    // black, white (which lifts the blue) and grey.
    EXPECT_GT(CountInRow(*png, 0, 42, yellow), 5);
    EXPECT_GT(CountInRow(*png, 1, 62, yellow), 5);
    EXPECT_GT(CountInRow(*png, 2, 42, yellow), 5);
    EXPECT_GT(CountInRow(*png, 0, 42, [](const Rgb& c) { return c[0] < 128 && c[0] == c[1] && c[2] == 0; }), 0);
    EXPECT_GT(CountInRow(*png, 1, 62, [](const Rgb& c) { return c[0] == 255 && c[1] == 255 && c[2] > 100; }), 0);
    EXPECT_GT(CountInRow(*png, 2, 42, [](const Rgb& c) { return c[0] < 250 && c[0] == c[1] && c[2] > 60; }), 0);
    EXPECT_EQ(At(*png, 130, kRow + 8), kSelectedBg);
}
