// Opens its own program file as a bundle, as the application does at start-up, and writes one member to
// standard output ("ls" lists the members instead). Exit status 3 when the member is absent.
#include <cstdio>
#include <cstring>
#include <vector>

#include "KBundleFolder.h"
#include "KSCDiskWin.h"
#include "KStorage.h"
#include "PlatformShell.h"
#include "KTextFunctions.h"

int main(int argc, char** argv)
{
    RegisterDiskStorageClass();
    std::string self;
    KWString url;
    if (!PlatGetModuleFileName(self) || !NativeFileToURL(Utf8ToWide(self), url))
        return 1;
    int status = 0;
    KBundleFolder* bundle = new KBundleFolder(url);
    if (argc > 1 && std::strcmp(argv[1], "ls") == 0) {
        std::vector<KWString> names;
        bundle->ListFiles(names);
        for (const KWString& n : names)
            std::printf("%s\n", WideToUtf8(n).c_str());
    } else {
        KFileHolder member(bundle->OpenFile(Utf8ToWide(argc > 1 ? argv[1] : "ui.xml"), KFILE_MODE_READ));
        if (member->GetSize() == 0) {
            status = 3;
        } else {
            std::vector<char> bytes(member->GetSize());
            member->ReadExact(bytes.data(), static_cast<KUInt32>(bytes.size()));
            std::fwrite(bytes.data(), 1, bytes.size(), stdout);
        }
    }
    bundle->Release();
    ShutdownStorageClasses();
    return status;
}
