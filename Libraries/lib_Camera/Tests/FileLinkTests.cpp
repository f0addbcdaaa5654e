#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "CamFileDevice.h"
#include "KCamFileLink.h"
#include "LumoTestSupport.h"
#include "PlatformError.h"

namespace fs = std::filesystem;

namespace {

uint64_t SizeOf(const fs::path& p)
{
    return fs::file_size(p);
}

}  // namespace

TEST(CamFileLink, AddressesMapToTheirRegions)
{
    struct Case {
        uint32_t high, low;
        bool mapped;
        uint64_t offset;
    } cases[] = {
        {0x0006, 0x0, true, 0x0},
        {0x0006, 0x3FF, true, 0x3FF},
        {0x0006, 0x400, false, 0},
        {0x1000, 0x10, true, 0x410},
        {0x1001, 0xFFFFFF, true, 0x800 + 0xFFFFFF},
        {0x1001, 0x1000000, false, 0},
        {0x1006, 0x4, true, 0x01000804},
        {0x1007, 0x3FC, true, 0x010013FC},
        {0x1009, 0x100, true, 0x01001500},
        {0x1009, 0x10000100, true, 0x01001500},  // the data window lands on the same bytes
        {0x1009, 0xFFFF, true, 0x010113FF},
        {0x1009, 0x010000FC, false, 0},          // the mailbox command registers are out of range
        {0x1009, 0x010000F0, false, 0},
        {0x1FFF, 0x0, true, 0x01011400},
        {0xFFFF, 0xF0000404, true, 0x01011C04},
        {0xFFFF, 0x20000, false, 0},
        {0x1002, 0x0, false, 0},
        {0x0000, 0x0, false, 0},
    };
    for (const Case& c : cases) {
        uint64_t offset = 0;
        EXPECT_EQ(MapFileDeviceAddress(c.low, c.high, &offset), c.mapped) << std::hex << c.high << ":" << c.low;
        if (c.mapped) {
            EXPECT_EQ(offset, c.offset) << std::hex << c.high << ":" << c.low;
        }
    }
}

TEST(CamFileLink, OpeningCreatesTheFileWithTheLivenessWord)
{
    lumotest::TempDir dir;
    const fs::path file = dir / "c.img";
    CamFileDevice* d = OpenFileDevice(file.c_str());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(SizeOf(file), 0x01011C08u);
    char word[5] = {};
    EXPECT_EQ(ReadFileDeviceBlock(d, 0xF0000404, 0xFFFF, word, 4), 1);
    EXPECT_STREQ(word, "1394");
    // The padding is spaces.
    uint8_t head[16];
    EXPECT_EQ(ReadFileDeviceBlock(d, 0, 0x0006, head, 16), 1);
    for (uint8_t b : head)
        EXPECT_EQ(b, 0x20);
    // Round trip through a space, and a read beyond the end fails after padding up to it.
    const uint8_t data[4] = {0x1A, 0, 0, 0};
    EXPECT_EQ(WriteFileDeviceBlock(d, 0x100, 0x1009, data, 4), 1);
    uint8_t back[4] = {};
    EXPECT_EQ(ReadFileDeviceBlock(d, 0x10000100, 0x1009, back, 4), 1);
    EXPECT_EQ(memcmp(back, data, 4), 0);
    EXPECT_EQ(ReadFileDeviceBlock(d, 0x1FFFC, 0xFFFF, back, 8), 0) << "only 4 bytes before the end of the spaces";
    EXPECT_EQ(WriteFileDeviceBlock(d, 0x010000FC, 0x1009, data, 4), 0);
    EXPECT_EQ(ReadFileDeviceBlock(d, 0, 0x1234, back, 4), 0);
    EXPECT_EQ(WriteFileDeviceBlock(d, 0, 0x0006, nullptr, 0), 1) << "an empty transfer";
    CloseFileDevice(d);

    // Opened again: kept as it is, never truncated.
    const uint64_t size = SizeOf(file);
    d = OpenFileDevice(file.c_str());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(SizeOf(file), size);
    EXPECT_EQ(ReadFileDeviceBlock(d, 0x100, 0x1009, back, 4), 1);
    EXPECT_EQ(memcmp(back, data, 4), 0);
    CloseFileDevice(d);
}

TEST(CamFileLink, AWriteOnAnEmptyFilePadsItWithSpacesUpToTheOffset)
{
    lumotest::TempDir dir;
    const fs::path file = dir / "empty.img";
    int fd = open(file.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    CamFileDevice device{fd};
    const uint8_t data[4] = {0x1A, 0, 0, 0};
    ASSERT_EQ(WriteFileDeviceBlock(&device, 0x100, 0x1009, data, 4), 1);
    close(fd);
    std::vector<uint8_t> bytes = lumotest::ReadBytes(file);
    ASSERT_EQ(bytes.size(), 0x01001504u);
    for (size_t i = 0; i < 0x01001500; i += 997)
        ASSERT_EQ(bytes[i], 0x20) << i;
    EXPECT_EQ(bytes[0x010014FF], 0x20);
    EXPECT_EQ(memcmp(bytes.data() + 0x01001500, data, 4), 0);
}

TEST(CamFileLink, FilesThatCannotBeWrittenAreNeitherOpenedNorChanged)
{
    lumotest::TempDir dir;
    const fs::path file = dir / "ro.img";
    lumotest::WriteText(file, "short camera image");
    chmod(file.c_str(), 0444);
    EXPECT_EQ(OpenFileDevice(file.c_str()), nullptr);
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_ACCESS_DENIED);
    EXPECT_EQ(lumotest::ReadText(file), "short camera image");

    fs::create_directory(dir / "folder.img");
    EXPECT_EQ(OpenFileDevice((dir / "folder.img").c_str()), nullptr);
    EXPECT_TRUE(fs::is_directory(dir / "folder.img"));

    EXPECT_EQ(OpenFileDevice((dir / "missing" / "c.img").c_str()), nullptr) << "no folder is made";
    EXPECT_FALSE(fs::exists(dir / "missing"));
    EXPECT_EQ(OpenFileDevice(""), nullptr);
    EXPECT_EQ(OpenFileDevice(nullptr), nullptr);
}

TEST(CamFileLink, NativePathsGoThroughThePathMapping)
{
    lumotest::TempDir dir;
    lumotest::TempDir machine;
    setenv("LUMO_MACHINE", machine.Path().c_str(), 1);
    std::string native = "C:" + (dir / "Native.img").string();
    for (char& c : native)
        if (c == '/')
            c = '\\';
    CamFileDevice* d = OpenFileDevice(native.c_str());
    unsetenv("LUMO_MACHINE");
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(fs::exists(dir / "Native.img"));
    CloseFileDevice(d);
}

TEST(CamFileLink, TheDeviceListIsEmpty)
{
    EXPECT_EQ(CountFileDevices(), 0u);
    EXPECT_EQ(GetFileDeviceName(0), nullptr);
}
