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
// Copies the device's 896-byte configuration area over `area`, its entry count cut to 50.
int Read1394ConfigurationArea(Cam1394Device* device, CamConfigArea* area);

// One attempt of one request. `request` is a request buffer of the device: an 84-byte header of little-endian
// 32-bit words (function code at +12, address low/high at +16/+20, input and output payload sizes at +24/+28,
// payload capacity at +32) and the payload from +84, in capacity + 84 + 32 bytes. Fills the magic and the
// sequence number, sends it in the device's form, and leaves the status (+72), the success flag (+76) and the
// payload returned (+28) in the header; true when the request succeeded.
bool Send1394Request(Cam1394Device* device, uint8_t* request);
// The status word of the device's last request (0x80000011: busy).
uint32_t Get1394LastStatus(const Cam1394Device* device);
