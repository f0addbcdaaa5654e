// camio over the 1394 link: simulated cameras on the simulated bus, under the machine's 1394 driver or the
// payload-only test driver, each test on a machine of its own. Requests are watched in the device log.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "LumoTestSupport.h"

namespace {

const std::string kTools = LUMO_BINARY_DIR "/Tools/";

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool Has(const std::string& text, const std::string& piece)
{
    return text.find(piece) != std::string::npos;
}

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

std::vector<uint8_t> Pattern(size_t n, uint32_t seed)
{
    std::vector<uint8_t> out(n);
    uint32_t x = seed;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x >> 11);
    }
    out[0] = 0;  // never all printable
    return out;
}

class Machine {
public:
    // A tool of the build with the machine and the device log in its environment (and `env` in front).
    int Status(const std::string& command, const std::string& env = "") const
    {
        return lumotest::RunCommand(Env() + " " + env + " " + kTools + command + " >/dev/null 2>&1");
    }
    std::string Run(const std::string& command, const std::string& env = "") const
    {
        return lumotest::CommandOutput(Env() + " " + env + " " + kTools + command + " 2>/dev/null");
    }
    void Camera(const std::string& id, const std::string& order = "KVCK") const
    {
        ASSERT_EQ(Status("camsim/camsim new " + id + " --order " + order), 0);
        ASSERT_EQ(Status("camsim/camsim plug " + id + " 1394"), 0);
    }
    // The device names camio lists.
    std::vector<std::string> Links() const { return Lines(Run("camio/camio links")); }
    std::string Peek(const std::string& name, const std::string& where, const std::string& env = "") const
    {
        return Run("camio/camio peek " + Quote(name) + " " + where, env);
    }
    // The device log's lines since the last call, without their process and path.
    std::vector<std::string> Requests()
    {
        std::vector<std::string> out;
        const std::string text = std::filesystem::exists(Log()) ? lumotest::ReadText(Log()) : std::string();
        for (const std::string& line : Lines(text.substr(m_Seen))) {
            const size_t code = line.find(" code=");
            out.push_back(code == std::string::npos ? line : line.substr(code + 1));
        }
        m_Seen = text.size();
        return out;
    }

private:
    std::string Log() const { return (m_Dir.Path() / "device.log").string(); }
    std::string Env() const
    {
        // The retry pauses pass at once: the tests count attempts.
        return "LUMO_MACHINE=" + Quote((m_Dir.Path() / "machine").string()) + " LUMO_DEVICE_LOG=" + Quote(Log()) +
               " LUMO_CAMERA_PACE=0";
    }
    lumotest::TempDir m_Dir;
    size_t m_Seen = 0;
};

// The requests of one code.
std::vector<std::string> OfCode(const std::vector<std::string>& requests, const std::string& code)
{
    std::vector<std::string> out;
    for (const std::string& r : requests)
        if (r.rfind("code=" + code + " ", 0) == 0)
            out.push_back(r.substr(code.size() + 6));
    return out;
}

}  // namespace

TEST(Camio1394, LinksNameEachCameraAndPeekReadsItsIdInEitherOrder)
{
    Machine m;
    EXPECT_TRUE(m.Links().empty());
    EXPECT_EQ(m.Status("camio/camio links"), 0);
    m.Camera("c1", "KVCK");
    m.Camera("c2", "KCVK");
    const std::vector<std::string> links = m.Links();
    ASSERT_EQ(links.size(), 2u);
    for (const std::string& name : links) {
        EXPECT_EQ(name.rfind("1394@\\\\?\\1394#", 0), 0u) << name;
        EXPECT_TRUE(Has(name, "{5030d1c7-169b-4d1d-9f88-ab03b410cd0c}")) << name;
        EXPECT_EQ(m.Peek(name, "0xFFFF 0xF0000404 4"), "1394\n") << name;
    }
    // The header form: the driver does not answer the bare identification.
    const std::vector<std::string> requests = m.Requests();
    EXPECT_EQ(OfCode(requests, "0x81252004"),
              std::vector<std::string>(2, "in=16 out=16 result=87 returned=0"));
    EXPECT_EQ(OfCode(requests, "0x8125200C"),
              std::vector<std::string>(2, "in=84 out=88 result=0 returned=88"));

    EXPECT_EQ(m.Status("camio/camio peek " + Quote("1394@\\\\?\\1394#none#9#{x}") + " 0xFFFF 0xF0000404 4"), 1);
    EXPECT_EQ(m.Status("camio/camio links now"), 1);
}

TEST(Camio1394, BlocksGoOutInChunksAcrossTheLowWordAndComeBack)
{
    Machine m;
    m.Camera("c1");
    ASSERT_EQ(m.Status("camsim/camsim knob c1 scratch on"), 0);
    const std::string name = m.Links().at(0);
    const std::vector<uint8_t> data = Pattern(20000, 0x1394);
    ASSERT_EQ(m.Status("camio/camio poke " + Quote(name) + " 0x2000 0xFFFFE000 " + Hex(data)), 0);
    EXPECT_EQ(OfCode(m.Requests(), "0x81252010"),
              (std::vector<std::string>{"in=8192 out=84 result=0 returned=84", "in=8192 out=84 result=0 returned=84",
                                        "in=3868 out=84 result=0 returned=84"}));
    EXPECT_EQ(m.Peek(name, "0x2000 0xFFFFE000 20000"), Hex(data) + "\n");
    EXPECT_EQ(OfCode(m.Requests(), "0x8125200C"),
              (std::vector<std::string>{"in=84 out=8192 result=0 returned=8192",
                                        "in=84 out=8192 result=0 returned=8192",
                                        "in=84 out=3868 result=0 returned=3868"}));
    // The high word carried: the camera was read in space 0x2001 too.
    const std::string log = m.Run("camsim/camsim log c1");
    EXPECT_TRUE(Has(log, "\tread\t2000:ffffe000\t")) << log;
    EXPECT_TRUE(Has(log, "\tread\t2001:")) << log;
}

