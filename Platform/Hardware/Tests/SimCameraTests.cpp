#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "HostSide.h"
#include "LumoTestSupport.h"
#include "SimCamera.h"

namespace {

namespace fs = std::filesystem;
using namespace hosttest;
using simcam::BusResult;
using simcam::ByteOrder;
using simcam::Plug;

std::vector<uint8_t> Pattern(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(n);
    for (auto& b : out)
        b = uint8_t(rng());
    return out;
}

std::array<uint8_t, 4> Bytes4(const uint8_t* q) { return {q[0], q[1], q[2], q[3]}; }

class SimCamera : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("LUMO_MACHINE");
        m_Had = old != nullptr;
        if (old)
            m_Old = old;
        setenv("LUMO_MACHINE", (m_Dir.Path() / "machine").c_str(), 1);
    }
    void TearDown() override
    {
        if (m_Had)
            setenv("LUMO_MACHINE", m_Old.c_str(), 1);
        else
            unsetenv("LUMO_MACHINE");
    }

    void NewCamera(const std::string& id, ByteOrder order, Plug plug)
    {
        std::string error;
        ASSERT_TRUE(simcam::NewCamera(id, order, &error)) << error;
        ASSERT_TRUE(simcam::PlugCamera(id, plug, &error)) << error;
    }
    fs::path Card(const std::string& id = "c1") const { return simcam::CardFolder(id); }
    void PutFile(const std::string& relative, const std::vector<uint8_t>& bytes, const std::string& id = "c1")
    {
        fs::create_directories((Card(id) / relative).parent_path());
        lumotest::WriteBytes(Card(id) / relative, bytes);
    }
    void Knob(const std::string& key, const std::string& value, const std::string& id = "c1")
    {
        std::string error;
        ASSERT_TRUE(simcam::SetCameraKnob(id, key, value, &error)) << error;
    }
    void Flag(const std::string& path, const std::string& flag, bool on = true)
    {
        std::string error;
        ASSERT_TRUE(simcam::SetCameraFileFlag("c1", path, flag, on, &error)) << error;
    }
    std::unique_ptr<simcam::Camera1394> Node(const std::string& id = "c1") { return simcam::OpenCamera1394(id); }
    std::unique_ptr<simcam::CameraUsb> Usb(const std::string& id = "c1") { return simcam::OpenCameraUsb(id); }

    lumotest::TempDir m_Dir;

private:
    bool m_Had = false;
    std::string m_Old;
};

// ---- Through both faces and both byte orders, as the host drives them -----------------------------------------

struct Setup {
    bool is1394;
    ByteOrder order;
};

std::string SetupName(const ::testing::TestParamInfo<Setup>& info)
{
    return std::string(info.param.is1394 ? "Bus1394" : "Usb") + simcam::OrderName(info.param.order);
}

class BothFaces : public SimCamera, public ::testing::WithParamInterface<Setup> {
protected:
    void SetUp() override
    {
        SimCamera::SetUp();
        NewCamera("c1", GetParam().order, GetParam().is1394 ? Plug::Bus1394 : Plug::Usb);
        if (GetParam().is1394)
            m_Link = std::make_unique<Link1394>(Node());
        else
            m_Link = std::make_unique<LinkUsb>(Usb());
        ASSERT_TRUE(m_Link->ReadConfiguration());
        m_Box = std::make_unique<Mailbox>(*m_Link);
    }
    std::unique_ptr<Link> m_Link;
    std::unique_ptr<Mailbox> m_Box;
};

TEST_P(BothFaces, ConfigurationAreaGivesTheSwapFlagAndTheEntries)
{
    // The host swaps quadlets on 1394 for KVCK and on USB for KCVK.
    const bool kvck = GetParam().order == ByteOrder::KVCK;
    EXPECT_EQ(m_Link->swap, GetParam().is1394 ? kvck : !kvck);
    const std::vector<std::array<uint32_t, 4>> want = {{0x20000, 0, 0x1009, 0},
                                                       {0x40000, 0x10001, 0, 0},
                                                       {0x50000, 0, 0x1006, 128},
                                                       {0x60000, 0, 0, 512},
                                                       {0x70000, 0, 0, 512}};
    EXPECT_EQ(m_Link->entries, want);
    uint8_t rom[4];
    ASSERT_TRUE(m_Link->ReadBlock(0xF0000404, 0xFFFF, rom, 4));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(rom), 4), "1394");
}

TEST_P(BothFaces, LookupAnswersFilesFoldersPatternsAndNothing)
{
    PutFile("cf/images/IMG_0001.KZR", Pattern(1234, 1));
    PutFile("cf/images/img_0002.kzr", Pattern(10, 2));
    PutFile("cf/images/NOTES.TXT", Pattern(5, 3));
    fs::create_directories(Card() / "cf/images/SUB");
    Flag("/cf/images/IMG_0001.KZR", "mark");
    struct stat st{};
    ASSERT_EQ(stat((Card() / "cf/images/IMG_0001.KZR").c_str(), &st), 0);

    FileInfo info;
    ASSERT_TRUE(m_Box->Lookup("/cf/images/IMG_0001.KZR", &info));
    EXPECT_EQ(info.status, 0x02u | 0x08 | 0x10 | 0x20 | 0x40);
    EXPECT_EQ(info.size, 1234u);
    EXPECT_EQ(info.attributes, 2u);
    EXPECT_EQ(info.time, uint32_t(st.st_mtime));

    // Names match without regard to case, as on the camera's card.
    ASSERT_TRUE(m_Box->Lookup("/CF/Images/img_0001.kzr", &info));
    EXPECT_EQ(info.size, 1234u);

    ASSERT_TRUE(m_Box->Lookup("/cf/images", &info));
    EXPECT_EQ(info.status, 0x02u);
    EXPECT_FALSE(m_Box->Lookup("/cf/images/IMG_9999.KZR", &info));

    // A pattern answers with a listing, read like a file.
    ASSERT_TRUE(m_Box->Lookup("/cf/images/*.kz?", &info));
    EXPECT_EQ(info.status, 0x02u | 0x08);
    std::vector<uint8_t> text(info.size);
    uint32_t got = 0;
    ASSERT_TRUE(m_Box->ReadFile("/cf/images/*.kz?", 0, text.data(), info.size, &got));
    const std::string listing(text.begin(), text.end());
    struct stat st2{};
    ASSERT_EQ(stat((Card() / "cf/images/img_0002.kzr").c_str(), &st2), 0);
    EXPECT_EQ(listing, "/cf/images/IMG_0001.KZR\t1234\t" + std::to_string(st.st_mtime) + "\tM\n" +
                           "/cf/images/img_0002.kzr\t10\t" + std::to_string(st2.st_mtime) + "\t\n");
    ASSERT_TRUE(m_Box->Lookup("/cf/images/S*", &info));
    std::vector<uint8_t> sub(info.size);
    ASSERT_TRUE(m_Box->ReadFile("/cf/images/S*", 0, sub.data(), info.size, &got));
    EXPECT_NE(std::string(sub.begin(), sub.end()).find("/cf/images/SUB\t0\t"), std::string::npos);
    EXPECT_EQ(std::string(sub.end() - 2, sub.end()), "D\n");
}

