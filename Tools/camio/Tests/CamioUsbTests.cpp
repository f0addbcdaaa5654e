// camio over USB as a user runs it: cameras made and plugged with camsim's commands in a machine of the test's own,
// reached through the USB library and the simulated USB kernel driver.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "KCamUsbLink.h"
#include "LumoTestSupport.h"
#include "SimCamera.h"
#include "SimCommand.h"

namespace fs = std::filesystem;

namespace {

const std::string kTools = LUMO_BINARY_DIR "/Tools/";

std::string Hex(const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

class CamioUsb : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("LUMO_MACHINE");
        m_HadMachine = old != nullptr;
        if (old)
            m_OldMachine = old;
        setenv("LUMO_MACHINE", (m_Dir / "machine").c_str(), 1);
    }
    void TearDown() override
    {
        // Left set otherwise: the platform's watcher threads read the environment, and a variable added
        // again by the next test would move it under them.
        if (m_HadMachine)
            setenv("LUMO_MACHINE", m_OldMachine.c_str(), 1);
    }

    // A tool's standard output (standard error dropped) and exit status.
    std::string Run(const std::string& command, int* status = nullptr)
    {
        const std::string out = (m_Dir / "out").string();
        const std::string err = (m_Dir / "err").string();
        const int s = lumotest::RunCommand(command + " >'" + out + "' 2>'" + err + "'");
        if (status)
            *status = s;
        return fs::exists(out) ? lumotest::ReadText(out) : std::string();
    }
    std::string Camio(const std::string& args, int* status = nullptr) { return Run(kTools + "camio/camio " + args, status); }
    // A camsim command, run in this process on the test's machine.
    void Camsim(const std::string& args)
    {
        std::vector<std::string> words;
        std::istringstream in(args);
        for (std::string w; in >> w;)
            words.push_back(w);
        std::string out, error;
        ASSERT_EQ(simcam::RunCamsimCommand(words, &out, &error), 0) << args << ": " << error;
    }

    // The lengths of the camera's bulk INs since the last call.
    std::vector<size_t> BulkIns(const std::string& id)
    {
        std::string text, error;
        EXPECT_TRUE(simcam::ReadCameraLog(id, &text, &error)) << error;
        std::istringstream in(text.substr(std::min(m_LogSeen, text.size())));
        m_LogSeen = text.size();
        std::vector<size_t> lengths;
        std::string line;
        while (std::getline(in, line)) {
            std::vector<std::string> f;
            std::istringstream fields(line);
            for (std::string s; std::getline(fields, s, '\t');)
                f.push_back(s);
            if (f.size() >= 5 && f[0] == "usb" && f[2] == "bulk-in")
                lengths.push_back(std::strtoul(f[4].c_str(), nullptr, 10));
        }
        return lengths;
    }

    lumotest::TempDir m_Dir;
    size_t m_LogSeen = 0;

private:
    std::string m_OldMachine;
    bool m_HadMachine = false;
};

}  // namespace

TEST_F(CamioUsb, LinksPeeksAndPokesTheCameraOnUsb)
{
    EXPECT_EQ(Camio("links"), "");
    Camsim("new c1");
    Camsim("plug c1 usb");
    Camsim("new c2 --order KCVK");
    EXPECT_EQ(Camio("links"), "USB@tool_OstraUSB0\n");
    EXPECT_EQ(Camio("peek USB@tool_OstraUSB0 0xFFFF 0xF0000404 4"), "1394\n");
    // The other camera order.
    Camsim("unplug c1");
    Camsim("plug c2 usb");
    EXPECT_EQ(Camio("links"), "USB@tool_OstraUSB0\n");
    EXPECT_EQ(Camio("peek USB@tool_OstraUSB0 0xFFFF 0xF0000404 4"), "1394\n");
    Camsim("plug c1 usb");
    EXPECT_EQ(Camio("links"), "USB@tool_OstraUSB0\nUSB@tool_OstraUSB1\n");

    // 20,000 bytes of scratch memory there and back, across the end of a space, the read in shrinking chunks.
    Camsim("unplug c1");
    Camsim("knob c2 scratch on");
    std::vector<uint8_t> data(20000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(((i * 131) >> 3) + 1);
    int status = -1;
    Camio("poke USB@tool_OstraUSB0 0x2000 0xFFFFE000 " + Hex(data), &status);
    ASSERT_EQ(status, 0) << lumotest::ReadText(m_Dir / "err");
    BulkIns("c2");
    EXPECT_EQ(Camio("peek USB@tool_OstraUSB0 0x2000 0xFFFFE000 20000"), Hex(data) + "\n");
    EXPECT_EQ(BulkIns("c2"), (std::vector<size_t>{16384, 1024, 1024, 1024, 128, 128, 128, 128, 16, 16}));

    // Names of no camera, and failures, exit 1.
    for (const std::string& args : {std::string("peek USB@tool_OstraUSB2 0xFFFF 0xF0000404 4"),
                                    std::string("peek USB@tool_OstraUSB 0xFFFF 0xF0000404 4"),
                                    std::string("peek USB@OstraUSB0 0xFFFF 0xF0000404 4"),
                                    std::string("peek USB@tool_OstraUSB0 0x2000 0 6"),  // no multiple of 4
                                    std::string("links now")}) {
        Camio(args, &status);
        EXPECT_EQ(status, 1) << args;
    }
}

TEST_F(CamioUsb, WithoutTheUsbLibraryThereIsNoUsbCamera)
{
    Camsim("new c1");
    Camsim("plug c1 usb");
    ASSERT_EQ(Camio("links"), "USB@tool_OstraUSB0\n");

    // camio and the platform's libraries, all but the USB library, in a folder of their own; the copies' search
    // path is bent away from the build's library folder, so that nothing finds the library there.
    const std::string libFolder = LUMO_BINARY_DIR "/lib";
    std::string elsewhere = "/nonexistent-lumo-folder";
    if (elsewhere.size() > libFolder.size())
        GTEST_SKIP() << "the build folder's path is too short to bend";
    elsewhere += std::string(libFolder.size() - elsewhere.size(), 'x');
    const fs::path folder = m_Dir / "bin";
    fs::create_directories(folder);
    auto copy = [&](const fs::path& from) {
        std::vector<uint8_t> bytes = lumotest::ReadBytes(from);
        const auto at = [&](size_t from) {
            return std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(), libFolder.begin(),
                               libFolder.end());
        };
        for (auto it = at(0); it != bytes.end(); it = at(static_cast<size_t>(it - bytes.begin()) + 1))
            std::copy(elsewhere.begin(), elsewhere.end(), it);
        const fs::path to = folder / from.filename();
        lumotest::WriteBytes(to, bytes);
        chmod(to.c_str(), 0755);
    };
    copy(kTools + "camio/camio");
    for (const auto& entry : fs::directory_iterator(libFolder))
        if (entry.path().filename() != "libOstraUsb.so")
            copy(entry.path());

    int status = -1;
    const std::string bent = "LD_LIBRARY_PATH='" + folder.string() + "' '" + (folder / "camio").string() + "' ";
    EXPECT_EQ(Run(bent + "links", &status), "");
    EXPECT_EQ(status, 0);
    Run(bent + "peek USB@tool_OstraUSB0 0xFFFF 0xF0000404 4", &status);
    EXPECT_EQ(status, 1);
}

