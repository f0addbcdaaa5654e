// The access layer and the camera storage class with no camera attached: the virtual camera of the working
// folder, and nothing at all.
#include <sys/stat.h>

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "CameraFixture.h"
#include "KCamAccess.h"
#include "KException.h"
#include "KSCCamera.h"
#include "KTextFunctions.h"

using camtest::CameraTest;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const char* camera, const char* path, uint32_t offset = 0, uint32_t count = 200000)
{
    std::string text(count, '\0');
    text.resize(CamReadFile(camera, path, offset, text.data(), count));
    return text;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

}  // namespace

TEST_F(CameraTest, WithoutAnyCameraEveryOperationFails)
{
    // A VirtualCamera folder without its "Connected" file is no camera either.
    fs::create_directories(Work() / "VirtualCamera");
    lumotest::WriteText(Work() / "VirtualCamera/a.kzr", "raw");
    char names[64] = "x";
    uint32_t size = sizeof names;
    EXPECT_EQ(CamGetNames(names, &size), 0u);
    EXPECT_EQ(size, 1u);
    EXPECT_STREQ(names, "");
    char buffer[8];
    uint32_t fileSize = 0;
    for (const char* camera : {static_cast<const char*>(nullptr), "", kVirtualCameraName, "USB@tool_OstraUSB0"}) {
        SCOPED_TRACE(camera ? camera : "(null)");
        EXPECT_FALSE(CamIsConnected(camera));
        EXPECT_FALSE(CamGetFileInfo(camera, "/a.kzr", &fileSize, nullptr, nullptr));
        EXPECT_EQ(CamReadFile(camera, "/a.kzr", 0, buffer, sizeof buffer), 0u);
        EXPECT_FALSE(CamWriteFile(camera, "/b.kzr", 0, "x", 1));
        EXPECT_FALSE(CamSetFileAttributes(camera, "/a.kzr", kCamAttrLock));
        EXPECT_FALSE(CamDeleteFile(camera, "/a.kzr"));
    }
    EXPECT_TRUE(fs::exists(Work() / "VirtualCamera/a.kzr"));
    EXPECT_FALSE(fs::exists(Work() / "VirtualCamera/b.kzr"));

    RegisterClasses();
    KWString leaf;
    KFolderHolder root(OpenFolderByURL(u"camera://", leaf, false));
    ASSERT_TRUE(root);
    std::vector<KWString> folders;
    root->ListFolders(folders);
    EXPECT_TRUE(folders.empty());
    EXPECT_FALSE(KFolderHolder(OpenFolderByURL(u"camera://%003C%003C%003CVirtualCamera%003E%003E%003E/", leaf, false)));
}

TEST_F(CameraTest, TheVirtualCameraAnswersForItsNameAndForTheFirstCamera)
{
    MakeVirtualCamera();
    char names[64];
    uint32_t size = sizeof names;
    EXPECT_EQ(CamGetNames(names, &size), 1u);
    EXPECT_STREQ(names, kVirtualCameraName);
    EXPECT_EQ(size, sizeof kVirtualCameraName);
    // A buffer too small for a name gets none of it: a cut name would name another camera.
    size = 5;
    EXPECT_EQ(CamGetNames(names, &size), 1u);
    EXPECT_STREQ(names, "");
    EXPECT_EQ(size, sizeof kVirtualCameraName);

    for (const char* camera : {static_cast<const char*>(nullptr), "", kVirtualCameraName})
        EXPECT_TRUE(CamIsConnected(camera)) << (camera ? camera : "(null)");
    for (const char* camera : {"USB@tool_OstraUSB0", "1394", "<<<virtualcamera>>>"})
        EXPECT_FALSE(CamIsConnected(camera)) << camera;
}

