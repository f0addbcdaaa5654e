// lumofs on camera:// URLs, as a user runs it: simulated cameras made, loaded and plugged with camsim, raw files
// made with kzrgen, and the virtual camera of the working folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "LumoTestSupport.h"

namespace fs = std::filesystem;

namespace {

const std::string kTool = LUMO_BINARY_DIR "/Tools/lumofs/lumofs";
const std::string kCamsim = LUMO_BINARY_DIR "/Tools/camsim/camsim";
const std::string kKzrgen = LUMO_BINARY_DIR "/Tools/kzrgen/kzrgen";

std::string Quote(const std::string& s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Every file of `from` is in `to` with the same bytes.
void ExpectSameFiles(const fs::path& from, const fs::path& to)
{
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(from)) {
        ++n;
        const fs::path copy = to / e.path().filename();
        ASSERT_TRUE(fs::exists(copy)) << copy;
        EXPECT_TRUE(lumotest::ReadBytes(e.path()) == lumotest::ReadBytes(copy)) << copy;
    }
    EXPECT_EQ(size_t(std::distance(fs::directory_iterator(to), fs::directory_iterator())), n) << to;
}

}  // namespace

struct LinkSetting {
    const char* plug;
    const char* order;
};

class LumofsOnLink : public ::testing::TestWithParam<LinkSetting> {};

TEST_P(LumofsOnLink, ListsAndCopiesAllFilesOfAFolder)
{
    const LinkSetting s = GetParam();
    lumotest::TempDir temp;
    const std::string env = "cd " + Quote(temp.Path().string()) +
                            " && export LUMO_MACHINE=" + Quote((temp / "machine").string()) + " && ";
    ASSERT_EQ(lumotest::RunCommand(env + kCamsim + " new c1 --order " + s.order), 0);
    const char* const shapes[] = {"--size 48x32 --seed 1", "--size 64x48 --seed 2", "--size 32x24 --seed 3"};
    for (int i = 0; i < 3; ++i) {
        const std::string raw = (temp / ("shot" + std::to_string(i) + ".kzr")).string();
        ASSERT_EQ(lumotest::RunCommand(kKzrgen + " " + shapes[i] + " " + Quote(raw) + " >/dev/null"), 0);
        ASSERT_EQ(lumotest::RunCommand(env + kCamsim + " shoot c1 " + Quote(raw) + " >/dev/null"), 0);
    }
    ASSERT_EQ(lumotest::RunCommand(env + kCamsim + " plug c1 " + s.plug), 0);
    const fs::path card = lumotest::CommandOutput(env + kCamsim + " card c1 | tr -d '\\n'");
    ASSERT_TRUE(fs::is_directory(card / "cf/images")) << card;

    const std::string listed = lumotest::CommandOutput(env + kTool + " ls camera://");
    if (std::string(s.plug) == "usb") {
        EXPECT_EQ(listed, "USB@tool_OstraUSB0/\n");
    } else {
        // The device-interface path, escaped as one URL component.
        EXPECT_EQ(listed.rfind("1394@%005C%005C%003F%005C", 0), 0u) << listed;
        EXPECT_EQ(listed.find('\\'), std::string::npos) << listed;
        ASSERT_GE(listed.size(), 2u);
        EXPECT_EQ(listed.substr(listed.size() - 2), "/\n");
    }
    const std::string url = Quote("camera://" + listed.substr(0, listed.size() - 2) + "/cf/images/");
    EXPECT_EQ(lumotest::CommandOutput(env + kTool + " ls " + url),
              "IMG_0001.KZR\nIMG_0002.KZR\nIMG_0003.KZR\n");

    const std::string out = lumotest::CommandOutput(env + kTool + " copyall " + url + " dl; echo rc=$?");
    EXPECT_NE(out.find("IMG_0002.KZR\t"), std::string::npos) << out;
    EXPECT_NE(out.find("rc=0"), std::string::npos) << out;
    ExpectSameFiles(card / "cf/images", temp / "dl");

    // Two processes at once take turns at the camera (on each link once).
    if (std::string(s.order) == "KVCK") {
        const std::string both = lumotest::CommandOutput(
            env + "{ " + kTool + " copyall " + url + " d1 >o1 & a=$!; " + kTool + " copyall " + url +
            " d2 >o2 & b=$!; wait $a; ra=$?; wait $b; echo $ra $?; }");
        EXPECT_EQ(both, "0 0\n");
        ExpectSameFiles(card / "cf/images", temp / "d1");
        ExpectSameFiles(card / "cf/images", temp / "d2");
    }

    ASSERT_EQ(lumotest::RunCommand(env + kCamsim + " unplug c1"), 0);
    EXPECT_EQ(lumotest::RunCommand(env + kTool + " ls " + url + " 2>/dev/null"), 1);
    EXPECT_EQ(lumotest::CommandOutput(env + kTool + " ls camera://"), "");
}

INSTANTIATE_TEST_SUITE_P(Cameras, LumofsOnLink,
                         ::testing::Values(LinkSetting{"usb", "KVCK"}, LinkSetting{"usb", "KCVK"},
                                           LinkSetting{"1394", "KVCK"}, LinkSetting{"1394", "KCVK"}),
                         [](const ::testing::TestParamInfo<LinkSetting>& info) {
                             return std::string(info.param.plug == std::string("usb") ? "Usb" : "Bus1394") +
                                    info.param.order;
                         });

TEST(LumofsCamera, TheVirtualCameraStandsInForAnAbsentCamera)
{
    lumotest::TempDir temp;
    fs::create_directories(temp / "VirtualCamera/cf/images");
    lumotest::WriteText(temp / "VirtualCamera/Connected", "");
    std::vector<uint8_t> big(150000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = uint8_t(i * 7 + (i >> 8));
    lumotest::WriteBytes(temp / "VirtualCamera/cf/images/a.kzr", big);
    lumotest::WriteText(temp / "VirtualCamera/cf/images/it's #1.kzr", "raw");
    const std::string env = "cd " + Quote(temp.Path().string()) +
                            " && export LUMO_MACHINE=" + Quote((temp / "machine").string()) + " && ";

    EXPECT_EQ(lumotest::CommandOutput(env + kTool + " ls camera://"), "<<<VirtualCamera>>>/\n");
    EXPECT_EQ(lumotest::CommandOutput(env + kTool + " ls 'camera://<<<VirtualCamera>>>/'"), "cf/\nConnected\n");
    const std::string out =
        lumotest::CommandOutput(env + kTool + " copyall 'camera://<<<VirtualCamera>>>/cf/images' dl; echo rc=$?");
    EXPECT_EQ(out, "a.kzr\t150000 bytes\nit's #1.kzr\t3 bytes\nrc=0\n");
    ExpectSameFiles(temp / "VirtualCamera/cf/images", temp / "dl");

    // A file that cannot be put in place fails alone, leaves nothing behind, and the exit status says so.
    fs::create_directories(temp / "d2/a.kzr");
    const std::string failed =
        lumotest::CommandOutput(env + kTool + " copyall 'camera://<<<VirtualCamera>>>/cf/images' d2; echo rc=$?");
    EXPECT_NE(failed.find("a.kzr\tfailed"), std::string::npos) << failed;
    EXPECT_NE(failed.find("it's #1.kzr\t3 bytes"), std::string::npos) << failed;
    EXPECT_NE(failed.find("rc=1"), std::string::npos) << failed;
    EXPECT_TRUE(fs::is_directory(temp / "d2/a.kzr"));
    EXPECT_EQ(std::distance(fs::directory_iterator(temp / "d2"), fs::directory_iterator()), 2);
}
