#pragma once
// Error codes of the stand-in and the calling thread's last error, in the shape the system's classes expect:
// a call that fails returns its failure value (null handle, false, ...) and leaves the reason here.
#include <cstdint>

enum : uint32_t {
    PLAT_ERROR_SUCCESS = 0,
    PLAT_ERROR_FILE_NOT_FOUND = 2,
    PLAT_ERROR_PATH_NOT_FOUND = 3,
    PLAT_ERROR_TOO_MANY_OPEN_FILES = 4,
    PLAT_ERROR_ACCESS_DENIED = 5,
    PLAT_ERROR_INVALID_HANDLE = 6,
    PLAT_ERROR_NOT_ENOUGH_MEMORY = 8,
    PLAT_ERROR_WRITE_PROTECT = 19,
    PLAT_ERROR_GEN_FAILURE = 31,
    PLAT_ERROR_FILE_EXISTS = 80,
    PLAT_ERROR_INVALID_PARAMETER = 87,
    PLAT_ERROR_DISK_FULL = 112,
    PLAT_ERROR_INSUFFICIENT_BUFFER = 122,
    PLAT_ERROR_DIR_NOT_EMPTY = 145,
    PLAT_ERROR_BUSY = 170,
    PLAT_ERROR_ALREADY_EXISTS = 183,
    PLAT_ERROR_FILENAME_EXCED_RANGE = 206,
    PLAT_ERROR_NO_MORE_ITEMS = 259,
    PLAT_ERROR_NOT_OWNER = 288,
};

// The last error set on this thread (PLAT_ERROR_SUCCESS at first).
uint32_t PlatGetLastError();
void PlatSetLastError(uint32_t error);

// The code that stands for a POSIX errno value (PLAT_ERROR_GEN_FAILURE for those without one).
uint32_t PlatErrorFromErrno(int err);

// Sets the code that stands for the POSIX error err (or the given code) and keeps err for the reason.
void PlatSetLastErrno(int err);
void PlatSetLastErrno(int err, uint32_t code);
// Sets a code with the reason text that goes with it (a static text).
void PlatSetLastErrorText(uint32_t error, const char* reason);
// The system's own words for this thread's last error ("Permission denied", "Read-only file system", ...): the
// text of the POSIX error that caused it, else the text set with the code, else a text for the code. Valid until
// the thread's next call here.
const char* PlatGetLastErrorReason();
