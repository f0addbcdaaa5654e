// kzrgen and kzrdump end to end: every image of a generated file, read back by kzrdump, equals the
// generator's expected decode byte for byte; the header edits change only their fields.
#include <filesystem>

#include "KQrlbFormat.h"
#include "QrlbTestSupport.h"

namespace {

const std::string kGen = LUMO_BINARY_DIR "/Tools/kzrgen/kzrgen";
const std::string kDump = LUMO_BINARY_DIR "/Tools/kzrdump/kzrdump";

class KzrTools : public ::testing::Test {
protected:
    std::string P(const std::string& name) const { return (m_Temp / name).string(); }
    // Runs a command with the scratch machine; returns its exit status.
    int Run(const std::string& command) const
    {
        return lumotest::RunCommand("LUMO_MACHINE='" + P("machine") + "' " + command + " 2>'" + P("stderr") + "'");
    }
    std::string Output(const std::string& command) const
    {
        return lumotest::CommandOutput("LUMO_MACHINE='" + P("machine") + "' " + command + " 2>&1");
    }
    // Generates a file with its expected images and checks every image through kzrdump --ppm.
    void RoundTrip(const std::string& options, int images)
    {
        SCOPED_TRACE(options);
        const std::string file = P("t.kzr"), expected = P("expected");
        std::filesystem::remove_all(expected);
        ASSERT_EQ(Run(kGen + " " + options + " --expected '" + expected + "' '" + file + "'"), 0);
        for (int i = 0; i < images; ++i) {
            const std::string out = P("out.ppm"), want = expected + "/image-" + std::to_string(i) + ".ppm";
            ASSERT_TRUE(std::filesystem::exists(want)) << want;
            ASSERT_EQ(Run(kDump + " --ppm " + std::to_string(i) + " '" + out + "' '" + file + "'"), 0)
                << lumotest::ReadText(P("stderr"));
            EXPECT_EQ(Run("cmp -s '" + out + "' '" + want + "'"), 0) << "image " << i;
        }
        EXPECT_FALSE(std::filesystem::exists(expected + "/image-" + std::to_string(images) + ".ppm"));
    }

    lumotest::TempDir m_Temp;
};

TEST_F(KzrTools, DefaultFileHasRawDarkAndPreview)
{
    RoundTrip("--size 40x24", 3);
    const std::string dump = Output(kDump + " '" + P("t.kzr") + "'");
    EXPECT_NE(dump.find("0  40 x 24  image type 1 (raw)  data format 4"), std::string::npos) << dump;
    EXPECT_NE(dump.find("1  40 x 24  image type 0 (dark)  data format 4"), std::string::npos);
    EXPECT_NE(dump.find("2  10 x 6  image type 2 (viewable)  data format 11  row size 0  pixel type 7"),
              std::string::npos);
    EXPECT_NE(dump.find("WB_DESC = Auto"), std::string::npos);
    EXPECT_NE(dump.find("calibration sections: 1\n  0  type 1  size 0 bytes"), std::string::npos);
}

TEST_F(KzrTools, EveryFormatRoundTrips)
{
    RoundTrip("--size 10x4 --raw-format 0 --dark-format 0 --subtracted-format 5 --preview-format 3 --version 2.0", 4);
    RoundTrip("--size 37x9 --raw-format 4 --subtracted-format 6 --preview-format 1 --version 1.0 --seed 7", 4);
    RoundTrip("--size 33x17 --subtracted-format 6 --preview-format 11 --version 2.1 --calibration none", 2);
    RoundTrip("--edge-cases", 8);
}

TEST_F(KzrTools, RotationEditTouchesOnlyItsField)
{
    ASSERT_EQ(Run(kGen + " --size 16x8 '" + P("a.kzr") + "'"), 0);
    std::filesystem::copy_file(P("a.kzr"), P("b.kzr"));
    ASSERT_EQ(Run(kDump + " --set-rotation 90 '" + P("b.kzr") + "'"), 0);
    // cmp -l lists differing bytes counted from 1: only byte 37 (offset 36), 0 -> 132 (octal 90).
    EXPECT_EQ(Output("cmp -l '" + P("a.kzr") + "' '" + P("b.kzr") + "' | tr -s ' '"), " 37 0 132\n");
    EXPECT_NE(Output(kDump + " '" + P("b.kzr") + "'").find("rotation: 90"), std::string::npos);
    ASSERT_EQ(Run(kDump + " --set-marks 3 --set-wb Shade '" + P("b.kzr") + "'"), 0);
    const std::string dump = Output(kDump + " '" + P("b.kzr") + "'");
    EXPECT_NE(dump.find("mark bits: 3"), std::string::npos);
    EXPECT_NE(dump.find("white balance: \"Shade\""), std::string::npos);
}

TEST_F(KzrTools, WhiteBalanceOnVersionTwoZeroIsRefusedAndChangesNothing)
{
    ASSERT_EQ(Run(kGen + " --size 16x8 --version 2.0 '" + P("a.kzr") + "'"), 0);
    std::filesystem::copy_file(P("a.kzr"), P("b.kzr"));
    EXPECT_NE(Run(kDump + " --set-wb Daylight --set-rotation 90 '" + P("b.kzr") + "'"), 0);
    EXPECT_NE(lumotest::ReadText(P("stderr")).find("white balance refused"), std::string::npos);
    EXPECT_EQ(Run("cmp -s '" + P("a.kzr") + "' '" + P("b.kzr") + "'"), 0);
}

TEST_F(KzrTools, NegativeFilesGiveTheReadersTexts)
{
    const struct {
        const char* negative;
        const char* command;  // kzrdump arguments before the file
        const char* text;
    } cases[] = {
        {"format-2", "--ppm 0 x.ppm", "ReadImageFixedLineLength() : resampling RGB32_10_2bpp pixels not supported yet."},
        {"format-7", "--ppm 0 x.ppm", "MapQrlbPixelFormatToKPixmapType() (Unknown pixel type)"},
        {"bad-magic", "", "(This file is not a qrlb)"},
        {"bad-version", "", "(Incompatible qrlb version)"},
        {"bad-secd", "", "Expected a directory section but got something else."},
        {"truncate:100", "", "(End-of-file)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.negative);
        const std::string file = P(std::string(c.negative).substr(0, 8) + ".kzr");
        ASSERT_EQ(Run(kGen + " --size 16x8 --negative " + c.negative + " '" + file + "'"), 0);
        const std::string out = Output("cd '" + P("") + "' && " + kDump + " " + c.command + " '" + file + "'");
        EXPECT_NE(out.find(c.text), std::string::npos) << out;
    }
    EXPECT_EQ(std::filesystem::file_size(P("truncate.kzr")), 100u);
}

TEST_F(KzrTools, BadArgumentsAreReported)
{
    EXPECT_EQ(Run(kGen + " --size 0x5 '" + P("x.kzr") + "'"), 2);
    EXPECT_EQ(Run(kGen + " --raw-format 5 '" + P("x.kzr") + "'"), 2);
    EXPECT_EQ(Run(kGen + " --negative nonsense '" + P("x.kzr") + "'"), 2);
    EXPECT_FALSE(std::filesystem::exists(P("x.kzr")));
    EXPECT_EQ(Run(kDump + " '" + P("missing.kzr") + "'"), 1);
    EXPECT_NE(lumotest::ReadText(P("stderr")).find("File or path not found"), std::string::npos);
}

}  // namespace
