#include <algorithm>
#include <cstring>

#include "KCamAccess.h"
#include "KException.h"
#include "KSCCamera.h"
#include "KSCCameraShared.h"

KSCCameraFile::KSCCameraFile(const std::string& camera, const std::string& path, int mode)
    : m_Camera(camera), m_Path(path), m_Mode(mode)
{
}

void KSCCameraFile::Release()
{
    delete this;
}

KUInt32 KSCCameraFile::Seek(KUInt32 position)
{
    const KUInt32 size = GetSize();
    m_Position = position > size ? 0 : position;
    return size;
}

KUInt32 KSCCameraFile::Tell()
{
    return m_Position;
}

bool KSCCameraFile::ReadLine(KWString& line)
{
    line.Clear();
    return false;
}

void KSCCameraFile::ReadExact(void* buffer, KUInt32 count)
{
    auto* out = static_cast<uint8_t*>(buffer);
    KUInt32 done = 0;
    for (int empty = 0; done < count && empty < 5;) {
        KUInt32 got = Read(out + done, count - done);
        done += got;
        empty = got ? 0 : empty + 1;
    }
    if (done != count) {
        KNarrowString message("KSCCameraFile::ReadExact: %u of %u bytes at the end of '%s'", unsigned(done),
                              unsigned(count), m_Path.c_str());
        throw KExceptionEOF(message.CStr());
    }
}

KUInt32 KSCCameraFile::Read(void* buffer, KUInt32 count)
{
    if (!buffer || count == 0)
        return 0;
    if (!m_Cache)
        m_Cache.reset(new uint8_t[kCacheBytes]);
    auto* out = static_cast<uint8_t*>(buffer);
    KUInt32 done = 0;
    if (m_Position >= m_CacheStart && m_Position - m_CacheStart < m_CacheLength) {
        const KUInt32 at = m_Position - m_CacheStart;
        done = std::min(count, m_CacheLength - at);
        std::memcpy(out, m_Cache.get() + at, done);
        m_Position += done;
    }
    if (done == count)
        return done;
    KCameraMutexHold hold;
    if (!hold.Held())
        return done;
    const KUInt32 remaining = count - done;
    if (remaining > kCacheBytes) {
        const KUInt32 got = CamReadFile(m_Camera.c_str(), m_Path.c_str(), m_Position, out + done, remaining);
        done += got;
        m_Position += got;
        return done;
    }
    m_CacheLength = 0;
    const KUInt32 got = CamReadFile(m_Camera.c_str(), m_Path.c_str(), m_Position, m_Cache.get(), kCacheBytes);
    m_CacheStart = m_Position;
    m_CacheLength = got;
    const KUInt32 n = std::min(remaining, got);
    std::memcpy(out + done, m_Cache.get(), n);
    m_Position += n;
    return done + n;
}

int KSCCameraFile::Write(const void* buffer, KUInt32 count)
{
    // Whatever the camera now holds, the cached bytes may be old.
    m_CacheLength = 0;
    KCameraMutexHold hold;
    if (!hold.Held() || !CamWriteFile(m_Camera.c_str(), m_Path.c_str(), m_Position, buffer, count))
        return 0;
    m_Position += count;
    return 1;
}

void KSCCameraFile::Flush() {}

void KSCCameraFile::SetEndOfFile(KUInt32) {}

KUInt32 KSCCameraFile::GetSize()
{
    uint32_t size = 0;
    KCameraMutexHold hold;
    if (!hold.Held() || !CamGetFileInfo(m_Camera.c_str(), m_Path.c_str(), &size, nullptr, nullptr))
        return 0;
    return size;
}

void KSCCameraFile::GetURL(KWString& url)
{
    url.Clear();
}

void KSCCameraFile::GetInfo(KFileInfo* info)
{
    uint32_t time = 0, flags = 0;
    KCameraMutexHold hold;
    if (!info || !hold.Held() || !CamGetFileInfo(m_Camera.c_str(), m_Path.c_str(), nullptr, &time, &flags))
        return;
    info->flags &= ~KUInt32(KFILEINFO_READONLY | KFILEINFO_CALLER_MARK);
    if (flags & kCamAttrLock)
        info->flags |= KFILEINFO_READONLY;
    if (!(flags & kCamAttrMark))
        info->flags |= KFILEINFO_CALLER_MARK;
    info->modifiedTime = KInt32(time);
    info->createdTime = KInt32(time);
    info->accessedTime = KInt32(time);
}

void KSCCameraFile::SetReadOnly(const KFileInfo* info)
{
    uint32_t flags = 0;
    KCameraMutexHold hold;
    if (!info || !hold.Held() || !CamGetFileInfo(m_Camera.c_str(), m_Path.c_str(), nullptr, nullptr, &flags))
        return;
    flags &= ~uint32_t(kCamAttrLock | kCamAttrMark);
    if (info->flags & KFILEINFO_READONLY)
        flags |= kCamAttrLock;
    if (!(info->flags & KFILEINFO_CALLER_MARK))
        flags |= kCamAttrMark;
    CamSetFileAttributes(m_Camera.c_str(), m_Path.c_str(), flags);
}
