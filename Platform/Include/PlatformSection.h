#pragma once
// Named shared sections: bytes that every process of the machine (PlatformMachine.h) sees alike, as a
// library's shared data section is seen by every process that has the library loaded.
//
// A section lives while any process has it open; when the last one closes it (or ends, crashed ones
// included), its bytes are gone, and the next process to open the name starts from zeroed bytes. Sections
// share their name space with the named mutexes and events (PlatformSync.h).
#include <cstdint>

#include "PlatformSync.h"

// Opens the section `name` of `size` bytes (1 to 16 MiB), creating it zeroed when no process has it open,
// and maps it into the process: *view points at its bytes until the handle is closed with PlatCloseHandle.
// The last error is PLAT_ERROR_ALREADY_EXISTS when the section was open already (in this process or
// another). Null on failure: PLAT_ERROR_INVALID_PARAMETER for a missing name or view, a size out of range, or
// an open section smaller than `size`; PLAT_ERROR_INVALID_HANDLE when the name belongs to another kind of object.
PlatHandle PlatCreateSharedSection(const char* name, uint32_t size, void** view);
