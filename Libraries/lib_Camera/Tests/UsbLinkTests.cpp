// The USB link over the USB library, the simulated USB kernel driver and the simulated camera, on a scratch
// machine of each test's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "KCamUsbLink.h"
#include "LumoTestSupport.h"
#include "SimCamera.h"

namespace {

struct LogLine {
    std::string operation;
    std::string address;  // "hhhh:llllllll"
    size_t length;
    std::string result;
};

class UsbLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("LUMO_MACHINE");
        m_HadMachine = old != nullptr;
        if (old)
            m_OldMachine = old;
        setenv("LUMO_MACHINE", (m_Dir.Path() / "machine").c_str(), 1);
        NewCamera("c1", simcam::ByteOrder::KVCK);
        Plug("c1", simcam::Plug::Usb);
        Knob("c1", "scratch", "on");
        ASSERT_TRUE(BindUsbLibrary());
    }
    void TearDown() override
    {
        if (m_Device)
            CloseUsbDevice(m_Device);
        // Left set otherwise: the platform's watcher threads read the environment, and a variable added
        // again by the next test would move it under them.
        if (m_HadMachine)
            setenv("LUMO_MACHINE", m_OldMachine.c_str(), 1);
    }

    static void NewCamera(const std::string& id, simcam::ByteOrder order)
    {
        std::string error;
        ASSERT_TRUE(simcam::NewCamera(id, order, &error)) << error;
    }
    static void Plug(const std::string& id, simcam::Plug plug)
    {
        std::string error;
        ASSERT_TRUE(simcam::PlugCamera(id, plug, &error)) << error;
    }
    static void Knob(const std::string& id, const std::string& key, const std::string& value)
    {
        std::string error;
        ASSERT_TRUE(simcam::SetCameraKnob(id, key, value, &error)) << error;
    }

    CamUsbDevice* Open(const char* part = "tool_OstraUSB0")
    {
        m_Device = OpenUsbDevice(kCamUsbDriverRow, part);
        return m_Device;
    }

    // The camera's USB lines since the last call.
    std::vector<LogLine> Log(const std::string& id = "c1")
    {
        std::string text, error;
        EXPECT_TRUE(simcam::ReadCameraLog(id, &text, &error)) << error;
        std::vector<LogLine> lines;
        std::istringstream in(text.substr(std::min(m_LogSeen[id], text.size())));
        m_LogSeen[id] = text.size();
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string face, pid;
            LogLine l;
            std::getline(fields, face, '\t');
            std::getline(fields, pid, '\t');
            std::getline(fields, l.operation, '\t');
            std::getline(fields, l.address, '\t');
            std::string length;
            std::getline(fields, length, '\t');
            l.length = std::strtoul(length.c_str(), nullptr, 10);
            std::getline(fields, l.result, '\t');
            if (face == "usb")
                lines.push_back(l);
        }
        return lines;
    }
    // The lengths of the log's lines of one operation.
    static std::vector<size_t> Lengths(const std::vector<LogLine>& lines, const std::string& operation)
    {
        std::vector<size_t> out;
        for (const LogLine& l : lines)
            if (l.operation == operation)
                out.push_back(l.length);
        return out;
    }
    static size_t Count(const std::vector<LogLine>& lines, const std::string& operation)
    {
        return Lengths(lines, operation).size();
    }

    lumotest::TempDir m_Dir;
    CamUsbDevice* m_Device = nullptr;
    std::map<std::string, size_t> m_LogSeen;

private:
    std::string m_OldMachine;
    bool m_HadMachine = false;
};

}  // namespace

