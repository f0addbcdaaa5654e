#include <cstring>

#include "KCamAccess.h"
#include "KException.h"
#include "KSCCamera.h"
#include "KSCCameraShared.h"
#include "KStorageURL.h"
#include "KTextFunctions.h"

namespace {

// A decimal number with an optional sign, nothing else.
bool ParseNumber(const char* first, const char* last, int64_t& value)
{
    bool negative = first != last && *first == '-';
    if (negative)
        ++first;
    if (first == last || last - first > 18)
        return false;
    int64_t v = 0;
    for (const char* p = first; p != last; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        v = v * 10 + (*p - '0');
    }
    value = negative ? -v : v;
    return true;
}

}  // namespace

void ParseCameraListing(const char* text, size_t length, std::vector<KCameraListingEntry>& entries)
{
    if (!text)
        return;
    const char* end = text + length;
    for (const char* line = text; line < end;) {
        const char* newline = static_cast<const char*>(std::memchr(line, '\n', size_t(end - line)));
        if (!newline)
            break;  // an unfinished last line
        const char* next = newline + 1;
        const char* tab1 = static_cast<const char*>(std::memchr(line, '\t', size_t(newline - line)));
        const char* tab2 = tab1 ? static_cast<const char*>(std::memchr(tab1 + 1, '\t', size_t(newline - tab1 - 1)))
                                : nullptr;
        const char* tab3 = tab2 ? static_cast<const char*>(std::memchr(tab2 + 1, '\t', size_t(newline - tab2 - 1)))
                                : nullptr;
        KCameraListingEntry entry;
        if (tab3 && !std::memchr(line, 0, size_t(newline - line)) && ParseNumber(tab1 + 1, tab2, entry.size) &&
            ParseNumber(tab2 + 1, tab3, entry.time)) {
            const std::string path(line, tab1);
            entry.name = path.substr(path.rfind('/') + 1);
            entry.folder = std::memchr(tab3 + 1, 'D', size_t(newline - tab3 - 1)) != nullptr;
            if (!entry.name.empty() && entry.name != "." && entry.name != "..")
                entries.push_back(std::move(entry));
        }
        line = next;
    }
}

KSCCameraFolder::KSCCameraFolder(const std::string& camera, const std::string& path) : m_Camera(camera), m_Path(path)
{
    if (m_Camera.empty())
        FirstConnectedCamera(m_Camera);
}

void KSCCameraFolder::Release()
{
    delete this;
}

KIFolder* KSCCameraFolder::OpenFolder(const KWString& name, bool)
{
    if (!CamIsConnected(m_Camera.c_str()))
        return nullptr;
    return new KSCCameraFolder(m_Camera, JoinCameraPath(m_Path, WideToUtf8(name)));
}

KIFile* KSCCameraFolder::OpenFile(const KWString& name, int mode)
{
    const std::string path = JoinCameraPath(m_Path, WideToUtf8(name));
    if (!(mode & KFILE_MODE_WRITE)) {
        // A file to read must be there; while another user holds the camera, its reads will tell.
        KCameraMutexHold hold;
        if (hold.Held() ? !CamGetFileInfo(m_Camera.c_str(), path.c_str(), nullptr, nullptr, nullptr)
                        : !CamIsConnected(m_Camera.c_str()))
            return nullptr;
    }
    return new KSCCameraFile(m_Camera, path, mode);
}

void KSCCameraFolder::priList(std::vector<KWString>& names, bool folders)
{
    std::string pattern = m_Path;
    pattern += !pattern.empty() && pattern.back() == '/' ? "*" : "/*";
    std::vector<char> text(kCamListingCapacity);
    uint32_t got = 0;
    {
        KCameraMutexHold hold;
        if (!hold.Held())
            return;
        got = CamReadFile(m_Camera.c_str(), pattern.c_str(), 0, text.data(), kCamListingCapacity);
    }
    std::vector<KCameraListingEntry> entries;
    ParseCameraListing(text.data(), got, entries);
    for (const KCameraListingEntry& e : entries)
        if (e.folder == folders)
            names.push_back(Utf8ToWide(e.name));
}

void KSCCameraFolder::ListFiles(std::vector<KWString>& names)
{
    priList(names, false);
}

void KSCCameraFolder::ListFolders(std::vector<KWString>& names)
{
    priList(names, true);
}

void KSCCameraFolder::Rename(const KWString&, const KWString&)
{
    throw KExceptionFileIO("KSCCameraFolder::Rename: a camera renames nothing.");
}

