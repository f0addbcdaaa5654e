#include "KNullFolder.h"

#include "KException.h"

void KNullFolder::Release()
{
    delete this;
}

KIFolder* KNullFolder::OpenFolder(const KWString&, bool)
{
    return nullptr;
}

KIFile* KNullFolder::OpenFile(const KWString&, int)
{
    return nullptr;
}

void KNullFolder::ListFiles(std::vector<KWString>&) {}

void KNullFolder::ListFolders(std::vector<KWString>&) {}

void KNullFolder::Rename(const KWString&, const KWString&)
{
    throw KExceptionFileIO("");
}

bool KNullFolder::DeleteFile(const KWString&)
{
    return false;
}

void KNullFolder::DeleteFolder(const KWString&, int)
{
    throw KExceptionFileIO("");
}

void KNullFolder::SetUserData(uintptr_t) {}

KInt64 KNullFolder::GetFreeSpace()
{
    return 0;
}

bool KNullFolder::IsReadOnly()
{
    return false;
}
