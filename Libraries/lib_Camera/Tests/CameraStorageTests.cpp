// The camera storage class and the access layer over the simulated camera, on each link and in each byte order.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "CameraFixture.h"
#include "KCamAccess.h"
#include "KCamConnection.h"
#include "KCamMailbox.h"
#include "KException.h"
#include "KTextFunctions.h"
#include "SimBus1394.h"

namespace {

namespace fs = std::filesystem;

struct Setting {
    simcam::Plug plug;
    simcam::ByteOrder order;
};

std::string SettingName(const ::testing::TestParamInfo<Setting>& info)
{
    return std::string(info.param.plug == simcam::Plug::Usb ? "Usb" : "Bus1394") +
           simcam::OrderName(info.param.order);
}

std::vector<uint8_t> Pattern(size_t n, unsigned seed)
{
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = uint8_t((i * 131 + seed * 7 + (i >> 9)) & 0xFF);
    return bytes;
}

class CameraOnLink : public camtest::CameraTest, public ::testing::WithParamInterface<Setting> {
protected:
    void SetUp() override
    {
        CameraTest::SetUp();
        std::string error;
        ASSERT_TRUE(simcam::NewCamera(m_Id, GetParam().order, &error)) << error;
        // Block reads on 1394: the transfer engine's 128-byte packets are slow here, and lumofs's tests take
        // that road.
        ASSERT_TRUE(simcam::SetCameraKnob(m_Id, "engine", "off", &error)) << error;
        ASSERT_TRUE(simcam::PlugCamera(m_Id, GetParam().plug, &error)) << error;
        simbus::PollBus1394();  // the 1394 bus may still hold an earlier test's machine
        char names[2048];
        uint32_t size = sizeof names;
        ASSERT_EQ(CamGetNames(names, &size), 1u);
        m_Camera = names;
        KWString escaped;
        EscapeURLComponent(Utf8ToWide(m_Camera), escaped);
        m_FolderURL = u"camera://";
        m_FolderURL += escaped;
        m_FolderURL += u"/cf/images/";
        RegisterClasses();
    }

    // Puts a file on the card as /cf/images/<name>.
    fs::path Shoot(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        const fs::path source = Dir() / ("shot-" + name);
        lumotest::WriteBytes(source, bytes);
        std::string error;
        EXPECT_TRUE(simcam::ShootPicture(m_Id, source.string(), name, nullptr, &error)) << error;
        return fs::path(simcam::CardFolder(m_Id)) / "cf/images" / name;
    }
    KWString FileURL(const std::string& name) const
    {
        KWString url = m_FolderURL;
        url += Utf8ToWide(name);
        return url;
    }
    // Command words the camera has received so far.
    size_t CommandsSent() const
    {
        std::string log, error;
        EXPECT_TRUE(simcam::ReadCameraLog(m_Id, &log, &error)) << error;
        size_t n = 0;
        for (size_t at = 0; (at = log.find("\t1009:010000fc\t4\t", at)) != std::string::npos; ++at)
            ++n;
        return n;
    }

    // A camera of the test's own: a device that an earlier test of this process left open stays bound to that
    // test's camera and never stands for this one.
    const std::string m_Id = "c" + std::to_string(++s_Cameras);
    static inline int s_Cameras = 0;
    std::string m_Camera;
    KWString m_FolderURL;
};

}  // namespace

