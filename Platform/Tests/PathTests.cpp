// Windows-shaped paths on the POSIX file system.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "LumoTestSupport.h"
#include "PlatformFile.h"
#include "PlatformPath.h"

namespace fs = std::filesystem;

namespace {

class PathTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("LUMO_MACHINE", (m_Temp / "machine").c_str(), 1); }
    void TearDown() override { unsetenv("LUMO_MACHINE"); }
    lumotest::TempDir m_Temp;
};

std::string ToPosix(const std::string& native)
{
    std::string posix;
    return PlatNativeToPosix(native, posix) ? posix : "(none)";
}

std::string ToNative(const std::string& posix)
{
    std::string native;
    return PlatPosixToNative(posix, native) ? native : "(none)";
}

}  // namespace

TEST_F(PathTest, DriveCIsTheRoot)
{
    struct Case {
        const char* native;
        const char* posix;
    } cases[] = {
        {"C:", "/"},
        {"C:\\", "/"},
        {"c:\\tmp\\..\\tmp\\.\\x", "/tmp/x"},
        {"C:/tmp//x\\", "/tmp/x"},
        {"C:\\..\\..", "/"},
        {"\\\\server\\share", "(none)"},
        {"Q:\\x", "(none)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ToPosix(c.native), c.posix) << c.native;
    EXPECT_EQ(ToNative("/"), "C:\\");
    EXPECT_EQ(ToNative("/tmp/a/../b/./c"), "C:\\tmp\\b\\c");
    EXPECT_EQ(ToNative("//tmp///x/"), "C:\\tmp\\x");
}

TEST_F(PathTest, DriveTableAndLookUpWhateverTheCase)
{
    fs::create_directories(m_Temp / "card/DCIM/100KZ");
    fs::create_directories(m_Temp / "machine");
    std::ofstream(m_Temp / "machine/drives") << "e: removable " << (m_Temp / "card").string() << "/\n"
                                             << "bogus line\n# comment\nZ network relative/path\n";
    std::vector<PlatDrive> drives = PlatGetDrives();
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0].letter, 'C');
    EXPECT_EQ(drives[1].letter, 'E');
    EXPECT_EQ(PlatGetDriveType("E:\\DCIM"), PLAT_DRIVE_REMOVABLE);
    EXPECT_EQ(PlatGetDriveType("C:\\"), PLAT_DRIVE_FIXED);
    EXPECT_EQ(PlatGetDriveType("Z:\\"), PLAT_DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(ToPosix("E:\\dcim\\100kz\\new.kzr"), (m_Temp / "card/DCIM/100KZ/new.kzr").string());
    EXPECT_EQ(ToNative((m_Temp / "card/DCIM").string()), "E:\\DCIM");
    EXPECT_TRUE(PlatPathExists("e:\\Dcim"));
    EXPECT_EQ(PlatGetFileAttributes("E:\\DCIM") & PLAT_ATTR_DIRECTORY, PLAT_ATTR_DIRECTORY);
}

TEST_F(PathTest, RelativePathsStartAtTheCurrentDirectory)
{
    fs::path keep = fs::current_path();
    fs::current_path(m_Temp.Path());
    std::string cwd = PlatGetCurrentDirectory();
    EXPECT_EQ(ToPosix("sub\\x"), (m_Temp / "sub/x").string());
    EXPECT_EQ(ToNative("sub/x"), cwd + "\\sub\\x");
    fs::current_path(keep);
    EXPECT_EQ(cwd, ToNative(m_Temp.Path().string()));
}
