#include "KBundleFolder.h"

#include "KBundleArchive.h"
#include "KException.h"
#include "KStorageHolder.h"
#include "KStorageURL.h"

KBundleFolder::KBundleFolder(const KWString& hostURL)
    : m_pHandle(new KBundleFileHandle(bundle::OpenHost(hostURL))), m_HostURL(hostURL)
{
}

void KBundleFolder::Release()
{
    m_pHandle->Release();
    delete this;
}

KIFolder* KBundleFolder::OpenFolder(const KWString&, bool)
{
    return nullptr;
}

KIFile* KBundleFolder::OpenFile(const KWString& name, int)
{
    return new KBundleFile(m_pHandle, m_HostURL, name);
}

void KBundleFolder::ListFiles(std::vector<KWString>& names)
{
    // From the archive's start (where member look-up starts), so an archive appended to a program lists too.
    KFileHolder host(bundle::OpenHost(m_HostURL));
    if (!host)
        return;
    bundle::Archive archive;
    if (!bundle::ReadTrailer(host.get(), host->GetSize(), archive))
        return;
    bundle::Walk(host.get(), archive, [&](const bundle::Member& m) {
        names.emplace_back(m.name.c_str());
        return true;
    });
}

void KBundleFolder::ListFolders(std::vector<KWString>&) {}

void KBundleFolder::Rename(const KWString&, const KWString&) {}

bool KBundleFolder::DeleteFile(const KWString&)
{
    return false;
}

void KBundleFolder::DeleteFolder(const KWString&, int) {}

void KBundleFolder::GetURL(KWString& url)
{
    url = m_HostURL;
}

void KBundleFolder::GetNote(KWString& note)
{
    note.Clear();
}

void KBundleFolder::SetUserData(uintptr_t) {}

KInt64 KBundleFolder::GetFreeSpace()
{
    return 0;
}

bool KBundleFolder::IsReadOnly()
{
    return true;
}

bool KBundleFolder::GetAttributes(KUInt32* flags)
{
    *flags = (*flags | KFOLDER_READONLY) & ~static_cast<KUInt32>(KFOLDER_HIDDEN);
    return true;
}

int KBundleFolder::GetDriveType()
{
    return KDRIVE_UNKNOWN;
}
