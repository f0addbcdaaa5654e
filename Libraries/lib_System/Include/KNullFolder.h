#pragma once
// An empty folder that refuses everything: the base of the list folders (drives, servers, cameras).
// Derived classes give GetURL, GetNote, GetAttributes and GetDriveType.
#include "KIFolder.h"

class KNullFolder : public KIFolder {
public:
    void Release() override;
    KIFolder* OpenFolder(const KWString& name, bool create) override;
    KIFile* OpenFile(const KWString& name, int mode) override;
    void ListFiles(std::vector<KWString>& names) override;
    void ListFolders(std::vector<KWString>& names) override;
    // Throws KExceptionFileIO with an empty message.
    void Rename(const KWString& oldName, const KWString& newName) override;
    bool DeleteFile(const KWString& name) override;
    // Throws KExceptionFileIO with an empty message.
    void DeleteFolder(const KWString& url, int how) override;
    void SetUserData(uintptr_t data) override;
    KInt64 GetFreeSpace() override;
    bool IsReadOnly() override;
};
