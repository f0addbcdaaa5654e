// File attributes on the POSIX file system.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "LumoTestSupport.h"
#include "PlatformError.h"
#include "PlatformFile.h"
#include "PlatformPath.h"

TEST(PlatFileAttributes, MakingAFileWritableLeavesTheProcessMaskAlone)
{
    // Another thread creating files meanwhile must always get the process's mask: never a file that anyone
    // may write.
    lumotest::TempDir temp;
    setenv("LUMO_MACHINE", (temp / "machine").c_str(), 1);
    const mode_t mask = umask(022);
    const std::string file = (temp / "toggled").string();
    lumotest::WriteText(file, "x");
    std::string native;
    ASSERT_TRUE(PlatPosixToNative(file, native));
    std::atomic<bool> done{false};
    std::thread toggler([&] {
        for (int i = 0; i < 4000; ++i) {
            PlatSetFileAttributes(native.c_str(), PLAT_ATTR_READONLY);
            PlatSetFileAttributes(native.c_str(), PLAT_ATTR_NORMAL);
        }
        done = true;
    });
    const std::string probe = (temp / "probe").string();
    int worldWritable = 0;
    while (!done) {
        int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0)
            continue;
        struct stat st;
        if (fstat(fd, &st) == 0 && (st.st_mode & 0022))
            ++worldWritable;
        close(fd);
        unlink(probe.c_str());
    }
    toggler.join();
    umask(mask);
    unsetenv("LUMO_MACHINE");
    EXPECT_EQ(worldWritable, 0);
}

TEST(PlatFileAttributes, OnlyRegularFilesOpenAndFailuresSayWhy)
{
    // A pipe would block the opener and a device never ends: neither is a file of the disk.
    lumotest::TempDir temp;
    setenv("LUMO_MACHINE", (temp / "machine").c_str(), 1);
    const std::string fifo = (temp / "pipe").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero"), std::string("/dev/null")}) {
        std::string native;
        ASSERT_TRUE(PlatPosixToNative(path, native));
        for (uint32_t access : {uint32_t(PLAT_GENERIC_READ), uint32_t(PLAT_GENERIC_READ | PLAT_GENERIC_WRITE)}) {
            PlatFile* file = PlatCreateFile(native.c_str(), access, 0,
                                            access == PLAT_GENERIC_READ ? PLAT_OPEN_EXISTING : PLAT_OPEN_ALWAYS);
            EXPECT_EQ(file, nullptr) << path;
            if (file)
                PlatCloseFile(file);
            EXPECT_STREQ(PlatGetLastErrorReason(), "Not a regular file") << path;
        }
    }
    std::string native;
    ASSERT_TRUE(PlatPosixToNative((temp / "none" / "x").string(), native));
    EXPECT_EQ(PlatCreateFile(native.c_str(), PLAT_GENERIC_READ, 0, PLAT_OPEN_EXISTING), nullptr);
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_PATH_NOT_FOUND);
    EXPECT_STREQ(PlatGetLastErrorReason(), "No such file or directory");
    unsetenv("LUMO_MACHINE");
}
