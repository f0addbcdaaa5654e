#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "KException.h"
#include "KICCProfiles.h"
#include "KJPEGImageReader.h"
#include "KPixelTypes.h"
#include "KPixmap.h"
#include "KSCDiskWin.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "LumoTestSupport.h"

namespace {

const std::string kConvert = LUMO_BINARY_DIR "/Tools/kzrconvert/kzrconvert";
const std::string kGen = LUMO_BINARY_DIR "/Tools/kzrgen/kzrgen";

class KzrConvert : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(m_Temp / "machine"); }

    std::string Path(const std::string& name) const { return (m_Temp / name).string(); }
    // The path in single quotes for the shell (a quote in it closed, escaped and reopened).
    std::string Quoted(const std::string& name) const
    {
        std::string quoted = "'";
        for (char c : Path(name))
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return quoted + "'";
    }
    // The command with the scratch machine, stderr joined to stdout.
    std::string Command(const std::string& arguments) const
    {
        return "LUMO_MACHINE=" + Quoted("machine") + " " + kConvert + " " + arguments + " 2>&1";
    }
    int Status(const std::string& arguments) const
    {
        return lumotest::RunCommand(Command(arguments) + " > /dev/null");
    }
    std::string Output(const std::string& arguments) const { return lumotest::CommandOutput(Command(arguments)); }
    void Generate(const std::string& name, const std::string& options = "") const
    {
        std::filesystem::create_directories(std::filesystem::path(Path(name)).parent_path());
        const std::string command = kGen + " --calibration default " + options + " " + Quoted(name);
        ASSERT_EQ(lumotest::RunCommand(command + " > /dev/null"), 0);
    }
    static std::string Tool(const std::string& command) { return lumotest::CommandOutput(command + " 2>&1"); }

    lumotest::TempDir m_Temp;
};

TEST_F(KzrConvert, JpegWithExifThumbnailAndTheFramesSize)
{
    Generate("scene.kzr", "--size 240x160");
    const std::string out = Output(Quoted("scene.kzr") + " --jpeg 95 --out " + Quoted("o"));
    // The picture is the frame inside the calibration's dark shields.
    EXPECT_NE(out.find("scene.kzr -> " + Path("o/scene.jpg") + " (230 x 154, "), std::string::npos) << out;
    const std::string jpeg = Quoted("o/scene.jpg");
    EXPECT_EQ(lumotest::RunCommand("djpeg " + jpeg + " > /dev/null"), 0);
    EXPECT_EQ(Tool("identify -format '%w %h' " + jpeg), "230 154");
    const std::string exif = Tool("exiftool -s -Make -Model -ISO -ExposureTime -FNumber " + jpeg);
    EXPECT_NE(exif.find("Make                            : PELTA"), std::string::npos) << exif;
    EXPECT_NE(exif.find("Model                           : PELTA DV7"), std::string::npos) << exif;
    EXPECT_NE(exif.find("ISO                             : 100"), std::string::npos) << exif;
    EXPECT_NE(exif.find("ExposureTime                    : 1/125"), std::string::npos) << exif;
    const std::string thumbnail = Tool("exiftool -b -ThumbnailImage " + jpeg + " | identify -format '%w %h' -");
    EXPECT_EQ(thumbnail, "160 107") << thumbnail;
    const std::string noTemp = "TMPDIR=/nonexistent " + Command(Quoted("scene.kzr") + " --out " + Quoted("notemp"));
    ASSERT_EQ(lumotest::RunCommand(noTemp + " > /dev/null"), 0);
    EXPECT_EQ(Tool("exiftool -b -ThumbnailImage " + Quoted("notemp/scene.jpg") + " | identify -format '%w %h' -"),
              "160 107");
    // sRGB is what a JPEG without a profile means.
    EXPECT_EQ(Tool("exiftool -s -s -s -ICC_Profile:ProfileDescription " + jpeg), "");

    ASSERT_EQ(Status(Quoted("scene.kzr") + " --colorspace 3 --out " + Quoted("adobe")), 0);
    EXPECT_EQ(Tool("exiftool -s -s -s -ICC_Profile:ProfileDescription " + Quoted("adobe/scene.jpg")),
              "Adobe RGB (1998)\n");
}

