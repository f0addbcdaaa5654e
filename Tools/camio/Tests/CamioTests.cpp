#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "LumoTestSupport.h"

namespace fs = std::filesystem;

namespace {

const std::string kTool = LUMO_BINARY_DIR "/Tools/camio/camio";

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The tool's exit status and its standard output (standard error dropped).
int Camio(const std::string& args, std::string* out = nullptr)
{
    const std::string outFile = (fs::temp_directory_path() / ("camio-out-" + std::to_string(getpid()))).string();
    int status = lumotest::RunCommand(kTool + " " + args + " >" + Quote(outFile) + " 2>/dev/null");
    if (out)
        *out = lumotest::ReadText(outFile);
    fs::remove(outFile);
    return status;
}

}  // namespace

TEST(CamioTool, PeekCreatesTheEmulatedCameraFile)
{
    lumotest::TempDir dir;
    const std::string file = (dir / "c.img").string();
    std::string out;
    ASSERT_EQ(Camio("peek " + Quote("FILE@" + file) + " 0xFFFF 0xF0000404 4", &out), 0);
    EXPECT_EQ(out, "1394\n");
    EXPECT_EQ(fs::file_size(file), 16849928u);
    std::vector<uint8_t> bytes = lumotest::ReadBytes(file);
    EXPECT_EQ(std::string(bytes.begin() + 0x1011C04, bytes.begin() + 0x1011C08), "1394");
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(bytes[i], 0x20);
    // Non-printable bytes come out as hexadecimal.
    ASSERT_EQ(Camio("poke " + Quote("FILE@" + file) + " 1009 100 1A000000"), 0);
    ASSERT_EQ(Camio("peek " + Quote("FILE@" + file) + " 0x1009 0x100 4", &out), 0);
    EXPECT_EQ(out, "1a000000\n");
    ASSERT_EQ(Camio("peek " + Quote("FILE@" + file) + " 0x0006 0 0x10", &out), 0);
    EXPECT_EQ(out, std::string(16, ' ') + "\n");
}

TEST(CamioTool, PokeWritesMappedAddressesOnly)
{
    lumotest::TempDir dir;
    const std::string file = (dir / "it's #1.img").string();
    ASSERT_EQ(Camio("peek " + Quote("FILE@" + file) + " 0xFFFF 0xF0000404 4"), 0);
    const auto size = fs::file_size(file);
    EXPECT_EQ(Camio("poke " + Quote("FILE@" + file) + " 0x1009 0x010000FC ad0e1ef1"), 1);
    EXPECT_EQ(fs::file_size(file), size);
    ASSERT_EQ(Camio("poke " + Quote("FILE@" + file) + " 0x1009 0x100 1A000000"), 0);
    std::vector<uint8_t> bytes = lumotest::ReadBytes(file);
    EXPECT_EQ(bytes[0x1001500], 0x1A);
    EXPECT_EQ(bytes[0x1001501], 0);
    EXPECT_EQ(bytes[0x1001503], 0);
    EXPECT_EQ(bytes.size(), size);
}

TEST(CamioTool, FailuresExitOneAndLeaveTheFileAlone)
{
    lumotest::TempDir dir;
    const std::string file = (dir / "c.img").string();
    ASSERT_EQ(Camio("peek " + Quote("FILE@" + file) + " 0xFFFF 0xF0000404 4"), 0);
    const std::vector<uint8_t> before = lumotest::ReadBytes(file);
    chmod(file.c_str(), 0444);
    EXPECT_EQ(Camio("peek " + Quote("FILE@" + file) + " 0xFFFF 0xF0000404 4"), 1);
    EXPECT_EQ(Camio("poke " + Quote("FILE@" + file) + " 0x1009 0x100 1A000000"), 1);
    EXPECT_TRUE(lumotest::ReadBytes(file) == before);

    const std::vector<std::string> failing = {
             std::string("peek FILE@") + file,                            // too few arguments
             std::string("peek USB@0 0x1009 0x100 4"),                    // no such link here
             "peek " + Quote("FILE@" + file) + " 0x10000 0 4",            // space beyond 16 bits
             "peek " + Quote("FILE@" + file) + " 0x1009 0x100 many",      // not a length
             "peek " + Quote("FILE@" + file) + " 0x1009 0x100 0x2000000", // above 16 MiB
             "poke " + Quote("FILE@" + file) + " 0x1009 0x100 1A0",       // odd digits
             "poke " + Quote("FILE@" + file) + " 0x1009 0x100 zz",        // not hexadecimal
             "peek " + Quote("FILE@" + (dir / "none" / "c.img").string()) + " 0x1009 0x100 4",
             "frob " + Quote("FILE@" + file) + " 0x1009 0x100 4",
    };
    for (const std::string& args : failing)
        EXPECT_EQ(Camio(args), 1) << args;
    EXPECT_FALSE(fs::exists(dir / "none"));
    EXPECT_TRUE(lumotest::ReadBytes(file) == before);
}
