#include "PlatformMachine.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "PlatformError.h"

namespace {

std::string NonEmptyEnv(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string HomeFolder()
{
    std::string home = NonEmptyEnv("HOME");
    if (!home.empty())
        return home;
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return "/tmp";
}

std::string Absolute(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    std::vector<char> cwd(4096);
    if (!getcwd(cwd.data(), cwd.size()))
        return path;
    return std::string(cwd.data()) + "/" + path;
}

// mkdir -p; true when the folder exists at the end.
bool MakeFolders(const std::string& path)
{
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/')
            continue;
        std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            PlatSetLastError(PlatErrorFromErrno(errno));
            return false;
        }
    }
    struct stat st{};
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        PlatSetLastError(PLAT_ERROR_PATH_NOT_FOUND);
        return false;
    }
    return true;
}

}  // namespace

std::string PlatGetMachineFolder()
{
    std::string folder = NonEmptyEnv("LUMO_MACHINE");
    if (folder.empty()) {
        std::string data = NonEmptyEnv("XDG_DATA_HOME");
        if (data.empty() || data[0] != '/')
            data = HomeFolder() + "/.local/share";
        folder = data + "/LumoDesk/machine";
    }
    folder = Absolute(folder);
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

std::string PlatGetMachineSubfolder(const char* relative)
{
    std::string path = PlatGetMachineFolder();
    if (relative && *relative) {
        path += '/';
        path += relative;
    }
    if (!MakeFolders(path))
        return std::string();
    return path;
}
