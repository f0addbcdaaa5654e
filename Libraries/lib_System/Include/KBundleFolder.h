#pragma once
// A bundle: a tar archive followed by a 14-byte trailer ("????" and the archive's length in ten decimal
// digits), appended to a host file (the program itself) or standing alone. The folder presents the archive's
// members as read-only files, opened by name. A host that holds no valid bundle is a folder without members.
#include "KBundleFile.h"
#include "KIFolder.h"

class KBundleFolder : public KIFolder {
public:
    // Opens the host for reading; a host that cannot be opened gives a folder whose files are all empty.
    explicit KBundleFolder(const KWString& hostURL);

    void Release() override;
    // A bundle has no sub-folders: null.
    KIFolder* OpenFolder(const KWString& name, bool create) override;
    // The member of that name, for reading whatever the mode; an absent member is a file of size 0.
    KIFile* OpenFile(const KWString& name, int mode) override;
    // The member names in archive order.
    void ListFiles(std::vector<KWString>& names) override;
    void ListFolders(std::vector<KWString>& names) override;
    void Rename(const KWString& oldName, const KWString& newName) override;
    bool DeleteFile(const KWString& name) override;
    void DeleteFolder(const KWString& url, int how) override;
    // The host file's URL.
    void GetURL(KWString& url) override;
    void GetNote(KWString& note) override;
    void SetUserData(uintptr_t data) override;
    KInt64 GetFreeSpace() override;
    bool IsReadOnly() override;
    bool GetAttributes(KUInt32* flags) override;
    int GetDriveType() override;

    KBundleFileHandle* GetHandle() const { return m_pHandle; }

private:
    ~KBundleFolder() override = default;

    KBundleFileHandle* m_pHandle;
    KWString m_HostURL;
};
