#include "CameraState.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "PlatformMachine.h"

namespace simcam {

namespace {

constexpr off_t kLogMax = 1 << 20;

std::string Hex(const uint8_t* data, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
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
bool Unhex(const std::string& text, size_t max, std::string* out)
{
    if (text.size() % 2 != 0 || text.size() / 2 > max)
        return false;
    out->clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = HexDigit(text[i]);
        int lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        *out += char(hi * 16 + lo);
    }
    return true;
}

bool Number(const std::string& text, uint64_t* out, int base = 16)
{
    if (text.empty() || text.size() > 20)
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), &end, base);
    if (errno != 0 || end != text.c_str() + text.size() || text[0] == '-' || text[0] == '+')
        return false;
    *out = v;
    return true;
}

bool Number32(const std::string& text, uint32_t* out, int base = 16)
{
    uint64_t v = 0;
    if (!Number(text, &v, base) || v > 0xFFFFFFFFu)
        return false;
    *out = uint32_t(v);
    return true;
}

template <size_t N>
bool Bytes(const std::string& text, std::array<uint8_t, N>* out)
{
    std::string raw;
    if (!Unhex(text, N, &raw) || raw.size() != N)
        return false;
    std::memcpy(out->data(), raw.data(), N);
    return true;
}

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> out;
    std::istringstream in(line);
    std::string f;
    while (in >> f && out.size() < 16)
        out.push_back(f);
    return out;
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

// Scratch memory in its file: per block the 48-bit address (8 bytes, little-endian), then its 16 bytes. It is
// apart from the state's text so that an access reads it as one block, however much scratch there is.
constexpr size_t kScratchRecord = 24;

std::string ScratchBytes(const std::map<uint64_t, std::array<uint8_t, 16>>& scratch)
{
    std::string out;
    out.reserve(scratch.size() * kScratchRecord);
    for (const auto& [address, block] : scratch) {
        for (int i = 0; i < 8; ++i)
            out += char(uint8_t(address >> (8 * i)));
        out.append(reinterpret_cast<const char*>(block.data()), block.size());
    }
    return out;
}

void ParseScratch(const std::string& bytes, std::map<uint64_t, std::array<uint8_t, 16>>* scratch)
{
    for (size_t at = 0; at + kScratchRecord <= bytes.size() && scratch->size() < kScratchBlocksMax;
         at += kScratchRecord) {
        uint64_t address = 0;
        for (int i = 0; i < 8; ++i)
            address |= uint64_t(uint8_t(bytes[at + i])) << (8 * i);
        if (address > 0xFFFFFFFFFFF0ull || (address & 15) != 0)
            continue;
        std::array<uint8_t, 16> block;
        std::memcpy(block.data(), bytes.data() + at + 8, 16);
        scratch->emplace(address, block);
    }
}

// A whole small file of the camera's folder (at most `limit` bytes); empty when there is none.
std::string ReadSmallFile(int fd, size_t limit)
{
    std::string text;
    char buf[8192];
    ssize_t n;
    while (text.size() < limit && ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)))
        if (n > 0)
            text.append(buf, size_t(n));
    return text;
}

}  // namespace

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
    scratchChanged = scratchChanged || !scratch.empty();
    scratch.clear();
}

std::string SerializeState(const CameraState& s)
{
    std::string out = "order " + std::string(OrderName(s.order)) + "\nplug " + PlugName(s.plug) + "\n";
    char line[128];
    for (const auto& [address, value] : s.regs) {
        std::snprintf(line, sizeof line, "reg %" PRIx64 " %" PRIx32 "\n", address, value);
        out += line;
    }
    out += "name " + Hex(s.name.data(), s.name.size()) + "\n";
    std::snprintf(line, sizeof line, "lookup %d %" PRIx32 " %" PRIx32 "\n", s.lookupPending ? 1 : 0,
                  s.lookupBusyLeft, uint32_t(s.found));
    out += line;
    out += "found " + Hex(reinterpret_cast<const uint8_t*>(s.foundPath.data()), s.foundPath.size()) + "\n";
    std::snprintf(line, sizeof line, "command %" PRIx32 " %" PRIx32 " %" PRIx32 "\n", s.commandBusyLeft,
                  s.commandFinal, s.engineBusyLeft);
    out += line;
    std::snprintf(line, sizeof line, "clock %" PRIx64 "\n", uint64_t(s.clockOffset));
    out += line;
    out += "console " + Hex(reinterpret_cast<const uint8_t*>(s.consoleQueue.data()), s.consoleQueue.size()) + "\n";
    out += "console-out " + Hex(s.consoleOut.data(), s.consoleOut.size()) + "\n";
    std::snprintf(line, sizeof line, " %" PRIx32 "\n", s.consoleInEnd);
    out += "console-in " + Hex(s.consoleIn.data(), s.consoleIn.size()) + line;
    std::snprintf(line, sizeof line, "usb %" PRIx64 " %" PRIx64 " %" PRIx32 " %" PRIx32 " %d %d %d\n",
                  s.usbReadAddress, s.usbWriteAddress, s.usbInLength, s.usbOutLength, s.usbHalted[0] ? 1 : 0,
                  s.usbHalted[1] ? 1 : 0, s.usbPreambleSent ? 1 : 0);
    out += line;
    for (const auto& [path, bits] : s.fileFlags) {
        std::snprintf(line, sizeof line, "file %" PRIx32 " ", bits);
        out += line + Hex(reinterpret_cast<const uint8_t*>(path.data()), path.size()) + "\n";
    }
    for (const KnobField& f : kKnobFields) {
        if (f.isBool)
            out += std::string("knob ") + f.name + (s.knobs.*f.flag ? " on\n" : " off\n");
        else if (f.count == &Knobs::entries && s.knobs.entries == 0xFFFFFFFFu)
            out += std::string("knob ") + f.name + " all\n";
        else
            out += std::string("knob ") + f.name + " " + std::to_string(s.knobs.*f.count) + "\n";
    }
    return out;
}