TEST_P(BothFaces, ReadsSeventyThousandBytesWithTheirCheckWord)
{
    const std::vector<uint8_t> bytes = Pattern(70000, 7);
    PutFile("cf/images/IMG_0001.KZR", bytes);
    std::vector<uint8_t> out(70000);
    uint32_t got = 0;
    ASSERT_TRUE(m_Box->ReadFile("/cf/images/IMG_0001.KZR", 0, out.data(), 70000, &got));
    EXPECT_EQ(got, 70000u);
    EXPECT_EQ(out, bytes);
    uint32_t check = 0;
    ASSERT_TRUE(m_Box->ReadQuadlet(0x010000F0, 0x1009, &check));
    EXPECT_EQ(check, simcam::Crc16(bytes.data(), bytes.size()));

    // An odd piece in the middle, and one cut at the end of the file.
    std::vector<uint8_t> piece(10);
    ASSERT_TRUE(m_Box->ReadFile("/cf/images/IMG_0001.KZR", 333, piece.data(), 10, &got));
    EXPECT_EQ(piece, std::vector<uint8_t>(bytes.begin() + 333, bytes.begin() + 343));
    ASSERT_TRUE(m_Box->ReadFile("/cf/images/IMG_0001.KZR", 69995, piece.data(), 10, &got));
    EXPECT_EQ(got, 5u);
    EXPECT_TRUE(std::equal(piece.begin(), piece.begin() + 5, bytes.end() - 5));
    EXPECT_FALSE(m_Box->ReadFile("/cf/images/IMG_0001.KZR", 70000, piece.data(), 10, &got));
}

TEST_P(BothFaces, WritesRoundTripAndGrowOnlyWhereAllowed)
{
    std::vector<uint8_t> bytes = Pattern(3000, 9);
    PutFile("cf/images/IMG_0001.KZR", bytes);
    const std::vector<uint8_t> patch = Pattern(1001, 10);
    ASSERT_TRUE(m_Box->WriteFile("/cf/images/IMG_0001.KZR", 500, patch.data(), uint32_t(patch.size())));
    std::copy(patch.begin(), patch.end(), bytes.begin() + 500);
    EXPECT_EQ(lumotest::ReadBytes(Card() / "cf/images/IMG_0001.KZR"), bytes);
    std::vector<uint8_t> back(bytes.size());
    uint32_t got = 0;
    ASSERT_TRUE(m_Box->ReadFile("/cf/images/IMG_0001.KZR", 0, back.data(), uint32_t(back.size()), &got));
    EXPECT_EQ(back, bytes);

    // Past the end: the file grows, unless it may not.
    const std::vector<uint8_t> tail = Pattern(6, 11);
    ASSERT_TRUE(m_Box->WriteFile("/cf/images/IMG_0001.KZR", 2998, tail.data(), 6));
    bytes.resize(3004);
    std::copy(tail.begin(), tail.end(), bytes.begin() + 2998);
    EXPECT_EQ(lumotest::ReadBytes(Card() / "cf/images/IMG_0001.KZR"), bytes);
    Flag("/cf/images/IMG_0001.KZR", "nogrow");
    FileInfo info;
    ASSERT_TRUE(m_Box->Lookup("/cf/images/IMG_0001.KZR", &info));
    EXPECT_EQ(info.status & 0x40, 0u);
    EXPECT_FALSE(m_Box->WriteFile("/cf/images/IMG_0001.KZR", 3000, tail.data(), 6));
    EXPECT_TRUE(m_Box->WriteFile("/cf/images/IMG_0001.KZR", 0, tail.data(), 6));
}

TEST_P(BothFaces, AWriteWithABadCheckWordLeavesTheFile)
{
    const std::vector<uint8_t> bytes = Pattern(100, 12);
    PutFile("cf/images/IMG_0001.KZR", bytes);
    FileInfo info;
    ASSERT_TRUE(m_Box->Lookup("/cf/images/IMG_0001.KZR", &info));
    const std::vector<uint8_t> data = Pattern(40, 13);
    ASSERT_TRUE(m_Box->WriteData(data.data(), data.size()));
    const uint32_t bad = uint32_t(simcam::Crc16(data.data(), data.size()) ^ 1);
    EXPECT_FALSE(m_Box->Command(0xF11EFEED, 0, 40, &bad));
    uint32_t status = 9;
    ASSERT_TRUE(m_Box->ReadQuadlet(0x01000100, 0x1009, &status));
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(lumotest::ReadBytes(Card() / "cf/images/IMG_0001.KZR"), bytes);
    // Only the low 16 bits of the check word count.
    const uint32_t good = simcam::Crc16(data.data(), data.size()) | 0xABCD0000u;
    EXPECT_TRUE(m_Box->Command(0xF11EFEED, 0, 40, &good));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), lumotest::ReadBytes(Card() / "cf/images/IMG_0001.KZR").begin()));
    // An unknown command word is refused.
    EXPECT_FALSE(m_Box->Command(0x12345678, 0, 0, nullptr));
}