TEST_F(CamioUsb, TwoReadersAtOnceEachGetTheirOwnBytes)
{
    Camsim("new c1");
    Camsim("plug c1 usb");
    Camsim("knob c1 scratch on");
    // Marks every 4 KiB of two scratch ranges, each naming its range and offset; the rest reads as zeros.
    const uint32_t kLength = 200000;
    const uint32_t ranges[2] = {0x00000000, 0x00100000};
    std::vector<uint8_t> expected[2];
    ASSERT_TRUE(BindUsbLibrary());
    CamUsbDevice* device = OpenUsbDevice(kCamUsbDriverRow, "tool_OstraUSB0");
    ASSERT_NE(device, nullptr);
    for (int r = 0; r < 2; ++r) {
        expected[r].assign(kLength, 0);
        for (uint32_t offset = 0; offset + 16 <= kLength; offset += 4096) {
            uint8_t mark[16] = {'r', 'a', 'n', 'g', 'e', static_cast<uint8_t>('A' + r)};
            std::memcpy(mark + 8, &offset, 4);
            std::memcpy(mark + 12, &ranges[r], 4);
            ASSERT_EQ(WriteUsbBlock(device, ranges[r] + offset, 0x2000, mark, 16), 1);
            std::copy(mark, mark + 16, expected[r].begin() + offset);
        }
    }
    CloseUsbDevice(device);
    // Each USB transaction takes a while, so that the three programs' requests meet.
    Camsim("knob c1 usb-delay 3");

    const std::string camio = kTools + "camio/camio peek USB@tool_OstraUSB0 ";
    const fs::path d = m_Dir.Path();
    // The third program goes on until both readers are done (or gives up after many rounds).
    std::ostringstream script;
    script << "cd '" << d.string() << "' || exit 1\n"
           << "( " << camio << "0x2000 0x0 200000 >a.out 2>a.err; echo $? >a.rc ) &\n"
           << "( " << camio << "0x2000 0x100000 200000 >b.out 2>b.err; echo $? >b.rc ) &\n"
           << "( n=0; while [ $n -lt 5000 ] && { [ ! -e a.rc ] || [ ! -e b.rc ]; }; do n=$((n+1)); " << camio
           << "0xFFFF 0xF0000404 4 >>c.out 2>>c.err || echo failed >>c.out; done ) &\n"
           << "wait\n";
    lumotest::WriteText(d / "readers.sh", script.str());
    ASSERT_EQ(lumotest::RunCommand("sh '" + (d / "readers.sh").string() + "'"), 0);
    EXPECT_EQ(lumotest::ReadText(d / "a.rc"), "0\n") << lumotest::ReadText(d / "a.err");
    EXPECT_EQ(lumotest::ReadText(d / "b.rc"), "0\n") << lumotest::ReadText(d / "b.err");
    EXPECT_TRUE(lumotest::ReadText(d / "a.out") == Hex(expected[0]) + "\n");
    EXPECT_TRUE(lumotest::ReadText(d / "b.out") == Hex(expected[1]) + "\n");
    const std::string liveness = lumotest::ReadText(d / "c.out");
    EXPECT_FALSE(liveness.empty());
    std::istringstream lines(liveness);
    for (std::string line; std::getline(lines, line);)
        EXPECT_EQ(line, "1394");
}
