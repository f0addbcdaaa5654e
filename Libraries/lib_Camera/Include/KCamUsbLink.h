#pragma once
// The USB link: camera register blocks over vendor control requests and bulk transfers through the USB
// library, bound at run time. Operations answer 1/true (or a device) on success and 0/false (or null) on
// failure; nothing is thrown.
#include <cstdint>

#include "KCamDevices.h"

struct CamUsbDevice;

// Binds the library once; true while bound.
bool BindUsbLibrary();
uint32_t CountUsbDevices();
// "tool_OstraUSB" and the decimal index; false when not bound or when it does not fit.
bool GetUsbDeviceName(uint32_t index, char* part, uint32_t capacity);
// The decimal number after "tool_OstraUSB".
bool ParseUsbDeviceIndex(const char* part, uint32_t* index);

CamUsbDevice* OpenUsbDevice(const CamDriverRow* row, const char* part);
bool CloseUsbDevice(CamUsbDevice* device);

int ReadUsbBlock(CamUsbDevice* device, uint32_t low, uint32_t high, void* buffer, uint32_t length);
int WriteUsbBlock(CamUsbDevice* device, uint32_t low, uint32_t high, const void* buffer, uint32_t length);
int ReadUsbInteger(CamUsbDevice* device, uint32_t low, uint32_t high, uint32_t* value);
// Fills `area` (already reset to its initial values) from the camera; answers the area-read flag.
uint32_t ReadConfigurationArea(CamUsbDevice* device, CamConfigArea* area);