TEST_P(BothFaces, LockMarkAndDelete)
{
    PutFile("cf/images/IMG_0001.KZR", Pattern(64, 14));
    PutFile("cf/images/IMG_0002.KZR", Pattern(64, 15));
    FileInfo info;
    ASSERT_TRUE(m_Box->Lookup("/cf/images/IMG_0001.KZR", &info));
    // The host sets attributes by writing the attribute word after a lookup.
    ASSERT_TRUE(m_Box->WriteQuadlet(0x108, 0x1009, 3));
    ASSERT_TRUE(m_Box->Lookup("/cf/images/IMG_0001.KZR", &info));
    EXPECT_EQ(info.status, 0x0Au);
    EXPECT_EQ(info.attributes, 3u);
    uint8_t b[4] = {1, 2, 3, 4};
    EXPECT_FALSE(m_Box->WriteFile("/cf/images/IMG_0001.KZR", 0, b, 4));
    EXPECT_FALSE(m_Box->DeleteFile("/cf/images/IMG_0001.KZR"));
    // A locked file refuses the commands even when the host does not look at the status.
    const uint32_t zero = 0;
    EXPECT_FALSE(m_Box->Command(0xF11EDE1E, 0, 64, &zero));
    EXPECT_TRUE(fs::exists(Card() / "cf/images/IMG_0001.KZR"));

    EXPECT_TRUE(m_Box->DeleteFile("/cf/images/IMG_0002.KZR"));
    EXPECT_FALSE(fs::exists(Card() / "cf/images/IMG_0002.KZR"));
    EXPECT_FALSE(m_Box->Lookup("/cf/images/IMG_0002.KZR", &info));
}

TEST_P(BothFaces, WholeFileModeMovesTheWholeFile)
{
    std::vector<uint8_t> bytes = Pattern(5000, 16);
    PutFile("cf/images/IMG_0001.KZR", bytes);
    Flag("/cf/images/IMG_0001.KZR", "whole");
    FileInfo info;
    ASSERT_TRUE(m_Box->Lookup("/cf/images/IMG_0001.KZR", &info));
    EXPECT_EQ(info.status, 0xFAu);
    std::vector<uint8_t> out(5000);
    uint32_t got = 0;
    ASSERT_TRUE(m_Box->ReadFile("/cf/images/IMG_0001.KZR", 0, out.data(), 5000, &got));
    EXPECT_EQ(out, bytes);
    uint32_t check = 0;
    ASSERT_TRUE(m_Box->ReadQuadlet(0x010000F0, 0x1009, &check));
    EXPECT_EQ(check, simcam::Crc16(bytes.data(), bytes.size()));
    // A piece: the camera still moves (and checks) the whole file; the host picks its part from the window.
    out.resize(100);
    Knob("level", "off");
    ASSERT_TRUE(m_Link->ReadConfiguration());
    ASSERT_TRUE(m_Box->ReadFile("/cf/images/IMG_0001.KZR", 1000, out.data(), 100, &got));
    EXPECT_TRUE(std::equal(out.begin(), out.end(), bytes.begin() + 1000));
    const std::vector<uint8_t> patch = Pattern(300, 17);
    ASSERT_TRUE(m_Box->WriteFile("/cf/images/IMG_0001.KZR", 4900, patch.data(), 300));
    bytes.resize(5200);
    std::copy(patch.begin(), patch.end(), bytes.begin() + 4900);
    EXPECT_EQ(lumotest::ReadBytes(Card() / "cf/images/IMG_0001.KZR"), bytes);
}

TEST_P(BothFaces, ConsoleEchoesItsText)
{
    ASSERT_TRUE(m_Box->WriteQuadlet(0, 0x1007, 1));
    uint32_t lock = 0;
    ASSERT_TRUE(m_Box->ReadQuadlet(0, 0x1007, &lock));
    EXPECT_EQ(lock, 1u);
    std::string text;
    ASSERT_TRUE(m_Box->ReadConsole(&text));
    EXPECT_EQ(text, "");
    ASSERT_TRUE(m_Box->WriteConsole("ab"));  // a block of 4 bytes
    ASSERT_TRUE(m_Box->WriteConsole("hello, camera"));
    ASSERT_TRUE(m_Box->ReadConsole(&text));
    EXPECT_EQ(text, "abhello, camera");
    ASSERT_TRUE(m_Box->ReadConsole(&text));
    EXPECT_EQ(text, "");
    // Long text comes back in blocks of at most 127 bytes.
    const std::string longText(300, 'x');
    ASSERT_TRUE(m_Box->WriteConsole(longText));
    std::string all;
    for (int i = 0; i < 5 && m_Box->ReadConsole(&text) && !text.empty(); ++i)
        all += text;
    EXPECT_EQ(all, longText);
}

TEST_P(BothFaces, DeviceFiles)
{
    FileInfo info;
    ASSERT_TRUE(m_Box->Lookup("/dev/Battery", &info));
    EXPECT_EQ(info.status, 0x0Au);
    uint8_t battery[4];
    uint32_t got = 0;
    ASSERT_TRUE(m_Box->ReadFile("/dev/Battery", 0, battery, 4, &got));
    EXPECT_EQ(Le32(battery), 8u);

    uint8_t card[8];
    ASSERT_TRUE(m_Box->ReadFile("/dev/CF", 0, card, 8, &got));
    EXPECT_GT(Le32(card), 0u);
    EXPECT_LE(Le32(card + 4), Le32(card));

    const uint32_t when = 1000000000;
    const uint8_t set[4] = {uint8_t(when), uint8_t(when >> 8), uint8_t(when >> 16), uint8_t(when >> 24)};
    ASSERT_TRUE(m_Box->WriteFile("/dev/Time", 0, set, 4));
    uint8_t now[4];
    ASSERT_TRUE(m_Box->ReadFile("/dev/Time", 0, now, 4, &got));
    EXPECT_GE(Le32(now), when);
    EXPECT_LT(Le32(now), when + 60);
}

