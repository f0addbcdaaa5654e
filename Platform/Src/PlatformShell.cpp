#include "PlatformShell.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

#include "PlatformError.h"
#include "PlatformFile.h"
#include "PlatformMachine.h"
#include "PlatformUser.h"
#include "PlatformPath.h"

namespace {

bool MakeFolders(const std::string& posix)
{
    std::error_code ec;
    std::filesystem::create_directories(posix, ec);
    return std::filesystem::is_directory(posix, ec);
}

// A folder named in the XDG user-dirs file ("XDG_DESKTOP_DIR="$HOME/Desktop""), else home/fallback.
std::string XdgUserFolder(const char* key, const char* fallback)
{
    std::string home = PlatUserHome();
    std::ifstream in(PlatXdgFolder("XDG_CONFIG_HOME", ".config") + "/user-dirs.dirs");
    std::string line;
    std::string prefix = std::string(key) + "=\"";
    while (in && std::getline(in, line)) {
        if (line.compare(0, prefix.size(), prefix) != 0)
            continue;
        size_t end = line.find('"', prefix.size());
        if (end == std::string::npos)
            continue;
        std::string value = line.substr(prefix.size(), end - prefix.size());
        if (value.compare(0, 5, "$HOME") == 0)
            value = home + value.substr(5);
        if (!value.empty() && value[0] == '/')
            return value;
    }
    return home + "/" + fallback;
}

std::string PosixOf(const std::string& native)
{
    std::string posix;
    PlatNativeToPosix(native, posix);
    return posix;
}

bool FindInPath(const std::string& program, std::string& found)
{
    if (program.find('/') != std::string::npos) {
        found = program;
        return access(program.c_str(), X_OK) == 0;
    }
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "/usr/bin:/bin";
    while (!rest.empty()) {
        size_t colon = rest.find(':');
        std::string dir(rest.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) {
            found = candidate;
            return true;
        }
    }
    return false;
}

// Splits a parameter line at white space; double quotes group.
std::vector<std::string> SplitParameters(const char* text)
{
    std::vector<std::string> out;
    if (!text)
        return out;
    std::string cur;
    bool quoted = false, any = false;
    for (const char* p = text; *p; ++p) {
        if (*p == '"') {
            quoted = !quoted;
            any = true;
        } else if (!quoted && (*p == ' ' || *p == '\t')) {
            if (any)
                out.push_back(cur);
            cur.clear();
            any = false;
        } else {
            cur += *p;
            any = true;
        }
    }
    if (any)
        out.push_back(cur);
    return out;
}

enum LaunchOutcome { LAUNCHED = 0, EXEC_NOT_FOUND = 10, EXEC_DENIED = 11, EXEC_OTHER = 12, OPENER_NOT_FOUND = 20,
                     OPENER_NO_APP = 21, OPENER_FAILED = 22 };

// Starts argv in folder, detached (double fork, so no zombie is left behind). For an opener the exit status
// is awaited for a few seconds to learn whether it found a program; an opener still running then has launched.
int Spawn(const std::vector<std::string>& args, const std::string& folder, bool awaitOpener)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t child = fork();
    if (child < 0)
        return EXEC_OTHER;
    if (child == 0) {
        // Only async-signal-safe calls from here on.
        setsid();
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            _exit(EXEC_OTHER);
        pid_t grandchild = fork();
        if (grandchild < 0)
            _exit(EXEC_OTHER);
        if (grandchild == 0) {
            close(fds[0]);
            if (!folder.empty() && chdir(folder.c_str()) != 0) {
                // Carry on in the current folder.
            }
            execv(argv[0], argv.data());
            int e = errno;
            ssize_t w = write(fds[1], &e, sizeof e);
            (void)w;
            _exit(127);
        }
        close(fds[1]);
        int e = 0;
        ssize_t n;
        do
            n = read(fds[0], &e, sizeof e);
        while (n < 0 && errno == EINTR);
        if (n == static_cast<ssize_t>(sizeof e))
            _exit(e == ENOENT ? EXEC_NOT_FOUND : e == EACCES ? EXEC_DENIED : EXEC_OTHER);
        if (!awaitOpener)
            _exit(LAUNCHED);
        struct timespec step = {0, 20 * 1000 * 1000};
        for (int i = 0; i < 250; ++i) {
            int status = 0;
            pid_t r = waitpid(grandchild, &status, WNOHANG);
            if (r == grandchild) {
                if (!WIFEXITED(status))
                    _exit(OPENER_FAILED);
                int code = WEXITSTATUS(status);
                _exit(code == 0 ? LAUNCHED : code == 2 ? OPENER_NOT_FOUND : (code == 3 || code == 4) ? OPENER_NO_APP
                                                                                              : OPENER_FAILED);
            }
            nanosleep(&step, nullptr);
        }
        _exit(LAUNCHED);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : EXEC_OTHER;
}

std::string PercentEncodePath(const std::string& path)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' || c == '-' ||
            c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

uint32_t FailWith(uint32_t error)
{
    PlatSetLastError(error);
    return error;
}

}  // namespace

bool PlatGetSpecialFolderPath(int csidl, std::string& native, bool create)
{
    native.clear();
    std::string posix;
    switch (csidl) {
    case PLAT_CSIDL_APPDATA: posix = PlatXdgFolder("XDG_CONFIG_HOME", ".config"); break;
    case PLAT_CSIDL_DESKTOPDIRECTORY: posix = XdgUserFolder("XDG_DESKTOP_DIR", "Desktop"); break;
    case PLAT_CSIDL_PERSONAL: posix = XdgUserFolder("XDG_DOCUMENTS_DIR", "Documents"); break;
    case PLAT_CSIDL_PROGRAMS: posix = PlatXdgFolder("XDG_DATA_HOME", ".local/share") + "/applications"; break;
    case PLAT_CSIDL_STARTUP: posix = PlatXdgFolder("XDG_CONFIG_HOME", ".config") + "/autostart"; break;
    default: PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER); return false;
    }
    if (create && !MakeFolders(posix)) {
        PlatSetLastError(PLAT_ERROR_ACCESS_DENIED);
        return false;
    }
    return PlatPosixToNative(posix, native);
}

