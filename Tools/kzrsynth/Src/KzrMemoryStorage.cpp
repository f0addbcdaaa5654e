#include "KzrMemoryStorage.h"

#include <algorithm>
#include <cstring>

#include "KException.h"
#include "KStorageURL.h"

namespace kzrsynth {

namespace {

std::map<std::u16string, std::shared_ptr<MemoryFileData>>& Store()
{
    static std::map<std::u16string, std::shared_ptr<MemoryFileData>> store;
    return store;
}

}  // namespace

bool MemoryFile::ReadLine(KWString& line)
{
    line.Clear();
    const auto& b = m_Data->bytes;
    if (m_Position >= b.size())
        return false;
    while (m_Position < b.size()) {
        const char c = static_cast<char>(b[m_Position++]);
        line += c;
        if (c == '\n')
            break;
    }
    return true;
}

KUInt32 MemoryFile::Read(void* buffer, KUInt32 count)
{
    if (m_Data->onRead)
        m_Data->onRead(m_Position, count);
    const auto& b = m_Data->bytes;
    const KUInt32 n = m_Position >= b.size() ? 0 : std::min<KUInt32>(count, static_cast<KUInt32>(b.size() - m_Position));
    if (n)
        std::memcpy(buffer, b.data() + m_Position, n);
    m_Position += n;
    return n;
}

void MemoryFile::ReadExact(void* buffer, KUInt32 count)
{
    if (Read(buffer, count) != count)
        throw KExceptionEOF("");
}

int MemoryFile::Write(const void* buffer, KUInt32 count)
{
    if (m_Data->failWrites)
        return 0;
    auto& b = m_Data->bytes;
    if (b.size() < size_t(m_Position) + count)
        b.resize(size_t(m_Position) + count);
    if (count)
        std::memcpy(b.data() + m_Position, buffer, count);
    m_Position += count;
    return 1;
}

void MemoryStorage::Register() { RegisterStorageClass(KWString(u"mem"), new MemoryStorage); }

std::shared_ptr<MemoryFileData> MemoryStorage::Put(const std::u16string& name, std::vector<uint8_t> bytes)
{
    auto data = std::make_shared<MemoryFileData>();
    data->bytes = std::move(bytes);
    Store()[name] = data;
    return data;
}

std::shared_ptr<MemoryFileData> MemoryStorage::Get(const std::u16string& name)
{
    auto it = Store().find(name);
    return it == Store().end() ? nullptr : it->second;
}

void MemoryStorage::Clear() { Store().clear(); }

KIFile* MemoryStorage::OpenFile(const KWString& path, int mode)
{
    const std::u16string name(path.View());
    auto data = Get(name);
    if (!data) {
        if (!(mode & 2))
            return nullptr;
        data = Put(name, {});
    } else if ((mode & 2) && !(mode & 4)) {
        data->bytes.clear();
    }
    auto* file = new MemoryFile(data, KWString(u"mem://") + path);
    if (mode & 4)
        file->Seek(static_cast<KUInt32>(data->bytes.size()));
    return file;
}

bool MemoryStorage::Exists(const KWString& path, bool* isFolder)
{
    if (isFolder)
        *isFolder = false;
    return Get(std::u16string(path.View())) != nullptr;
}

void MemoryStorage::MoveToTrash(const KWString& path) { Store().erase(std::u16string(path.View())); }

}  // namespace kzrsynth
