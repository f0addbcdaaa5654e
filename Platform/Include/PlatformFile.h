#pragma once
// Files and folders by native path (Windows-shaped, UTF-8; see PlatformPath.h). Every call that fails sets
// the thread's last error (PlatformError.h).
//
// Differences from the original platform, where they matter to callers:
// - Sharing modes are accepted and ignored: Linux has no sharing violations, so an open never fails because
//   another handle has the file open, and a file in use can be deleted or renamed.
// - The read-only attribute is "no write permission bit". It is enforced here even for a privileged user: a
//   read-only file cannot be opened for writing nor deleted (renaming is allowed, as on the original).
// - The hidden attribute is a name beginning with "."; it cannot be set.
// - File times are in 100-ns ticks since 1601-01-01 UTC; the creation time comes from the file system where it
//   records one, else it is the last-write time.
#include <cstdint>
#include <string>
#include <vector>

struct PlatFile;  // an open file (the stand-in's handle)

enum : uint32_t {
    PLAT_GENERIC_READ = 1,
    PLAT_GENERIC_WRITE = 2,  // implies read
};
enum : uint32_t {
    PLAT_SHARE_READ = 1,
    PLAT_SHARE_WRITE = 2,
};
enum : uint32_t {
    PLAT_CREATE_ALWAYS = 2,  // created, or emptied when it exists
    PLAT_OPEN_EXISTING = 3,
    PLAT_OPEN_ALWAYS = 4,    // opened, or created when missing
};
enum : uint32_t {
    PLAT_ATTR_READONLY = 0x1,
    PLAT_ATTR_HIDDEN = 0x2,
    PLAT_ATTR_DIRECTORY = 0x10,
    PLAT_ATTR_NORMAL = 0x80,
    PLAT_ATTR_REPARSE_POINT = 0x400,  // a symbolic link (its other attributes are those of its target)
};
constexpr uint32_t PLAT_INVALID_ATTRIBUTES = 0xFFFFFFFFu;
// Seconds between 1601-01-01 and 1970-01-01, in ticks.
constexpr uint64_t PLAT_TICKS_1601_TO_1970 = 116444736000000000ull;

// Opens or creates a file; null on failure (a folder cannot be opened: ACCESS_DENIED).
PlatFile* PlatCreateFile(const char* native, uint32_t access, uint32_t share, uint32_t disposition);
bool PlatCloseFile(PlatFile* file);
// Reads up to count bytes; *done = bytes read (0 at the end). False only on an error.
bool PlatReadFile(PlatFile* file, void* buffer, uint32_t count, uint32_t* done);
// Writes count bytes; false (with *done the bytes written) when not all of them could be written.
bool PlatWriteFile(PlatFile* file, const void* buffer, uint32_t count, uint32_t* done);
// Moves to an absolute position (64-bit); *newPosition (may be null) receives it.
bool PlatSetFilePointer(PlatFile* file, int64_t position, int64_t* newPosition);
bool PlatGetFilePointer(PlatFile* file, int64_t* position);
bool PlatGetFileSize(PlatFile* file, uint64_t* size);
// Makes the current position the end of the file.
bool PlatSetEndOfFile(PlatFile* file);
// Pushes the file's data to the medium.
bool PlatFlushFileBuffers(PlatFile* file);
bool PlatGetFileTime(PlatFile* file, uint64_t* created, uint64_t* accessed, uint64_t* written);
// Sets the last-write and last-access times (ticks; 0 leaves a time unchanged).
bool PlatSetFileTime(PlatFile* file, uint64_t accessed, uint64_t written);
// What tells the file at a path from any other: device, inode, size and last-write time (100-ns ticks since
// 1601). False when the path names no file.
struct PlatFileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    uint64_t writtenTicks = 0;
};
bool PlatGetFileIdentity(const char* native, PlatFileIdentity* identity);

uint32_t PlatGetFileAttributes(const char* native);
// Only PLAT_ATTR_READONLY is acted on.
bool PlatSetFileAttributes(const char* native, uint32_t attributes);
// The existence test (the C library's access with mode 0).
bool PlatPathExists(const char* native);

struct PlatFindData {
    std::string name;     // UTF-8
    uint32_t attributes;  // PLAT_ATTR_*
    uint64_t size;
};
// Lists a folder as the system does (a symbolic link carries PLAT_ATTR_REPARSE_POINT), "." and ".." included (never for a drive root), in the system's order.
bool PlatListFolder(const char* native, std::vector<PlatFindData>& entries);

// Fails with ALREADY_EXISTS when something of that name exists.
bool PlatCreateDirectory(const char* native);
// Only an empty folder.
bool PlatRemoveDirectory(const char* native);
// A file (not a folder); a read-only file is refused with ACCESS_DENIED.
bool PlatDeleteFile(const char* native);
// Renames or moves a file or folder; fails with ALREADY_EXISTS when the new name exists (a change of case only
// is allowed). Across file systems a file is copied and the original removed.
bool PlatMoveFile(const char* from, const char* to);
// Renames a file over another, replacing it in one step (both in the same folder or file system).
bool PlatReplaceFile(const char* from, const char* to);
// Bytes free for the calling user on the volume that holds the path.
bool PlatGetDiskFreeSpace(const char* native, uint64_t* freeBytes);
// Creates a new empty file with a unique name (prefix, then digits, then ".tmp") in a folder; *created (may be
// null) receives its native path.
bool PlatGetTempFileName(const char* folder, const char* prefix, std::string* created);
// The process error mode (no dialog for a missing disk): kept for the call shape; nothing shows dialogs here.
void PlatSetErrorModeFailCriticalErrors();
