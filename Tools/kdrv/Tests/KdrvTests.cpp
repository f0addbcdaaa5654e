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
