// The 1394 link in this process, over the machine's 1394 driver in the kernel stand-in and the simulated bus.
// The kernel comes up once per process, on the machine it first sees: the tests of this file share one scratch
// machine with one camera, made before the first device look-up.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Cam1394Request.h"
#include "KCam1394Link.h"
#include "LumoTestSupport.h"
#include "SimBus1394.h"

using namespace cam1394;

namespace {

const std::string kCamsim = LUMO_BINARY_DIR "/Tools/camsim/camsim";
const std::string kBus1394 = LUMO_BINARY_DIR "/Tools/bus1394/bus1394";

std::vector<uint8_t> Pattern(size_t n, uint32_t seed)
{
    std::vector<uint8_t> out(n);
    uint32_t x = seed;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x >> 9);
    }
    return out;
}

class Link1394 : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static lumotest::TempDir dir;
        static bool made = false;
        setenv("LUMO_MACHINE", (dir.Path() / "machine").c_str(), 1);
        if (!made) {
            made = true;
            for (const char* step : {" new c1", " plug c1 1394", " knob c1 scratch on", " knob c1 engine on"})
                ASSERT_EQ(lumotest::RunCommand(kCamsim + step), 0) << step;
        }
        simbus::PollBus1394();  // the bus may have come up on another test's machine: it takes this one in
    }

    void SetUp() override
    {
        ASSERT_EQ(Count1394Devices(), 1u);
        char path[512];
        ASSERT_TRUE(Get1394DeviceName(0, path, sizeof path));
        m_Path = path;
        m_Device = Open1394Device(kCam1394DriverRow, path);
        ASSERT_NE(m_Device, nullptr);
    }
    void TearDown() override { EXPECT_TRUE(Close1394Device(m_Device)); }

    std::string m_Path;
    Cam1394Device* m_Device = nullptr;
};

}  // namespace

TEST_F(Link1394, TheDriversDeviceSpeaksTheHeaderFormAndGivesItsArea)
{
    EXPECT_EQ(m_Path.rfind("\\\\?\\1394#c1#", 0), 0u) << m_Path;
    char small[8];
    EXPECT_FALSE(Get1394DeviceName(0, small, sizeof small));
    char path[512];
    EXPECT_FALSE(Get1394DeviceName(1, path, sizeof path));
    EXPECT_EQ(Open1394Device(kCam1394DriverRow, "\\\\?\\1394#none#7#{5030d1c7-169b-4d1d-9f88-ab03b410cd0c}"), nullptr);

    EXPECT_FALSE(Is1394PayloadOnly(m_Device));
    char id[5] = {};
    ASSERT_EQ(Read1394Block(m_Device, 0xF0000404, 0xFFFF, id, 4), 1);
    EXPECT_STREQ(id, "1394");
    EXPECT_EQ(Read1394Block(m_Device, 0xF0000404, 0xFFFF, nullptr, 0), 1);

    CamConfigArea area;
    ResetCamConfigArea(&area);
    ASSERT_EQ(Read1394ConfigurationArea(m_Device, &area), 1);
    EXPECT_EQ(area.magic, 0x4B56434Bu);
    ASSERT_GE(area.entryCount, 1u);
    ASSERT_LE(area.entryCount, kCamMaxConfigEntries);
    bool fastRead = false;
    for (uint32_t i = 0; i < area.entryCount; ++i)
        fastRead = fastRead || area.entries[i].type == kCamEntryFastRead;
    EXPECT_TRUE(fastRead);
}

