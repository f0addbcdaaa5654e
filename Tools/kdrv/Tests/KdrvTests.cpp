// kdrv as a user runs it, each test in a machine of its own.
#include <gtest/gtest.h>

#include <string>

#include "LumoTestSupport.h"

namespace {

const std::string kDir = LUMO_BINARY_DIR "/Tools/";

class Machine {
public:
    std::string Run(const std::string& command) const { return lumotest::CommandOutput(Env() + kDir + command); }
    int Status(const std::string& command) const { return lumotest::RunCommand(Env() + kDir + command); }

private:
    std::string Env() const { return "LUMO_MACHINE='" + (m_Dir / "machine").string() + "' "; }
    lumotest::TempDir m_Dir;
};

}  // namespace

TEST(Kdrv, LoadsAndUnloadsTheTestDriverCleanly)
{
    Machine m;
    EXPECT_EQ(m.Run("kdrv/kdrv load libKernelTestDriver.so"),
              "DriverEntry 0x00000000\npool: 0 blocks, 0 bytes outstanding\nbreaks: 0\n");
    EXPECT_EQ(m.Status("kdrv/kdrv load libKernelTestDriver.so >/dev/null"), 0);
}

TEST(Kdrv, NamesTheTagALeakingDriverKeeps)
{
    Machine m;
    EXPECT_EQ(m.Run("kdrv/kdrv load libKernelTestDriver.so --name Leak"),
              "DriverEntry 0x00000000\npool: 1 blocks, 20 bytes outstanding\n  tag DRKC: 1 blocks, 20 bytes\n"
              "breaks: 0\n");
    EXPECT_EQ(m.Status("kdrv/kdrv load libKernelTestDriver.so --name Leak >/dev/null"), 1);
}

TEST(Kdrv, TraceCopiesDbgPrintLines)
{
    Machine m;
    std::string out = m.Run("kdrv/kdrv load libKernelTestDriver.so --trace");
    EXPECT_NE(out.find("KernelTestDriver: DriverEntry\n"), std::string::npos) << out;
    EXPECT_NE(out.find("KernelTestDriver: unload\n"), std::string::npos) << out;
    EXPECT_EQ(m.Run("kdrv/kdrv load libKernelTestDriver.so").find("KernelTestDriver:"), std::string::npos);
}

TEST(Kdrv, MachinesWithoutTheDriverModelRefuseTheLoad)
{
    Machine m;
    ASSERT_EQ(m.Status("lumomachine/lumomachine os WindowsNT"), 0);
    EXPECT_EQ(m.Status("kdrv/kdrv load libKernelTestDriver.so 2>/dev/null"), 1);
    std::string err = m.Run("kdrv/kdrv load libKernelTestDriver.so 2>&1 >/dev/null");
    EXPECT_NE(err.find("WindowsNT has no WDM driver model"), std::string::npos) << err;
    ASSERT_EQ(m.Status("lumomachine/lumomachine os Windows98"), 0);
    EXPECT_EQ(m.Status("kdrv/kdrv load libKernelTestDriver.so >/dev/null"), 0);
    EXPECT_EQ(m.Status("kdrv/kdrv load libNoSuchDriver.so 2>/dev/null"), 1);
    EXPECT_EQ(m.Status("kdrv/kdrv 2>/dev/null"), 2);
}

// ---- --pnp: one device of the test bus under the toolkit's test driver --------------------------------------

namespace {

size_t Count(const std::string& text, const std::string& piece)
{
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++n;
    return n;
}

const char* const kMachines[] = {"Windows98", "Windows2K"};

}  // namespace

TEST(KdrvPnp, CancelStopAfterStopKeepsTheDeviceStoppedUnderBothMachines)
{
    for (const char* os : kMachines) {
        Machine m;
        ASSERT_EQ(m.Status(std::string("lumomachine/lumomachine os ") + os), 0);
        std::string command = "kdrv/kdrv load libToolkitTestDriver.so --pnp \"add start query-stop stop cancel-stop "
                              "remove\" --trace";
        std::string out = m.Run(command);
        EXPECT_NE(out.find("RkPnpOnPnpCancelStopDevice: Unable to cancel stop -- we are already stopped.\n"),
                  std::string::npos)
            << os << "\n" << out;
        EXPECT_NE(out.find("cancel-stop -> 0x00000000\n"), std::string::npos) << out;
        EXPECT_NE(out.find("pool: 0 blocks, 0 bytes outstanding\nbreaks: 0\n"), std::string::npos) << out;
        EXPECT_EQ(Count(out, "ToolkitTestDriver: release\n"), 1u) << out;
        EXPECT_EQ(m.Status(command + " >/dev/null"), 0) << os;
    }
}

