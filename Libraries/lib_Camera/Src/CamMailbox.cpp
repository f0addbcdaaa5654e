// The camera's register and mailbox protocol: register and block access over a connection's link, the waits,
// the file-name lookup, the file commands through the data window, and the console with the host lock.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "KCam1394Link.h"
#include "KCamConnection.h"
#include "KCamFileLink.h"
#include "KCamMailbox.h"
#include "KCamUsbLink.h"

namespace {

// Space 0x1009: mailbox, name area, lookup results, command registers and the data window.
constexpr uint32_t kMailboxSpace = 0x1009;
constexpr uint32_t kTransferLength = 0x00000000;
constexpr uint32_t kNameArea = 0x00000004;
constexpr uint32_t kLookupStatus = 0x00000100;
constexpr uint32_t kFileSize = 0x00000104;
constexpr uint32_t kFileAttributes = 0x00000108;
constexpr uint32_t kFileTime = 0x0000010C;
constexpr uint32_t kCheckWord = 0x010000F0;
constexpr uint32_t kArgument1 = 0x010000F4;
constexpr uint32_t kArgument2 = 0x010000F8;
constexpr uint32_t kCommandWord = 0x010000FC;
constexpr uint32_t kCommandStatus = 0x01000100;
constexpr uint32_t kDataWindow = 0x10000000;
// The data window's extent (the second window begins past it): no transfer moves more.
constexpr uint32_t kDataWindowSize = 0x08000000;
// Space 0x1007: host lock flag and console.
constexpr uint32_t kConsoleSpace = 0x1007;
constexpr uint32_t kHostLockFlag = 0x00000000;
constexpr uint32_t kConsoleBlock = 0x00000080;

constexpr uint32_t kCommandRead = 0xF11E0EAD;
constexpr uint32_t kCommandWrite = 0xF11EFEED;
constexpr uint32_t kCommandDelete = 0xF11EDE1E;

constexpr uint32_t kNameAreaSize = 124;
constexpr uint32_t kConsoleBlockSize = 128;
constexpr uint32_t kUsbWritePass = 512;
constexpr uint32_t kFastReadMinimum = 129;
constexpr uint32_t kCheckedProtocolLevel = 0x10001;

// The staging buffer and the chunk size of the data window, used only under the mailbox lock.
constexpr uint32_t kStagingSize = 8192;
alignas(8) uint8_t g_Staging[kStagingSize];
uint32_t g_ChunkSize = kStagingSize;

CamLock* g_MailboxLock = nullptr;
std::once_flag g_MailboxOnce;

// The process-wide mailbox lock, made on first use with the connection registry.
class MailboxLock {
public:
    MailboxLock()
    {
        std::call_once(g_MailboxOnce, [] {
            InitCameraRegistry();
            g_MailboxLock = CreateLock(nullptr);
        });
        m_Held = Lock(g_MailboxLock);
    }
    ~MailboxLock()
    {
        if (m_Held)
            Unlock(g_MailboxLock);
    }
    MailboxLock(const MailboxLock&) = delete;
    MailboxLock& operator=(const MailboxLock&) = delete;
    bool Held() const { return m_Held; }

private:
    bool m_Held = false;
};

uint32_t Swap32(uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

void SwapWordsInPlace(void* buffer, uint32_t length)
{
    auto* p = static_cast<uint8_t*>(buffer);
    for (uint32_t i = 0; i + 4 <= length; i += 4) {
        uint32_t w;
        std::memcpy(&w, p + i, 4);
        w = Swap32(w);
        std::memcpy(p + i, &w, 4);
    }
}

uint32_t RoundUp4(uint32_t n)
{
    return static_cast<uint32_t>((static_cast<uint64_t>(n) + 3) & ~uint64_t(3));
}

bool IsUsb(const CamConnection* c)
{
    return c->linkKind == kCamLinkUsb;
}

// Block transfers with `use` held shared by the caller.
int BlockLocked(CamConnection* c, uint32_t low, uint32_t high, void* buffer, uint32_t length, bool write,
                bool fast)
{
    int ok = 0;
    if (c->device1394) {
        if (write)
            ok = Write1394Block(c->device1394, low, high, buffer, length);
        else if (fast)
            ok = FastRead1394Block(c->device1394, low, high, buffer, length);
        else
            ok = Read1394Block(c->device1394, low, high, buffer, length);
    } else if (c->deviceUsb) {
        ok = write ? WriteUsbBlock(c->deviceUsb, low, high, buffer, length)
                   : ReadUsbBlock(c->deviceUsb, low, high, buffer, length);
    } else if (c->fileDevice) {
        ok = write ? WriteFileDeviceBlock(c->fileDevice, low, high, buffer, length)
                   : ReadFileDeviceBlock(c->fileDevice, low, high, buffer, length);
    }
    c->lastResult = ok ? 1u : 0u;
    c->lastResultTime = TimeNow();
    return ok ? 1 : 0;
}

bool SwapFlagLocked(const CamConnection* c)
{
    return c->config.areaValid && c->config.swapFlag;
}

int BlockSwapped(CamConnection* c, uint32_t low, uint32_t high, void* buffer, uint32_t length, bool write)
{
    if (!c || (!buffer && length > 0))
        return 0;
    std::shared_lock<std::shared_mutex> use(c->use);
    const bool swap = SwapFlagLocked(c);
    if (write && swap)
        SwapWordsInPlace(buffer, length);
    const int ok = BlockLocked(c, low, high, buffer, length, write, false);
    if (swap && (write || ok))
        SwapWordsInPlace(buffer, length);
    return ok;
}

// ---- Waits ---------------------------------------------------------------------------------------------------

// USB: until the command status reads idle (0) or done (2).
bool WaitMailboxIdle(CamConnection* c, uint32_t timeout)
{
    const uint32_t tries = timeout / 400;
    for (uint32_t i = 0; i < tries; ++i) {
        uint32_t status = 0;
        if (ReadCameraQuadlet(c, kCommandStatus, kMailboxSpace, &status) && (status == 0 || status == 2))
            return true;
        if (i + 1 < tries)
            CamWaitSleep(400);
    }
    return false;
}

// While the command status reads busy (1); good only when it then reads done (2). *status gets the last value.
bool WaitMailboxResult(CamConnection* c, uint32_t timeout, uint32_t* status)
{
    const uint32_t tries = timeout / 400;
    *status = 0;
    for (uint32_t i = 0; i < tries; ++i) {
        uint32_t value = 0;
        if (ReadCameraQuadlet(c, kCommandStatus, kMailboxSpace, &value)) {
            *status = value;
            if (value != 1)
                return value == 2;
        }
        if (i + 1 < tries)
            CamWaitSleep(400);
    }
    return false;
}

// 1394: until a read of the transfer length word succeeds.
bool WaitMailboxReachable(CamConnection* c, uint32_t timeout)
{
    const uint32_t tries = timeout / 10;
    if (tries < 8)
        return false;
    for (uint32_t i = 0; i < tries; ++i) {
        uint32_t value = 0;
        if (ReadCameraQuadlet(c, kTransferLength, kMailboxSpace, &value))
            return true;
        if (i + 1 < tries)
            CamWaitSleep(10);
    }
    return false;
}

bool WaitLookup(CamConnection* c, uint32_t timeout, uint32_t* status)
{
    const uint32_t interval = IsUsb(c) ? 100 : 10;
    const uint32_t tries = timeout / interval;
    for (uint32_t i = 0; i < tries; ++i) {
        uint32_t value = 0;
        if (ReadCameraQuadlet(c, kLookupStatus, kMailboxSpace, &value)) {
            *status = value;
            if (value & kCamLookupDone)
                return true;
            if (!(value & kCamLookupBusy))
                return false;
        }
        if (i + 1 < tries)
            CamWaitSleep(interval);
    }
    return false;
}

// After a command: good only when bit 1 of the command status is set.
bool WaitCommand(CamConnection* c, uint32_t usbTimeout)
{
    uint32_t status = 0;
    if (IsUsb(c)) {
        WaitMailboxResult(c, usbTimeout, &status);
    } else if (!WaitMailboxReachable(c, 300) || !ReadCameraQuadlet(c, kCommandStatus, kMailboxSpace, &status)) {
        return false;
    }
    return (status & 0x2) != 0;
}

// ---- Lookup and commands -------------------------------------------------------------------------------------

int Lookup(CamConnection* c, const char* name, uint32_t* status)
{
    uint32_t found = 0;
    if (status)
        *status = 0;
    if (!c || !name)
        return 0;
    const bool ready = IsUsb(c) ? WaitMailboxIdle(c, 4000) : WaitMailboxReachable(c, 300);
    if (!ready)
        return 0;
    const size_t nameLength = strnlen(name, kNameAreaSize + 1);
    const size_t length = (nameLength + 4) & ~size_t(3);
    if (length > kNameAreaSize)
        return 0;
    uint8_t area[kNameAreaSize] = {};
    std::memcpy(area, name, nameLength);
    SwapCameraWords(c, area, area, static_cast<uint32_t>(length));
    if (!WriteCameraBlock(c, kNameArea, kMailboxSpace, area, static_cast<uint32_t>(length), 0))
        return 0;
    const bool ok = WaitLookup(c, IsUsb(c) ? 4000 : 500, &found);
    if (status)
        *status = found;
    return ok ? 1 : 0;
}

int Query(CamConnection* c, const char* name, uint32_t* size, uint32_t* time, uint32_t* attributes,
          uint32_t* status)
{
    if (!Lookup(c, name, status))
        return 0;
    if (size && !ReadCameraQuadlet(c, kFileSize, kMailboxSpace, size))
        return 0;
    if (time && !ReadCameraQuadlet(c, kFileTime, kMailboxSpace, time))
        return 0;
    if (attributes && !ReadCameraQuadlet(c, kFileAttributes, kMailboxSpace, attributes))
        return 0;
    return 1;
}

// The arguments in the order F4, F8, F0, then the command word; each write must succeed.
bool SendCommand(CamConnection* c, uint32_t command, uint32_t argument1, uint32_t argument2, uint32_t check)
{
    if (command != kCommandRead && command != kCommandWrite && command != kCommandDelete)
        return false;
    if (!WriteCameraQuadlet(c, kArgument1, kMailboxSpace, argument1) ||
        !WriteCameraQuadlet(c, kArgument2, kMailboxSpace, argument2))
        return false;
    if (command != kCommandRead && !WriteCameraQuadlet(c, kCheckWord, kMailboxSpace, check))
        return false;
    return WriteCameraQuadlet(c, kCommandWord, kMailboxSpace, command) != 0;
}

bool ReadMailboxData(CamConnection* c, uint32_t offset, void* buffer, uint32_t length)
{
    auto* out = static_cast<uint8_t*>(buffer);
    uint64_t address = (uint64_t(kMailboxSpace) << 32) + kDataWindow + offset;
    const uint32_t whole = length & ~3u;
    for (uint32_t done = 0; done < whole;) {
        const uint32_t chunk = whole - done < g_ChunkSize ? whole - done : g_ChunkSize;
        if (!ReadCameraData(c, uint32_t(address), uint32_t(address >> 32), g_Staging, chunk, 0))
            return false;
        SwapCameraWords(c, g_Staging, out + done, chunk);
        done += chunk;
        address += chunk;
    }
    if (const uint32_t tail = length & 3u) {
        uint8_t quad[4];
        if (!ReadCameraData(c, uint32_t(address), uint32_t(address >> 32), quad, 4, 0))
            return false;
        SwapCameraWords(c, quad, quad, 4);
        std::memcpy(out + whole, quad, tail);
    }
    return true;
}

bool WriteMailboxData(CamConnection* c, uint32_t offset, const void* buffer, uint32_t length)
{
    const auto* in = static_cast<const uint8_t*>(buffer);
    uint64_t address = (uint64_t(kMailboxSpace) << 32) + kDataWindow + offset;
    const uint32_t whole = length & ~3u;
    for (uint32_t done = 0; done < whole;) {
        const uint32_t chunk = whole - done < g_ChunkSize ? whole - done : g_ChunkSize;
        SwapCameraWords(c, in + done, g_Staging, chunk);
        if (!WriteCameraBlock(c, uint32_t(address), uint32_t(address >> 32), g_Staging, chunk, 0))
            return false;
        done += chunk;
        address += chunk;
    }
    if (const uint32_t tail = length & 3u) {
        // The tail goes into the quadlet that holds it, read back first.
        uint8_t quad[4];
        if (!ReadCameraData(c, uint32_t(address), uint32_t(address >> 32), quad, 4, 0))
            return false;
        SwapCameraWords(c, quad, quad, 4);
        std::memcpy(quad, in + whole, tail);
        SwapCameraWords(c, quad, quad, 4);
        if (!WriteCameraBlock(c, uint32_t(address), uint32_t(address >> 32), quad, 4, 0))
            return false;
    }
    return true;
}

// The configuration area asks for the check word after each read.
bool ChecksReads(CamConnection* c)
{
    CamConfigEntry entry{};
    return FindCameraConfigEntry(c, kCamEntryProtocolLevel, &entry) && entry.value1 >= kCheckedProtocolLevel;
}

bool CheckWordMatches(CamConnection* c, const void* data, uint32_t length)
{
    uint32_t check = 0;
    if (!ReadCameraQuadlet(c, kCheckWord, kMailboxSpace, &check))
        return false;
    return (check & 0xFFFF) == Crc16(data, length);
}

// Starts a read of (start, length) and waits for it; the transfer length word is set first.
bool StartRead(CamConnection* c, uint32_t start, uint32_t length)
{
    return WriteCameraQuadlet(c, kTransferLength, kMailboxSpace, RoundUp4(length)) &&
           SendCommand(c, kCommandRead, start, length, 0) && WaitCommand(c, 8000);
}

int ReadFileLocked(CamConnection* c, const char* name, uint32_t offset, void* buffer, uint32_t count,
                   uint32_t* got)
{
    uint32_t size = 0, attributes = 0, status = 0;
    if (!Query(c, name, &size, nullptr, &attributes, &status) || !(status & kCamMayRead))
        return 0;
    if (offset >= size)
        return 0;
    const uint32_t n = count < size - offset ? count : size - offset;
    if (n == 0)
        return 0;
    const bool whole = (status & kCamWholeFile) != 0;
    bool ok = StartRead(c, whole ? 0 : offset, whole ? size : n);
    if (ok) {
        if (whole) {
            // The window holds the whole file: the check word covers all of it, and a part is read from the
            // quadlet that holds its first byte, as the window moves whole quadlets.
            const bool checked = ChecksReads(c);
            const uint32_t start = checked ? 0 : offset & ~3u;
            const uint32_t length = checked ? size : offset - start + n;
            std::vector<uint8_t> part;
            try {
                ok = length <= kDataWindowSize;
                if (ok)
                    part.resize(length);
            } catch (const std::bad_alloc&) {
                ok = false;
            }
            ok = ok && ReadMailboxData(c, start, part.data(), length) &&
                 (!checked || CheckWordMatches(c, part.data(), length));
            if (ok)
                std::memcpy(buffer, part.data() + (offset - start), n);
        } else {
            ok = ReadMailboxData(c, 0, buffer, n) && (!ChecksReads(c) || CheckWordMatches(c, buffer, n));
        }
    }
    if (ok && got)
        *got = n;
    const bool reset = WriteCameraQuadlet(c, kTransferLength, kMailboxSpace, 0) != 0;
    return ok && reset ? 1 : 0;
}

// One pass of a write, under the mailbox lock.
bool WritePass(CamConnection* c, const char* name, uint32_t offset, const uint8_t* data, uint32_t pass)
{
    uint32_t size = 0, status = 0;
    if (!Query(c, name, &size, nullptr, nullptr, &status) || !(status & kCamMayWrite))
        return false;
    if (pass == 0)
        return true;
    const uint64_t end = uint64_t(offset) + pass;
    if (end > 0xFFFFFFFFull)
        return false;
    uint32_t newSize = size;
    if (end > size) {
        if (!(status & kCamMayGrow))
            return false;
        newSize = static_cast<uint32_t>(end);
    }
    const bool whole = (status & kCamWholeFile) != 0;
    // A whole file travels through the window at once: one larger than the window cannot be written.
    if (whole && newSize > kDataWindowSize)
        return false;
    if (!WriteCameraQuadlet(c, kTransferLength, kMailboxSpace, RoundUp4(whole ? newSize : pass)))
        return false;
    const uint32_t argument1 = whole ? 0 : offset;
    const uint8_t* send = data;
    uint32_t length = pass;
    std::vector<uint8_t> merged;
    bool ok = true;
    if (whole && (pass < size || newSize > size)) {
        // The camera takes the whole file: the old bytes around the pass go with it.
        try {
            merged.assign(newSize, 0);
        } catch (const std::bad_alloc&) {
            ok = false;
        }
        if (ok && size > 0)
            ok = SendCommand(c, kCommandRead, 0, size, 0) && WaitCommand(c, 8000) &&
                 ReadMailboxData(c, 0, merged.data(), size) &&
                 (!ChecksReads(c) || CheckWordMatches(c, merged.data(), size));
        if (ok) {
            std::memcpy(merged.data() + offset, data, pass);
            send = merged.data();
            length = newSize;
        }
    }
    ok = ok && WriteMailboxData(c, 0, send, length) &&
         SendCommand(c, kCommandWrite, argument1, length, Crc16(send, length)) && WaitCommand(c, 4000);
    const bool reset = WriteCameraQuadlet(c, kTransferLength, kMailboxSpace, 0) != 0;
    return ok && reset;
}

}  // namespace

// ---- Register and block access -----------------------------------------------------------------------------

int ReadCameraBlock(CamConnection* c, uint32_t low, uint32_t high, void* buffer, uint32_t length, uint32_t)
{
    if (!c || (!buffer && length > 0))
        return 0;
    std::shared_lock<std::shared_mutex> use(c->use);
    return BlockLocked(c, low, high, buffer, length, false, false);
}

int WriteCameraBlock(CamConnection* c, uint32_t low, uint32_t high, const void* buffer, uint32_t length, uint32_t)
{
    if (!c || (!buffer && length > 0))
        return 0;
    std::shared_lock<std::shared_mutex> use(c->use);
    // The links take the bytes as they are.
    return BlockLocked(c, low, high, const_cast<void*>(buffer), length, true, false);
}

int ReadCameraBlockSwapped(CamConnection* c, uint32_t low, uint32_t high, void* buffer, uint32_t length, uint32_t)
{
    return BlockSwapped(c, low, high, buffer, length, false);
}

int WriteCameraBlockSwapped(CamConnection* c, uint32_t low, uint32_t high, void* buffer, uint32_t length, uint32_t)
{
    return BlockSwapped(c, low, high, buffer, length, true);
}

int ReadCameraQuadlet(CamConnection* c, uint32_t low, uint32_t high, uint32_t* value)
{
    if (!c || !value)
        return 0;
    uint32_t word = 0;
    if (!BlockSwapped(c, low, high, &word, 4, false))
        return 0;
    *value = word;
    return 1;
}

int WriteCameraQuadlet(CamConnection* c, uint32_t low, uint32_t high, uint32_t value)
{
    return c ? BlockSwapped(c, low, high, &value, 4, true) : 0;
}

int ReadCameraData(CamConnection* c, uint32_t low, uint32_t high, void* buffer, uint32_t length, uint32_t)
{
    if (!c || (!buffer && length > 0))
        return 0;
    CamConfigEntry entry{};
    const bool fastEntry = length >= kFastReadMinimum && c->linkKind == kCamLink1394 &&
                           FindCameraConfigEntry(c, kCamEntryFastRead, &entry);
    std::shared_lock<std::shared_mutex> use(c->use);
    const bool fast = fastEntry && c->device1394 && !Is1394PayloadOnly(c->device1394);
    return BlockLocked(c, low, high, buffer, length, false, fast);
}

void SwapCameraWords(CamConnection* c, const void* in, void* out, uint32_t length)
{
    if (!in || !out)
        return;
    if (in != out)
        std::memmove(out, in, length);
    if (c && c->linkKind == kCamLink1394)
        SwapWordsInPlace(out, length);
}

// ---- File operations ----------------------------------------------------------------------------------------

int WriteMailboxFileName(CamConnection* c, const char* name, uint32_t* status)
{
    MailboxLock lock;
    return lock.Held() ? Lookup(c, name, status) : 0;
}

int QueryCameraFile(CamConnection* c, const char* name, uint32_t* size, uint32_t* time, uint32_t* attributes,
                    uint32_t* status)
{
    MailboxLock lock;
    return lock.Held() ? Query(c, name, size, time, attributes, status) : 0;
}

int ReadCameraFile(CamConnection* c, const char* name, uint32_t offset, void* buffer, uint32_t count,
                   uint32_t* got)
{
    if (got)
        *got = 0;
    if (!c || !name || (!buffer && count > 0))
        return 0;
    MailboxLock lock;
    return lock.Held() ? ReadFileLocked(c, name, offset, buffer, count, got) : 0;
}

int WriteCameraFile(CamConnection* c, const char* name, uint32_t offset, const void* buffer, uint32_t count)
{
    // The camera's sizes are 32 bits: a write that would make a file of 4 GiB or more goes nowhere.
    if (!c || !name || (!buffer && count > 0) || uint64_t(offset) + count > 0xFFFFFFFFull)
        return 0;
    const auto* data = static_cast<const uint8_t*>(buffer);
    do {
        const uint32_t pass = IsUsb(c) && count > kUsbWritePass ? kUsbWritePass : count;
        {
            MailboxLock lock;
            if (!lock.Held() || !WritePass(c, name, offset, data, pass))
                return 0;
        }
        if (pass == 0)
            return 1;
        if (IsUsb(c)) {
            // The camera settles, then the range must read back whole.
            CamWaitSleep(200);
            std::vector<uint8_t> back(pass);
            uint32_t got = 0;
            if (!ReadCameraFile(c, name, offset, back.data(), pass, &got) || got != pass)
                return 0;
        }
        offset += pass;
        data += pass;
        count -= pass;
    } while (count > 0);
    return 1;
}

int DeleteCameraFile(CamConnection* c, const char* name)
{
    if (!c || !name)
        return 0;
    MailboxLock lock;
    uint32_t size = 0, status = 0;
    if (!lock.Held() || !Query(c, name, &size, nullptr, nullptr, &status) || !(status & kCamMayDelete))
        return 0;
    if (!SendCommand(c, kCommandDelete, 0, size, 0))
        return 0;
    // Over 1394 too the command status tells whether the camera removed the file.
    return WaitCommand(c, 4000) ? 1 : 0;
}

int SetCameraFileAttributes(CamConnection* c, const char* name, uint32_t flags)
{
    if (!c || !name)
        return 0;
    MailboxLock lock;
    uint32_t attributes = 0;
    if (!lock.Held() || !Query(c, name, nullptr, nullptr, &attributes, nullptr))
        return 0;
    attributes = (attributes & ~3u) | (flags & 3u);
    return WriteCameraQuadlet(c, kFileAttributes, kMailboxSpace, attributes);
}

// ---- Host lock and console ---------------------------------------------------------------------------------

int IsHostLocked(CamConnection* c)
{
    uint32_t flag = 0;
    return ReadCameraQuadlet(c, kHostLockFlag, kConsoleSpace, &flag) && flag != 0 ? 1 : 0;
}

int TakeHostLock(CamConnection* c)
{
    if (IsHostLocked(c))
        return 1;
    if (!WriteCameraQuadlet(c, kHostLockFlag, kConsoleSpace, 1))
        return 0;
    return IsHostLocked(c);
}

int ReleaseHostLock(CamConnection* c)
{
    if (!IsHostLocked(c))
        return 1;
    if (!WriteCameraQuadlet(c, kHostLockFlag, kConsoleSpace, 0))
        return 0;
    return IsHostLocked(c) ? 0 : 1;
}

int ReadConsole(CamConnection* c, void* buffer, uint32_t capacity, uint32_t* length)
{
    if (length)
        *length = 0;
    if (!c || !buffer)
        return 0;
    uint8_t block[kConsoleBlockSize] = {};
    const uint32_t blockLength = (capacity & ~3u) < kConsoleBlockSize ? (capacity & ~3u) : kConsoleBlockSize;
    if (blockLength == 0 || !TakeHostLock(c) ||
        !ReadCameraBlockSwapped(c, kConsoleBlock, kConsoleSpace, block, blockLength, 0))
        return 0;
    // The length byte comes from the camera: never past the block read nor the caller's buffer.
    uint32_t n = block[0];
    if (n > blockLength - 1)
        n = blockLength - 1;
    if (n > capacity)
        n = capacity;
    std::memcpy(buffer, block + 1, n);
    if (length)
        *length = n;
    return 1;
}

int WriteConsole(CamConnection* c, const void* text, uint32_t length)
{
    if (!c || (!text && length > 0))
        return 0;
    if (length == 0)
        return 1;
    if (!TakeHostLock(c))
        return 0;
    const auto* in = static_cast<const uint8_t*>(text);
    for (uint32_t done = 0; done < length;) {
        const uint32_t piece = length - done < 127 ? length - done : 127;
        uint8_t block[kConsoleBlockSize] = {};
        block[0] = static_cast<uint8_t>(piece);
        std::memcpy(block + 1, in + done, piece);
        if (!WriteCameraBlockSwapped(c, kConsoleBlock, kConsoleSpace, block, (piece + 4) & ~3u, 0))
            return 0;
        done += piece;
    }
    return 1;
}
