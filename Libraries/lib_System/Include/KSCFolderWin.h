#pragma once
// A folder of the file system, for the disk storage class. A plain value holder (no open handle): the native
// folder path (no trailing backslash; a drive root is "C:") and the class name.
#include "KIFolder.h"

class KSCFolderWin : public KIFolder {
public:
    KSCFolderWin(const KWString& className, const KWString& nativePath);

    void Release() override;
    KIFolder* OpenFolder(const KWString& name, bool create) override;
    // Null for a missing file without the write bit; a file that cannot be opened throws KExceptionFileOpen.
    KIFile* OpenFile(const KWString& name, int mode) override;
    void ListFiles(std::vector<KWString>& names) override;
    void ListFolders(std::vector<KWString>& names) override;
    void Rename(const KWString& oldName, const KWString& newName) override;
    // True when the file is gone afterwards (a missing file counts as deleted), false on any other failure.
    bool DeleteFile(const KWString& name) override;
    void DeleteFolder(const KWString& url, int how) override;
    void GetURL(KWString& url) override;
    void GetNote(KWString& note) override;
    void SetUserData(uintptr_t data) override;
    KInt64 GetFreeSpace() override;
    bool IsReadOnly() override;
    bool GetAttributes(KUInt32* flags) override;
    int GetDriveType() override;

    const KWString& GetNativePath() const { return m_NativePath; }

private:
    KWString priChild(const KWString& name) const;

    uintptr_t m_UserData = 0;
    KWString m_ClassName;
    KWString m_NativePath;
};

// Deletes a native folder with everything in it, clearing read-only marks on the way; false at the first
// entry that cannot be deleted (what was deleted before stays deleted).
bool RecursiveDelete(const KWString& nativeFolder);
