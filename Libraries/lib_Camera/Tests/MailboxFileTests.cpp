// The mailbox protocol's register side over the FILE link, whose map refuses the command registers: the
// lookup and its name lengths, the file information, commands that stop at the first refused access, the
// attribute word, the host lock and the console.
#include <cstring>

#include "CameraFileFixture.h"
#include "KCamMailbox.h"

using camtest::FileCamera;
using camtest::kSpace1007;
using camtest::kSpace1009;

namespace {

constexpr uint64_t kTransferLength = kSpace1009 + 0x0;
constexpr uint64_t kNameArea = kSpace1009 + 0x4;
constexpr uint64_t kLookupStatus = kSpace1009 + 0x100;
constexpr uint64_t kFileSize = kSpace1009 + 0x104;
constexpr uint64_t kAttributes = kSpace1009 + 0x108;
constexpr uint64_t kFileTime = kSpace1009 + 0x10C;
constexpr uint64_t kHostLock = kSpace1007 + 0x0;
constexpr uint64_t kConsole = kSpace1007 + 0x80;

class Mailbox : public FileCamera {
protected:
    void SetUp() override
    {
        FileCamera::SetUp();
        m_C = OpenCamera(Name().c_str());
        ASSERT_NE(m_C, nullptr);
    }
    // A file the camera found: its status, size, time and attributes.
    void Found(uint32_t status, uint32_t size = 20, uint32_t time = 1700000000, uint32_t attributes = 0)
    {
        PokeRegister(kLookupStatus, status);
        PokeRegister(kFileSize, size);
        PokeRegister(kFileTime, time);
        PokeRegister(kAttributes, attributes);
    }
    CamConnection* m_C = nullptr;
};

}  // namespace

TEST_F(Mailbox, TheNameAreaTakesNamesOfAtMost123Characters)
{
    Found(0x0A);
    const struct {
        size_t length;
        bool ok;
        size_t written;  // bytes of the name area: the name, its zero byte, padding
    } cases[] = {{0, true, 4}, {1, true, 4}, {3, true, 4}, {4, true, 8}, {122, true, 124}, {123, true, 124},
                 {124, false, 0}, {200, false, 0}};
    for (const auto& c : cases) {
        Poke(kNameArea, std::vector<uint8_t>(124, ' '));
        const std::string name(c.length, 'n');
        uint32_t status = 0;
        EXPECT_EQ(WriteMailboxFileName(m_C, name.c_str(), &status), c.ok ? 1 : 0) << c.length;
        const std::vector<uint8_t> area = Peek(kNameArea, 124);
        std::vector<uint8_t> want(124, ' ');
        for (size_t i = 0; i < c.written; ++i)
            want[i] = i < c.length ? 'n' : 0;
        EXPECT_EQ(area, want) << c.length;
        if (c.ok) {
            EXPECT_EQ(status, 0x0Au);
        }
    }
}

TEST_F(Mailbox, TheLookupFollowsTheStatusBits)
{
    const struct {
        uint32_t status;
        int ok;
    } cases[] = {{0x0A, 1}, {0x02, 1}, {0xFE, 1}, {0x00, 0}, {0x08, 0}, {0x01, 0}, {0x09, 0}};
    for (const auto& c : cases) {
        Found(c.status, 123456, 1700000001, 0x3);
        uint32_t size = 0, time = 0, attributes = 0, status = 0;
        EXPECT_EQ(QueryCameraFile(m_C, "/cf/images/A.KZR", &size, &time, &attributes, &status), c.ok)
            << std::hex << c.status;
        if (c.ok) {
            EXPECT_EQ(size, 123456u);
            EXPECT_EQ(time, 1700000001u);
            EXPECT_EQ(attributes, 0x3u);
            EXPECT_EQ(status, c.status);
        }
    }
    // Outputs not asked for are skipped.
    Found(0x0A);
    EXPECT_EQ(QueryCameraFile(m_C, "/a", nullptr, nullptr, nullptr, nullptr), 1);
    // A device that is gone answers no lookup.
    EXPECT_EQ(QueryCameraFile(nullptr, "/a", nullptr, nullptr, nullptr, nullptr), 0);
}

