#pragma once
// Identity of the machine the system believes it runs on.
//
// The operating system is a setting of the machine (PlatformMachine.h), kept in the file "os" of the machine
// folder and shared by every process of that machine. It is one of the names below; a machine without the
// setting (or with one this build does not know) is WindowsXP.
#include <cstdint>

enum : uint32_t {
    PLAT_OS_PLATFORM_WIN32S = 0,
    PLAT_OS_PLATFORM_WINDOWS = 1,  // the 95/98/Me family
    PLAT_OS_PLATFORM_NT = 2,       // the NT/2000/XP family, with the wide-character interfaces
};

struct PlatOsVersion {
    uint32_t platformId;
    uint32_t major;
    uint32_t minor;
    uint32_t build;
    char servicePack[128];  // zero-terminated, may be empty
};

// The version query, answered from the machine's identity.
bool PlatGetVersion(PlatOsVersion* version);

// The identities a machine can take, by the system's own names: "Windows95", "Windows95_OSR2", "Windows98",
// "Windows98_SE", "WindowsME", "WindowsNT", "Windows2K", "WindowsXP".
const char* PlatGetOsName();
// Sets the machine's identity. False (PLAT_ERROR_INVALID_PARAMETER) for a name not in the list, changing
// nothing; false with the file error when the setting cannot be written.
bool PlatSetOsName(const char* name);
// True when `name` is one of the identities.
bool PlatIsOsName(const char* name);

// The driver model version the identity offers (1.0 on 98 and 98 SE, 1.05 on ME, 1.10 on 2000, 1.20 on XP;
// minor numbers as written: 0x00, 0x05, 0x10, 0x20). False on Windows 95 and NT, which have none.
bool PlatGetWdmVersion(uint8_t* major, uint8_t* minor);

// Value of an environment variable, or null.
const char* PlatGetEnv(const char* name);

// This process's identifier, and whether a process with that identifier exists now (one that exists but is
// not ours to signal counts as existing).
uint32_t PlatGetCurrentProcessId();
bool PlatProcessExists(uint32_t processId);
