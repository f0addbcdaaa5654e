#pragma once
// The root folder of the storage layer: its sub-folders are the registered storage classes.
#include "KIFolder.h"

class KSCEnumFolder : public KIFolder {
public:
    void Release() override;
    // The name is taken as a whole URL, so a listed class name opens that class's top level.
    KIFolder* OpenFolder(const KWString& name, bool create) override;
    KIFile* OpenFile(const KWString& name, int mode) override;
    void ListFiles(std::vector<KWString>& names) override;
    void ListFolders(std::vector<KWString>& names) override;
    // Throws KException "Cannot rename storage classes".
    void Rename(const KWString& oldName, const KWString& newName) override;
    bool DeleteFile(const KWString& name) override;
    // Throws KException "Cannot delete storage classes".
    void DeleteFolder(const KWString& url, int how) override;
    void GetURL(KWString& url) override;
    void GetNote(KWString& note) override;
    void SetUserData(uintptr_t data) override;
    KInt64 GetFreeSpace() override;
    bool IsReadOnly() override;
    bool GetAttributes(KUInt32* flags) override;
    int GetDriveType() override;

private:
    uintptr_t m_UserData = 0;
};
