#pragma once
// OstraUsb: user-mode access to a USB camera through the USB kernel driver. Every export is one
// device-control request to the driver (or an operation on the shared trace buffer).
//
// Results: the transfer, descriptor and query exports answer a Win32 error code, 0 on success: 87 invalid
// parameter, 122 buffer too small, 8 out of memory, 997 pending (overlapped exports), any other the system's
// code for the request; the driver's USB failures are 0xE0100001 and up. The trace writers answer HRESULTs.
//
// Programs load the library by its file name ("OstraUsb.dll") and take these exports by name; the types of
// the pointers they take them into are below.
#include <cstdint>

#include "PlatformDevices.h"

struct PlatWindow;

enum : uint32_t {
    OSTRA_MAX_CONTROL_LENGTH = 1536,
    OSTRA_TRACE_SLOTS = 5,
    OSTRA_TRACE_SLOT_TEXT = 4096,
    OSTRA_TRACE_SLOT_BYTES = 4100,  // a slot as WaitForTrace copies it: the 4-byte used length, then the text
    OSTRA_ISO_RECORD_SIZE = 16,     // the smallest packet record of an isochronous buffer
};

// The driver's USB failures.
enum : uint32_t {
    OSTRA_USB_CRC = 0xE0100001,
    OSTRA_USB_BTSTUFF = 0xE0100002,
    OSTRA_USB_DATA_TOGGLE_MISMATCH = 0xE0100003,
    OSTRA_USB_STALL_PID = 0xE0100004,
    OSTRA_USB_DEV_NOT_RESPONDING = 0xE0100005,
    OSTRA_USB_PID_CHECK_FAILURE = 0xE0100006,
    OSTRA_USB_UNEXPECTED_PID = 0xE0100007,
    OSTRA_USB_DATA_OVERRUN = 0xE0100008,
    OSTRA_USB_DATA_UNDERRUN = 0xE0100009,
    OSTRA_USB_BUFFER_OVERRUN = 0xE010000C,
    OSTRA_USB_BUFFER_UNDERRUN = 0xE010000D,
    OSTRA_USB_ENDPOINT_HALTED = 0xE0100030,
    OSTRA_USB_ISOCH_REQUEST_FAILED = 0xE0100B00,
};

// HRESULTs of the trace writers and the results of WaitForTrace.
enum : uint32_t {
    OSTRA_S_OK = 0,
    OSTRA_E_ACCESSDENIED = 0x80070005,
    OSTRA_E_INVALIDARG = 0x80070057,
    OSTRA_WAIT_TIMEOUT = 258,
    OSTRA_WAIT_ABANDONED = 128,
    OSTRA_ERROR_BADKEY = 1010,
};

// The driver's requests (device type 0x8000, function 0x800 and up).
enum : uint32_t {
    OSTRA_IOCTL_BULK = 0x80002001,
    OSTRA_IOCTL_CONTROL = 0x80002005,
    OSTRA_IOCTL_INTERRUPT = 0x80002009,
    OSTRA_IOCTL_ISOCHRONOUS = 0x8000200D,
    OSTRA_IOCTL_DEVICE_DESCRIPTOR = 0x80002010,
    OSTRA_IOCTL_CONFIGURATION_DESCRIPTOR = 0x80002014,
    OSTRA_IOCTL_INTERFACE_DESCRIPTOR = 0x80002018,
    OSTRA_IOCTL_ENDPOINT_DESCRIPTOR = 0x8000201C,
    OSTRA_IOCTL_STRING_DESCRIPTOR = 0x80002020,
    OSTRA_IOCTL_DRIVER_VERSION = 0x80002024,
    OSTRA_IOCTL_CLEAR_STALL = 0x80002028,
    OSTRA_IOCTL_LANGUAGE_IDS = 0x8000203C,
    OSTRA_IOCTL_NUMBER_OF_LANGUAGE_IDS = 0x80002040,
    OSTRA_IOCTL_STRING_DESCRIPTOR_LENGTH = 0x80002044,
    OSTRA_IOCTL_SELECT_INTERFACE = 0x80002048,
    OSTRA_IOCTL_INTERFACE_GUID = 0x8000204C,
    OSTRA_IOCTL_LINK_NAME = 0x80002050,
};

