#pragma once
// The camera's files by device name and camera path: the operations the camera storage class calls.
//
// A camera name is a device name ("USB@tool_OstraUSB0"), or null or empty for the first camera that opens. When
// no live camera answers, the virtual camera stands in: the folder "VirtualCamera" in the working directory,
// while it holds a file named "Connected", under the name "<<<VirtualCamera>>>" (and for a null or empty name).
// Its camera path "/cf/a.kzr" is the file "VirtualCamera/cf/a.kzr"; ".." is refused.
//
// A path holding '*' or '?' is a listing pattern: reading it gives one line per matching entry,
// "path\tsize\ttime\tflags\n" (flags: "D" folder, "L" locked, "M" marked). The path "/debug/console" (any case)
// reaches the camera's debug console: read and write its text, and delete releases the host lock.
//
// Attribute flags: bit 0 lock, bit 1 mark. Operations report failure by false or 0 and throw nothing.
#include <cstddef>
#include <cstdint>

constexpr const char kVirtualCameraName[] = "<<<VirtualCamera>>>";
// The most bytes of listing text the virtual camera builds.
constexpr uint32_t kCamListingCapacity = 128000;

enum : uint32_t {
    kCamAttrLock = 0x1,
    kCamAttrMark = 0x2,
};

// The camera names joined by "\n" (the virtual camera last) into buffer (may be null) as far as they fit in
// *size bytes, always zero-terminated when *size > 0; *size returns the bytes needed. Answers the number of
// cameras.
uint32_t CamGetNames(char* buffer, uint32_t* size);
bool CamIsConnected(const char* camera);
// Null outputs are skipped.
bool CamGetFileInfo(const char* camera, const char* path, uint32_t* size, uint32_t* time, uint32_t* flags);
// Bytes read (0 on failure).
uint32_t CamReadFile(const char* camera, const char* path, uint32_t offset, void* buffer, uint32_t count);
bool CamWriteFile(const char* camera, const char* path, uint32_t offset, const void* buffer, uint32_t count);
bool CamDeleteFile(const char* camera, const char* path);
bool CamSetFileAttributes(const char* camera, const char* path, uint32_t flags);
