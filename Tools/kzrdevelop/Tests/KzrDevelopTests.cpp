// kzrdevelop as a user runs it on the generator's files, with tiffinfo and the TIFF reader looking at the result.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "KPixmap.h"
#include "KSCDiskWin.h"
#include "KStorageURL.h"
#include "KTiffImageReader.h"
#include "LumoGeneratorFrames.h"
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
    int At(int x, int y, int c) const { return pixels[(size_t(y) * size_t(width) + size_t(x)) * 3 + size_t(c)]; }
    int32_t width = 0, height = 0;
    std::vector<uint16_t> pixels;
};

}  // namespace

TEST(KzrDevelop, DevelopsAGeneratorFileIntoA16BitTiff)
{
    lumotest::TempDir dir;
    // Tall enough that the middle of the grey ramp lies beyond the reach of the coarse chroma blur from the colour
    // patches below it (its corrections are limited in absolute terms: nearer, their colour shows in the dark).
    ASSERT_EQ(lumotest::RunCommand(kGenerate + " --calibration default --size 96x160 " + Quote(dir / "scene.kzr")), 0);
    const std::string output = lumotest::CommandOutput(kDevelop + " --in " + Quote(dir / "scene.kzr") + " --out " +
                                                       Quote(dir / "dev.tif") + " --bits 16");
    for (const char* stage : {"stage 1 ", "stage 2 ", "stage 3 ", "tone curve ", "stage 4 "})
        EXPECT_NE(output.find(stage), std::string::npos) << stage << " in\n" << output;
    ASSERT_TRUE(std::filesystem::exists(dir / "dev.tif")) << output;

    if (Have("tiffinfo")) {
        const std::string info = lumotest::CommandOutput("tiffinfo " + Quote(dir / "dev.tif") + " 2>/dev/null");
        EXPECT_NE(info.find("Image Width: 86 Image Length: 154"), std::string::npos) << info;  // the picture
        EXPECT_NE(info.find("Bits/Sample: 16"), std::string::npos) << info;
        EXPECT_NE(info.find("Samples/Pixel: 3"), std::string::npos) << info;
        EXPECT_NE(info.find("ICC Profile: <present>"), std::string::npos) << info;
    }

    // The grey ramp across the top is neutral and rises from left to right (its darkest columns, where the
    // chroma passes start from the frame's edge, left out).
    const Developed d(dir / "dev.tif");
    ASSERT_EQ(d.width, 86);
    ASSERT_EQ(d.height, 154);
    double previous = -1;
    for (int x = 9; x + 8 <= 86; x += 8) {
        const double r = d.Mean(0, x, x + 8, 13, 19), g = d.Mean(1, x, x + 8, 13, 19), b = d.Mean(2, x, x + 8, 13, 19);
        EXPECT_NEAR(r / g, 1.0, 0.01) << x;
        EXPECT_NEAR(b / g, 1.0, 0.01) << x;
        EXPECT_GT(g, previous + 1000) << x;
        previous = g;
    }
    EXPECT_GT(previous, 40000);
    // The first patch is red.
    const double r = d.Mean(0, 2, 8, 45, 70), g = d.Mean(1, 2, 8, 45, 70), b = d.Mean(2, 2, 8, 45, 70);
    EXPECT_GT(r, 3 * g);
    EXPECT_GT(r, 3 * b);
}

