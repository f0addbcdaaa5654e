#include "KSCListFolderWin.h"

#include "KSCFolderWin.h"
#include "PlatformPath.h"

KIFolder* KSCListFolderWin::OpenFolder(const KWString& name, bool)
{
    std::vector<KWString> names;
    ListFolders(names);
    for (const KWString& n : names)
        if (n == name)
            return priOpenListed(name);
    return nullptr;
}

void KSCListFolderWin::GetURL(KWString& url)
{
    url = m_ClassName;
}

void KSCListFolderWin::GetNote(KWString& note)
{
    note.Clear();
}

void KSCListFolderWin::SetUserData(uintptr_t data)
{
    m_UserData = data;
}

KInt64 KSCListFolderWin::GetFreeSpace()
{
    return -1;
}

bool KSCListFolderWin::IsReadOnly()
{
    return true;
}

bool KSCListFolderWin::GetAttributes(KUInt32* flags)
{
    *flags = (*flags | KFOLDER_READONLY) & ~static_cast<KUInt32>(KFOLDER_HIDDEN);
    return true;
}

void KSCVolEnumFolderWin::ListFolders(std::vector<KWString>& names)
{
    for (const PlatDrive& d : PlatGetDrives()) {
        KWString letter;
        letter.AppendChar(static_cast<KWChar>(d.letter));
        names.push_back(letter);
    }
}

int KSCVolEnumFolderWin::GetDriveType()
{
    return KDRIVE_UNKNOWN;
}

KIFolder* KSCVolEnumFolderWin::priOpenListed(const KWString& name)
{
    KWString root = name;
    root += u":";
    return new KSCFolderWin(m_ClassName, root);
}

void KSCNetEnumFolderWin::ListFolders(std::vector<KWString>&)
{
    // No network enumeration on this machine.
}

int KSCNetEnumFolderWin::GetDriveType()
{
    return KDRIVE_REMOTE;
}

KIFolder* KSCNetEnumFolderWin::priOpenListed(const KWString& name)
{
    // The disk class's own form of a server: \\server.
    KWString native = u"\\\\";
    native += name;
    return new KSCFolderWin(m_ClassName, native);
}