extern "C" {

// ---- Devices and transfers (flags are 0 or not 0) ----------------------------------------------------------

// Opens "\\.\" + linkName + instance in decimal; PLAT_INVALID_HANDLE_VALUE on failure.
PlatHandle OstraOpenHandle(const char* linkName, uint32_t instance, int32_t exclusive);
// Opens the memberIndex-th present device of the interface class; PLAT_INVALID_HANDLE_VALUE on failure.
PlatHandle OstraOpenGuidHandle(const PlatGuid* interfaceClass, uint32_t memberIndex, int32_t exclusive);
int32_t OstraCloseHandle(PlatHandle handle);

uint32_t OstraBulkTransfer(PlatHandle handle, uint8_t endpoint, uint32_t length, void* buffer, uint32_t* returned);
uint32_t OstraInterruptTransfer(PlatHandle handle, uint8_t endpoint, uint32_t length, void* buffer,
                                uint32_t* returned);
// requestType without the direction bit; the direction is hostToDevice. length at most 1536.
uint32_t OstraControlTransfer(PlatHandle handle, uint8_t requestType, uint8_t request, uint16_t value,
                              uint16_t index, int32_t hostToDevice, uint32_t length, void* buffer,
                              uint32_t* returned);
// The buffer: one packet record per packet (the first 4 bytes give the record size, at least 16), then the
// packets' data; it must hold packets x (packetSize + record size) bytes.
uint32_t OstraIsochronousTransfer(PlatHandle handle, uint8_t endpoint, uint32_t packets, uint32_t packetSize,
                                  uint32_t bufferLength, void* buffer, uint32_t* returned);

uint32_t OstraAsynchBulkTransfer(PlatHandle handle, uint8_t endpoint, uint32_t length, void* buffer,
                                 uint32_t* returned, PlatOverlapped* overlapped);
uint32_t OstraAsynchInterruptTransfer(PlatHandle handle, uint8_t endpoint, uint32_t length, void* buffer,
                                      uint32_t* returned, PlatOverlapped* overlapped);
uint32_t OstraAsynchControlTransfer(PlatHandle handle, uint8_t requestType, uint8_t request, uint16_t value,
                                    uint16_t index, int32_t hostToDevice, uint32_t length, void* buffer,
                                    uint32_t* returned, PlatOverlapped* overlapped);
uint32_t OstraAsynchIsochronousTransfer(PlatHandle handle, uint8_t endpoint, uint32_t packets,
                                        uint32_t packetSize, uint32_t bufferLength, void* buffer,
                                        uint32_t* returned, PlatOverlapped* overlapped);
// 997 while the overlapped request runs, else its result (and *returned its bytes), without waiting.
uint32_t OstraCheckAsynchCompletion(PlatHandle handle, uint32_t* returned, PlatOverlapped* overlapped);

uint32_t OstraGetDeviceDescriptor(PlatHandle handle, void* descriptor18);
uint32_t OstraGetConfigDescriptor(PlatHandle handle, void* descriptor9);
uint32_t OstraGetInterfaceDescriptor(PlatHandle handle, void* descriptor9);
uint32_t OstraGetEndpointDescriptor(PlatHandle handle, uint8_t endpointIndex, void* descriptor7);
uint32_t OstraGetDriverVersion(PlatHandle handle, uint32_t* major, uint32_t* minor);
uint32_t OstraClearStall(PlatHandle handle, uint8_t endpoint);
uint32_t OstraGetNumberOfLanguageIds(PlatHandle handle, uint16_t* count);
uint32_t OstraGetLanguageIds(PlatHandle handle, uint16_t count, uint16_t* ids);
uint32_t OstraGetStringDescriptorLength(PlatHandle handle, uint16_t languageId, uint32_t index, uint32_t* length);
// Writes at most stringLength bytes of the string in the ANSI code page, without a terminating zero.
uint32_t OstraGetStringDescriptor(PlatHandle handle, uint16_t languageId, uint32_t index, uint32_t stringLength,
                                  char* text);
uint32_t OstraSelectInterface(PlatHandle handle, uint32_t interfaceNumber, uint32_t alternateSetting);
uint32_t OstraGetGuid(PlatHandle handle, PlatGuid* interfaceClass);
// Writes at most stringLength bytes of the link name in the ANSI code page, without a terminating zero.
uint32_t OstraGetLinkname(PlatHandle handle, uint32_t stringLength, char* text);

// ---- Device notification ------------------------------------------------------------------------------------

void* OstraRegisterDeviceNotification(PlatWindow* recipient, const void* filter, uint32_t flags);
int32_t OstraUnregisterDeviceNotification(void* notification);

// ---- The shared trace buffer --------------------------------------------------------------------------------

// False unless key is the read owner key; disabling clears the buffer.
int32_t OstraUsbEnableTracing(uint32_t key, int32_t enable);
void OstraClearTraceBuffer(void);
// False when another key holds the read ownership and force is 0.
int32_t OstraSetReadTraceOwnerKey(uint32_t key, int32_t force);
int32_t OstraReleaseReadTraceOwnerKey(uint32_t key);
// Writes min(length of text, maximumCount) characters (at most 4096) while tracing is enabled.
uint32_t OstraUsbTrace(const char* text, uint32_t maximumCount);
uint32_t OstraUsbPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Waits up to milliseconds for slot (-1: the oldest) and copies its 4100 bytes into slotBuffer; *nextSlot and
// *length tell where to go on. 0, 258 (time-out, or the buffer was cleared), 128, 1010 (not the owner key),
// E_INVALIDARG, E_ACCESSDENIED or the system's error.
uint32_t WaitForTrace(int32_t slot, uint32_t reserved, uint32_t milliseconds, void* slotBuffer, int32_t* nextSlot,
                      uint32_t* length, uint32_t ownerKey);

// ---- In-process server --------------------------------------------------------------------------------------

int32_t DllCanUnloadNow(void);
int32_t DllGetClassObject(const PlatGuid* classId, const PlatGuid* interfaceId, void** object);
int32_t DllRegisterServer(void);
int32_t DllUnregisterServer(void);

}  // extern "C"
