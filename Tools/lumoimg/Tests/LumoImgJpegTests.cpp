// lumoimg jpeg-write and jpeg-read as a user runs them, with exiftool and ImageMagick looking at the result.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
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

std::string Quote(const std::filesystem::path& p)
{
    return "'" + p.string() + "'";
}

void WritePpm(const std::filesystem::path& path, int width, int height)
{
    std::string header = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            bytes.push_back(uint8_t(x * 255 / width));
            bytes.push_back(uint8_t(y * 255 / height));
            bytes.push_back(uint8_t((x * y) % 251));
        }
    lumotest::WriteBytes(path, bytes);
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (24 - 8 * i));
}

// A display profile of exactly `size` bytes: the header, a "desc" tag with the description, and a private
// tag that fills the rest.
std::vector<uint8_t> IccProfile(const std::string& description, size_t size)
{
    std::vector<uint8_t> p(size, 0);
    Put32(p, 0, uint32_t(size));
    std::memcpy(&p[4], "lcms", 4);
    Put32(p, 8, 0x02100000);
    std::memcpy(&p[12], "mntrRGB XYZ ", 12);
    std::memcpy(&p[36], "acsp", 4);
    Put32(p, 68, 0x0000F6D6);
    Put32(p, 72, 0x00010000);
    Put32(p, 76, 0x0000D32D);
    Put32(p, 128, 2);
    const size_t desc = 128 + 4 + 2 * 12;
    const size_t descSize = 12 + description.size() + 1 + 8 + 3 + 67;
    std::memcpy(&p[132], "desc", 4);
    Put32(p, 136, uint32_t(desc));
    Put32(p, 140, uint32_t(descSize));
    const size_t fill = (desc + descSize + 3) / 4 * 4;
    std::memcpy(&p[144], "zzzz", 4);
    Put32(p, 148, uint32_t(fill));
    Put32(p, 152, uint32_t(size - fill));
    std::memcpy(&p[desc], "desc", 4);
    Put32(p, desc + 8, uint32_t(description.size() + 1));
    std::memcpy(&p[desc + 12], description.data(), description.size());
    for (size_t i = fill; i < size; ++i)
        p[i] = uint8_t(i * 7);
    return p;
}

int CountMarkers(const std::vector<uint8_t>& file, int code)
{
    int n = 0;
    size_t pos = 2;
    while (pos + 4 <= file.size() && file[pos] == 0xFF && file[pos + 1] != 0xDA) {
        n += file[pos + 1] == code;
        pos += 2 + (size_t(file[pos + 2]) << 8 | file[pos + 3]);
    }
    return n;
}

class LumoImgJpeg : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The tool's scratch files (the thumbnail's) go to a folder of this test.
        setenv("TMPDIR", m_Dir.Path().c_str(), 1);
        WritePpm(m_Dir / "in.ppm", 480, 320);
        lumotest::WriteText(m_Dir / "props.xml",
                            "<ImageProps CAMMANUF=\"PELTA\" CAMMODEL=\"PELTA DV7\" SH_DESC=\"1/250\" AP_DESC=\"5.6\" "
                            "PMODE=\"A\" ISO=\"400\" TIME=\"1033828200\" EXPNET=\"-1\" AEMODE=\"C\" FLASH=\"ON\" "
                            "FLENGTH=\"50\" CAMSERIAL=\"SN0042\" WB_DESC=\"Daylight\"/>\n");
    }
    void TearDown() override { unsetenv("TMPDIR"); }

    int Run(const std::string& args) const { return lumotest::RunCommand(kTool + " " + args + " 2>/dev/null"); }
    std::string Output(const std::string& command) const { return lumotest::CommandOutput(command + " 2>&1"); }

    lumotest::TempDir m_Dir;
};

}  // namespace

TEST_F(LumoImgJpeg, WriteWithPropertiesThumbnailAndProfile)
{
    if (!Have("exiftool") || !Have("identify"))
        GTEST_SKIP() << "exiftool and identify are needed";
    lumotest::WriteBytes(m_Dir / "p.icc", IccProfile("Test RGB profile", 4096));
    ASSERT_EQ(Run("jpeg-write " + Quote(m_Dir / "in.ppm") + " " + Quote(m_Dir / "out.jpg") + " --props " +
                  Quote(m_Dir / "props.xml") + " --thumbnail --icc " + Quote(m_Dir / "p.icc")),
              0);
    const std::string tags = Output("exiftool -a -G1 -u -s " + Quote(m_Dir / "out.jpg"));
    for (const char* expected :
         {"[IFD0]          Make                            : PELTA", "[IFD0]          Model                           : PELTA DV7",
          "[IFD0]          Software                        : lumoimg 0.1.0.0000",
          "[ExifIFD]       ExposureTime                    : 1/250", "[ExifIFD]       FNumber                         : 5.6",
          "[ExifIFD]       ISO                             : 400", "[ExifIFD]       ColorSpace                      : sRGB",
          "[ExifIFD]       DateTimeOriginal                : 2002:10:05 14:30:00",
          "[MakerUnknown]  Unknown_0x0002                  : SN0042",
          "[MakerUnknown]  Unknown_0x0007                  : Daylight", "[IFD1]          ThumbnailImage",
          "[ICC-header]    ProfileClass                    : Display Device Profile",
          "ProfileDescription              : Test RGB profile"})
        EXPECT_NE(tags.find(expected), std::string::npos) << expected << "\n" << tags;
    EXPECT_EQ(tags.find("JFIF"), std::string::npos) << tags;
    EXPECT_EQ(Output("identify -format '%[jpeg:sampling-factor]' " + Quote(m_Dir / "out.jpg")), "1x1,1x1,1x1");
    ASSERT_EQ(lumotest::RunCommand("exiftool -b -ThumbnailImage " + Quote(m_Dir / "out.jpg") + " > " +
                                   Quote(m_Dir / "thumb.jpg")),
              0);
    EXPECT_EQ(Output("identify -format '%wx%h' " + Quote(m_Dir / "thumb.jpg")), "160x106");
    // The thumbnail's scratch file went away.
    for (auto& e : std::filesystem::directory_iterator(m_Dir.Path()))
        EXPECT_EQ(e.path().filename().string().find("kqpmdzs812m"), std::string::npos) << e.path();

    ASSERT_EQ(Run("jpeg-write " + Quote(m_Dir / "in.ppm") + " " + Quote(m_Dir / "low.jpg") + " --quality 78"), 0);
    EXPECT_EQ(Output("identify -format '%[jpeg:sampling-factor]' " + Quote(m_Dir / "low.jpg")), "2x2,1x1,1x1");
}

