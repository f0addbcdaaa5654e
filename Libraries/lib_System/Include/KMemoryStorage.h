#pragma once
// Files and a flat folder held in memory, for tests and fuzz targets that drive readers and writers written
// against KIFile without touching a disk. Files opened from one folder share their bytes with it. Not for use
// from several threads at once.
#include <map>
#include <memory>
#include <vector>

#include "KIFolder.h"

using KMemoryBytes = std::shared_ptr<std::vector<uint8_t>>;

class KMemoryFile : public KIFile {
public:
    KMemoryFile(KMemoryBytes bytes, const KWString& url, bool writable);

    void Release() override;
    KUInt32 Seek(KUInt32 position) override;
    KUInt32 Tell() override;
    // 8-bit lines, terminator kept.
    bool ReadLine(KWString& line) override;
    void ReadExact(void* buffer, KUInt32 count) override;
    KUInt32 Read(void* buffer, KUInt32 count) override;
    int Write(const void* buffer, KUInt32 count) override;
    void Flush() override;
    void SetEndOfFile(KUInt32 length) override;
    KUInt32 GetSize() override;
    void GetURL(KWString& url) override;
    void GetInfo(KFileInfo* info) override;
    void SetReadOnly(const KFileInfo* info) override;

private:
    KMemoryBytes m_Bytes;
    KWString m_URL;
    bool m_Writable;
    size_t m_Position = 0;
};

class KMemoryFolder : public KIFolder {
public:
    // url: what GetURL answers, ending "/" (files answer it followed by their name).
    explicit KMemoryFolder(const KWString& url = KWString(u"mem://"));

    // Adds or replaces a file.
    void Put(const KWString& name, std::vector<uint8_t> bytes);
    // The bytes of a file, or null.
    KMemoryBytes Get(const KWString& name) const;

    void Release() override;
    KIFolder* OpenFolder(const KWString& name, bool create) override;
    KIFile* OpenFile(const KWString& name, int mode) override;
    void ListFiles(std::vector<KWString>& names) override;
    void ListFolders(std::vector<KWString>& names) override;
    void Rename(const KWString& oldName, const KWString& newName) override;
    bool DeleteFile(const KWString& name) override;
    void DeleteFolder(const KWString& url, int how) override;
    void GetURL(KWString& url) override;
    void GetNote(KWString& note) override;
    void SetUserData(uintptr_t data) override;
    KInt64 GetFreeSpace() override;
    bool IsReadOnly() override;
    bool GetAttributes(KUInt32* flags) override;
    int GetDriveType() override;

private:
    KWString m_URL;
    std::map<std::u16string, KMemoryBytes> m_Files;
};
