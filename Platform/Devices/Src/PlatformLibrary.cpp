// Loading libraries at run time by the system's file names.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "PlatformDevices.h"

namespace {

// The folder of the file that holds `address` ("" when it cannot be told).
std::string FolderOf(const void* address)
{
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname)
        return {};
    std::string s = info.dli_fname;
    size_t slash = s.rfind('/');
    return slash == std::string::npos ? std::string() : s.substr(0, slash);
}

// The folder of the running executable ("" when it cannot be told).
std::string ExecutableFolder()
{
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0)
        return {};
    std::string s(path, static_cast<size_t>(n));
    size_t slash = s.rfind('/');
    return slash == std::string::npos ? std::string() : s.substr(0, slash);
}

// "C:\Folder\Name.dll" -> "libName.so"; empty for a name without a file part.
std::string SharedObjectName(const char* name)
{
    std::string base(name);
    size_t cut = base.find_last_of("\\/");
    if (cut != std::string::npos)
        base.erase(0, cut + 1);
    if (base.size() > 4) {
        std::string ext = base.substr(base.size() - 4);
        for (char& c : ext)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        if (ext == ".dll")
            base.erase(base.size() - 4);
    }
    if (base.empty())
        return {};
    return "lib" + base + ".so";
}

bool IsFile(const std::string& path)
{
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

PlatModule PlatLoadLibrary(const char* name)
{
    const std::string file = name ? SharedObjectName(name) : std::string();
    if (file.empty()) {
        PlatSetLastError(PLAT_ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* module = nullptr;
    for (const std::string& folder : {ExecutableFolder(), FolderOf(reinterpret_cast<const void*>(&PlatLoadLibrary))}) {
        const std::string candidate = folder + "/" + file;
        if (!folder.empty() && IsFile(candidate) && (module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)))
            break;
    }
    if (!module)
        module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        PlatSetLastError(PLAT_ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    PlatSetLastError(PLAT_ERROR_SUCCESS);
    return module;
}

void* PlatGetProcAddress(PlatModule module, const char* name)
{
    if (!module || !name) {
        PlatSetLastError(PLAT_ERROR_INVALID_HANDLE);
        return nullptr;
    }
    dlerror();
    void* symbol = dlsym(module, name);
    if (!symbol) {
        PlatSetLastError(PLAT_ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    PlatSetLastError(PLAT_ERROR_SUCCESS);
    return symbol;
}

bool PlatFreeLibrary(PlatModule module)
{
    if (!module || dlclose(module) != 0) {
        PlatSetLastError(PLAT_ERROR_INVALID_HANDLE);
        return false;
    }
    return true;
}

bool PlatLoadDeviceProvider(const char* name)
{
    PlatModule module = PlatLoadLibrary(name);
    if (!module)
        return false;
    auto entry = reinterpret_cast<void (*)()>(PlatGetProcAddress(module, "PlatDeviceProviderEntry"));
    if (!entry) {
        PlatFreeLibrary(module);
        PlatSetLastError(PLAT_ERROR_PROC_NOT_FOUND);
        return false;
    }
    // The library stays loaded: its providers live as long as the process. Its entry runs once.
    static std::mutex lock;
    static auto* entered = new std::set<PlatModule>;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!entered->insert(module).second) {
            PlatFreeLibrary(module);
            PlatSetLastError(PLAT_ERROR_SUCCESS);
            return true;
        }
    }
    entry();
    return true;
}

const std::vector<std::string>& PlatDeviceProviderLibraries()
{
    // The kernel stand-in (hosting the 1394 driver) and the simulated USB kernel driver.
    static const std::vector<std::string> names = {"PlatformKernel.dll", "PlatformUsbDriver.dll"};
    return names;
}