TEST_P(BothFaces, TheBusyAndFaultKnobsAreMet)
{
    PutFile("cf/images/IMG_0001.KZR", Pattern(64, 18));
    std::vector<uint8_t> out(64);
    uint32_t got = 0;
    // A slow lookup is waited for; a name write hides the previous answer until the new one is ready.
    Knob("lookup-busy", "3");
    FileInfo info;
    ASSERT_TRUE(m_Box->Lookup("/cf/images/IMG_0001.KZR", &info));
    EXPECT_EQ(info.size, 64u);
    Knob("lookup-busy", "0");
    // One bad check word fails one read; the next read is good.
    Knob("bad-crc", "1");
    EXPECT_FALSE(m_Box->ReadFile("/cf/images/IMG_0001.KZR", 0, out.data(), 64, &got));
    EXPECT_TRUE(m_Box->ReadFile("/cf/images/IMG_0001.KZR", 0, out.data(), 64, &got));
    Knob("command-fails", "1");
    EXPECT_FALSE(m_Box->ReadFile("/cf/images/IMG_0001.KZR", 0, out.data(), 64, &got));
    EXPECT_TRUE(m_Box->ReadFile("/cf/images/IMG_0001.KZR", 0, out.data(), 64, &got));
    // Without the level entry the host takes no check word.
    Knob("level", "off");
    ASSERT_TRUE(m_Link->ReadConfiguration());
    EXPECT_FALSE(m_Link->HasEntry(0x40000));
    Knob("bad-crc", "1");
    EXPECT_TRUE(m_Box->ReadFile("/cf/images/IMG_0001.KZR", 0, out.data(), 64, &got));
    Knob("entries", "2");
    ASSERT_TRUE(m_Link->ReadConfiguration());
    EXPECT_EQ(m_Link->entries.size(), 2u);
    Knob("entries", "9");  // entries past the table cannot be read
    ASSERT_TRUE(m_Link->ReadConfiguration());
    EXPECT_EQ(m_Link->entries.size(), 4u);
    Knob("entries", "all");
    ASSERT_TRUE(m_Link->ReadConfiguration());
    EXPECT_EQ(m_Link->entries.size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(SimCamera, BothFaces,
                         ::testing::Values(Setup{true, ByteOrder::KVCK}, Setup{true, ByteOrder::KCVK},
                                           Setup{false, ByteOrder::KVCK}, Setup{false, ByteOrder::KCVK}),
                         SetupName);

// ---- Byte views ------------------------------------------------------------------------------------------------

TEST_F(SimCamera, AQuadletRegisterReadsInTheCamerasOrderOn1394AndIn1394BytesOnUsb)
{
    struct Case {
        ByteOrder order;
        std::array<uint8_t, 4> bus, magic;
    };
    const Case cases[] = {
        {ByteOrder::KVCK, {0x12, 0x34, 0x56, 0x78}, {'K', 'V', 'C', 'K'}},
        {ByteOrder::KCVK, {0x78, 0x56, 0x34, 0x12}, {'K', 'C', 'V', 'K'}},
    };
    for (const Case& c : cases) {
        const std::string id = simcam::OrderName(c.order);
        SCOPED_TRACE(id);
        NewCamera(id, c.order, Plug::Bus1394);
        // A (sparse) file of 0x12345678 bytes puts that value in the size register.
        fs::create_directories(Card(id) / "cf");
        {
            int fd = open((Card(id) / "cf/BIG").c_str(), O_WRONLY | O_CREAT, 0644);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(ftruncate(fd, 0x12345678), 0);
            close(fd);
        }
        auto node = Node(id);
        uint8_t name[8] = {'/', 'c', 'f', '/', 'B', 'I', 'G', 0};
        std::reverse(name, name + 4);
        std::reverse(name + 4, name + 8);
        ASSERT_EQ(node->WriteBlock(Addr(0x1009, 4), name, 8), BusResult::Complete);
        uint8_t q[4];
        ASSERT_EQ(node->ReadBlock(Addr(0x1009, 0x100), q, 4), BusResult::Complete);
        ASSERT_EQ(node->ReadBlock(Addr(0x1009, 0x104), q, 4), BusResult::Complete);
        EXPECT_EQ(Bytes4(q), c.bus);
        ASSERT_EQ(node->ReadBlock(Addr(0xFFFF, 0xF0010000), q, 4), BusResult::Complete);
        EXPECT_EQ(Bytes4(q), c.magic);

        ASSERT_TRUE(simcam::PlugCamera(id, Plug::Usb, nullptr));
        LinkUsb usb(Usb(id));
        // A bulk IN of the register carries the 1394 bytes; request 8 answers little-endian, the magic as is.
        uint32_t done = 0;
        ASSERT_TRUE(usb.Address(0, 0x104, 0x1009) && usb.Length(4, 4));
        ASSERT_EQ(usb.Device().BulkTransfer(1, q, 4, &done), simcam::kUsbOk);
        EXPECT_EQ(done, 4u);
        EXPECT_EQ(Bytes4(q), c.bus);
        ASSERT_TRUE(usb.ReadInteger(0x104, 0x1009, q));
        EXPECT_EQ(Le32(q), 0x12345678u);
        ASSERT_TRUE(usb.ReadInteger(0xF0010000, 0xFFFF, q));
        EXPECT_EQ(Bytes4(q), c.magic);
    }
}

TEST_F(SimCamera, TheNameAreaAndWindowAreQuadletReversedOn1394AndNaturalOnUsb)
{
    NewCamera("c1", ByteOrder::KVCK, Plug::Bus1394);
    PutFile("cf/A.TXT", {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'});
    auto node = Node();
    uint8_t name[12] = {'/', 'f', 'c', '/', 'X', 'T', '.', 'A', 0, 0, 0, 'T'};  // "/cf/A.TXT" reversed
    ASSERT_EQ(node->WriteBlock(Addr(0x1009, 4), name, 12), BusResult::Complete);
    uint8_t q[8];
    ASSERT_EQ(node->ReadBlock(Addr(0x1009, 0x100), q, 4), BusResult::Complete);
    EXPECT_EQ(q[3], 0x7A);
    // Read command: F4 = 0, F8 = 8.
    const uint8_t zero[4] = {0, 0, 0, 0}, eight[4] = {0, 0, 0, 8}, read[4] = {0xF1, 0x1E, 0x0E, 0xAD};
    ASSERT_EQ(node->WriteBlock(Addr(0x1009, 0x010000F4), zero, 4), BusResult::Complete);
    ASSERT_EQ(node->WriteBlock(Addr(0x1009, 0x010000F8), eight, 4), BusResult::Complete);
    ASSERT_EQ(node->WriteBlock(Addr(0x1009, 0x010000FC), read, 4), BusResult::Complete);
    ASSERT_EQ(node->ReadBlock(Addr(0x1009, 0x10000000), q, 8), BusResult::Complete);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(q), 8), "dcbahgfe");

    ASSERT_TRUE(simcam::PlugCamera("c1", Plug::Usb, nullptr));
    LinkUsb usb(Usb());
    ASSERT_TRUE(usb.ReadBlock(0x10000000, 0x1009, q, 8));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(q), 8), "abcdefgh");
    // A 4-byte piece travels reversed; the host link turns it back.
    ASSERT_TRUE(usb.ReadBlock(0x10000004, 0x1009, q, 4));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(q), 4), "efgh");
}

