// camio's camera commands end to end: each a process of its own over a real link (the 1394 driver in the
// kernel stand-in, or the USB library) to a simulated camera that camsim's commands make, plug and load (run in
// the test's process), in a machine of each test's own. The camera's log shows what reached it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "LumoTestSupport.h"
#include "SimCommand.h"

namespace {

const std::string kTools = LUMO_BINARY_DIR "/Tools/";

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::vector<uint8_t> Pattern(size_t n, uint32_t seed)
{
    std::vector<uint8_t> out(n);
    uint32_t x = seed | 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x >> 9);
    }
    return out;
}

// One access of the camera's log.
struct Access {
    std::string face, operation;
    uint32_t high = 0, low = 0;
    size_t length = 0;
    std::string result;
    bool IsWrite() const { return operation == "write" || operation == "bulk-out"; }
    bool IsRead() const { return operation == "read" || operation == "bulk-in" || operation == "request8"; }
};

class Machine {
public:
    std::string Env() const
    {
        return "LUMO_MACHINE=" + Quote((m_Dir.Path() / "machine").string()) + " LUMO_CAMERA_PACE=0 ";
    }
    int Status(const std::string& command) const { return lumotest::RunCommand(Env() + kTools + command); }
    std::string Run(const std::string& command) const
    {
        return lumotest::CommandOutput(Env() + kTools + command + " 2>/dev/null");
    }
    // camio's exit status and standard output.
    int Camio(const std::string& args, std::string* out = nullptr) const
    {
        const std::string file = (m_Dir.Path() / "camio.out").string();
        const int status = Status("camio/camio " + args + " >" + Quote(file) + " 2>/dev/null");
        if (out)
            *out = lumotest::ReadText(file);
        return status;
    }
    // A camsim command ("knob c1 engine off"; words without spaces), run in this process on this machine.
    int Sim(const std::string& words, std::string* out = nullptr) const
    {
        std::vector<std::string> args;
        std::istringstream in(words);
        for (std::string w; in >> w;)
            args.push_back(w);
        return Sim(args, out);
    }
    int Sim(const std::vector<std::string>& args, std::string* out = nullptr) const
    {
        // The variable stays set afterwards (to the old value when there was one): threads of the platform that
        // an earlier test started in this process read the environment.
        const char* old = std::getenv("LUMO_MACHINE");
        const std::string previous = old ? old : "";
        setenv("LUMO_MACHINE", (m_Dir.Path() / "machine").c_str(), 1);
        std::string text, error;
        const int status = simcam::RunCamsimCommand(args, &text, &error);
        if (old)
            setenv("LUMO_MACHINE", previous.c_str(), 1);
        EXPECT_EQ(status, 0) << error;
        if (out)
            *out = text;
        return status;
    }
    void Camera(const std::string& id, const std::string& link, const std::string& order = "KVCK") const
    {
        ASSERT_EQ(Sim("new " + id + " --order " + order), 0);
        ASSERT_EQ(Sim("plug " + id + " " + link), 0);
    }
    // Puts the bytes on the card as /cf/images/NAME.
    std::string Shoot(const std::string& id, const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        const auto source = m_Dir.Path() / ("shot-" + name);
        lumotest::WriteBytes(source, bytes);
        EXPECT_EQ(Sim({"shoot", id, source.string(), name}), 0);
        return "/cf/images/" + name;
    }
    std::filesystem::path Card(const std::string& id) const
    {
        std::string path;
        Sim({"card", id}, &path);
        while (!path.empty() && path.back() == '\n')
            path.pop_back();
        return path;
    }
    std::vector<Access> Log(const std::string& id) const
    {
        std::vector<Access> out;
        std::string text;
        Sim({"log", id}, &text);
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            Access a;
            std::string pid, address;
            if (!(fields >> a.face >> pid >> a.operation >> address >> a.length >> a.result))
                continue;
            const size_t colon = address.find(':');
            if (colon == std::string::npos)
                continue;
            a.high = uint32_t(std::stoul(address.substr(0, colon), nullptr, 16));
            a.low = uint32_t(std::stoul(address.substr(colon + 1), nullptr, 16));
            out.push_back(a);
        }
        return out;
    }
    void ClearLog(const std::string& id) const { std::filesystem::remove(Card(id).parent_path() / "log"); }
    std::filesystem::path Path(const std::string& leaf) const { return m_Dir.Path() / leaf; }