TEST_F(KzrConvert, Tiff16WithProfileExifAndTagBlock)
{
    Generate("scene.kzr", "--size 240x160");
    ASSERT_EQ(Status("--tiff16 " + Quoted("scene.kzr")), 0);
    const std::string info = Tool("tiffinfo " + Quoted("scene.tif"));
    EXPECT_NE(info.find("Image Width: 230 Image Length: 154"), std::string::npos) << info;
    EXPECT_NE(info.find("Bits/Sample: 16"), std::string::npos) << info;
    EXPECT_NE(info.find("Samples/Pixel: 3"), std::string::npos) << info;
    const std::string profile = "ICC Profile: <present>, " + std::to_string(GetBuiltInICCProfile(2)->size) + " bytes";
    EXPECT_NE(info.find(profile), std::string::npos) << info;
    EXPECT_NE(info.find("EXIFIFDOffset"), std::string::npos) << info;
    EXPECT_NE(info.find("Tag 37717"), std::string::npos) << info;

    ASSERT_EQ(Status("--tiff8 --size 100x100 " + Quoted("scene.kzr")), 0);
    const std::string small = Tool("tiffinfo " + Quoted("scene.tif"));
    EXPECT_NE(small.find("Image Width: 100 Image Length: 66"), std::string::npos) << small;
    EXPECT_NE(small.find("Bits/Sample: 8"), std::string::npos) << small;
}

TEST_F(KzrConvert, MissingProfileRefusedWhenRequiredAndNoFileAppears)
{
    Generate("scene.kzr", "--size 120x80");
    const std::string out = Output("--colorspace 5 --require-profile --out " + Quoted("o") + " " + Quoted("scene.kzr"));
    EXPECT_NE(out.find("IPSaveManager::priSaveWriteProperties: Color profile missing. (error 10)"), std::string::npos)
        << out;
    EXPECT_EQ(Status("--colorspace 5 --require-profile --out " + Quoted("o") + " " + Quoted("scene.kzr")), 1);
    EXPECT_TRUE(std::filesystem::is_empty(Path("o")));
    // Without --require-profile the file is written, without a profile.
    ASSERT_EQ(Status("--colorspace 5 --tiff8 --out " + Quoted("o") + " " + Quoted("scene.kzr")), 0);
    EXPECT_EQ(Tool("tiffinfo " + Quoted("o/scene.tif")).find("ICC Profile"), std::string::npos);
}

TEST_F(KzrConvert, FolderConvertsItsRawFilesAndReportsEachFailure)
{
    Generate("in/a.kzr", "--size 120x80 --seed 1");
    Generate("in/B.KZR", "--size 96x64 --seed 2 --rotation 90");
    Generate("in/broken.kzr", "--size 96x64 --negative row-size");
    lumotest::WriteText(Path("in/notes.txt"), "not a raw file");
    const std::string out = Output("--out " + Quoted("out") + " " + Quoted("in"));
    EXPECT_NE(out.find("a.kzr -> " + Path("out/a.jpg") + " (110 x 74, "), std::string::npos) << out;
    EXPECT_NE(out.find("B.KZR -> " + Path("out/B.jpg") + " (58 x 86, "), std::string::npos) << out;
    EXPECT_NE(out.find("kzrconvert: " + Path("in/broken.kzr") + ": QRLbLoader: "), std::string::npos) << out;
    EXPECT_NE(out.find("(error 8)"), std::string::npos) << out;
    EXPECT_EQ(out.find("notes"), std::string::npos) << out;
    EXPECT_EQ(Status("--out " + Quoted("out") + " " + Quoted("in")), 1);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Path("out")))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"B.jpg", "a.jpg"}));
}

