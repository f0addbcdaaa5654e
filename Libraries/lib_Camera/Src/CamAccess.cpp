#include "KCamAccess.h"

#include <cstring>
#include <string>
#include <vector>

#include "CamVirtualCamera.h"
#include "KCamConnection.h"
#include "KCamLinkSupport.h"
#include "KCamMailbox.h"

namespace {

bool IsVirtualName(const char* camera)
{
    return camera && std::strcmp(camera, kVirtualCameraName) == 0;
}

bool IsConsole(const char* path)
{
    return CamStrCompareNoCase(path, "/debug/console") == 0;
}

// The camera branch: runs `branch` on a live connection and answers true, or answers false when no camera
// answers (the virtual camera's turn).
template <class Branch>
bool OnCamera(const char* camera, Branch&& branch)
{
    if (IsVirtualName(camera))
        return false;
    CamConnection* connection = OpenCamera(camera && *camera ? camera : nullptr);
    if (!connection)
        return false;
    const bool alive = IsCameraAlive(connection);
    if (alive)
        branch(connection);
    CloseCamera(connection);
    return alive;
}

// The virtual camera answers for its own name and for the first camera, while it is connected.
bool VirtualAnswers(const char* camera)
{
    return (!camera || !*camera || IsVirtualName(camera)) && VirtualCameraConnected();
}

// Every device name, joined by "\n"; the count.
uint32_t DeviceNames(std::string& text)
{
    std::vector<char> buffer(1024);
    for (int tries = 0; tries < 4; ++tries) {
        uint32_t size = uint32_t(buffer.size());
        uint32_t count = ListCameraDeviceNames(buffer.data(), &size);
        if (size <= buffer.size()) {
            text.assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
            return count;
        }
        buffer.resize(size);  // the list grew meanwhile
    }
    text.clear();
    return 0;
}

}  // namespace

uint32_t CamGetNames(char* buffer, uint32_t* size)
{
    if (!size)
        return 0;
    std::string names;
    uint32_t count = DeviceNames(names);
    if (VirtualCameraConnected()) {
        if (!names.empty())
            names += '\n';
        names += kVirtualCameraName;
        ++count;
    }
    if (buffer && *size > 0) {
        // Whole names only: a cut name would name another camera.
        size_t fits = 0;
        for (size_t start = 0;;) {
            size_t end = names.find('\n', start);
            if (end == std::string::npos)
                end = names.size();
            if (end + 1 > *size)
                break;
            fits = end;
            if (end == names.size())
                break;
            start = end + 1;
        }
        std::memcpy(buffer, names.data(), fits);
        buffer[fits] = 0;
    }
    *size = uint32_t(names.size() + 1);
    return count;
}

bool CamIsConnected(const char* camera)
{
    return OnCamera(camera, [](CamConnection*) {}) || VirtualAnswers(camera);
}

bool CamGetFileInfo(const char* camera, const char* path, uint32_t* size, uint32_t* time, uint32_t* flags)
{
    if (!path)
        return false;
    bool ok = false;
    if (OnCamera(camera, [&](CamConnection* c) {
            uint32_t attributes = 0, status = 0;
            ok = QueryCameraFile(c, path, size, time, flags ? &attributes : nullptr, &status) == 1;
            if (ok && flags)
                *flags = attributes & (kCamAttrLock | kCamAttrMark);
        }))
        return ok;
    return VirtualAnswers(camera) && VirtualGetFileInfo(path, size, time, flags);
}

uint32_t CamReadFile(const char* camera, const char* path, uint32_t offset, void* buffer, uint32_t count)
{
    if (!path || (!buffer && count))
        return 0;
    uint32_t got = 0;
    if (OnCamera(camera, [&](CamConnection* c) {
            uint32_t n = 0;
            if (IsConsole(path)) {
                if (ReadConsole(c, buffer, count, &n) == 1)
                    got = n;
            } else if (ReadCameraFile(c, path, offset, buffer, count, &n) == 1) {
                got = n;
            }
        }))
        return got;
    return VirtualAnswers(camera) ? VirtualReadFile(path, offset, buffer, count) : 0;
}

bool CamWriteFile(const char* camera, const char* path, uint32_t offset, const void* buffer, uint32_t count)
{
    if (!path || (!buffer && count))
        return false;
    bool ok = false;
    if (OnCamera(camera, [&](CamConnection* c) {
            ok = IsConsole(path) ? WriteConsole(c, buffer, count) == 1
                                 : WriteCameraFile(c, path, offset, buffer, count) == 1;
        }))
        return ok;
    return VirtualAnswers(camera) && VirtualWriteFile(path, offset, buffer, count);
}

bool CamDeleteFile(const char* camera, const char* path)
{
    if (!path)
        return false;
    bool ok = false;
    if (OnCamera(camera, [&](CamConnection* c) {
            ok = IsConsole(path) ? ReleaseHostLock(c) == 1 : DeleteCameraFile(c, path) == 1;
        }))
        return ok;
    return VirtualAnswers(camera) && VirtualDeleteFile(path);
}

bool CamSetFileAttributes(const char* camera, const char* path, uint32_t flags)
{
    if (!path)
        return false;
    bool ok = false;
    if (OnCamera(camera, [&](CamConnection* c) {
            ok = SetCameraFileAttributes(c, path, flags & (kCamAttrLock | kCamAttrMark)) == 1;
        }))
        return ok;
    return VirtualAnswers(camera) && VirtualSetFileAttributes(path, flags);
}
