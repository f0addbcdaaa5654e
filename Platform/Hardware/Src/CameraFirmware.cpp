#include "CameraFirmware.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace simcam {

namespace {

constexpr uint64_t kNameEnd = kNameArea + kNameAreaSize;
constexpr uint64_t kConsoleEnd = kConsole + kConsoleSize;
constexpr uint64_t kWindowEnd = kDataWindow + kWindowMax;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool SameNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

void PutLe(std::vector<uint8_t>* out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out->push_back(uint8_t(v >> (8 * i)));
}

uint32_t Clamp32(uint64_t v) { return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(v); }

// Reads a whole file of at most `max` bytes from an open descriptor.
bool ReadAll(int fd, uint64_t offset, size_t length, std::vector<uint8_t>* out)
{
    out->assign(length, 0);
    size_t done = 0;
    while (done < length) {
        ssize_t n = pread(fd, out->data() + done, length - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

bool WriteAll(int fd, uint64_t offset, const uint8_t* data, size_t length)
{
    size_t done = 0;
    while (done < length) {
        ssize_t n = pwrite(fd, data + done, length - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// The name of an entry of dir matching `want`: exactly, else without regard to ASCII case.
bool FindName(int dir, const std::string& want, std::string* actual)
{
    struct stat st{};
    if (fstatat(dir, want.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        *actual = want;
        return true;
    }
    int copy = dup(dir);
    if (copy < 0)
        return false;
    DIR* d = fdopendir(copy);
    if (!d) {
        close(copy);
        return false;
    }
    rewinddir(d);
    bool found = false;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != ".." && SameNoCase(n, want)) {
            *actual = n;
            found = true;
            break;
        }
    }
    closedir(d);
    return found;
}

}  // namespace

CardItem::~CardItem()
{
    if (dir >= 0)
        close(dir);
}

bool FindOnCard(int card, const std::string& cameraPath, CardItem* item)
{
    if (card < 0 || cameraPath.size() > 1024)
        return false;
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= cameraPath.size()) {
        size_t slash = cameraPath.find('/', at);
        if (slash == std::string::npos)
            slash = cameraPath.size();
        std::string part = cameraPath.substr(at, slash - at);
        at = slash + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return false;
        parts.push_back(part);
    }
    int dir = dup(card);
    if (dir < 0)
        return false;
    std::string relative;
    std::string leaf;
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string actual;
        if (!FindName(dir, parts[i], &actual)) {
            close(dir);
            return false;
        }
        if (i + 1 == parts.size()) {
            leaf = actual;
        } else {
            int next = openat(dir, actual.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            close(dir);
            if (next < 0)
                return false;
            dir = next;
        }
        relative += (relative.empty() ? "" : "/") + actual;
    }
    struct stat st{};
    bool ok = leaf.empty() ? fstat(dir, &st) == 0 : fstatat(dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!ok || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) {
        close(dir);
        return false;
    }
    if (item->dir >= 0)
        close(item->dir);
    item->dir = dir;
    item->leaf = leaf;
    item->relative = relative;
    item->st = st;
    return true;
}

bool PatternMatch(const char* p, const char* n)
{
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*n) {
        if (*p == '*') {
            star = p++;
            resume = n;
        } else if (*p == '?' || (*p && Lower(*p) == Lower(*n))) {
            ++p;
            ++n;
        } else if (star) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (*p == '*')
        ++p;
    return *p == 0;
}

// ---- Map and views ------------------------------------------------------------------------------------------

std::vector<Firmware::Entry> Firmware::Entries() const
{
    std::vector<Entry> e;
    e.push_back({{0x20000, 0, 0x1009, 0}});
    if (m_St.knobs.level)
        e.push_back({{0x40000, 0x10001, 0, 0}});
    if (m_St.knobs.engine)
        e.push_back({{0x50000, 0, 0x1006, 128}});
    e.push_back({{0x60000, 0, 0, 512}});
    e.push_back({{0x70000, 0, 0, 512}});
    return e;
}

Firmware::Span Firmware::Classify(uint64_t a)
{
    struct Area {
        Region region;
        uint64_t start, end;
    };
    const uint64_t entriesEnd = kEntryTable + 16 * Entries().size();
    const Area areas[] = {
        {Region::Register, kEngineCameraHi, kEngineSpare + 4},
        {Region::Console, kConsole, kConsoleEnd},
        {Region::Register, kHostLock, kHostLock + 4},
        {Region::Register, kTransferLength, kTransferLength + 4},
        {Region::Name, kNameArea, kNameEnd},
        {Region::Register, kLookupStatus, kFileTime + 4},
        {Region::Register, kCheckWord, kCommandStatus + 4},
        {Region::Window, kDataWindow, kWindowEnd},
        {Region::Rom, kRom1394, kRom1394 + 4},
        {Region::Register, kMagic, kEntryCount + 4},
        {Region::Register, kEntryTable, entriesEnd},
    };
    uint64_t next = kAddressEnd;
    for (const Area& area : areas) {
        if (a >= area.start && a < area.end)
            return {area.region, area.start, area.end};
        if (area.start > a)
            next = std::min(next, area.start);
    }
    return {Region::Unmapped, a, next};
}

bool Firmware::IsMapped(uint64_t address, size_t length)
{
    if (address >= kAddressEnd || length > kAddressEnd - address)
        return false;
    uint64_t pos = address;
    const uint64_t end = address + length;
    while (pos < end) {
        Span span = Classify(pos);
        uint64_t segEnd = std::min(span.end, end);
        if (span.region == Region::Unmapped) {
            if (!m_St.knobs.scratch)
                return false;
            // Scratch memory holds a bounded number of blocks.
            size_t fresh = 0;
            for (uint64_t b = pos & ~15ull; b < segEnd; b += 16)
                if (!m_S.Scratch().Has(b) && ++fresh + m_S.Scratch().Size() > kScratchBlocksMax)
                    return false;
        }
        pos = segEnd;
    }
    return true;
}

bool Firmware::Reversed(Face face, Region region, bool usbQuad) const
{
    bool reversed = false;
    if (region == Region::Name || region == Region::Window)
        reversed = face == Face::Bus1394;
    else if (region == Region::Console)
        reversed = face == Face::Bus1394 ? m_St.order == ByteOrder::KVCK : m_St.order == ByteOrder::KCVK;
    else
        return false;
    if (face == Face::Usb && usbQuad && region != Region::Window)
        reversed = !reversed;
    return reversed;
}

void Firmware::Encode(uint32_t v, uint8_t out[4]) const
{
    for (int i = 0; i < 4; ++i)
        out[m_St.order == ByteOrder::KVCK ? 3 - i : i] = uint8_t(v >> (8 * i));
}

uint32_t Firmware::Decode(const uint8_t in[4]) const
{
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= uint32_t(in[m_St.order == ByteOrder::KVCK ? 3 - i : i]) << (8 * i);
    return v;
}

bool Firmware::Read(Face face, uint64_t address, uint8_t* out, size_t length, bool quadRule)
{
    if (!IsMapped(address, length))
        return false;
    const bool usbQuad = face == Face::Usb && length == 4 && quadRule;
    uint64_t pos = address;
    const uint64_t end = address + length;
    while (pos < end) {
        Span span = Classify(pos);
        const uint64_t segEnd = std::min(span.end, end);
        uint8_t* dst = out + (pos - address);
        switch (span.region) {
        case Region::Unmapped:
            ScratchRead(pos, dst, size_t(segEnd - pos));
            break;
        case Region::Rom:
            for (uint64_t p = pos; p < segEnd; ++p)
                out[p - address] = uint8_t("1394"[p - span.start]);
            break;
        case Region::Register:
            for (uint64_t q = pos & ~3ull; q < segEnd; q += 4) {
                uint8_t bytes[4];
                Encode(ReadRegister(q), bytes);
                for (uint64_t p = std::max(q, pos); p < std::min(q + 4, segEnd); ++p)
                    out[p - address] = bytes[p - q];
            }
            break;
        default: {
            const uint64_t off = pos - span.start;
            const uint64_t offEnd = segEnd - span.start;
            // The host reads the console block over USB in small pieces: the text taken out of the queue at
            // its start is then as long as the block allows.
            m_ConsoleRead = face == Face::Usb ? kConsoleSize : size_t(((offEnd + 3) & ~3ull) - (off & ~3ull));
            if (!Reversed(face, span.region, usbQuad)) {
                ReadNatural(span.region, off, dst, size_t(offEnd - off), true);
                break;
            }
            const uint64_t coverStart = off & ~3ull;
            const uint64_t coverEnd = (offEnd + 3) & ~3ull;
            std::vector<uint8_t> natural(size_t(coverEnd - coverStart));
            ReadNatural(span.region, coverStart, natural.data(), natural.size(), true);
            for (uint64_t o = off; o < offEnd; ++o)
                out[pos - address + (o - off)] = natural[size_t((o ^ 3) - coverStart)];
            break;
        }
        }
        pos = segEnd;
    }
    return true;
}

bool Firmware::Write(Face face, uint64_t address, const uint8_t* data, size_t length,
                     std::vector<Delivery>* deliveries)
{
    if (!IsMapped(address, length))
        return false;
    const bool usbQuad = face == Face::Usb && length == 4;
    uint64_t pos = address;
    const uint64_t end = address + length;
    while (pos < end) {
        Span span = Classify(pos);
        const uint64_t segEnd = std::min(span.end, end);
        const uint8_t* src = data + (pos - address);
        switch (span.region) {
        case Region::Unmapped:
            ScratchWrite(pos, src, size_t(segEnd - pos));
            break;
        case Region::Rom:
            break;  // read-only
        case Region::Register:
            for (uint64_t q = pos & ~3ull; q < segEnd; q += 4) {
                uint8_t bytes[4];
                Encode(PeekRegister(q), bytes);
                for (uint64_t p = std::max(q, pos); p < std::min(q + 4, segEnd); ++p)
                    bytes[p - q] = data[p - address];
                WriteRegister(q, Decode(bytes), deliveries);
            }
            break;
        default: {
            const uint64_t off = pos - span.start;
            const uint64_t offEnd = segEnd - span.start;
            if (!Reversed(face, span.region, usbQuad)) {
                WriteNatural(span.region, off, src, size_t(offEnd - off));
                break;
            }
            const uint64_t coverStart = off & ~3ull;
            const uint64_t coverEnd = (offEnd + 3) & ~3ull;
            std::vector<uint8_t> natural(size_t(coverEnd - coverStart));
            if (coverStart != off || coverEnd != offEnd)
                ReadNatural(span.region, coverStart, natural.data(), natural.size(), false);
            for (uint64_t o = off; o < offEnd; ++o)
                natural[size_t((o ^ 3) - coverStart)] = src[o - off];
            WriteNatural(span.region, coverStart, natural.data(), natural.size());
            break;
        }
        }
        pos = segEnd;
    }
    return true;
}

bool Firmware::ReadInteger(uint64_t address, uint8_t out[4])
{
    if (!IsMapped(address, 4))
        return false;
    Span span = Classify(address);
    if (span.region == Region::Register && (address & 3) == 0 && span.end - address >= 4) {
        uint32_t v = ReadRegister(address);
        if (address == kMagic) {
            Encode(v, out);
        } else {
            for (int i = 0; i < 4; ++i)
                out[i] = uint8_t(v >> (8 * i));
        }
        return true;
    }
    return Read(Face::Usb, address, out, 4, false);
}

bool Firmware::ScratchRead(uint64_t address, uint8_t* out, size_t length)
{
    const ScratchMemory& scratch = m_S.Scratch();
    const ScratchMemory::Block* block = nullptr;
    uint64_t blockAddress = 1;  // none yet
    for (size_t i = 0; i < length; ++i) {
        const uint64_t a = address + i;
        if ((a & ~15ull) != blockAddress) {
            blockAddress = a & ~15ull;
            block = scratch.Find(blockAddress);
        }
        out[i] = block ? (*block)[a & 15] : 0;
    }
    return true;
}

bool Firmware::ScratchWrite(uint64_t address, const uint8_t* data, size_t length)
{
    ScratchMemory& scratch = m_S.Scratch();
    for (size_t i = 0; i < length; ++i) {
        const uint64_t a = address + i;
        scratch.At(a & ~15ull)[a & 15] = data[i];
    }
    m_St.scratchChanged = true;
    m_S.Touch();
    return true;
}

void Firmware::ReadNatural(Region region, uint64_t offset, uint8_t* out, size_t length, bool effects)
{
    switch (region) {
    case Region::Name:
        std::memcpy(out, m_St.name.data() + offset, length);
        break;
    case Region::Window:
        m_S.ReadWindow(offset, out, length);
        break;
    case Region::Console:
        if (effects && offset == 0 && length > 0) {
            // A read from the block's start takes the next text out of the queue.
            size_t n = std::min<size_t>({m_St.consoleQueue.size(), 127, std::max(length, m_ConsoleRead) - 1});
            m_St.consoleOut.fill(0);
            m_St.consoleOut[0] = uint8_t(n);
            std::memcpy(m_St.consoleOut.data() + 1, m_St.consoleQueue.data(), n);
            m_St.consoleQueue.erase(0, n);
            m_S.Touch();
        }
        std::memcpy(out, (effects ? m_St.consoleOut : m_St.consoleIn).data() + offset, length);
        break;
    default:
        std::memset(out, 0, length);
        break;
    }
}

void Firmware::WriteNatural(Region region, uint64_t offset, const uint8_t* data, size_t length)
{
    switch (region) {
    case Region::Name:
        std::memcpy(m_St.name.data() + offset, data, length);
        // A new name: the previous lookup's answer is gone.
        m_St.regs[kLookupStatus] = 0x01;
        m_St.lookupPending = true;
        m_St.lookupBusyLeft = m_St.knobs.lookupBusy;
        m_S.Touch();
        break;
    case Region::Window:
        m_S.WriteWindow(offset, data, length);
        break;
    case Region::Console: {
        if (offset == 0) {
            m_St.consoleIn.fill(0);
            m_St.consoleInEnd = 0;
        }
        std::memcpy(m_St.consoleIn.data() + offset, data, length);
        const uint32_t before = m_St.consoleInEnd;
        const uint32_t after = std::max<uint32_t>(before, uint32_t(offset + length));
        const uint32_t need = 1 + std::min<uint32_t>(m_St.consoleIn[0], 127);
        m_St.consoleInEnd = after;
        if (before < need && after >= need) {
            // The whole text is in: the console echoes it.
            size_t room = kConsoleQueueMax - std::min(kConsoleQueueMax, m_St.consoleQueue.size());
            m_St.consoleQueue.append(reinterpret_cast<const char*>(m_St.consoleIn.data() + 1),
                                     std::min<size_t>(need - 1, room));
        }
        m_S.Touch();
        break;
    }
    default:
        break;
    }
}

// ---- Registers ----------------------------------------------------------------------------------------------

uint32_t Firmware::PeekRegister(uint64_t address)
{
    if (address == kMagic)
        return kMagicValue;
    if (address == kEntryCount)
        return m_St.knobs.entries == 0xFFFFFFFFu ? uint32_t(Entries().size()) : m_St.knobs.entries;
    if (address >= kEntryTable && address < kEntryTable + 16 * Entries().size()) {
        uint64_t i = (address - kEntryTable) / 16;
        return Entries()[size_t(i)].words[((address - kEntryTable) % 16) / 4];
    }
    auto it = m_St.regs.find(address);
    return it == m_St.regs.end() ? 0 : it->second;
}

uint32_t Firmware::ReadRegister(uint64_t address)
{
    if (address == kLookupStatus && m_St.lookupPending) {
        if (m_St.lookupBusyLeft > 0) {
            --m_St.lookupBusyLeft;
            m_S.Touch();
            return 0x01;
        }
        Lookup();
    } else if (address == kCommandStatus && m_St.commandBusyLeft > 0) {
        if (--m_St.commandBusyLeft == 0)
            m_St.regs[kCommandStatus] = m_St.commandFinal;
        m_S.Touch();
        return 0x01;
    } else if (address == kEngineStatus && m_St.engineBusyLeft > 0 && PeekRegister(kEngineStatus) == 1) {
        if (--m_St.engineBusyLeft == 0)
            m_St.regs[kEngineStatus] = 0;
        m_S.Touch();
        return 1;
    }
    return PeekRegister(address);
}

void Firmware::WriteRegister(uint64_t address, uint32_t value, std::vector<Delivery>* deliveries)
{
    if (address == kMagic || address == kEntryCount || address >= kEntryTable)
        return;  // the configuration area is read-only
    m_St.regs[address] = value;
    m_S.Touch();
    if (address == kFileAttributes) {
        SetAttributes(value);
    } else if (address == kCommandWord) {
        uint32_t status = RunCommand(value) ? 2 : 0;
        m_St.commandFinal = status;
        m_St.commandBusyLeft = m_St.knobs.commandBusy;
        m_St.regs[kCommandStatus] = m_St.commandBusyLeft > 0 ? 1 : status;
    } else if (address == kEngineCameraHi || address == kEngineCameraLo) {
        uint32_t status = PeekRegister(kEngineStatus);
        if (status == 0 || status == 4) {
            uint64_t hi = PeekRegister(kEngineCameraHi);
            bool mapped = hi <= 0xFFFF && IsMapped(Address(uint32_t(hi), PeekRegister(kEngineCameraLo)), 4);
            m_St.regs[kEngineStatus] = mapped ? 0 : 4;
        }
    } else if (address == kEngineCommand) {
        if (value == kEngineStart) {
            StartEngine(deliveries);
        } else if (value == kEngineStop) {
            m_St.regs[kEngineStatus] = 0;
            m_St.engineBusyLeft = 0;
        }
    }
}

void Firmware::StartEngine(std::vector<Delivery>* deliveries)
{
    const uint64_t hi = PeekRegister(kEngineCameraHi);
    const uint64_t from = Address(uint32_t(hi), PeekRegister(kEngineCameraLo));
    const size_t size = PeekRegister(kEngineSize);
    uint32_t packet = PeekRegister(kEnginePacket);
    if (packet == 0)
        packet = 128;
    if (hi > 0xFFFF || size > kEngineMax || !IsMapped(from, size)) {
        m_St.regs[kEngineStatus] = 4;
        return;
    }
    m_St.regs[kEngineStatus] = 1;
    if (m_St.knobs.engineSilent)
        return;
    std::vector<uint8_t> data(size);
    Read(Face::Bus1394, from, data.data(), size);
    const uint64_t host = (uint64_t(PeekRegister(kEngineHostHi) & 0xFFFF) << 32) | PeekRegister(kEngineHostLo);
    for (size_t at = 0; at < size && deliveries; at += packet) {
        size_t n = std::min<size_t>(packet, size - at);
        deliveries->push_back({host + at, std::vector<uint8_t>(data.begin() + at, data.begin() + at + n)});
    }
    m_St.engineBusyLeft = m_St.knobs.engineBusy;
    m_St.regs[kEngineStatus] = m_St.engineBusyLeft > 0 ? 1 : 0;
}

// ---- Lookup -------------------------------------------------------------------------------------------------

uint32_t Firmware::Now() const { return uint32_t(int64_t(std::time(nullptr)) + m_St.clockOffset); }

std::vector<uint8_t> Firmware::DeviceBytes(Found found)
{
    std::vector<uint8_t> out;
    if (found == Found::Time) {
        PutLe(&out, Now());
    } else if (found == Found::Battery) {
        PutLe(&out, m_St.knobs.battery);
    } else if (found == Found::Card) {
        struct statvfs vfs{};
        uint64_t capacity = 0, free = 0;
        if (m_S.Card() >= 0 && fstatvfs(m_S.Card(), &vfs) == 0) {
            capacity = uint64_t(vfs.f_blocks) * vfs.f_frsize / 1024;
            free = uint64_t(vfs.f_bavail) * vfs.f_frsize / 1024;
        }
        PutLe(&out, Clamp32(capacity));
        PutLe(&out, Clamp32(free));
    }
    return out;
}

void Firmware::Lookup()
{
    m_St.lookupPending = false;
    m_S.Touch();
    size_t length = 0;
    while (length < m_St.name.size() && m_St.name[length] != 0)
        ++length;
    const std::string name(reinterpret_cast<const char*>(m_St.name.data()), length);

    uint32_t status = 0, size = 0, attributes = 0, time = 0;
    m_St.found = Found::Nothing;
    m_St.foundPath.clear();
    const struct {
        const char* name;
        Found found;
        uint32_t status;
    } devices[] = {
        {"/dev/Time", Found::Time, 0x02 | 0x08 | 0x10},
        {"/dev/Battery", Found::Battery, 0x02 | 0x08},
        {"/dev/CF", Found::Card, 0x02 | 0x08},
    };
    for (const auto& d : devices) {
        if (SameNoCase(name, d.name)) {
            m_St.found = d.found;
            status = d.status;
            size = uint32_t(DeviceBytes(d.found).size());
            time = Now();
        }
    }
    if (m_St.found == Found::Nothing && name.find_first_of("*?") != std::string::npos) {
        const size_t slash = name.rfind('/');
        const std::string folderPart = slash == std::string::npos ? "" : name.substr(0, slash + 1);
        const std::string pattern = name.substr(folderPart.size());
        CardItem folder;
        if (pattern.find('/') == std::string::npos && folderPart.find_first_of("*?") == std::string::npos &&
            FindOnCard(m_S.Card(), folderPart, &folder) && folder.IsFolder()) {
            int fd = folder.leaf.empty()
                         ? dup(folder.dir)
                         : openat(folder.dir, folder.leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            std::vector<std::string> names;
            if (DIR* d = fd >= 0 ? fdopendir(fd) : nullptr) {
                while (dirent* e = readdir(d)) {
                    std::string n = e->d_name;
                    if (n != "." && n != ".." && PatternMatch(pattern.c_str(), n.c_str()))
                        names.push_back(n);
                }
                closedir(d);
            } else if (fd >= 0) {
                close(fd);
            }
            std::sort(names.begin(), names.end());
            std::string listing;
            for (const std::string& n : names) {
                CardItem item;
                if (!FindOnCard(m_S.Card(), folder.relative + "/" + n, &item))
                    continue;  // a link or a device: not on the card
                const auto bits = m_St.fileFlags.find(item.relative);
                const uint32_t flags = bits == m_St.fileFlags.end() ? 0 : bits->second;
                char line[64];
                std::snprintf(line, sizeof line, "\t%d\t%d\t%s%s%s\n",
                              int(item.IsFolder() ? 0 : uint32_t(Clamp32(uint64_t(item.st.st_size)))),
                              int(Clamp32(uint64_t(std::max<int64_t>(0, item.st.st_mtime)))),
                              item.IsFolder() ? "D" : "", (flags & kFileLock) ? "L" : "",
                              (flags & kFileMark) ? "M" : "");
                listing += folderPart + n + line;
                if (listing.size() > kWindowMax)
                    break;
            }
            if (m_S.WriteListing(listing)) {
                m_St.found = Found::Listing;
                status = 0x02 | 0x08;
                size = Clamp32(listing.size());
                time = Now();
            }
        }
    } else if (m_St.found == Found::Nothing) {
        CardItem item;
        if (!name.empty() && FindOnCard(m_S.Card(), name, &item)) {
            const auto bits = m_St.fileFlags.find(item.relative);
            const uint32_t flags = bits == m_St.fileFlags.end() ? 0 : bits->second;
            m_St.foundPath = item.relative;
            attributes = flags & (kFileLock | kFileMark);
            time = Clamp32(uint64_t(std::max<int64_t>(0, item.st.st_mtime)));
            if (item.IsFolder()) {
                m_St.found = Found::Folder;
                status = 0x02;
            } else {
                m_St.found = Found::File;
                size = Clamp32(uint64_t(item.st.st_size));
                status = 0x02 | 0x08;
                if (!(flags & kFileLock))
                    status |= 0x10 | 0x20 | ((flags & kFileNoGrow) ? 0 : 0x40);
                if (flags & kFileWhole)
                    status |= 0x80;
            }
        }
    }
    m_St.regs[kLookupStatus] = status;
    m_St.regs[kFileSize] = size;
    m_St.regs[kFileAttributes] = attributes;
    m_St.regs[kFileTime] = time;
}

void Firmware::SetAttributes(uint32_t value)
{
    if (m_St.found != Found::File && m_St.found != Found::Folder)
        return;
    CardItem item;
    if (!FindOnCard(m_S.Card(), m_St.foundPath, &item))
        return;
    if (item.relative.empty())
        return;
    uint32_t& bits = m_St.fileFlags[item.relative];
    bits = (bits & ~(kFileLock | kFileMark)) | (value & (kFileLock | kFileMark));
    if (bits == 0)
        m_St.fileFlags.erase(item.relative);
}

// ---- Commands -----------------------------------------------------------------------------------------------

bool Firmware::RunCommand(uint32_t word)
{
    if (m_St.knobs.commandFails > 0) {
        --m_St.knobs.commandFails;
        return false;
    }
    if (m_St.lookupPending)
        return false;  // the mailbox is still busy with a name
    switch (word) {
    case kCommandRead:
        return CommandRead();
    case kCommandWrite:
        return CommandWrite();
    case kCommandDelete:
        return CommandDelete();
    default:
        return false;
    }
}

bool Firmware::CommandRead()
{
    const uint64_t offset = PeekRegister(kArgOffset);
    const uint64_t length = PeekRegister(kArgLength);
    std::vector<uint8_t> content;
    uint64_t size = 0;
    CardItem item;
    switch (m_St.found) {
    case Found::File:
        if (!FindOnCard(m_S.Card(), m_St.foundPath, &item) || item.IsFolder())
            return false;
        size = uint64_t(item.st.st_size);
        break;
    case Found::Listing: {
        std::string text = m_S.ReadListing();
        content.assign(text.begin(), text.end());
        size = content.size();
        break;
    }
    case Found::Time:
    case Found::Battery:
    case Found::Card:
        content = DeviceBytes(m_St.found);
        size = content.size();
        break;
    default:
        return false;
    }
    if (offset > size)
        return false;
    const uint64_t n = std::min(length, size - offset);
    if (n > kWindowMax)
        return false;
    std::vector<uint8_t> data;
    if (m_St.found == Found::File) {
        int fd = openat(item.dir, item.leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        bool ok = ReadAll(fd, offset, size_t(n), &data);
        close(fd);
        if (!ok)
            return false;
    } else {
        data.assign(content.begin() + ptrdiff_t(offset), content.begin() + ptrdiff_t(offset + n));
    }
    if (!m_S.SetWindow(data))
        return false;
    uint16_t crc = Crc16(data.data(), data.size());
    if (m_St.knobs.badCrc > 0) {
        --m_St.knobs.badCrc;
        crc = uint16_t(crc ^ 0xFFFF);
    }
    m_St.regs[kCheckWord] = crc;
    return true;
}

bool Firmware::CommandWrite()
{
    const uint64_t offset = PeekRegister(kArgOffset);
    const uint64_t length = PeekRegister(kArgLength);
    if (length > m_S.WindowSize())
        return false;  // more than the host put into the window
    std::vector<uint8_t> data(size_t(length), 0);
    m_S.ReadWindow(0, data.data(), data.size());
    if (Crc16(data.data(), data.size()) != (PeekRegister(kCheckWord) & 0xFFFF))
        return false;
    if (m_St.found == Found::Time) {
        if (offset != 0 || length != 4)
            return false;
        const uint32_t t = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                           uint32_t(data[3]) << 24;
        m_St.clockOffset = int64_t(t) - int64_t(std::time(nullptr));
        return true;
    }
    CardItem item;
    if (m_St.found != Found::File || !FindOnCard(m_S.Card(), m_St.foundPath, &item) || item.IsFolder())
        return false;
    const auto bits = m_St.fileFlags.find(item.relative);
    const uint32_t flags = bits == m_St.fileFlags.end() ? 0 : bits->second;
    const uint64_t size = uint64_t(item.st.st_size);
    if (flags & kFileLock)
        return false;
    if (flags & kFileWhole) {
        // The whole file comes at once and replaces the old one.
        if (offset != 0 || (length > size && (flags & kFileNoGrow)))
            return false;
        return WriteFileAt(item.dir, item.leaf, std::string(data.begin(), data.end()), int(item.st.st_mode & 0777));
    }
    if (offset > size || (offset + length > size && (flags & kFileNoGrow)))
        return false;
    int fd = openat(item.dir, item.leaf.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, offset, data.data(), data.size());
    if (close(fd) != 0)
        ok = false;
    return ok;
}

bool Firmware::CommandDelete()
{
    CardItem item;
    if ((m_St.found != Found::File && m_St.found != Found::Folder) || m_St.foundPath.empty() ||
        !FindOnCard(m_S.Card(), m_St.foundPath, &item))
        return false;
    const auto bits = m_St.fileFlags.find(item.relative);
    if (bits != m_St.fileFlags.end() && (bits->second & kFileLock))
        return false;
    if (unlinkat(item.dir, item.leaf.c_str(), item.IsFolder() ? AT_REMOVEDIR : 0) != 0)
        return false;
    if (bits != m_St.fileFlags.end())
        m_St.fileFlags.erase(bits);
    m_St.found = Found::Nothing;
    m_St.foundPath.clear();
    return true;
}

}  // namespace simcam