TEST_F(KzrConvert, NamesHoldingCharactersThatURLsEscapeConvert)
{
    Generate("in/Bob's #1 100%.kzr", "--size 48x32");
    EXPECT_EQ(Status("--out " + Quoted("direct") + " " + Quoted("in/Bob's #1 100%.kzr")), 0);
    EXPECT_TRUE(std::filesystem::exists(Path("direct/Bob's #1 100%.jpg")));
    EXPECT_EQ(Status("--tiff8 " + Quoted("in")), 0);
    EXPECT_TRUE(std::filesystem::exists(Path("in/Bob's #1 100%.tif")));
}

TEST_F(KzrConvert, ArgumentsAreChecked)
{
    Generate("a.kzr", "--size 48x32");
    lumotest::WriteText(Path("a.jpg"), "a JPEG file, not a raw file");
    struct Case {
        std::string arguments;
        int status;
        std::string says;
    } cases[] = {
        {"", 2, "no raw file or folder given"},
        {"--jpeg 0 " + Quoted("a.kzr"), 2, "bad value for --jpeg: '0' (1 to 100)"},
        {"--jpeg 90 --tiff16 " + Quoted("a.kzr"), 2, "one of --jpeg, --tiff8 and --tiff16 only"},
        {"--colorspace 12 " + Quoted("a.kzr"), 2, "bad value for --colorspace"},
        {"--size 100 " + Quoted("a.kzr"), 2, "bad value for --size"},
        {"--exposure 3 " + Quoted("a.kzr"), 2, "bad value for --exposure"},
        {"--bogus " + Quoted("a.kzr"), 2, "unknown option --bogus"},
        {"--size 1x1 " + Quoted("a.kzr"), 1, "a.kzr: the 38 x 26 image fitted into 1 x 1 has no pixels"},
        {Quoted("missing.kzr"), 1, "missing.kzr: no such file or folder"},
        {Quoted("a.jpg"), 1, "a.jpg: not a raw file (.kzr, .qrl, .xxx)"},
        {"--out " + Quoted("x") + " " + Quoted("a.kzr") + " " + Quoted("a.kzr"), 1, "was written from"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Status(c.arguments), c.status) << c.arguments;
        const std::string out = Output(c.arguments);
        EXPECT_NE(out.find(c.says), std::string::npos) << c.arguments << "\n" << out;
    }
    EXPECT_EQ(lumotest::ReadText(Path("a.jpg")), "a JPEG file, not a raw file");
}

