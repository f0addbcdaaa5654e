#include "KBundleArchive.h"

#include <cstring>

#include "KException.h"
#include "KStorageURL.h"

namespace bundle {

namespace {

bool ReadAt(KIFile* host, uint64_t offset, void* buffer, KUInt32 count)
{
    if (offset > 0xFFFFFFFFull)
        return false;
    if (host->Seek(static_cast<KUInt32>(offset)) != offset)
        return false;
    return host->Read(buffer, count) == count;
}

// An octal size field: optional leading spaces, at least one octal digit, then a NUL or space within the field.
bool ParseOctalField(const unsigned char* field, size_t width, uint64_t& value)
{
    size_t i = 0;
    while (i < width && field[i] == ' ')
        ++i;
    size_t digits = 0;
    value = 0;
    for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i, ++digits)
        value = value * 8 + (field[i] - '0');
    return digits > 0 && i < width && (field[i] == 0 || field[i] == ' ');
}

}  // namespace

KIFile* OpenHost(const KWString& url)
{
    try {
        return OpenFileByURL(url, KFILE_MODE_READ);
    } catch (const KException&) {
        return nullptr;
    }
}

bool ReadTrailer(KIFile* host, uint64_t hostSize, Archive& archive)
{
    if (hostSize < kTrailerSize || hostSize > 0xFFFFFFFEull)
        return false;
    unsigned char trailer[kTrailerSize];
    try {
        if (!ReadAt(host, hostSize - kTrailerSize, trailer, kTrailerSize))
            return false;
    } catch (const KException&) {
        return false;
    }
    uint64_t length = 0;
    size_t digits = 0;
    for (size_t i = 4; i < kTrailerSize && trailer[i] != 0; ++i, ++digits) {
        if (trailer[i] < '0' || trailer[i] > '9')
            return false;
        length = length * 10 + (trailer[i] - '0');
    }
    if (digits == 0 || length < kTrailerSize || length > hostSize)
        return false;
    archive.start = hostSize - length;
    archive.end = hostSize - kTrailerSize;
    return archive.start % kBlock == 0;
}

void Walk(KIFile* host, const Archive& archive, const std::function<bool(const Member&)>& visit)
{
    uint64_t offset = archive.start;
    unsigned char header[kBlock];
    while (offset + kBlock <= archive.end) {
        try {
            if (!ReadAt(host, offset, header, kBlock))
                return;
        } catch (const KException&) {
            return;
        }
        if (header[0] == 0)
            return;
        uint64_t size = 0;
        if (!ParseOctalField(header + 124, 12, size))
            return;
        uint64_t dataStart = offset + kBlock;
        if (size > archive.end - dataStart)
            return;
        Member member;
        member.name.assign(reinterpret_cast<const char*>(header), strnlen(reinterpret_cast<const char*>(header), 100));
        member.dataStart = dataStart;
        member.size = size;
        if (!visit(member))
            return;
        uint64_t next = dataStart + (size + kBlock - 1) / kBlock * kBlock;
        if (next <= offset)
            return;
        offset = next;
    }
}

}  // namespace bundle
