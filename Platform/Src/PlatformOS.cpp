#include "PlatformOS.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "PlatformError.h"
#include "PlatformMachine.h"

namespace {

struct OsIdentity {
    const char* name;
    uint32_t platformId;
    uint32_t major;
    uint32_t minor;
    uint32_t build;
    const char* servicePack;
    bool hasWdm;
    uint8_t wdmMajor;
    uint8_t wdmMinor;
};

const OsIdentity kIdentities[] = {
    {"Windows95", PLAT_OS_PLATFORM_WINDOWS, 4, 0, 950, "", false, 0, 0},
    {"Windows95_OSR2", PLAT_OS_PLATFORM_WINDOWS, 4, 0, 1111, " B", false, 0, 0},
    {"Windows98", PLAT_OS_PLATFORM_WINDOWS, 4, 10, 1998, "", true, 1, 0x00},
    {"Windows98_SE", PLAT_OS_PLATFORM_WINDOWS, 4, 10, 2222, " A", true, 1, 0x00},
    {"WindowsME", PLAT_OS_PLATFORM_WINDOWS, 4, 90, 3000, "", true, 1, 0x05},
    {"WindowsNT", PLAT_OS_PLATFORM_NT, 4, 0, 1381, "Service Pack 6", false, 0, 0},
    {"Windows2K", PLAT_OS_PLATFORM_NT, 5, 0, 2195, "Service Pack 4", true, 1, 0x10},
    {"WindowsXP", PLAT_OS_PLATFORM_NT, 5, 1, 2600, "Service Pack 2", true, 1, 0x20},
};
const OsIdentity& kDefault = kIdentities[7];

const OsIdentity* Find(const char* name)
{
    if (!name)
        return nullptr;
    for (const OsIdentity& id : kIdentities)
        if (std::strcmp(id.name, name) == 0)
            return &id;
    return nullptr;
}

std::string SettingPath()
{
    return PlatGetMachineFolder() + "/os";
}

// The machine's identity, read afresh: the setting can change under a running process.
const OsIdentity& Current()
{
    FILE* f = std::fopen(SettingPath().c_str(), "r");
    if (!f)
        return kDefault;
    char line[64] = {};
    bool read = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    if (!read)
        return kDefault;
    line[std::strcspn(line, "\r\n")] = 0;
    const OsIdentity* id = Find(line);
    return id ? *id : kDefault;
}

}  // namespace

bool PlatGetVersion(PlatOsVersion* version)
{
    if (!version)
        return false;
    const OsIdentity& id = Current();
    version->platformId = id.platformId;
    version->major = id.major;
    version->minor = id.minor;
    version->build = id.build;
    std::snprintf(version->servicePack, sizeof version->servicePack, "%s", id.servicePack);
    return true;
}

const char* PlatGetOsName()
{
    return Current().name;
}

bool PlatIsOsName(const char* name)
{
    return Find(name) != nullptr;
}

bool PlatSetOsName(const char* name)
{
    const OsIdentity* id = Find(name);
    if (!id) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return false;
    }
    std::string folder = PlatGetMachineSubfolder("");
    if (folder.empty())
        return false;
    std::string path = folder + "/os";
    std::string temp = path + ".tmp." + std::to_string(getpid());
    FILE* f = std::fopen(temp.c_str(), "w");
    if (!f) {
        PlatSetLastError(PlatErrorFromErrno(errno));
        return false;
    }
    bool ok = std::fprintf(f, "%s\n", id->name) > 0;
    ok = (std::fclose(f) == 0) && ok;
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        PlatSetLastError(ok ? PlatErrorFromErrno(errno) : PLAT_ERROR_DISK_FULL);
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

bool PlatGetWdmVersion(uint8_t* major, uint8_t* minor)
{
    const OsIdentity& id = Current();
    if (!id.hasWdm)
        return false;
    if (major)
        *major = id.wdmMajor;
    if (minor)
        *minor = id.wdmMinor;
    return true;
}

const char* PlatGetEnv(const char* name)
{
    return name ? std::getenv(name) : nullptr;
}

uint32_t PlatGetCurrentProcessId()
{
    return static_cast<uint32_t>(getpid());
}

bool PlatProcessExists(uint32_t processId)
{
    if (processId == 0 || processId > 0x7FFFFFFFu)
        return false;
    return kill(static_cast<pid_t>(processId), 0) == 0 || errno != ESRCH;
}