TEST_F(LumoImgJpeg, LargeProfileInTwoChunks)
{
    if (!Have("exiftool"))
        GTEST_SKIP() << "exiftool is needed";
    const std::vector<uint8_t> profile = IccProfile("Big profile", 65519);
    lumotest::WriteBytes(m_Dir / "big.icc", profile);
    ASSERT_EQ(Run("jpeg-write " + Quote(m_Dir / "in.ppm") + " " + Quote(m_Dir / "out.jpg") + " --icc " +
                  Quote(m_Dir / "big.icc")),
              0);
    EXPECT_EQ(CountMarkers(lumotest::ReadBytes(m_Dir / "out.jpg"), 0xE2), 2);
    ASSERT_EQ(lumotest::RunCommand("exiftool -icc_profile -b " + Quote(m_Dir / "out.jpg") + " > " +
                                   Quote(m_Dir / "back.icc")),
              0);
    EXPECT_EQ(lumotest::ReadBytes(m_Dir / "back.icc"), profile);
}

TEST_F(LumoImgJpeg, ReadBackPixelsAndProperties)
{
    ASSERT_EQ(Run("jpeg-write " + Quote(m_Dir / "in.ppm") + " " + Quote(m_Dir / "out.jpg") + " --props " +
                  Quote(m_Dir / "props.xml")),
              0);
    const std::string props = Output(kTool + " jpeg-read " + Quote(m_Dir / "out.jpg") + " " +
                                     Quote(m_Dir / "back.ppm") + " --props");
    for (const char* line : {"CAMMANUF=PELTA\n", "SH_DESC=1/250\n", "ISO=400\n", "EXPCOMP=-1\n", "FLASH=ON\n",
                             "CAMSERIAL=SN0042\n", "KZRCOLS=480\n", "KZRROWS=320\n", "TIME=1033828200\n"})
        EXPECT_NE(props.find(line), std::string::npos) << line << props;
    std::vector<uint8_t> back = lumotest::ReadBytes(m_Dir / "back.ppm");
    ASSERT_GT(back.size(), 15u);
    EXPECT_EQ(std::string(back.begin(), back.begin() + 15), "P6\n480 320\n255\n");
    EXPECT_EQ(back.size(), 15u + 480 * 320 * 3);

    ASSERT_EQ(Run("jpeg-read " + Quote(m_Dir / "out.jpg") + " " + Quote(m_Dir / "half.ppm") + " --scale 1"), 0);
    std::vector<uint8_t> half = lumotest::ReadBytes(m_Dir / "half.ppm");
    EXPECT_EQ(std::string(half.begin(), half.begin() + 15), "P6\n240 160\n255\n");

    // A truncated file still decodes; bytes that are no JPEG fail with the codec's error.
    std::vector<uint8_t> file = lumotest::ReadBytes(m_Dir / "out.jpg");
    file.resize(file.size() / 2);
    lumotest::WriteBytes(m_Dir / "cut.jpg", file);
    EXPECT_EQ(Run("jpeg-read " + Quote(m_Dir / "cut.jpg") + " " + Quote(m_Dir / "cut.ppm")), 0);
    lumotest::WriteText(m_Dir / "text.jpg", "this is not a picture");
    EXPECT_NE(Output(kTool + " jpeg-read " + Quote(m_Dir / "text.jpg") + " " + Quote(m_Dir / "x.ppm"))
                  .find("Not a JPEG file"),
              std::string::npos);
}

TEST_F(LumoImgJpeg, UsageErrors)
{
    EXPECT_EQ(Run(""), 2);
    EXPECT_EQ(Run("jpeg-frobnicate"), 2);
    EXPECT_EQ(Run("jpeg-write " + Quote(m_Dir / "in.ppm")), 2);
    EXPECT_EQ(Run("jpeg-write " + Quote(m_Dir / "in.ppm") + " " + Quote(m_Dir / "o.jpg") + " --quality 101"), 2);
    EXPECT_EQ(Run("jpeg-read a b --bogus"), 2);
    const std::string missing = Output(kTool + " jpeg-read " + Quote(m_Dir / "none.jpg") + " " + Quote(m_Dir / "x.ppm"));
    EXPECT_NE(missing.find("JPEGImageReader: Cannot open file"), std::string::npos) << missing;
    lumotest::WriteText(m_Dir / "bad.ppm", "P6\n10 10\n255\nshort");
    EXPECT_NE(Output(kTool + " jpeg-write " + Quote(m_Dir / "bad.ppm") + " " + Quote(m_Dir / "o.jpg")).find("bytes of samples expected"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(m_Dir / "o.jpg"));
}
