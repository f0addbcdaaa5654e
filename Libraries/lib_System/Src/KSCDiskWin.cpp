#include "KSCDiskWin.h"

#include "KException.h"
#include "KSCFolderWin.h"
#include "KSCListFolderWin.h"
#include "KStorageHolder.h"
#include "KStorageURL.h"
#include "KTextFunctions.h"
#include "PlatformError.h"
#include "PlatformFile.h"
#include "PlatformOS.h"
#include "PlatformPath.h"
#include "PlatformShell.h"

namespace {

std::string Utf8(const KWString& text)
{
    return WideToUtf8(text);
}

// The Exists rule: the existence test succeeds; a folder has the directory attribute.
bool NativeExists(const KWString& native, bool* isFolder)
{
    std::string path = Utf8(native);
    if (!PlatPathExists(path.c_str()))
        return false;
    if (isFolder) {
        uint32_t attributes = PlatGetFileAttributes(path.c_str());
        *isFolder = attributes != PLAT_INVALID_ATTRIBUTES && (attributes & PLAT_ATTR_DIRECTORY);
    }
    return true;
}

// The native folder of a special-folder kind; false for kinds without one.
bool SpecialFolderNative(int kind, KWString& native)
{
    native.Clear();
    std::string path;
    switch (kind) {
    case KSPECIAL_PROGRAM:
        if (PlatGetModuleFileName(path)) {
            size_t cut = path.find_last_of('\\');
            path = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
        }
        break;
    case KSPECIAL_APPDATA: PlatGetSpecialFolderPath(PLAT_CSIDL_APPDATA, path, true); break;
    case KSPECIAL_TEMP: path = PlatGetTempPath(); break;
    case KSPECIAL_SYSTEM: {
        const char* root = PlatGetEnv("SystemRoot");
        if (!root)
            return false;
        path = root;
        break;
    }
    case KSPECIAL_DESKTOP: PlatGetSpecialFolderPath(PLAT_CSIDL_DESKTOPDIRECTORY, path, true); break;
    case KSPECIAL_PROGRAMS: PlatGetSpecialFolderPath(PLAT_CSIDL_PROGRAMS, path, true); break;
    case KSPECIAL_STARTUP: PlatGetSpecialFolderPath(PLAT_CSIDL_STARTUP, path, true); break;
    case KSPECIAL_DOCUMENTS: PlatGetSpecialFolderPath(PLAT_CSIDL_PERSONAL, path, true); break;
    default: return false;
    }
    native = Utf8ToWide(PlatGetLongPathName(path));
    return true;
}

}  // namespace

void NativeToComponents(const KWString& native, std::vector<KWString>& components)
{
    std::vector<KWString> parts;
    SplitString(native, parts, u"\\");
    if (parts.size() >= 3 && parts[0].IsEmpty() && parts[1].IsEmpty()) {
        parts.erase(parts.begin());
        parts[0] = u"net";
    } else {
        for (size_t i = 0; i < parts.size(); ++i) {
            if (parts[i].IsEmpty())
                continue;
            KWString drive, rest;
            if (parts[i].Split(u":", drive, rest)) {
                parts[i] = drive;
                if (!rest.IsEmpty())
                    parts.insert(parts.begin() + static_cast<std::ptrdiff_t>(i) + 1, rest);
            }
            break;
        }
    }
    components.clear();
    for (const KWString& p : parts) {
        if (p.IsEmpty())
            continue;
        KWString escaped;
        EscapeURLComponent(p, escaped);
        components.push_back(escaped);
    }
}

KSCDiskWin::KSCDiskWin(const KWString& name) : m_Name(name) {}

KIFile* KSCDiskWin::OpenFile(const KWString& path, int mode)
{
    KWString folderPath, name, leaf;
    SplitLastPart(path, folderPath, name);
    KFolderHolder folder(OpenFolder(folderPath, leaf, false));
    if (!folder || name.IsEmpty())
        return nullptr;
    return folder->OpenFile(name, mode);
}

KIFolder* KSCDiskWin::OpenFolder(const KWString& path, KWString& leafName, bool create)
{
    leafName.Clear();
    if (path.IsEmpty())
        return new KSCVolEnumFolderWin(m_Name);
    if (path == u"net")
        return new KSCNetEnumFolderWin(m_Name);
    KWString native;
    if (!GetNativePath(path, native))
        return nullptr;
    bool isFolder = false;
    if (!NativeExists(native, &isFolder)) {
        if (!create || !priCreateFolderPath(path))
            return nullptr;
        return new KSCFolderWin(m_Name, native);
    }
    if (isFolder)
        return new KSCFolderWin(m_Name, native);
    std::vector<KWString> parts;
    SplitString(native, parts, u"\\");
    if (parts.empty())
        return nullptr;
    leafName = parts.back();
    parts.pop_back();
    KWString folder;
    JoinStrings(parts, folder, u"\\");
    return new KSCFolderWin(m_Name, folder);
}

