// usbprobe and ostratrace from the shell, on a scratch machine with camera c1 on USB.
#include <cstdlib>
#include <string>

#include "OstraFixture.h"

namespace {

const std::string kProbe = LUMO_BINARY_DIR "/Tools/usbprobe/usbprobe";
const std::string kTrace = LUMO_BINARY_DIR "/Tools/ostratrace/ostratrace";
const std::string kCamsim = LUMO_BINARY_DIR "/Tools/camsim/camsim";

class OstraTools : public ostratest::OstraTest {
protected:
    std::string Probe(const std::string& args) { return lumotest::CommandOutput(kProbe + " " + args + " 2>&1"); }
};

TEST_F(OstraTools, UsbprobeOpensListsAndReports)
{
    EXPECT_EQ(Probe("list"), "0 KUSB0\nresult 0x00000000\n");
    EXPECT_EQ(Probe("--open guid:{3219D400-E372-4B5D-AB0F-D2594CD9084D},1 version"), "invalid handle\n");
    EXPECT_EQ(lumotest::RunCommand(kProbe + " --open link:KUSB,1 version >/dev/null"), 1);
    EXPECT_EQ(Probe("--open link:KUSB,0 version"), "1.0\nresult 0x00000000\n");
    const size_t before = DeviceLogLines();
    EXPECT_EQ(Probe("control 0x40 8 0 0 in 1537"), "result 0x00000057\n");
    EXPECT_EQ(Probe("control 0xC0 8 0 0 in 4"), "result 0x00000057\n");
    EXPECT_EQ(Probe("control 0 5 0 0 out 0"), "result 0x00000057\n");
    // Each run opens the device (enumeration and opening log no request) and reads nothing.
    EXPECT_EQ(DeviceLogLines(), before);
    // Request 8 reads at the latched read address (0xFFFF:0xF0010000, the magic word).
    EXPECT_EQ(Probe("control 0x40 0 0 0 out 6 ffff01f00000"), "returned 6\nresult 0x00000000\n");
    const std::string magic = Probe("control 0x40 8 0 0 in 1536");
    EXPECT_EQ(magic.substr(0, 5), "data ");
    EXPECT_EQ(magic.substr(13), "\nreturned 4\nresult 0x00000000\n") << magic;

    const std::string iso = Probe("iso 0x83 8 64");
    EXPECT_NE(iso.find("packet 7 status 0x00000000 length 64\ndata 000102"), std::string::npos) << iso;
    EXPECT_NE(iso.find("fcfdfeff\nresult 0x00000000\n"), std::string::npos) << iso;
    EXPECT_EQ(Probe("iso 0x83 8 64 --length 639"), "result 0x0000007A\n");
    EXPECT_EQ(Probe("iso 0x83 8 64 --record 8"), "result 0x00000057\n");
    EXPECT_EQ(Probe("iso 0x83 8 64 --length 3"), "result 0x0000007A\n");

    const std::string strings = Probe("strings");
    EXPECT_NE(strings.find("languages 0x0409\n"), std::string::npos) << strings;
    EXPECT_NE(strings.find("string 2 Cam\xE9ra KZR\x99\n"), std::string::npos) << strings;
    EXPECT_NE(Probe("strings 4").find("string 2 Cam\xE9\n"), std::string::npos);
}

TEST_F(OstraTools, UsbprobePendsUnderTheDelayAndClearsStalls)
{
    Knob("usb-delay", "300");
    EXPECT_EQ(Probe("async-bulk-in 1 4"), "result 0x000003E5\nresult 0x000003E5\ndata \nresult 0x00000000\n");
    Knob("usb-delay", "0");
    Knob("stall", "1");
    EXPECT_EQ(Probe("bulk-in 1 4"), "result 0xE0100004\n");
    EXPECT_EQ(Probe("bulk-in 1 4"), "result 0xE0100004\n");
    EXPECT_EQ(Probe("clear-stall 1"), "result 0x00000000\n");
    EXPECT_EQ(Probe("bulk-in 1 4"), "data \nresult 0x00000000\n");
}

TEST_F(OstraTools, OstratraceFollowsAndLosesItsKeyToAForcedReader)
{
    // Unloaded here, so that the section lives with the tools alone.
    o.Unload();
    const std::string dir = m_Dir.Path().string();
    const std::string script =
        "cd '" + dir + "' || exit 1; (" + kTrace + " --key 7 --enable --follow --timeout 60000 > t.txt 2>err1; "
        "echo $? > first) & "
        // The reader traces once it has the buffer and tracing is on: the driver version read shows it.
        "i=0; until grep -q MajorVersion t.txt 2>/dev/null; do i=$((i+1)); [ $i -gt 300 ] && break; " +
        kProbe + " version > /dev/null; done; " +
        kProbe + " descriptors > /dev/null; " + kTrace + " --key 8 2>/dev/null; echo $? > second; " +
        "until grep -q bNumConfigurations t.txt; do i=$((i+1)); [ $i -gt 2000 ] && break; sleep 0.01; done; " +
        kTrace + " --key 8 --force > forced.txt 2>/dev/null; echo $? > third; wait";
    lumotest::WriteText(m_Dir.Path() / "run.sh", script + "\n");
    ASSERT_EQ(lumotest::RunCommand("bash '" + dir + "/run.sh'"), 0);
    const std::string text = lumotest::ReadText(m_Dir.Path() / "t.txt");
    EXPECT_NE(text.find("OSTRAUSB_DEVICE_DESCRIPTOR on handle 0x"), std::string::npos) << text;
    EXPECT_NE(text.find("idVendor 0x5A4B"), std::string::npos) << text;
    EXPECT_EQ(lumotest::ReadText(m_Dir.Path() / "second"), "1\n");
    EXPECT_EQ(lumotest::ReadText(m_Dir.Path() / "third"), "0\n");
    EXPECT_EQ(lumotest::ReadText(m_Dir.Path() / "first"), "2\n");
    EXPECT_NE(lumotest::ReadText(m_Dir.Path() / "forced.txt").find("idVendor 0x5A4B"), std::string::npos);
}

}  // namespace
