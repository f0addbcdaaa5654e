#pragma once
// Files in memory for tests and fuzzing: a KIFile over a shared byte vector, and a storage class that hands
// such files out by name, so that code which opens URLs can run without a disk and with injected faults.
// Test use only: one thread at a time.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "KIFile.h"
#include "KIStorageClass.h"

namespace kzrsynth {

struct MemoryFileData {
    std::vector<uint8_t> bytes;
    bool failWrites = false;                                     // Write reports failure and changes nothing
    std::function<void(uint64_t position, uint32_t count)> onRead;  // called before every read
    int flushes = 0;
};

class MemoryFile : public KIFile {
public:
    MemoryFile(std::shared_ptr<MemoryFileData> data, const KWString& url) : m_Data(std::move(data)), m_URL(url) {}

    void Release() override { delete this; }
    KUInt32 Seek(KUInt32 position) override { return m_Position = position; }
    KUInt32 Tell() override { return m_Position; }
    bool ReadLine(KWString& line) override;
    void ReadExact(void* buffer, KUInt32 count) override;
    KUInt32 Read(void* buffer, KUInt32 count) override;
    int Write(const void* buffer, KUInt32 count) override;
    void Flush() override { ++m_Data->flushes; }
    void SetEndOfFile(KUInt32 length) override { m_Data->bytes.resize(length); }
    KUInt32 GetSize() override { return static_cast<KUInt32>(m_Data->bytes.size()); }
    void GetURL(KWString& url) override { url = m_URL; }
    void GetInfo(KFileInfo* info) override { *info = KFileInfo{}; }
    void SetReadOnly(const KFileInfo*) override {}

private:
    std::shared_ptr<MemoryFileData> m_Data;
    KWString m_URL;
    KUInt32 m_Position = 0;
};

// The storage class "mem": paths are plain names of files in one flat store.
class MemoryStorage : public KIStorageClass {
public:
    // Registers a new instance as "mem".
    static void Register();
    // Adds (or replaces) a file; returns its data, which stays shared with every open file.
    static std::shared_ptr<MemoryFileData> Put(const std::u16string& name, std::vector<uint8_t> bytes);
    static std::shared_ptr<MemoryFileData> Get(const std::u16string& name);
    static void Clear();

    KIFile* OpenFile(const KWString& path, int mode) override;
    KIFolder* OpenFolder(const KWString&, KWString&, bool) override { return nullptr; }
    bool GetSpecialFolder(int, KWString&) override { return false; }
    bool GetNativePath(const KWString&, KWString&) override { return false; }
    bool FromNativePath(const KWString&, KWString&) override { return false; }
    const KWChar* GetName() override { return u"mem"; }
    const KWChar* GetDescription() override { return u"files in memory"; }
    void Launch(const KWString&, const KWChar*) override {}
    bool Exists(const KWString& path, bool* isFolder) override;
    void MoveToTrash(const KWString& path) override;
};

}  // namespace kzrsynth
