// The disk storage class, its folders and files, on a scratch machine.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <fstream>

#include "KException.h"
#include "KSCDiskWin.h"
#include "KSCFileWin.h"
#include "KSCFolderWin.h"
#include "StorageFixture.h"

namespace fs = std::filesystem;

namespace {

KIStorageClass* Disk()
{
    KWString path;
    return ResolveURL(u"disk", path);
}

std::vector<std::string> Sorted(const std::vector<KWString>& names)
{
    std::vector<std::string> out;
    for (const KWString& n : names)
        out.push_back(Ascii(n));
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

TEST_F(StorageTest, NativePathsAndURLPaths)
{
    KIStorageClass* disk = Disk();
    ASSERT_NE(disk, nullptr);
    struct ToNative {
        const char16_t* path;
        bool ok;
        const char16_t* native;
    } toNative[] = {
        {u"C", true, u"C:"},
        {u"C/", true, u"C:"},
        {u"net/srv/share", true, u"\\\\srv\\share"},
        {u"C/Photos/a%0027s", true, u"C:\\Photos\\a's"},
        {u"C//Photos//2003", true, u"C:\\Photos\\2003"},
        {u"", false, u""},
    };
    for (const ToNative& c : toNative) {
        KWString native;
        EXPECT_EQ(disk->GetNativePath(c.path, native), c.ok) << Ascii(c.path);
        if (c.ok) {
            EXPECT_EQ(native, c.native) << Ascii(c.path);
        }
    }
    struct FromNative {
        const char16_t* native;
        const char16_t* path;
    } fromNative[] = {
        {u"\\\\srv\\share\\a.kzr", u"net/srv/share/a.kzr"},
        {u"C:\\a'b", u"C/a%0027b"},
        {u"C:\\Program Files\\", u"C/Program Files"},
        {u"D:tail\\x", u"D/tail/x"},
        {u"C:\\it's#1", u"C/it%0027s%00231"},
    };
    for (const FromNative& c : fromNative) {
        KWString path;
        EXPECT_TRUE(disk->FromNativePath(c.native, path));
        EXPECT_EQ(path, c.path) << Ascii(c.native);
    }
    // A relative native path is taken from the current directory.
    std::string cwd = fs::current_path().string();
    fs::current_path(Root());
    KWString path, expected;
    EXPECT_TRUE(disk->FromNativePath(u"sub\\x.txt", path));
    fs::current_path(cwd);
    expected = RootURL() + KWString(u"sub/x.txt");
    EXPECT_EQ(KWString(u"disk://") + path, expected);

    EXPECT_EQ(KWString(disk->GetDescription()), u"physical disks attached to the system");
}

TEST_F(StorageTest, PosixPathsRoundTripThroughURLs)
{
    KWString url;
    ASSERT_TRUE(PosixPathToURL("/tmp/it's#1", url));
    EXPECT_EQ(url, u"disk://C/tmp/it%0027s%00231");
    KWString native;
    ASSERT_TRUE(URLToNativePath(url, native));
    EXPECT_EQ(native, u"C:\\tmp\\it's#1");
    std::string posix;
    ASSERT_TRUE(URLToPosixPath(url, posix));
    EXPECT_EQ(posix, "/tmp/it's#1");
    ASSERT_TRUE(PosixPathToURL("/", url));
    EXPECT_EQ(url, u"disk://C");
}

TEST_F(StorageTest, FileURLsOfPathsOpenTheFile)
{
    // Names with characters a URL component escapes: the file URL opens (and writes) the very file.
    for (const char* name : {"it's #1.kzr", "100%0041.kzr", "a:b?.kzr", "plain.kzr"}) {
        SCOPED_TRACE(name);
        fs::create_directories(Path("it's"));
        lumotest::WriteText(Path(std::string("it's/") + name), "raw");
        KWString url;
        ASSERT_TRUE(PosixFileToURL(Path(std::string("it's/") + name).string(), url));
        EXPECT_EQ(url, RootURL() + u"it%0027s/" + Utf8ToWide(name));
        KFileHolder file(OpenFileByURL(url, KFILE_MODE_READ));
        ASSERT_TRUE(file);
        EXPECT_EQ(file->GetSize(), 3u);
    }
    KWString url;
    ASSERT_TRUE(PosixFileToURL("/", url));
    EXPECT_EQ(url, u"disk://C");
    ASSERT_TRUE(NativeFileToURL(u"C:\\x's", url));
    EXPECT_EQ(url, u"disk://C/x's");
}

TEST_F(StorageTest, OpenFolderOfAFileGivesItsFolderAndLeaf)
{
    fs::create_directories(Root() / "dir");
    lumotest::WriteText(Root() / "dir/file.jpg", "x");
    KWString leaf = u"stale";
    KFolderHolder folder(OpenFolderByURL(URL("dir/file.jpg"), leaf, false));
    ASSERT_TRUE(folder);
    EXPECT_EQ(leaf, u"file.jpg");
    KWString url;
    folder->GetURL(url);
    EXPECT_EQ(url, URL("dir/"));

    KFolderHolder same(OpenFolderByURL(URL("dir"), leaf, false));
    ASSERT_TRUE(same);
    EXPECT_TRUE(leaf.IsEmpty());
    EXPECT_FALSE(OpenFolderByURL(URL("missing"), leaf, false));
}

TEST_F(StorageTest, CreateFolderPathCreatesEveryLevel)
{
    KWString leaf;
    KFolderHolder made(OpenFolderByURL(URL("new1/new2"), leaf, true));
    ASSERT_TRUE(made);
    EXPECT_TRUE(fs::is_directory(Root() / "new1/new2"));
    // An existing folder counts as made; a file in the way does not.
    KFolderHolder again(OpenFolderByURL(URL("new1/new2"), leaf, true));
    EXPECT_TRUE(again);
    lumotest::WriteText(Root() / "plain", "x");
    EXPECT_FALSE(OpenFolderByURL(URL("plain/sub"), leaf, true));

    KFolderHolder root(OpenFolderByURL(RootURL(), leaf, false));
    ASSERT_TRUE(root);
    KFolderHolder deep(root->OpenFolder(u"a%0027b\\c'd", true));
    ASSERT_TRUE(deep);
    EXPECT_TRUE(fs::is_directory(Root() / "a%0027b/c'd"));
    EXPECT_FALSE(root->OpenFolder(u"plain/sub", true));
    EXPECT_FALSE(root->OpenFolder(u"nothing", false));
}

TEST_F(StorageTest, OpenModesFollowTheTable)
{
    lumotest::WriteText(Root() / "f.txt", "hello");
    KWString leaf;
    KFolderHolder folder(OpenFolderByURL(RootURL(), leaf, false));
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->OpenFile(u"missing.txt", KFILE_MODE_READ), nullptr);

    {
        KFileHolder f(folder->OpenFile(u"f.txt", KFILE_MODE_READ));
        ASSERT_TRUE(f);
        EXPECT_EQ(f->GetSize(), 5u);
        EXPECT_EQ(f->Tell(), 0u);
        EXPECT_EQ(f->Write("x", 1), 0);  // read only
    }
    {
        KFileHolder f(folder->OpenFile(u"f.txt", KFILE_MODE_APPEND));
        ASSERT_TRUE(f);
        EXPECT_EQ(f->GetSize(), 5u);  // never emptied
        EXPECT_EQ(f->Tell(), 5u);
        EXPECT_NE(f->Write("!", 1), 0);
    }
    EXPECT_EQ(lumotest::ReadText(Root() / "f.txt"), "hello!");
    for (int mode : {KFILE_MODE_WRITE, KFILE_MODE_READWRITE}) {
        lumotest::WriteText(Root() / "f.txt", "hello");
        KFileHolder f(folder->OpenFile(u"f.txt", mode));
        ASSERT_TRUE(f);
        EXPECT_EQ(f->GetSize(), 0u) << mode;
        EXPECT_NE(f->Write("abc", 3), 0);
        f->Seek(0);
        char buf[4] = {};
        EXPECT_EQ(f->Read(buf, 4), 3u);
        EXPECT_STREQ(buf, "abc");
    }
    for (int mode : {KFILE_MODE_WRITE, KFILE_MODE_READWRITE, KFILE_MODE_APPEND}) {
        KWString name = Utf8ToWide("created" + std::to_string(mode));
        KFileHolder f(folder->OpenFile(name, mode));
        ASSERT_TRUE(f);
        EXPECT_TRUE(fs::exists(Root() / Ascii(name)));
    }
    // A read-only file cannot be opened for writing.
    lumotest::WriteText(Root() / "ro.txt", "keep");
    KFileInfo info;
    info.flags = KFILEINFO_READONLY;
    SetReadOnlyByURL(URL("ro.txt"), &info);
    EXPECT_THROW(folder->OpenFile(u"ro.txt", KFILE_MODE_WRITE), KExceptionFileOpen);
    EXPECT_EQ(lumotest::ReadText(Root() / "ro.txt"), "keep");
    // Through the class: a folder is no file (a trailing "/" leaves no empty name: the folder itself is tried).
    EXPECT_THROW(OpenFileByURL(RootURL(), KFILE_MODE_READ), KExceptionFileOpen);
    EXPECT_EQ(OpenFileByURL(URL("nofolder/x.txt"), KFILE_MODE_WRITE), nullptr);
}

TEST_F(StorageTest, FilePositionsAndSizes)
{
    KFileHolder f(OpenFileByURL(URL("data.bin"), KFILE_MODE_READWRITE));
    ASSERT_TRUE(f);
    std::vector<uint8_t> bytes(1000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i);
    ASSERT_NE(f->Write(bytes.data(), 1000), 0);
    EXPECT_EQ(f->Seek(100), 100u);
    uint8_t b[4];
    f->ReadExact(b, 4);
    EXPECT_EQ(b[0], 100);
    EXPECT_EQ(f->Tell(), 104u);
    f->SetEndOfFile(500);
    EXPECT_EQ(f->GetSize(), 500u);
    EXPECT_EQ(f->Tell(), 104u);  // kept
    f->Seek(498);
    try {
        f->ReadExact(b, 4);
        FAIL();
    } catch (const KExceptionEOF& e) {
        EXPECT_STREQ(e.GetDescription(), "End-of-file");
        EXPECT_NE(std::string(e.GetMessage()).find("data.bin"), std::string::npos);
    }
    EXPECT_EQ(f->Read(b, 4), 0u);
    f->Flush();
    KWString url;
    f->GetURL(url);
    EXPECT_EQ(url, URL("data.bin"));

    // Beyond 4 GiB the 32-bit interface says "does not fit" (a sparse file costs nothing).
    ASSERT_EQ(truncate((Root() / "data.bin").c_str(), 5ll << 30), 0);
    EXPECT_EQ(f->GetSize(), KFILE_SIZE_UNKNOWN);
    KSCFileWin big(u"disk", Native("data.bin"), KFILE_MODE_APPEND);
    EXPECT_EQ(big.Tell(), KFILE_SIZE_UNKNOWN);
}

TEST_F(StorageTest, ReadLineKnowsThreeEncodings)
{
    auto lines = [&](const std::string& bytes) {
        lumotest::WriteText(Root() / "t.txt", bytes);
        KFileHolder f(OpenFileByURL(URL("t.txt"), KFILE_MODE_READ));
        std::vector<std::u16string> out;
        KWString line;
        while (f->ReadLine(line))
            out.push_back(line.Str());
        return out;
    };
    using V = std::vector<std::u16string>;
    EXPECT_EQ(lines("a\r\nb"), (V{u"a\r\n", u"b"}));
    EXPECT_EQ(lines("a\rb\n\n"), (V{u"a\r", u"b\n", u"\n"}));
    EXPECT_EQ(lines("x"), (V{u"x"}));           // one byte: 8-bit text
    EXPECT_EQ(lines("ab\bc\r"), (V{u"ac\r"}));  // a backspace takes the character before it
    EXPECT_EQ(lines(std::string("\xe9\n", 2)), (V{std::u16string(1, u'\uffe9') + u"\n"}));
    EXPECT_EQ(lines(std::string("\xff\xfe" "a\0\r\0\n\0b\0", 10)), (V{u"a\r\n", u"b"}));
    EXPECT_EQ(lines(std::string("\xfe\xff\0a\0\n\x30\x42", 8)), (V{u"a\n", u"\u3042"}));
    EXPECT_EQ(lines(""), V{});

    lumotest::WriteText(Root() / "t.txt", std::string("\xff\xfe" "a\0", 4));
    KSCFileWin f(u"disk", Native("t.txt"), KFILE_MODE_READ);
    EXPECT_EQ(f.GetEncoding(), KSCFileWin::ENCODING_UTF16LE);
    EXPECT_EQ(f.Tell(), 0u);  // the mark is skipped only by ReadLine
}

TEST_F(StorageTest, FileInfoTimesAndReadOnly)
{
    lumotest::WriteText(Root() / "t.txt", "x");
    struct utimbuf times = {20, 10};
    ASSERT_EQ(utime((Root() / "t.txt").c_str(), &times), 0);
    KFileHolder f(OpenFileByURL(URL("t.txt"), KFILE_MODE_READ));
    ASSERT_TRUE(f);
    KFileInfo info;
    info.flags = KFILEINFO_CALLER_MARK | KFILEINFO_READONLY;
    f->GetInfo(&info);
    EXPECT_EQ(info.modifiedTime, 10);
    EXPECT_EQ(info.accessedTime, 20);
    EXPECT_EQ(info.flags, KFILEINFO_CALLER_MARK);  // bit 1 carried, bit 0 from the file

    info.flags = KFILEINFO_READONLY;
    f->SetReadOnly(&info);
    EXPECT_EQ(access((Root() / "t.txt").c_str(), F_OK), 0);
    struct stat st;
    stat((Root() / "t.txt").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    info.flags = 0;
    f->GetInfo(&info);
    EXPECT_EQ(info.flags, KFILEINFO_READONLY);
    info.flags = 0;
    f->SetReadOnly(&info);
    stat((Root() / "t.txt").c_str(), &st);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u);
}

TEST_F(StorageTest, FolderListingsAndDeletion)
{
    fs::create_directories(Root() / "sub/inner");
    fs::create_directories(Root() / ".hidden");
    lumotest::WriteText(Root() / "a.txt", "a");
    lumotest::WriteText(Root() / "b.txt", "b");
    lumotest::WriteText(Root() / "sub/inner/c.txt", "c");
    KWString leaf;
    KFolderHolder folder(OpenFolderByURL(RootURL(), leaf, false));
    std::vector<KWString> files{KWString(u"kept")}, folders;
    folder->ListFiles(files);
    folder->ListFolders(folders);
    EXPECT_EQ(Sorted(files), (std::vector<std::string>{"a.txt", "b.txt", "kept"}));
    EXPECT_EQ(Sorted(folders), (std::vector<std::string>{".hidden", "sub"}));

    folder->Rename(u"a.txt", u"c.txt");
    EXPECT_TRUE(fs::exists(Root() / "c.txt"));
    folder->Rename(u"c.txt", u"b.txt");  // the target exists: nothing happens
    EXPECT_EQ(lumotest::ReadText(Root() / "c.txt"), "a");
    EXPECT_EQ(lumotest::ReadText(Root() / "b.txt"), "b");

    EXPECT_TRUE(folder->DeleteFile(u"c.txt"));
    EXPECT_FALSE(fs::exists(Root() / "c.txt"));
    EXPECT_TRUE(folder->DeleteFile(u"never-there.txt"));  // a missing file counts as deleted
    KFileInfo ro;
    ro.flags = KFILEINFO_READONLY;
    SetReadOnlyByURL(URL("b.txt"), &ro);
    EXPECT_FALSE(folder->DeleteFile(u"b.txt"));  // refused: reported, not passed off as done
    EXPECT_TRUE(fs::exists(Root() / "b.txt"));
    DeleteFileByURL(URL("b.txt"));
    EXPECT_TRUE(fs::exists(Root() / "b.txt"));

    // Folders: only an empty one without "how"; everything with how 1, read-only files included.
    SetReadOnlyByURL(URL("sub/inner/c.txt"), &ro);
    folder->DeleteFolder(URL("sub"), 0);
    EXPECT_TRUE(fs::exists(Root() / "sub"));
    folder->DeleteFolder(URL("sub"), 1);
    EXPECT_FALSE(fs::exists(Root() / "sub"));
}

TEST_F(StorageTest, RecursiveDeleteRemovesLinksNotTheirTargets)
{
    fs::create_directories(Root() / "victim/inside");
    lumotest::WriteText(Root() / "victim/inside/photo.kzr", "precious");
    fs::create_directories(Root() / "doomed");
    fs::create_directory_symlink(Root() / "victim", Root() / "doomed/link");
    fs::create_directory_symlink(Root() / "victim", Root() / "alias");
    KWString leaf;
    KFolderHolder folder(OpenFolderByURL(RootURL(), leaf, false));
    folder->DeleteFolder(URL("doomed"), 1);
    folder->DeleteFolder(URL("alias"), 1);
    EXPECT_FALSE(fs::exists(Root() / "doomed"));
    EXPECT_FALSE(fs::is_symlink(Root() / "alias"));
    EXPECT_EQ(lumotest::ReadText(Root() / "victim/inside/photo.kzr"), "precious");
}

TEST_F(StorageTest, FolderAttributes)
{
    fs::create_directories(Root() / ".hidden");
    KWString leaf;
    KFolderHolder hidden(OpenFolderByURL(URL(".hidden"), leaf, false));
    ASSERT_TRUE(hidden);
    KUInt32 flags = 0x100;
    EXPECT_TRUE(hidden->GetAttributes(&flags));
    EXPECT_EQ(flags, 0x100u | KFOLDER_HIDDEN);
    EXPECT_FALSE(hidden->IsReadOnly());
    EXPECT_GT(hidden->GetFreeSpace(), 0);
    EXPECT_EQ(hidden->GetDriveType(), KDRIVE_FIXED);
    KWString note = u"x";
    hidden->GetNote(note);
    EXPECT_TRUE(note.IsEmpty());

    chmod((Root() / ".hidden").c_str(), 0555);
    flags = 0;
    EXPECT_TRUE(hidden->GetAttributes(&flags));
    EXPECT_EQ(flags, KFOLDER_READONLY | KFOLDER_HIDDEN);
    EXPECT_TRUE(hidden->IsReadOnly());
    chmod((Root() / ".hidden").c_str(), 0755);

    fs::remove(Root() / ".hidden");
    EXPECT_FALSE(hidden->GetAttributes(&flags));
    EXPECT_EQ(hidden->GetFreeSpace(), -1);
}

TEST_F(StorageTest, NamesAreFoundWhateverTheirCase)
{
    fs::create_directories(Root() / "Photos");
    lumotest::WriteText(Root() / "Photos/IMG_0001.KZR", "raw");
    KFileHolder f(OpenFileByURL(URL("photos/img_0001.kzr"), KFILE_MODE_READ));
    ASSERT_TRUE(f);
    char b[3];
    f->ReadExact(b, 3);
    EXPECT_EQ(std::string(b, 3), "raw");
    bool isFolder = false;
    EXPECT_TRUE(ExistsByURL(URL("PHOTOS"), &isFolder));
    EXPECT_TRUE(isFolder);
    EXPECT_TRUE(ExistsByURL(URL("photos/img_0001.KZR"), &isFolder));
    EXPECT_FALSE(isFolder);
    isFolder = true;
    EXPECT_FALSE(ExistsByURL(URL("nothing"), &isFolder));
    EXPECT_TRUE(isFolder);  // untouched
    // An exact match wins over a case-insensitive one.
    lumotest::WriteText(Root() / "photos", "file");
    EXPECT_TRUE(ExistsByURL(URL("photos"), &isFolder));
    EXPECT_FALSE(isFolder);
    // A change of case only is a rename.
    KWString leaf;
    KFolderHolder folder(OpenFolderByURL(URL("Photos"), leaf, false));
    folder->Rename(u"IMG_0001.KZR", u"img_0001.kzr");
    EXPECT_TRUE(fs::exists(Root() / "Photos/img_0001.kzr"));
    EXPECT_FALSE(fs::exists(Root() / "Photos/IMG_0001.KZR"));
}

TEST_F(StorageTest, DrivesOfTheMachine)
{
    fs::create_directories(Root() / "card/DCIM");
    {
        std::ofstream table(Machine() / "drives");
        table << "# drives of the test machine\n";
        table << "E removable " << (Root() / "card").string() << "\n";
        table << "F: cdrom " << (Root() / "nowhere").string() << "\n";
    }
    KWString leaf;
    KFolderHolder drives(OpenFolderByURL(u"disk://", leaf, false));
    ASSERT_TRUE(drives);
    std::vector<KWString> names;
    drives->ListFolders(names);
    EXPECT_EQ(Sorted(names), (std::vector<std::string>{"C", "E", "F"}));
    EXPECT_EQ(drives->OpenFolder(u"Q", false), nullptr);
    EXPECT_EQ(drives->OpenFolder(u"e", false), nullptr);  // names compare exactly
    KFolderHolder card(drives->OpenFolder(u"E", false));
    ASSERT_TRUE(card);
    EXPECT_EQ(card->GetDriveType(), KDRIVE_REMOVABLE);
    KWString url;
    card->GetURL(url);
    EXPECT_EQ(url, u"disk://E/");
    names.clear();
    card->ListFolders(names);
    EXPECT_EQ(Sorted(names), (std::vector<std::string>{"DCIM"}));
    EXPECT_FALSE(card->IsReadOnly());
    drives->GetURL(url);
    EXPECT_EQ(url, u"disk");
    EXPECT_TRUE(drives->IsReadOnly());
    EXPECT_EQ(drives->GetDriveType(), 0);
    EXPECT_THROW(drives->Rename(u"C", u"D"), KExceptionFileIO);
    EXPECT_THROW(drives->DeleteFolder(u"disk://C", 1), KExceptionFileIO);

    // A path on the card maps to the drive letter and back.
    ASSERT_TRUE(PosixPathToURL((Root() / "card/DCIM").string(), url));
    EXPECT_EQ(url, u"disk://E/DCIM");

    KFolderHolder net(OpenFolderByURL(u"disk://net", leaf, false));
    ASSERT_TRUE(net);
    names.clear();
    net->ListFolders(names);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(net->GetDriveType(), KDRIVE_REMOTE);
    EXPECT_EQ(OpenFileByURL(u"disk://net/srv/share/a.kzr", KFILE_MODE_READ), nullptr);
}