TEST_F(Mailbox, RefusedCommandsEndWithTheTransferLengthReset)
{
    Found(0x0A | kCamMayWrite | kCamMayDelete | kCamMayGrow, 20);
    uint8_t buffer[16];
    uint32_t got = 99;
    EXPECT_EQ(ReadCameraFile(m_C, "/a", 0, buffer, sizeof(buffer), &got), 0);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(PeekRegister(kTransferLength), 0u);
    PokeRegister(kTransferLength, 0x20202020);
    EXPECT_EQ(WriteCameraFile(m_C, "/a", 0, buffer, sizeof(buffer)), 0);
    EXPECT_EQ(PeekRegister(kTransferLength), 0u);
    EXPECT_EQ(DeleteCameraFile(m_C, "/a"), 0);

    // Reads past the end or of nothing stop before any command.
    PokeRegister(kTransferLength, 0x20202020);
    EXPECT_EQ(ReadCameraFile(m_C, "/a", 20, buffer, sizeof(buffer), &got), 0);
    EXPECT_EQ(ReadCameraFile(m_C, "/a", 3, buffer, 0, &got), 0);
    EXPECT_EQ(PeekRegister(kTransferLength), 0x20202020u);
    // A file that may not be read, written or deleted.
    Found(0x02, 20);
    EXPECT_EQ(ReadCameraFile(m_C, "/a", 0, buffer, sizeof(buffer), &got), 0);
    EXPECT_EQ(WriteCameraFile(m_C, "/a", 0, buffer, sizeof(buffer)), 0);
    EXPECT_EQ(PeekRegister(kTransferLength), 0x20202020u);
}

TEST_F(Mailbox, WritesThatWouldPassFourGigabytesTouchNothing)
{
    Found(0x0A | kCamMayWrite | kCamMayGrow, 20);
    Poke(kNameArea, std::vector<uint8_t>(124, ' '));
    const std::vector<uint8_t> before = Peek(kSpace1009, 0x200);
    uint8_t buffer[32] = {};
    EXPECT_EQ(WriteCameraFile(m_C, "/a", 0xFFFFFFF0u, buffer, 32), 0);
    EXPECT_EQ(WriteCameraFile(m_C, "/a", 0xFFFFFFFFu, buffer, 2), 0);
    // Ending right at 4 GiB would make a size of 4 GiB, which 32 bits read as 0.
    EXPECT_EQ(WriteCameraFile(m_C, "/a", 0xFFFFFFF0u, buffer, 16), 0);
    EXPECT_EQ(WriteCameraFile(m_C, "/a", 0xFFFFFFFFu, buffer, 1), 0);
    EXPECT_EQ(Peek(kSpace1009, 0x200), before);
    // A pass of no bytes only looks the file up.
    EXPECT_EQ(WriteCameraFile(m_C, "/a", 0xFFFFFFFFu, buffer, 0), 1);
    // Growing a file that may not grow stops before any data or command.
    Found(0x0A | kCamMayWrite, 20);
    PokeRegister(kTransferLength, 0x20202020);
    EXPECT_EQ(WriteCameraFile(m_C, "/a", 10, buffer, 11), 0);
    EXPECT_EQ(PeekRegister(kTransferLength), 0x20202020u);
    // A whole-file-mode file larger than the data window is never taken in, whatever size the camera claims.
    Found(0x0A | kCamMayWrite | kCamMayGrow | kCamWholeFile, 0xFFFFFFF0u);
    EXPECT_EQ(WriteCameraFile(m_C, "/a", 0, buffer, 6), 0);
    Found(0x0A | kCamMayWrite | kCamMayGrow | kCamWholeFile, 20);
    EXPECT_EQ(WriteCameraFile(m_C, "/a", 0x7FFFFFF0u, buffer, 6), 0);
    EXPECT_EQ(PeekRegister(kTransferLength), 0x20202020u);
}

TEST_F(Mailbox, AttributesKeepTheirOtherBits)
{
    const struct {
        uint32_t before, flags, after;
    } cases[] = {{0xF0, 1, 0xF1}, {0xF1, 2, 0xF2}, {0x03, 0, 0x00}, {0x00, 0xFF, 0x03}};
    for (const auto& c : cases) {
        Found(0x0A, 20, 0, c.before);
        EXPECT_EQ(SetCameraFileAttributes(m_C, "/a", c.flags), 1);
        EXPECT_EQ(PeekRegister(kAttributes), c.after) << std::hex << c.before << " " << c.flags;
    }
    Found(0x00, 20, 0, 0xF0);
    EXPECT_EQ(SetCameraFileAttributes(m_C, "/none", 1), 0);
    EXPECT_EQ(PeekRegister(kAttributes), 0xF0u);
}

TEST_F(Mailbox, TheHostLockIsTakenAndReleasedOnlyWhenNeeded)
{
    PokeRegister(kHostLock, 0);
    EXPECT_EQ(IsHostLocked(m_C), 0);
    EXPECT_EQ(ReleaseHostLock(m_C), 1);
    EXPECT_EQ(PeekRegister(kHostLock), 0u);
    EXPECT_EQ(TakeHostLock(m_C), 1);
    EXPECT_EQ(PeekRegister(kHostLock), 1u);
    // Already locked: nothing written.
    PokeRegister(kHostLock, 5);
    EXPECT_EQ(TakeHostLock(m_C), 1);
    EXPECT_EQ(PeekRegister(kHostLock), 5u);
    EXPECT_EQ(ReleaseHostLock(m_C), 1);
    EXPECT_EQ(PeekRegister(kHostLock), 0u);
}

