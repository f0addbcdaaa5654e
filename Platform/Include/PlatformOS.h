#pragma once
// Identity of the machine the system believes it runs on.
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
};

// The version query. This stand-in reports the NT family (5.1): Linux offers every wide interface we need.
bool PlatGetVersion(PlatOsVersion* version);

// Value of an environment variable, or null.
const char* PlatGetEnv(const char* name);
