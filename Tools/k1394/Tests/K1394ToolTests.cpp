// The 1394 driver from user mode as k1394 reaches it: each process loads the kernel stand-in through the device
// services, which starts the bus and the machine's driver. Each test has a machine of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "LumoTestSupport.h"

namespace {

const std::string kDir = LUMO_BINARY_DIR "/Tools/";

class Machine {
public:
    std::string Run(const std::string& command) const { return lumotest::CommandOutput(Env() + kDir + command); }
    int Status(const std::string& command) const { return lumotest::RunCommand(Env() + kDir + command); }
    std::filesystem::path Path(const std::string& name) const { return m_Dir.Path() / name; }
    void Camera(const std::string& id) const
    {
        ASSERT_EQ(Status("camsim/camsim new " + id), 0);
        ASSERT_EQ(Status("camsim/camsim plug " + id + " 1394"), 0);
    }

private:
    std::string Env() const { return "LUMO_MACHINE='" + (m_Dir.Path() / "machine").string() + "' "; }
    lumotest::TempDir m_Dir;
};

bool Has(const std::string& text, const std::string& piece)
{
    return text.find(piece) != std::string::npos;
}

size_t Count(const std::string& text, const std::string& piece)
{
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++n;
    return n;
}

std::vector<uint8_t> Random(size_t n)
{
    std::vector<uint8_t> out(n);
    uint32_t x = 0x9E3779B9u;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x >> 7);
    }
    return out;
}

}  // namespace

TEST(K1394Tool, EachCameraGetsADeviceOfTheMachinesDriver)
{
    Machine m;
    m.Camera("c1");
    m.Camera("c2");
    EXPECT_EQ(m.Run("k1394/k1394 list"),
              "\\\\?\\1394#c1#0#{5030d1c7-169b-4d1d-9f88-ab03b410cd0c}\n"
              "\\\\?\\1394#c2#1#{5030d1c7-169b-4d1d-9f88-ab03b410cd0c}\n");
    EXPECT_EQ(m.Run("k1394/k1394 devices"), "\\Device\\K13940 c1 libK13942k.so\n\\Device\\K13941 c2 libK13942k.so\n");

    // The 98 family loads the other build; a system without the driver model loads none.
    ASSERT_EQ(m.Status("lumomachine/lumomachine os Windows98"), 0);
    EXPECT_EQ(m.Run("k1394/k1394 devices"), "\\Device\\K13940 c1 libK139498.so\n\\Device\\K13941 c2 libK139498.so\n");
    ASSERT_EQ(m.Status("lumomachine/lumomachine os WindowsME"), 0);
    EXPECT_TRUE(Has(m.Run("k1394/k1394 devices"), "libK139498.so"));
    ASSERT_EQ(m.Status("lumomachine/lumomachine os WindowsNT"), 0);
    EXPECT_EQ(m.Run("k1394/k1394 devices"), "");
    EXPECT_EQ(m.Run("k1394/k1394 list"), "");
    EXPECT_EQ(m.Run("k1394/k1394 getname 2>&1"), "k1394: there is no device 0 (0 found)\n");

    // The machine's setting names another driver.
    ASSERT_EQ(m.Status("lumomachine/lumomachine os Windows2K"), 0);
    ASSERT_EQ(m.Status("lumomachine/lumomachine driver1394 libK139498.so"), 0);
    EXPECT_EQ(m.Run("lumomachine/lumomachine driver1394"), "libK139498.so\n");
    EXPECT_TRUE(Has(m.Run("k1394/k1394 devices"), "\\Device\\K13941 c2 libK139498.so\n"));
    ASSERT_EQ(m.Status("lumomachine/lumomachine driver1394 libNoSuchDriver.so"), 0);
    EXPECT_EQ(m.Run("k1394/k1394 devices"), "");
    ASSERT_EQ(m.Status("lumomachine/lumomachine driver1394 default"), 0);
    EXPECT_EQ(m.Run("lumomachine/lumomachine driver1394"), "default\n");
    EXPECT_TRUE(Has(m.Run("k1394/k1394 devices"), "\\Device\\K13940 c1 libK13942k.so\n"));
}

