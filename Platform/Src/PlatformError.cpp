#include "PlatformError.h"

#include <cerrno>
#include <cstring>

namespace {
thread_local uint32_t t_LastError = PLAT_ERROR_SUCCESS;
thread_local int t_LastErrno = 0;
thread_local const char* t_LastText = nullptr;
thread_local char t_ReasonBuffer[256];

// The POSIX error that a code stands for, for its text.
int ErrnoOfCode(uint32_t error)
{
    switch (error) {
    case PLAT_ERROR_FILE_NOT_FOUND:
    case PLAT_ERROR_PATH_NOT_FOUND: return ENOENT;
    case PLAT_ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case PLAT_ERROR_ACCESS_DENIED: return EACCES;
    case PLAT_ERROR_INVALID_HANDLE: return EBADF;
    case PLAT_ERROR_NOT_ENOUGH_MEMORY: return ENOMEM;
    case PLAT_ERROR_WRITE_PROTECT: return EROFS;
    case PLAT_ERROR_FILE_EXISTS:
    case PLAT_ERROR_ALREADY_EXISTS: return EEXIST;
    case PLAT_ERROR_INVALID_PARAMETER: return EINVAL;
    case PLAT_ERROR_DISK_FULL: return ENOSPC;
    case PLAT_ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
    case PLAT_ERROR_BUSY: return EBUSY;
    case PLAT_ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case PLAT_ERROR_NOT_OWNER: return EPERM;
    default: return 0;
    }
}
}  // namespace

uint32_t PlatGetLastError()
{
    return t_LastError;
}

void PlatSetLastError(uint32_t error)
{
    t_LastError = error;
    t_LastErrno = 0;
    t_LastText = nullptr;
}

void PlatSetLastErrno(int err)
{
    PlatSetLastErrno(err, PlatErrorFromErrno(err));
}

void PlatSetLastErrno(int err, uint32_t code)
{
    t_LastError = code;
    t_LastErrno = err;
    t_LastText = nullptr;
}

void PlatSetLastErrorText(uint32_t error, const char* reason)
{
    t_LastError = error;
    t_LastErrno = 0;
    t_LastText = reason;
}

const char* PlatGetLastErrorReason()
{
    if (t_LastText != nullptr)
        return t_LastText;
    const int err = t_LastErrno != 0 ? t_LastErrno : ErrnoOfCode(t_LastError);
    if (err == 0)
        return t_LastError == PLAT_ERROR_SUCCESS ? "Success" : "System error";
    return strerror_r(err, t_ReasonBuffer, sizeof t_ReasonBuffer);
}

uint32_t PlatErrorFromErrno(int err)
{
    switch (err) {
    case 0:
        return PLAT_ERROR_SUCCESS;
    case ENOENT:
        return PLAT_ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return PLAT_ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
        return PLAT_ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EROFS:
        return PLAT_ERROR_ACCESS_DENIED;
    case EBADF:
        return PLAT_ERROR_INVALID_HANDLE;
    case ENOMEM:
        return PLAT_ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST:
        return PLAT_ERROR_ALREADY_EXISTS;
    case EINVAL:
        return PLAT_ERROR_INVALID_PARAMETER;
    case ENOSPC:
    case EDQUOT:
        return PLAT_ERROR_DISK_FULL;
    case ENOTEMPTY:
        return PLAT_ERROR_DIR_NOT_EMPTY;
    case EBUSY:
        return PLAT_ERROR_BUSY;
    case ENAMETOOLONG:
        return PLAT_ERROR_FILENAME_EXCED_RANGE;
    default:
        return PLAT_ERROR_GEN_FAILURE;
    }
}
