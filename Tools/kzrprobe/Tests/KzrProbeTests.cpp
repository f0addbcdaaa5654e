#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LumoTestSupport.h"

namespace {

const std::string kProbe = LUMO_BINARY_DIR "/Tools/kzrprobe/kzrprobe";
const std::string kGen = LUMO_BINARY_DIR "/Tools/kzrgen/kzrgen";

class KzrProbe : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(m_Temp / "machine"); }

    std::string Path(const std::string& name) const { return (m_Temp / name).string(); }
    // The command with the scratch machine, stderr joined to stdout.
    std::string Command(const std::string& arguments) const
    {
        return "LUMO_MACHINE='" + Path("machine") + "' " + kProbe + " " + arguments + " 2>&1";
    }
    std::string Probe(const std::string& arguments) const { return lumotest::CommandOutput(Command(arguments)); }
    void Generate(const std::string& name, const std::string& options = "") const
    {
        ASSERT_EQ(lumotest::RunCommand(kGen + " " + options + " '" + Path(name) + "' > /dev/null"), 0);
    }
    std::vector<uint8_t> Header(const std::string& name, size_t offset, size_t count) const
    {
        const std::vector<uint8_t> bytes = lumotest::ReadBytes(Path(name));
        return std::vector<uint8_t>(bytes.begin() + long(offset), bytes.begin() + long(offset + count));
    }

    lumotest::TempDir m_Temp;
};

TEST_F(KzrProbe, ShowsTheImagesAndPropertiesOfAGeneratorFile)
{
    Generate("a.kzr", "--size 40x30");
    const std::string out = Probe("'" + Path("a.kzr") + "'");
    EXPECT_NE(out.find("images: 3\n"), std::string::npos) << out;
    EXPECT_NE(out.find("image 0: 40 x 30, pixel type 15, kind 1\n"), std::string::npos) << out;
    EXPECT_NE(out.find("image 1: 40 x 30, pixel type 15, kind 2\n"), std::string::npos) << out;
    EXPECT_NE(out.find("image 2: 10 x 7, pixel type 7, kind 4\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  PROCESSABLE=1\n"), std::string::npos) << out;
    const size_t id = out.find("  UNIQUEID=");
    ASSERT_NE(id, std::string::npos) << out;
    const std::string digits = out.substr(id + 11, out.find('\n', id) - id - 11);
    EXPECT_EQ(digits.size(), 32u) << digits;
    EXPECT_EQ(digits.find_first_not_of("0123456789ABCDEF"), std::string::npos) << digits;
}

TEST_F(KzrProbe, WritesRotationAndKeepsATooLongWhiteBalanceOut)
{
    Generate("A.KZR", "--rotation 270 --white-balance Cloudy");
    const std::vector<uint8_t> whiteBalance = Header("A.KZR", 40, 32);
    const std::string out = Probe("--set ROTATION=+90 --set WB_DESC=" + std::string(40, 'W') + " '" + Path("A.KZR") + "'");
    EXPECT_NE(out.find("modified: 2 pair(s) written"), std::string::npos) << out;
    EXPECT_EQ(Header("A.KZR", 36, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(Header("A.KZR", 40, 32), whiteBalance);
    EXPECT_NE(out.find("  ROTATION=0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  WB_DESC=Cloudy\n"), std::string::npos) << out;
}

TEST_F(KzrProbe, LoadsImagesAndCalibrationThroughTheCache)
{
    Generate("a.kzr", "--size 16x12");
    const std::string out = Probe("--load 0 --calibration '" + Path("a.kzr") + "'");
    EXPECT_NE(out.find("loaded image 0: 16 x 12, pixel type 15, checksum "), std::string::npos) << out;
    EXPECT_NE(out.find("calibration: "), std::string::npos) << out;
}

TEST_F(KzrProbe, RefusesFilesNoLoaderReads)
{
    lumotest::WriteText(Path("a.png"), "png");
    EXPECT_NE(lumotest::RunCommand(Command("'" + Path("a.png") + "' > /dev/null")), 0);
    EXPECT_NE(Probe("'" + Path("a.png") + "'").find("kzrprobe: File type not supported. (error 4)"), std::string::npos);
    EXPECT_NE(Probe("'" + Path("missing.kzr") + "'").find("(error 6)"), std::string::npos);
}

}  // namespace
