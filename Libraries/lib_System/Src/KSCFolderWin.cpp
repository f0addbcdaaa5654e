#include "KSCFolderWin.h"

#include "KSCDiskWin.h"
#include "KSCFileWin.h"
#include "KStorageURL.h"
#include "KTextFunctions.h"
#include "PlatformError.h"
#include "PlatformFile.h"
#include "PlatformPath.h"

namespace {

std::string Utf8(const KWString& text)
{
    return WideToUtf8(text);
}

bool IsDotEntry(const std::string& name)
{
    return name == "." || name == "..";
}

}  // namespace

KSCFolderWin::KSCFolderWin(const KWString& className, const KWString& nativePath)
    : m_ClassName(className), m_NativePath(nativePath)
{
}

KWString KSCFolderWin::priChild(const KWString& name) const
{
    KWString child = m_NativePath;
    child += u"\\";
    child += name;
    return child;
}

void KSCFolderWin::Release()
{
    delete this;
}

KIFolder* KSCFolderWin::OpenFolder(const KWString& name, bool create)
{
    KWString child = priChild(name);
    if (PlatPathExists(Utf8(child).c_str()))
        return new KSCFolderWin(m_ClassName, child);
    if (!create)
        return nullptr;
    // Create every missing level, outermost first.
    KWString url;
    std::vector<KWString> components;
    if (!NativePathToURL(child, url) || !SplitURL(url, components) || components.size() < 2)
        return nullptr;
    bool created = false;
    for (size_t n = 2; n <= components.size(); ++n) {
        std::vector<KWString> prefix(components.begin(), components.begin() + static_cast<std::ptrdiff_t>(n));
        KWString prefixURL, native;
        ComposeURL(prefix, prefixURL, true);
        if (!URLToNativePath(prefixURL, native))
            return nullptr;
        std::string path = Utf8(native);
        if (!PlatPathExists(path.c_str()))
            created = PlatCreateDirectory(path.c_str());
    }
    return created ? new KSCFolderWin(m_ClassName, child) : nullptr;
}

KIFile* KSCFolderWin::OpenFile(const KWString& name, int mode)
{
    KWString child = priChild(name);
    if (!(mode & KFILE_MODE_WRITE) && !PlatPathExists(Utf8(child).c_str()))
        return nullptr;
    return new KSCFileWin(m_ClassName, child, mode);
}

void KSCFolderWin::ListFiles(std::vector<KWString>& names)
{
    std::vector<PlatFindData> entries;
    if (!PlatListFolder(Utf8(m_NativePath).c_str(), entries))
        return;
    for (const PlatFindData& e : entries)
        if (!(e.attributes & PLAT_ATTR_DIRECTORY))
            names.push_back(Utf8ToWide(e.name));
}

void KSCFolderWin::ListFolders(std::vector<KWString>& names)
{
    std::vector<PlatFindData> entries;
    if (!PlatListFolder(Utf8(m_NativePath).c_str(), entries))
        return;
    for (const PlatFindData& e : entries)
        if ((e.attributes & PLAT_ATTR_DIRECTORY) && !IsDotEntry(e.name))
            names.push_back(Utf8ToWide(e.name));
}

void KSCFolderWin::Rename(const KWString& oldName, const KWString& newName)
{
    PlatMoveFile(Utf8(priChild(oldName)).c_str(), Utf8(priChild(newName)).c_str());
}

bool KSCFolderWin::DeleteFile(const KWString& name)
{
    // There are no sharing violations on this machine: a file another handle holds open is deleted like any
    // other. Every other failure (a read-only file, a folder without write permission) is reported.
    if (PlatDeleteFile(Utf8(priChild(name)).c_str()))
        return true;
    uint32_t error = PlatGetLastError();
    return error == PLAT_ERROR_FILE_NOT_FOUND || error == PLAT_ERROR_PATH_NOT_FOUND;
}

void KSCFolderWin::DeleteFolder(const KWString& url, int how)
{
    KWString native;
    if (!URLToNativePath(url, native))
        return;
    if (how == 0)
        PlatRemoveDirectory(Utf8(native).c_str());
    else if (how == 1)
        RecursiveDelete(native);
}

