// Special folders, launching documents and the trash, on a scratch machine.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "KException.h"
#include "StorageFixture.h"

namespace fs = std::filesystem;

namespace {

void WriteScript(const fs::path& path, const std::string& body)
{
    lumotest::WriteText(path, "#!/bin/sh\n" + body);
    chmod(path.c_str(), 0755);
}

bool WaitForFile(const fs::path& path)
{
    for (int i = 0; i < 500 && !fs::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return fs::exists(path);
}

}  // namespace

TEST_F(StorageTest, SpecialFoldersStayInTheScratchMachine)
{
    const fs::path home = Machine() / "home";
    struct Case {
        int kind;
        fs::path folder;
    } cases[] = {
        {KSPECIAL_APPDATA, home / ".config"},
        {KSPECIAL_DESKTOP, home / "Desktop"},
        {KSPECIAL_PROGRAMS, home / ".local/share/applications"},
        {KSPECIAL_STARTUP, home / ".config/autostart"},
        {KSPECIAL_DOCUMENTS, home / "Documents"},
    };
    setenv("XDG_CONFIG_HOME", "/nonexistent-config", 1);  // ignored on a scratch machine
    for (const Case& c : cases) {
        KWString url = GetSpecialFolderURL(c.kind), expected;
        ASSERT_TRUE(PosixPathToURL(c.folder.string(), expected));
        EXPECT_EQ(url, expected + KWString(u"/")) << c.kind;
        EXPECT_TRUE(fs::is_directory(c.folder)) << c.kind;  // created when missing
    }
    unsetenv("XDG_CONFIG_HOME");

    // The user-dirs file names the desktop and documents folders.
    lumotest::WriteText(home / ".config/user-dirs.dirs",
                        "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    KWString expected;
    ASSERT_TRUE(PosixPathToURL((home / "Schreibtisch").string(), expected));
    EXPECT_EQ(GetSpecialFolderURL(KSPECIAL_DESKTOP), expected + KWString(u"/"));
    EXPECT_TRUE(fs::is_directory(home / "Dokumente") || !GetSpecialFolderURL(KSPECIAL_DOCUMENTS).IsEmpty());

    // The program's folder comes from the running executable.
    char exe[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    ASSERT_TRUE(PosixPathToURL(fs::path(exe).parent_path().string(), expected));
    EXPECT_EQ(GetSpecialFolderURL(KSPECIAL_PROGRAM), expected + KWString(u"/"));

    setenv("TMPDIR", Root().c_str(), 1);
    EXPECT_EQ(GetSpecialFolderURL(KSPECIAL_TEMP), RootURL());
    unsetenv("TMPDIR");

    unsetenv("SystemRoot");
    EXPECT_TRUE(GetSpecialFolderURL(KSPECIAL_SYSTEM).IsEmpty());
    setenv("SystemRoot", "C:\\Windows", 1);
    EXPECT_EQ(GetSpecialFolderURL(KSPECIAL_SYSTEM), u"disk://C/Windows/");
    unsetenv("SystemRoot");
    KWString url;
    KWString path;
    EXPECT_FALSE(ResolveURL(u"disk", path)->GetSpecialFolder(9, url));
}

TEST_F(StorageTest, LaunchOpensThroughTheOpener)
{
    fs::create_directories(Root() / "docs");
    lumotest::WriteText(Root() / "docs/a.txt", "text");
    const fs::path log = Root() / "opened.log";
    WriteScript(Root() / "opener", "echo \"$1\" > '" + log.string() +
                                       "'\ncase \"$1\" in *.none) exit 3;; *.bad) exit 1;; esac\nexit 0\n");
    setenv("LUMO_OPENER", (Root() / "opener").c_str(), 1);

    LaunchByURL(URL("docs/a.txt"), nullptr);
    EXPECT_EQ(lumotest::ReadText(log), (Root() / "docs/a.txt").string() + "\n");

    lumotest::WriteText(Root() / "docs/a.none", "");
    lumotest::WriteText(Root() / "docs/a.bad", "");
    try {
        LaunchByURL(URL("docs/a.none"), nullptr);
        FAIL();
    } catch (const KExceptionLaunchFailed& e) {
        KWString native = Native("docs/a.none");
        EXPECT_EQ(std::string(e.GetMessage()), "KSCDiskWin::Launch: '" + std::string(native.GetAscii()) + "'");
        EXPECT_STREQ(e.GetDescription(), "Application Launch Failed");
    }
    EXPECT_THROW(LaunchByURL(URL("docs/a.bad"), nullptr), KExceptionFileIO);
    EXPECT_THROW(LaunchByURL(URL("docs/missing.txt"), nullptr), KExceptionFileNotFound);
    EXPECT_THROW(LaunchByURL(URL("nofolder/missing.txt"), nullptr), KExceptionFileNotFound);
    LaunchByURL(URL("docs/"), nullptr);  // a folder opens too
    EXPECT_EQ(lumotest::ReadText(log), (Root() / "docs").string() + "\n");

    setenv("LUMO_OPENER", (Root() / "no-such-opener").c_str(), 1);
    EXPECT_THROW(LaunchByURL(URL("docs/a.txt"), nullptr), KExceptionLaunchFailed);
    unsetenv("LUMO_OPENER");
}

TEST_F(StorageTest, LaunchStartsAProgramWithItsParameters)
{
    const fs::path log = Root() / "args.log";
    WriteScript(Root() / "prog", "pwd > '" + log.string() + ".tmp'\nfor a in \"$@\"; do echo \"$a\" >> '" +
                                     log.string() + ".tmp'; done\nmv '" + log.string() + ".tmp' '" + log.string() +
                                     "'\n");
    LaunchByURL(URL("prog"), u"-x \"two words\"");
    ASSERT_TRUE(WaitForFile(log));
    EXPECT_EQ(lumotest::ReadText(log), Root().string() + "\n-x\ntwo words\n");
}

TEST_F(StorageTest, MoveToTrashKeepsARecord)
{
    lumotest::WriteText(Root() / "gone.kzr", "raw");
    fs::create_directories(Root() / "folder/inner");
    MoveToTrashByURL(URL("gone.kzr"));
    EXPECT_FALSE(fs::exists(Root() / "gone.kzr"));
    const fs::path trash = Machine() / "home/.local/share/Trash";
    EXPECT_EQ(lumotest::ReadText(trash / "files/gone.kzr"), "raw");
    std::string info = lumotest::ReadText(trash / "info/gone.kzr.trashinfo");
    EXPECT_EQ(info.rfind("[Trash Info]\nPath=", 0), 0u) << info;
    EXPECT_NE(info.find("Path=" + (Root() / "gone.kzr").string() + "\n"), std::string::npos) << info;
    EXPECT_NE(info.find("DeletionDate="), std::string::npos);

    // A second item of the same name gets a name of its own; folders go too.
    lumotest::WriteText(Root() / "gone.kzr", "second");
    MoveToTrashByURL(URL("gone.kzr"));
    EXPECT_EQ(lumotest::ReadText(trash / "files/gone.kzr.2"), "second");
    EXPECT_TRUE(fs::exists(trash / "info/gone.kzr.2.trashinfo"));
    MoveToTrashByURL(URL("folder"));
    EXPECT_TRUE(fs::is_directory(trash / "files/folder/inner"));

    try {
        MoveToTrashByURL(URL("never.kzr"));
        FAIL();
    } catch (const KExceptionFileIO& e) {
        EXPECT_EQ(std::string(e.GetMessage()),
                  "KSCDiskWin::MoveToTrash: '" + std::string(Native("never.kzr").GetAscii()) + "'");
    }
    // Names that need escaping, in the URL and in the trash record.
    lumotest::WriteText(Root() / "a b%.kzr", "x");
    MoveToTrashByURL(URL("a b%0025.kzr"));
    EXPECT_TRUE(fs::exists(trash / "files/a b%.kzr"));
    info = lumotest::ReadText(trash / "info/a b%.kzr.trashinfo");
    EXPECT_NE(info.find("/a%20b%25.kzr\n"), std::string::npos) << info;
}