TEST(K1394Tool, BothBuildsLoadAndUnloadWithoutLeavingPool)
{
    Machine m;
    for (const char* build : {"libK13942k.so", "libK139498.so"}) {
        std::string out = m.Run(std::string("kdrv/kdrv load ") + build + " --trace");
        EXPECT_TRUE(Has(out, "K1394 -- DriverEntry\n")) << out;
        EXPECT_TRUE(Has(out, "DriverEntry 0x00000000\n")) << out;
        EXPECT_TRUE(Has(out, "K1394_DriverUnload\n")) << out;
        EXPECT_TRUE(Has(out, "pool: 0 blocks, 0 bytes outstanding\nbreaks: 0\n")) << out;
    }
}

TEST(K1394Tool, HeaderRequestsAndTheirRefusals)
{
    Machine m;
    m.Camera("c1");
    EXPECT_EQ(m.Run("k1394/k1394 getname"), "status=0x00000000 success=1 out=12 gen=1 returned=96\nK1394Driver\n");
    EXPECT_EQ(m.Run("k1394/k1394 getname --capacity 11"), "status=0xC0000023 success=0 out=12 gen=1 returned=96\n");
    // No header: the request itself fails.
    EXPECT_EQ(m.Run("k1394/k1394 raw 0x81252004 --bare 16"), "error 87\n");
    EXPECT_EQ(m.Status("k1394/k1394 raw 0x81252004 --bare 16 >/dev/null"), 1);
    EXPECT_EQ(m.Run("k1394/k1394 raw 0x81252028"), "status=0xC0000002 success=0 out=0 gen=1 returned=84\n");
    // Sizes in the header larger than the buffer: refused without a byte.
    EXPECT_EQ(m.Run("k1394/k1394 config --out 895"), "status=0xC0000023 success=0 out=895 gen=1 returned=979\n");

    const std::string area = m.Path("a.bin").string();
    EXPECT_EQ(m.Run("k1394/k1394 config --save '" + area + "'"),
              "status=0x00000000 success=1 out=896 gen=1 returned=980\n");
    EXPECT_EQ(lumotest::CommandOutput("od -A d -t x4 -j 32 -N 8 '" + area + "'"),
              "0000032 4b56434b 00000005\n0000040\n");
    EXPECT_EQ(lumotest::ReadBytes(area).size(), 896u);
    EXPECT_EQ(m.Run("k1394/k1394 raw 0x8125201C --out 88 | head -c 19"), "status=0x00000000 s");
    EXPECT_EQ(m.Run("k1394/k1394 raw 0x81252008"), "status=0x00000000 success=1 out=0 gen=1 returned=84\n");
    EXPECT_EQ(m.Status("k1394/k1394 --device 1 getname 2>/dev/null"), 1);
    EXPECT_EQ(m.Status("k1394/k1394 frobnicate 2>/dev/null"), 2);
}

TEST(K1394Tool, WrittenBytesComeBackByBothReads)
{
    Machine m;
    m.Camera("c1");
    EXPECT_EQ(m.Run("k1394/k1394 read 0xFFFF 0xF0000404 4"), "status=0x00000000 success=1 out=4 gen=1 returned=88\n1394\n");
    ASSERT_EQ(m.Status("camsim/camsim knob c1 scratch on"), 0);
    // Across the end of the low address word: the high word carries.
    const std::vector<uint8_t> data = Random(3000);
    const std::string r = m.Path("r.bin").string(), c = m.Path("c.bin").string(), d = m.Path("d.bin").string();
    lumotest::WriteBytes(r, data);
    EXPECT_EQ(m.Run("k1394/k1394 write 0x2000 0xFFFFFC00 '" + r + "'"),
              "status=0x00000000 success=1 out=0 gen=1 returned=84\n");
    EXPECT_EQ(m.Run("k1394/k1394 cdt 0x2000 0xFFFFFC00 3000 --out '" + c + "'"),
              "status=0x00000000 success=1 out=3000 gen=1 returned=3084\n");
    EXPECT_EQ(m.Run("k1394/k1394 read 0x2000 0xFFFFFC00 3000 --out '" + d + "'"),
              "status=0x00000000 success=1 out=3000 gen=1 returned=3084\n");
    EXPECT_EQ(lumotest::ReadBytes(c), data);
    EXPECT_EQ(lumotest::ReadBytes(d), data);
}