TEST_F(UsbLink, CountsNamesAndIndexes)
{
    EXPECT_EQ(CountUsbDevices(), 1u);
    NewCamera("c2", simcam::ByteOrder::KCVK);
    Plug("c2", simcam::Plug::Usb);
    EXPECT_EQ(CountUsbDevices(), 2u);
    Plug("c1", simcam::Plug::Bus1394);
    EXPECT_EQ(CountUsbDevices(), 1u);

    char name[32];
    ASSERT_TRUE(GetUsbDeviceName(7, name, sizeof name));
    EXPECT_STREQ(name, "tool_OstraUSB7");
    EXPECT_FALSE(GetUsbDeviceName(10, name, 15)) << "no room for the terminating zero";
    ASSERT_TRUE(GetUsbDeviceName(10, name, 16));
    EXPECT_STREQ(name, "tool_OstraUSB10");

    struct Case {
        const char* part;
        bool ok;
        uint32_t index;
    } cases[] = {
        {"tool_OstraUSB0", true, 0},         {"tool_OstraUSB42", true, 42},
        {"tool_OstraUSB4294967295", true, 0xFFFFFFFFu},
        {"tool_OstraUSB4294967296", false, 0}, {"tool_OstraUSB", false, 0},
        {"tool_OstraUSB1x", false, 0},        {"tool_OstraUSB-1", false, 0},
        {"tool_ostraUSB1", false, 0},         {"0", false, 0},
        {"", false, 0},
    };
    for (const Case& c : cases) {
        uint32_t index = 12345;
        EXPECT_EQ(ParseUsbDeviceIndex(c.part, &index), c.ok) << c.part;
        if (c.ok) {
            EXPECT_EQ(index, c.index) << c.part;
        }
    }

    // Opening names the camera by its index among those on USB now.
    EXPECT_EQ(OpenUsbDevice(kCamUsbDriverRow, "tool_OstraUSB1"), nullptr);
    EXPECT_EQ(OpenUsbDevice(kCamUsbDriverRow, "USB0"), nullptr);
    ASSERT_NE(Open(), nullptr);
    char word[4];
    ASSERT_EQ(ReadUsbBlock(m_Device, 0xF0000404, 0xFFFF, word, 4), 1);
    EXPECT_EQ(std::string(word, 4), "1394");
    Log("c1");
    EXPECT_TRUE(Log("c2").size() >= 3u) << "c2 is the one on USB";
}

TEST_F(UsbLink, BlocksGoInChunksAndComeBackWhole)
{
    ASSERT_NE(Open(), nullptr);
    // Writes go 16 bytes at a time (a short write keeps the camera's scratch memory, and the test, small).
    std::vector<uint8_t> data(2008);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + (i >> 8) + 1);
    ASSERT_EQ(WriteUsbBlock(m_Device, 0xFFFFE000, 0x2000, data.data(), 2008), 1);
    std::vector<LogLine> wrote = Log();
    std::vector<size_t> outs(125, 16);
    outs.push_back(8);
    EXPECT_EQ(Lengths(wrote, "bulk-out"), outs);
    EXPECT_EQ(Count(wrote, "request1"), outs.size());
    EXPECT_EQ(Lengths(wrote, "request5"), std::vector<size_t>(outs.size(), 0));

    // A read of the data window shrinks its chunks as the rest gets smaller.
    std::vector<uint8_t> back(20000, 0xEE);
    ASSERT_EQ(ReadUsbBlock(m_Device, 0xFFFFE000, 0x2000, back.data(), 20000), 1);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin()));
    EXPECT_TRUE(std::all_of(back.begin() + 2008, back.end(), [](uint8_t b) { return b == 0; }));
    std::vector<LogLine> read = Log();
    const std::vector<size_t> chunks = {16384, 1024, 1024, 1024, 128, 128, 128, 128, 16, 16};
    EXPECT_EQ(Lengths(read, "bulk-in"), chunks);
    EXPECT_EQ(Count(read, "request0"), chunks.size());
    EXPECT_EQ(Count(read, "request4"), chunks.size());
    // The address goes on into the next space.
    ASSERT_FALSE(read.empty());
    EXPECT_EQ(read.back().address, "2001:00002e10");

    // Below the data window every read goes 16 bytes at a time.
    const uint8_t name[32] = "IMG_0001.KZR and some more text";
    ASSERT_EQ(WriteUsbBlock(m_Device, 0x4, 0x1009, name, 32), 1);
    Log();
    uint8_t nameBack[32] = {};
    ASSERT_EQ(ReadUsbBlock(m_Device, 0x4, 0x1009, nameBack, 32), 1);
    EXPECT_EQ(memcmp(name, nameBack, 32), 0);
    EXPECT_EQ(Lengths(Log(), "bulk-in"), (std::vector<size_t>{16, 16}));
}

