#include "PlatformFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "PlatformError.h"
#include "PlatformPath.h"

struct PlatFile {
    int fd = -1;
};

namespace {

bool Fail(uint32_t error)
{
    PlatSetLastError(error);
    return false;
}

bool FailErrno()
{
    // A read-only file system is the write protection of a card.
    PlatSetLastErrno(errno, errno == EROFS ? PLAT_ERROR_WRITE_PROTECT : PlatErrorFromErrno(errno));
    return false;
}

// Files of the disk are regular files: a pipe, a device or a socket would block a reader or never end.
constexpr const char* kNotRegular = "Not a regular file";

// POSIX path of a native path; false with PATH_NOT_FOUND when it maps to nothing.
bool ToPosix(const char* native, std::string& posix)
{
    if (!native || !*native)
        return Fail(PLAT_ERROR_PATH_NOT_FOUND);
    return PlatNativeToPosix(native, posix);
}

std::string ParentOf(const std::string& posix)
{
    size_t slash = posix.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : posix.substr(0, slash);
}

std::string LeafOf(const std::string& path)
{
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The process's file-creation mask, read without changing it: umask() reads it only by setting another, which
// would leave the files other threads create meanwhile without a mask. Owner-only when it cannot be read.
mode_t CurrentUmask()
{
    mode_t mask = 077;
    if (FILE* status = fopen("/proc/self/status", "re")) {
        char line[256];
        while (fgets(line, sizeof line, status)) {
            if (strncmp(line, "Umask:", 6) == 0) {
                mask = static_cast<mode_t>(strtoul(line + 6, nullptr, 8)) & 0777;
                break;
            }
        }
        fclose(status);
    }
    return mask;
}

bool IsReadOnlyMode(mode_t mode)
{
    return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// ENOENT on a path whose folder is missing is "path not found", as the original reports it.
uint32_t MissingError(const std::string& posix)
{
    struct stat st;
    if (stat(ParentOf(posix).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return PLAT_ERROR_PATH_NOT_FOUND;
    return PLAT_ERROR_FILE_NOT_FOUND;
}

bool FailErrnoOn(const std::string& posix)
{
    if (errno == ENOENT) {
        PlatSetLastErrno(ENOENT, MissingError(posix));
        return false;
    }
    return FailErrno();
}

uint64_t Ticks(int64_t seconds, int64_t nanoseconds)
{
    return static_cast<uint64_t>(seconds * 10000000 + nanoseconds / 100) + PLAT_TICKS_1601_TO_1970;
}

uint32_t AttributesOf(const std::string& name, const struct stat& st)
{
    uint32_t a = 0;
    if (S_ISDIR(st.st_mode))
        a |= PLAT_ATTR_DIRECTORY;
    if (IsReadOnlyMode(st.st_mode))
        a |= PLAT_ATTR_READONLY;
    if (!name.empty() && name[0] == '.' && name != "." && name != "..")
        a |= PLAT_ATTR_HIDDEN;
    return a ? a : PLAT_ATTR_NORMAL;
}

bool CopyFileContents(const std::string& from, const std::string& to)
{
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0)
        return FailErrno();
    struct stat st;
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(in, F_SETFL, 0) != 0) {
        close(in);
        PlatSetLastErrorText(PLAT_ERROR_ACCESS_DENIED, kNotRegular);
        return false;
    }
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
    if (out < 0) {
        int e = errno;
        close(in);
        errno = e;
        return FailErrno();
    }
    char buffer[65536];
    bool ok = true;
    for (;;) {
        ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok)
            break;
    }
    int e = errno;
    if (ok && fsync(out) != 0)
        ok = false, e = errno;
    if (close(out) != 0 && ok)
        ok = false, e = errno;
    close(in);
    if (!ok) {
        unlink(to.c_str());
        errno = e;
        return FailErrno();
    }
    return true;
}

}  // namespace

PlatFile* PlatCreateFile(const char* native, uint32_t access, uint32_t share, uint32_t disposition)
{
    (void)share;  // no sharing violations on Linux
    std::string posix;
    if (!ToPosix(native, posix))
        return nullptr;
    const bool write = (access & PLAT_GENERIC_WRITE) != 0;
    struct stat st;
    bool exists = stat(posix.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        PlatSetLastErrno(EISDIR, PLAT_ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (exists && write && IsReadOnlyMode(st.st_mode)) {
        PlatSetLastErrno(EACCES, PLAT_ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        PlatSetLastErrorText(PLAT_ERROR_ACCESS_DENIED, kNotRegular);
        return nullptr;
    }
    // Not blocking while opening, in case a pipe took the name meanwhile; checked again on the open file.
    int flags = (write ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK;
    switch (disposition) {
    case PLAT_CREATE_ALWAYS: flags |= O_CREAT | (write ? O_TRUNC : 0); break;
    case PLAT_OPEN_ALWAYS: flags |= O_CREAT; break;
    case PLAT_OPEN_EXISTING: break;
    default: Fail(PLAT_ERROR_INVALID_PARAMETER); return nullptr;
    }
    int fd;
    do
        fd = open(posix.c_str(), flags, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        FailErrnoOn(posix);
        return nullptr;
    }
    struct stat opened;
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || fcntl(fd, F_SETFL, 0) != 0) {
        close(fd);
        PlatSetLastErrorText(PLAT_ERROR_ACCESS_DENIED, kNotRegular);
        return nullptr;
    }
    PlatFile* file = new PlatFile;
    file->fd = fd;
    PlatSetLastError(PLAT_ERROR_SUCCESS);
    return file;
}

bool PlatGetFileIdentity(const char* native, PlatFileIdentity* identity)
{
    std::string posix;
    if (!ToPosix(native, posix))
        return false;
    struct stat st;
    if (stat(posix.c_str(), &st) != 0)
        return FailErrnoOn(posix);
    identity->device = static_cast<uint64_t>(st.st_dev);
    identity->inode = static_cast<uint64_t>(st.st_ino);
    identity->size = static_cast<uint64_t>(st.st_size);
    identity->writtenTicks = Ticks(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    return true;
}

bool PlatCloseFile(PlatFile* file)
{
    if (!file)
        return Fail(PLAT_ERROR_INVALID_HANDLE);
    int r = close(file->fd);
    delete file;
    return r == 0 || errno == EINTR ? true : FailErrno();
}

bool PlatReadFile(PlatFile* file, void* buffer, uint32_t count, uint32_t* done)
{
    if (done)
        *done = 0;
    if (!file)
        return Fail(PLAT_ERROR_INVALID_HANDLE);
    uint32_t total = 0;
    while (total < count) {
        ssize_t n = read(file->fd, static_cast<char*>(buffer) + total, count - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (done)
                *done = total;
            return FailErrno();
        }
        if (n == 0)
            break;
        total += static_cast<uint32_t>(n);
    }
    if (done)
        *done = total;
    return true;
}

bool PlatWriteFile(PlatFile* file, const void* buffer, uint32_t count, uint32_t* done)
{
    if (done)
        *done = 0;
    if (!file)
        return Fail(PLAT_ERROR_INVALID_HANDLE);
    uint32_t total = 0;
    while (total < count) {
        ssize_t n = write(file->fd, static_cast<const char*>(buffer) + total, count - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (done)
                *done = total;
            return n == 0 ? Fail(PLAT_ERROR_DISK_FULL) : FailErrno();
        }
        total += static_cast<uint32_t>(n);
    }
    if (done)
        *done = total;
    return true;
}

bool PlatSetFilePointer(PlatFile* file, int64_t position, int64_t* newPosition)
{
    if (!file)
        return Fail(PLAT_ERROR_INVALID_HANDLE);
    if (position < 0)
        return Fail(PLAT_ERROR_INVALID_PARAMETER);
    off_t r = lseek(file->fd, static_cast<off_t>(position), SEEK_SET);
    if (r < 0)
        return FailErrno();
    if (newPosition)
        *newPosition = r;
    return true;
}

bool PlatGetFilePointer(PlatFile* file, int64_t* position)
{
    if (!file)
        return Fail(PLAT_ERROR_INVALID_HANDLE);
    off_t r = lseek(file->fd, 0, SEEK_CUR);
    if (r < 0)
        return FailErrno();
    *position = r;
    return true;
}

bool PlatGetFileSize(PlatFile* file, uint64_t* size)
{
    if (!file)
        return Fail(PLAT_ERROR_INVALID_HANDLE);
    struct stat st;
    if (fstat(file->fd, &st) != 0)
        return FailErrno();
    *size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool PlatSetEndOfFile(PlatFile* file)
{
    int64_t position;
    if (!PlatGetFilePointer(file, &position))
        return false;
    if (ftruncate(file->fd, static_cast<off_t>(position)) != 0)
        return FailErrno();
    return true;
}

bool PlatFlushFileBuffers(PlatFile* file)
{
    if (!file)
        return Fail(PLAT_ERROR_INVALID_HANDLE);
    if (fsync(file->fd) != 0 && errno != EINVAL && errno != EROFS)
        return FailErrno();
    return true;
}

bool PlatGetFileTime(PlatFile* file, uint64_t* created, uint64_t* accessed, uint64_t* written)
{
    if (!file)
        return Fail(PLAT_ERROR_INVALID_HANDLE);
    struct statx stx;
    if (statx(file->fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0)
        return FailErrno();
    uint64_t w = Ticks(stx.stx_mtime.tv_sec, stx.stx_mtime.tv_nsec);
    if (written)
        *written = w;
    if (accessed)
        *accessed = Ticks(stx.stx_atime.tv_sec, stx.stx_atime.tv_nsec);
    if (created)
        *created = (stx.stx_mask & STATX_BTIME) ? Ticks(stx.stx_btime.tv_sec, stx.stx_btime.tv_nsec) : w;
    return true;
}

bool PlatSetFileTime(PlatFile* file, uint64_t accessed, uint64_t written)
{
    if (!file)
        return Fail(PLAT_ERROR_INVALID_HANDLE);
    struct timespec times[2];
    uint64_t ticks[2] = {accessed, written};
    for (int i = 0; i < 2; ++i) {
        if (ticks[i] == 0) {
            times[i].tv_sec = 0;
            times[i].tv_nsec = UTIME_OMIT;
        } else {
            int64_t t = static_cast<int64_t>(ticks[i] - PLAT_TICKS_1601_TO_1970);
            times[i].tv_sec = static_cast<time_t>(t / 10000000);
            times[i].tv_nsec = static_cast<long>((t % 10000000) * 100);
            if (times[i].tv_nsec < 0) {
                times[i].tv_sec -= 1;
                times[i].tv_nsec += 1000000000;
            }
        }
    }
    if (futimens(file->fd, times) != 0)
        return FailErrno();
    return true;
}

uint32_t PlatGetFileAttributes(const char* native)
{
    std::string posix;
    if (!ToPosix(native, posix))
        return PLAT_INVALID_ATTRIBUTES;
    struct stat link, st;
    if (lstat(posix.c_str(), &link) != 0) {
        FailErrnoOn(posix);
        return PLAT_INVALID_ATTRIBUTES;
    }
    if (!S_ISLNK(link.st_mode))
        return AttributesOf(LeafOf(posix), link);
    uint32_t attributes = stat(posix.c_str(), &st) == 0 ? AttributesOf(LeafOf(posix), st) : 0;
    return (attributes & ~PLAT_ATTR_NORMAL) | PLAT_ATTR_REPARSE_POINT;
}

bool PlatSetFileAttributes(const char* native, uint32_t attributes)
{
    std::string posix;
    if (!ToPosix(native, posix))
        return false;
    struct stat st;
    if (stat(posix.c_str(), &st) != 0)
        return FailErrnoOn(posix);
    mode_t mode = st.st_mode & 07777;
    if (attributes & PLAT_ATTR_READONLY) {
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    } else if (IsReadOnlyMode(mode)) {
        // Writable again: for the owner, and for whoever may read it as far as the process mask allows.
        const mode_t mask = CurrentUmask();
        mode |= S_IWUSR;
        if (mode & S_IRGRP)
            mode |= S_IWGRP & ~mask;
        if (mode & S_IROTH)
            mode |= S_IWOTH & ~mask;
    }
    if (mode != (st.st_mode & 07777) && chmod(posix.c_str(), mode) != 0)
        return FailErrno();
    return true;
}

bool PlatPathExists(const char* native)
{
    std::string posix;
    if (!ToPosix(native, posix))
        return false;
    if (access(posix.c_str(), F_OK) != 0)
        return FailErrnoOn(posix);
    return true;
}

bool PlatListFolder(const char* native, std::vector<PlatFindData>& entries)
{
    std::string posix;
    if (!ToPosix(native, posix))
        return false;
    DIR* dir = opendir(posix.c_str());
    if (!dir)
        return FailErrnoOn(posix);
    std::string nativeText(native);
    const bool driveRoot = nativeText.size() <= 3 && nativeText.size() >= 2 && nativeText[1] == ':';
    int dfd = dirfd(dir);
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (driveRoot && (name == "." || name == ".."))
            continue;
        struct stat link, st;
        if (fstatat(dfd, e->d_name, &link, AT_SYMLINK_NOFOLLOW) != 0)
            continue;  // vanished meanwhile
        uint32_t extra = 0;
        if (S_ISLNK(link.st_mode)) {
            extra = PLAT_ATTR_REPARSE_POINT;
            if (fstatat(dfd, e->d_name, &st, 0) != 0)
                st = link;  // a dangling link reads as a file
        } else {
            st = link;
        }
        uint32_t attributes = AttributesOf(name, st) | extra;
        if (extra && attributes != extra)
            attributes &= ~PLAT_ATTR_NORMAL;
        entries.push_back({name, attributes, static_cast<uint64_t>(st.st_size)});
    }
    closedir(dir);
    return true;
}

bool PlatCreateDirectory(const char* native)
{
    std::string posix;
    if (!ToPosix(native, posix))
        return false;
    if (mkdir(posix.c_str(), 0777) != 0)
        return FailErrnoOn(posix);
    return true;
}

bool PlatRemoveDirectory(const char* native)
{
    std::string posix;
    if (!ToPosix(native, posix))
        return false;
    if (rmdir(posix.c_str()) != 0)
        return FailErrnoOn(posix);
    return true;
}

bool PlatDeleteFile(const char* native)
{
    std::string posix;
    if (!ToPosix(native, posix))
        return false;
    struct stat st;
    if (lstat(posix.c_str(), &st) != 0)
        return FailErrnoOn(posix);
    if (S_ISDIR(st.st_mode))
        return Fail(PLAT_ERROR_ACCESS_DENIED);
    if (!S_ISLNK(st.st_mode) && IsReadOnlyMode(st.st_mode))
        return Fail(PLAT_ERROR_ACCESS_DENIED);
    if (unlink(posix.c_str()) != 0)
        return FailErrnoOn(posix);
    return true;
}

bool PlatMoveFile(const char* from, const char* to)
{
    std::string src, dst;
    if (!ToPosix(from, src) || !ToPosix(to, dst))
        return false;
    struct stat ss, ds;
    if (lstat(src.c_str(), &ss) != 0)
        return FailErrnoOn(src);
    if (lstat(dst.c_str(), &ds) == 0) {
        // The look-up found the source again under another case: rename to the name as written.
        if (ds.st_dev != ss.st_dev || ds.st_ino != ss.st_ino)
            return Fail(PLAT_ERROR_ALREADY_EXISTS);
        std::string literal = ParentOf(dst) + "/" + LeafOf(to);
        if (literal == src)
            return true;
        if (rename(src.c_str(), literal.c_str()) != 0)
            return FailErrno();
        return true;
    }
    if (renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EINVAL || errno == ENOSYS) {
        // The file system cannot refuse to replace; the target was missing a moment ago.
        if (rename(src.c_str(), dst.c_str()) == 0)
            return true;
    }
    if (errno == EEXIST)
        return Fail(PLAT_ERROR_ALREADY_EXISTS);
    if (errno == EXDEV && S_ISREG(ss.st_mode)) {
        if (!CopyFileContents(src, dst))
            return false;
        if (unlink(src.c_str()) != 0)
            return FailErrno();
        return true;
    }
    return FailErrnoOn(dst);
}

bool PlatReplaceFile(const char* from, const char* to)
{
    std::string src, dst;
    if (!ToPosix(from, src) || !ToPosix(to, dst))
        return false;
    struct stat ds;
    if (lstat(dst.c_str(), &ds) == 0 && !S_ISLNK(ds.st_mode) && IsReadOnlyMode(ds.st_mode))
        return Fail(PLAT_ERROR_ACCESS_DENIED);
    if (rename(src.c_str(), dst.c_str()) != 0)
        return FailErrnoOn(dst);
    return true;
}

bool PlatGetDiskFreeSpace(const char* native, uint64_t* freeBytes)
{
    std::string posix;
    if (!ToPosix(native, posix))
        return false;
    struct statvfs vfs;
    if (statvfs(posix.c_str(), &vfs) != 0)
        return FailErrnoOn(posix);
    *freeBytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    return true;
}

bool PlatGetTempFileName(const char* folder, const char* prefix, std::string* created)
{
    std::string posix;
    if (!ToPosix(folder, posix))
        return false;
    static std::atomic<uint32_t> counter{0};
    uint32_t seed = static_cast<uint32_t>(getpid()) * 2654435761u + static_cast<uint32_t>(time(nullptr));
    std::string pre = prefix ? std::string(prefix).substr(0, 3) : std::string();
    for (int attempt = 0; attempt < 65536; ++attempt) {
        char name[32];
        snprintf(name, sizeof name, "%s%04X.tmp", pre.c_str(), (seed + counter++) & 0xFFFF);
        std::string path = posix + "/" + name;
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            if (created)
                *created = std::string(folder) + "\\" + name;
            return true;
        }
        if (errno != EEXIST)
            return FailErrnoOn(path);
    }
    return Fail(PLAT_ERROR_FILE_EXISTS);
}

void PlatSetErrorModeFailCriticalErrors() {}
