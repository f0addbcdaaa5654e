// bus1394 and camsim as a user runs them, each test in a machine of its own.
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

TEST(Bus1394Tool, PlugsAndResetsMoveTheGenerationAndNodesFollow)
{
    Machine m;
    ASSERT_EQ(m.Status("camsim/camsim new c1"), 0);
    ASSERT_EQ(m.Status("camsim/camsim plug c1 1394"), 0);
    EXPECT_EQ(m.Run("bus1394/bus1394 list"), "generation 1\nnode 0 c1\n");
    EXPECT_EQ(m.Run("bus1394/bus1394 list"), "generation 1\nnode 0 c1\n");
    EXPECT_EQ(m.Run("bus1394/bus1394 reset"), "generation 2\nnode 0 c1\n");
    ASSERT_EQ(m.Status("camsim/camsim new c2 --order KCVK"), 0);
    ASSERT_EQ(m.Status("camsim/camsim plug c2 1394"), 0);
    EXPECT_EQ(m.Run("bus1394/bus1394 list"), "generation 3\nnode 0 c1\nnode 1 c2\n");
    ASSERT_EQ(m.Status("camsim/camsim unplug c1"), 0);
    EXPECT_EQ(m.Run("bus1394/bus1394 list"), "generation 4\nnode 0 c2\n");
    // A camera on USB is no node.
    ASSERT_EQ(m.Status("camsim/camsim plug c1 usb"), 0);
    EXPECT_EQ(m.Run("bus1394/bus1394 list"), "generation 4\nnode 0 c2\n");
}

TEST(Bus1394Tool, ReadsANodeThroughTheBusAndLogsIt)
{
    Machine m;
    ASSERT_EQ(m.Status("camsim/camsim new c1"), 0);
    ASSERT_EQ(m.Status("camsim/camsim plug c1 1394"), 0);
    EXPECT_EQ(m.Run("bus1394/bus1394 read c1 0xFFFF 0xF0000404 4"), "1394\n");
    // The magic of a KVCK camera, then two quadlets that are not text.
    EXPECT_EQ(m.Run("bus1394/bus1394 read c1 0xFFFF 0xF0010000 4"), "KVCK\n");
    EXPECT_EQ(m.Run("bus1394/bus1394 read c1 0xFFFF 0xF0010010 8 --block 4"), "00 02 00 00 00 00 00 00\n");
    std::string log = m.Run("bus1394/bus1394 log");
    EXPECT_NE(log.find("node 0 c1\tread 0\tgeneration 1\tffff:f0000404\tlength 4\tblock 0\tstatus 0x00000000"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\tblock 4\t"), std::string::npos) << log;
    EXPECT_EQ(m.Status("bus1394/bus1394 log --clear"), 0);
    EXPECT_EQ(m.Run("bus1394/bus1394 log"), "");

    // Unaligned, unmapped and injected failures are reported with the bus's status.
    EXPECT_EQ(m.Run("bus1394/bus1394 read c1 0xFFFF 0xF0000402 4 2>&1"), "bus1394: the read failed with 0xC000000D\n");
    EXPECT_EQ(m.Run("bus1394/bus1394 read c1 0x1234 0 4 2>&1"), "bus1394: the read failed with 0xC0000141\n");
    ASSERT_EQ(m.Status("bus1394/bus1394 fail 0 1 0xC0120090"), 0);
    EXPECT_EQ(m.Run("bus1394/bus1394 read c1 0xFFFF 0xF0000404 4 2>&1"), "bus1394: the read failed with 0xC0120090\n");
    EXPECT_EQ(m.Run("bus1394/bus1394 read c1 0xFFFF 0xF0000404 4"), "1394\n");
    EXPECT_EQ(m.Status("bus1394/bus1394 read c9 0xFFFF 0xF0000404 4 2>/dev/null"), 1);
}

TEST(Bus1394Tool, KnobsAreKeptAndBadArgumentsRefused)
{
    Machine m;
    EXPECT_EQ(m.Status("bus1394/bus1394 knob pend 20"), 0);
    EXPECT_EQ(m.Status("bus1394/bus1394 knob hostread 512"), 0);
    EXPECT_EQ(m.Status("bus1394/bus1394 knob delivery 60001 2>/dev/null"), 1);
    EXPECT_EQ(m.Status("bus1394/bus1394 knob speed 3 2>/dev/null"), 1);
    EXPECT_EQ(m.Status("bus1394/bus1394 fail x 1 2 2>/dev/null"), 2);
    EXPECT_EQ(m.Status("bus1394/bus1394 2>/dev/null"), 2);
    ASSERT_EQ(m.Status("camsim/camsim new c1"), 0);
    ASSERT_EQ(m.Status("camsim/camsim plug c1 1394"), 0);
    // A pending answer still completes the read.
    EXPECT_EQ(m.Run("bus1394/bus1394 read c1 0xFFFF 0xF0000404 4"), "1394\n");
}