void KSCFolderWin::GetURL(KWString& url)
{
    std::vector<KWString> components;
    NativeToComponents(m_NativePath, components);
    components.insert(components.begin(), m_ClassName);
    ComposeURL(components, url, true);
}

void KSCFolderWin::GetNote(KWString& note)
{
    note.Clear();
}

void KSCFolderWin::SetUserData(uintptr_t data)
{
    m_UserData = data;
}

KInt64 KSCFolderWin::GetFreeSpace()
{
    uint64_t bytes = 0;
    if (!PlatGetDiskFreeSpace(Utf8(m_NativePath).c_str(), &bytes))
        return -1;
    return static_cast<KInt64>(bytes);
}

bool KSCFolderWin::IsReadOnly()
{
    std::string path = Utf8(m_NativePath);
    uint32_t attributes = PlatGetFileAttributes(path.c_str());
    if (attributes != PLAT_INVALID_ATTRIBUTES && (attributes & PLAT_ATTR_READONLY))
        return true;
    if (GetDriveType() == KDRIVE_REMOVABLE) {
        // A write-protected card shows only when something is written.
        std::string probe;
        if (PlatGetTempFileName(path.c_str(), "K", &probe))
            PlatDeleteFile(probe.c_str());
        else if (PlatGetLastError() == PLAT_ERROR_WRITE_PROTECT)
            return true;
    }
    return false;
}

bool KSCFolderWin::GetAttributes(KUInt32* flags)
{
    uint32_t attributes = PlatGetFileAttributes(Utf8(m_NativePath).c_str());
    if (attributes == PLAT_INVALID_ATTRIBUTES)
        return false;
    if (attributes & PLAT_ATTR_READONLY)
        *flags |= KFOLDER_READONLY;
    else
        *flags &= ~static_cast<KUInt32>(KFOLDER_READONLY);
    KWString url;
    std::vector<KWString> components;
    GetURL(url);
    SplitURL(url, components);
    if (components.size() > 2 && (attributes & PLAT_ATTR_HIDDEN))
        *flags |= KFOLDER_HIDDEN;
    else
        *flags &= ~static_cast<KUInt32>(KFOLDER_HIDDEN);
    return true;
}

int KSCFolderWin::GetDriveType()
{
    return static_cast<int>(PlatGetDriveType(Utf8(m_NativePath)));
}

bool RecursiveDelete(const KWString& nativeFolder)
{
    std::string folder = WideToUtf8(nativeFolder);
    uint32_t own = PlatGetFileAttributes(folder.c_str());
    if (own != PLAT_INVALID_ATTRIBUTES && (own & PLAT_ATTR_REPARSE_POINT))
        return PlatDeleteFile(folder.c_str());  // a link to a folder: the link goes, the folder stays
    std::vector<PlatFindData> entries;
    if (!PlatListFolder(folder.c_str(), entries))
        return false;
    for (const PlatFindData& e : entries) {
        if (IsDotEntry(e.name))
            continue;
        std::string path = folder + "\\" + e.name;
        // A link is removed, never followed: what it points to is not part of this folder.
        const bool link = (e.attributes & PLAT_ATTR_REPARSE_POINT) != 0;
        if (!link && (e.attributes & PLAT_ATTR_READONLY))
            PlatSetFileAttributes(path.c_str(), e.attributes & ~PLAT_ATTR_READONLY);
        bool ok = (!link && (e.attributes & PLAT_ATTR_DIRECTORY)) ? RecursiveDelete(Utf8ToWide(path))
                                                                  : PlatDeleteFile(path.c_str());
        if (!ok)
            return false;
    }
    own = PlatGetFileAttributes(folder.c_str());
    if (own != PLAT_INVALID_ATTRIBUTES && (own & PLAT_ATTR_READONLY))
        PlatSetFileAttributes(folder.c_str(), own & ~PLAT_ATTR_READONLY);
    return PlatRemoveDirectory(folder.c_str());
}