private:
    lumotest::TempDir m_Dir;
};

size_t Count(const std::vector<Access>& log, bool (Access::*kind)() const, uint32_t high, uint32_t low,
             uint32_t end = 0)
{
    size_t n = 0;
    for (const Access& a : log)
        if ((a.*kind)() && a.high == high && a.low >= low && a.low < (end ? end : low + 1))
            ++n;
    return n;
}

size_t BytesWritten(const std::vector<Access>& log, uint32_t high, uint32_t low, uint32_t end)
{
    size_t n = 0;
    for (const Access& a : log)
        if (a.IsWrite() && a.high == high && a.low >= low && a.low < end)
            n += a.length;
    return n;
}

struct Link {
    const char* link;   // camsim's plug
    const char* order;  // the camera's byte order
};

void PrintTo(const Link& link, std::ostream* out)
{
    *out << link.link << " " << link.order;
}

std::string LinkName(const ::testing::TestParamInfo<Link>& info)
{
    return std::string(info.param.link == std::string("usb") ? "Usb" : "Bus1394") + info.param.order;
}

class CamioCamera : public ::testing::TestWithParam<Link> {
protected:
    void SetUp() override
    {
        m.Camera("c1", GetParam().link, GetParam().order);
        ASSERT_EQ(m.Camio("names", &m_Name), 0);
        while (!m_Name.empty() && m_Name.back() == '\n')
            m_Name.pop_back();
        ASSERT_FALSE(m_Name.empty());
        ASSERT_EQ(m_Name.find('\n'), std::string::npos);
    }
    const std::string& Name() const { return m_Name; }

    Machine m;
    std::string m_Name;
};

// The operations that do not depend on the camera's byte order, over each link once.
class CamioCameraOps : public CamioCamera {};

}  // namespace

TEST(CamioNames, The1394CameraComesFirstThenUsb)
{
    Machine m;
    std::string out = "x";
    EXPECT_EQ(m.Camio("names", &out), 0);
    EXPECT_EQ(out, "");
    for (bool usbFirst : {false, true}) {
        Machine both;
        if (usbFirst) {
            both.Camera("c2", "usb");
            both.Camera("c1", "1394");
        } else {
            both.Camera("c1", "1394");
            both.Camera("c2", "usb");
        }
        ASSERT_EQ(both.Camio("names", &out), 0);
        const size_t newline = out.find('\n');
        ASSERT_NE(newline, std::string::npos) << out;
        EXPECT_EQ(out.substr(0, 7), "1394@\\\\") << out;
        EXPECT_EQ(out.substr(newline + 1), "USB@tool_OstraUSB0\n");
        // An empty name is the first camera.
        EXPECT_EQ(both.Camio("alive ''", &out), 0);
        EXPECT_EQ(out, "alive\n");
    }
}

TEST(CamioNames, InvalidAndUnservedNamesFail)
{
    Machine m;
    m.Camera("c1", "1394");
    for (const char* name : {"1394", "NONE@x", "TCP@x", "usb@tool_OstraUSB0", "USB@tool_OstraUSB7", "1394@nowhere"}) {
        std::string out;
        EXPECT_EQ(m.Camio(std::string("alive ") + Quote(name), &out), 1) << name;
        EXPECT_EQ(m.Camio(std::string("info ") + Quote(name) + " /cf"), 1) << name;
    }
}