TEST_P(CameraOnLink, ReadsGoThroughTheReadAheadCache)
{
    const std::vector<uint8_t> bytes = Pattern(200000, 1);
    Shoot("IMG_0001.KZR", bytes);
    KFileHolder file(OpenFileByURL(FileURL("IMG_0001.KZR"), KFILE_MODE_READ));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->GetSize(), 200000u);

    // 100 bytes at 0, then 100 at 100: one camera read.
    std::vector<uint8_t> got(200000);
    size_t before = CommandsSent();
    ASSERT_EQ(file->Read(got.data(), 100), 100u);
    ASSERT_EQ(file->Read(got.data() + 100, 100), 100u);
    EXPECT_EQ(CommandsSent() - before, 1u);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 200, bytes.begin()));
    EXPECT_EQ(file->Tell(), 200u);

    // 200,000 bytes go to the caller directly and leave the cache alone: on a file not read before, the next
    // read asks the camera again.
    KFileHolder fresh(OpenFileByURL(FileURL("IMG_0001.KZR"), KFILE_MODE_READ));
    ASSERT_TRUE(fresh);
    before = CommandsSent();
    ASSERT_EQ(fresh->Read(got.data(), 200000), 200000u);
    EXPECT_EQ(CommandsSent() - before, 1u);
    EXPECT_EQ(got, bytes);
    fresh->Seek(100);
    ASSERT_EQ(fresh->Read(got.data(), 100), 100u);
    EXPECT_EQ(CommandsSent() - before, 2u);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 100, bytes.begin() + 100));

    // Seeking past the end goes to 0; reading past the end is the end of the file.
    EXPECT_EQ(file->Seek(200001), 200000u);
    EXPECT_EQ(file->Tell(), 0u);
    file->Seek(200000);
    EXPECT_EQ(file->Tell(), 200000u);
    EXPECT_EQ(file->Read(got.data(), 10), 0u);
    file->Seek(199990);
    EXPECT_THROW(file->ReadExact(got.data(), 20), KExceptionEOF);
    file->Seek(199990);
    EXPECT_NO_THROW(file->ReadExact(got.data(), 10));
}

TEST_P(CameraOnLink, WritesLocksDevicesAndDeletes)
{
    const std::vector<uint8_t> bytes = Pattern(1000, 2);
    const fs::path onCard = Shoot("IMG_0002.KZR", bytes);
    Shoot("IMG_0003.KZR", Pattern(10, 3));

    // A read after a write sees the new bytes, though the old ones were cached.
    KFileHolder file(OpenFileByURL(FileURL("IMG_0002.KZR"), KFILE_MODE_READWRITE));
    ASSERT_TRUE(file);
    std::vector<uint8_t> got(100);
    ASSERT_EQ(file->Read(got.data(), 100), 100u);
    file->Seek(10);
    ASSERT_TRUE(file->Write("ABCD", 4));
    EXPECT_EQ(file->Tell(), 14u);
    file->Seek(0);
    ASSERT_EQ(file->Read(got.data(), 100), 100u);
    std::vector<uint8_t> expected = bytes;
    std::memcpy(expected.data() + 10, "ABCD", 4);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin()));
    EXPECT_EQ(lumotest::ReadBytes(onCard), expected);

    // Shot files are marked (not transferred); locking with bit 1 set clears the mark.
    KFileInfo info;
    file->GetInfo(&info);
    EXPECT_EQ(info.flags, 0u);
    EXPECT_NEAR(double(info.modifiedTime), double(std::time(nullptr)), 3600.0);
    info.flags = KFILEINFO_READONLY | KFILEINFO_CALLER_MARK;
    file->SetReadOnly(&info);
    uint32_t flags = 0;
    ASSERT_TRUE(CamGetFileInfo(m_Camera.c_str(), "/cf/images/IMG_0002.KZR", nullptr, nullptr, &flags));
    EXPECT_EQ(flags, kCamAttrLock);
    info.flags = 0;
    file->GetInfo(&info);
    EXPECT_EQ(info.flags, KFILEINFO_READONLY | KFILEINFO_CALLER_MARK);
    file->Seek(0);
    EXPECT_FALSE(file->Write("x", 1));
    info.flags = 0;
    file->SetReadOnly(&info);
    ASSERT_TRUE(CamGetFileInfo(m_Camera.c_str(), "/cf/images/IMG_0002.KZR", nullptr, nullptr, &flags));
    EXPECT_EQ(flags, kCamAttrMark);
    file.reset();

    // The camera's clock is a file.
    KWString clockURL = m_FolderURL;
    clockURL.RemoveFromEnd(std::u16string_view(u"cf/images/").size());
    clockURL += u"dev/Time";
    KFileHolder clock(OpenFileByURL(clockURL, KFILE_MODE_READWRITE));
    ASSERT_TRUE(clock);
    const uint32_t when = 1000000000;
    ASSERT_TRUE(clock->Write(&when, 4));
    clock->Seek(0);
    uint32_t now = 0;
    clock->ReadExact(&now, 4);
    EXPECT_NEAR(double(now), double(when), 30.0);
    clock.reset();

    // Deleting by URL removes that file from the card.
    DeleteFileByURL(FileURL("IMG_0003.KZR"));
    EXPECT_FALSE(fs::exists(fs::path(simcam::CardFolder(m_Id)) / "cf/images/IMG_0003.KZR"));
    EXPECT_TRUE(fs::exists(onCard));
    EXPECT_FALSE(KFileHolder(OpenFileByURL(FileURL("IMG_0003.KZR"), KFILE_MODE_READ)));
}

