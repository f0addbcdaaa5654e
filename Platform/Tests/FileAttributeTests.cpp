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
