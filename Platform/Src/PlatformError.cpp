#include "PlatformError.h"

#include <cerrno>

namespace {
thread_local uint32_t t_LastError = PLAT_ERROR_SUCCESS;
}

uint32_t PlatGetLastError()
{
    return t_LastError;
}

void PlatSetLastError(uint32_t error)
{
    t_LastError = error;
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
