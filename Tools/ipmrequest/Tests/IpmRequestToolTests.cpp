// ipmrequest as a user runs it on generated raw files, with ImageMagick looking at the images it writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "LumoTestSupport.h"

namespace {

const std::string kTool = LUMO_BINARY_DIR "/Tools/ipmrequest/ipmrequest";
const std::string kGenerator = LUMO_BINARY_DIR "/Tools/kzrgen/kzrgen";

std::string Quote(const std::filesystem::path& p)
{
    return "'" + p.string() + "'";
}

class IpmRequestTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("LUMO_MACHINE", (m_Temp / "machine").c_str(), 1);
        std::filesystem::create_directories(m_Temp / "machine");
    }
    void TearDown() override { unsetenv("LUMO_MACHINE"); }

    // A generated camera file with the default calibration and its illuminants.
    std::filesystem::path Generate(const std::string& name, const std::string& options)
    {
        const std::filesystem::path path = m_Temp / name;
        EXPECT_EQ(lumotest::RunCommand(kGenerator + " --calibration default --calibration-illuminants " + options +
                                       " " + Quote(path) + " >/dev/null"),
                  0);
        return path;
    }
    std::string Run(const std::string& arguments, int* status = nullptr)
    {
        const std::string out = (m_Temp / "out.txt").string();
        const int rc = lumotest::RunCommand(kTool + " " + arguments + " >'" + out + "' 2>&1");
        if (status)
            *status = rc;
        return lumotest::ReadText(out);
    }

    lumotest::TempDir m_Temp;
};

bool HaveIdentify()
{
    return lumotest::RunCommand("command -v identify >/dev/null 2>&1") == 0;
}

}  // namespace

TEST_F(IpmRequestTool, PropertiesAndIlluminants)
{
    const auto scene = Generate("scene.kzr", "--size 122x94");
    int status = -1;
    const std::string props = Run("--kind 1 --in " + Quote(scene), &status);
    EXPECT_EQ(status, 0) << props;
    EXPECT_NE(props.find("PROCESSABLE=1\n"), std::string::npos) << props;
    EXPECT_NE(props.find("COLS=112\n"), std::string::npos) << props;
    EXPECT_NE(props.find("ROWS=88\n"), std::string::npos) << props;

    const std::string lights = Run("--kind 8 --in " + Quote(scene), &status);
    EXPECT_EQ(status, 0) << lights;
    EXPECT_NE(lights.find("Auto=\n"), std::string::npos) << lights;
}

TEST_F(IpmRequestTool, PreviewIsWrittenTurned)
{
    if (!HaveIdentify())
        GTEST_SKIP() << "ImageMagick's identify is not installed";
    const auto scene = Generate("scene.kzr", "--size 122x94 --rotation 90");
    const auto out = m_Temp / "p.ppm";
    int status = -1;
    const std::string text = Run("--kind 2 --in " + Quote(scene) + " --out " + Quote(out) + " --size 88x112", &status);
    ASSERT_EQ(status, 0) << text;
    // The preview (30 x 23) turned a quarter is 23 x 30, fitted into 88 x 112 (the height kept).
    EXPECT_EQ(lumotest::CommandOutput("identify -format '%wx%h' " + Quote(out)), "85x112");
}

TEST_F(IpmRequestTool, ProcessedImageFillsTheOutputSize)
{
    if (!HaveIdentify())
        GTEST_SKIP() << "ImageMagick's identify is not installed";
    const auto scene = Generate("scene.kzr", "--size 80x61");  // a picture of 70 x 55 in its frame
    const auto out = m_Temp / "p.ppm";
    int status = -1;
    const std::string text =
        Run("--kind 3 --in " + Quote(scene) + " --out " + Quote(out) + " --size 224x176 --repeat 2", &status);
    ASSERT_EQ(status, 0) << text;
    EXPECT_NE(text.find("crop 0,0,224,176 of 224x176"), std::string::npos) << text;
    EXPECT_EQ(lumotest::CommandOutput("identify -format '%wx%h' " + Quote(out)), "224x176");

    const std::string grey = Run("--kind 7 --in " + Quote(scene) + " --point 35,5", &status);
    EXPECT_EQ(status, 0) << grey;
    EXPECT_EQ(grey.rfind("color ", 0), 0u) << grey;
}

TEST_F(IpmRequestTool, FailuresAreReported)
{
    const auto bare = Generate("bare.kzr", "--size 122x94 --preview-format none");
    int status = -1;
    std::string text = Run("--kind 2 --in " + Quote(bare) + " --out " + Quote(m_Temp / "p.ppm"), &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(text.find("error 3:"), std::string::npos) << text;
    EXPECT_FALSE(std::filesystem::exists(m_Temp / "p.ppm"));

    text = Run("--kind 2 --format 2 --in " + Quote(bare) + " --out " + Quote(m_Temp / "p.ppm"), &status);
    EXPECT_NE(text.find("error 2: IPManager2::priHandlePreviewRequest: cannot process a preview for non-display "
                        "output format."),
               std::string::npos)
        << text;

    text = Run("--kind 1 --in " + Quote(m_Temp / "missing.kzr"), &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(text.find("error 6:"), std::string::npos) << text;

    text = Run("--kind 3", &status);
    EXPECT_EQ(status, 2) << text;

    // Numbers beyond the int range are refused, not wrapped into sizes, crops or points.
    for (const std::string bad : {"--size 1e12x94", "--size 122x-3e9", "--crop 0,0,5e9,10", "--point 1e10,0",
                                  "--kind 4294967297", "--colorspace nan"}) {
        text = Run(bad + " --kind 3 --in " + Quote(bare) + " --out " + Quote(m_Temp / "p.ppm"), &status);
        EXPECT_EQ(status, 2) << bad << ": " << text;
        EXPECT_NE(text.find("bad value for"), std::string::npos) << bad << ": " << text;
    }
}
