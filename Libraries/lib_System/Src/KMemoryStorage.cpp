#include "KMemoryStorage.h"

#include <algorithm>
#include <cstring>

#include "KException.h"

KMemoryFile::KMemoryFile(KMemoryBytes bytes, const KWString& url, bool writable)
    : m_Bytes(std::move(bytes)), m_URL(url), m_Writable(writable)
{
}

void KMemoryFile::Release()
{
    delete this;
}

KUInt32 KMemoryFile::Seek(KUInt32 position)
{
    m_Position = position;
    return position;
}

KUInt32 KMemoryFile::Tell()
{
    return static_cast<KUInt32>(m_Position);
}

bool KMemoryFile::ReadLine(KWString& line)
{
    return ReadTextLine(this, KTEXT_8BIT, line);
}

void KMemoryFile::ReadExact(void* buffer, KUInt32 count)
{
    if (Read(buffer, count) != count)
        throw KExceptionEOF("");
}

KUInt32 KMemoryFile::Read(void* buffer, KUInt32 count)
{
    if (m_Position >= m_Bytes->size())
        return 0;
    size_t n = std::min<size_t>(count, m_Bytes->size() - m_Position);
    std::memcpy(buffer, m_Bytes->data() + m_Position, n);
    m_Position += n;
    return static_cast<KUInt32>(n);
}

int KMemoryFile::Write(const void* buffer, KUInt32 count)
{
    if (!m_Writable)
        return 0;
    if (m_Position + count > m_Bytes->size())
        m_Bytes->resize(m_Position + count);
    if (count)
        std::memcpy(m_Bytes->data() + m_Position, buffer, count);
    m_Position += count;
    return 1;
}

void KMemoryFile::Flush() {}

void KMemoryFile::SetEndOfFile(KUInt32 length)
{
    if (m_Writable)
        m_Bytes->resize(length);
}

KUInt32 KMemoryFile::GetSize()
{
    return static_cast<KUInt32>(m_Bytes->size());
}

void KMemoryFile::GetURL(KWString& url)
{
    url = m_URL;
}

void KMemoryFile::GetInfo(KFileInfo* info)
{
    if (m_Writable)
        info->flags &= ~KFILEINFO_READONLY;
    else
        info->flags |= KFILEINFO_READONLY;
}

void KMemoryFile::SetReadOnly(const KFileInfo*) {}

KMemoryFolder::KMemoryFolder(const KWString& url) : m_URL(url) {}

void KMemoryFolder::Put(const KWString& name, std::vector<uint8_t> bytes)
{
    m_Files[name.Str()] = std::make_shared<std::vector<uint8_t>>(std::move(bytes));
}

KMemoryBytes KMemoryFolder::Get(const KWString& name) const
{
    auto it = m_Files.find(name.Str());
    return it == m_Files.end() ? nullptr : it->second;
}

void KMemoryFolder::Release()
{
    delete this;
}

KIFolder* KMemoryFolder::OpenFolder(const KWString&, bool)
{
    return nullptr;
}

KIFile* KMemoryFolder::OpenFile(const KWString& name, int mode)
{
    const bool write = (mode & KFILE_MODE_WRITE) != 0;
    KMemoryBytes bytes = Get(name);
    if (!bytes) {
        if (!write)
            return nullptr;
        bytes = std::make_shared<std::vector<uint8_t>>();
        m_Files[name.Str()] = bytes;
    } else if (write && !(mode & 4)) {
        bytes->clear();
    }
    KMemoryFile* file = new KMemoryFile(bytes, m_URL + name, write);
    if (write && (mode & 4))
        file->Seek(static_cast<KUInt32>(bytes->size()));
    return file;
}

void KMemoryFolder::ListFiles(std::vector<KWString>& names)
{
    for (const auto& f : m_Files)
        names.emplace_back(f.first);
}

void KMemoryFolder::ListFolders(std::vector<KWString>&) {}

void KMemoryFolder::Rename(const KWString& oldName, const KWString& newName)
{
    auto it = m_Files.find(oldName.Str());
    if (it == m_Files.end() || m_Files.count(newName.Str()))
        return;
    KMemoryBytes bytes = it->second;
    m_Files.erase(it);
    m_Files[newName.Str()] = bytes;
}

bool KMemoryFolder::DeleteFile(const KWString& name)
{
    m_Files.erase(name.Str());
    return true;
}

void KMemoryFolder::DeleteFolder(const KWString&, int) {}

void KMemoryFolder::GetURL(KWString& url)
{
    url = m_URL;
}

void KMemoryFolder::GetNote(KWString& note)
{
    note.Clear();
}

void KMemoryFolder::SetUserData(uintptr_t) {}

KInt64 KMemoryFolder::GetFreeSpace()
{
    return -1;
}

bool KMemoryFolder::IsReadOnly()
{
    return false;
}

bool KMemoryFolder::GetAttributes(KUInt32* flags)
{
    *flags &= ~static_cast<KUInt32>(KFOLDER_READONLY | KFOLDER_HIDDEN);
    return true;
}

int KMemoryFolder::GetDriveType()
{
    return KDRIVE_RAMDISK;
}