TEST_P(CameraOnLink, TheConsoleAndItsHostLock)
{
    ASSERT_TRUE(CamWriteFile(m_Camera.c_str(), "/debug/console", 0, "hello", 5));
    char echo[128] = {};
    EXPECT_EQ(std::string(echo, CamReadFile(m_Camera.c_str(), "/Debug/Console", 0, echo, sizeof echo)), "hello");
    CamConnection* connection = OpenCamera(m_Camera.c_str());
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(IsHostLocked(connection), 1);
    // Deleting the console, in any case, gives the host lock back and deletes nothing.
    EXPECT_TRUE(CamDeleteFile(m_Camera.c_str(), "/DEBUG/Console"));
    EXPECT_EQ(IsHostLocked(connection), 0);
    CloseCamera(connection);
}

TEST_P(CameraOnLink, FoldersListTheCard)
{
    Shoot("IMG_0001.KZR", Pattern(10, 1));
    Shoot("IMG_0002.KZR", Pattern(20, 2));
    KWString leaf;
    KFolderHolder top(OpenFolderByURL(u"camera://", leaf, false));
    ASSERT_TRUE(top);
    std::vector<KWString> names;
    top->ListFolders(names);
    ASSERT_EQ(names.size(), 1u);
    KFolderHolder card(top->OpenFolder(names[0], false));
    ASSERT_TRUE(card);
    KFolderHolder cf(card->OpenFolder(u"cf", false));
    ASSERT_TRUE(cf);
    names.clear();
    cf->ListFolders(names);
    ASSERT_EQ(names, std::vector<KWString>{u"images"});
    KFolderHolder images(cf->OpenFolder(names[0], false));
    ASSERT_TRUE(images);
    KWString url;
    images->GetURL(url);
    EXPECT_EQ(url, m_FolderURL);
    names.clear();
    images->ListFiles(names);
    std::sort(names.begin(), names.end(), [](const KWString& a, const KWString& b) { return a.Str() < b.Str(); });
    EXPECT_EQ(names, (std::vector<KWString>{u"IMG_0001.KZR", u"IMG_0002.KZR"}));
    KUInt32 flags = KFOLDER_HIDDEN;
    EXPECT_TRUE(images->GetAttributes(&flags));
    EXPECT_EQ(flags, 0u);
    EXPECT_EQ(images->GetFreeSpace(), 0);
    EXPECT_EQ(images->GetDriveType(), KDRIVE_REMOTE);
    bool isFolder = false;
    EXPECT_TRUE(ExistsByURL(m_FolderURL, &isFolder));
    EXPECT_TRUE(isFolder);
}

INSTANTIATE_TEST_SUITE_P(Links, CameraOnLink,
                         ::testing::Values(Setting{simcam::Plug::Usb, simcam::ByteOrder::KVCK},
                                           Setting{simcam::Plug::Usb, simcam::ByteOrder::KCVK},
                                           Setting{simcam::Plug::Bus1394, simcam::ByteOrder::KVCK},
                                           Setting{simcam::Plug::Bus1394, simcam::ByteOrder::KCVK}),
                         SettingName);
