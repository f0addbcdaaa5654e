#pragma once
// Device services of the stand-in: device-interface enumeration by class GUID, opening device paths,
// device-control requests with overlapped completion, and loading libraries at run time.
//
// These live in one shared library (libPlatformDevices.so) over the shared platform library, so that the
// program and every library it loads see one device table per process.
//
// Below them sits the provider seam (PlatformDeviceProvider.h): a provider lists the interfaces present now,
// opens a path into an endpoint, and completes the requests sent to the endpoint, at once or later from any
// thread. Hot-plug is a provider's list changing. The libraries named in PlatDeviceProviderLibraries() are
// loaded on first use of the enumeration or of an open.
//
// Request log: when the environment variable LUMO_DEVICE_LOG names a file, every device-control request
// appends one whole line to it when it completes (or fails before reaching a device):
//   "<pid> <path> code=0x<code> in=<bytes> out=<bytes> result=<error> returned=<bytes>"
// Lines are written with one append each, so processes may share the file.
#include <cstdint>
#include <string>
#include <vector>

#include "PlatformError.h"
#include "PlatformSync.h"

enum : uint32_t {
    PLAT_ERROR_INVALID_FUNCTION = 1,
    PLAT_ERROR_MOD_NOT_FOUND = 126,
    PLAT_ERROR_PROC_NOT_FOUND = 127,
    PLAT_ERROR_OPERATION_ABORTED = 995,
    PLAT_ERROR_IO_INCOMPLETE = 996,
    PLAT_ERROR_IO_PENDING = 997,
    PLAT_ERROR_DEVICE_NOT_CONNECTED = 1167,
};

struct PlatGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
bool operator==(const PlatGuid& a, const PlatGuid& b);
// "{5030D1C7-169B-4D1D-9F88-AB03B410CD0C}" (upper-case hexadecimal digits).
std::string PlatGuidText(const PlatGuid& guid);

// ---- Enumeration -------------------------------------------------------------------------------------------

enum : uint32_t {
    PLAT_DIGCF_PRESENT = 0x2,
    PLAT_DIGCF_ALLCLASSES = 0x4,
    PLAT_DIGCF_DEVICEINTERFACE = 0x10,
};

// One interface of a snapshot.
struct PlatDeviceInterfaceData {
    uint32_t cbSize;     // sizeof(PlatDeviceInterfaceData), set by the caller
    PlatGuid classGuid;  // the interface's class
    uint32_t flags;      // 1: active
    uintptr_t reserved;  // the interface's position in its snapshot
};

// The detail of one interface: cbSize is sizeof(PlatDeviceInterfaceDetail) (the fixed part), and the path
// (zero-terminated) runs on past the end of the record into the caller's buffer.
struct PlatDeviceInterfaceDetail {
    uint32_t cbSize;
    char devicePath[4];
};

// A snapshot of the interfaces present now, of one class (or of all with PLAT_DIGCF_ALLCLASSES). A handle,
// given back with PlatDestroyDeviceInfoList (or PlatCloseHandle); PLAT_INVALID_HANDLE_VALUE on failure.
PlatHandle PlatGetClassDevs(const PlatGuid* classGuid, uint32_t flags);
bool PlatDestroyDeviceInfoList(PlatHandle set);
// The index-th interface of the class in the snapshot; false with PLAT_ERROR_NO_MORE_ITEMS past the last.
bool PlatEnumDeviceInterfaces(PlatHandle set, const PlatGuid* classGuid, uint32_t index, PlatDeviceInterfaceData* data);
// The interface's path. Asked with a buffer too small (or none): false with PLAT_ERROR_INSUFFICIENT_BUFFER and
// *requiredSize = the bytes needed; the caller then allocates that much, sets detail->cbSize and asks again.
bool PlatGetDeviceInterfaceDetail(PlatHandle set, const PlatDeviceInterfaceData* data,
                                  PlatDeviceInterfaceDetail* detail, uint32_t detailSize, uint32_t* requiredSize);

