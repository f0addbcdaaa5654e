// Connections and the mailbox over the real links, in this process: the 1394 driver in the kernel stand-in and
// the USB library, to a simulated camera of the test's own machine.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "KCamConnection.h"
#include "KCamMailbox.h"
#include "KDebug.h"
#include "LumoTestSupport.h"
#include "SimBus1394.h"
#include "SimCamera.h"

namespace {

std::vector<uint8_t> Pattern(size_t n)
{
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = uint8_t(i * 7 + i / 251);
    return out;
}

class CameraRoad : public ::testing::TestWithParam<simcam::Plug> {
protected:
    void SetUp() override
    {
        setenv("LUMO_MACHINE", (m_Dir / "machine").c_str(), 1);
        SetCameraWaitPace(0);
        std::string error;
        ASSERT_TRUE(simcam::NewCamera(m_Id, simcam::ByteOrder::KVCK, &error)) << error;
        ASSERT_TRUE(simcam::PlugCamera(m_Id, GetParam(), &error)) << error;
        simbus::PollBus1394();  // the bus may still hold an earlier test's machine
        lumotest::WriteBytes(m_Dir / "shot", m_Bytes);
        ASSERT_TRUE(simcam::ShootPicture(m_Id, (m_Dir / "shot").string(), "R.KZR", &m_Path, &error)) << error;
        m_C = OpenCamera(nullptr);
        ASSERT_NE(m_C, nullptr);
    }

    // The 1394 bus of this process takes a plug or an unplug in at once.
    void Follow() const
    {
        if (GetParam() == simcam::Plug::Bus1394)
            simbus::PollBus1394();
    }

    lumotest::TempDir m_Dir;
    // A camera of the test's own: a device that an earlier test of this process left open stays bound to that
    // test's camera and never stands for this one.
    const std::string m_Id = "c" + std::to_string(++s_Cameras);
    static inline int s_Cameras = 0;
    const std::vector<uint8_t> m_Bytes = Pattern(30000);
    std::string m_Path;
    CamConnection* m_C = nullptr;
};

size_t Count(const std::string& text, const std::string& piece)
{
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++n;
    return n;
}

std::string PlugName(const ::testing::TestParamInfo<simcam::Plug>& info)
{
    return info.param == simcam::Plug::Usb ? "Usb" : "Bus1394";
}

}  // namespace

TEST_P(CameraRoad, AReadBesideReopensOfTheDeviceStaysWhole)
{
    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        std::vector<uint8_t> got(m_Bytes.size());
        for (int i = 0; i < 3; ++i) {
            uint32_t n = 0;
            std::fill(got.begin(), got.end(), 0);
            if (!ReadCameraFile(m_C, m_Path.c_str(), 0, got.data(), uint32_t(got.size()), &n) || got != m_Bytes)
                ++bad;
        }
        done = true;
    });
    int reopens = 0;
    while (!done) {
        EXPECT_TRUE(IsCameraAlive(m_C));
        EXPECT_TRUE(ReopenCamera(m_C));
        ++reopens;
    }
    reader.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_GT(reopens, 0);
}

TEST_P(CameraRoad, ALookupOnItsOwnNeverTurnsAnotherThreadsReadToItsFile)
{
    std::string other, error;
    lumotest::WriteBytes(m_Dir / "other", std::vector<uint8_t>(777, 0xEE));
    ASSERT_TRUE(simcam::ShootPicture(m_Id, (m_Dir / "other").string(), "O.KZR", &other, &error)) << error;
    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        std::vector<uint8_t> got(m_Bytes.size());
        for (int i = 0; i < 3; ++i) {
            uint32_t n = 0;
            std::fill(got.begin(), got.end(), 0);
            if (!ReadCameraFile(m_C, m_Path.c_str(), 0, got.data(), uint32_t(got.size()), &n) || got != m_Bytes)
                ++bad;
        }
        done = true;
    });
    int queries = 0;
    while (!done) {
        uint32_t size = 0;
        EXPECT_EQ(QueryCameraFile(m_C, other.c_str(), &size, nullptr, nullptr, nullptr), 1);
        EXPECT_EQ(size, 777u);
        ++queries;
    }
    reader.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_GT(queries, 0);
}

TEST_P(CameraRoad, ARemovedCameraIsReopenedUntilItIsBack)
{
    std::string error;
    EXPECT_TRUE(IsCameraAlive(m_C));
    ASSERT_TRUE(simcam::PlugCamera(m_Id, simcam::Plug::None, &error)) << error;
    Follow();
    {
        KTraceCapture trace;
        EXPECT_FALSE(IsCameraAlive(m_C));
        EXPECT_EQ(Count(trace.Text(), "did not answer, re-opened it"), 2u) << trace.Text();
        EXPECT_TRUE(trace.Contains("is not alive\n"));
    }
    EXPECT_FALSE(IsCameraDeviceOpen(m_C));
    uint32_t size = 0;
    EXPECT_EQ(QueryCameraFile(m_C, m_Path.c_str(), &size, nullptr, nullptr, nullptr), 0);

    // The same connection finds the camera again through a re-open of the liveness test.
    ASSERT_TRUE(simcam::PlugCamera(m_Id, GetParam(), &error)) << error;
    Follow();
    {
        KTraceCapture trace;
        EXPECT_TRUE(IsCameraAlive(m_C));
        EXPECT_EQ(Count(trace.Text(), "did not answer, re-opened it: yes"), 1u) << trace.Text();
    }
    EXPECT_EQ(QueryCameraFile(m_C, m_Path.c_str(), &size, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(size, m_Bytes.size());
}

INSTANTIATE_TEST_SUITE_P(Links, CameraRoad, ::testing::Values(simcam::Plug::Bus1394, simcam::Plug::Usb), PlugName);
