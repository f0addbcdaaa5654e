#include "CamVirtualCamera.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "KCamAccess.h"
#include "PlatformFile.h"

namespace {

constexpr char kFolder[] = "VirtualCamera/";

// The native path of a camera path; false when a component climbs out of the folder.
bool VirtualPath(const char* path, std::string& native)
{
    if (!path)
        return false;
    std::string rest(path);
    size_t start = rest.find_first_not_of('/');
    rest = start == std::string::npos ? std::string() : rest.substr(start);
    size_t at = 0;
    while (at <= rest.size()) {
        size_t end = rest.find_first_of("/\\", at);
        if (end == std::string::npos)
            end = rest.size();
        if (rest.compare(at, end - at, "..") == 0)
            return false;
        at = end + 1;
    }
    native = kFolder + rest;
    return true;
}

bool IsPattern(const char* path)
{
    return path && std::strpbrk(path, "*?") != nullptr;
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// '*' any run, '?' one character; letters without regard to case.
bool Matches(const char* p, const char* n)
{
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*n) {
        if (*p == '*') {
            star = p++;
            resume = n;
        } else if (*p == '?' || (*p && Lower(*p) == Lower(*n))) {
            ++p;
            ++n;
        } else if (star) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (*p == '*')
        ++p;
    return *p == 0;
}

uint32_t SecondsSince1970(uint64_t ticks)
{
    if (ticks <= PLAT_TICKS_1601_TO_1970)
        return 0;
    uint64_t seconds = (ticks - PLAT_TICKS_1601_TO_1970) / 10000000u;
    return uint32_t(std::min<uint64_t>(seconds, 0x7FFFFFFF));
}

bool IsFolder(uint32_t attributes)
{
    return attributes != PLAT_INVALID_ATTRIBUTES && (attributes & PLAT_ATTR_DIRECTORY);
}

// Size and time of an existing file or folder (a folder has size 0).
bool Stat(const std::string& native, uint32_t* size, uint32_t* time, uint32_t* attributes)
{
    uint32_t a = PlatGetFileAttributes(native.c_str());
    PlatFileIdentity identity;
    if (a == PLAT_INVALID_ATTRIBUTES || !PlatGetFileIdentity(native.c_str(), &identity))
        return false;
    if (size)
        *size = IsFolder(a) ? 0 : uint32_t(std::min<uint64_t>(identity.size, 0xFFFFFFFFu));
    if (time)
        *time = SecondsSince1970(identity.writtenTicks);
    if (attributes)
        *attributes = a;
    return true;
}

}  // namespace

bool VirtualCameraConnected()
{
    std::string native;
    return VirtualPath("Connected", native) && PlatPathExists(native.c_str());
}

int64_t BuildVirtualListing(const char* pattern, char* buffer, size_t capacity)
{
    if (!IsPattern(pattern) || !buffer || capacity == 0)
        return -1;
    const std::string full(pattern);
    const size_t slash = full.rfind('/');
    const std::string folderPart = slash == std::string::npos ? std::string() : full.substr(0, slash + 1);
    const std::string namePattern = full.substr(folderPart.size());
    std::string folder;
    if (folderPart.find_first_of("*?") != std::string::npos || !VirtualPath(folderPart.c_str(), folder))
        return -1;
    std::vector<PlatFindData> entries;
    if (!PlatListFolder(folder.c_str(), entries))
        return -1;
    std::sort(entries.begin(), entries.end(),
              [](const PlatFindData& a, const PlatFindData& b) { return a.name < b.name; });
    size_t length = 0;
    for (const PlatFindData& e : entries) {
        if (e.name == "." || e.name == ".." || !Matches(namePattern.c_str(), e.name.c_str()))
            continue;
        uint32_t size = 0, time = 0, attributes = 0;
        if (!Stat(folder + e.name, &size, &time, &attributes))
            continue;
        const bool isFolder = IsFolder(attributes);
        // No archive bit here: a regular file counts as marked.
        char tail[64];
        std::snprintf(tail, sizeof tail, "\t%d\t%d\t%s%s%s\n", int(size), int(time), isFolder ? "D" : "",
                      (attributes & PLAT_ATTR_READONLY) ? "L" : "", isFolder ? "" : "M");
        const std::string line = folderPart + e.name + tail;
        if (length + line.size() > capacity - 1)
            break;
        std::memcpy(buffer + length, line.data(), line.size());
        length += line.size();
    }
    buffer[length] = 0;
    return int64_t(length);
}

bool VirtualGetFileInfo(const char* path, uint32_t* size, uint32_t* time, uint32_t* flags)
{
    std::string native;
    if (!VirtualPath(path, native))
        return false;
    uint32_t attributes = 0;
    if (Stat(native, size, time, &attributes)) {
        if (flags)
            *flags = ((attributes & PLAT_ATTR_READONLY) ? 0x1u : 0u) | 0x2u;
        return true;
    }
    if (!IsPattern(path))
        return false;
    std::vector<char> text(kCamListingCapacity);
    int64_t length = BuildVirtualListing(path, text.data(), text.size());
    if (length < 0)
        return false;
    if (size)
        *size = uint32_t(length);
    if (time)
        *time = 0;
    if (flags)
        *flags = 0x2;
    return true;
}

uint32_t VirtualReadFile(const char* path, uint32_t offset, void* buffer, uint32_t count)
{
    std::string native;
    if (!VirtualPath(path, native) || !buffer)
        return 0;
    if (PlatFile* file = PlatCreateFile(native.c_str(), PLAT_GENERIC_READ, PLAT_SHARE_READ, PLAT_OPEN_EXISTING)) {
        uint32_t total = 0;
        if (PlatSetFilePointer(file, offset, nullptr)) {
            while (total < count) {
                uint32_t done = 0;
                if (!PlatReadFile(file, static_cast<char*>(buffer) + total, count - total, &done) || done == 0)
                    break;
                total += done;
            }
        }
        PlatCloseFile(file);
        return total;
    }
    std::vector<char> text(kCamListingCapacity);
    int64_t length = BuildVirtualListing(path, text.data(), text.size());
    if (length < 0 || offset > uint64_t(length))
        return 0;
    uint32_t n = uint32_t(std::min<uint64_t>(uint64_t(length) - offset, count));
    std::memcpy(buffer, text.data() + offset, n);
    return n;
}

bool VirtualWriteFile(const char* path, uint32_t offset, const void* buffer, uint32_t count)
{
    std::string native;
    if (!VirtualPath(path, native) || (!buffer && count))
        return false;
    // Opened for update: the bytes land at the offset, the rest of the file stays.
    PlatFile* file = PlatCreateFile(native.c_str(), PLAT_GENERIC_WRITE, PLAT_SHARE_READ, PLAT_OPEN_ALWAYS);
    if (!file)
        return false;
    uint32_t done = 0;
    bool ok = PlatSetFilePointer(file, offset, nullptr) && (count == 0 || PlatWriteFile(file, buffer, count, &done));
    ok = PlatCloseFile(file) && ok;
    return ok;
}

bool VirtualDeleteFile(const char* path)
{
    std::string native;
    if (!VirtualPath(path, native))
        return false;
    if (IsFolder(PlatGetFileAttributes(native.c_str())))
        return PlatRemoveDirectory(native.c_str());
    return PlatDeleteFile(native.c_str());
}

bool VirtualSetFileAttributes(const char* path, uint32_t flags)
{
    std::string native;
    if (!VirtualPath(path, native) || !PlatPathExists(native.c_str()))
        return false;
    return PlatSetFileAttributes(native.c_str(), (flags & 0x1) ? PLAT_ATTR_READONLY : PLAT_ATTR_NORMAL);
}
