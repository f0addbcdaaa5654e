#pragma once
// The FILE link: a camera's register spaces emulated in an ordinary file, so that register and block accesses
// become reads and writes at fixed offsets of that file.
#include <cstdint>

struct CamFileDevice;

// Opens the file of a "FILE@path" device (a path beginning with '/' is a POSIX path, any other a native one),
// creating it only when none exists; an existing file that cannot be read and written (read-only, a folder)
// fails. Then "1394" is written at 0xFFFF:0xF0000404. Null on failure, with the platform's last error set.
CamFileDevice* OpenFileDevice(const char* path);
void CloseFileDevice(CamFileDevice* device);

// The file offset of an address; false for an address outside the emulated spaces.
bool MapFileDeviceAddress(uint32_t low, uint32_t high, uint64_t* offset);

// Block transfers: 1 when every byte was moved, else 0. Before the transfer a file shorter than the offset is
// padded with spaces up to it.
int ReadFileDeviceBlock(CamFileDevice* device, uint32_t low, uint32_t high, void* buffer, uint32_t length);
int WriteFileDeviceBlock(CamFileDevice* device, uint32_t low, uint32_t high, const void* buffer, uint32_t length);

// The FILE device list (empty).
uint32_t CountFileDevices();
const char* GetFileDeviceName(uint32_t index);
