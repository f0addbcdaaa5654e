#include "KSCFileWin.h"

#include "KException.h"
#include "KStorageURL.h"
#include "KTextFunctions.h"
#include "PlatformError.h"
#include "PlatformFile.h"
#include "PlatformPath.h"

namespace {

KInt32 SecondsSince1970(uint64_t ticks)
{
    // Truncated to 32 bits as the record holds it.
    return static_cast<KInt32>((static_cast<int64_t>(ticks) - static_cast<int64_t>(PLAT_TICKS_1601_TO_1970)) /
                               10000000);
}

// The path as this machine's user knows it, for messages.
std::string ShownPath(const KWString& native)
{
    std::string posix;
    return PlatNativeToPosix(WideToUtf8(native), posix) ? posix : WideToUtf8(native);
}

}  // namespace

KSCFileWin::KSCFileWin(const KWString& className, const KWString& nativePath, int mode)
    : m_ClassName(className), m_NativePath(nativePath)
{
    const bool write = (mode & KFILE_MODE_WRITE) != 0;
    uint32_t access = PLAT_GENERIC_READ;
    uint32_t share = 0;  // sharing is not enforced on this machine; kept for the record
    uint32_t disposition = PLAT_OPEN_EXISTING;
    if (mode == KFILE_MODE_READ)
        share = PLAT_SHARE_READ | PLAT_SHARE_WRITE;
    if (write) {
        access |= PLAT_GENERIC_WRITE;
        share = PLAT_SHARE_READ;
        disposition = (mode & 4) ? PLAT_OPEN_ALWAYS : PLAT_CREATE_ALWAYS;
    }
    m_pFile = PlatCreateFile(WideToUtf8(nativePath).c_str(), access, share, disposition);
    if (!m_pFile) {
        const std::string reason = PlatGetLastErrorReason();
        KNarrowString message("Cannot open '%s': %s", ShownPath(nativePath).c_str(), reason.c_str());
        throw KExceptionFileOpen(message.CStr());
    }
    uint64_t size = 0;
    PlatGetFileSize(m_pFile, &size);
    if (size >= 2) {
        unsigned char mark[2] = {0, 0};
        uint32_t done = 0;
        PlatReadFile(m_pFile, mark, 2, &done);
        if (done == 2 && mark[0] == 0xFF && mark[1] == 0xFE)
            m_Encoding = ENCODING_UTF16LE;
        else if (done == 2 && mark[0] == 0xFE && mark[1] == 0xFF)
            m_Encoding = ENCODING_UTF16BE;
        PlatSetFilePointer(m_pFile, 0, nullptr);
    }
    if (write && (mode & 4))
        PlatSetFilePointer(m_pFile, static_cast<int64_t>(size), nullptr);
}

KSCFileWin::~KSCFileWin()
{
    if (m_pFile)
        PlatCloseFile(m_pFile);
}

void KSCFileWin::Release()
{
    delete this;
}

KUInt32 KSCFileWin::Seek(KUInt32 position)
{
    int64_t now = 0;
    if (!PlatSetFilePointer(m_pFile, position, &now))
        PlatGetFilePointer(m_pFile, &now);
    return now > 0xFFFFFFFFll ? KFILE_SIZE_UNKNOWN : static_cast<KUInt32>(now);
}

KUInt32 KSCFileWin::Tell()
{
    int64_t now = 0;
    if (!PlatGetFilePointer(m_pFile, &now) || now > 0xFFFFFFFFll)
        return KFILE_SIZE_UNKNOWN;
    return static_cast<KUInt32>(now);
}

KUInt32 KSCFileWin::Read(void* buffer, KUInt32 count)
{
    uint32_t done = 0;
    if (count == 0)
        return 0;
    PlatReadFile(m_pFile, buffer, count, &done);
    return done;
}

void KSCFileWin::ReadExact(void* buffer, KUInt32 count)
{
    KUInt32 start = Tell();
    KUInt32 got = Read(buffer, count);
    if (got < count) {
        KNarrowString message("Read %u of %u bytes at offset %u of '%s'", got, count, start, ShownPath(m_NativePath).c_str());
        throw KExceptionEOF(message.CStr());
    }
}

int KSCFileWin::Write(const void* buffer, KUInt32 count)
{
    uint32_t done = 0;
    return PlatWriteFile(m_pFile, buffer, count, &done) ? 1 : 0;
}

void KSCFileWin::Flush()
{
    if (!PlatFlushFileBuffers(m_pFile)) {
        const std::string reason = PlatGetLastErrorReason();
        KNarrowString message("Cannot write '%s' to the disk: %s", ShownPath(m_NativePath).c_str(), reason.c_str());
        throw KExceptionFileWrite(message.CStr());
    }
}

void KSCFileWin::SetEndOfFile(KUInt32 length)
{
    int64_t keep = 0;
    PlatGetFilePointer(m_pFile, &keep);
    if (PlatSetFilePointer(m_pFile, length, nullptr))
        PlatSetEndOfFile(m_pFile);
    PlatSetFilePointer(m_pFile, keep, nullptr);
}

KUInt32 KSCFileWin::GetSize()
{
    uint64_t size = 0;
    if (!PlatGetFileSize(m_pFile, &size) || size > 0xFFFFFFFFull)
        return KFILE_SIZE_UNKNOWN;
    return static_cast<KUInt32>(size);
}

void KSCFileWin::GetURL(KWString& url)
{
    NativePathToURL(m_NativePath, url);
}

void KSCFileWin::GetInfo(KFileInfo* info)
{
    uint32_t attributes = PlatGetFileAttributes(WideToUtf8(m_NativePath).c_str());
    if (attributes != PLAT_INVALID_ATTRIBUTES) {
        if (attributes & PLAT_ATTR_READONLY)
            info->flags |= KFILEINFO_READONLY;
        else
            info->flags &= ~KFILEINFO_READONLY;
    }
    uint64_t created = 0, accessed = 0, written = 0;
    if (PlatGetFileTime(m_pFile, &created, &accessed, &written)) {
        info->modifiedTime = SecondsSince1970(written);
        info->createdTime = SecondsSince1970(created);
        info->accessedTime = SecondsSince1970(accessed);
    }
}

void KSCFileWin::SetReadOnly(const KFileInfo* info)
{
    std::string path = WideToUtf8(m_NativePath);
    uint32_t attributes = PlatGetFileAttributes(path.c_str());
    if (attributes == PLAT_INVALID_ATTRIBUTES)
        return;
    if (info->flags & KFILEINFO_READONLY)
        attributes |= PLAT_ATTR_READONLY;
    else
        attributes &= ~PLAT_ATTR_READONLY;
    PlatSetFileAttributes(path.c_str(), attributes);
}

bool KSCFileWin::ReadLine(KWString& line)
{
    if (m_Encoding != ENCODING_8BIT && Tell() < 2)
        Seek(2);  // past the byte-order mark
    return ReadTextLine(this, m_Encoding, line);
}
