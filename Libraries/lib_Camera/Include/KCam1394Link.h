#pragma once
// The 1394 link: camera register blocks through the 1394 camera driver's device-control requests.
// Operations answer 1/true (or a device) on success and 0/false (or null) on failure; nothing is thrown.
#include <cstdint>

#include "KCamDevices.h"

struct Cam1394Device;

// Present device interfaces of the driver (the older driver's class when the first has none).
uint32_t Count1394Devices();
// The device path of the interface at `index`, zero-terminated; false when out of range or when it does not fit.
bool Get1394DeviceName(uint32_t index, char* path, uint32_t capacity);

Cam1394Device* Open1394Device(const CamDriverRow* row, const char* path);
bool Close1394Device(Cam1394Device* device);
// True when the device answered the identification with "QRL1394" (requests carry the payload only).
bool Is1394PayloadOnly(const Cam1394Device* device);

int Read1394Block(Cam1394Device* device, uint32_t low, uint32_t high, void* buffer, uint32_t length);
int FastRead1394Block(Cam1394Device* device, uint32_t low, uint32_t high, void* buffer, uint32_t length);
int Write1394Block(Cam1394Device* device, uint32_t low, uint32_t high, const void* buffer, uint32_t length);
// Copies the device's 896-byte configuration area over `area`.
int Read1394ConfigurationArea(Cam1394Device* device, CamConfigArea* area);
