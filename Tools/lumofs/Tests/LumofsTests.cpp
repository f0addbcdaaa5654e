// The lumofs tool as a user runs it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include <sys/stat.h>

#include "LumoTestSupport.h"

namespace fs = std::filesystem;

namespace {

const std::string kTool = LUMO_BINARY_DIR "/Tools/lumofs/lumofs";

std::string Quote(const std::string& s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

TEST(Lumofs, URLsAndNativePathsRoundTrip)
{
    lumotest::TempDir temp;
    setenv("LUMO_MACHINE", temp.Path().c_str(), 1);
    EXPECT_EQ(lumotest::CommandOutput(kTool + " url \"/tmp/it's#1\""), "disk://C/tmp/it%0027s%00231\n");
    EXPECT_EQ(lumotest::CommandOutput(kTool + " native 'disk://C/tmp/it%0027s%00231'"), "C:\\tmp\\it's#1\n");
    EXPECT_EQ(lumotest::CommandOutput(kTool + " posix 'disk://C/tmp/it%0027s%00231'"), "/tmp/it's#1\n");
    EXPECT_EQ(lumotest::CommandOutput(kTool + " url 'C:\\Photos\\a.kzr'"), "disk://C/Photos/a.kzr\n");
    EXPECT_NE(lumotest::RunCommand(kTool + " bogus x 2>/dev/null"), 0);
    EXPECT_NE(lumotest::RunCommand(kTool + " native 'nothing://x' 2>/dev/null"), 0);
    unsetenv("LUMO_MACHINE");
}

TEST(Lumofs, ListCopyAndExists)
{
    lumotest::TempDir temp;
    fs::create_directories(temp / "dir/sub");
    lumotest::WriteText(temp / "dir/b.txt", "bee");
    lumotest::WriteText(temp / "dir/a.txt", "ay");
    std::string env = "LUMO_MACHINE=" + Quote((temp / "machine").string()) + " ";
    EXPECT_EQ(lumotest::CommandOutput(env + kTool + " ls " + Quote((temp / "dir").string())), "sub/\na.txt\nb.txt\n");
    EXPECT_EQ(lumotest::RunCommand(env + kTool + " copy " + Quote((temp / "dir/b.txt").string()) + " " +
                                   Quote((temp / "copy.txt").string())),
              0);
    EXPECT_EQ(lumotest::ReadText(temp / "copy.txt"), "bee");
    EXPECT_EQ(lumotest::CommandOutput(env + kTool + " exists " + Quote((temp / "dir").string())), "folder\n");
    EXPECT_EQ(lumotest::CommandOutput(env + kTool + " exists " + Quote((temp / "nope").string())), "missing\n");
    EXPECT_NE(lumotest::RunCommand(env + kTool + " ls " + Quote((temp / "nope").string()) + " 2>/dev/null"), 0);
    EXPECT_EQ(lumotest::CommandOutput(env + kTool + " ls disk://"), "C/\n");
}

TEST(Lumofs, CopiesFilesWhoseNamesHoldEscapedCharacters)
{
    // An apostrophe, a number sign or a percent sign is common in a photographer's file names.
    lumotest::TempDir temp;
    lumotest::WriteText(temp / "Bob's #1.kzr", "raw");
    std::string env = "LUMO_MACHINE=" + Quote((temp / "machine").string()) + " ";
    EXPECT_EQ(lumotest::RunCommand(env + kTool + " copy " + Quote((temp / "Bob's #1.kzr").string()) + " " +
                                   Quote((temp / "100% Bob's.kzr").string())),
              0);
    EXPECT_EQ(lumotest::ReadText(temp / "100% Bob's.kzr"), "raw");
    EXPECT_EQ(lumotest::CommandOutput(env + kTool + " exists " + Quote((temp / "100% Bob's.kzr").string())), "file\n");
}

TEST(Lumofs, TrashAndSpecialFoldersFollowTheUsersFolders)
{
    lumotest::TempDir temp;
    fs::create_directories(temp / "home");
    lumotest::WriteText(temp / "victim.kzr", "raw");
    std::string env = "env -u LUMO_MACHINE -u XDG_CONFIG_HOME HOME=" + Quote((temp / "home").string()) +
                      " XDG_DATA_HOME=" + Quote((temp / "data").string()) + " ";
    EXPECT_EQ(lumotest::RunCommand(env + kTool + " trash " + Quote((temp / "victim.kzr").string())), 0);
    EXPECT_FALSE(fs::exists(temp / "victim.kzr"));
    EXPECT_EQ(lumotest::ReadText(temp / "data/Trash/files/victim.kzr"), "raw");
    std::string info = lumotest::ReadText(temp / "data/Trash/info/victim.kzr.trashinfo");
    EXPECT_NE(info.find("Path=" + (temp / "victim.kzr").string()), std::string::npos) << info;

    std::string special = lumotest::CommandOutput(env + kTool + " special 1");
    std::string expected = lumotest::CommandOutput(env + kTool + " url " + Quote((temp / "home/.config").string()));
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(special, expected.substr(0, expected.size() - 1) + "/\n");
    EXPECT_TRUE(fs::is_directory(temp / "home/.config"));
    EXPECT_NE(lumotest::RunCommand(env + kTool + " special 7 2>/dev/null"), 0);
}

TEST(Lumofs, CopyRefusesWhatIsNotAFileAtOnce)
{
    lumotest::TempDir temp;
    ASSERT_EQ(mkfifo((temp / "pipe").c_str(), 0600), 0);
    std::string env = "LUMO_MACHINE=" + Quote((temp / "machine").string()) + " timeout 20 ";
    for (const std::string& source : {(temp / "pipe").string(), std::string("/dev/zero")}) {
        const std::string out = lumotest::CommandOutput(env + kTool + " copy " + Quote(source) + " " +
                                                        Quote((temp / "x").string()) + " 2>&1; echo rc=$?");
        EXPECT_NE(out.find("Not a regular file"), std::string::npos) << out;
        EXPECT_NE(out.find(source), std::string::npos) << out;
        EXPECT_NE(out.find("rc=1"), std::string::npos) << out;
        EXPECT_FALSE(fs::exists(temp / "x"));
    }
}
