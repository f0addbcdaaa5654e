#pragma once
// A storage class "mem" for tests: one flat folder of files held in memory, whose writes can be made to fail
// (a full disk) after a budget of bytes, and whose flush can be made to fail. Folder semantics follow the
// disk class: a rename onto an existing name is refused.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "KException.h"
#include "KMemoryStorage.h"
#include "KStorage.h"

namespace memstore {

struct State {
    std::map<std::u16string, KMemoryBytes> files;
    long long writeBudget = -1;  // bytes that may still be written; -1 without limit
    bool failFlush = false;
};

// A memory file whose writes draw on the state's budget and whose flush can fail.
class File : public KMemoryFile {
public:
    File(std::shared_ptr<State> state, KMemoryBytes bytes, const std::u16string& name, bool writable)
        : KMemoryFile(std::move(bytes), KWString(u"mem://") + KWString(std::u16string_view(name)), writable),
          m_State(std::move(state))
    {
    }
    int Write(const void* buffer, KUInt32 count) override
    {
        if (m_State->writeBudget >= 0) {
            if (m_State->writeBudget < count)
                return 0;
            m_State->writeBudget -= count;
        }
        return KMemoryFile::Write(buffer, count);
    }
    void Flush() override
    {
        if (m_State->failFlush)
            throw KExceptionFileWrite("flush failed");
    }

private:
    std::shared_ptr<State> m_State;
};

class Folder : public KIFolder {
public:
    explicit Folder(std::shared_ptr<State> state) : m_State(std::move(state)) {}
    void Release() override { delete this; }
    KIFolder* OpenFolder(const KWString&, bool) override { return nullptr; }
    KIFile* OpenFile(const KWString& name, int mode) override
    {
        KMemoryBytes& bytes = m_State->files[name.Str()];
        if (mode & 2) {
            if (!bytes || !(mode & 4))  // mode 6 keeps an existing file and starts at its end
                bytes = std::make_shared<std::vector<uint8_t>>();
        } else if (!bytes) {
            m_State->files.erase(name.Str());
            return nullptr;
        }
        File* file = new File(m_State, bytes, name.Str(), (mode & 2) != 0);
        if ((mode & 2) && (mode & 4))
            file->Seek(static_cast<KUInt32>(bytes->size()));
        return file;
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