TEST(KzrDevelop, TheClippedHighlightIsAnEvenNeutralWhite)
{
    // The scene's highlight clips green and blue on the sensor; the raw column offsets of stage 1 must not make
    // the clipped columns differ from one another.
    lumotest::TempDir dir;
    ASSERT_EQ(lumotest::RunCommand(kGenerate + " --calibration default --size 256x192 " + Quote(dir / "scene.kzr")), 0);
    ASSERT_EQ(lumotest::RunCommand(kDevelop + " --quiet --in " + Quote(dir / "scene.kzr") + " --out " +
                                   Quote(dir / "dev.tif") + " --bits 16"),
              0);
    const Developed d(dir / "dev.tif");
    ASSERT_EQ(d.width, 246);
    ASSERT_EQ(d.height, 186);
    // The ellipse around (0.8, 0.875) of the picture with radius 0.09, without its edge.
    int count = 0, darkest = 65535, brightest = 0, worstTint = 0;
    for (int y = 0; y < d.height; ++y)
        for (int x = 0; x < d.width; ++x) {
            const double du = ((x + 0.5) / d.width - 0.8) / 0.07, dv = ((y + 0.5) / d.height - 0.875) / 0.07;
            if (du * du + dv * dv > 1.0)
                continue;
            ++count;
            const int g = d.At(x, y, 1);
            darkest = std::min(darkest, g);
            brightest = std::max(brightest, g);
            worstTint = std::max({worstTint, std::abs(d.At(x, y, 0) - g), std::abs(d.At(x, y, 2) - g)});
        }
    ASSERT_GT(count, 500);
    EXPECT_GT(darkest, 55000) << "green " << darkest << " to " << brightest;
    EXPECT_LT(brightest - darkest, 1000) << "green " << darkest << " to " << brightest;
    EXPECT_LT(worstTint, 600);
}

TEST(KzrDevelop, TurnsFitsAndWrites8Bits)
{
    lumotest::TempDir dir;
    ASSERT_EQ(lumotest::RunCommand(kGenerate + " --calibration default --size 96x64 --rotation 90 " +
                                   Quote(dir / "scene.kzr")),
              0);
    ASSERT_EQ(lumotest::RunCommand(kDevelop + " --quiet --in " + Quote(dir / "scene.kzr") + " --out " +
                                   Quote(dir / "dev.tif") + " --bits 8 --size 40x40 --auto"),
              0);
    if (Have("tiffinfo")) {
        const std::string info = lumotest::CommandOutput("tiffinfo " + Quote(dir / "dev.tif") + " 2>/dev/null");
        EXPECT_NE(info.find("Image Width: 27 Image Length: 40"), std::string::npos) << info;
        EXPECT_NE(info.find("Bits/Sample: 8"), std::string::npos) << info;
    }
    // Turned clockwise: the grey ramp runs down the right-hand side, brightest at the bottom.
    const Developed d(dir / "dev.tif");
    ASSERT_EQ(d.width, 27);
    EXPECT_GT(d.Mean(1, 23, 26, 32, 38), d.Mean(1, 23, 26, 2, 8) + 10000);
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

// A calibration whose active area does not lie in the frame (anywhere in the 32-bit range) is refused by name.
TEST(KzrDevelop, RefusesAnActiveAreaOutsideTheFrame)
{
    lumotest::TempDir dir;
    KzrCalibrationLayout layout;
    layout.columns = 96;
    layout.rows = 64;
    layout.shieldLeft = 6;
    layout.shieldRight = 4;
    layout.shieldTop = 4;
    layout.shieldBottom = 2;
    const int32_t lo = INT32_MIN, hi = INT32_MAX;
    const int32_t areas[][4] = {{lo, 4, hi - 1, 61}, {6, lo, 91, hi - 1}, {6, 4, hi - 1, 61}, {6, 4, 96, 61},
                                {6, 4, 91, 64}};
    for (const auto& a : areas) {
        lumotest::WriteBytes(dir / "cal.bin", lumotest::GeneratorCalibration(layout, [&](KzrCalibrationBuilder& b) {
                                 b.AddRect("ActiveImageArea", a[0], a[1], a[2], a[3]);
                             }));
        ASSERT_EQ(lumotest::RunCommand(kGenerate + " --size 96x64 --camf-file " +
                                       Quote(dir / "cal.bin") + " " + Quote(dir / "scene.kzr") + " >/dev/null"),
                  0);
        const std::string errors = lumotest::CommandOutput(kDevelop + " --in " + Quote(dir / "scene.kzr") +
                                                           " --out " + Quote(dir / "dev.tif") + " 2>&1; echo status $?");
        EXPECT_NE(errors.find("the calibration's active area does not lie in the frame"), std::string::npos)
            << a[0] << "," << a[1] << "," << a[2] << "," << a[3] << ": " << errors;
        EXPECT_NE(errors.find("status 1"), std::string::npos) << errors;
        EXPECT_FALSE(std::filesystem::exists(dir / "dev.tif"));
    }
}