bool KSCDiskWin::priCreateFolderPath(const KWString& path)
{
    KWString native;
    if (!GetNativePath(path, native))
        return false;
    bool isFolder = false;
    if (NativeExists(native, &isFolder))
        return isFolder;  // an existing folder is success; a file in the way is not
    std::vector<KWString> parts;
    SplitString(path, parts, u"/");
    while (!parts.empty() && parts.back().IsEmpty())
        parts.pop_back();
    if (parts.size() > 1) {
        parts.pop_back();
        KWString parent;
        JoinStrings(parts, parent, u"/");
        if (!priCreateFolderPath(parent))
            return false;
    }
    std::string target = Utf8(native);
    if (PlatCreateDirectory(target.c_str()))
        return true;
    // Someone else may have made it meanwhile.
    uint32_t attributes = PlatGetFileAttributes(target.c_str());
    return attributes != PLAT_INVALID_ATTRIBUTES && (attributes & PLAT_ATTR_DIRECTORY);
}

bool KSCDiskWin::GetSpecialFolder(int kind, KWString& url)
{
    KWString native;
    if (!SpecialFolderNative(kind, native))
        return false;
    std::vector<KWString> components;
    NativeToComponents(native, components);
    components.insert(components.begin(), m_Name);
    ComposeURL(components, url, true);
    return true;
}

bool KSCDiskWin::GetNativePath(const KWString& path, KWString& native)
{
    if (path.IsEmpty())
        return false;
    std::vector<KWString> raw, parts;
    SplitString(path, raw, u"/");
    for (KWString& p : raw)
        if (!p.IsEmpty())
            parts.push_back(p);
    if (parts.empty())
        return false;
    for (size_t i = 0; i < parts.size(); ++i) {
        KWString plain;
        UnescapeURLComponent(parts[i], plain);
        if (i == 0) {
            if (parts[0] == u"net") {
                plain = u"\\";  // joined with the next part's backslash: two in all
            } else {
                plain += u":";
            }
        }
        parts[i] = plain;
    }
    JoinStrings(parts, native, u"\\");
    return true;
}

bool KSCDiskWin::FromNativePath(const KWString& native, KWString& path)
{
    KWString full = native;
    bool relative = !(native[1] == u':' || native[0] == u'\\' || native[1] == u'\\');
    if (relative) {
        full = Utf8ToWide(PlatGetCurrentDirectory());
        if (full.IsEmpty() || full[full.GetLength() - 1] != u'\\')
            full += u"\\";
        full += native;
    }
    std::vector<KWString> components;
    NativeToComponents(full, components);
    JoinStrings(components, path, u"/");
    return true;
}

const KWChar* KSCDiskWin::GetName()
{
    return m_Name.GetBuffer();
}

const KWChar* KSCDiskWin::GetDescription()
{
    return u"physical disks attached to the system";
}

void KSCDiskWin::Launch(const KWString& path, const KWChar* parameters)
{
    KWString folderPath, file, folderNative;
    SplitLastPart(path, folderPath, file);
    GetNativePath(folderPath, folderNative);
    intptr_t result = 0;
    if (!file.IsEmpty()) {
        std::string params = parameters ? WideToUtf8(std::u16string_view(parameters)) : std::string();
        result = PlatShellExecuteOpen(Utf8(file).c_str(), params.c_str(), Utf8(folderNative).c_str(), PLAT_SW_SHOW);
        if (result > 32)
            return;
    }
    KWString native;
    GetNativePath(path, native);
    KNarrowString message("KSCDiskWin::Launch: '%s'", native.GetAscii());
    switch (result) {
    case PLAT_SE_ERR_FNF:
    case PLAT_SE_ERR_PNF:
    case PLAT_SE_ERR_DLLNOTFOUND: throw KExceptionFileNotFound(message.CStr());
    case PLAT_SE_ERR_ASSOCINCOMPLETE:
    case PLAT_SE_ERR_NOASSOC: throw KExceptionLaunchFailed(message.CStr());
    default: throw KExceptionFileIO(message.CStr());
    }
}

bool KSCDiskWin::Exists(const KWString& path, bool* isFolder)
{
    KWString native;
    if (!GetNativePath(path, native))
        return false;
    return NativeExists(native, isFolder);
}

void KSCDiskWin::MoveToTrash(const KWString& path)
{
    KWString native;
    GetNativePath(path, native);
    if (native.IsEmpty() || PlatMoveToTrash(Utf8(native).c_str()) != PLAT_ERROR_SUCCESS) {
        KNarrowString message("KSCDiskWin::MoveToTrash: '%s'", native.GetAscii());
        throw KExceptionFileIO(message.CStr());
    }
}

void RegisterDiskStorageClass()
{
    PlatSetErrorModeFailCriticalErrors();
    RegisterStorageClass(u"disk", new KSCDiskWin(u"disk"));
}