TEST_F(UsbLink, RegistersTravelMostSignificantByteFirst)
{
    ASSERT_NE(Open(), nullptr);
    const uint32_t value = 0x11223344;
    ASSERT_EQ(WriteUsbBlock(m_Device, 0x0, 0x1009, &value, 4), 1);
    uint32_t asInteger = 0;
    ASSERT_EQ(ReadUsbInteger(m_Device, 0x0, 0x1009, &asInteger), 1);
    EXPECT_EQ(asInteger, value) << "the integer request answers little-endian";
    Log();

    // Each bulk IN first answers "VI!": the second IN carries the register, reversed on the way.
    Knob("c1", "preamble", "on");
    uint32_t asBlock = 0;
    ASSERT_EQ(ReadUsbBlock(m_Device, 0x0, 0x1009, &asBlock, 4), 1);
    EXPECT_EQ(asBlock, value);
    EXPECT_EQ(Lengths(Log(), "bulk-in"), (std::vector<size_t>{4, 4}));
    // The data window's bytes are not reversed, preamble or not.
    uint8_t bytes[256];
    for (int i = 0; i < 256; ++i)
        bytes[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(WriteUsbBlock(m_Device, 0x10000000, 0x3000, bytes, 256), 1);
    uint8_t back[256] = {};
    ASSERT_EQ(ReadUsbBlock(m_Device, 0x10000000, 0x3000, back, 256), 1);
    EXPECT_EQ(memcmp(bytes, back, 256), 0);
    uint8_t quad[4] = {};
    ASSERT_EQ(ReadUsbBlock(m_Device, 0x10000004, 0x3000, quad, 4), 1);
    EXPECT_EQ(memcmp(quad, bytes + 4, 4), 0);
    // A short packet is followed by an IN for its rest, each after its own preamble.
    Log();
    Knob("c1", "reply6", "1");
    uint8_t again[144] = {};
    ASSERT_EQ(ReadUsbBlock(m_Device, 0x10000000, 0x3000, again, 144), 1);
    EXPECT_EQ(memcmp(bytes, again, 144), 0);
    EXPECT_EQ(Lengths(Log(), "bulk-in"), (std::vector<size_t>{128, 128, 122, 122, 16, 16}));
}

TEST_F(UsbLink, FailedAttemptsAreRetriedSixTimes)
{
    ASSERT_NE(Open(), nullptr);
    const uint8_t name[16] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P'};
    ASSERT_EQ(WriteUsbBlock(m_Device, 0x4, 0x1009, name, 16), 1);
    Log();
    struct Case {
        const char* knob;
        const char* value;
        int ok;
        size_t bulkIns;
        size_t clearStalls;
    } cases[] = {
        {"reply6", "1", 1, 2, 0},  // a 6-byte reply is no multiple of 4: the second attempt gets 16
        {"reply6", "6", 0, 6, 0},  // six of them fail the read
        {"stall", "2", 1, 3, 2},   // two stalls are cleared and the IN goes again
        {"not-responding", "5", 1, 1, 0},
        {"not-responding", "6", 0, 0, 0},
    };
    for (const Case& c : cases) {
        Knob("c1", c.knob, c.value);
        uint8_t back[16] = {};
        EXPECT_EQ(ReadUsbBlock(m_Device, 0x4, 0x1009, back, 16), c.ok) << c.knob << " " << c.value;
        const std::vector<LogLine> lines = Log();
        EXPECT_EQ(Count(lines, "bulk-in"), c.bulkIns) << c.knob << " " << c.value;
        EXPECT_EQ(Count(lines, "clear-stall"), c.clearStalls) << c.knob << " " << c.value;
        if (c.ok) {
            EXPECT_EQ(memcmp(back, name, 16), 0) << c.knob << " " << c.value;
        }
        Knob("c1", c.knob, "0");
    }
    // The integer pair and the writes have their six attempts too.
    uint32_t v = 0;
    Knob("c1", "not-responding", "6");
    EXPECT_EQ(ReadUsbInteger(m_Device, 0x0, 0x1009, &v), 0);
    EXPECT_EQ(Count(Log(), "request0"), 6u);
    Knob("c1", "not-responding", "5");
    EXPECT_EQ(ReadUsbInteger(m_Device, 0x0, 0x1009, &v), 1) << "the sixth attempt gets through";
    Knob("c1", "stall", "1");
    EXPECT_EQ(WriteUsbBlock(m_Device, 0x4, 0x1009, name, 16), 1);
    EXPECT_EQ(Count(Log(), "clear-stall"), 1u);
    // Unplugged, nothing gets through and nothing is waited for without end.
    Plug("c1", simcam::Plug::None);
    EXPECT_EQ(ReadUsbInteger(m_Device, 0x0, 0x1009, &v), 0);
    uint8_t back[16];
    EXPECT_EQ(ReadUsbBlock(m_Device, 0x4, 0x1009, back, 16), 0);
    EXPECT_EQ(WriteUsbBlock(m_Device, 0x4, 0x1009, name, 16), 0);
}

TEST_F(UsbLink, ConfigurationAreaComesFromTheCamera)
{
    NewCamera("c2", simcam::ByteOrder::KCVK);
    Plug("c2", simcam::Plug::Usb);
    Knob("c2", "engine", "off");
    Knob("c2", "level", "off");
    struct Case {
        const char* part;
        uint32_t swapFlag;  // KVCK on the wire clears it, KCVK keeps it
        std::vector<uint32_t> types;
        uint32_t value3Of50000;
    } cases[] = {
        {"tool_OstraUSB0", 0, {0x20000, 0x40000, 0x50000, 0x60000, 0x70000}, 128},
        {"tool_OstraUSB1", 1, {0x20000, 0x60000, 0x70000}, 128},
    };
    for (const Case& c : cases) {
        CamUsbDevice* d = OpenUsbDevice(kCamUsbDriverRow, c.part);
        ASSERT_NE(d, nullptr) << c.part;
        CamConfigArea area;
        ResetCamConfigArea(&area);
        area.value3Of50000 = 7;
        EXPECT_EQ(ReadConfigurationArea(d, &area), 1u) << c.part;
        EXPECT_EQ(area.areaRead, 1u);
        EXPECT_EQ(area.swapFlag, c.swapFlag) << c.part;
        EXPECT_EQ(memcmp(&area.magic, "KCVK", 4), 0) << c.part;
        ASSERT_EQ(area.entryCount, c.types.size()) << c.part;
        for (size_t i = 0; i < c.types.size(); ++i)
            EXPECT_EQ(area.entries[i].type, c.types[i]) << c.part << " " << i;
        EXPECT_EQ(area.windowLow, 0u);
        EXPECT_EQ(area.windowHigh, 0x1009u);
        EXPECT_EQ(area.window2Low, 0x08000000u);
        EXPECT_EQ(area.window2High, 0x1009u);
        EXPECT_EQ(area.value3Of60000, 512u);
        EXPECT_EQ(area.value3Of70000, 512u);
        EXPECT_EQ(area.value3Of50000, c.swapFlag == 0 ? 128u : 7u) << "only a 0x50000 entry sets it";
        CloseUsbDevice(d);
    }

    // A camera that reports 75 entries gets 50; the reads stop at the first that fails (entry 5, past the
    // camera's table).
    Knob("c1", "entries", "75");
    Knob("c1", "scratch", "off");
    ASSERT_NE(Open(), nullptr);
    CamConfigArea area;
    ResetCamConfigArea(&area);
    Log();
    EXPECT_EQ(ReadConfigurationArea(m_Device, &area), 1u);
    EXPECT_EQ(area.entryCount, 50u);
    EXPECT_EQ(area.entries[4].type, 0x70000u);
    EXPECT_EQ(area.entries[5].type, 0u);
    size_t beyond = 0;
    for (const LogLine& l : Log())
        beyond += l.operation == "request8" && l.address >= "ffff:f0010060";
    EXPECT_EQ(beyond, 6u) << "six attempts at entry 5's first word, then no more";

    // Without an answer to the magic quadlet the area stays as it was.
    Plug("c1", simcam::Plug::None);
    ResetCamConfigArea(&area);
    EXPECT_EQ(ReadConfigurationArea(m_Device, &area), 0u);
    CamConfigArea initial;
    ResetCamConfigArea(&initial);
    EXPECT_EQ(memcmp(&area, &initial, sizeof area), 0);
}

TEST_F(UsbLink, ACameraSlowerThanTheWaitsFailsAndTheDeviceStaysUsable)
{
    ASSERT_NE(Open(), nullptr);
    // Each control request takes longer than its 100 ms wait: every attempt fails, and each request, still
    // running when its attempt gives up, ends before the next one reuses the device's buffers.
    Knob("c1", "usb-delay", "250");
    uint32_t v = 0;
    EXPECT_EQ(ReadUsbInteger(m_Device, 0x0, 0x1009, &v), 0);
    uint8_t word[4] = {};
    EXPECT_EQ(ReadUsbBlock(m_Device, 0xF0000404, 0xFFFF, word, 4), 0);
    const std::vector<LogLine> slow = Log();
    EXPECT_EQ(Count(slow, "request0"), 12u);
    EXPECT_EQ(Count(slow, "request4") + Count(slow, "bulk-in"), 0u);
    Knob("c1", "usb-delay", "0");
    ASSERT_EQ(ReadUsbBlock(m_Device, 0xF0000404, 0xFFFF, word, 4), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(word), 4), "1394");
}