TEST_F(CameraTest, VirtualFilesReadWriteLockAndDelete)
{
    const fs::path root = MakeVirtualCamera();
    fs::create_directories(root / "cf");
    lumotest::WriteText(root / "cf/ten.kzr", "0123456789");
    lumotest::WriteText(Dir() / "outside.txt", "secret");

    EXPECT_EQ(ReadAll(kVirtualCameraName, "/cf/ten.kzr"), "0123456789");
    EXPECT_EQ(ReadAll(nullptr, "cf/ten.kzr", 7), "789");
    EXPECT_EQ(ReadAll(nullptr, "/cf/ten.kzr", 11), "");

    // Four bytes at offset 2 overwrite bytes 2 to 5 and keep the rest.
    EXPECT_TRUE(CamWriteFile(nullptr, "/cf/ten.kzr", 2, "ABCD", 4));
    EXPECT_EQ(lumotest::ReadText(root / "cf/ten.kzr"), "01ABCD6789");
    EXPECT_TRUE(CamWriteFile(nullptr, "/cf/new.kzr", 0, "new", 3));
    EXPECT_EQ(lumotest::ReadText(root / "cf/new.kzr"), "new");

    uint32_t size = 0, time = 0, flags = 0;
    ASSERT_TRUE(CamGetFileInfo(nullptr, "/cf/ten.kzr", &size, &time, &flags));
    EXPECT_EQ(size, 10u);
    EXPECT_NEAR(double(time), double(::time(nullptr)), 3600.0);
    EXPECT_EQ(flags, kCamAttrMark);

    // The lock is the file's write permission; the mark bit changes nothing here.
    ASSERT_TRUE(CamSetFileAttributes(nullptr, "/cf/ten.kzr", kCamAttrLock));
    ASSERT_TRUE(CamGetFileInfo(nullptr, "/cf/ten.kzr", nullptr, nullptr, &flags));
    EXPECT_EQ(flags, kCamAttrLock | kCamAttrMark);
    EXPECT_FALSE(CamWriteFile(nullptr, "/cf/ten.kzr", 0, "x", 1));
    EXPECT_FALSE(CamDeleteFile(nullptr, "/cf/ten.kzr"));
    ASSERT_TRUE(CamSetFileAttributes(nullptr, "/cf/ten.kzr", kCamAttrMark));
    ASSERT_TRUE(CamGetFileInfo(nullptr, "/cf/ten.kzr", nullptr, nullptr, &flags));
    EXPECT_EQ(flags, kCamAttrMark);
    EXPECT_TRUE(CamDeleteFile(nullptr, "/cf/ten.kzr"));
    EXPECT_FALSE(fs::exists(root / "cf/ten.kzr"));
    EXPECT_FALSE(CamGetFileInfo(nullptr, "/cf/ten.kzr", nullptr, nullptr, nullptr));

    // Nothing outside the folder is reached.
    for (const char* path : {"/../outside.txt", "/cf/../../outside.txt", "..\\outside.txt"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(ReadAll(nullptr, path), "");
        EXPECT_FALSE(CamGetFileInfo(nullptr, path, nullptr, nullptr, nullptr));
        EXPECT_FALSE(CamWriteFile(nullptr, path, 0, "x", 1));
        EXPECT_FALSE(CamDeleteFile(nullptr, path));
    }
    EXPECT_EQ(lumotest::ReadText(Dir() / "outside.txt"), "secret");
}

TEST_F(CameraTest, VirtualListingOfAPattern)
{
    const fs::path root = MakeVirtualCamera();
    fs::create_directories(root / "img/sub.kzr");
    lumotest::WriteText(root / "img/A.KZR", "0123456789");
    lumotest::WriteText(root / "img/b.kzr", "b");
    lumotest::WriteText(root / "img/c.txt", "c");
    fs::permissions(root / "img/b.kzr", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);

    const std::string listing = ReadAll(nullptr, "/img/*.KZR");
    std::vector<std::string> lines = Lines(listing);
    ASSERT_EQ(lines.size(), 3u) << listing;
    std::vector<KCameraListingEntry> entries;
    ParseCameraListing(listing.data(), listing.size(), entries);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(lines[0].substr(0, lines[0].find('\t')), "/img/A.KZR");
    EXPECT_EQ(lines[0].substr(lines[0].rfind('\t')), "\tM");
    EXPECT_EQ(lines[1].substr(lines[1].rfind('\t')), "\tLM");
    EXPECT_EQ(lines[2].substr(lines[2].rfind('\t')), "\tD");
    EXPECT_EQ(entries[0].size, 10);
    EXPECT_FALSE(entries[0].folder);
    EXPECT_EQ(entries[2].name, "sub.kzr");
    EXPECT_TRUE(entries[2].folder);

    uint32_t size = 0, time = 1, flags = 0;
    ASSERT_TRUE(CamGetFileInfo(nullptr, "/img/*.KZR", &size, &time, &flags));
    EXPECT_EQ(size, listing.size());
    EXPECT_EQ(time, 0u);
    EXPECT_EQ(flags, kCamAttrMark);
    EXPECT_EQ(ReadAll(nullptr, "/img/*.KZR", 5), listing.substr(5));
    EXPECT_EQ(ReadAll(nullptr, "/img/*.KZR", uint32_t(listing.size()) + 1), "");
    EXPECT_EQ(Lines(ReadAll(nullptr, "/img/?.kzr")).size(), 2u);
    EXPECT_EQ(ReadAll(nullptr, "/none/*"), "");
}

TEST_F(CameraTest, AVirtualListingStopsAtAWholeLineWithinItsBuffer)
{
    const fs::path root = MakeVirtualCamera();
    fs::create_directories(root / "many");
    const std::string stem(100, 'n');
    for (int i = 0; i < 1400; ++i)
        lumotest::WriteText(root / "many" / (stem + std::to_string(10000 + i)), "");
    uint32_t size = 0;
    ASSERT_TRUE(CamGetFileInfo(nullptr, "/many/*", &size, nullptr, nullptr));
    EXPECT_LT(size, kCamListingCapacity);
    EXPECT_GT(size, kCamListingCapacity - 200);
    const std::string listing = ReadAll(nullptr, "/many/*");
    ASSERT_EQ(listing.size(), size);
    EXPECT_EQ(listing.back(), '\n');
    for (const std::string& line : Lines(listing))
        ASSERT_EQ(line.rfind("/many/" + stem, 0), 0u) << line;
}

TEST(CameraListing, OnlyWholeEntriesAreTaken)
{
    using namespace std::string_view_literals;
    struct Case {
        std::string_view text;
        const char* names;  // the entries' names joined by ",", folders ending "/"
    };
    const Case cases[] = {
        {"/cf/a.kzr\t10\t5\tM\n/cf/dir\t0\t5\tD\n", "a.kzr,dir/"},
        {"/cf/a.kzr\t10\t5\t\n/cf/b.kzr\t10\t5\tLM", "a.kzr"},        // an unfinished last line
        {"/cf/a.kzr\tten\t5\t\n/cf/b.kzr\t10\t\t\n", ""},             // size or time not a number
        {"/cf/a.kzr\t10\t5\n/cf/b.kzr\t-1\t-5\tD\n", "b.kzr/"},        // a line without its flags field
        {"/cf/\t1\t1\t\n/cf/..\t1\t1\tD\n.\t1\t1\tD\nplain\t7\t7\t\n", "plain"},
        {"/cf/a\0b\t1\t1\t\n\n\t\t\t\n/x/y\t99999999999999999999\t1\t\n"sv, ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        const std::string text(c.text);
        std::vector<KCameraListingEntry> entries;
        ParseCameraListing(text.data(), text.size(), entries);
        std::string names;
        for (const KCameraListingEntry& e : entries)
            names += (names.empty() ? "" : ",") + e.name + (e.folder ? "/" : "");
        EXPECT_EQ(names, c.names) << text;
    }
}

TEST_F(CameraTest, TheStorageClassOverTheVirtualCamera)
{
    const fs::path root = MakeVirtualCamera();
    fs::create_directories(root / "cf/images");
    lumotest::WriteText(root / "cf/images/a.kzr", "0123456789");
    lumotest::WriteText(root / "cf/images/b.kzr", "bee");
    RegisterClasses();

    KWString leaf;
    KFolderHolder top(OpenFolderByURL(u"camera://", leaf, false));
    ASSERT_TRUE(top);
    std::vector<KWString> names;
    top->ListFolders(names);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], kVirtualCameraName);

    // Listed names are bare: a sub-folder opens below its folder.
    KFolderHolder camera(top->OpenFolder(names[0], false));
    ASSERT_TRUE(camera);
    KFolderHolder cf(camera->OpenFolder(u"cf", false));
    ASSERT_TRUE(cf);
    KFolderHolder images(cf->OpenFolder(u"images", false));
    ASSERT_TRUE(images);
    KWString url;
    images->GetURL(url);
    EXPECT_EQ(url, u"camera://<<<VirtualCamera>>>/cf/images/");
    names.clear();
    images->ListFiles(names);
    ASSERT_EQ(names.size(), 2u);
    names.clear();
    images->ListFolders(names);
    EXPECT_TRUE(names.empty());
    EXPECT_FALSE(KFileHolder(images->OpenFile(u"missing.kzr", KFILE_MODE_READ)));

    // A read after a write sees the written bytes.
    KFileHolder file(OpenFileByURL(u"camera://<<<VirtualCamera>>>/cf/images/a.kzr", KFILE_MODE_READWRITE));
    ASSERT_TRUE(file);
    char bytes[10];
    ASSERT_EQ(file->Read(bytes, 4), 4u);
    EXPECT_EQ(std::string(bytes, 4), "0123");
    EXPECT_TRUE(file->Write("AB", 2));
    EXPECT_EQ(file->Seek(0), 10u);
    ASSERT_EQ(file->Read(bytes, 10), 10u);
    EXPECT_EQ(std::string(bytes, 10), "0123AB6789");
    EXPECT_EQ(file->Read(bytes, 10), 0u);
    file.reset();

    // Deleting a file by URL deletes that file, not its folder's.
    DeleteFileByURL(u"camera://<<<VirtualCamera>>>/cf/images/b.kzr");
    EXPECT_FALSE(fs::exists(root / "cf/images/b.kzr"));
    EXPECT_TRUE(fs::exists(root / "cf/images/a.kzr"));
    MoveToTrashByURL(u"camera://<<<VirtualCamera>>>/cf/images/a.kzr");
    EXPECT_FALSE(fs::exists(root / "cf/images/a.kzr"));
    EXPECT_THROW(MoveToTrashByURL(u"camera://<<<VirtualCamera>>>/cf/images/a.kzr"), KExceptionFileIO);
    EXPECT_THROW(LaunchByURL(u"camera://<<<VirtualCamera>>>/cf/images/a.kzr", nullptr), KExceptionFileNotFound);
}

