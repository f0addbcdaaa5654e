// Looks through the storage layer from a shell: lists folders, copies files out, converts between storage URLs
// and paths, prints special folders and moves things to the trash, exactly as the system sees them. The disk and
// camera storage classes are registered ("camera://" lists the first connected camera).
//
// Arguments that name a file or folder may be storage URLs ("disk://C/Photos/") or paths; a path is taken as a
// POSIX path unless it is Windows-shaped ("C:\Photos"), and turned into the machine's Windows shape.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "KException.h"
#include "KFileReplacer.h"
#include "KSCCamera.h"
#include "KSCDiskWin.h"
#include "KStorage.h"
#include "KTextFunctions.h"
#include "PlatformPath.h"

namespace {

int Usage()
{
    std::fprintf(stderr,
                 "usage: lumofs COMMAND ARGS\n"
                 "  ls URL|PATH            list a folder: sub-folders (ending \"/\"), then files\n"
                 "  copy URL|PATH DEST     copy a file to a path\n"
                 "  copyall URL|PATH DIR   copy every file of a folder into DIR (made when missing), one line\n"
                 "                         per file\n"
                 "  native URL             print the native path of a URL\n"
                 "  url PATH               print the storage URL of a path\n"
                 "  posix URL              print the POSIX path of a URL\n"
                 "  special KIND           print the URL of a special folder (0 program, 1 application data,\n"
                 "                         2 temporary files, 3 system, 4 desktop, 5 programs, 6 start-up,\n"
                 "                         8 documents)\n"
                 "  exists URL|PATH        say whether it exists and what it is\n"
                 "  trash URL|PATH         move a file or folder to the trash\n");
    return 2;
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "lumofs: %s\n", message.c_str());
    return 1;
}

void Print(const KWString& text)
{
    std::printf("%s\n", WideToUtf8(text).c_str());
}

bool IsWindowsShaped(const std::string& path)
{
    return (path.size() >= 2 && path[1] == ':') || path.rfind("\\\\", 0) == 0;
}

bool PathToNative(const std::string& path, std::string& native)
{
    if (IsWindowsShaped(path)) {
        native = path;
        return true;
    }
    return PlatPosixToNative(path, native);
}

// A URL as given, or the URL of a path (of a file to open when file is set).
bool ToURL(const std::string& arg, KWString& url, bool file = false)
{
    KWString wide = Utf8ToWide(arg);
    KWString path;
    if (arg.find("://") != std::string::npos || ResolveURL(wide, path)) {
        url = wide;
        return true;
    }
    std::string native;
    if (!PathToNative(arg, native))
        return false;
    return file ? NativeFileToURL(Utf8ToWide(native), url) : NativePathToURL(Utf8ToWide(native), url);
}

int List(const KWString& url)
{
    KWString leaf;
    KFolderHolder folder(OpenFolderByURL(url, leaf, false));
    if (!folder)
        return Fail("no such folder: " + WideToUtf8(url));
    if (!leaf.IsEmpty())
        return Fail("not a folder: " + WideToUtf8(url));
    std::vector<KWString> folders, files;
    folder->ListFolders(folders);
    folder->ListFiles(files);
    std::sort(folders.begin(), folders.end(), [](const KWString& a, const KWString& b) { return a.Str() < b.Str(); });
    std::sort(files.begin(), files.end(), [](const KWString& a, const KWString& b) { return a.Str() < b.Str(); });
    for (const KWString& f : folders)
        std::printf("%s/\n", WideToUtf8(f).c_str());
    for (const KWString& f : files)
        Print(f);
    return 0;
}

int Copy(const KWString& url, const std::string& destination)
{
    KFileHolder source(OpenFileByURL(url, KFILE_MODE_READ));
    if (!source)
        return Fail("cannot open " + WideToUtf8(url));
    std::string native;
    KWString target;
    if (!PathToNative(destination, native) || !NativeFileToURL(Utf8ToWide(native), target))
        return Fail("cannot place " + destination);
    KFileReplacer out;
    if (!out.Open(target))
        return Fail("cannot create " + destination);
    const KUInt32 size = source->GetSize();
    std::vector<uint8_t> buffer(1 << 16);
    KUInt32 total = 0;
    for (;;) {
        KUInt32 got = source->Read(buffer.data(), static_cast<KUInt32>(buffer.size()));
        if (got == 0)
            break;
        if (!out.File()->Write(buffer.data(), got))
            return Fail("cannot write " + destination);
        total += got;
    }
    if (size != KFILE_SIZE_UNKNOWN && total < size) {
        out.Abandon();
        return Fail("read " + std::to_string(total) + " of " + std::to_string(size) + " bytes of " +
                    WideToUtf8(url));
    }
    out.Commit();
    return 0;
}

