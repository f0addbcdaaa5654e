#pragma once
// The fuzzer's current input as a read-only KIFile, and a storage class "fuzz" whose every file is that input,
// for targets whose parser opens its file by URL.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "KException.h"
#include "KStorage.h"

namespace fuzzinput {

inline const uint8_t* g_Data = nullptr;
inline size_t g_Size = 0;

// Sets the input that the files read.
inline void SetInput(const uint8_t* data, size_t size)
{
    g_Data = data;
    g_Size = size;
}

class InputFile : public KIFile {
public:
    void Release() override { delete this; }
    KUInt32 Seek(KUInt32 position) override { return m_Pos = position; }
    KUInt32 Tell() override { return m_Pos; }
    bool ReadLine(KWString&) override { return false; }
    void ReadExact(void* buffer, KUInt32 count) override
    {
        if (Read(buffer, count) != count)
            throw KExceptionEOF("");
    }
    KUInt32 Read(void* buffer, KUInt32 count) override
    {
        if (m_Pos >= g_Size)
            return 0;
        const size_t n = g_Size - m_Pos < count ? g_Size - m_Pos : count;
        std::memcpy(buffer, g_Data + m_Pos, n);
        m_Pos += static_cast<KUInt32>(n);
        return static_cast<KUInt32>(n);
    }
    int Write(const void*, KUInt32) override { return 0; }
    void Flush() override {}
    void SetEndOfFile(KUInt32) override {}
    KUInt32 GetSize() override { return static_cast<KUInt32>(g_Size); }
    void GetURL(KWString& url) override { url = KWString("fuzz://input"); }
    void GetInfo(KFileInfo*) override {}
    void SetReadOnly(const KFileInfo*) override {}

private:
    KUInt32 m_Pos = 0;
};

class InputClass : public KIStorageClass {
public:
    KIFile* OpenFile(const KWString&, int mode) override { return mode == KFILE_MODE_READ ? new InputFile : nullptr; }
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
