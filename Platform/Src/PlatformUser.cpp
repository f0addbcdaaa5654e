#include "PlatformUser.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "PlatformMachine.h"

namespace {

std::string EnvValue(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string StripTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

}  // namespace

bool PlatIsScratchMachine()
{
    return !EnvValue("LUMO_MACHINE").empty();
}

std::string PlatUserHome()
{
    if (PlatIsScratchMachine()) {
        std::string home = PlatGetMachineSubfolder("home");
        return home.empty() ? PlatGetMachineFolder() + "/home" : home;
    }
    std::string home = EnvValue("HOME");
    if (home.empty())
        if (const passwd* pw = getpwuid(getuid()))
            if (pw->pw_dir)
                home = pw->pw_dir;
    return StripTrailingSlashes(home.empty() ? std::string("/") : home);
}

std::string PlatXdgFolder(const char* variable, const char* fallback)
{
    if (!PlatIsScratchMachine()) {
        std::string value = EnvValue(variable);
        if (!value.empty() && value[0] == '/')
            return StripTrailingSlashes(value);
    }
    std::string home = PlatUserHome();
    return (home == "/" ? std::string() : home) + "/" + fallback;
}