TEST_F(SimCamera, ANameWriteHidesThePreviousAnswerUntilTheNewOneIsReady)
{
    NewCamera("c1", ByteOrder::KCVK, Plug::Bus1394);
    PutFile("A", Pattern(3, 30));
    auto node = Node();
    auto lookup = [&](const char* name, std::vector<uint32_t>* statuses, int reads) {
        uint8_t b[8] = {};
        std::memcpy(b, name, std::strlen(name));
        std::reverse(b, b + 4);
        std::reverse(b + 4, b + 8);
        ASSERT_EQ(node->WriteBlock(Addr(0x1009, 4), b, 8), BusResult::Complete);
        for (int i = 0; i < reads; ++i) {
            uint8_t q[4];
            ASSERT_EQ(node->ReadBlock(Addr(0x1009, 0x100), q, 4), BusResult::Complete);
            statuses->push_back(Le32(q));
        }
    };
    std::vector<uint32_t> seen;
    lookup("/A", &seen, 2);
    EXPECT_EQ(seen, std::vector<uint32_t>({0x7A, 0x7A}));
    Knob("lookup-busy", "2");
    seen.clear();
    lookup("/B", &seen, 4);
    EXPECT_EQ(seen, std::vector<uint32_t>({0x01, 0x01, 0x00, 0x00}));
}

TEST_F(SimCamera, FacesRefuseMisalignedUnmappedAndUnpluggedAccesses)
{
    NewCamera("c1", ByteOrder::KVCK, Plug::Bus1394);
    auto node = Node();
    uint8_t q[8] = {};
    EXPECT_EQ(node->ReadBlock(Addr(0x1009, 2), q, 4), BusResult::TypeError);
    EXPECT_EQ(node->ReadBlock(Addr(0x1009, 0), q, 6), BusResult::TypeError);
    EXPECT_EQ(node->ReadBlock(Addr(0x2000, 0), q, 4), BusResult::AddressError);
    EXPECT_EQ(node->WriteBlock(Addr(0x1009, 0x200), q, 4), BusResult::AddressError);
    // Scratch memory takes what the map does not.
    Knob("scratch", "on");
    const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(node->WriteBlock(Addr(0x2000, 0x1230), data, 8), BusResult::Complete);
    ASSERT_EQ(node->ReadBlock(Addr(0x2000, 0x1230), q, 8), BusResult::Complete);
    EXPECT_EQ(std::vector<uint8_t>(q, q + 8), std::vector<uint8_t>(data, data + 8));

    auto usb = Usb();
    uint32_t done = 0;
    EXPECT_EQ(usb->BulkTransfer(1, q, 4, &done), simcam::kUsbNotResponding);
    ASSERT_TRUE(simcam::PlugCamera("c1", Plug::Usb, nullptr));
    EXPECT_EQ(node->ReadBlock(Addr(0x1009, 0), q, 4), BusResult::NoDevice);
    EXPECT_EQ(usb->BulkTransfer(7, q, 4, &done), simcam::kUsbInvalidParameter);
    EXPECT_EQ(usb->ControlTransfer(0x40, 99, 0, 0, true, nullptr, 0, &done), simcam::kUsbStall);
    EXPECT_EQ(simcam::OpenCamera1394("nobody"), nullptr);
    EXPECT_EQ(simcam::OpenCameraUsb("../c1"), nullptr);
}

// ---- USB knobs --------------------------------------------------------------------------------------------------

