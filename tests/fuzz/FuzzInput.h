#pragma once
// The fuzzer's current input, served read-only as a KMemoryFile, and a storage class "fuzz" whose every file
// is that input, for targets whose parser opens its file by URL.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "KMemoryStorage.h"
#include "KStorage.h"

namespace fuzzinput {

inline KMemoryBytes g_Input;

// Sets the input that the files read.
inline void SetInput(const uint8_t* data, size_t size)
{
    g_Input = std::make_shared<std::vector<uint8_t>>(data, data + size);
}

// A new read-only file over the input.
inline KIFile* OpenInput(const KWString& url) { return new KMemoryFile(g_Input, url, false); }

class InputClass : public KIStorageClass {
public:
    KIFile* OpenFile(const KWString& path, int mode) override
    {
        return mode == KFILE_MODE_READ ? OpenInput(KWString("fuzz://") + path) : nullptr;
    }
    KIFolder* OpenFolder(const KWString&, KWString&, bool) override { return nullptr; }
    bool GetSpecialFolder(int, KWString&) override { return false; }
    bool GetNativePath(const KWString&, KWString&) override { return false; }
    bool FromNativePath(const KWString&, KWString&) override { return false; }
    const KWChar* GetName() override { return u"fuzz"; }
    const KWChar* GetDescription() override { return u"the fuzzer's input"; }
    void Launch(const KWString&, const KWChar*) override {}
    bool Exists(const KWString&, bool* isFolder) override
    {
        if (isFolder != nullptr)
            *isFolder = false;
        return true;
    }
    void MoveToTrash(const KWString&) override {}
};

// Registers the class once; the registry gives it back at exit.
inline void RegisterInputClass()
{
    static const bool registered = [] {
        RegisterStorageClass(KWString("fuzz"), new InputClass);
        std::atexit(ShutdownStorageClasses);
        return true;
    }();
    (void)registered;
}

}  // namespace fuzzinput