TEST_F(KzrConvert, UnwritableFolderIsNamedAsGivenWithTheSystemsReason)
{
    Generate("a.kzr", "--size 48x32");
    // A folder this user cannot write into; root writes anywhere but in the kernel's own folders.
    std::string folder = "ro";
    if (geteuid() != 0) {
        std::filesystem::create_directories(Path(folder));
        std::filesystem::permissions(Path(folder), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    } else if (std::filesystem::is_directory("/sys")) {
        folder = "/sys";
    } else {
        GTEST_SKIP() << "no folder that root cannot write into";
    }
    const std::string command = "cd " + Quoted("") + " && LUMO_MACHINE=" + Quoted("machine") + " " + kConvert +
                                " --out " + folder + " a.kzr 2>&1; echo status=$?";
    const std::string out = lumotest::CommandOutput(command);
    EXPECT_NE(out.find("kzrconvert: a.kzr: cannot write " + folder + "/a.jpg: "), std::string::npos) << out;
    EXPECT_TRUE(out.find("Permission denied") != std::string::npos ||
                out.find("Read-only file system") != std::string::npos)
        << out;
    EXPECT_NE(out.find("status=1"), std::string::npos) << out;
    if (folder == "ro")
        std::filesystem::permissions(Path(folder), std::filesystem::perms::owner_all);
}

// The pixels of a JPEG file, or nothing when it cannot be read.
std::vector<uint8_t> JpegPixels(const std::string& path)
{
    KWString url;
    if (!PosixPathToURL(path, url))
        return {};
    try {
        KJPEGImageReader reader(url);
        KInt32 width = 0, height = 0;
        int type = 0;
        reader.GetDimensions(width, height, type);
        std::vector<uint8_t> pixels(size_t(width) * height * 3);
        KPixmapTemplate<KPixelClass24RGB> pixmap(pixels.data(), width, height, width * 3);
        reader.ReadImage(pixmap);
        return pixels;
    } catch (const KException&) {
        return {};
    }
}

TEST_F(KzrConvert, RawReplacedOrRewrittenDuringTheConversionGivesOneFilesPictureOrFails)
{
    // Two shots of one size; the one being converted is replaced (renamed over) or rewritten in place at
    // several moments. Each run gives exactly one file's picture, or fails saying why.
    Generate("a.kzr", "--size 900x600 --seed 1");
    Generate("b.kzr", "--size 900x600 --seed 2");
    ASSERT_EQ(Status("--out " + Quoted("ref") + " " + Quoted("a.kzr") + " " + Quoted("b.kzr")), 0);
    setenv("LUMO_MACHINE", Path("machine").c_str(), 1);
    RegisterDiskStorageClass();
    const std::vector<uint8_t> pictureA = JpegPixels(Path("ref/a.jpg"));
    const std::vector<uint8_t> pictureB = JpegPixels(Path("ref/b.jpg"));
    ASSERT_FALSE(pictureA.empty());
    ASSERT_NE(pictureA, pictureB);
    int failed = 0, changed = 0;
    for (const std::string& how : {"cp -f " + Quoted("b.kzr") + " " + Quoted("x.kzr"), std::string("REPLACE")}) {
        for (const char* delay : {"0.05", "0.3", "0.7", "1.2"}) {
            std::filesystem::remove_all(Path("out"));
            std::filesystem::copy_file(Path("a.kzr"), Path("x.kzr"), std::filesystem::copy_options::overwrite_existing);
            const std::string change = how == "REPLACE"
                                           ? "cp " + Quoted("b.kzr") + " " + Quoted("y.kzr") + " && mv -f " +
                                                 Quoted("y.kzr") + " " + Quoted("x.kzr")
                                           : how;
            const std::string script = "((" + Command("--out " + Quoted("out") + " " + Quoted("x.kzr")) + ") > " +
                                       Quoted("log") + "; echo $? > " + Quoted("rc") + ") & sleep " + delay + "; " +
                                       change + "; wait";
            ASSERT_EQ(lumotest::RunCommand(script), 0);
            const std::string rc = lumotest::ReadText(Path("rc"));
            const std::string log = lumotest::ReadText(Path("log"));
            SCOPED_TRACE(change + " after " + delay + " s: " + rc + log);
            if (rc == "0\n") {
                const std::vector<uint8_t> picture = JpegPixels(Path("out/x.jpg"));
                EXPECT_TRUE(picture == pictureA || picture == pictureB);
            } else {
                ++failed;
                EXPECT_EQ(rc, "1\n");
                const bool named = log.find("replaced or rewritten") != std::string::npos;
                changed += named;
                // On a slow machine the rewrite in place may have begun before the converter first opened the
                // file: it then finds a file cut short, and says so.
                const bool cutShort = how != "REPLACE" && log.find("End-of-file") != std::string::npos;
                EXPECT_TRUE(named || cutShort);
            }
        }
    }
    ShutdownStorageClasses();
    unsetenv("LUMO_MACHINE");
    std::printf("%d of 8 runs failed, %d naming the change\n", failed, changed);
}

// The neutral ramp across the top of the generator's scene, saved as a JPEG, stays grey.
TEST_F(KzrConvert, GreyRampStaysNeutral)
{
    Generate("grey.kzr", "--size 360x240");
    ASSERT_EQ(Status(Quoted("grey.kzr")), 0);
    setenv("LUMO_MACHINE", Path("machine").c_str(), 1);
    RegisterDiskStorageClass();
    KWString url;
    ASSERT_TRUE(PosixPathToURL(Path("grey.jpg"), url));
    double sums[3] = {};
    long count = 0;
    {
        KJPEGImageReader reader(url);
        KInt32 width = 0, height = 0;
        int type = 0;
        reader.GetDimensions(width, height, type);
        ASSERT_EQ(type, kPixelType24RGB);
        std::vector<uint8_t> pixels(size_t(width) * height * 3);
        KPixmapTemplate<KPixelClass24RGB> pixmap(pixels.data(), width, height, width * 3);
        reader.ReadImage(pixmap);
        // The ramp fills the top quarter of the scene; keep clear of its edges and of the darkest tenth.
        for (KInt32 y = height / 40; y < height / 5; ++y)
            for (KInt32 x = width / 10; x < width - width / 20; ++x)
                for (int c = 0; c < 3; ++c)
                    sums[c] += pixels[(size_t(y) * width + x) * 3 + c];
        count = long(height / 5 - height / 40) * (width - width / 20 - width / 10);
    }
    ShutdownStorageClasses();
    unsetenv("LUMO_MACHINE");
    const double r = sums[0] / count, g = sums[1] / count, b = sums[2] / count;
    EXPECT_NEAR(r, g, 3.0);
    EXPECT_NEAR(b, g, 3.0);
    EXPECT_NEAR(r, b, 3.0);
    EXPECT_GT(g, 60.0);  // a ramp, not black
}

}  // namespace