TEST_F(SimCamera, UsbStallsPreamblesAndShortRepliesAreAnsweredAsTheHostExpects)
{
    NewCamera("c1", ByteOrder::KVCK, Plug::Usb);
    PutFile("cf/A.TXT", Pattern(64, 20));
    LinkUsb usb(Usb());
    ASSERT_TRUE(usb.ReadConfiguration());
    Mailbox box(usb);
    std::vector<uint8_t> out(64);
    uint32_t got = 0;

    Knob("stall", "2");
    ASSERT_TRUE(box.ReadFile("/cf/A.TXT", 0, out.data(), 64, &got));
    EXPECT_EQ(usb.stallsCleared, 2);
    // A stalled pipe stays stalled until cleared.
    Knob("stall", "1");
    uint32_t done = 0;
    EXPECT_EQ(usb.Device().BulkTransfer(1, out.data(), 4, &done), simcam::kUsbStall);
    EXPECT_EQ(usb.Device().BulkTransfer(1, out.data(), 4, &done), simcam::kUsbStall);
    EXPECT_EQ(usb.Device().ClearStall(1), simcam::kUsbOk);

    Knob("preamble", "on");
    ASSERT_TRUE(box.ReadFile("/cf/A.TXT", 0, out.data(), 64, &got));
    EXPECT_EQ(out, Pattern(64, 20));
    EXPECT_GT(usb.preambles, 0);
    Knob("preamble", "off");

    Knob("reply6", "1");
    uint8_t q[16];
    ASSERT_TRUE(usb.Address(0, 0x10000000, 0x1009) && usb.Length(4, 16));
    ASSERT_EQ(usb.Device().BulkTransfer(1, q, 16, &done), simcam::kUsbOk);
    EXPECT_EQ(done, 6u);

    Knob("not-responding", "1");
    EXPECT_FALSE(usb.ReadInteger(0xF0010000, 0xFFFF, q));
    EXPECT_EQ(usb.lastError, simcam::kUsbNotResponding);
    EXPECT_TRUE(usb.ReadInteger(0xF0010000, 0xFFFF, q));

    // A pause before each transaction.
    Knob("usb-delay", "60");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(usb.ReadInteger(0xF0010000, 0xFFFF, q));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));
    Knob("usb-delay", "0");

    // A bulk IN moves at most the latched length.
    ASSERT_TRUE(usb.Address(0, 0x10000000, 0x1009) && usb.Length(4, 8));
    ASSERT_EQ(usb.Device().BulkTransfer(1, q, 16, &done), simcam::kUsbOk);
    EXPECT_EQ(done, 8u);
}

// ---- The transfer engine --------------------------------------------------------------------------------------