TEST(KdrvPnp, RemoveWithARequestHeldWaitsForIt)
{
    // Without WDM 1.10 the remove work item waits in 1 s steps; with it the remove request itself waits.
    Machine m;
    ASSERT_EQ(m.Status("lumomachine/lumomachine os Windows98"), 0);
    std::string out =
        m.Run("kdrv/kdrv load libToolkitTestDriver.so --pnp \"add start ioctl hold remove ioctl sleep 2500 release\" "
              "--trace");
    size_t deleted = out.find("ToolkitTestDriver: delete device\n");
    ASSERT_NE(deleted, std::string::npos) << out;
    EXPECT_GE(Count(out.substr(0, deleted), "RkPnpRemoveWorkItemCallback\n"), 2u) << out;
    EXPECT_NE(out.find("hold -> 0x00000103 calls=2\n"), std::string::npos) << out;
    // The work item's traces may come between the lines of the steps.
    size_t remove = out.find("remove -> 0x00000000\n");
    ASSERT_NE(remove, std::string::npos) << out;
    EXPECT_GT(out.find("ioctl -> 0xC0000056 calls=2\n"), remove) << out;
    EXPECT_EQ(out.find("ioctl -> 0xC0000056 calls=2\n"), out.rfind("ioctl -> 0xC0000056 calls=2\n")) << out;
    EXPECT_NE(out.find("release -> 0xC0000120\n"), std::string::npos) << out;
    EXPECT_LT(out.find("ToolkitTestDriver: held request cancelled\n"), deleted) << out;
    EXPECT_NE(out.find("pool: 0 blocks, 0 bytes outstanding\nbreaks: 0\n"), std::string::npos) << out;

    ASSERT_EQ(m.Status("lumomachine/lumomachine os Windows2K"), 0);
    out = m.Run("kdrv/kdrv load libToolkitTestDriver.so --pnp \"add start hold remove ioctl release\" --trace");
    EXPECT_NE(out.find("remove -> 0x00000103\nioctl -> 0xC0000056 calls=1\n"), std::string::npos) << out;
    EXPECT_NE(out.find("release -> 0xC0000120\n"), std::string::npos) << out;
    // The remove goes on once the held request completed: the device goes after that, never before.
    EXPECT_LT(out.find("ToolkitTestDriver: held request cancelled\n"), out.find("ToolkitTestDriver: delete device\n"))
        << out;
    EXPECT_EQ(Count(out, "RkPnpRemoveWorkItemCallback"), 0u) << out;
    EXPECT_NE(out.find("pool: 0 blocks, 0 bytes outstanding\nbreaks: 0\n"), std::string::npos) << out;
}

TEST(KdrvPnp, RemovalReleasesTheDriversResourcesExactlyOnce)
{
    // A remove without query-remove is unexpected; on WDM 1.10 the resources are still released, once.
    for (const char* os : kMachines)
        for (const char* steps : {"add start remove", "add start surprise remove", "add start query-remove remove",
                                  "add start stop remove"}) {
            Machine m;
            ASSERT_EQ(m.Status(std::string("lumomachine/lumomachine os ") + os), 0);
            std::string out =
                m.Run(std::string("kdrv/kdrv load libToolkitTestDriver.so --pnp \"") + steps + "\" --trace");
            EXPECT_EQ(Count(out, "ToolkitTestDriver: release\n"), 1u) << os << " " << steps << "\n" << out;
            EXPECT_NE(out.find("pool: 0 blocks, 0 bytes outstanding\nbreaks: 0\n"), std::string::npos) << out;
        }
}

TEST(KdrvPnp, PowerRequests)
{
    Machine m;
    ASSERT_EQ(m.Status("lumomachine/lumomachine os Windows2K"), 0);
    std::string out = m.Run("kdrv/kdrv load libToolkitTestDriver.so --pnp \"add start open query D4 close remove\"");
    EXPECT_NE(out.find("query D4 -> 0xC0000001\n"), std::string::npos) << out;
    out = m.Run("kdrv/kdrv load libToolkitTestDriver.so --pnp \"add start query D4 remove\"");
    EXPECT_NE(out.find("query D4 -> 0x00000000\n"), std::string::npos) << out;

    // The system request completes only after the device set-power its completion asked for.
    out = m.Run("kdrv/kdrv load libToolkitTestDriver.so --pnp \"add start sys S3 remove\" --trace");
    size_t system = out.find("TestBus: 0: power set-power system S3 -> 0x00000000\n");
    size_t device = out.find("TestBus: 0: power set-power device D4 -> 0x00000000\n");
    size_t done = out.find("sys S3 -> 0x00000000\n");
    ASSERT_NE(system, std::string::npos) << out;
    ASSERT_NE(device, std::string::npos) << out;
    EXPECT_LT(system, device);
    EXPECT_LT(device, done) << out;
    EXPECT_NE(out.find("pool: 0 blocks, 0 bytes outstanding\nbreaks: 0\n"), std::string::npos) << out;
}

TEST(KdrvPnp, UnknownStepsAreRefused)
{
    Machine m;
    EXPECT_EQ(m.Status("kdrv/kdrv load libToolkitTestDriver.so --pnp \"add jump\" >/dev/null 2>&1"), 2);
    EXPECT_EQ(m.Status("kdrv/kdrv load libToolkitTestDriver.so --pnp \"add sys S9\" >/dev/null 2>&1"), 2);
}