// One file of copyall: exactly its size in bytes, else nothing is left behind. The reason of a failure to why.
bool CopyOne(const KWString& url, KIFolder* target, const KWString& name, KUInt32& total, std::string& why)
{
    total = 0;
    try {
        KFileHolder source(OpenFileByURL(url, KFILE_MODE_READ));
        if (!source) {
            why = "cannot open " + WideToUtf8(url);
            return false;
        }
        // A camera answers 0 while another process holds it: a few tries before a size of 0 is believed.
        KUInt32 size = source->GetSize();
        for (int tries = 1; size == 0 && tries < 5; ++tries)
            size = source->GetSize();
        KFileReplacer out;
        if (!out.Open(target, name)) {
            why = "cannot create: " + out.GetFailure();
            return false;
        }
        std::vector<uint8_t> buffer(1 << 16);
        // A read comes back empty while another process holds the camera (up to 5 s each time): as many tries
        // as another copy of a few files may take, before giving up.
        for (int empty = 0; total < size && empty < 24;) {
            const KUInt32 got = source->Read(buffer.data(), std::min<KUInt32>(KUInt32(buffer.size()), size - total));
            empty = got ? 0 : empty + 1;
            if (got && !out.File()->Write(buffer.data(), got)) {
                out.Abandon();
                why = "cannot write";
                return false;
            }
            total += got;
        }
        if (total != size) {
            out.Abandon();
            why = "read " + std::to_string(total) + " of " + std::to_string(size) + " bytes";
            return false;
        }
        out.Commit();
        return true;
    } catch (const KException& e) {
        why = std::string(e.GetDescription()) + ": " + e.GetMessage();
        return false;
    }
}

int CopyAll(const KWString& url, const std::string& destination)
{
    KWString leaf;
    KFolderHolder folder(OpenFolderByURL(url, leaf, false));
    if (!folder || !leaf.IsEmpty())
        return Fail("no such folder: " + WideToUtf8(url));
    std::vector<KWString> files;
    folder->ListFiles(files);
    std::sort(files.begin(), files.end(), [](const KWString& a, const KWString& b) { return a.Str() < b.Str(); });
    std::string native;
    KWString targetURL;
    if (!PathToNative(destination, native) || !NativePathToURL(Utf8ToWide(native), targetURL))
        return Fail("cannot place " + destination);
    KFolderHolder target(OpenFolderByURL(targetURL, leaf, true));
    if (!target || !leaf.IsEmpty())
        return Fail("cannot create the folder " + destination);
    KWString base = url;
    if (base.IsEmpty() || base[base.GetLength() - 1] != u'/')
        base += u"/";
    int failed = 0;
    for (const KWString& name : files) {
        KWString source = base;
        source += name;
        KUInt32 total = 0;
        std::string why;
        if (CopyOne(source, target.get(), name, total, why)) {
            std::printf("%s\t%u bytes\n", WideToUtf8(name).c_str(), unsigned(total));
        } else {
            std::printf("%s\tfailed: %s\n", WideToUtf8(name).c_str(), why.c_str());
            ++failed;
        }
    }
    return failed ? 1 : 0;
}

int Run(int argc, char** argv)
{
    if (argc < 3)
        return Usage();
    const std::string command = argv[1];
    const std::string arg = argv[2];
    KWString url;
    if (command == "ls" && argc == 3) {
        if (!ToURL(arg, url))
            return Fail("not a storage path: " + arg);
        return List(url);
    }
    if (command == "copy" && argc == 4) {
        if (!ToURL(arg, url, true))
            return Fail("not a storage path: " + arg);
        return Copy(url, argv[3]);
    }
    if (command == "copyall" && argc == 4) {
        if (!ToURL(arg, url))
            return Fail("not a storage path: " + arg);
        return CopyAll(url, argv[3]);
    }
    if (command == "native" && argc == 3) {
        KWString native;
        if (!URLToNativePath(Utf8ToWide(arg), native))
            return Fail("no native path for " + arg);
        Print(native);
        return 0;
    }
    if (command == "posix" && argc == 3) {
        std::string posix;
        if (!URLToPosixPath(Utf8ToWide(arg), posix))
            return Fail("no POSIX path for " + arg);
        std::printf("%s\n", posix.c_str());
        return 0;
    }
    if (command == "url" && argc == 3) {
        std::string native;
        if (!PathToNative(arg, native) || !NativePathToURL(Utf8ToWide(native), url))
            return Fail("no URL for " + arg);
        Print(url);
        return 0;
    }
    if (command == "special" && argc == 3) {
        char* end = nullptr;
        long kind = std::strtol(arg.c_str(), &end, 10);
        if (!*arg.c_str() || *end)
            return Usage();
        url = GetSpecialFolderURL(static_cast<int>(kind));
        if (url.IsEmpty())
            return Fail("no special folder " + arg);
        Print(url);
        return 0;
    }
    if (command == "exists" && argc == 3) {
        if (!ToURL(arg, url))
            return Fail("not a storage path: " + arg);
        bool isFolder = false;
        if (!ExistsByURL(url, &isFolder)) {
            std::printf("missing\n");
            return 1;
        }
        std::printf("%s\n", isFolder ? "folder" : "file");
        return 0;
    }
    if (command == "trash" && argc == 3) {
        if (!ToURL(arg, url))
            return Fail("not a storage path: " + arg);
        MoveToTrashByURL(url);
        return 0;
    }
    return Usage();
}

}  // namespace

int main(int argc, char** argv)
{
    RegisterDiskStorageClass();
    RegisterCameraStorageClass();
    int result;
    try {
        result = Run(argc, argv);
    } catch (const KException& e) {
        result = Fail(std::string(e.GetDescription()) + ": " + e.GetMessage());
    }
    ShutdownStorageClasses();
    return result;
}
