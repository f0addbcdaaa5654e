#include "KSCEnumFolder.h"

#include "KException.h"
#include "KStorageURL.h"

void KSCEnumFolder::Release()
{
    delete this;
}

KIFolder* KSCEnumFolder::OpenFolder(const KWString& name, bool create)
{
    KWString leaf;
    return OpenFolderByURL(name, leaf, create);
}

KIFile* KSCEnumFolder::OpenFile(const KWString&, int)
{
    return nullptr;
}

void KSCEnumFolder::ListFiles(std::vector<KWString>&) {}

void KSCEnumFolder::ListFolders(std::vector<KWString>& names)
{
    ListStorageClasses(names);
}

void KSCEnumFolder::Rename(const KWString&, const KWString&)
{
    throw KException("Cannot rename storage classes");
}

bool KSCEnumFolder::DeleteFile(const KWString&)
{
    return false;
}

void KSCEnumFolder::DeleteFolder(const KWString&, int)
{
    throw KException("Cannot delete storage classes");
}

void KSCEnumFolder::GetURL(KWString& url)
{
    url.Clear();
}

void KSCEnumFolder::GetNote(KWString& note)
{
    note.Clear();
}

void KSCEnumFolder::SetUserData(uintptr_t data)
{
    m_UserData = data;
}

KInt64 KSCEnumFolder::GetFreeSpace()
{
    return -1;
}

bool KSCEnumFolder::IsReadOnly()
{
    return true;
}

bool KSCEnumFolder::GetAttributes(KUInt32* flags)
{
    *flags = (*flags | KFOLDER_READONLY) & ~static_cast<KUInt32>(KFOLDER_HIDDEN);
    return true;
}

int KSCEnumFolder::GetDriveType()
{
    return KDRIVE_UNKNOWN;
}
