#include "KStorageURL.h"

#include <cstdio>

#include "KException.h"
#include "KSCEnumFolder.h"
#include "KStorageHolder.h"
#include "KTextFunctions.h"
#include "PlatformPath.h"

namespace {

struct RegistryEntry {
    KWString name;
    KIStorageClass* storageClass;
};

std::vector<RegistryEntry>& Registry()
{
    static std::vector<RegistryEntry> registry;
    return registry;
}

bool IsEscaped(KWChar c)
{
    switch (c) {
    case u'%':
    case u'/':
    case u':':
    case u'\\':
    case u'\'':
    case u'"':
    case u'?':
    case u'*':
    case u'#': return true;
    default: return false;
    }
}

// The "%x" reading of four units: leading white space, a sign, an optional 0x, then hex digits. False when
// no digit is read.
bool ReadHex4(const KWChar* units, unsigned& value)
{
    char text[5];
    for (int i = 0; i < 4; ++i)
        text[i] = units[i] < 127 ? static_cast<char>(units[i]) : '\x7f';
    text[4] = 0;
    return std::sscanf(text, "%x", &value) == 1;
}

}  // namespace

void RegisterStorageClass(const KWString& name, KIStorageClass* storageClass)
{
    for (RegistryEntry& e : Registry()) {
        if (e.storageClass && e.name == name) {
            delete storageClass;
            return;
        }
    }
    Registry().push_back({name, storageClass});
}

void ShutdownStorageClasses()
{
    for (RegistryEntry& e : Registry()) {
        delete e.storageClass;
        e.storageClass = nullptr;
        e.name.Clear();
    }
}

void ListStorageClasses(std::vector<KWString>& names)
{
    for (const RegistryEntry& e : Registry())
        if (e.storageClass)
            names.push_back(e.name);
}

KIStorageClass* ResolveURL(const KWString& url, KWString& path)
{
    KWString name, rest;
    if (!url.Split(u"://", name, rest)) {
        name = url;
        rest.Clear();
    }
    for (RegistryEntry& e : Registry()) {
        if (e.storageClass && e.name == name) {
            path = rest;
            return e.storageClass;
        }
    }
    return nullptr;
}

KIFile* OpenFileByURL(const KWString& url, int mode)
{
    if (url.IsEmpty())
        return nullptr;
    KWString path;
    KIStorageClass* sc = ResolveURL(url, path);
    return sc ? sc->OpenFile(path, mode) : nullptr;
}

KIFolder* OpenFolderByURL(const KWString& url, KWString& leafName, bool create)
{
    if (url.IsEmpty())
        return new KSCEnumFolder;
    KWString path;
    KIStorageClass* sc = ResolveURL(url, path);
    return sc ? sc->OpenFolder(path, leafName, create) : nullptr;
}

bool URLToNativePath(const KWString& url, KWString& native)
{
    native.Clear();
    if (url.IsEmpty())
        return false;
    KWString path;
    KIStorageClass* sc = ResolveURL(url, path);
    return sc ? sc->GetNativePath(path, native) : false;
}

bool NativePathToURL(const KWString& native, KWString& url)
{
    for (RegistryEntry& e : Registry()) {
        if (!e.storageClass)
            continue;
        KWString path;
        bool held = e.storageClass->FromNativePath(native, path);
        url = e.name;
        url += u"://";
        url += path;
        if (held)
            return true;
    }
    return false;
}

KWString GetSpecialFolderURL(int kind)
{
    for (RegistryEntry& e : Registry()) {
        KWString url;
        if (e.storageClass && e.storageClass->GetSpecialFolder(kind, url))
            return url;
    }
    return KWString();
}

void LaunchByURL(const KWString& url, const KWChar* parameters)
{
    KWString path;
    KIStorageClass* sc = ResolveURL(url, path);
    if (!sc)
        throw KExceptionStorageClassDoesNotExist(url.GetAscii());
    sc->Launch(path, parameters);
}

void MoveToTrashByURL(const KWString& url)
{
    KWString path;
    KIStorageClass* sc = ResolveURL(url, path);
    if (!sc)
        throw KExceptionStorageClassDoesNotExist(url.GetAscii());
    sc->MoveToTrash(path);
}

bool ExistsByURL(const KWString& url, bool* isFolder)
{
    KWString path;
    KIStorageClass* sc = ResolveURL(url, path);
    return sc ? sc->Exists(path, isFolder) : false;
}

void SetReadOnlyByURL(const KWString& url, const KFileInfo* info)
{
    KFileHolder file(OpenFileByURL(url, KFILE_MODE_READ));
    if (file)
        file->SetReadOnly(info);
}

