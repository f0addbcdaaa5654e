#pragma once
// Camera discovery and connections: device names over every link, and one connection per device name.
// A device name is the link part, '@' and the device part ("1394@<interface path>", "USB@tool_OstraUSB0",
// "FILE@<path>"). Operations answer true (or a connection) on success and false (or null) on failure.
#include <cstdint>

struct CamConnection;

enum : uint32_t {
    kCamLinkNone = 0,
    kCamLink1394 = 1,
    kCamLinkUsb = 2,
    kCamLinkFile = 3,
    kCamLinkTcp = 4,
};
constexpr uint32_t kCamMaxDeviceName = 511;

bool InitCameraRegistry();
uint32_t CountCameraDevices();
// The name at `index` of the enumeration (1394, then USB, then FILE), zero-terminated.
bool GetCameraDeviceName(uint32_t index, char* name, uint32_t capacity);
// The names joined by "\n" while they fit; `size` returns the bytes needed with the terminating zero.
uint32_t ListCameraDeviceNames(char* buffer, uint32_t* size);
int32_t FindCameraDeviceIndex(const char* name);
uint32_t GetLinkKind(const char* name);

// A null name opens the first camera that can be opened.
CamConnection* OpenCamera(const char* name);
bool CloseCamera(CamConnection* connection);
bool IsCameraAlive(CamConnection* connection);
bool ReopenCamera(CamConnection* connection);