TEST_P(CamioCamera, GetCopiesFilesOfEverySize)
{
    // Plain block reads (the camera-driven read of the engine entry moves 128 bytes a packet; other tests
    // take that road).
    ASSERT_EQ(m.Sim("knob c1 engine off"), 0);
    const size_t sizes[] = {1, 3, 5, 10, 8191, 8192, 8193, 65537, 200000};
    for (size_t size : sizes) {
        const std::vector<uint8_t> bytes = Pattern(size, uint32_t(size));
        const std::string path = m.Shoot("c1", "F" + std::to_string(size) + ".KZR", bytes);
        const auto out = m.Path("got-" + std::to_string(size));
        ASSERT_EQ(m.Camio("get " + Quote(Name()) + " " + path + " " + Quote(out.string())), 0) << size;
        EXPECT_TRUE(lumotest::ReadBytes(out) == bytes) << size;
        if (size != 10 && size != 8193 && size != 65537)
            continue;
        // A part from an offset, the count cut at the end.
        const size_t offset = size / 3;
        ASSERT_EQ(m.Camio("get " + Quote(Name()) + " " + path + " " + Quote(out.string()) + " " +
                          std::to_string(offset) + " 100000"),
                  0)
            << size;
        const size_t end = std::min(size, offset + 100000);
        EXPECT_TRUE(lumotest::ReadBytes(out) ==
                    std::vector<uint8_t>(bytes.begin() + long(offset), bytes.begin() + long(end)))
            << size;
    }
    const std::string empty = m.Shoot("c1", "EMPTY.KZR", {});
    const std::string ten = "/cf/images/F10.KZR";
    const auto out = m.Path("none");
    EXPECT_EQ(m.Camio("get " + Quote(Name()) + " " + empty + " " + Quote(out.string())), 1);
    EXPECT_EQ(m.Camio("get " + Quote(Name()) + " " + ten + " " + Quote(out.string()) + " 10 5"), 1);
    EXPECT_EQ(m.Camio("get " + Quote(Name()) + " /cf/images/MISSING.KZR " + Quote(out.string())), 1);
    EXPECT_FALSE(std::filesystem::exists(out));
    std::string info;
    ASSERT_EQ(m.Camio("info " + Quote(Name()) + " " + ten, &info), 0);
    EXPECT_EQ(info.substr(0, 8), "size 10\n") << info;
    EXPECT_NE(info.find("attributes 2 mark\n"), std::string::npos) << info;
}

TEST_P(CamioCameraOps, PutWritesExactlyItsBytes)
{
    const std::vector<uint8_t> before = Pattern(20, 7);
    const std::string path = m.Shoot("c1", "P.KZR", before);
    lumotest::WriteBytes(m.Path("six"), {'a', 'b', 'c', 'd', 'e', 'f'});
    ASSERT_EQ(m.Camio("put " + Quote(Name()) + " " + path + " 3 " + Quote(m.Path("six").string())), 0);
    std::vector<uint8_t> want = before;
    std::copy_n("abcdef", 6, want.begin() + 3);
    EXPECT_TRUE(lumotest::ReadBytes(m.Card("c1") / "cf/images/P.KZR") == want);

    // A file that may not grow: the write stops before any command.
    ASSERT_EQ(m.Sim("set c1 " + path + " nogrow on"), 0);
    m.ClearLog("c1");
    EXPECT_EQ(m.Camio("put " + Quote(Name()) + " " + path + " 16 " + Quote(m.Path("six").string())), 1);
    EXPECT_EQ(Count(m.Log("c1"), &Access::IsWrite, 0x1009, 0x010000FC), 0u);
    EXPECT_TRUE(lumotest::ReadBytes(m.Card("c1") / "cf/images/P.KZR") == want);
    // Within the file it may still be written.
    EXPECT_EQ(m.Camio("put " + Quote(Name()) + " " + path + " 14 " + Quote(m.Path("six").string())), 0);
    std::copy_n("abcdef", 6, want.begin() + 14);
    EXPECT_TRUE(lumotest::ReadBytes(m.Card("c1") / "cf/images/P.KZR") == want);

    // USB writes in passes of at most 512 bytes, each read back; 1394 in one.
    const bool usb = GetParam().link == std::string("usb");
    const std::vector<uint8_t> big = Pattern(1300, 5);
    lumotest::WriteBytes(m.Path("big"), big);
    const std::string grown = m.Shoot("c1", "G.KZR", Pattern(2000, 6));
    m.ClearLog("c1");
    ASSERT_EQ(m.Camio("put " + Quote(Name()) + " " + grown + " 1000 " + Quote(m.Path("big").string())), 0);
    std::vector<uint8_t> wantGrown = Pattern(2000, 6);
    wantGrown.resize(2300);
    std::copy(big.begin(), big.end(), wantGrown.begin() + 1000);
    EXPECT_TRUE(lumotest::ReadBytes(m.Card("c1") / "cf/images/G.KZR") == wantGrown);
    EXPECT_EQ(Count(m.Log("c1"), &Access::IsWrite, 0x1009, 0x010000FC), usb ? 6u : 1u);
    // An empty whole-file-mode file: nothing old to read first.
    const std::string empty = m.Shoot("c1", "E.KZR", {});
    ASSERT_EQ(m.Sim("set c1 " + empty + " whole on"), 0);
    m.ClearLog("c1");
    ASSERT_EQ(m.Camio("put " + Quote(Name()) + " " + empty + " 0 " + Quote(m.Path("six").string())), 0);
    EXPECT_TRUE(lumotest::ReadBytes(m.Card("c1") / "cf/images/E.KZR") ==
                std::vector<uint8_t>({'a', 'b', 'c', 'd', 'e', 'f'}));
    EXPECT_EQ(Count(m.Log("c1"), &Access::IsWrite, 0x1009, 0x010000FC), usb ? 2u : 1u);

    // Names of 124 characters never reach the name area; 123 characters take all of its 124 bytes.
    const std::string folder = "/cf/images/";
    m.ClearLog("c1");
    EXPECT_EQ(m.Camio("info " + Quote(Name()) + " " + folder + std::string(124 - folder.size(), 'N')), 1);
    EXPECT_EQ(BytesWritten(m.Log("c1"), 0x1009, 0x4, 0x80), 0u);
    const std::string longest = std::string(123 - folder.size() - 4, 'L') + ".KZR";
    m.Shoot("c1", longest, Pattern(5, 1));
    m.ClearLog("c1");
    std::string info;
    ASSERT_EQ(m.Camio("info " + Quote(Name()) + " " + folder + longest, &info), 0);
    EXPECT_EQ(info.substr(0, 7), "size 5\n");
    EXPECT_EQ(BytesWritten(m.Log("c1"), 0x1009, 0x4, 0x80), 124u);
}

