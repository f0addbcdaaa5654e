// mkskins: the same bytes from run to run, sizes the controls rely on, files that PNG readers accept and a
// list whose samples match the pixels.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "KPNGLoader.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "LumoStorageFixture.h"
#include "LumoTestSupport.h"

namespace fs = std::filesystem;

namespace {

const std::string kMkskins = LUMO_BINARY_DIR "/Tools/mkskins/mkskins";

struct Entry {
    int width = 0, height = 0;
};

class Mkskins : public lumotest::StorageFixture {
protected:
    // "WIDTH HEIGHT" of every PNG file of the folder as identify reads them, by file name (one identify run).
    std::map<std::string, std::string> Identify(const fs::path& folder)
    {
        const fs::path out = Root() / "identify.txt";
        EXPECT_EQ(lumotest::RunCommand("identify -format '%f %w %h\\n' '" + folder.string() + "'/*.png >" +
                                       out.string()),
                  0);
        std::map<std::string, std::string> sizes;
        std::istringstream in(lumotest::ReadText(out));
        std::string file, w, h;
        while (in >> file >> w >> h)
            sizes[file] = w + " " + h;
        return sizes;
    }
};

}  // namespace

TEST_F(Mkskins, TwoRunsGiveEqualFilesThatReadersAcceptWithTheListedSizesAndSamples)
{
    const fs::path a = Root() / "a", b = Root() / "b";
    ASSERT_EQ(lumotest::RunCommand(kMkskins + " " + a.string()), 0);
    ASSERT_EQ(lumotest::RunCommand(kMkskins + " " + b.string()), 0);

    std::map<std::string, Entry> files;
    std::istringstream list(lumotest::ReadText(a / "skins.txt"));
    std::string line;
    int samples = 0;
    while (std::getline(list, line)) {
        std::istringstream in(line);
        std::string file, sample, colour;
        int w = 0, h = 0, x = 0, y = 0;
        ASSERT_TRUE(in >> file >> w >> h >> sample >> x >> y >> colour) << line;
        files[file] = Entry{w, h};
        ++samples;
        // The sample's colour is the pixel's.
        KWString url;
        ASSERT_TRUE(PosixFileToURL((a / file).string(), url));
        KIFile* f = OpenFileByURL(url, KFILE_MODE_READ);
        ASSERT_TRUE(f) << file;
        std::unique_ptr<KPNGPixmap> png(LoadPNGPixmap(f));
        f->Release();
        ASSERT_TRUE(png) << file;
        ASSERT_EQ(png->GetWidth(), w) << file;
        ASSERT_EQ(png->GetHeight(), h) << file;
        const uint8_t* p = png->GetRow(y) + x * 4;
        char text[16];
        std::snprintf(text, sizeof text, "#%02X%02X%02X%02X", p[2], p[1], p[0], p[3]);
        EXPECT_EQ(colour, text) << line;
    }
    EXPECT_GE(files.size(), 40u);
    EXPECT_GT(samples, static_cast<int>(files.size()));

    // Both folders hold the same files, byte for byte; pngcheck accepts every one.
    EXPECT_EQ(lumotest::RunCommand("diff -r '" + a.string() + "' '" + b.string() + "' >/dev/null"), 0);
    EXPECT_EQ(lumotest::RunCommand("pngcheck -q '" + a.string() + "'/*.png >/dev/null"), 0);
    std::map<std::string, std::string> sizes = Identify(a);
    EXPECT_EQ(sizes.size(), files.size());
    for (const auto& [file, entry] : files)
        EXPECT_EQ(sizes[file], std::to_string(entry.width) + " " + std::to_string(entry.height)) << file;
    auto Identify = [&sizes](const fs::path& file) { return sizes[file.filename().string()]; };

    for (const char* cursor : {"cursor_divider.png", "cursor_nodrop.png", "cursor_drop.png"})
        EXPECT_EQ(Identify(a / cursor), "16 16") << cursor;
    for (const char* set : {"hscroll", "vscroll"}) {
        const std::string first = Identify(a / (std::string(set) + "_a_normal.png"));
        for (const char* part : {"_a_pressed.png", "_b_normal.png", "_b_pressed.png"})
            EXPECT_EQ(Identify(a / (std::string(set) + part)), first) << set << part;
    }
    // Faces the controls require to match: pull-down states, check box states, knob and pressed knob.
    for (const char* group : {"pulldown_over.png", "pulldown_pressed.png", "pulldown_disabled.png"})
        EXPECT_EQ(Identify(a / group), Identify(a / "pulldown_normal.png")) << group;
    EXPECT_EQ(Identify(a / "check_off.png"), Identify(a / "check_on.png"));
    EXPECT_EQ(Identify(a / "slider_knob_down.png"), Identify(a / "slider_knob.png"));
    EXPECT_EQ(Identify(a / "filmstrip.png"), "16 160");
}

TEST_F(Mkskins, AFolderThatCannotBeMadeFailsWithAMessage)
{
    lumotest::WriteText(Root() / "file", "x");
    EXPECT_NE(lumotest::RunCommand(kMkskins + " " + (Root() / "file").string() + " 2>/dev/null"), 0);
    EXPECT_NE(lumotest::RunCommand(kMkskins + " 2>/dev/null"), 0);
}
