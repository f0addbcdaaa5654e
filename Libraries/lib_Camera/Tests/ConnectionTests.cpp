// Camera discovery and connections over the FILE link, which needs no hardware: names and link kinds, the
// registry and its pool, opening, closing, re-opening and the liveness test.
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

#include "CameraFileFixture.h"
#include "KCamMailbox.h"
#include "LumoFreshProcess.h"
#include "SimBus1394.h"

namespace fs = std::filesystem;
using camtest::FileCamera;

namespace {

constexpr uint64_t kRom = 0x01011C04;  // 0xFFFF:0xF0000404

}  // namespace

TEST(CamConnection, LinkKindsOfNames)
{
    const struct {
        std::string name;
        uint32_t kind;
    } cases[] = {
        {"1394@\\\\?\\1394#c1#0", kCamLink1394},
        {"USB@tool_OstraUSB0", kCamLinkUsb},
        {"FILE@/tmp/a.img", kCamLinkFile},
        {"FILE@", kCamLinkFile},
        {"TCP@host", kCamLinkTcp},
        {"NONE@x", kCamLinkNone},
        {"1394", kCamLinkNone},
        {"usb@tool_OstraUSB0", kCamLinkNone},  // link parts match exactly
        {"USB1@x", kCamLinkNone},
        {"@x", kCamLinkNone},
        {"", kCamLinkNone},
        {"FILE@" + std::string(506, 'a'), kCamLinkFile},  // 511 characters
        {"FILE@" + std::string(507, 'a'), kCamLinkNone},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetLinkKind(c.name.c_str()), c.kind) << c.name;
    EXPECT_EQ(GetLinkKind(nullptr), kCamLinkNone);
}

TEST_F(FileCamera, WithNoDeviceNothingIsListedOrOpened)
{
    // The 1394 bus of this process may still hold a camera of an earlier test's machine: it takes this one in.
    simbus::PollBus1394();
    EXPECT_EQ(CountCameraDevices(), 0u);
    uint32_t size = 0;
    EXPECT_EQ(ListCameraDeviceNames(nullptr, &size), 0u);
    EXPECT_EQ(size, 1u);
    char buffer[8] = "xxxxxxx";
    size = sizeof(buffer);
    EXPECT_EQ(ListCameraDeviceNames(buffer, &size), 0u);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(buffer[0], 0);
    // A null buffer with a size asks nothing.
    size = 5;
    EXPECT_EQ(ListCameraDeviceNames(nullptr, &size), 0u);
    EXPECT_EQ(size, 5u);
    char name[64];
    EXPECT_FALSE(GetCameraDeviceName(0, name, sizeof(name)));
    EXPECT_EQ(FindCameraDeviceIndex(""), -1);
    EXPECT_EQ(FindCameraDeviceIndex(Name().c_str()), -1);
    EXPECT_EQ(OpenCamera(nullptr), nullptr);
}

TEST_F(FileCamera, OpenCountsHandlesAndInvalidNamesNeverOpen)
{
    CamConnection* c = OpenCamera(Name().c_str());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->linkKind, kCamLinkFile);
    EXPECT_STREQ(c->devicePart, m_Path.c_str());
    EXPECT_EQ(c->platformCode, 7u);
    EXPECT_EQ(c->deviceIndex, -1);  // FILE devices are not enumerated
    EXPECT_EQ(c->openCount, 1u);
    // A second open of the name is the same connection, after the liveness test.
    EXPECT_EQ(OpenCamera(Name().c_str()), c);
    EXPECT_EQ(c->openCount, 2u);
    EXPECT_TRUE(CloseCamera(c));
    EXPECT_TRUE(CloseCamera(c));
    EXPECT_FALSE(CloseCamera(c));
    EXPECT_EQ(c->openCount, 0u);
    // The device stays open for the next use.
    EXPECT_TRUE(IsCameraDeviceOpen(c));
    EXPECT_EQ(OpenCamera(Name().c_str()), c);

    for (const char* name : {"1394", "NONE@x", "TCP@host", "TCP@host", "FILE@", "@"})
        EXPECT_EQ(OpenCamera(name), nullptr) << name;
    // A folder cannot stand in for a camera.
    EXPECT_EQ(OpenCamera(("FILE@" + m_Dir.Path().string()).c_str()), nullptr);
}

TEST_F(FileCamera, TheLivenessTestReopensADeviceThatStopsAnswering)
{
    CamConnection* c = OpenCamera(Name().c_str());
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(IsCameraAlive(c));
    // Damaged identification: the first re-open writes it again.
    Poke(kRom, {'x', 'x', 'x', 'x'});
    EXPECT_TRUE(IsCameraAlive(c));
    EXPECT_EQ(Peek(kRom, 4), (std::vector<uint8_t>{'1', '3', '9', '4'}));

    // A file that cannot be opened again: three tries, then not alive, and the device is closed.
    Poke(kRom, {'x', 'x', 'x', 'x'});
    ASSERT_EQ(chmod(m_Path.c_str(), 0444), 0);
    EXPECT_FALSE(IsCameraAlive(c));
    EXPECT_EQ(c->lastResult.load(), 0u);
    EXPECT_FALSE(IsCameraDeviceOpen(c));
    uint32_t value = 0;
    EXPECT_EQ(ReadCameraQuadlet(c, 0x100, 0x1009, &value), 0);
    ASSERT_EQ(chmod(m_Path.c_str(), 0644), 0);
    EXPECT_TRUE(ReopenCamera(c));
    EXPECT_TRUE(IsCameraAlive(c));
}

TEST_F(FileCamera, ThePoolHoldsFiftyFourConnections)
{
    // The pool is the process's: counted from empty, and left full only in a process of its own.
    lumotest::InFreshProcess([this] {
        std::vector<CamConnection*> made;
        for (int i = 0; i < 54; ++i) {
            CamConnection* c = OpenCamera(("FILE@" + PathOf("c" + std::to_string(i))).c_str());
            ASSERT_NE(c, nullptr) << i;
            made.push_back(c);
        }
        // No room for a 55th name: nothing is opened for it.
        const std::string extra = PathOf("c54");
        EXPECT_EQ(OpenCamera(("FILE@" + extra).c_str()), nullptr);
        EXPECT_FALSE(fs::exists(extra));
        // Known names still open, each to its own connection.
        EXPECT_EQ(OpenCamera(("FILE@" + PathOf("c0")).c_str()), made[0]);
        EXPECT_EQ(OpenCamera(("FILE@" + PathOf("c53")).c_str()), made[53]);
        EXPECT_NE(made[0], made[1]);
    });
}

TEST_F(FileCamera, TransfersRacingReopensNeverUseAClosedDevice)
{
    CamConnection* c = OpenCamera(Name().c_str());
    ASSERT_NE(c, nullptr);
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::thread reader([&] {
        for (int i = 0; i < 3000; ++i) {
            char rom[4] = {};
            if (!ReadCameraBlock(c, 0xF0000404, 0xFFFF, rom, 4, 0) || std::memcmp(rom, "1394", 4) != 0)
                ++failures;
            uint32_t flag = 0;
            if (!WriteCameraQuadlet(c, 0x0, 0x1007, uint32_t(i)) || !ReadCameraQuadlet(c, 0x0, 0x1007, &flag))
                ++failures;
        }
        stop = true;
    });
    int reopens = 0;
    while (!stop) {
        EXPECT_TRUE(ReopenCamera(c));
        ++reopens;
    }
    reader.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(reopens, 0);
}