// ---- Opening and requests ----------------------------------------------------------------------------------

enum : uint32_t {
    PLAT_FILE_FLAG_OVERLAPPED = 0x40000000,
};

// Opens a device path ("\\?\..." or "\\.\..."): the provider that knows the path opens it. Access and sharing
// are accepted and ignored. Requests on a handle opened without PLAT_FILE_FLAG_OVERLAPPED complete before
// the call returns, even with an overlapped record. PLAT_INVALID_HANDLE_VALUE on failure (PLAT_ERROR_FILE_NOT_FOUND
// for a path that no provider has now). Closed with PlatCloseHandle, which aborts the handle's requests still
// running (PLAT_ERROR_OPERATION_ABORTED).
PlatHandle PlatCreateDeviceFile(const char* path, uint32_t access, uint32_t share, uint32_t flags);

// The record of a request that may complete later. The caller keeps it, its event and the output buffer alive
// until the request has completed.
enum : uintptr_t { PLAT_OVERLAPPED_PENDING = ~static_cast<uintptr_t>(0) };
struct PlatOverlapped {
    uintptr_t internal;      // PLAT_OVERLAPPED_PENDING while the request runs, then its error code (0: success)
    uintptr_t internalHigh;  // bytes returned
    uint32_t offset;
    uint32_t offsetHigh;
    PlatHandle event;        // reset when the request starts, set when it completes (may be null)
};
inline bool PlatHasOverlappedIoCompleted(const PlatOverlapped* o)
{
    return __atomic_load_n(&o->internal, __ATOMIC_ACQUIRE) != PLAT_OVERLAPPED_PENDING;
}

// Sends a device-control request. The input is taken when the call is made; the output is filled when the
// request completes. Without a record the call waits for completion. With a record, on an overlapped handle:
//  - completed at once: true, the record filled and its event set, *returned = the bytes;
//  - still running: false with PLAT_ERROR_IO_PENDING;
//  - failed: false with the request's error (the record filled and its event set).
// A request on a handle whose device has gone fails with PLAT_ERROR_DEVICE_NOT_CONNECTED.
bool PlatDeviceIoControl(PlatHandle device, uint32_t code, const void* input, uint32_t inputSize, void* output,
                         uint32_t outputSize, uint32_t* returned, PlatOverlapped* overlapped);

// The result of an overlapped request: with `wait`, waits for its completion; without, false with
// PLAT_ERROR_IO_INCOMPLETE while it runs. Completed: *transferred = the bytes; false with the request's error when
// it failed.
bool PlatGetOverlappedResult(PlatHandle device, PlatOverlapped* overlapped, uint32_t* transferred, bool wait);

// ---- Run-time loading --------------------------------------------------------------------------------------

using PlatModule = void*;

// Loads a library by the system's file name: "Name.dll" (any case of ".dll", any folder in front) opens
// "libName.so" beside the executable, then beside the platform's own libraries (the build tree's lib folder),
// then on the library search path. Null with PLAT_ERROR_MOD_NOT_FOUND when
// neither has it. Each load needs one PlatFreeLibrary.
PlatModule PlatLoadLibrary(const char* name);
// An export by name; null with PLAT_ERROR_PROC_NOT_FOUND when the library has none of that name.
void* PlatGetProcAddress(PlatModule module, const char* name);
bool PlatFreeLibrary(PlatModule module);

// The names ("Name.dll") of the provider libraries loaded on first use. Each that loads must export
// `extern "C" void PlatDeviceProviderEntry()`, which registers its providers (PlatformDeviceProvider.h); those
// that are missing are skipped.
const std::vector<std::string>& PlatDeviceProviderLibraries();
// Loads one provider library and calls its entry (once per process: a library loaded again is left as it is); false with PLAT_ERROR_MOD_NOT_FOUND or, for a library
// without the entry, PLAT_ERROR_PROC_NOT_FOUND.
bool PlatLoadDeviceProvider(const char* name);
