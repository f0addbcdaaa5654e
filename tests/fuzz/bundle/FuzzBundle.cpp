// A bundle is read from bytes appended to any file: for any host, listing the members, opening each (and a
// name that is absent) and reading it to the end must end without a crash, reading nothing outside the member.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "KBundleFolder.h"
#include "KException.h"
#include "KMemoryStorage.h"
#include "KStorage.h"

namespace {

KMemoryBytes g_Host;

// The storage class "mem": its one file "host" is the input.
class MemoryClass : public KIStorageClass {
public:
    KIFile* OpenFile(const KWString& path, int) override
    {
        return path == u"host" ? new KMemoryFile(g_Host, KWString(u"mem://host"), false) : nullptr;
    }
    KIFolder* OpenFolder(const KWString&, KWString&, bool) override { return nullptr; }
    bool GetSpecialFolder(int, KWString&) override { return false; }
    bool GetNativePath(const KWString&, KWString&) override { return false; }
    bool FromNativePath(const KWString&, KWString&) override { return false; }
    const KWChar* GetName() override { return u"mem"; }
    const KWChar* GetDescription() override { return u"memory"; }
    void Launch(const KWString&, const KWChar*) override {}
    bool Exists(const KWString& path, bool*) override { return path == u"host"; }
    void MoveToTrash(const KWString&) override {}
};

void ReadAll(KIFolder* folder, const KWString& name)
{
    KFileHolder file(folder->OpenFile(name, KFILE_MODE_READ));
    KUInt32 size = file->GetSize();
    std::vector<uint8_t> buffer(4096);
    KUInt32 total = 0;
    while (KUInt32 got = file->Read(buffer.data(), static_cast<KUInt32>(buffer.size())))
        total += got;
    if (total != size)
        __builtin_trap();  // a read that left the member or stopped short
    file->Seek(0);
    KWString line;
    for (int i = 0; i < 64 && file->ReadLine(line); ++i) {
    }
    try {
        file->Seek(size > 0 ? size - 1 : 0);
        file->ReadExact(buffer.data(), 2);
    } catch (const KExceptionEOF&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool registered = [] {
        RegisterStorageClass(u"mem", new MemoryClass);
        std::atexit(ShutdownStorageClasses);
        return true;
    }();
    (void)registered;
    g_Host = std::make_shared<std::vector<uint8_t>>(data, data + size);
    KBundleFolder* folder = new KBundleFolder(u"mem://host");
    std::vector<KWString> names;
    folder->ListFiles(names);
    for (const KWString& n : names)
        ReadAll(folder, n);
    ReadAll(folder, u"ui.xml");
    folder->Release();
    g_Host.reset();
    return 0;
}