struct SimCameraEngine : SimCamera {
    void Start(simcam::Camera1394& node, uint64_t from, uint32_t size, uint32_t packet)
    {
        auto put = [&](uint32_t low, uint32_t v) {
            uint8_t q[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
            ASSERT_EQ(node.WriteBlock(Addr(0x1006, low), q, 4), BusResult::Complete);
        };
        put(228, uint32_t(from >> 32));
        put(232, uint32_t(from));
        put(240, 0xFFFF);
        put(244, 0xF0000000);
        put(236, size);
        put(248, packet);
        put(252, 0xDEFE1111);
    }
    uint32_t Status(simcam::Camera1394& node)
    {
        uint8_t q[4] = {};
        EXPECT_EQ(node.ReadBlock(Addr(0x1006, 256), q, 4), BusResult::Complete);
        return uint32_t(q[0]) << 24 | q[1] << 16 | q[2] << 8 | q[3];
    }
};

TEST_F(SimCameraEngine, AStartedEngineDeliversTheWindowInPacketsInOrder)
{
    NewCamera("c1", ByteOrder::KVCK, Plug::Bus1394);
    const std::vector<uint8_t> bytes = Pattern(20000, 21);
    PutFile("cf/A.KZR", bytes);
    auto link = std::make_unique<Link1394>(Node());
    ASSERT_TRUE(link->ReadConfiguration());
    Mailbox box(*link);
    FileInfo info;
    ASSERT_TRUE(box.Lookup("/cf/A.KZR", &info));
    ASSERT_TRUE(box.Command(0xF11E0EAD, 0, 20000, nullptr));

    auto node = Node();
    std::vector<std::pair<uint64_t, size_t>> pieces;
    std::vector<uint8_t> received;
    node->SetHostWriter([&](uint64_t host, const uint8_t* data, size_t length) {
        pieces.emplace_back(host, length);
        received.insert(received.end(), data, data + length);
    });
    Start(*node, Addr(0x1009, 0x10000000), 20000, 128);
    EXPECT_EQ(Status(*node), 0u);
    ASSERT_EQ(pieces.size(), 157u);
    for (size_t i = 0; i < pieces.size(); ++i) {
        EXPECT_EQ(pieces[i].first, Addr(0xFFFF, 0xF0000000) + 128 * i);
        EXPECT_EQ(pieces[i].second, i + 1 < pieces.size() ? 128u : 20000u - 156 * 128);
    }
    // The bus view of the window: quadlet-reversed, which the host turns back.
    box.SwapWords(received.data(), received.size());
    EXPECT_EQ(received, bytes);
}

TEST_F(SimCameraEngine, EngineStatusTellsBadAddressesBusyAndSilence)
{
    NewCamera("c1", ByteOrder::KCVK, Plug::Bus1394);
    auto node = Node();
    int calls = 0;
    node->SetHostWriter([&](uint64_t, const uint8_t*, size_t) { ++calls; });
    auto put = [&](uint32_t low, uint32_t v) {
        uint8_t q[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        ASSERT_EQ(node->WriteBlock(Addr(0x1006, low), q, 4), BusResult::Complete);
    };
    auto status = [&] {
        uint8_t q[4] = {};
        EXPECT_EQ(node->ReadBlock(Addr(0x1006, 256), q, 4), BusResult::Complete);
        return Le32(q);
    };
    put(228, 0x2000);
    put(232, 0);
    EXPECT_EQ(status(), 4u);
    put(252, 0xDEFE0000);
    EXPECT_EQ(status(), 0u);
    put(228, 0x1009);
    put(232, 0x10000000);
    EXPECT_EQ(status(), 0u);
    put(236, 256);
    put(248, 128);
    Knob("engine-busy", "2");
    put(252, 0xDEFE1111);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(status(), 1u);
    EXPECT_EQ(status(), 1u);
    EXPECT_EQ(status(), 0u);
    Knob("engine-busy", "0");
    Knob("engine-silent", "on");
    put(252, 0xDEFE1111);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(status(), 1u);
    put(252, 0xDEFE0000);
    EXPECT_EQ(status(), 0u);
}

// ---- The card stays the card ---------------------------------------------------------------------------------

TEST_F(SimCamera, CameraPathsNeverLeaveTheCard)
{
    NewCamera("c1", ByteOrder::KCVK, Plug::Bus1394);
    lumotest::WriteText(m_Dir.Path() / "secret.txt", "outside");
    fs::create_directory_symlink(m_Dir.Path(), Card() / "out");
    fs::create_symlink(m_Dir.Path() / "secret.txt", Card() / "cf/images/LINK.KZR");
    PutFile("cf/images/IMG_0001.KZR", Pattern(8, 22));
    Link1394 link(Node());
    ASSERT_TRUE(link.ReadConfiguration());
    Mailbox box(link);
    FileInfo info;
    for (const char* name : {"/../../secret.txt", "/cf/../../secret.txt", "/out/secret.txt", "/out",
                             "/cf/images/LINK.KZR", "/cf/images/../../../secret.txt", ""})
        EXPECT_FALSE(box.Lookup(name, &info)) << name;
    ASSERT_TRUE(box.Lookup("/*", &info));
    std::vector<uint8_t> text(info.size);
    uint32_t got = 0;
    ASSERT_TRUE(box.ReadFile("/*", 0, text.data(), info.size, &got));
    EXPECT_EQ(std::string(text.begin(), text.end()).find("out"), std::string::npos);
    EXPECT_EQ(lumotest::ReadText(m_Dir.Path() / "secret.txt"), "outside");
}

TEST_F(SimCamera, ResetIsPowerOnAndADamagedStateReadsAsFarAsItMakesSense)
{
    NewCamera("c1", ByteOrder::KCVK, Plug::Usb);
    PutFile("cf/images/IMG_0001.KZR", Pattern(40, 23));
    LinkUsb usb(Usb());
    ASSERT_TRUE(usb.ReadConfiguration());
    Mailbox box(usb);
    ASSERT_TRUE(box.WriteQuadlet(0, 0x1007, 1));
    ASSERT_TRUE(box.WriteConsole("left over"));
    ASSERT_TRUE(simcam::ResetCamera("c1", nullptr));
    uint32_t v = 7;
    ASSERT_TRUE(box.ReadQuadlet(0, 0x1007, &v));
    EXPECT_EQ(v, 0u);
    std::string text = "x";
    ASSERT_TRUE(box.ReadConsole(&text));
    EXPECT_EQ(text, "");
    EXPECT_EQ(lumotest::ReadBytes(Card() / "cf/images/IMG_0001.KZR"), Pattern(40, 23));

    // Garbage, and lines that almost make sense.
    const fs::path state = fs::path(simcam::CameraFolder("c1")) / "state";
    lumotest::WriteText(state, "order KCVK\nplug usb\nreg zz 1\nreg 100900000001 5\nname 12\nfound 2e2e2f2e2e2f78\n"
                               "lookup 0 0 1\nusb 1 2\nmem 3 00\n\x01\x02\xff garbage\nknob stall -1\n");
    uint32_t status = 0;
    ASSERT_TRUE(box.ReadQuadlet(0x100, 0x1009, &status));
    EXPECT_EQ(status, 0u);
    // The damaged found path ("../../x") is not followed by a command.
    const uint32_t zero = 0;
    EXPECT_FALSE(box.Command(0xF11EDE1E, 0, 0, &zero));
    FileInfo info;
    ASSERT_TRUE(box.Lookup("/cf/images/IMG_0001.KZR", &info));
    EXPECT_EQ(info.size, 40u);
}

TEST_F(SimCamera, ScratchMemoryKeepsBlocksWrittenInAnyOrderUntilReset)
{
    NewCamera("c1", ByteOrder::KVCK, Plug::Bus1394);
    Knob("scratch", "on");
    auto node = Node();
    // Falling, rising and interleaved addresses, a write across two blocks and one that overwrites part of another.
    const uint32_t lows[] = {0x5000, 0x1000, 0x3000, 0x2008, 0x2FFC, 0x1004, 0x4000, 0x3004};
    std::map<uint32_t, uint8_t> expected;
    for (size_t i = 0; i < std::size(lows); ++i) {
        const uint8_t q[8] = {uint8_t(i + 1), uint8_t(i + 2), uint8_t(i + 3), uint8_t(i + 4),
                              uint8_t(i + 5), uint8_t(i + 6), uint8_t(i + 7), uint8_t(i + 8)};
        ASSERT_EQ(node->WriteBlock(Addr(0x2000, lows[i]), q, 8), BusResult::Complete) << i;
        for (uint32_t k = 0; k < 8; ++k)
            expected[lows[i] + k] = q[k];
    }
    std::vector<uint8_t> all(0x5010 - 0xFF0);
    ASSERT_EQ(node->ReadBlock(Addr(0x2000, 0xFF0), all.data(), all.size()), BusResult::Complete);
    for (size_t i = 0; i < all.size(); ++i) {
        const auto it = expected.find(uint32_t(0xFF0 + i));
        ASSERT_EQ(all[i], it == expected.end() ? 0 : it->second) << std::hex << 0xFF0 + i;
    }
    // A reset clears scratch memory that no access since has read.
    ASSERT_TRUE(simcam::ResetCamera("c1", nullptr));
    std::fill(all.begin(), all.end(), 0xEE);
    ASSERT_EQ(node->ReadBlock(Addr(0x2000, 0xFF0), all.data(), all.size()), BusResult::Complete);
    EXPECT_EQ(all, std::vector<uint8_t>(all.size(), 0));
}

// ---- Two processes, one camera ----------------------------------------------------------------------------------

TEST_F(SimCamera, OneProcessPostsANameAndAnotherReadsTheLookup)
{
    NewCamera("c1", ByteOrder::KVCK, Plug::Bus1394);
    PutFile("cf/images/IMG_0001.KZR", Pattern(4321, 24));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto node = simcam::OpenCamera1394("c1");
        std::string name = "/cf/images/IMG_0001.KZR";
        std::vector<uint8_t> buf((name.size() + 4) & ~size_t(3), 0);
        std::memcpy(buf.data(), name.data(), name.size());
        for (size_t i = 0; i < buf.size(); i += 4)
            std::reverse(buf.begin() + ptrdiff_t(i), buf.begin() + ptrdiff_t(i + 4));
        _exit(node && node->WriteBlock(Addr(0x1009, 4), buf.data(), buf.size()) == BusResult::Complete ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    auto node = Node();
    uint8_t q[4];
    ASSERT_EQ(node->ReadBlock(Addr(0x1009, 0x100), q, 4), BusResult::Complete);
    EXPECT_EQ(q[3], 0x7A);
    ASSERT_EQ(node->ReadBlock(Addr(0x1009, 0x104), q, 4), BusResult::Complete);
    EXPECT_EQ(uint32_t(q[2]) << 8 | q[3], 4321u);
    std::string log;
    ASSERT_TRUE(simcam::ReadCameraLog("c1", &log, nullptr));
    EXPECT_NE(log.find("1394\t" + std::to_string(child) + "\twrite\t1009:00000004\t24\tok\n"), std::string::npos);
}

TEST_F(SimCamera, ThreadsShareTheCameraUnderItsLock)
{
    NewCamera("c1", ByteOrder::KVCK, Plug::Bus1394);
    Knob("scratch", "on");
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            auto node = simcam::OpenCamera1394("c1");
            for (uint32_t i = 0; i < 20; ++i) {
                uint8_t q[4] = {uint8_t(t), uint8_t(i), 0, 0};
                node->WriteBlock(Addr(0x3000, t * 256 + i * 4), q, 4);
            }
        });
    for (auto& t : threads)
        t.join();
    auto node = Node();
    for (uint32_t t = 0; t < 4; ++t)
        for (uint32_t i = 0; i < 20; ++i) {
            uint8_t q[4] = {};
            ASSERT_EQ(node->ReadBlock(Addr(0x3000, t * 256 + i * 4), q, 4), BusResult::Complete);
            EXPECT_EQ(q[0], t);
            EXPECT_EQ(q[1], i);
        }
}

// ---- Tool and checks ------------------------------------------------------------------------------------------

TEST_F(SimCamera, CamsimShootsPlugsAndLists)
{
    const std::string camsim = std::string(LUMO_BINARY_DIR) + "/Tools/camsim/camsim";
    const std::string env = "LUMO_MACHINE='" + std::string(std::getenv("LUMO_MACHINE")) + "' ";
    lumotest::WriteBytes(m_Dir.Path() / "a.kzr", Pattern(5000, 25));
    const std::string source = (m_Dir.Path() / "a.kzr").string();
    ASSERT_EQ(lumotest::RunCommand(env + camsim + " new c1"), 0);
    EXPECT_NE(lumotest::RunCommand(env + camsim + " new c1 2>/dev/null"), 0);
    EXPECT_EQ(lumotest::CommandOutput(env + camsim + " shoot c1 '" + source + "'"), "/cf/images/IMG_0001.KZR\n");
    std::string card = lumotest::CommandOutput(env + camsim + " card c1");
    ASSERT_FALSE(card.empty());
    card.pop_back();
    EXPECT_EQ(card, Card().string());
    EXPECT_EQ(lumotest::ReadBytes(fs::path(card) / "cf/images/IMG_0001.KZR"), Pattern(5000, 25));
    EXPECT_EQ(lumotest::CommandOutput(env + camsim + " shoot c1 '" + source + "'"), "/cf/images/IMG_0002.KZR\n");
    ASSERT_EQ(lumotest::RunCommand(env + camsim + " plug c1 usb"), 0);
    EXPECT_EQ(lumotest::CommandOutput(env + camsim + " list"), "c1\tusb\tKVCK\n");
    ASSERT_EQ(lumotest::RunCommand(env + camsim + " unplug c1"), 0);
    EXPECT_EQ(lumotest::CommandOutput(env + camsim + " list"), "c1\tnone\tKVCK\n");
    ASSERT_EQ(lumotest::RunCommand(env + camsim + " set c1 /cf/images/IMG_0001.KZR lock on"), 0);
    ASSERT_EQ(lumotest::RunCommand(env + camsim + " knob c1 scratch on"), 0);
    EXPECT_NE(lumotest::RunCommand(env + camsim + " knob c1 scratch maybe 2>/dev/null"), 0);
    EXPECT_NE(lumotest::RunCommand(env + camsim + " set c1 /../x lock on 2>/dev/null"), 0);
    EXPECT_NE(lumotest::CommandOutput(env + camsim + " log c1").find("\tshoot\t"), std::string::npos);

    // The shot is marked.
    ASSERT_TRUE(simcam::PlugCamera("c1", Plug::Bus1394, nullptr));
    Link1394 link(Node());
    ASSERT_TRUE(link.ReadConfiguration());
    Mailbox box(link);
    FileInfo info;
    ASSERT_TRUE(box.Lookup("/cf/images/IMG_0002.KZR", &info));
    EXPECT_EQ(info.attributes, 2u);
    ASSERT_TRUE(box.Lookup("/cf/images/IMG_0001.KZR", &info));
    EXPECT_EQ(info.attributes, 3u);
}

TEST(SimCameraCrc16, IsTheCcittCheckWithInitialZero)
{
    const char* text = "123456789";
    EXPECT_EQ(simcam::Crc16(reinterpret_cast<const uint8_t*>(text), 9), 0x31C3);
    EXPECT_EQ(simcam::Crc16(nullptr, 0), 0);
}

}  // namespace
