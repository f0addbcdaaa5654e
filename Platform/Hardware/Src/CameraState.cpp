#include "CameraState.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "PlatformMachine.h"

namespace simcam {

namespace {

constexpr off_t kLogMax = 1 << 20;

void AppendHex(std::string* out, const uint8_t* data, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    const size_t at = out->size();
    out->resize(at + 2 * length);
    char* p = out->data() + at;
    for (size_t i = 0; i < length; ++i) {
        p[2 * i] = digits[data[i] >> 4];
        p[2 * i + 1] = digits[data[i] & 15];
    }
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decodes hex text of at most `max` bytes; false when it is not hex or too long.
bool Unhex(std::string_view text, size_t max, std::string* out)
{
    if (text.size() % 2 != 0 || text.size() / 2 > max)
        return false;
    out->clear();
    out->reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = HexDigit(text[i]);
        int lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        *out += char(hi * 16 + lo);
    }
    return true;
}

bool Number(std::string_view text, uint64_t* out, int base = 16)
{
    if (text.empty() || text.size() > 20)
        return false;
    char digits[24];
    std::memcpy(digits, text.data(), text.size());
    digits[text.size()] = 0;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(digits, &end, base);
    if (errno != 0 || end != digits + text.size() || text[0] == '-' || text[0] == '+')
        return false;
    *out = v;
    return true;
}

bool Number32(std::string_view text, uint32_t* out, int base = 16)
{
    uint64_t v = 0;
    if (!Number(text, &v, base) || v > 0xFFFFFFFFu)
        return false;
    *out = uint32_t(v);
    return true;
}

template <size_t N>
bool Bytes(std::string_view text, std::array<uint8_t, N>* out)
{
    if (text.size() != 2 * N)
        return false;
    std::array<uint8_t, N> bytes;
    for (size_t i = 0; i < N; ++i) {
        const int hi = HexDigit(text[2 * i]);
        const int lo = HexDigit(text[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes[i] = uint8_t(hi * 16 + lo);
    }
    *out = bytes;
    return true;
}

// A line's whitespace-separated fields (at most 16), as views into the line.
struct LineFields {
    std::string_view f[16];
    size_t size = 0;
};

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void SplitFields(std::string_view line, LineFields* out)
{
    out->size = 0;
    size_t at = 0;
    while (out->size < 16) {
        while (at < line.size() && IsSpace(line[at]))
            ++at;
        if (at == line.size())
            break;
        const size_t start = at;
        while (at < line.size() && !IsSpace(line[at]))
            ++at;
        out->f[out->size++] = line.substr(start, at - start);
    }
}

struct KnobField {
    const char* name;
    bool isBool;
    bool Knobs::*flag;
    uint32_t Knobs::*count;
};

const KnobField kKnobFields[] = {
    {"level", true, &Knobs::level, nullptr},
    {"engine", true, &Knobs::engine, nullptr},
    {"entries", false, nullptr, &Knobs::entries},
    {"lookup-busy", false, nullptr, &Knobs::lookupBusy},
    {"command-busy", false, nullptr, &Knobs::commandBusy},
    {"command-fails", false, nullptr, &Knobs::commandFails},
    {"bad-crc", false, nullptr, &Knobs::badCrc},
    {"scratch", true, &Knobs::scratch, nullptr},
    {"preamble", true, &Knobs::preamble, nullptr},
    {"stall", false, nullptr, &Knobs::stall},
    {"not-responding", false, nullptr, &Knobs::notResponding},
    {"reply6", false, nullptr, &Knobs::reply6},
    {"usb-delay", false, nullptr, &Knobs::usbDelay},
    {"engine-busy", false, nullptr, &Knobs::engineBusy},
    {"engine-silent", true, &Knobs::engineSilent, nullptr},
    {"battery", false, nullptr, &Knobs::battery},
};

constexpr size_t kScratchRecord = 24;

// A whole small file of the camera's folder (at most `limit` bytes); empty when there is none.
std::string ReadSmallFile(int fd, size_t limit)
{
    std::string text;
    struct stat st{};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        text.reserve(std::min<size_t>(size_t(st.st_size) + 1, limit + 8192));
    char buf[8192];
    ssize_t n;
    while (text.size() < limit && ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)))
        if (n > 0)
            text.append(buf, size_t(n));
    return text;
}

}  // namespace

const ScratchMemory::Block* ScratchMemory::Find(uint64_t address) const
{
    auto it = std::lower_bound(m_Blocks.begin(), m_Blocks.end(), address,
                               [](const auto& entry, uint64_t a) { return entry.first < a; });
    return it != m_Blocks.end() && it->first == address ? &it->second : nullptr;
}

ScratchMemory::Block& ScratchMemory::At(uint64_t address)
{
    // Blocks mostly come in rising order: the end is looked at first.
    if (m_Blocks.empty() || m_Blocks.back().first < address) {
        m_Blocks.emplace_back(address, Block{});
        return m_Blocks.back().second;
    }
    auto it = std::lower_bound(m_Blocks.begin(), m_Blocks.end(), address,
                               [](const auto& entry, uint64_t a) { return entry.first < a; });
    if (it == m_Blocks.end() || it->first != address)
        it = m_Blocks.emplace(it, address, Block{});
    return it->second;
}

void ScratchMemory::Add(uint64_t address, const Block& block)
{
    if (!m_Blocks.empty() && m_Blocks.back().first >= address && Has(address))
        return;
    At(address) = block;
}

std::string ScratchMemory::Bytes() const
{
    std::string out(m_Blocks.size() * kScratchRecord, '\0');
    char* p = out.data();
    for (const auto& [address, block] : m_Blocks) {
        for (int i = 0; i < 8; ++i)
            p[i] = char(uint8_t(address >> (8 * i)));
        std::memcpy(p + 8, block.data(), block.size());
        p += kScratchRecord;
    }
    return out;
}

void ScratchMemory::Parse(const std::string& bytes)
{
    m_Blocks.reserve(std::min(bytes.size() / kScratchRecord, kScratchBlocksMax));
    for (size_t at = 0; at + kScratchRecord <= bytes.size() && m_Blocks.size() < kScratchBlocksMax;
         at += kScratchRecord) {
        uint64_t address = 0;
        for (int i = 0; i < 8; ++i)
            address |= uint64_t(uint8_t(bytes[at + i])) << (8 * i);
        if (address > 0xFFFFFFFFFFF0ull || (address & 15) != 0)
            continue;
        Block block;
        std::memcpy(block.data(), bytes.data() + at + 8, 16);
        Add(address, block);
    }
}

bool SetKnobValue(Knobs* knobs, const std::string& key, const std::string& value)
{
    for (const KnobField& f : kKnobFields) {
        if (key != f.name)
            continue;
        if (f.isBool) {
            if (value != "on" && value != "off")
                return false;
            knobs->*f.flag = value == "on";
            return true;
        }
        uint32_t v = 0;
        if (f.count == &Knobs::entries && value == "all")
            v = 0xFFFFFFFFu;
        else if (!Number32(value, &v, 10))
            return false;
        knobs->*f.count = v;
        return true;
    }
    return false;
}

void CameraState::PowerOn()
{
    regs.clear();
    name.fill(0);
    lookupPending = false;
    lookupBusyLeft = 0;
    found = Found::Nothing;
    foundPath.clear();
    commandBusyLeft = 0;
    commandFinal = 0;
    engineBusyLeft = 0;
    consoleQueue.clear();
    consoleOut.fill(0);
    consoleIn.fill(0);
    consoleInEnd = 0;
    usbReadAddress = usbWriteAddress = 0;
    usbInLength = usbOutLength = 0;
    usbHalted = {};
    usbPreambleSent = false;
    // Unread scratch memory may hold blocks: its file is emptied too.
    scratchChanged = scratchChanged || !scratch.Empty() || !scratchLoaded;
    scratch.Clear();
    scratchLoaded = true;
}

std::string SerializeState(const CameraState& s)
{
    // Appended in place: an access writes the state often.
    std::string out;
    size_t size = 1024 + 2 * (s.consoleQueue.size() + s.foundPath.size()) + 32 * s.regs.size();
    for (const auto& entry : s.fileFlags)
        size += 24 + 2 * entry.first.size();
    out.reserve(size);
    char line[160];
    const auto put = [&](int n) { out.append(line, size_t(std::clamp(n, 0, int(sizeof line) - 1))); };
    out += "order ";
    out += OrderName(s.order);
    out += "\nplug ";
    out += PlugName(s.plug);
    out += '\n';
    for (const auto& [address, value] : s.regs)
        put(std::snprintf(line, sizeof line, "reg %" PRIx64 " %" PRIx32 "\n", address, value));
    out += "name ";
    AppendHex(&out, s.name.data(), s.name.size());
    put(std::snprintf(line, sizeof line, "\nlookup %d %" PRIx32 " %" PRIx32 "\nfound ", s.lookupPending ? 1 : 0,
                      s.lookupBusyLeft, uint32_t(s.found)));
    AppendHex(&out, reinterpret_cast<const uint8_t*>(s.foundPath.data()), s.foundPath.size());
    put(std::snprintf(line, sizeof line, "\ncommand %" PRIx32 " %" PRIx32 " %" PRIx32 "\nclock %" PRIx64 "\nconsole ",
                      s.commandBusyLeft, s.commandFinal, s.engineBusyLeft, uint64_t(s.clockOffset)));
    AppendHex(&out, reinterpret_cast<const uint8_t*>(s.consoleQueue.data()), s.consoleQueue.size());
    out += "\nconsole-out ";
    AppendHex(&out, s.consoleOut.data(), s.consoleOut.size());
    out += "\nconsole-in ";
    AppendHex(&out, s.consoleIn.data(), s.consoleIn.size());
    put(std::snprintf(line, sizeof line, " %" PRIx32 "\nusb %" PRIx64 " %" PRIx64 " %" PRIx32 " %" PRIx32 " %d %d %d\n",
                      s.consoleInEnd, s.usbReadAddress, s.usbWriteAddress, s.usbInLength, s.usbOutLength,
                      s.usbHalted[0] ? 1 : 0, s.usbHalted[1] ? 1 : 0, s.usbPreambleSent ? 1 : 0));
    for (const auto& [path, bits] : s.fileFlags) {
        put(std::snprintf(line, sizeof line, "file %" PRIx32 " ", bits));
        AppendHex(&out, reinterpret_cast<const uint8_t*>(path.data()), path.size());
        out += '\n';
    }
    for (const KnobField& f : kKnobFields) {
        out += "knob ";
        out += f.name;
        if (f.isBool)
            out += s.knobs.*f.flag ? " on\n" : " off\n";
        else if (f.count == &Knobs::entries && s.knobs.entries == 0xFFFFFFFFu)
            out += " all\n";
        else
            put(std::snprintf(line, sizeof line, " %" PRIu32 "\n", s.knobs.*f.count));
    }
    return out;
}

// Calls fn for each line of a state text; over-long lines are skipped.
template <class Fn> void ForEachStateLine(std::string_view all, Fn&& fn)
{
    for (size_t at = 0; at < all.size();) {
        size_t end = all.find('\n', at);
        if (end == std::string_view::npos)
            end = all.size();
        const std::string_view line = all.substr(at, end - at);
        at = end + 1;
        if (line.size() <= 4096)
            fn(line);
    }
}

void ParseState(const std::string& text, CameraState* s)
{
    LineFields fields;
    const std::string_view* f = fields.f;
    ForEachStateLine(text, [&](std::string_view line) {
        SplitFields(line, &fields);
        if (fields.size == 0)
            return;
        const std::string_view key = f[0];
        const size_t n = fields.size;
        uint64_t a = 0, b = 0;
        uint32_t x = 0, y = 0, z = 0;
        std::string raw;
        if (key == "order" && n == 2) {
            if (f[1] == "KVCK" || f[1] == "KCVK")
                s->order = f[1] == "KVCK" ? ByteOrder::KVCK : ByteOrder::KCVK;
        } else if (key == "plug" && n == 2) {
            if (f[1] == "none" || f[1] == "1394" || f[1] == "usb")
                s->plug = f[1] == "none" ? Plug::None : f[1] == "1394" ? Plug::Bus1394 : Plug::Usb;
        } else if (key == "reg" && n == 3) {
            if (Number(f[1], &a) && a <= 0xFFFFFFFFFFFFull && (a & 3) == 0 && Number32(f[2], &x) &&
                s->regs.size() < 1024)
                s->regs[a] = x;
        } else if (key == "name" && n == 2) {
            Bytes(f[1], &s->name);
        } else if (key == "lookup" && n == 4) {
            if (Number32(f[1], &x) && x <= 1 && Number32(f[2], &y) && Number32(f[3], &z) &&
                z <= uint32_t(Found::Card)) {
                s->lookupPending = x == 1;
                s->lookupBusyLeft = y;
                s->found = Found(z);
            }
        } else if (key == "found") {
            if (n == 1)
                s->foundPath.clear();
            else if (n == 2 && Unhex(f[1], 1024, &raw))
                s->foundPath = raw;
        } else if (key == "command" && n == 4) {
            if (Number32(f[1], &x) && Number32(f[2], &y) && Number32(f[3], &z)) {
                s->commandBusyLeft = x;
                s->commandFinal = y;
                s->engineBusyLeft = z;
            }
        } else if (key == "clock" && n == 2) {
            if (Number(f[1], &a))
                s->clockOffset = int64_t(a);
        } else if (key == "console") {
            if (n == 1)
                s->consoleQueue.clear();
            else if (n == 2 && Unhex(f[1], kConsoleQueueMax, &raw))
                s->consoleQueue = raw;
        } else if (key == "console-out" && n == 2) {
            Bytes(f[1], &s->consoleOut);
        } else if (key == "console-in" && n == 3) {
            if (Number32(f[2], &x) && x <= kConsoleSize && Bytes(f[1], &s->consoleIn))
                s->consoleInEnd = x;
        } else if (key == "usb" && n == 8) {
            uint32_t h0 = 0, h1 = 0, p = 0;
            if (Number(f[1], &a) && Number(f[2], &b) && Number32(f[3], &x) && Number32(f[4], &y) &&
                Number32(f[5], &h0) && Number32(f[6], &h1) && Number32(f[7], &p)) {
                s->usbReadAddress = a & 0xFFFFFFFFFFFFull;
                s->usbWriteAddress = b & 0xFFFFFFFFFFFFull;
                s->usbInLength = x;
                s->usbOutLength = y;
                s->usbHalted = {h0 != 0, h1 != 0};
                s->usbPreambleSent = p != 0;
            }
        } else if (key == "file" && n == 3) {
            if (Number32(f[1], &x) && Unhex(f[2], 1024, &raw) && !raw.empty() && s->fileFlags.size() < 4096)
                s->fileFlags[raw] = x & (kFileLock | kFileMark | kFileWhole | kFileNoGrow);
        } else if (key == "mem" && n == 3) {
            // An older state file kept scratch memory here; it moves to its own file.
            std::array<uint8_t, 16> block{};
            if (Number(f[1], &a) && a <= 0xFFFFFFFFFFF0ull && (a & 15) == 0 && Bytes(f[2], &block) &&
                s->scratch.Size() < kScratchBlocksMax) {
                s->scratch.At(a) = block;
                s->scratchChanged = true;
            }
        } else if (key == "knob" && n == 3) {
            SetKnobValue(&s->knobs, std::string(f[1]), std::string(f[2]));
        }
    });
}

int OpenCamerasFolder(bool create)
{
    std::string path;
    if (create) {
        path = PlatGetMachineSubfolder("hardware/cameras");
        if (path.empty())
            return -1;
    } else {
        path = PlatGetMachineFolder() + "/hardware/cameras";
    }
    return open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool WriteFileAt(int dir, const std::string& name, const std::string& data, int mode)
{
    std::string temp = "." + name + ".new" + std::to_string(getpid());
    int fd = openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    size_t done = 0;
    bool ok = true;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += size_t(n);
    }
    if (close(fd) != 0)
        ok = false;
    if (ok && renameat(dir, temp.c_str(), dir, name.c_str()) == 0)
        return true;
    unlinkat(dir, temp.c_str(), 0);
    return false;
}

bool ReadStateSummary(const std::string& id, CameraSummary* summary, uint32_t* usbDelay)
{
    if (!IsValidCameraId(id))
        return false;
    int cameras = OpenCamerasFolder(false);
    if (cameras < 0)
        return false;
    const int dir = openat(cameras, id.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close(cameras);
    if (dir < 0)
        return false;
    std::string text;
    const int fd = openat(dir, "state", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    close(dir);
    if (fd >= 0) {
        text = ReadSmallFile(fd, 4u << 20);
        close(fd);
    }
    // The lines ParseState takes these from, read the same way.
    CameraState state;
    LineFields fields;
    ForEachStateLine(text, [&](std::string_view line) {
        if (line.size() < 4)
            return;
        const char c = line[0];
        if (c != 'o' && c != 'p' && c != 'k')
            return;
        SplitFields(line, &fields);
        if (fields.f[0] == "order" || fields.f[0] == "plug") {
            if (fields.size == 2)
                ParseState(std::string(line), &state);
        } else if (fields.f[0] == "knob" && fields.size == 3 && fields.f[1] == "usb-delay") {
            SetKnobValue(&state.knobs, "usb-delay", std::string(fields.f[2]));
        }
    });
    summary->id = id;
    summary->plug = state.plug;
    summary->order = state.order;
    if (usbDelay)
        *usbDelay = state.knobs.usbDelay;
    return true;
}

Session::Session(const std::string& id) : m_Id(id)
{
    if (!IsValidCameraId(id)) {
        m_Error = "not a camera id: " + id;
        return;
    }
    int cameras = OpenCamerasFolder(false);
    if (cameras >= 0) {
        m_Dir = openat(cameras, id.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        close(cameras);
    }
    if (m_Dir < 0) {
        m_Error = "no camera " + id;
        return;
    }
    m_Lock = openat(m_Dir, "lock", O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (m_Lock < 0) {
        m_Error = "camera " + id + ": cannot open its lock: " + std::strerror(errno);
        return;
    }
    int rc;
    do {
        rc = flock(m_Lock, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        m_Error = "camera " + id + ": cannot take its lock: " + std::strerror(errno);
        close(m_Lock);
        m_Lock = -1;
        return;
    }
    int fd = OpenFile("state", O_RDONLY);
    if (fd >= 0) {
        m_Text = ReadSmallFile(fd, 4u << 20);
        close(fd);
        ParseState(m_Text, &m_State);
    }
    // Scratch memory is read when an access reaches it; an older state's blocks join the file's at once.
    if (!m_State.scratch.Empty())
        Scratch();
}

ScratchMemory& Session::Scratch()
{
    if (!m_State.scratchLoaded && Ok()) {
        m_State.scratchLoaded = true;
        int fd = OpenFile("scratch", O_RDONLY);
        if (fd >= 0) {
            const std::string bytes = ReadSmallFile(fd, kScratchBlocksMax * kScratchRecord);
            close(fd);
            m_State.scratch.Parse(bytes);
        }
    }
    return m_State.scratch;
}

Session::~Session()
{
    Save();
    if (m_Window >= 0)
        close(m_Window);
    if (m_Card >= 0)
        close(m_Card);
    if (m_Lock >= 0)
        close(m_Lock);  // lets the lock go
    if (m_Dir >= 0)
        close(m_Dir);
}

bool Session::Save()
{
    if (!Ok())
        return true;
    bool ok = true;
    if (m_State.scratchChanged) {
        m_State.scratchChanged = false;
        ok = WriteFileAt(m_Dir, "scratch", m_State.scratch.Bytes());
    }
    if (m_Dirty) {
        m_Dirty = false;
        // A state that reads as it stands is not written again.
        std::string text = SerializeState(m_State);
        if (text != m_Text) {
            if (WriteFileAt(m_Dir, "state", text))
                m_Text = std::move(text);
            else
                ok = false;
        }
    }
    return ok;
}

int Session::OpenFile(const char* name, int flags)
{
    return openat(m_Dir, name, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
}

int Session::Card()
{
    if (m_Card == -2)
        m_Card = Ok() ? openat(m_Dir, "card", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
    return m_Card;
}

void Session::Log(const char* face, const char* operation, uint64_t address, size_t length, const char* result)
{
    if (!Ok())
        return;
    int fd = OpenFile("log", O_WRONLY | O_CREAT | O_APPEND);
    if (fd < 0)
        return;
    struct stat st{};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > kLogMax) {
        // Keeps the log bounded: the older half goes to log.old.
        close(fd);
        renameat(m_Dir, "log", m_Dir, "log.old");
        fd = OpenFile("log", O_WRONLY | O_CREAT | O_APPEND);
        if (fd < 0)
            return;
    }
    char line[160];
    int n = std::snprintf(line, sizeof line, "%s\t%ld\t%s\t%04" PRIx64 ":%08" PRIx64 "\t%zu\t%s\n", face,
                          long(getpid()), operation, (address >> 32) & 0xFFFF, address & 0xFFFFFFFFu, length,
                          result);
    if (n > 0) {
        ssize_t w = write(fd, line, std::min(size_t(n), sizeof line - 1));
        (void)w;
    }
    close(fd);
}

size_t Session::WindowSize()
{
    if (m_Window < 0)
        m_Window = OpenFile("window", O_RDWR | O_CREAT);
    struct stat st{};
    if (m_Window < 0 || fstat(m_Window, &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    return size_t(std::min<uint64_t>(uint64_t(st.st_size), kWindowMax));
}

void Session::ReadWindow(uint64_t offset, uint8_t* out, size_t length)
{
    if (length == 0)
        return;
    std::memset(out, 0, length);
    size_t size = WindowSize();
    if (m_Window < 0 || offset >= size)
        return;
    size_t want = size_t(std::min<uint64_t>(length, size - offset));
    size_t done = 0;
    while (done < want) {
        ssize_t n = pread(m_Window, out + done, want - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += size_t(n);
    }
}

bool Session::WriteWindow(uint64_t offset, const uint8_t* data, size_t length)
{
    WindowSize();
    if (m_Window < 0 || offset > kWindowMax || length > kWindowMax - offset)
        return false;
    size_t done = 0;
    while (done < length) {
        ssize_t n = pwrite(m_Window, data + done, length - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

bool Session::SetWindow(const std::vector<uint8_t>& data)
{
    WindowSize();
    if (m_Window < 0 || ftruncate(m_Window, 0) != 0)
        return false;
    return WriteWindow(0, data.data(), data.size());
}

std::string Session::ReadListing()
{
    std::string text;
    int fd = OpenFile("listing", O_RDONLY);
    if (fd < 0)
        return text;
    char buf[8192];
    ssize_t n;
    while (text.size() < kWindowMax && ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)))
        if (n > 0)
            text.append(buf, size_t(n));
    close(fd);
    return text;
}

bool Session::WriteListing(const std::string& text)
{
    return Ok() && WriteFileAt(m_Dir, "listing", text);
}

uint16_t Crc16(const uint8_t* data, size_t length, uint16_t crc)
{
    static const auto table = [] {
        std::array<uint16_t, 256> t{};
        for (unsigned i = 0; i < 256; ++i) {
            uint16_t c = uint16_t(i << 8);
            for (int b = 0; b < 8; ++b)
                c = uint16_t((c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1);
            t[i] = c;
        }
        return t;
    }();
    for (size_t i = 0; i < length; ++i)
        crc = uint16_t(table[((crc >> 8) ^ data[i]) & 0xFF] ^ (crc << 8));
    return crc;
}

const char* PlugName(Plug plug)
{
    switch (plug) {
    case Plug::Bus1394:
        return "1394";
    case Plug::Usb:
        return "usb";
    default:
        return "none";
    }
}

const char* OrderName(ByteOrder order) { return order == ByteOrder::KVCK ? "KVCK" : "KCVK"; }

bool IsValidCameraId(const std::string& id)
{
    if (id.empty() || id.size() > 64)
        return false;
    for (char c : id)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
            return false;
    return true;
}

std::string CameraFolder(const std::string& id) { return PlatGetMachineFolder() + "/hardware/cameras/" + id; }
std::string CardFolder(const std::string& id) { return CameraFolder(id) + "/card"; }

}  // namespace simcam
