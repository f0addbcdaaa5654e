#include "KBundleFile.h"

#include <algorithm>

#include "KBundleArchive.h"
#include "KException.h"
#include "KStorageURL.h"

KBundleFileHandle::KBundleFileHandle(KIFile* host) : m_pHost(host) {}

KBundleFileHandle::~KBundleFileHandle()
{
    if (m_pHost)
        m_pHost->Release();
}

KBundleFile::KBundleFile(KBundleFileHandle* handle, const KWString& hostURL, const KWString& memberName)
    : m_HostURL(hostURL)
{
    m_pHost = bundle::OpenHost(hostURL);
    if (!m_pHost)
        return;
    if (handle) {
        handle->AddRef();
        m_pHandle = handle;
    }
    m_HostSize = m_pHost->GetSize();
    priFindMember(memberName);
}

KBundleFile::~KBundleFile()
{
    if (m_pHost)
        m_pHost->Release();
    if (m_pHandle)
        m_pHandle->Release();
}

bool KBundleFile::priFindMember(const KWString& name)
{
    m_MemberStart = m_MemberSize = m_Position = 0;
    bundle::Archive archive;
    if (!bundle::ReadTrailer(m_pHost, m_HostSize, archive))
        return false;
    const std::string wanted = name.GetAscii();
    bool found = false;
    bundle::Walk(m_pHost, archive, [&](const bundle::Member& m) {
        if (m.name != wanted)
            return true;
        m_MemberStart = static_cast<KUInt32>(m.dataStart);
        m_MemberSize = static_cast<KUInt32>(m.size);
        found = true;
        return false;
    });
    if (found)
        m_pHost->Seek(m_MemberStart);
    return found;
}

void KBundleFile::Release()
{
    delete this;
}

KUInt32 KBundleFile::Seek(KUInt32 position)
{
    m_Position = position;
    return position;
}

KUInt32 KBundleFile::Tell()
{
    return m_Position;
}

KUInt32 KBundleFile::Read(void* buffer, KUInt32 count)
{
    if (!m_pHost || m_Position >= m_MemberSize || count == 0)
        return 0;
    KUInt32 n = std::min(count, m_MemberSize - m_Position);
    if (m_pHost->Seek(m_MemberStart + m_Position) != m_MemberStart + m_Position)
        return 0;
    KUInt32 got = m_pHost->Read(buffer, n);
    m_Position += got;
    return got;
}

void KBundleFile::ReadExact(void* buffer, KUInt32 count)
{
    KUInt32 start = m_Position;
    KUInt32 got = Read(buffer, count);
    if (got < count) {
        KNarrowString message("Read %u of %u bytes at offset %u of a member of %u bytes in '%s'", got, count, start,
                              m_MemberSize, m_HostURL.GetAscii());
        throw KExceptionEOF(message.CStr());
    }
}

bool KBundleFile::ReadLine(KWString& line)
{
    return ReadTextLine(this, KTEXT_8BIT, line);
}

int KBundleFile::Write(const void*, KUInt32)
{
    return 0;
}

void KBundleFile::Flush() {}

void KBundleFile::SetEndOfFile(KUInt32) {}

KUInt32 KBundleFile::GetSize()
{
    return m_MemberSize;
}

void KBundleFile::GetURL(KWString& url)
{
    url = m_HostURL;
}

void KBundleFile::GetInfo(KFileInfo* info)
{
    info->flags |= KFILEINFO_READONLY;
}

void KBundleFile::SetReadOnly(const KFileInfo*) {}
