// lumoimg tiff-write, tiff-read and png-read as a user runs them, with tiffinfo, tiffdump, exiftool and
// ImageMagick looking at the result.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "LumoTestSupport.h"

namespace {

const std::string kTool = LUMO_BINARY_DIR "/Tools/lumoimg/lumoimg";

bool Have(const char* program)
{
    return lumotest::RunCommand(std::string("command -v ") + program + " >/dev/null 2>&1") == 0;
}

std::string Quote(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

bool Contains(const std::string& text, const std::string& piece) { return text.find(piece) != std::string::npos; }

class LumoImgTiff : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string header = "P6\n300 200\n255\n";
        std::vector<uint8_t> ppm(header.begin(), header.end());
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 300; ++x) {
                ppm.push_back(uint8_t(x * 255 / 300));
                ppm.push_back(uint8_t(y * 255 / 200));
                ppm.push_back(uint8_t((x + y) % 256));
            }
        lumotest::WriteBytes(Path("in.ppm"), ppm);
        lumotest::WriteText(Path("props.xml"),
                            "<ImageProps CAMMANUF=\"PELTA\" CAMMODEL=\"PELTA DV7\" SH_DESC=\"1/250\" AP_DESC=\"5.6\" "
                            "PMODE=\"A\" ISO=\"400\" TIME=\"1033828200\" EXPNET=\"-1\" FLASH=\"ON\" FLENGTH=\"50\" "
                            "CAMSERIAL=\"SN0042\" COLS=\"2304\" ROWS=\"1536\"/>\n");
        lumotest::WriteText(Path("tags.xml"), "<Options Owner=\"x\" Lens=\"50 mm\" Description=\"hello\"/>\n");
    }

    std::filesystem::path Path(const std::string& name) const { return m_Dir / name; }
    int Run(const std::string& args) const { return lumotest::RunCommand(kTool + " " + args + " 2>/dev/null"); }
    static std::string Output(const std::string& command) { return lumotest::CommandOutput(command + " 2>&1"); }

    lumotest::TempDir m_Dir;
};

}  // namespace

TEST_F(LumoImgTiff, SixteenBitWriteWithEverythingShowsInTheStandardTools)
{
    ASSERT_EQ(Run("tiff-write " + Quote(Path("in.ppm")) + " " + Quote(Path("out.tif")) + " --bits 16 --cs 3 --props " +
                  Quote(Path("props.xml")) + " --thumbnail"),
              0);
    if (Have("tiffinfo")) {
        const std::string info = Output("tiffinfo " + Quote(Path("out.tif")));
        for (const char* line : {"Image Width: 300 Image Length: 200", "Bits/Sample: 16", "Samples/Pixel: 3",
                                 "Compression Scheme: None", "Resolution: 180, 180 pixels/inch"})
            EXPECT_TRUE(Contains(info, line)) << line << "\n" << info;
    }
    if (Have("tiffdump")) {
        const std::string dump = Output("tiffdump " + Quote(Path("out.tif")));
        for (const char* tag : {"34377 (0x8649)", "34665 (0x8769)", "(34675)", "37717 (0x9355)"})
            EXPECT_TRUE(Contains(dump, tag)) << tag << "\n" << dump;
    }
    if (Have("exiftool")) {
        const std::string exif = Output("exiftool -s " + Quote(Path("out.tif")));
        for (const char* line : {"ExposureTime                    : 1/250", "FNumber                         : 5.6",
                                 "ISO                             : 400", "DateTimeOriginal                : 2002:10:05 14:30:00",
                                 "FocalLengthIn35mmFormat         : 85 mm", "ProfileDescription              : Adobe RGB (1998)",
                                 "PhotoshopBGRThumbnail", "Make                            : PELTA"})
            EXPECT_TRUE(Contains(exif, line)) << line << "\n" << exif;
    }

    const std::string props =
        Output(kTool + " tiff-read " + Quote(Path("out.tif")) + " " + Quote(Path("back.ppm")) + " --props");
    for (const char* line : {"ROWS=200\n", "COLS=300\n", "AP_DESC=5.6\n", "SH_DESC=1/250\n", "CAMSERIAL=SN0042\n",
                             "ISO=400\n", "KZRCOLS=2304\n", "KZRROWS=1536\n"})
        EXPECT_TRUE(Contains(props, line)) << line << props;
    // 16 bits read back into 8: the picture is the one written.
    EXPECT_EQ(lumotest::ReadBytes(Path("back.ppm")), lumotest::ReadBytes(Path("in.ppm")));
}

