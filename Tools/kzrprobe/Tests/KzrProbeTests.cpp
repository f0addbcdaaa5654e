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

TEST_F(KzrProbe, WritesRotationAndRefusesWhatCannotBeStored)
{
    Generate("A.KZR", "--rotation 270 --white-balance Cloudy");
    std::string out = Probe("--set ROTATION=+90 '" + Path("A.KZR") + "'");
    EXPECT_NE(out.find("modified: 1 pair(s) written"), std::string::npos) << out;
    EXPECT_EQ(Header("A.KZR", 36, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_NE(out.find("  ROTATION=0\n"), std::string::npos) << out;

    // Each tool that writes into a raw file refuses, with exit status 1 and the file's bytes as they were, what
    // the header cannot hold or the reader would not take back.
    const std::string file = "'" + Path("A.KZR") + "'";
    const std::string machine = "LUMO_MACHINE='" + Path("machine") + "' ";
    const std::string kDump = LUMO_BINARY_DIR "/Tools/kzrdump/kzrdump";
    const std::string kRequest = LUMO_BINARY_DIR "/Tools/ipmrequest/ipmrequest";
    struct Case {
        std::string command;
        const char* why;
    };
    const Case cases[] = {
        {Command("--set WB_DESC=" + std::string(32, 'W') + " " + file), "longer than 31 characters"},
        {Command("--set ROTATION=45 " + file), "0, 90, 180 or 270"},
        {Command("--set ROTATION=+45 --set MARKBITS=3 " + file), "0, 90, 180 or 270"},
        {Command("--set LOCKED=1 " + file), "cannot be written"},
        {machine + kDump + " --set-rotation 45 --set-marks 3 " + file + " 2>&1", "cannot be stored"},
        {machine + kDump + " --set-wb " + std::string(32, 'W') + " --set-marks 3 " + file + " 2>&1", "refused"},
        {machine + kRequest + " --kind 6 --set ROTATION=45 --in " + file + " 2>&1", "0, 90, 180 or 270"},
        {machine + kRequest + " --kind 6 --set MARKBITS=2 --set WB_DESC=" + std::string(40, 'W') + " --in " + file +
             " 2>&1",
         "longer than 31 characters"},
    };
    const std::vector<uint8_t> before = lumotest::ReadBytes(Path("A.KZR"));
    for (const Case& c : cases) {
        out = lumotest::CommandOutput(c.command + "; echo status=$?");
        EXPECT_NE(out.find("status=1\n"), std::string::npos) << c.command << "\n" << out;
        EXPECT_NE(out.find(c.why), std::string::npos) << c.command << "\n" << out;
        EXPECT_EQ(lumotest::ReadBytes(Path("A.KZR")), before) << c.command;
    }
    // The file still develops.
    EXPECT_NE(Probe("--load 0 " + file).find("image 0"), std::string::npos);
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