TEST(K1394Tool, ASecondRequestWhileOneRunsIsBusy)
{
    Machine m;
    m.Camera("c1");
    ASSERT_EQ(m.Status("camsim/camsim knob c1 scratch on"), 0);
    ASSERT_EQ(m.Status("camsim/camsim knob c1 engine-silent on"), 0);
    std::string out = m.Run("k1394/k1394 --threads 2 cdt 0x2000 0 256");
    EXPECT_EQ(Count(out, "status=0x00000102 success=0"), 1u) << out;
    EXPECT_EQ(Count(out, "status=0x80000011 success=0"), 1u) << out;
}

TEST(K1394Tool, FollowSeesACameraLeaveAndAnotherCome)
{
    Machine m;
    m.Camera("c1");
    m.Camera("c2");
    ASSERT_EQ(m.Status("camsim/camsim new c3"), 0);
    ASSERT_EQ(m.Status("bus1394/bus1394 log --clear"), 0);
    std::string out;
    // It ends once it has seen both changes (or after a minute).
    std::thread follow([&] { out = m.Run("k1394/k1394 follow 60 2"); });
    // The follower's devices have started once its bus requests show in the log.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    while (Count(m.Run("bus1394/bus1394 log"), "\treset-notification 29\t") < 2 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(m.Status("camsim/camsim unplug c1"), 0);
    EXPECT_EQ(m.Status("camsim/camsim plug c3 1394"), 0);
    follow.join();
    EXPECT_EQ(out, "removed \\Device\\K13940\nadded \\Device\\K13942 c3\n");
}

TEST(K1394Tool, RequestsOfTwoProcessesToOneCameraTakeTurns)
{
    // Each process has a kernel and a device of its own; both drive the one camera's transfer engine. Were the
    // requests not serialised across processes, one engine run would overwrite the other's registers.
    Machine m;
    m.Camera("c1");
    ASSERT_EQ(m.Status("camsim/camsim knob c1 scratch on"), 0);
    const std::vector<uint8_t> a = Random(2048), b = Random(4096);
    const std::string fa = m.Path("a.bin").string(), fb = m.Path("b.bin").string();
    lumotest::WriteBytes(fa, a);
    lumotest::WriteBytes(fb, std::vector<uint8_t>(b.begin() + 2048, b.end()));
    ASSERT_EQ(m.Status("k1394/k1394 write 0x2000 0 '" + fa + "' >/dev/null"), 0);
    ASSERT_EQ(m.Status("k1394/k1394 write 0x2000 0x10000 '" + fb + "' >/dev/null"), 0);
    const std::string ra = m.Path("ra.bin").string(), rb = m.Path("rb.bin").string();
    std::string outA, outB;
    std::thread first([&] { outA = m.Run("k1394/k1394 cdt 0x2000 0 2048 --out '" + ra + "'"); });
    std::thread second([&] { outB = m.Run("k1394/k1394 cdt 0x2000 0x10000 2048 --out '" + rb + "'"); });
    first.join();
    second.join();
    EXPECT_EQ(outA, "status=0x00000000 success=1 out=2048 gen=1 returned=2132\n");
    EXPECT_EQ(outB, "status=0x00000000 success=1 out=2048 gen=1 returned=2132\n");
    EXPECT_EQ(lumotest::ReadBytes(ra), a);
    EXPECT_EQ(lumotest::ReadBytes(rb), std::vector<uint8_t>(b.begin() + 2048, b.end()));
}