TEST_F(CameraTest, NativePathsOfTheCameraClass)
{
    KSCCamera camera(u"camera");
    struct Case {
        const char16_t* native;
        const char16_t* path;
    };
    const Case cases[] = {
        {u"/cf/images/it's #1.kzr", u"cf/images/it%0027s %00231.kzr"},
        {u"C:\\cf\\a.kzr", u"C%003A/cf/a.kzr"},
        {u"//cf//a", u"cf/a"},
    };
    for (const Case& c : cases) {
        KWString path;
        EXPECT_TRUE(camera.FromNativePath(c.native, path));
        EXPECT_EQ(path, c.path) << WideToUtf8(KWString(c.native));
    }
    KWString path, native;
    ASSERT_TRUE(camera.FromNativePath(u"a.kzr", path));
    ASSERT_TRUE(camera.GetNativePath(path, native));
    EXPECT_EQ(WideToUtf8(native).substr(WideToUtf8(native).size() - 11), "/work/a.kzr") << WideToUtf8(native);
    ASSERT_TRUE(camera.GetNativePath(u"cf/it%0027s %00231.kzr", native));
    EXPECT_EQ(native, u"cf/it's #1.kzr");
    EXPECT_FALSE(camera.IsDiskRoot());
    KWString url;
    EXPECT_FALSE(camera.GetSpecialFolder(KSPECIAL_APPDATA, url));
}

TEST_F(CameraTest, AMyCameraFolderStandsInForTheCamerasWhenNoneIsConnected)
{
    fs::create_directories(Work() / "MyCamera/cf");
    lumotest::WriteText(Work() / "MyCamera/cf/a.kzr", "raw");
    RegisterClasses();
    KWString leaf, url;
    KFolderHolder top(OpenFolderByURL(u"camera://", leaf, false));
    ASSERT_TRUE(top);
    std::vector<KWString> names;
    top->ListFolders(names);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(WideToUtf8(names[0]).rfind("disk://", 0), 0u);
    EXPECT_EQ(WideToUtf8(names[0]).substr(WideToUtf8(names[0]).size() - 15), "/work/MyCamera/");
    KFolderHolder root(top->OpenFolder(names[0], false));
    ASSERT_TRUE(root);
    names.clear();
    root->ListFolders(names);
    EXPECT_EQ(names, std::vector<KWString>{u"cf"});
    KFileHolder file(OpenFileByURL(u"camera://cf/a.kzr", KFILE_MODE_READ));
    ASSERT_TRUE(file);
    char bytes[3];
    file->ReadExact(bytes, 3);
    EXPECT_EQ(std::string(bytes, 3), "raw");
}