KUInt32 GetFileSizeByURL(const KWString& url)
{
    KFileHolder file(OpenFileByURL(url, KFILE_MODE_READ));
    return file ? file->GetSize() : 0;
}

void DeleteFileByURL(const KWString& url)
{
    std::vector<KWString> components;
    SplitURL(url, components);
    if (components.empty())
        throw KArrayException("Index out of range.");
    KWString name = components.back();
    components.pop_back();
    KWString folderURL, leaf;
    ComposeURL(components, folderURL, true);
    KFolderHolder folder(OpenFolderByURL(folderURL, leaf, false));
    if (folder)
        folder->DeleteFile(name);
}

bool SplitURL(const KWString& url, std::vector<KWString>& components)
{
    components.clear();
    KWString name, rest;
    if (!url.Split(u"://", name, rest))
        return false;
    std::vector<KWString> parts;
    SplitString(rest, parts, u"/");
    components.push_back(name);
    for (KWString& p : parts)
        if (!p.IsEmpty())
            components.push_back(std::move(p));
    if (components.front().IsEmpty())
        components.erase(components.begin());
    return true;
}

bool ComposeURL(const std::vector<KWString>& components, KWString& url, bool trailingSlash)
{
    url.Clear();
    if (components.empty())
        return false;
    url = components[0];
    url += u"://";
    for (size_t i = 1; i < components.size(); ++i) {
        if (i > 1)
            url += u"/";
        url += components[i];
    }
    if (trailingSlash)
        url += u"/";
    return true;
}

void EscapeURLComponent(const KWString& text, KWString& out)
{
    KWString result;
    for (KWChar c : text.View()) {
        if (IsEscaped(c)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%%%04X", static_cast<unsigned>(c));
            result += hex;
        } else {
            result.AppendChar(c);
        }
    }
    out = std::move(result);
}

void UnescapeURLComponent(const KWString& text, KWString& out)
{
    std::u16string_view units = text.View();
    KWString result;
    size_t i = 0;
    while (i < units.size()) {
        KWChar c = units[i];
        unsigned value = 0;
        if (c == u'%' && units.size() - i > 4 && ReadHex4(units.data() + i + 1, value)) {
            if (value < 0x10000)
                result.AppendChar(static_cast<KWChar>(value));
            else
                result.AppendChar(u'?');
            i += 5;
            continue;
        }
        result.AppendChar(c);
        ++i;
    }
    out = std::move(result);
}

void SplitString(const KWString& text, std::vector<KWString>& parts, const KWString& separator)
{
    parts.clear();
    std::u16string_view t = text.View();
    std::u16string_view sep = separator.View();
    if (t.empty())
        return;
    if (sep.empty()) {
        parts.emplace_back(t);
        return;
    }
    size_t start = 0;
    for (;;) {
        size_t at = t.find(sep, start);
        if (at == std::u16string_view::npos) {
            if (start < t.size())
                parts.emplace_back(t.substr(start));
            return;
        }
        parts.emplace_back(t.substr(start, at - start));
        start = at + sep.size();
    }
}

void JoinStrings(const std::vector<KWString>& parts, KWString& out, const KWString& separator)
{
    KWString result;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i)
            result += separator;
        result += parts[i];
    }
    out = std::move(result);
}

void SplitLastPart(const KWString& path, KWString& head, KWString& last)
{
    std::vector<KWString> parts;
    SplitString(path, parts, u"/");
    if (parts.empty())
        throw KArrayException("Index out of range.");
    last = parts.back();
    parts.pop_back();
    JoinStrings(parts, head, u"/");
}

bool PosixPathToURL(std::string_view posix, KWString& url)
{
    url.Clear();
    std::string native;
    if (!PlatPosixToNative(posix, native))
        return false;
    return NativePathToURL(Utf8ToWide(native), url);
}

bool NativeFileToURL(const KWString& native, KWString& url)
{
    std::u16string_view path = native.View();
    size_t cut = path.find_last_of(u'\\');
    if (cut == std::u16string_view::npos || cut + 1 == path.size())
        return NativePathToURL(native, url);
    if (!NativePathToURL(KWString(path.substr(0, cut)), url))
        return false;
    url += u"/";
    url += KWString(path.substr(cut + 1));
    return true;
}

bool PosixFileToURL(std::string_view posix, KWString& url)
{
    url.Clear();
    std::string native;
    if (!PlatPosixToNative(posix, native))
        return false;
    return NativeFileToURL(Utf8ToWide(native), url);
}

bool URLToPosixPath(const KWString& url, std::string& posix)
{
    posix.clear();
    KWString native;
    if (!URLToNativePath(url, native))
        return false;
    return PlatNativeToPosix(WideToUtf8(native), posix);
}
