#pragma once
// Camera discovery and connections: device names over every link, and one connection per device name.
// A device name is the link part, '@' and the device part ("1394@<interface path>", "USB@tool_OstraUSB0",
// "FILE@<path>"). Operations answer true (or a connection) on success and false (or null) on failure.
#include <atomic>
#include <cstdint>
#include <shared_mutex>

#include "KCamDevices.h"
#include "KCamLinkSupport.h"

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

// ---- The connection record ------------------------------------------------------------------------------------

struct Cam1394Device;
struct CamUsbDevice;
struct CamFileDevice;

// One per device name, made on first use from the connection pool and kept until the process ends.
struct CamConnection {
    void* freeLink;          // used while the record is in the pool
    uint32_t openCount;
    CamLock lock;            // open, re-open and close
    uint32_t platformCode;   // always 7
    uint32_t osVersionCode;
    int32_t deviceIndex;     // in the enumeration when the device was last opened; -1 when absent
    char name[kCamMaxDeviceName + 1];
    const char* devicePart;  // into name, past '@'
    uint32_t linkKind;
    const CamDriverRow* driverRow;  // kinds 1 and 2
    // The open device (at most one of them); changed only while `use` is held exclusively.
    Cam1394Device* device1394;
    CamUsbDevice* deviceUsb;
    CamFileDevice* fileDevice;
    CamConfigArea config;
    // Every transfer holds `use` shared for as long as it uses the device and the configuration area; a
    // re-open holds it exclusively, so no transfer ever runs on a device being closed.
    std::shared_mutex use;
    std::atomic<uint32_t> lastResult;
    std::atomic<double> lastResultTime;
};

// The first entry of `type` among the first (at most 50) entries of the configuration area; false when there
// is none or the area is not valid.
bool FindCameraConfigEntry(CamConnection* connection, uint32_t type, CamConfigEntry* entry);
// Whether the connection's link is served and a device is open on it.
bool IsCameraDeviceOpen(CamConnection* connection);

// ---- Waiting -------------------------------------------------------------------------------------------------

// The one time source of the camera protocol's waits and the links' retry pauses: sleeps `milliseconds` x the
// pace percentage / 100. The percentage is 100 unless the environment variable LUMO_CAMERA_PACE gives another
// (0 to 100), or a test sets it.
void CamWaitSleep(uint32_t milliseconds);
void SetCameraWaitPace(uint32_t percent);