TEST_F(LumoImgTiff, SaveOptionsComeBackWithAnUnknownPair)
{
    ASSERT_EQ(Run("tiff-write " + Quote(Path("in.ppm")) + " " + Quote(Path("t.tif")) + " --bits 11 --tags " +
                  Quote(Path("tags.xml"))),
              0);
    const std::string props =
        Output(kTool + " tiff-read " + Quote(Path("t.tif")) + " " + Quote(Path("half.ppm")) + " --scale 1 --props");
    EXPECT_EQ(props, "ROWS=200\nCOLS=300\nOwner=x\n");
    if (Have("identify")) {
        EXPECT_EQ(Output("identify -format '%w %h' " + Quote(Path("half.ppm"))), "150 100");
    }
    EXPECT_NE(Run("tiff-write " + Quote(Path("in.ppm")) + " " + Quote(Path("u.tif")) + " --tags " +
                  Quote(Path("tags.xml")) + " --props " + Quote(Path("props.xml"))),
              0);
    EXPECT_FALSE(std::filesystem::exists(Path("u.tif")));
}

TEST_F(LumoImgTiff, PngKindsReadAsRGBWithOpaqueAlpha)
{
    if (!Have("convert"))
        GTEST_SKIP() << "ImageMagick is not installed";
    struct Case {
        const char* arguments;
        const char* name;
        int alpha;  // of every pixel
    } cases[] = {
        {"-size 4x3 xc:'rgb(200,100,50)' PNG24:", "rgb.png", 255},
        {"-size 4x3 xc:'rgba(200,100,50,0.4)' PNG32:", "rgba.png", 102},
        {"-size 4x3 gradient:black-white -depth 16 -define png:bit-depth=16 -define png:color-type=0 PNG:",
         "grey16.png", 255},
        {"-size 2x3 xc:red xc:blue +append PNG8:", "palette.png", 255},
        {"-size 2x3000 gradient:black-white PNG24:", "tall.png", 255},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(lumotest::RunCommand(std::string("convert ") + c.arguments + Quote(Path(c.name))), 0) << c.name;
        const std::string out = Output(kTool + " png-read " + Quote(Path(c.name)) + " " + Quote(Path("p.ppm")) +
                                       " --alpha " + Quote(Path("a.pgm")));
        const auto alpha = lumotest::ReadBytes(Path("a.pgm"));
        ASSERT_FALSE(alpha.empty()) << c.name << ": " << out;
        const size_t pixels = Contains(c.name, "tall") ? 6000 : 12;
        ASSERT_GE(alpha.size(), pixels) << c.name;
        for (size_t i = alpha.size() - pixels; i < alpha.size(); ++i)
            ASSERT_EQ(alpha[i], c.alpha) << c.name << " pixel " << i;
    }
    EXPECT_EQ(Output(kTool + " png-read " + Quote(Path("tall.png")) + " " + Quote(Path("p.ppm"))), "2 x 3000\n");
    if (Have("identify")) {
        EXPECT_EQ(Output("convert " + Quote(Path("p.ppm")) + " -format '%[pixel:p{0,2999}]' info:"), "srgb(255,255,255)");
    }
    lumotest::WriteText(Path("not.png"), "not a picture");
    EXPECT_NE(Run("png-read " + Quote(Path("not.png")) + " " + Quote(Path("n.ppm"))), 0);
}
