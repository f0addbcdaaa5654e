#pragma once
// The two list folders at the top of the disk storage class: the drives (URL path "") and the network's
// servers (URL path "net"). A name opens only when the listing gives it now. Both answer the class name alone
// as their URL, which resolves to the class's top level.
#include "KNullFolder.h"

class KSCListFolderWin : public KNullFolder {
public:
    explicit KSCListFolderWin(const KWString& className) : m_ClassName(className) {}

    KIFolder* OpenFolder(const KWString& name, bool create) override;
    void GetURL(KWString& url) override;
    void GetNote(KWString& note) override;
    void SetUserData(uintptr_t data) override;
    KInt64 GetFreeSpace() override;
    bool IsReadOnly() override;
    bool GetAttributes(KUInt32* flags) override;

protected:
    // The folder for a listed name.
    virtual KIFolder* priOpenListed(const KWString& name) = 0;

    KWString m_ClassName;
    uintptr_t m_UserData = 0;
};

// The drives: one name per drive letter; a listed letter opens the drive's root ("C:").
class KSCVolEnumFolderWin : public KSCListFolderWin {
public:
    using KSCListFolderWin::KSCListFolderWin;
    void ListFolders(std::vector<KWString>& names) override;
    int GetDriveType() override;

protected:
    KIFolder* priOpenListed(const KWString& name) override;
};

// The network's servers. This machine has no network: the listing is empty, so nothing opens.
class KSCNetEnumFolderWin : public KSCListFolderWin {
public:
    using KSCListFolderWin::KSCListFolderWin;
    void ListFolders(std::vector<KWString>& names) override;
    int GetDriveType() override;

protected:
    KIFolder* priOpenListed(const KWString& name) override;
};