bool PlatGetModuleFileName(std::string& native)
{
    native.clear();
    std::string buffer(4096, '\0');
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) {
        PlatSetLastError(PLAT_ERROR_FILE_NOT_FOUND);
        return false;
    }
    buffer.resize(static_cast<size_t>(n));
    return PlatPosixToNative(buffer, native);
}

intptr_t PlatShellExecuteOpen(const char* file, const char* parameters, const char* directory, int show)
{
    (void)show;
    if (!file || !*file)
        return PLAT_SE_ERR_FNF;
    std::string target = file;
    bool absolute = (target.size() >= 2 && target[1] == ':') || target[0] == '\\' || target[0] == '/';
    if (!absolute && directory && *directory)
        target = std::string(directory) + "\\" + target;
    std::string posix = PosixOf(target);
    struct stat st;
    if (posix.empty() || stat(posix.c_str(), &st) != 0) {
        std::string folder = directory && *directory ? PosixOf(directory) : std::string();
        struct stat dst;
        if (!absolute && directory && *directory && (folder.empty() || stat(folder.c_str(), &dst) != 0))
            return PLAT_SE_ERR_PNF;
        return PLAT_SE_ERR_FNF;
    }
    std::string workFolder = directory && *directory ? PosixOf(directory) : std::string();

    std::vector<std::string> args;
    bool opener = true;
    if (S_ISREG(st.st_mode) && access(posix.c_str(), X_OK) == 0) {
        opener = false;
        args.push_back(posix);
        for (std::string& p : SplitParameters(parameters))
            args.push_back(p);
    } else {
        std::string program;
        const char* chosen = std::getenv("LUMO_OPENER");
        if (chosen && *chosen) {
            if (!FindInPath(chosen, program))
                return PLAT_SE_ERR_NOASSOC;
            args = {program, posix};
        } else if (FindInPath("xdg-open", program)) {
            args = {program, posix};
        } else if (FindInPath("gio", program)) {
            args = {program, "open", posix};
        } else {
            return PLAT_SE_ERR_NOASSOC;
        }
    }
    switch (Spawn(args, workFolder, opener)) {
    case LAUNCHED: return 42;
    case EXEC_NOT_FOUND: return opener ? PLAT_SE_ERR_NOASSOC : PLAT_SE_ERR_FNF;
    case EXEC_DENIED: return PLAT_SE_ERR_ACCESSDENIED;
    case OPENER_NOT_FOUND: return PLAT_SE_ERR_FNF;
    case OPENER_NO_APP: return PLAT_SE_ERR_NOASSOC;
    default: return 0;
    }
}

uint32_t PlatMoveToTrash(const char* native)
{
    std::string posix;
    if (!native || !PlatNativeToPosix(native, posix))
        return FailWith(PLAT_ERROR_PATH_NOT_FOUND);
    struct stat st;
    if (lstat(posix.c_str(), &st) != 0)
        return FailWith(PlatErrorFromErrno(errno));
    if (posix == "/")
        return FailWith(PLAT_ERROR_ACCESS_DENIED);

    std::string trash = PlatXdgFolder("XDG_DATA_HOME", ".local/share") + "/Trash";
    std::error_code ec;
    std::filesystem::create_directories(trash + "/files", ec);
    std::filesystem::create_directories(trash + "/info", ec);
    chmod(trash.c_str(), 0700);

    std::string leaf = posix.substr(posix.find_last_of('/') + 1);
    char stamp[32];
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    std::string record = "[Trash Info]\nPath=" + PercentEncodePath(posix) + "\nDeletionDate=" + stamp + "\n";

    for (int n = 1; n < 10000; ++n) {
        std::string name = n == 1 ? leaf : leaf + "." + std::to_string(n);
        std::string info = trash + "/info/" + name + ".trashinfo";
        std::string dest = trash + "/files/" + name;
        // The info record reserves the name (created exclusively), as the trash's rules ask.
        int fd = open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return FailWith(PlatErrorFromErrno(errno));
        }
        bool written = write(fd, record.data(), record.size()) == static_cast<ssize_t>(record.size());
        written = close(fd) == 0 && written;
        struct stat existing;
        if (!written || lstat(dest.c_str(), &existing) == 0) {
            unlink(info.c_str());
            if (!written)
                return FailWith(PLAT_ERROR_DISK_FULL);
            continue;
        }
        if (rename(posix.c_str(), dest.c_str()) == 0)
            return PLAT_ERROR_SUCCESS;
        uint32_t error = PlatErrorFromErrno(errno);
        if (errno == EXDEV) {
            // Another file system: copy, then remove the original; a failed copy is undone.
            std::filesystem::copy(posix, dest,
                                  std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks,
                                  ec);
            if (!ec) {
                std::filesystem::remove_all(posix, ec);
                if (!ec)
                    return PLAT_ERROR_SUCCESS;
                // Partly removed: the copy in the trash keeps everything; report the failure.
                return FailWith(PLAT_ERROR_ACCESS_DENIED);
            }
            std::filesystem::remove_all(dest, ec);
            error = PLAT_ERROR_DISK_FULL;
        }
        unlink(info.c_str());
        return FailWith(error);
    }
    return FailWith(PLAT_ERROR_FILE_EXISTS);
}
