#pragma once
// A storage class "mem" for tests: one flat folder of files held in memory, whose writes can be made to fail
// (a full disk) after a budget of bytes, and whose flush can be made to fail. Folder semantics follow the
// disk class: a rename onto an existing name is refused.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "KException.h"
#include "KStorage.h"

namespace memstore {

struct State {
    std::map<std::u16string, std::vector<uint8_t>> files;
    long long writeBudget = -1;  // bytes that may still be written; -1 without limit
    bool failFlush = false;
};

class File : public KIFile {
public:
    File(std::shared_ptr<State> state, std::u16string name) : m_State(std::move(state)), m_Name(std::move(name)) {}
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
        auto& bytes = Bytes();
        if (m_Pos >= bytes.size())
            return 0;
        KUInt32 n = static_cast<KUInt32>(std::min<size_t>(count, bytes.size() - m_Pos));
        std::memcpy(buffer, bytes.data() + m_Pos, n);
        m_Pos += n;
        return n;
    }
    int Write(const void* buffer, KUInt32 count) override
    {
        if (m_State->writeBudget >= 0) {
            if (m_State->writeBudget < count)
                return 0;
            m_State->writeBudget -= count;
        }
        auto& bytes = Bytes();
        if (bytes.size() < m_Pos + count)
            bytes.resize(m_Pos + count);
        std::memcpy(bytes.data() + m_Pos, buffer, count);
        m_Pos += count;
        return 1;
    }
    void Flush() override
    {
        if (m_State->failFlush)
            throw KExceptionFileWrite("flush failed");
    }
    void SetEndOfFile(KUInt32 length) override { Bytes().resize(length); }
    KUInt32 GetSize() override { return static_cast<KUInt32>(Bytes().size()); }
    void GetURL(KWString& url) override { url = KWString(u"mem://") + KWString(std::u16string_view(m_Name)); }
    void GetInfo(KFileInfo*) override {}
    void SetReadOnly(const KFileInfo*) override {}

private:
    std::vector<uint8_t>& Bytes() { return m_State->files[m_Name]; }
    std::shared_ptr<State> m_State;
    std::u16string m_Name;
    KUInt32 m_Pos = 0;
};

class Folder : public KIFolder {
public:
    explicit Folder(std::shared_ptr<State> state) : m_State(std::move(state)) {}
    void Release() override { delete this; }
    KIFolder* OpenFolder(const KWString&, bool) override { return nullptr; }
    KIFile* OpenFile(const KWString& name, int mode) override
    {
        auto it = m_State->files.find(name.Str());
        if (mode & 2)
            m_State->files[name.Str()].clear();
        else if (it == m_State->files.end())
            return nullptr;
        return new File(m_State, name.Str());
    }
    void ListFiles(std::vector<KWString>& names) override
    {
        for (auto& f : m_State->files)
            names.push_back(KWString(std::u16string_view(f.first)));
    }
    void ListFolders(std::vector<KWString>&) override {}
    void Rename(const KWString& oldName, const KWString& newName) override
    {
        auto it = m_State->files.find(oldName.Str());
        if (it == m_State->files.end() || m_State->files.count(newName.Str()))
            return;  // refused, not reported
        m_State->files[newName.Str()] = std::move(it->second);
        m_State->files.erase(oldName.Str());
    }
    bool DeleteFile(const KWString& name) override
    {
        m_State->files.erase(name.Str());
        return true;
    }
    void DeleteFolder(const KWString&, int) override {}
    void GetURL(KWString& url) override { url = KWString("mem://"); }
    void GetNote(KWString& note) override { note.Clear(); }
    void SetUserData(uintptr_t) override {}
    KInt64 GetFreeSpace() override { return -1; }
    bool IsReadOnly() override { return false; }
    bool GetAttributes(KUInt32* flags) override { return true; }
    int GetDriveType() override { return KDRIVE_RAMDISK; }

private:
    std::shared_ptr<State> m_State;
};

class StorageClass : public KIStorageClass {
public:
    explicit StorageClass(std::shared_ptr<State> state) : m_State(std::move(state)) {}
    KIFile* OpenFile(const KWString& path, int mode) override { return Folder(m_State).OpenFile(path, mode); }
    KIFolder* OpenFolder(const KWString& path, KWString& leafName, bool) override
    {
        leafName.Clear();
        if (!path.IsEmpty() && path != "/")
            return nullptr;
        return new Folder(m_State);
    }
    bool GetSpecialFolder(int kind, KWString& url) override
    {
        if (kind != KSPECIAL_TEMP)
            return false;
        url = KWString("mem://");
        return true;
    }
    bool GetNativePath(const KWString&, KWString&) override { return false; }
    bool FromNativePath(const KWString&, KWString&) override { return false; }
    const KWChar* GetName() override { return u"mem"; }
    const KWChar* GetDescription() override { return u"files in memory"; }
    void Launch(const KWString&, const KWChar*) override {}
    bool Exists(const KWString& path, bool* isFolder) override
    {
        if (path.IsEmpty()) {
            if (isFolder)
                *isFolder = true;
            return true;
        }
        if (!m_State->files.count(path.Str()))
            return false;
        if (isFolder)
            *isFolder = false;
        return true;
    }
    void MoveToTrash(const KWString& path) override { m_State->files.erase(path.Str()); }

private:
    std::shared_ptr<State> m_State;
};

}  // namespace memstore