TEST_P(CamioCameraOps, DeleteHonoursTheLockThatAttributesSet)
{
    const std::string path = m.Shoot("c1", "D.KZR", Pattern(30, 3));
    const auto file = m.Card("c1") / "cf/images/D.KZR";
    std::string info;
    m.ClearLog("c1");
    ASSERT_EQ(m.Camio("attr " + Quote(Name()) + " " + path + " 3"), 0);
    EXPECT_EQ(Count(m.Log("c1"), &Access::IsWrite, 0x1009, 0x108), 1u);
    ASSERT_EQ(m.Camio("info " + Quote(Name()) + " " + path, &info), 0);
    EXPECT_NE(info.find("attributes 3 lock mark\n"), std::string::npos) << info;
    m.ClearLog("c1");
    EXPECT_EQ(m.Camio("rm " + Quote(Name()) + " " + path), 1);
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(Count(m.Log("c1"), &Access::IsWrite, 0x1009, 0x010000FC), 0u);
    ASSERT_EQ(m.Camio("attr " + Quote(Name()) + " " + path + " 0"), 0);
    ASSERT_EQ(m.Camio("info " + Quote(Name()) + " " + path, &info), 0);
    EXPECT_NE(info.find("attributes 0\n"), std::string::npos) << info;
    EXPECT_EQ(m.Camio("rm " + Quote(Name()) + " " + path), 0);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(m.Camio("rm " + Quote(Name()) + " " + path), 1);
    EXPECT_EQ(m.Camio("attr " + Quote(Name()) + " " + path + " 1"), 1);
}

