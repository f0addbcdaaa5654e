#include "PlatformPath.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "PlatformError.h"
#include "PlatformMachine.h"

namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

char AsciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsAsciiNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
            return false;
    return true;
}

uint32_t DriveTypeFromWord(const std::string& word)
{
    if (word == "fixed")
        return PLAT_DRIVE_FIXED;
    if (word == "removable")
        return PLAT_DRIVE_REMOVABLE;
    if (word == "cdrom")
        return PLAT_DRIVE_CDROM;
    if (word == "ram")
        return PLAT_DRIVE_RAMDISK;
    if (word == "network")
        return PLAT_DRIVE_REMOTE;
    return PLAT_DRIVE_UNKNOWN;
}

std::string StripSlashes(std::string root)
{
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    return root;  // "" is the POSIX root
}

// Splits a POSIX path into components, folding "." and ".." (never above the root).
std::vector<std::string> PosixComponents(std::string_view path)
{
    std::vector<std::string> parts;
    size_t i = 0;
    while (i < path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string_view::npos)
            j = path.size();
        std::string_view part = path.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.emplace_back(part);
        }
        i = j + 1;
    }
    return parts;
}

std::string PosixCurrentDirectory()
{
    std::string buffer(4096, '\0');
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE || buffer.size() > (1u << 20))
            return "/";
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(std::char_traits<char>::length(buffer.c_str()));
    return buffer;
}

// One component below an existing POSIX folder: exact when it exists, else the first case-insensitive match,
// else as written.
std::string ResolveComponent(const std::string& folder, const std::string& name)
{
    std::string exact = folder + "/" + name;
    struct stat st;
    if (lstat(exact.c_str(), &st) == 0)
        return name;
    DIR* dir = opendir(folder.empty() ? "/" : folder.c_str());
    if (!dir)
        return name;
    std::string found = name;
    while (dirent* e = readdir(dir)) {
        if (EqualsAsciiNoCase(e->d_name, name)) {
            found = e->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

const PlatDrive* FindDrive(const std::vector<PlatDrive>& drives, char letter)
{
    letter = AsciiUpper(letter);
    for (const PlatDrive& d : drives)
        if (d.letter == letter)
            return &d;
    return nullptr;
}

}  // namespace

std::vector<PlatDrive> PlatGetDrives()
{
    std::vector<PlatDrive> drives;
    std::ifstream table(PlatGetMachineFolder() + "/drives");
    std::string line;
    while (table && std::getline(table, line)) {
        std::istringstream in(line);
        std::string letter, type, root;
        if (!(in >> letter >> type) || letter.empty() || letter[0] == '#')
            continue;
        std::getline(in >> std::ws, root);
        char l = AsciiUpper(letter[0]);
        if (letter.size() > 2 || (letter.size() == 2 && letter[1] != ':') || l < 'A' || l > 'Z' || root.empty() ||
            root[0] != '/' || FindDrive(drives, l))
            continue;
        drives.push_back({l, DriveTypeFromWord(type), StripSlashes(root)});
    }
    if (!FindDrive(drives, 'C'))
        drives.push_back({'C', PLAT_DRIVE_FIXED, ""});
    std::sort(drives.begin(), drives.end(), [](const PlatDrive& a, const PlatDrive& b) { return a.letter < b.letter; });
    return drives;
}

uint32_t PlatGetDriveType(std::string_view native)
{
    std::vector<PlatDrive> drives = PlatGetDrives();
    char letter = 'C';
    if (native.size() >= 2 && native[1] == ':')
        letter = native[0];
    else if (native.size() >= 2 && IsSeparator(native[0]) && IsSeparator(native[1]))
        return PLAT_DRIVE_NO_ROOT_DIR;
    else if (native.empty() || !IsSeparator(native[0])) {
        std::string cwd = PlatGetCurrentDirectory();
        letter = cwd.empty() ? 'C' : cwd[0];
    }
    const PlatDrive* d = FindDrive(drives, letter);
    return d ? d->type : PLAT_DRIVE_NO_ROOT_DIR;
}

bool PlatNativeToPosix(std::string_view native, std::string& posix)
{
    posix.clear();
    if (native.size() >= 2 && IsSeparator(native[0]) && IsSeparator(native[1])) {
        PlatSetLastError(PLAT_ERROR_PATH_NOT_FOUND);  // no network on this machine
        return false;
    }
    std::string full;
    if (native.size() >= 2 && native[1] == ':') {
        full = std::string(native);
    } else if (!native.empty() && IsSeparator(native[0])) {
        std::string cwd = PlatGetCurrentDirectory();
        full = cwd.substr(0, 2) + std::string(native);
    } else {
        full = PlatGetCurrentDirectory() + "\\" + std::string(native);
    }
    std::vector<PlatDrive> drives = PlatGetDrives();
    const PlatDrive* drive = FindDrive(drives, full[0]);
    if (!drive) {
        PlatSetLastError(PLAT_ERROR_PATH_NOT_FOUND);
        return false;
    }
    std::string rest = full.substr(2);
    std::replace(rest.begin(), rest.end(), '\\', '/');
    std::string path = drive->root;
    for (const std::string& part : PosixComponents(rest))
        path += "/" + ResolveComponent(path, part);
    posix = path.empty() ? "/" : path;
    return true;
}

bool PlatPosixToNative(std::string_view posix, std::string& native)
{
    native.clear();
    std::string absolute(posix);
    if (absolute.empty() || absolute[0] != '/')
        absolute = PosixCurrentDirectory() + "/" + absolute;
    std::vector<std::string> parts = PosixComponents(absolute);
    std::vector<PlatDrive> drives = PlatGetDrives();
    const PlatDrive* best = nullptr;
    size_t bestDepth = 0;
    for (const PlatDrive& d : drives) {
        std::vector<std::string> rootParts = PosixComponents(d.root);
        if (rootParts.size() > parts.size() || !std::equal(rootParts.begin(), rootParts.end(), parts.begin()))
            continue;
        if (!best || rootParts.size() > bestDepth) {
            best = &d;
            bestDepth = rootParts.size();
        }
    }
    if (!best) {
        PlatSetLastError(PLAT_ERROR_PATH_NOT_FOUND);
        return false;
    }
    native = std::string(1, best->letter) + ":";
    if (bestDepth == parts.size()) {
        native += "\\";
        return true;
    }
    for (size_t i = bestDepth; i < parts.size(); ++i)
        native += "\\" + parts[i];
    return true;
}

std::string PlatGetCurrentDirectory()
{
    std::string native;
    if (!PlatPosixToNative(PosixCurrentDirectory(), native))
        return "C:\\";
    return native;
}

std::string PlatGetTempPath()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string native;
    if (!PlatPosixToNative(tmp && *tmp == '/' ? tmp : "/tmp", native))
        native = "C:\\";
    if (native.back() != '\\')
        native += "\\";
    return native;
}

std::string PlatGetLongPathName(std::string_view native)
{
    return std::string(native);
}