TEST(Camio1394, FailuresOfTheBusEndTheReadAfter21Attempts)
{
    Machine m;
    m.Camera("c1");
    const std::string name = m.Links().at(0);
    m.Requests();
    ASSERT_EQ(m.Status("bus1394/bus1394 fail 0 60 0xC0000001"), 0);
    EXPECT_EQ(m.Status("camio/camio peek " + Quote(name) + " 0xFFFF 0xF0000404 4"), 1);
    EXPECT_EQ(OfCode(m.Requests(), "0x8125200C").size(), 21u);
    ASSERT_EQ(m.Status("bus1394/bus1394 fail 0 0 0"), 0);
    EXPECT_EQ(m.Peek(name, "0xFFFF 0xF0000404 4"), "1394\n");
}

class Camio1394PayloadOnly : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(m.Status("lumomachine/lumomachine driver1394 " + Quote(QRL1394_TEST_DRIVER)), 0);
        m.Camera("c1", "KCVK");
        const std::vector<std::string> links = m.Links();
        ASSERT_EQ(links.size(), 1u);
        name = links[0];
        m.Requests();
    }
    Machine m;
    std::string name;
};

TEST_F(Camio1394PayloadOnly, TheOlderDriversClassAndFormCarryEveryTransfer)
{
    EXPECT_TRUE(Has(name, "{951d5930-c789-11d3-9408-009027cb058d}")) << name;
    EXPECT_EQ(m.Peek(name, "0xFFFF 0xF0000404 4"), "1394\n");
    ASSERT_EQ(m.Status("camsim/camsim knob c1 scratch on"), 0);
    const std::vector<uint8_t> data = Pattern(20000, 0x5A5A);
    ASSERT_EQ(m.Status("camio/camio poke " + Quote(name) + " 0x2000 0xFFFFE000 " + Hex(data)), 0);
    EXPECT_EQ(m.Peek(name, "0x2000 0xFFFFE000 20000"), Hex(data) + "\n");

    // The identification each time, then reads and writes of the payload alone (prefix + data + trailer); the
    // driver refused nothing, so no request header reached it.
    const std::vector<std::string> requests = m.Requests();
    EXPECT_EQ(OfCode(requests, "0x81252004"), std::vector<std::string>(3, "in=16 out=16 result=0 returned=16"));
    EXPECT_EQ(OfCode(requests, "0x81252012"),
              (std::vector<std::string>{"in=8140 out=32 result=0 returned=32", "in=8140 out=32 result=0 returned=32",
                                        "in=3816 out=32 result=0 returned=32"}));
    EXPECT_EQ(OfCode(requests, "0x8125200C"),
              (std::vector<std::string>{"in=36 out=36 result=0 returned=36", "in=8140 out=8140 result=0 returned=8140",
                                        "in=8140 out=8140 result=0 returned=8140",
                                        "in=3816 out=3816 result=0 returned=3816"}));
    EXPECT_EQ(requests.size(), 3u + 3u + 4u);

    // A write sent again after failures carries its bytes as they were.
    const std::vector<uint8_t> again = Pattern(300, 0x7777);
    ASSERT_EQ(m.Status("camio/camio poke " + Quote(name) + " 0x2000 0xFFFFE000 " + Hex(again),
                       "QRL1394_TEST_KNOBS=fail=2"),
              0);
    EXPECT_EQ(OfCode(m.Requests(), "0x81252012").size(), 3u);
    EXPECT_EQ(m.Peek(name, "0x2000 0xFFFFE000 300"), Hex(again) + "\n");
}

TEST_F(Camio1394PayloadOnly, BusyIsRetriedWithoutLimitAndOtherFailures21TimesInAll)
{
    struct Case {
        const char* knobs;
        int status;
        size_t attempts;
        const char* printed;
    };
    const Case cases[] = {
        {"busy=25", 0, 26, "1394\n"},
        {"fail=20", 0, 21, "1394\n"},
        {"fail=21", 1, 21, ""},
        {"busy=2,fail=20", 0, 23, "1394\n"},  // busy starts the count again
        {"short=1", 0, 2, "1394\n"},
        {"short=21", 1, 21, ""},              // replies under prefix and trailer deliver nothing
    };
    for (const Case& c : cases) {
        const std::string env = std::string("QRL1394_TEST_KNOBS=") + c.knobs;
        EXPECT_EQ(m.Peek(name, "0xFFFF 0xF0000404 4", env), c.printed) << c.knobs;
        EXPECT_EQ(OfCode(m.Requests(), "0x8125200C").size(), c.attempts) << c.knobs;
        EXPECT_EQ(m.Status("camio/camio peek " + Quote(name) + " 0xFFFF 0xF0000404 4", env), c.status) << c.knobs;
        m.Requests();
    }
}
