#pragma once
// A camera emulated in a file (FILE@path) in a scratch machine of its own: the registers a test needs are
// written into the file where the FILE link keeps them, and read back from there.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "KCamConnection.h"
#include "LumoTestSupport.h"

namespace camtest {

// File offsets of the FILE link's spaces.
constexpr uint64_t kSpace1007 = 0x01001000;
constexpr uint64_t kSpace1009 = 0x01001400;

class FileCamera : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("LUMO_MACHINE", (m_Dir / "machine").c_str(), 1);
        SetCameraWaitPace(0);
        m_Path = (m_Dir / "camera.img").string();
    }

    std::string Name() const { return "FILE@" + m_Path; }
    std::string PathOf(const std::string& leaf) const { return (m_Dir / leaf).string(); }

    void Poke(uint64_t offset, const std::vector<uint8_t>& bytes) const
    {
        int fd = open(m_Path.c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), off_t(offset)), ssize_t(bytes.size()));
        close(fd);
    }
    std::vector<uint8_t> Peek(uint64_t offset, size_t n) const
    {
        std::vector<uint8_t> out(n);
        int fd = open(m_Path.c_str(), O_RDONLY);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(pread(fd, out.data(), n, off_t(offset)), ssize_t(n));
        close(fd);
        return out;
    }
    // A register as the connection's swap flag stores it: most significant byte first.
    void PokeRegister(uint64_t offset, uint32_t value) const
    {
        Poke(offset, {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)});
    }
    uint32_t PeekRegister(uint64_t offset) const
    {
        std::vector<uint8_t> b = Peek(offset, 4);
        return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    }

    lumotest::TempDir m_Dir;
    std::string m_Path;
};

}  // namespace camtest
