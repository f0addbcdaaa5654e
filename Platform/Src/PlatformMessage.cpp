#include "PlatformMessage.h"

#include <cstring>

#include "PlatformError.h"

namespace {

struct Message {
    uint32_t code;
    const char* text;
};

constexpr Message kMessages[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough storage is available to process this command."},
    {19, "The media is write protected."},
    {31, "A device attached to the system is not functioning."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {122, "The data area passed to a system call is too small."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {145, "The directory is not empty."},
    {170, "The requested resource is in use."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {259, "No more data is available."},
    {288, "Attempt to release mutex not owned by caller."},
    {317, "The system cannot find message text for the message number."},
    {995, "The I/O operation has been aborted because of either a thread exit or an application request."},
    {996, "Overlapped I/O event is not in a signaled state."},
    {997, "Overlapped I/O operation is in progress."},
    {1010, "The configuration registry key is invalid."},
    {1167, "The device is not connected."},
};

}  // namespace

uint32_t PlatFormatMessage(uint32_t code, char* buffer, uint32_t size)
{
    if (!buffer || size == 0) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return 0;
    }
    for (const Message& m : kMessages) {
        if (m.code != code)
            continue;
        const size_t n = strlen(m.text);
        size_t copy = n + 2 < size ? n + 2 : size - 1;
        char full[256];
        memcpy(full, m.text, n);
        memcpy(full + n, "\r\n", 2);
        memcpy(buffer, full, copy);
        buffer[copy] = '\0';
        PlatSetLastError(PLAT_ERROR_SUCCESS);
        return static_cast<uint32_t>(copy);
    }
    buffer[0] = '\0';
    PlatSetLastError(PLAT_ERROR_MR_MID_NOT_FOUND);
    return 0;
}