void KSCCameraFolder::DeleteFolder(const KWString&, int)
{
    throw KExceptionFileIO("KSCCameraFolder::DeleteFolder: a camera removes no folders.");
}

bool KSCCameraFolder::DeleteFile(const KWString& name)
{
    const std::string path = name.IsEmpty() ? m_Path : JoinCameraPath(m_Path, WideToUtf8(name));
    KCameraMutexHold hold;
    return hold.Held() && CamDeleteFile(m_Camera.c_str(), path.c_str());
}

void KSCCameraFolder::GetURL(KWString& url)
{
    KWString camera;
    EscapeURLComponent(Utf8ToWide(m_Camera), camera);
    url = u"camera://";
    url += camera;
    std::vector<KWString> parts;
    SplitString(Utf8ToWide(m_Path), parts, u"/");
    for (const KWString& p : parts) {
        if (p.IsEmpty())
            continue;
        KWString escaped;
        EscapeURLComponent(p, escaped);
        url += u"/";
        url += escaped;
    }
    url += u"/";
}

void KSCCameraFolder::GetNote(KWString& note)
{
    note.Clear();
}

void KSCCameraFolder::SetUserData(uintptr_t data)
{
    m_UserData = data;
}

KInt64 KSCCameraFolder::GetFreeSpace()
{
    KCameraMutexHold hold;
    return hold.Held() && CamGetFileInfo(m_Camera.c_str(), "/dev/CF", nullptr, nullptr, nullptr) ? 0 : -1;
}

bool KSCCameraFolder::IsReadOnly()
{
    uint32_t flags = 0;
    KCameraMutexHold hold;
    return hold.Held() && CamGetFileInfo(m_Camera.c_str(), m_Path.c_str(), nullptr, nullptr, &flags) &&
           (flags & kCamAttrLock);
}

bool KSCCameraFolder::GetAttributes(KUInt32* flags)
{
    *flags &= ~KUInt32(KFOLDER_HIDDEN);
    uint32_t attributes = 0;
    KCameraMutexHold hold;
    if (!hold.Held() || !CamGetFileInfo(m_Camera.c_str(), m_Path.c_str(), nullptr, nullptr, &attributes))
        return false;
    *flags = (*flags & ~KUInt32(KFOLDER_READONLY)) | ((attributes & kCamAttrLock) ? KUInt32(KFOLDER_READONLY) : 0u);
    return true;
}

int KSCCameraFolder::GetDriveType()
{
    return KDRIVE_REMOTE;
}

KIFolder* KSCVolEnumCameraFolder::OpenFolder(const KWString& name, bool create)
{
    std::vector<KWString> listed;
    ListFolders(listed);
    for (const KWString& n : listed) {
        if (n != name)
            continue;
        if (m_URL != u"camera") {
            KWString leaf;
            return OpenFolderByURL(name, leaf, create);  // the disk root stands in
        }
        KWString camera;
        UnescapeURLComponent(name, camera);
        return new KSCCameraFolder(WideToUtf8(camera), "/");
    }
    return nullptr;
}

void KSCVolEnumCameraFolder::ListFolders(std::vector<KWString>& names)
{
    uint32_t size = 1;
    char none[1];
    if (CamGetNames(none, &size) == 0) {
        if (m_URL != u"camera")
            names.push_back(m_URL);
        return;
    }
    std::string camera;
    if (FirstConnectedCamera(camera)) {
        KWString escaped;
        EscapeURLComponent(Utf8ToWide(camera), escaped);
        names.push_back(escaped);
    }
}

void KSCVolEnumCameraFolder::GetURL(KWString& url)
{
    url = m_URL;
}

void KSCVolEnumCameraFolder::GetNote(KWString& note)
{
    note.Clear();
}

void KSCVolEnumCameraFolder::SetUserData(uintptr_t data)
{
    m_UserData = data;
}

KInt64 KSCVolEnumCameraFolder::GetFreeSpace()
{
    return -1;
}

bool KSCVolEnumCameraFolder::IsReadOnly()
{
    return true;
}

bool KSCVolEnumCameraFolder::GetAttributes(KUInt32* flags)
{
    *flags = (*flags | KFOLDER_READONLY) & ~KUInt32(KFOLDER_HIDDEN);
    return true;
}

int KSCVolEnumCameraFolder::GetDriveType()
{
    return KDRIVE_UNKNOWN;
}
