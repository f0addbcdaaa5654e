#include "KSCCamera.h"

#include <vector>

#include "KCamAccess.h"
#include "KException.h"
#include "KNarrowString.h"
#include "KSCCameraShared.h"
#include "KStorageHolder.h"
#include "KStorageURL.h"
#include "KTextFunctions.h"
#include "PlatformFile.h"
#include "PlatformPath.h"

namespace {

std::string Unescaped(const KWString& component)
{
    KWString plain;
    UnescapeURLComponent(component, plain);
    return WideToUtf8(plain);
}

}  // namespace

bool FirstConnectedCamera(std::string& camera)
{
    std::vector<char> buffer(1024);
    uint32_t size = uint32_t(buffer.size());
    CamGetNames(buffer.data(), &size);
    if (size > buffer.size()) {
        buffer.resize(size);
        CamGetNames(buffer.data(), &size);
    }
    std::string names(buffer.data());
    size_t start = 0;
    while (start < names.size()) {
        size_t end = names.find('\n', start);
        if (end == std::string::npos)
            end = names.size();
        std::string name = names.substr(start, end - start);
        if (name.empty())
            break;
        if (CamIsConnected(name.c_str())) {
            camera = name;
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::string JoinCameraPath(const std::string& path, const std::string& name)
{
    if ((!path.empty() && path.back() == '/') || (!name.empty() && name.front() == '/'))
        return path + name;
    return path + "/" + name;
}

KSCCamera::KSCCamera(const KWString& name) : m_Name(name)
{
    std::string camera;
    if (FirstConnectedCamera(camera))
        return;
    KWString here, leaf;
    if (!NativePathToURL(KWString(), here))
        return;
    here += u"/MyCamera";
    KFolderHolder folder(OpenFolderByURL(here, leaf, false));
    if (folder && leaf.IsEmpty()) {
        m_DiskRoot = true;
        folder->GetURL(m_DiskRootURL);
    }
}

KIFile* KSCCamera::OpenFile(const KWString& path, int mode)
{
    KWString folderPath, name, leaf;
    SplitLastPart(path, folderPath, name);
    if (name.IsEmpty())
        return nullptr;
    KFolderHolder folder(OpenFolder(folderPath, leaf, false));
    return folder ? folder->OpenFile(name, mode) : nullptr;
}

KIFolder* KSCCamera::OpenFolder(const KWString& path, KWString& leafName, bool create)
{
    leafName.Clear();
    if (path.IsEmpty())
        return new KSCVolEnumCameraFolder(m_DiskRoot ? m_DiskRootURL : m_Name);
    if (m_DiskRoot) {
        KWString url = m_DiskRootURL;
        url += path;
        return OpenFolderByURL(url, leafName, create);
    }
    std::vector<KWString> parts;
    SplitString(path, parts, u"/");
    if (parts.empty())
        return nullptr;
    const std::string camera = Unescaped(parts[0]);
    if (camera.empty())
        return nullptr;
    std::string folderPath;
    for (size_t i = 1; i < parts.size(); ++i)
        if (!parts[i].IsEmpty())
            folderPath += "/" + Unescaped(parts[i]);
    if (folderPath.empty())
        folderPath = "/";
    if (!CamIsConnected(camera.c_str()))
        return nullptr;
    return new KSCCameraFolder(camera, folderPath);
}

bool KSCCamera::GetSpecialFolder(int, KWString& url)
{
    url.Clear();
    return false;
}

bool KSCCamera::GetNativePath(const KWString& path, KWString& native)
{
    std::vector<KWString> parts;
    SplitString(path, parts, u"/");
    for (KWString& p : parts) {
        KWString plain;
        UnescapeURLComponent(p, plain);
        p = plain;
    }
    JoinStrings(parts, native, u"/");
    return true;
}

bool KSCCamera::FromNativePath(const KWString& native, KWString& path)
{
    KWString full = native;
    // A drive colon or a leading '/' makes a path absolute.
    const bool absolute = native[1] == u':' || native[0] == u'/';
    if (!absolute) {
        full = Utf8ToWide(PlatGetCurrentDirectory());
        full += u"/";
        full += native;
    }
    // Either separator: the current directory is Windows-shaped.
    for (size_t i = 0; i < full.GetLength(); ++i)
        if (full[i] == u'\\')
            full[i] = u'/';
    std::vector<KWString> parts;
    SplitString(full, parts, u"/");
    std::vector<KWString> components;
    for (const KWString& p : parts) {
        if (p.IsEmpty())
            continue;
        KWString escaped;
        EscapeURLComponent(p, escaped);
        components.push_back(escaped);
    }
    JoinStrings(components, path, u"/");
    return true;
}

const KWChar* KSCCamera::GetName()
{
    return m_Name.GetBuffer();
}

const KWChar* KSCCamera::GetDescription()
{
    return u"cameras attached to the system";
}

void KSCCamera::Launch(const KWString&, const KWChar*)
{
    throw KExceptionFileNotFound("KSCCamera::Launch: Not implemented.");
}

bool KSCCamera::Exists(const KWString& path, bool* isFolder)
{
    std::vector<KWString> parts;
    SplitString(path, parts, u"/");
    if (parts.empty())
        return false;
    const std::string camera = Unescaped(parts[0]);
    if (camera.empty() || !CamIsConnected(camera.c_str()))
        return false;
    if (isFolder)
        *isFolder = true;
    return true;
}

void KSCCamera::MoveToTrash(const KWString& path)
{
    if (m_DiskRoot) {
        KWString url = m_DiskRootURL;
        url += path;
        MoveToTrashByURL(url);
        return;
    }
    KWString url = m_Name;
    url += u"://";
    url += path;
    KWString leaf;
    KFolderHolder folder(OpenFolderByURL(url, leaf, false));
    if (!folder || !folder->DeleteFile(KWString())) {
        KNarrowString message("KSCCamera::MoveToTrash: cannot delete '%s'", WideToUtf8(path).c_str());
        throw KExceptionFileIO(message.CStr());
    }
}

void RegisterCameraStorageClass()
{
    PlatSetErrorModeFailCriticalErrors();
    RegisterStorageClass(u"camera", new KSCCamera(u"camera"));
}
