#pragma once
// The virtual camera: the folder "VirtualCamera" in the working directory stands in for a camera while it holds
// a file named "Connected". Camera paths map below that folder; a path with a ".." component maps nowhere.
#include <cstddef>
#include <cstdint>

bool VirtualCameraConnected();
bool VirtualGetFileInfo(const char* path, uint32_t* size, uint32_t* time, uint32_t* flags);
uint32_t VirtualReadFile(const char* path, uint32_t offset, void* buffer, uint32_t count);
bool VirtualWriteFile(const char* path, uint32_t offset, const void* buffer, uint32_t count);
bool VirtualDeleteFile(const char* path);
bool VirtualSetFileAttributes(const char* path, uint32_t flags);

// The listing text for a pattern into buffer: whole lines only, at most capacity - 1 bytes, zero-terminated.
// The length of the text, or -1 when the path is no pattern or its folder cannot be listed.
int64_t BuildVirtualListing(const char* pattern, char* buffer, size_t capacity);
