#pragma once
// The camera's register and mailbox protocol over an open connection: register and block access, and the
// file operations and console carried by the mailbox. Operations answer 1 on success and 0 on failure.
#include <cstdint>

struct CamConnection;

int ReadCameraQuadlet(CamConnection* connection, uint32_t low, uint32_t high, uint32_t* value);
int WriteCameraQuadlet(CamConnection* connection, uint32_t low, uint32_t high, uint32_t value);
int ReadCameraBlock(CamConnection* connection, uint32_t low, uint32_t high, void* buffer, uint32_t length,
                    uint32_t flags);
int WriteCameraBlock(CamConnection* connection, uint32_t low, uint32_t high, const void* buffer, uint32_t length,
                     uint32_t flags);
int ReadCameraBlockSwapped(CamConnection* connection, uint32_t low, uint32_t high, void* buffer, uint32_t length,
                           uint32_t flags);
int WriteCameraBlockSwapped(CamConnection* connection, uint32_t low, uint32_t high, void* buffer, uint32_t length,
                            uint32_t flags);
int ReadCameraData(CamConnection* connection, uint32_t low, uint32_t high, void* buffer, uint32_t length,
                   uint32_t flags);
void SwapCameraWords(CamConnection* connection, const void* in, void* out, uint32_t length);

// Lookup status bits.
enum : uint32_t {
    kCamLookupBusy = 0x01,
    kCamLookupDone = 0x02,
    kCamMayRead = 0x08,
    kCamMayWrite = 0x10,
    kCamMayDelete = 0x20,
    kCamMayGrow = 0x40,
    kCamWholeFile = 0x80,
};

int WriteMailboxFileName(CamConnection* connection, const char* name, uint32_t* status);
// Null outputs are skipped.
int QueryCameraFile(CamConnection* connection, const char* name, uint32_t* size, uint32_t* time,
                    uint32_t* attributes, uint32_t* status);
int ReadCameraFile(CamConnection* connection, const char* name, uint32_t offset, void* buffer, uint32_t count,
                   uint32_t* got);
int WriteCameraFile(CamConnection* connection, const char* name, uint32_t offset, const void* buffer,
                    uint32_t count);
int DeleteCameraFile(CamConnection* connection, const char* name);
// Flags bit 0 lock, bit 1 mark.
int SetCameraFileAttributes(CamConnection* connection, const char* name, uint32_t flags);

int ReadConsole(CamConnection* connection, void* buffer, uint32_t capacity, uint32_t* length);
int WriteConsole(CamConnection* connection, const void* text, uint32_t length);
int TakeHostLock(CamConnection* connection);
int ReleaseHostLock(CamConnection* connection);
int IsHostLocked(CamConnection* connection);