TEST_F(Mailbox, TheConsoleLengthByteNeverReadsPastTheBlock)
{
    std::string text(127, ' ');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = char('!' + i % 90);
    const struct {
        uint8_t lengthByte;
        uint32_t capacity;
        uint32_t expected;
    } cases[] = {{5, 128, 5}, {127, 128, 127}, {128, 128, 127}, {255, 128, 127}, {255, 300, 127},
                 {200, 16, 15}, {12, 16, 12}, {9, 10, 7}, {0, 128, 0}};
    for (const auto& c : cases) {
        PokeRegister(kHostLock, 0);
        // The block as the camera keeps it: quadlets reversed for this connection.
        std::vector<uint8_t> block(128);
        block[0] = c.lengthByte;
        std::memcpy(block.data() + 1, text.data(), 127);
        for (size_t q = 0; q < 128; q += 4)
            std::swap(block[q], block[q + 3]), std::swap(block[q + 1], block[q + 2]);
        Poke(kConsole, block);
        std::vector<char> out(c.capacity, '#');  // exactly the capacity: AddressSanitizer sees any overrun
        uint32_t length = 999;
        ASSERT_EQ(ReadConsole(m_C, out.data(), c.capacity, &length), 1);
        EXPECT_EQ(length, c.expected) << int(c.lengthByte) << " " << c.capacity;
        EXPECT_EQ(std::string(out.data(), length), text.substr(0, length));
        EXPECT_EQ(PeekRegister(kHostLock), 1u);
    }
    uint32_t length = 0;
    char small[3];
    EXPECT_EQ(ReadConsole(m_C, small, sizeof(small), &length), 0);
}

TEST_F(Mailbox, ConsoleTextGoesInPiecesOfAtMost127Bytes)
{
    std::string text;
    for (int i = 0; i < 300; ++i)
        text += char('a' + i % 26);
    Poke(kConsole, std::vector<uint8_t>(128, ' '));
    PokeRegister(kHostLock, 0);
    ASSERT_EQ(WriteConsole(m_C, text.data(), uint32_t(text.size())), 1);
    // The last piece: 46 bytes in a block of 48, quadlets reversed.
    std::vector<uint8_t> block = Peek(kConsole, 128);
    for (size_t q = 0; q < 48; q += 4)
        std::swap(block[q], block[q + 3]), std::swap(block[q + 1], block[q + 2]);
    EXPECT_EQ(block[0], 46);
    EXPECT_EQ(std::string(block.begin() + 1, block.begin() + 47), text.substr(254));
    EXPECT_EQ(block[47], 0);
    EXPECT_EQ(PeekRegister(kHostLock), 1u);
    PokeRegister(kHostLock, 0);
    EXPECT_EQ(WriteConsole(m_C, "", 0), 1);
    EXPECT_EQ(PeekRegister(kHostLock), 0u);
}

TEST_F(Mailbox, EntryLookupsScanAtMostFiftyEntriesOfAValidArea)
{
    CamConfigArea& area = m_C->config;
    area.entries[10] = {kCamEntryProtocolLevel, 0x10001, 0, 0};
    area.entries[49] = {kCamEntryFastRead, 0, 0x1006, 128};
    area.entryCount = 75;  // as a device may claim
    CamConfigEntry entry{};
    EXPECT_TRUE(FindCameraConfigEntry(m_C, kCamEntryProtocolLevel, &entry));
    EXPECT_EQ(entry.value1, 0x10001u);
    EXPECT_TRUE(FindCameraConfigEntry(m_C, kCamEntryFastRead, &entry));
    EXPECT_EQ(entry.value2, 0x1006u);
    EXPECT_FALSE(FindCameraConfigEntry(m_C, kCamEntryDataWindow, &entry));
    area.entryCount = 49;
    EXPECT_FALSE(FindCameraConfigEntry(m_C, kCamEntryFastRead, &entry));
    area.entryCount = 0xFFFFFFFF;
    area.areaValid = 0;
    EXPECT_FALSE(FindCameraConfigEntry(m_C, kCamEntryProtocolLevel, &entry));
    // Without a valid area the registers travel as they are.
    PokeRegister(kFileSize, 0x11223344);
    uint32_t value = 0;
    ASSERT_EQ(ReadCameraQuadlet(m_C, 0x104, 0x1009, &value), 1);
    EXPECT_EQ(value, 0x44332211u);
    area.areaValid = 1;
    ASSERT_EQ(ReadCameraQuadlet(m_C, 0x104, 0x1009, &value), 1);
    EXPECT_EQ(value, 0x11223344u);
}