TEST_F(Link1394, EveryReadGivesBackWhatWasWrittenAcrossTheLowWord)
{
    const std::vector<uint8_t> data = Pattern(8300, 0xC0FFEE);
    ASSERT_EQ(Write1394Block(m_Device, 0xFFFFE000, 0x2000, data.data(), uint32_t(data.size())), 1);
    std::vector<uint8_t> back(data.size() + 8, 0xAB);
    ASSERT_EQ(Read1394Block(m_Device, 0xFFFFE000, 0x2000, back.data(), uint32_t(data.size())), 1);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin()));
    EXPECT_EQ(back[data.size()], 0xAB);
    // The camera-driven read is slow on the simulated bus: a short stretch across the carry.
    std::fill(back.begin(), back.end(), 0xAB);
    ASSERT_EQ(FastRead1394Block(m_Device, 0xFFFFFF00, 0x2000, back.data(), 300), 1);
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 300, data.begin() + 0x1F00));
    EXPECT_EQ(back[300], 0xAB);
    // The part past the carry, read on its own.
    std::vector<uint8_t> tail(100);
    ASSERT_EQ(Read1394Block(m_Device, 0x00000000, 0x2001, tail.data(), uint32_t(tail.size())), 1);
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), data.begin() + 0x2000));
}

TEST_F(Link1394, RequestsOfManyThreadsGetDistinctSequenceNumbers)
{
    Cam1394Device* second = Open1394Device(kCam1394DriverRow, m_Path.c_str());
    ASSERT_NE(second, nullptr);
    constexpr int kEach = 100;
    std::vector<uint32_t> seen[2];
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            Cam1394Device* device = t ? second : m_Device;
            std::vector<uint8_t> request(BufferBytes(64), 0);
            SetField(request.data(), kCapacityAt, 64);
            for (int i = 0; i < kEach; ++i) {
                std::memset(request.data(), 0, kHeaderSize);
                SetField(request.data(), kCapacityAt, 64);
                SetField(request.data(), kCodeAt, kCodeGetName);
                SetField(request.data(), kOutputSizeAt, 12);
                Send1394Request(device, request.data());
                seen[t].push_back(Field(request.data(), kSequenceAt));
                EXPECT_EQ(Field(request.data(), kMagicAt), kMagic);
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    std::set<uint32_t> all(seen[0].begin(), seen[0].end());
    all.insert(seen[1].begin(), seen[1].end());
    EXPECT_EQ(all.size(), 2u * kEach);
    EXPECT_TRUE(Close1394Device(second));

    // One request by hand: the driver's name comes back; sizes past the buffer are refused before sending.
    std::vector<uint8_t> request(BufferBytes(64), 0);
    SetField(request.data(), kCapacityAt, 64);
    SetField(request.data(), kCodeAt, kCodeGetName);
    SetField(request.data(), kOutputSizeAt, 12);
    ASSERT_TRUE(Send1394Request(m_Device, request.data()));
    EXPECT_EQ(Field(request.data(), kStatusAt), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(request.data() + kHeaderSize)), "K1394Driver");
    SetField(request.data(), kOutputSizeAt, 64 + kSlack + 1);
    EXPECT_FALSE(Send1394Request(m_Device, request.data()));
    EXPECT_EQ(Get1394LastStatus(m_Device), kStatusPreset);
}

TEST_F(Link1394, ReadsOfThreadsThatMeetABusyDriverAllSucceed)
{
    // Requests wait on the bus: a third request while one runs and one waits is answered busy, again and again
    // for longer than 21 attempts take.
    ASSERT_EQ(lumotest::RunCommand(kBus1394 + " knob pend 150"), 0);
    constexpr int kThreads = 4;
    std::vector<Cam1394Device*> devices(kThreads);
    for (Cam1394Device*& d : devices) {
        d = Open1394Device(kCam1394DriverRow, m_Path.c_str());
        ASSERT_NE(d, nullptr);
    }
    std::vector<std::string> ids(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 3; ++i) {
                char id[5] = {};
                if (Read1394Block(devices[t], 0xF0000404, 0xFFFF, id, 4) == 1)
                    ids[t] += id;
            }
        });
    for (std::thread& t : threads)
        t.join();
    ASSERT_EQ(lumotest::RunCommand(kBus1394 + " knob pend 0"), 0);
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(ids[t], "139413941394") << t;
        EXPECT_TRUE(Close1394Device(devices[t]));
    }
}
