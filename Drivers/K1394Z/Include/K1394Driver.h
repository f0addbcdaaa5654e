#pragma once
// The 1394 camera driver's frame and its device-control protocol: the entry point, one device per camera the
// bus reports, create, close and cleanup, the plug-and-play hooks, and the request header's dispatcher with its
// function table.
#include "K1394Device.h"

// {5030D1C7-169B-4D1D-9F88-AB03B410CD0C}: registered for every device, enabled when the device starts.
constexpr GUID K1394_INTERFACE_GUID = {0x5030D1C7, 0x169B, 0x4D1D, {0x9F, 0x88, 0xAB, 0x03, 0xB4, 0x10, 0xCD, 0x0C}};
constexpr ULONG K1394_DEVICE_TYPE = 0x8125;

// The nine control codes: device type 0x8125, functions 0x801 to 0x809, buffered, any access.
constexpr ULONG IOCTL_K1394_GET_NAME = CTL_CODE(K1394_DEVICE_TYPE, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_K1394_GET_GENERATION_COUNT = CTL_CODE(K1394_DEVICE_TYPE, 0x802, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_K1394_ASYNC_READ = CTL_CODE(K1394_DEVICE_TYPE, 0x803, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_K1394_ASYNC_WRITE = CTL_CODE(K1394_DEVICE_TYPE, 0x804, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_K1394_CAMERA_DRIVEN_READ = CTL_CODE(K1394_DEVICE_TYPE, 0x805, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_K1394_GET_CONFIGURATION_AREA = CTL_CODE(K1394_DEVICE_TYPE, 0x806, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_K1394_GET_CDT_AREA = CTL_CODE(K1394_DEVICE_TYPE, 0x807, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_K1394_READ_INTEGER = CTL_CODE(K1394_DEVICE_TYPE, 0x808, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_K1394_WRITE_INTEGER = CTL_CODE(K1394_DEVICE_TYPE, 0x809, METHOD_BUFFERED, FILE_ANY_ACCESS);

constexpr ULONG K1394_HEADER_SIZE = 84;
constexpr ULONG K1394_DEVICE_LOCK_WAIT_MS = 3000;

// ---- Driver core ------------------------------------------------------------------------------------------------
// The body of both builds' DriverEntry.
NTSTATUS K1394_DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);
NTSTATUS K1394_AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physicalDevice);
NTSTATUS K1394_CreateDevice(RK_DRIVER_EXTENSION* driverExtension, PDRIVER_OBJECT driver, PDEVICE_OBJECT physicalDevice,
                            ULONG number, PDEVICE_OBJECT* deviceObject);
void K1394_DeleteDevice(PDEVICE_OBJECT deviceObject);
NTSTATUS K1394_Create(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS K1394_Close(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS K1394_Cleanup(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS Rk1394PnpDispatch(PDEVICE_OBJECT device, PIRP irp);
void K1394_DriverUnload(PDRIVER_OBJECT driver);
// The number the next device receives (0 before the entry ran).
ULONG K1394NextDeviceNumber();

// The device lock: waited for at most `milliseconds` (0 = no limit). The table dispatch claims the busy flag
// before it waits for the lock and clears it after the handler, so that of two requests only one ever waits.
bool K1394AcquireDeviceLock(PK1394_DEVICE_EXTENSION device, ULONG milliseconds);
void K1394ReleaseDeviceLock(PK1394_DEVICE_EXTENSION device);

// ---- Device-control protocol ------------------------------------------------------------------------------------
using K1394_HANDLER = void (*)(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header);

struct K1394_FUNCTION {
    ULONG Code;
    K1394_HANDLER Handler;
    const char* Name;
    ULONG MinimumInput;
    ULONG MinimumOutput;
    // Payload bytes the handler reads or writes whatever the header says: the request's real buffer must hold them.
    ULONG PayloadRead;
    ULONG PayloadWritten;
};
// The nine rows in the table's order, then a row whose code is 0.
extern const K1394_FUNCTION g_K1394Functions[];

// The request's buffer as the driver may touch it.
struct K1394_REQUEST_BUFFER {
    K1394_REQUEST_HEADER* Header;  // null: no valid header
    ULONGLONG InputLength;         // of the request
    ULONGLONG OutputLength;
    ULONGLONG Accessible;          // bytes of the buffer the header lies in
};

NTSTATUS K1394_DeviceControl(PDEVICE_OBJECT device, PIRP irp);
// The header of a device-control request, or a buffer without one.
K1394_REQUEST_BUFFER ValidateRequestHeader(PIRP irp);
// Runs the header's function under the device lock; false when no handler ran.
bool DispatchRequestHeader(PK1394_DEVICE_EXTENSION device, const K1394_FUNCTION* table, const K1394_REQUEST_BUFFER& buffer);

void K1394_GetName(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header);
void K1394_GetGenerationCount(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header);
void K1394_GetQuarelConfigurationArea(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header);
void K1394_GetCameraDrivenTransferArea(PK1394_DEVICE_EXTENSION device, K1394_REQUEST_HEADER* header);