void ParseState(const std::string& text, CameraState* s)
{
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > 4096)
            continue;
        std::vector<std::string> f = Fields(line);
        if (f.empty())
            continue;
        const std::string& key = f[0];
        uint64_t a = 0, b = 0;
        uint32_t x = 0, y = 0, z = 0;
        std::string raw;
        if (key == "order" && f.size() == 2) {
            if (f[1] == "KVCK" || f[1] == "KCVK")
                s->order = f[1] == "KVCK" ? ByteOrder::KVCK : ByteOrder::KCVK;
        } else if (key == "plug" && f.size() == 2) {
            if (f[1] == "none" || f[1] == "1394" || f[1] == "usb")
                s->plug = f[1] == "none" ? Plug::None : f[1] == "1394" ? Plug::Bus1394 : Plug::Usb;
        } else if (key == "reg" && f.size() == 3) {
            if (Number(f[1], &a) && a <= 0xFFFFFFFFFFFFull && (a & 3) == 0 && Number32(f[2], &x) &&
                s->regs.size() < 1024)
                s->regs[a] = x;
        } else if (key == "name" && f.size() == 2) {
            Bytes(f[1], &s->name);
        } else if (key == "lookup" && f.size() == 4) {
            if (Number32(f[1], &x) && x <= 1 && Number32(f[2], &y) && Number32(f[3], &z) &&
                z <= uint32_t(Found::Card)) {
                s->lookupPending = x == 1;
                s->lookupBusyLeft = y;
                s->found = Found(z);
            }
        } else if (key == "found") {
            if (f.size() == 1)
                s->foundPath.clear();
            else if (f.size() == 2 && Unhex(f[1], 1024, &raw))
                s->foundPath = raw;
        } else if (key == "command" && f.size() == 4) {
            if (Number32(f[1], &x) && Number32(f[2], &y) && Number32(f[3], &z)) {
                s->commandBusyLeft = x;
                s->commandFinal = y;
                s->engineBusyLeft = z;
            }
        } else if (key == "clock" && f.size() == 2) {
            if (Number(f[1], &a))
                s->clockOffset = int64_t(a);
        } else if (key == "console") {
            if (f.size() == 1)
                s->consoleQueue.clear();
            else if (f.size() == 2 && Unhex(f[1], kConsoleQueueMax, &raw))
                s->consoleQueue = raw;
        } else if (key == "console-out" && f.size() == 2) {
            Bytes(f[1], &s->consoleOut);
        } else if (key == "console-in" && f.size() == 3) {
            if (Number32(f[2], &x) && x <= kConsoleSize && Bytes(f[1], &s->consoleIn))
                s->consoleInEnd = x;
        } else if (key == "usb" && f.size() == 8) {
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
        } else if (key == "file" && f.size() == 3) {
            if (Number32(f[1], &x) && Unhex(f[2], 1024, &raw) && !raw.empty() && s->fileFlags.size() < 4096)
                s->fileFlags[raw] = x & (kFileLock | kFileMark | kFileWhole | kFileNoGrow);
        } else if (key == "mem" && f.size() == 3) {
            // An older state file kept scratch memory here; it moves to its own file.
            std::array<uint8_t, 16> block{};
            if (Number(f[1], &a) && a <= 0xFFFFFFFFFFF0ull && (a & 15) == 0 && Bytes(f[2], &block) &&
                s->scratch.size() < kScratchBlocksMax) {
                s->scratch[a] = block;
                s->scratchChanged = true;
            }
        } else if (key == "knob" && f.size() == 3) {
            SetKnobValue(&s->knobs, f[1], f[2]);
        }
    }
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
        const std::string text = ReadSmallFile(fd, 4u << 20);
        close(fd);
        ParseState(text, &m_State);
    }
    fd = OpenFile("scratch", O_RDONLY);
    if (fd >= 0) {
        const std::string bytes = ReadSmallFile(fd, kScratchBlocksMax * kScratchRecord);
        close(fd);
        ParseScratch(bytes, &m_State.scratch);
    }
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
        ok = WriteFileAt(m_Dir, "scratch", ScratchBytes(m_State.scratch));
    }
    if (m_Dirty) {
        m_Dirty = false;
        ok = WriteFileAt(m_Dir, "state", SerializeState(m_State)) && ok;
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
