// The raw container reader: header, directory, property lists, calibration sections and image sections.
#include <algorithm>
#include <cstring>
#include <set>

#include "KNarrowString.h"
#include "KPixmapExceptions.h"
#include "KStorageURL.h"
#include "QrlbReaderImpl.h"

using namespace KQrlb;

namespace {

constexpr int kMaxDirectoryDepth = 16;
constexpr KUInt32 kCamFileChunk = 0x20000;
// Pairs of a property list may share characters of its block, but the text they copy into the tree stays
// within this multiple of the block: pairs that all name one long text would otherwise fill memory.
constexpr KUInt64 kMaxTextReuse = 16;

std::string NarrowName(const KWString& name) { return name.GetAscii(); }

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// KQrlbFile

KQrlbFile::KQrlbFile(KIFile* file, const KWString& name) : m_pFile(file), m_Name(NarrowName(name))
{
    try {
        m_Size = file->GetSize();
    } catch (...) {
        file->Release();
        throw;
    }
}

KQrlbFile::~KQrlbFile() { m_pFile->Release(); }

void KQrlbFile::Fail(const std::string& what) const
{
    throw KExceptionQrlbReader(KNarrowString("%s in %s", what.c_str(), m_Name.c_str()).CStr());
}

void KQrlbFile::Seek(KUInt64 position)
{
    if (position > m_Size)
        throw KExceptionEOF(KNarrowString("position %llu is beyond the end of %s (%llu bytes)",
                                          static_cast<unsigned long long>(position), m_Name.c_str(),
                                          static_cast<unsigned long long>(m_Size))
                                .CStr());
    m_pFile->Seek(static_cast<KUInt32>(position));
    m_Position = position;
}

void KQrlbFile::Read(void* buffer, KUInt64 count)
{
    if (count > m_Size || m_Position > m_Size - count)
        throw KExceptionEOF(KNarrowString("read of %llu bytes at offset %llu passes the end of %s (%llu bytes)",
                                          static_cast<unsigned long long>(count),
                                          static_cast<unsigned long long>(m_Position), m_Name.c_str(),
                                          static_cast<unsigned long long>(m_Size))
                                .CStr());
    if (count)
        m_pFile->ReadExact(buffer, static_cast<KUInt32>(count));
    m_Position += count;
}

KUInt32 KQrlbFile::ReadWord()
{
    KUInt8 b[4];
    Read(b, 4);
    return ReadLE32(b);
}

void KQrlbFile::ReadAt(KUInt64 position, void* buffer, KUInt64 count)
{
    Seek(position);
    Read(buffer, count);
}

// ---------------------------------------------------------------------------------------------------------
// KQrlbImageReaderImpl

KQrlbImageReaderImpl::KQrlbImageReaderImpl(KIFile* file, const KWString& name) : m_File(file, name)
{
    m_File.ReadAt(0, m_Header, kHeaderSize);
    if (HeaderWord(kOffMagic) != kTagMagic)
        throw KExceptionNotAQrlb(m_File.Name().c_str());
    if (!IsAcceptedVersion(HeaderWord(kOffVersion)))
        throw KExceptionQrlbIncompatible(m_File.Name().c_str());
    std::memcpy(m_WhiteBalance, m_Header + kOffWhiteBalance, kWhiteBalanceSize);
    m_WhiteBalance[kWhiteBalanceSize] = 0;
}

void KQrlbImageReaderImpl::LoadDirectory()
{
    if (m_DirectoryLoaded)
        return;
    if (m_File.Size() < kHeaderSize + 4)
        m_File.Fail("no room for a directory offset");
    KUInt8 b[4];
    m_File.ReadAt(m_File.Size() - 4, b, 4);
    std::set<KUInt64> visited;
    m_Directory.clear();
    KUInt64 listed = 0;
    priLoadDirectory(ReadLE32(b), 0, visited, listed);
    m_DirectoryLoaded = true;
}

void KQrlbImageReaderImpl::priLoadDirectory(KUInt64 offset, int depth, std::set<KUInt64>& visited,
                                            KUInt64& listed)
{
    if (depth > kMaxDirectoryDepth)
        m_File.Fail(KNarrowString("directories nested more than %d deep", kMaxDirectoryDepth).CStr());
    if (!visited.insert(offset).second)
        m_File.Fail(KNarrowString("directory at offset %llu is listed more than once",
                                  static_cast<unsigned long long>(offset))
                        .CStr());
    KUInt8 header[kDirHeaderSize];
    m_File.ReadAt(offset, header, kDirHeaderSize);
    if (ReadLE32(header) != kTagDirectory)
        throw KExceptionQrlbReader("Expected a directory section but got something else.");
    if (!IsAcceptedVersion(ReadLE32(header + 4)))
        throw KExceptionQrlbIncompatible("Directory section version");
    const KUInt32 count = ReadLE32(header + 8);
    const KUInt64 bytes = KUInt64(count) * kDirEntrySize;
    if (bytes > m_File.Size() - m_File.Position())
        m_File.Fail(KNarrowString("directory at offset %llu lists %u entries, more than the file holds",
                                  static_cast<unsigned long long>(offset), count)
                        .CStr());
    listed += count;
    if (listed * kDirEntrySize > m_File.Size())
        m_File.Fail(KNarrowString("directories list %llu entries together, more entries than the file holds",
                                  static_cast<unsigned long long>(listed))
                        .CStr());
    std::vector<KUInt8> raw(bytes);
    m_File.Read(raw.data(), bytes);
    std::vector<KQrlbDirEntry> entries(count);
    for (KUInt32 i = 0; i < count; ++i) {
        const KUInt8* p = raw.data() + KUInt64(i) * kDirEntrySize;
        entries[i] = {ReadLE32(p), ReadLE32(p + 4), ReadLE32(p + 8)};
    }
    for (const KQrlbDirEntry& e : entries)
        if (e.type == kTypeDirp)
            priLoadDirectory(e.offset, depth + 1, visited, listed);
    for (const KQrlbDirEntry& e : entries)
        if (e.type != kTypeDirp)
            m_Directory.push_back(e);
}

size_t KQrlbImageReaderImpl::FindSection(KUInt32 type, int n)
{
    LoadDirectory();
    int seen = 0;
    if (n >= 0)
        for (size_t i = 0; i < m_Directory.size(); ++i)
            if (m_Directory[i].type == type && seen++ == n)
                return i;
    throw KExceptionIndexOutOfRange(
        KNarrowString("KQrlbImageReaderImpl::FindSection type %d index %d", static_cast<int>(type), n).CStr());
}

const KQrlbDirEntry& KQrlbImageReaderImpl::Entry(size_t position) const
{
    if (position >= m_Directory.size())
        throw KArrayException("Index out of range.");
    return m_Directory[position];
}

int KQrlbImageReaderImpl::CountType(KUInt32 type)
{
    LoadDirectory();
    return static_cast<int>(std::count_if(m_Directory.begin(), m_Directory.end(),
                                          [type](const KQrlbDirEntry& e) { return e.type == type; }));
}

size_t KQrlbImageReaderImpl::FindImage(int index)
{
    const int first = CountType(kTypeImag);
    return index < first ? FindSection(kTypeImag, index) : FindSection(kTypeIma2, index - first);
}

void KQrlbImageReaderImpl::priEnterSection(const KQrlbDirEntry& e, size_t headerSize, const char* kind)
{
    if (KUInt64(e.offset) + e.length > m_File.Size())
        m_File.Fail(KNarrowString("%s section at offset %u of %u bytes runs past the end of the file (%llu bytes)",
                                  kind, e.offset, e.length, static_cast<unsigned long long>(m_File.Size()))
                        .CStr());
    if (e.length < headerSize)
        m_File.Fail(KNarrowString("%s section at offset %u is %u bytes long, shorter than its %u-byte header", kind,
                                  e.offset, e.length, static_cast<unsigned>(headerSize))
                        .CStr());
    m_File.Seek(e.offset);
}

KQrlbImageSection KQrlbImageReaderImpl::ReadImageHeader(const KQrlbDirEntry& e)
{
    priEnterSection(e, kImageHeaderSize, "image");
    KUInt8 b[kImageHeaderSize];
    m_File.Read(b, kImageHeaderSize);
    if (ReadLE32(b) != kTagImage)
        throw KExceptionQrlbReader("Expected an image section but got something else.");
    KQrlbImageSection h;
    h.version = ReadLE32(b + 4);
    if (!IsAcceptedVersion(h.version))
        throw KExceptionQrlbIncompatible("Image section version");
    h.imageType = ReadLE32(b + 8);
    h.dataFormat = ReadLE32(b + 12);
    h.columns = ReadLE32(b + 16);
    h.rows = ReadLE32(b + 20);
    h.rowSize = ReadLE32(b + 24);
    return h;
}

KUInt32 KQrlbImageReaderImpl::ReadCamHeader(const KQrlbDirEntry& e)
{
    priEnterSection(e, kCamHeaderSize, "calibration");
    KUInt8 b[kCamHeaderSize];
    m_File.Read(b, kCamHeaderSize);
    if (ReadLE32(b) != kTagCamFile)
        throw KExceptionQrlbReader("Expected a cam file section but got something else.");
    if (!IsAcceptedVersion(ReadLE32(b + 4)))
        throw KExceptionQrlbIncompatible("Cam file section version");
    const KUInt32 type = ReadLE32(b + 8);
    if (type == kCamTypeEnciphered && e.length - kCamHeaderSize < kEncipheredHeaderSize)
        m_File.Fail(KNarrowString("enciphered calibration section at offset %u has %u payload bytes, fewer than "
                                  "its 12-byte header",
                                  e.offset, static_cast<unsigned>(e.length - kCamHeaderSize))
                        .CStr());
    return type;
}

void KQrlbImageReaderImpl::ReadProperties(const KQrlbDirEntry& e, KPropTree* tree)
{
    priEnterSection(e, kPropHeaderSize, "property");
    KUInt8 b[kPropHeaderSize];
    m_File.Read(b, kPropHeaderSize);
    if (ReadLE32(b) != kTagProperties)
        throw KExceptionQrlbReader("Expected a property section but got something else.");
    const KUInt32 version = ReadLE32(b + 4);
    if (!IsAcceptedVersion(version))
        throw KExceptionQrlbIncompatible("Property list section version");
    const KUInt32 count = ReadLE32(b + 8);
    if (ReadLE32(b + 12) != 0)
        throw KExceptionQrlbReader("Property list character type not unicode.");
    if (ReadLE32(b + 16) != 0)
        throw KExceptionQrlbReader("Encrypted properties are not currently handled.");
    const KUInt32 total = ReadLE32(b + 20);

    // The table layout follows the section's own version word.
    const bool old = version == kVersion10;
    const KUInt64 entrySize = old ? kPropEntrySize10 : kPropEntrySize2;
    const KUInt64 tableBytes = KUInt64(count) * entrySize;
    if (kPropHeaderSize + tableBytes + KUInt64(total) * 2 > e.length)
        m_File.Fail(KNarrowString("property section at offset %u lists %u pairs and %u characters, more than its "
                                  "%u bytes hold",
                                  e.offset, count, total, e.length)
                        .CStr());
    std::vector<KUInt8> table(tableBytes);
    m_File.Read(table.data(), tableBytes);
    std::vector<KUInt8> block(KUInt64(total) * 2);
    m_File.Read(block.data(), block.size());
    auto unit = [&](KUInt64 i) { return static_cast<KWChar>(ReadLE16(block.data() + i * 2)); };

    // A NUL-terminated string at a character offset; refused when it starts or runs outside the block.
    auto terminated = [&](KUInt32 i, KUInt32 offset, const char* what) {
        if (offset >= total)
            m_File.Fail(KNarrowString("property %u's %s offset %u lies outside the character block of %u characters",
                                      i, what, offset, total)
                            .CStr());
        KUInt64 end = offset;
        while (end < total && unit(end) != 0)
            ++end;
        if (end == total)
            m_File.Fail(KNarrowString("property %u's %s at offset %u has no terminator", i, what, offset).CStr());
        return std::make_pair(KUInt64(offset), end);
    };
    auto text = [&](KUInt64 first, KUInt64 last) {
        KWString s;
        for (KUInt64 i = first; i < last; ++i)
            s += unit(i);
        return s;
    };

    KUInt64 copied = 0;
    auto charge = [&](KUInt32 i, KUInt64 characters) {
        copied += characters;
        if (copied > KUInt64(total) * kMaxTextReuse)
            m_File.Fail(KNarrowString("property %u brings the list's pairs to more characters than %llu times its "
                                      "character block of %u characters",
                                      i, static_cast<unsigned long long>(kMaxTextReuse), total)
                            .CStr());
    };

    for (KUInt32 i = 0; i < count; ++i) {
        const KUInt8* p = table.data() + KUInt64(i) * entrySize;
        if (old) {
            const KUInt64 offset = ReadLE32(p), nameLength = ReadLE32(p + 4), valueLength = ReadLE32(p + 8);
            if (offset + nameLength + valueLength > total)
                m_File.Fail(KNarrowString("property %u's characters lie outside the character block of %u characters",
                                          i, total)
                                .CStr());
            charge(i, nameLength + valueLength);
            tree->AddPair(text(offset, offset + nameLength),
                          text(offset + nameLength, offset + nameLength + valueLength));
        } else {
            const auto name = terminated(i, ReadLE32(p), "name");
            const auto value = terminated(i, ReadLE32(p + 4), "value");
            charge(i, (name.second - name.first) + (value.second - value.first));
            tree->AddPair(text(name.first, name.second), text(value.first, value.second));
        }
    }
}

KUInt32 KQrlbImageReaderImpl::ReadCamFile(int index, void* buffer, KUInt32 bufferSize, double* progress,
                                          KUInt8* cancel)
{
    const KQrlbDirEntry& e = Entry(FindSection(kTypeCamf, index));
    const KUInt32 type = ReadCamHeader(e);
    KUInt32 payload = e.length - static_cast<KUInt32>(kCamHeaderSize);
    KUInt32 seed = 0;
    if (type == kCamTypeEnciphered) {
        KUInt8 b[kEncipheredHeaderSize];
        m_File.Read(b, kEncipheredHeaderSize);
        if (ReadLE32(b) != kTagEnciphered)
            throw KExceptionQrlbReader("Expected an encrypted CAMb section but got something else.");
        if (!IsAcceptedEncipheredVersion(ReadLE32(b + 4)))
            throw KExceptionQrlbIncompatible("Encrypted CAMb file section version");
        seed = ReadLE32(b + 8);
        payload -= static_cast<KUInt32>(kEncipheredHeaderSize);
    }
    const KUInt32 n = buffer ? std::min(payload, bufferSize) : 0;
    KUInt8* out = static_cast<KUInt8*>(buffer);
    for (KUInt32 done = 0; done < n;) {
        const KUInt32 chunk = std::min(kCamFileChunk, n - done);
        m_File.Read(out + done, chunk);
        done += chunk;
        QrlbStoreProgress(progress, 1.0 - double(n - done) / double(n));
        if (QrlbCancelled(cancel))
            return 0;
    }
    if (type == kCamTypeEnciphered) {
        m_CipherState = seed;
        for (KUInt32 i = 0; i < n; ++i)
            out[i] ^= NextKeyByte(m_CipherState);
    }
    return n;
}

// ---------------------------------------------------------------------------------------------------------
// KQrlbImageReader

int MapQrlbPixelFormatToKPixmapType(KUInt32 dataFormat)
{
    switch (dataFormat) {
    case kFormat48:
    case kFormat30x10:
    case kFormatPacked12:
        return kPixelType48RGB;
    case kFormat30:
        return kPixelType30RGB;
    case kFormat24:
    case kFormatHuffman8:
        return kPixelType24RGB;
    case kFormatDelta10:
    case kFormatHuffman10:
        return kPixelType48SRGB;
    default:
        throw KExceptionUnknownPixelType("MapQrlbPixelFormatToKPixmapType()");
    }
}

KQrlbImageReader::KQrlbImageReader(const KWString& url)
{
    KIFile* file = OpenFileByURL(url, KFILE_MODE_READ);
    if (!file)
        throw KExceptionFileNotFound(url.GetAscii());
    m_pImpl = std::make_unique<KQrlbImageReaderImpl>(file, url);
}

KQrlbImageReader::KQrlbImageReader(KIFile* file, const KWString& name)
{
    m_pImpl = std::make_unique<KQrlbImageReaderImpl>(file, name);
}

KQrlbImageReader::~KQrlbImageReader() = default;

void KQrlbImageReader::GetDimensions(KInt32& columns, KInt32& rows) const
{
    columns = static_cast<KInt32>(m_pImpl->HeaderWord(kOffColumns));
    rows = static_cast<KInt32>(m_pImpl->HeaderWord(kOffRows));
}

const KUInt8* KQrlbImageReader::GetUniqueIdentifier() const { return m_pImpl->m_Header + kOffIdentifier; }

KUInt32 KQrlbImageReader::GetMarkBits() const { return m_pImpl->HeaderWord(kOffMarkBits); }

KInt32 KQrlbImageReader::GetRotation() const { return static_cast<KInt32>(m_pImpl->HeaderWord(kOffRotation)); }

const char* KQrlbImageReader::GetWhiteBalance() const
{
    return HasWhiteBalanceField(GetVersion()) ? m_pImpl->m_WhiteBalance : nullptr;
}

KUInt32 KQrlbImageReader::GetVersion() const { return m_pImpl->HeaderWord(kOffVersion); }

void KQrlbImageReader::GetProperties(KPropTree* tree)
{
    if (!tree)
        return;
    m_pImpl->LoadDirectory();
    for (size_t i = 0; i < m_pImpl->m_Directory.size(); ++i)
        if (m_pImpl->m_Directory[i].type == kTypeProp)
            m_pImpl->ReadProperties(m_pImpl->Entry(i), tree);
}

int KQrlbImageReader::GetNumCamFiles() { return m_pImpl->CountType(kTypeCamf); }

void KQrlbImageReader::GetCamFileInfo(int index, KUInt32& size, KUInt32& type)
{
    const KQrlbDirEntry& e = m_pImpl->Entry(m_pImpl->FindSection(kTypeCamf, index));
    type = m_pImpl->ReadCamHeader(e);
    size = e.length - static_cast<KUInt32>(kCamHeaderSize);
    if (type == kCamTypeEnciphered) {
        type = kCamTypeBlock;
        size -= static_cast<KUInt32>(kEncipheredHeaderSize);
    }
}

KUInt32 KQrlbImageReader::GetCamFile(int index, void* buffer, KUInt32 bufferSize, double* progress, KUInt8* cancel)
{
    return m_pImpl->ReadCamFile(index, buffer, bufferSize, progress, cancel);
}

int KQrlbImageReader::GetNumImages() { return m_pImpl->CountType(kTypeImag) + m_pImpl->CountType(kTypeIma2); }

KQrlbImageSection KQrlbImageReader::GetImageSection(int index)
{
    return m_pImpl->ReadImageHeader(m_pImpl->Entry(m_pImpl->FindImage(index)));
}

void KQrlbImageReader::GetImageInfo(int index, KQrlbSize& size, int& pixmapType, KUInt32& imageType)
{
    const KQrlbDirEntry& e = m_pImpl->Entry(m_pImpl->FindImage(index));
    const KQrlbImageSection h = m_pImpl->ReadImageHeader(e);
    const int type = MapQrlbPixelFormatToKPixmapType(h.dataFormat);
    CheckImageSection(m_pImpl->m_File, h, e.length - kImageHeaderSize);
    size.columns = static_cast<KInt32>(h.columns);
    size.rows = static_cast<KInt32>(h.rows);
    pixmapType = type;
    imageType = h.imageType;
}

bool KQrlbImageReader::GetImage(int index, KPixmap* pixmap, double* progress, KUInt8* cancel)
{
    const KQrlbDirEntry& e = m_pImpl->Entry(m_pImpl->FindImage(index));
    const KQrlbImageSection h = m_pImpl->ReadImageHeader(e);
    const KUInt64 dataSize = e.length - kImageHeaderSize;
    if (!pixmap || pixmap->GetWidth() < 0 || pixmap->GetHeight() < 0 || KUInt32(pixmap->GetWidth()) < h.columns ||
        KUInt32(pixmap->GetHeight()) < h.rows)
        throw KExceptionQrlbReader("GetImage() : pixmap too small to receive image");
    if (pixmap->GetPixelType() != MapQrlbPixelFormatToKPixmapType(h.dataFormat))
        throw KExceptionQrlbReader("GetImage() : pixmap has incompatible pixel type");
    CheckImageSection(m_pImpl->m_File, h, dataSize);
    const KUInt64 start = e.offset + kImageHeaderSize;
    m_pImpl->m_File.Seek(start);
    if (h.rowSize != 0)
        return ReadImageFixedLineLength(m_pImpl->m_File, pixmap, h, dataSize, progress, cancel);
    return ReadImageVariableLineLength(m_pImpl->m_File, pixmap, h, dataSize, progress, cancel);
}

std::unique_ptr<KQrlbImageRows> KQrlbImageReader::OpenImageRows(int index)
{
    const KQrlbDirEntry& e = m_pImpl->Entry(m_pImpl->FindImage(index));
    const KQrlbImageSection h = m_pImpl->ReadImageHeader(e);
    return OpenQrlbImageRows(m_pImpl->m_File, h, e.offset + kImageHeaderSize, e.length - kImageHeaderSize);
}

const std::vector<KQrlbDirEntry>& KQrlbImageReader::GetDirectory()
{
    m_pImpl->LoadDirectory();
    return m_pImpl->m_Directory;
}