TEST_P(CamioCameraOps, WholeFileModeAndTheCheckWord)
{
    const std::vector<uint8_t> bytes = Pattern(10000, 11);
    const std::string path = m.Shoot("c1", "W.KZR", bytes);
    ASSERT_EQ(m.Sim("set c1 " + path + " whole on"), 0);
    const auto out = m.Path("w");
    const std::string get = "get " + Quote(Name()) + " " + path + " " + Quote(out.string());
    // Without the level entry no check word is read.
    ASSERT_EQ(m.Sim("knob c1 level off"), 0);
    m.ClearLog("c1");
    ASSERT_EQ(m.Camio(get + " 4321 1000"), 0);
    EXPECT_TRUE(lumotest::ReadBytes(out) == std::vector<uint8_t>(bytes.begin() + 4321, bytes.begin() + 5321));
    EXPECT_EQ(Count(m.Log("c1"), &Access::IsRead, 0x1009, 0x010000F0), 0u);
    // With it, the check word covers what the camera delivered, and a bad one fails the read.
    ASSERT_EQ(m.Sim("knob c1 level on"), 0);
    m.ClearLog("c1");
    ASSERT_EQ(m.Camio(get + " 4321 1000"), 0);
    EXPECT_TRUE(lumotest::ReadBytes(out) == std::vector<uint8_t>(bytes.begin() + 4321, bytes.begin() + 5321));
    EXPECT_GE(Count(m.Log("c1"), &Access::IsRead, 0x1009, 0x010000F0), 1u);
    ASSERT_EQ(m.Sim("knob c1 bad-crc 1"), 0);
    EXPECT_EQ(m.Camio(get + " 4321 1000"), 1);
    ASSERT_EQ(m.Camio(get), 0);
    EXPECT_TRUE(lumotest::ReadBytes(out) == bytes);

    // A write of part of a whole-file-mode file sends the whole file, the old bytes around the new.
    lumotest::WriteBytes(m.Path("six"), {'a', 'b', 'c', 'd', 'e', 'f'});
    ASSERT_EQ(m.Camio("put " + Quote(Name()) + " " + path + " 9998 " + Quote(m.Path("six").string())), 0);
    std::vector<uint8_t> want = bytes;
    want.resize(10004);
    std::copy_n("abcdef", 6, want.begin() + 9998);
    EXPECT_TRUE(lumotest::ReadBytes(m.Card("c1") / "cf/images/W.KZR") == want);
}

TEST_P(CamioCamera, TheConsoleEchoesTextInOrder)
{
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += char('A' + i % 26 + (i % 52 >= 26 ? 32 : 0));
    ASSERT_EQ(m.Camio("console " + Quote(Name()) + " " + text), 0);
    std::string echoed;
    for (int i = 0; i < 20 && echoed.size() < text.size(); ++i) {
        std::string piece;
        ASSERT_EQ(m.Camio("console " + Quote(Name()), &piece), 0);
        echoed += piece;
    }
    EXPECT_EQ(echoed, text);
}

TEST_P(CamioCameraOps, AliveFollowsThePlug)
{
    std::string out;
    EXPECT_EQ(m.Camio("alive " + Quote(Name()), &out), 0);
    EXPECT_EQ(out, "alive\n");
    ASSERT_EQ(m.Sim("unplug c1"), 0);
    EXPECT_EQ(m.Camio("alive " + Quote(Name()), &out), 1);
    EXPECT_EQ(out, "not alive\n");
    ASSERT_EQ(m.Sim("plug c1 " + std::string(GetParam().link)), 0);
    EXPECT_EQ(m.Camio("alive " + Quote(Name()), &out), 0);
    EXPECT_EQ(out, "alive\n");
}

TEST_P(CamioCameraOps, WaitsCountTries)
{
    // A lookup waits 500 ms in 10 ms steps over 1394, 4000 ms in 100 ms steps over USB.
    const int tries = GetParam().link == std::string("usb") ? 40 : 50;
    const std::string path = m.Shoot("c1", "T.KZR", Pattern(4, 4));
    for (int busy : {tries - 1, tries}) {
        ASSERT_EQ(m.Sim("knob c1 lookup-busy " + std::to_string(busy)), 0);
        m.ClearLog("c1");
        EXPECT_EQ(m.Camio("info " + Quote(Name()) + " " + path), busy < tries ? 0 : 1) << busy;
        EXPECT_EQ(Count(m.Log("c1"), &Access::IsRead, 0x1009, 0x100), size_t(busy < tries ? busy + 1 : tries))
            << busy;
    }
}

INSTANTIATE_TEST_SUITE_P(Links, CamioCamera,
                         ::testing::Values(Link{"1394", "KVCK"}, Link{"1394", "KCVK"}, Link{"usb", "KVCK"},
                                           Link{"usb", "KCVK"}),
                         LinkName);
INSTANTIATE_TEST_SUITE_P(Links, CamioCameraOps, ::testing::Values(Link{"1394", "KVCK"}, Link{"usb", "KCVK"}),
                         LinkName);
