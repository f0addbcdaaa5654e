#include "PlatformOS.h"

#include <cstdlib>

bool PlatGetVersion(PlatOsVersion* version)
{
    if (!version)
        return false;
    version->platformId = PLAT_OS_PLATFORM_NT;
    version->major = 5;
    version->minor = 1;
    version->build = 2600;
    return true;
}

const char* PlatGetEnv(const char* name)
{
    return name ? std::getenv(name) : nullptr;
}
