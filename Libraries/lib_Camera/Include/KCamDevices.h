#pragma once
// What the camera links share with the connection registry: the driver table and the camera configuration
// area that a device reports when it is opened.
#include <cstdint>

#include "PlatformDevices.h"

// One row per driver: the name, the driver name and the class of the device interfaces it publishes.
struct CamDriverRow {
    const char* name;
    const char* driverName;
    PlatGuid guid;
};

// The 1394 driver, the older 1394 driver (used only for its interface class) and the USB library.
inline constexpr CamDriverRow kCamDriverRows[3] = {
    {"K1394", "K1394Driver", {0x5030D1C7, 0x169B, 0x4D1D, {0x9F, 0x88, 0xAB, 0x03, 0xB4, 0x10, 0xCD, 0x0C}}},
    {"Qrl1394", "Qrl1394Driver", {0x951D5930, 0xC789, 0x11D3, {0x94, 0x08, 0x00, 0x90, 0x27, 0xCB, 0x05, 0x8D}}},
    {"KUSB", "tool_OstraUSB", {0x1BBF12A7, 0x1329, 0x41E0, {0x92, 0x30, 0x29, 0x35, 0xE5, 0xBE, 0x55, 0x8F}}},
};
inline constexpr const CamDriverRow* kCam1394DriverRow = &kCamDriverRows[0];
inline constexpr const CamDriverRow* kCamOlder1394DriverRow = &kCamDriverRows[1];
inline constexpr const CamDriverRow* kCamUsbDriverRow = &kCamDriverRows[2];

// Entry types of the configuration area that the host acts on.
enum : uint32_t {
    kCamEntryDataWindow = 0x20000,
    kCamEntryProtocolLevel = 0x40000,
    kCamEntryFastRead = 0x50000,
    kCamEntry60000 = 0x60000,
    kCamEntry70000 = 0x70000,
};
constexpr uint32_t kCamMaxConfigEntries = 50;

struct CamConfigEntry {
    uint32_t type, value1, value2, value3;
};

// The camera configuration area: 896 bytes of little-endian 32-bit words, as the 1394 driver returns it whole.
struct CamConfigArea {
    uint32_t baseLow, baseHigh;              // 0
    uint32_t magicLow, magicHigh;            // 8
    uint32_t entryCountLow, entryCountHigh;  // 16
    uint32_t entryTableLow, entryTableHigh;  // 24
    uint32_t magic;                          // 32
    uint32_t entryCount;                     // 36 (at most 50 are used)
    CamConfigEntry entries[kCamMaxConfigEntries];  // 40
    uint32_t swapFlag;                       // 840
    uint32_t unused844;
    uint32_t windowLow, windowHigh;          // 848: from entry 0x20000 (low 0, high = value 2)
    uint32_t window2Low, window2High;        // 856: low 0x08000000, high = value 2 of entry 0x20000
    uint32_t value3Of60000;                  // 864
    uint32_t value3Of70000;                  // 868
    uint32_t unused872;
    uint32_t value3Of50000;                  // 876
    uint32_t unused880[2];
    uint32_t areaValid;                      // 888: enables the swap flag and entry look-ups
    uint32_t areaRead;                       // 892: set when the magic quadlet was read
};
static_assert(sizeof(CamConfigArea) == 896, "the configuration area is 896 bytes");

// The initial values, before a device fills the area.
inline void ResetCamConfigArea(CamConfigArea* area) {
    *area = CamConfigArea{};
    area->baseLow = 0xF0010000;
    area->baseHigh = 0xFFFF;
    area->magicLow = 0xF0010000;
    area->magicHigh = 0xFFFF;
    area->entryCountLow = 0xF0010004;
    area->entryCountHigh = 0xFFFF;
    area->entryTableLow = 0xF0010010;
    area->entryTableHigh = 0xFFFF;
    area->swapFlag = 1;
    area->value3Of60000 = 128;
    area->value3Of70000 = 128;
    area->unused872 = 128;
    area->value3Of50000 = 128;
    area->areaValid = 1;
}
