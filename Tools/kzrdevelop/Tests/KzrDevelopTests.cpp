// kzrdevelop as a user runs it on the generator's files, with tiffinfo and the TIFF reader looking at the result.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "KPixmap.h"
#include "KSCDiskWin.h"
#include "KStorageURL.h"
#include "KTiffImageReader.h"
#include "LumoTestSupport.h"

namespace {

const std::string kDevelop = LUMO_BINARY_DIR "/Tools/kzrdevelop/kzrdevelop";
const std::string kGenerate = LUMO_BINARY_DIR "/Tools/kzrgen/kzrgen";

std::string Quote(const std::filesystem::path& p)
{
    return "'" + p.string() + "'";
}

bool Have(const char* program)
{
    return lumotest::RunCommand(std::string("command -v ") + program + " >/dev/null 2>&1") == 0;
}

// The developed picture, read back as 48-bit RGB.
struct Developed {
    explicit Developed(const std::filesystem::path& path)
    {
        RegisterDiskStorageClass();
        KWString url;
        EXPECT_TRUE(PosixPathToURL(path.string(), url));
        KTiffImageReader reader(url);
        int type = 0;
        reader.GetDimensions(&width, &height, &type);
        pixels.resize(size_t(width) * size_t(height) * 3);
        KPixmapTemplate<KPixelClass48RGB> pixmap(pixels.data(), width, height, width * 6);
        reader.ReadImage(pixmap);
        ShutdownStorageClasses();
    }
    double Mean(int c, int x0, int x1, int y0, int y1) const
    {
        double sum = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                sum += pixels[(size_t(y) * size_t(width) + size_t(x)) * 3 + size_t(c)];
        return sum / ((x1 - x0) * (y1 - y0));
    }
    int32_t width = 0, height = 0;
    std::vector<uint16_t> pixels;
};

}  // namespace

TEST(KzrDevelop, DevelopsAGeneratorFileIntoA16BitTiff)
{
    lumotest::TempDir dir;
    ASSERT_EQ(lumotest::RunCommand(kGenerate + " --calibration full --size 96x64 " + Quote(dir / "scene.kzr")), 0);
    const std::string output = lumotest::CommandOutput(kDevelop + " --in " + Quote(dir / "scene.kzr") + " --out " +
                                                       Quote(dir / "dev.tif") + " --bits 16");
    for (const char* stage : {"stage 1 ", "stage 2 ", "stage 3 ", "tone curve ", "stage 4 "})
        EXPECT_NE(output.find(stage), std::string::npos) << stage << " in\n" << output;
    ASSERT_TRUE(std::filesystem::exists(dir / "dev.tif")) << output;

    if (Have("tiffinfo")) {
        const std::string info = lumotest::CommandOutput("tiffinfo " + Quote(dir / "dev.tif") + " 2>/dev/null");
        EXPECT_NE(info.find("Image Width: 84 Image Length: 58"), std::string::npos) << info;  // the picture
        EXPECT_NE(info.find("Bits/Sample: 16"), std::string::npos) << info;
        EXPECT_NE(info.find("Samples/Pixel: 3"), std::string::npos) << info;
        EXPECT_NE(info.find("ICC Profile: <present>"), std::string::npos) << info;
    }

    // The grey ramp across the top is neutral and rises from left to right. The coarse chroma pass carries a
    // little colour of the patches below into the ramp (its corrections are limited in absolute terms, so they
    // show most in the dark): the rows next to the patches and the darkest columns are left out.
    const Developed d(dir / "dev.tif");
    ASSERT_EQ(d.width, 84);
    ASSERT_EQ(d.height, 58);
    double previous = -1;
    for (int x = 8; x + 8 <= 84; x += 8) {
        const double r = d.Mean(0, x, x + 8, 0, 6), g = d.Mean(1, x, x + 8, 0, 6), b = d.Mean(2, x, x + 8, 0, 6);
        EXPECT_GT(g, previous + 1000) << x;
        EXPECT_NEAR(r / g, 1.0, 0.02) << x;
        EXPECT_NEAR(b / g, 1.0, 0.02) << x;
        previous = g;
    }
    // The first patch is red.
    const double r = d.Mean(0, 2, 6, 14, 26), g = d.Mean(1, 2, 6, 14, 26), b = d.Mean(2, 2, 6, 14, 26);
    EXPECT_GT(r, 3 * g);
    EXPECT_GT(r, 3 * b);
}

TEST(KzrDevelop, TurnsFitsAndWrites8Bits)
{
    lumotest::TempDir dir;
    ASSERT_EQ(lumotest::RunCommand(kGenerate + " --calibration full --size 96x64 --rotation 90 " +
                                   Quote(dir / "scene.kzr")),
              0);
    ASSERT_EQ(lumotest::RunCommand(kDevelop + " --quiet --in " + Quote(dir / "scene.kzr") + " --out " +
                                   Quote(dir / "dev.tif") + " --bits 8 --size 40x40 --auto"),
              0);
    if (Have("tiffinfo")) {
        const std::string info = lumotest::CommandOutput("tiffinfo " + Quote(dir / "dev.tif") + " 2>/dev/null");
        EXPECT_NE(info.find("Image Width: 28 Image Length: 40"), std::string::npos) << info;
        EXPECT_NE(info.find("Bits/Sample: 8"), std::string::npos) << info;
    }
    // Turned clockwise: the grey ramp runs down the right-hand side, brightest at the bottom.
    const Developed d(dir / "dev.tif");
    ASSERT_EQ(d.width, 28);
    EXPECT_GT(d.Mean(1, 24, 27, 32, 38), d.Mean(1, 24, 27, 2, 8) + 10000);
}

TEST(KzrDevelop, RefusesAFileWithoutCalibrationAndWritesNothing)
{
    lumotest::TempDir dir;
    ASSERT_EQ(lumotest::RunCommand(kGenerate + " --size 96x64 " + Quote(dir / "scene.kzr")), 0);
    const std::string errors = lumotest::CommandOutput(kDevelop + " --in " + Quote(dir / "scene.kzr") + " --out " +
                                                       Quote(dir / "dev.tif") + " 2>&1; echo status $?");
    EXPECT_NE(errors.find("holds an empty calibration section"), std::string::npos) << errors;
    EXPECT_NE(errors.find("status 1"), std::string::npos) << errors;
    EXPECT_FALSE(std::filesystem::exists(dir / "dev.tif"));
}
