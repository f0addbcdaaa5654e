// The FILE link: register spaces of an emulated camera at fixed offsets of an ordinary file.
#include "KCamFileLink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "CamFileDevice.h"
#include "PlatformError.h"
#include "PlatformPath.h"

namespace {

struct Space {
    uint32_t high;
    uint32_t limit;  // accepted low' are below this
    uint64_t base;
};

constexpr Space kSpaces[] = {
    {0x0006, 0x400, 0},
    {0x1000, 0x400, 0x400},
    {0x1001, 0x1000000, 0x800},
    {0x1006, 0x400, 0x01000800},
    {0x1007, 0x400, 0x01001000},
    {0x1009, 0x10000, 0x01001400},
    {0x1FFF, 0x400, 0x01011400},
    {0xFFFF, 0x20000, 0x01011800},
};

// Pads the file with spaces from its end up to `offset`, in pieces of at most 1,024 bytes.
bool PadTo(int fd, uint64_t offset)
{
    struct stat st{};
    if (fstat(fd, &st) != 0)
        return false;
    auto end = static_cast<uint64_t>(st.st_size);
    char spaces[1024];
    memset(spaces, 0x20, sizeof(spaces));
    while (end < offset) {
        const size_t piece = offset - end < sizeof(spaces) ? static_cast<size_t>(offset - end) : sizeof(spaces);
        ssize_t n = pwrite(fd, spaces, piece, static_cast<off_t>(end));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        end += static_cast<uint64_t>(n);
    }
    return true;
}

int Transfer(CamFileDevice* device, uint32_t low, uint32_t high, void* buffer, uint32_t length, bool write)
{
    uint64_t offset = 0;
    if (!device || (!buffer && length > 0) || !MapFileDeviceAddress(low, high, &offset))
        return 0;
    if (!PadTo(device->fd, offset))
        return 0;
    auto* p = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < length) {
        ssize_t n = write ? pwrite(device->fd, p + done, length - done, static_cast<off_t>(offset + done))
                          : pread(device->fd, p + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        done += static_cast<uint32_t>(n);
    }
    return 1;
}

// An open descriptor of an existing regular file that may be written, or -1 (errno set).
int CheckedDescriptor(int fd)
{
    struct stat st{};
    if (fstat(fd, &st) != 0) {
        int e = errno;
        close(fd);
        errno = e;
        return -1;
    }
    // The write bits decide, as for every file of the platform, whoever runs the program.
    if (!S_ISREG(st.st_mode) || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        close(fd);
        errno = S_ISREG(st.st_mode) ? EACCES : EISDIR;
        return -1;
    }
    return fd;
}

int OpenOrCreate(const std::string& path)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0)
            return CheckedDescriptor(fd);
        if (errno != ENOENT)
            return -1;
        // Created only when nothing of that name exists.
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

}  // namespace

bool MapFileDeviceAddress(uint32_t low, uint32_t high, uint64_t* offset)
{
    const uint32_t masked = low & 0x0FFFFFFF;
    for (const Space& s : kSpaces) {
        if (s.high != high)
            continue;
        if (masked >= s.limit)
            return false;
        if (offset)
            *offset = s.base + masked;
        return true;
    }
    return false;
}

CamFileDevice* OpenFileDevice(const char* path)
{
    if (!path || !*path) {
        PlatSetLastError(PLAT_ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    std::string posix;
    if (path[0] == '/')
        posix = path;
    else if (!PlatNativeToPosix(path, posix))
        return nullptr;
    const int fd = OpenOrCreate(posix);
    if (fd < 0) {
        PlatSetLastError(PlatErrorFromErrno(errno));
        return nullptr;
    }
    auto* device = new (std::nothrow) CamFileDevice{fd};
    if (!device) {
        close(fd);
        PlatSetLastError(PLAT_ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // The liveness test of the connection reads these four bytes.
    if (!WriteFileDeviceBlock(device, 0xF0000404, 0xFFFF, "1394", 4)) {
        PlatSetLastError(errno ? PlatErrorFromErrno(errno) : PLAT_ERROR_WRITE_PROTECT);
        CloseFileDevice(device);
        return nullptr;
    }
    PlatSetLastError(PLAT_ERROR_SUCCESS);
    return device;
}

void CloseFileDevice(CamFileDevice* device)
{
    if (!device)
        return;
    close(device->fd);
    delete device;
}

int ReadFileDeviceBlock(CamFileDevice* device, uint32_t low, uint32_t high, void* buffer, uint32_t length)
{
    return Transfer(device, low, high, buffer, length, false);
}

int WriteFileDeviceBlock(CamFileDevice* device, uint32_t low, uint32_t high, const void* buffer, uint32_t length)
{
    return Transfer(device, low, high, const_cast<void*>(buffer), length, true);
}

uint32_t CountFileDevices()
{
    return 0;
}

const char* GetFileDeviceName(uint32_t)
{
    return nullptr;
}