// The file's bytes with every date and time ("YYYY:MM:DD HH:MM:SS") blanked: the time of saving differs.
static std::vector<uint8_t> BytesWithoutTimes(const std::string& path)
{
    std::vector<uint8_t> bytes = lumotest::ReadBytes(path);
    const char* shape = "dddd:dd:dd dd:dd:dd";
    for (size_t at = 0; at + 19 <= bytes.size(); ++at) {
        bool match = true;
        for (size_t i = 0; i < 19 && match; ++i)
            match = shape[i] == 'd' ? bytes[at + i] >= '0' && bytes[at + i] <= '9' : bytes[at + i] == shape[i];
        if (match)
            std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), 19, uint8_t{0});
    }
    return bytes;
}

TEST_F(KzrConvert, SameBytesWhateverTheNumberOfThreads)
{
    // Tall enough for eight bands in every stage; one file with a dark frame, one with fixed-length rows.
    Generate("scene.kzr", "--size 360x560 --seed 7");
    Generate("plain.kzr", "--size 360x560 --seed 8 --raw-format 0 --dark-format 0");
    for (const char* format : {"--jpeg 95", "--tiff16"}) {
        std::vector<std::vector<uint8_t>> first;
        for (int threads : {1, 2, 4, 8}) {
            const std::string out = "o" + std::to_string(threads);
            const std::string command = "LUMO_THREADS=" + std::to_string(threads) + " " +
                                        Command(Quoted("scene.kzr") + " " + Quoted("plain.kzr") + " " + format +
                                                " --out " + Quoted(out));
            ASSERT_EQ(lumotest::RunCommand(command + " > /dev/null"), 0) << format << " " << threads;
            std::vector<std::vector<uint8_t>> results;
            for (const char* name : {"scene", "plain"}) {
                const std::string ext = std::string(format) == "--tiff16" ? ".tif" : ".jpg";
                results.push_back(BytesWithoutTimes(Path(out + "/" + name + ext)));
                ASSERT_FALSE(results.back().empty()) << name << ext;
            }
            if (first.empty())
                first = results;
            else
                EXPECT_TRUE(results == first) << format << " differs at " << threads << " threads";
        }
    }
}
