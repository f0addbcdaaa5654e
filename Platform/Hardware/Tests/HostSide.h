#pragma once
// The host's side of the camera protocol as the tests drive it: a 1394 link and a USB link over the camera's
// faces, and the mailbox operations on top (lookup, read, write, delete, console), each doing what the host
// does on the wire, so that the camera is proved against the host's expectations and not against itself.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "SimCamera.h"

namespace hosttest {

inline uint64_t Addr(uint32_t high, uint32_t low) { return (uint64_t(high) << 32) | low; }

inline uint32_t Swap32(uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

inline uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

class Link {
public:
    virtual ~Link() = default;
    virtual bool Is1394() const = 0;
    virtual bool ReadBlock(uint32_t low, uint32_t high, uint8_t* buffer, size_t length) = 0;
    virtual bool WriteBlock(uint32_t low, uint32_t high, const uint8_t* data, size_t length) = 0;
    // Reads the configuration area: the swap flag and the entries.
    virtual bool ReadConfiguration() = 0;

    bool swap = true;
    std::vector<std::array<uint32_t, 4>> entries;

    bool HasEntry(uint32_t type, uint32_t* value1 = nullptr) const
    {
        for (const auto& e : entries)
            if (e[0] == type) {
                if (value1)
                    *value1 = e[1];
                return true;
            }
        return false;
    }
};

class Link1394 : public Link {
public:
    explicit Link1394(std::unique_ptr<simcam::Camera1394> node) : m_Node(std::move(node)) {}
    bool Is1394() const override { return true; }
    bool ReadBlock(uint32_t low, uint32_t high, uint8_t* buffer, size_t length) override
    {
        return m_Node->ReadBlock(Addr(high, low), buffer, length) == simcam::BusResult::Complete;
    }
    bool WriteBlock(uint32_t low, uint32_t high, const uint8_t* data, size_t length) override
    {
        return m_Node->WriteBlock(Addr(high, low), data, length) == simcam::BusResult::Complete;
    }
    // As the driver: swap flag 1 for "KVCK" on the bus, 0 for "KCVK"; entries read quadlet by quadlet.
    bool ReadConfiguration() override
    {
        uint8_t q[4];
        if (!ReadBlock(0xF0010000, 0xFFFF, q, 4))
            return false;
        swap = true;
        if (std::memcmp(q, "KCVK", 4) == 0)
            swap = false;
        else if (std::memcmp(q, "KVCK", 4) != 0)
            return true;
        uint32_t count = 0;
        if (!Quadlet(0xF0010004, &count))
            return true;
        entries.clear();
        for (uint32_t i = 0; i < std::min<uint32_t>(count, 50); ++i) {
            std::array<uint32_t, 4> e{};
            bool ok = true;
            for (int w = 0; w < 4 && ok; ++w)
                ok = Quadlet(0xF0010010 + 16 * i + 4 * w, &e[w]);
            if (!ok)
                break;
            entries.push_back(e);
        }
        return true;
    }
    simcam::Camera1394& Node() { return *m_Node; }

private:
    bool Quadlet(uint32_t low, uint32_t* value)
    {
        uint8_t q[4];
        if (!ReadBlock(low, 0xFFFF, q, 4))
            return false;
        *value = swap ? Swap32(Le32(q)) : Le32(q);
        return true;
    }

    std::unique_ptr<simcam::Camera1394> m_Node;
};

class LinkUsb : public Link {
public:
    explicit LinkUsb(std::unique_ptr<simcam::CameraUsb> device) : m_Dev(std::move(device)) {}
    bool Is1394() const override { return false; }

    uint32_t lastError = 0;
    int stallsCleared = 0;
    int preambles = 0;

    bool Address(uint8_t request, uint32_t low, uint32_t high)
    {
        uint8_t a[6] = {uint8_t(high), uint8_t(high >> 8), uint8_t(low >> 16), uint8_t(low >> 24), uint8_t(low),
                        uint8_t(low >> 8)};
        uint32_t done = 0;
        return Ok(m_Dev->ControlTransfer(0x40, request, 0, 0, true, a, 6, &done));
    }
    bool Length(uint8_t request, uint32_t length)
    {
        uint32_t done = 0;
        return Ok(m_Dev->ControlTransfer(0x40, request, uint16_t(length >> 16), uint16_t(length), true, nullptr, 0,
                                         &done));
    }
    bool ReadInteger(uint32_t low, uint32_t high, uint8_t out[4])
    {
        uint32_t done = 0;
        return Address(0, low, high) && Ok(m_Dev->ControlTransfer(0x40, 8, 0, 4, false, out, 4, &done));
    }
    // One bulk transfer, clearing stalls as the link does (at most 20 times).
    bool Bulk(uint32_t pipe, uint8_t* data, uint32_t length, uint32_t* done)
    {
        for (int tries = 0; tries <= 20; ++tries) {
            uint32_t r = m_Dev->BulkTransfer(pipe, data, length, done);
            if (r == simcam::kUsbOk)
                return true;
            lastError = r;
            if (r != simcam::kUsbStall || m_Dev->ClearStall(pipe) != simcam::kUsbOk)
                return false;
            ++stallsCleared;
        }
        return false;
    }

    bool ReadBlock(uint32_t low, uint32_t high, uint8_t* buffer, size_t length) override
    {
        size_t at = 0;
        while (at < length) {
            const size_t n = length - at;
            const bool window = high > 0x1009 || (high == 0x1009 && low >= 0x10000000);
            size_t chunk = std::min<size_t>(n, 16);
            if (window)
                chunk = n >= 16384 ? 16384 : n >= 4096 ? 4096 : n >= 1024 ? 1024 : n >= 129 ? 128 : chunk;
            bool ok = false;
            for (int attempt = 0; attempt < 6 && !ok; ++attempt) {
                if (!Address(0, low, high) || !Length(4, uint32_t(chunk)))
                    continue;
                std::vector<uint8_t> reply(chunk);
                uint32_t got = 0;
                if (!Bulk(1, reply.data(), uint32_t(chunk), &got))
                    continue;
                if (got == 3 && std::memcmp(reply.data(), "VI!", 3) == 0) {
                    ++preambles;
                    if (!Bulk(1, reply.data(), uint32_t(chunk), &got))
                        continue;
                }
                if (got == 4 && low < 0x10000000)
                    std::reverse(reply.begin(), reply.begin() + 4);
                if (got % 4 != 0 || got > chunk)
                    return false;
                std::memcpy(buffer + at, reply.data(), got);
                chunk = got;
                ok = true;
            }
            if (!ok)
                return false;
            const uint64_t next = Addr(high, low) + chunk;
            high = uint32_t(next >> 32);
            low = uint32_t(next);
            at += chunk;
        }
        return true;
    }

    bool WriteBlock(uint32_t low, uint32_t high, const uint8_t* data, size_t length) override
    {
        size_t at = 0;
        while (at < length) {
            const size_t chunk = std::min<size_t>(length - at, 16);
            uint8_t buf[16];
            std::memcpy(buf, data + at, chunk);
            if (chunk == 4 && (high != 0x1009 || low < 0x10000000))
                std::reverse(buf, buf + 4);
            bool ok = false;
            for (int attempt = 0; attempt < 6 && !ok; ++attempt) {
                uint32_t done = 0;
                ok = Address(1, low, high) && Length(5, uint32_t(chunk)) && Bulk(0, buf, uint32_t(chunk), &done);
            }
            if (!ok)
                return false;
            const uint64_t next = Addr(high, low) + chunk;
            high = uint32_t(next >> 32);
            low = uint32_t(next);
            at += chunk;
        }
        return true;
    }

    bool ReadConfiguration() override
    {
        uint8_t q[4];
        if (!ReadInteger(0xF0010000, 0xFFFF, q))
            return false;
        swap = true;
        if (std::memcmp(q, "KVCK", 4) == 0)
            swap = !swap;
        else if (std::memcmp(q, "KCVK", 4) != 0)
            return true;
        if (!ReadInteger(0xF0010004, 0xFFFF, q))
            return true;
        entries.clear();
        for (uint32_t i = 0; i < std::min<uint32_t>(Le32(q), 50); ++i) {
            std::array<uint32_t, 4> e{};
            bool ok = true;
            for (int w = 0; w < 4 && ok; ++w) {
                uint8_t v[4];
                ok = ReadInteger(0xF0010010 + 16 * i + 4 * w, 0xFFFF, v);
                e[w] = Le32(v);
            }
            if (!ok)
                break;
            entries.push_back(e);
        }
        return true;
    }

    simcam::CameraUsb& Device() { return *m_Dev; }

private:
    bool Ok(uint32_t r)
    {
        if (r != simcam::kUsbOk)
            lastError = r;
        return r == simcam::kUsbOk;
    }

    std::unique_ptr<simcam::CameraUsb> m_Dev;
};

struct FileInfo {
    uint32_t status = 0, size = 0, attributes = 0, time = 0;
};

// The mailbox operations over a link.
class Mailbox {
public:
    explicit Mailbox(Link& link) : m_L(link) {}

    bool ReadQuadlet(uint32_t low, uint32_t high, uint32_t* value)
    {
        uint8_t q[4];
        if (!m_L.ReadBlock(low, high, q, 4))
            return false;
        *value = m_L.swap ? Swap32(Le32(q)) : Le32(q);
        return true;
    }
    bool WriteQuadlet(uint32_t low, uint32_t high, uint32_t value)
    {
        if (m_L.swap)
            value = Swap32(value);
        uint8_t q[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
        return m_L.WriteBlock(low, high, q, 4);
    }
    void SwapWords(uint8_t* data, size_t length)
    {
        if (m_L.Is1394())
            for (size_t i = 0; i + 4 <= length; i += 4)
                std::reverse(data + i, data + i + 4);
    }

    bool Lookup(const std::string& name, FileInfo* info)
    {
        const size_t length = (name.size() + 4) & ~size_t(3);
        if (length > 124)
            return false;
        std::vector<uint8_t> buf(length, 0);
        std::memcpy(buf.data(), name.data(), name.size());
        SwapWords(buf.data(), buf.size());
        if (!m_L.WriteBlock(0x4, 0x1009, buf.data(), buf.size()))
            return false;
        for (int tries = 0; tries < 50; ++tries) {
            uint32_t status = 0;
            if (!ReadQuadlet(0x100, 0x1009, &status))
                continue;
            if (status & 2) {
                info->status = status;
                return ReadQuadlet(0x104, 0x1009, &info->size) && ReadQuadlet(0x10C, 0x1009, &info->time) &&
                       ReadQuadlet(0x108, 0x1009, &info->attributes);
            }
            if (!(status & 1))
                return false;
        }
        return false;
    }

    bool Command(uint32_t word, uint32_t offset, uint32_t length, const uint32_t* crc)
    {
        if (!WriteQuadlet(0x010000F4, 0x1009, offset) || !WriteQuadlet(0x010000F8, 0x1009, length) ||
            (crc && !WriteQuadlet(0x010000F0, 0x1009, *crc)) || !WriteQuadlet(0x010000FC, 0x1009, word))
            return false;
        uint32_t status = 0;
        for (int tries = 0; tries < (m_L.Is1394() ? 1 : 20); ++tries) {
            if (!ReadQuadlet(0x01000100, 0x1009, &status))
                return false;
            if (status != 1)
                break;
        }
        return (status & 2) != 0;
    }

    bool ReadData(uint32_t offset, uint8_t* out, size_t length)
    {
        uint64_t address = Addr(0x1009, 0x10000000) + offset;
        size_t whole = length & ~size_t(3);
        for (size_t at = 0; at < whole;) {
            size_t chunk = std::min<size_t>(whole - at, 8192);
            if (!m_L.ReadBlock(uint32_t(address), uint32_t(address >> 32), out + at, chunk))
                return false;
            SwapWords(out + at, chunk);
            at += chunk;
            address += chunk;
        }
        if (length % 4) {
            uint8_t q[4];
            if (!m_L.ReadBlock(uint32_t(address), uint32_t(address >> 32), q, 4))
                return false;
            SwapWords(q, 4);
            std::memcpy(out + whole, q, length % 4);
        }
        return true;
    }

    bool WriteData(const uint8_t* data, size_t length)
    {
        uint64_t address = Addr(0x1009, 0x10000000);
        size_t whole = length & ~size_t(3);
        std::vector<uint8_t> buf;
        for (size_t at = 0; at < whole;) {
            size_t chunk = std::min<size_t>(whole - at, 8192);
            buf.assign(data + at, data + at + chunk);
            SwapWords(buf.data(), chunk);
            if (!m_L.WriteBlock(uint32_t(address), uint32_t(address >> 32), buf.data(), chunk))
                return false;
            at += chunk;
            address += chunk;
        }
        if (length % 4) {
            uint8_t q[4];
            if (!m_L.ReadBlock(uint32_t(address), uint32_t(address >> 32), q, 4))
                return false;
            SwapWords(q, 4);
            std::memcpy(q, data + whole, length % 4);
            SwapWords(q, 4);
            if (!m_L.WriteBlock(uint32_t(address), uint32_t(address >> 32), q, 4))
                return false;
        }
        return true;
    }

    bool CheckCrc(const uint8_t* data, size_t length)
    {
        uint32_t level = 0;
        if (!m_L.HasEntry(0x40000, &level) || level < 0x10001)
            return true;
        uint32_t check = 0;
        return ReadQuadlet(0x010000F0, 0x1009, &check) &&
               (check & 0xFFFF) == simcam::Crc16(data, length);
    }

    bool ReadFile(const std::string& name, uint32_t offset, uint8_t* out, uint32_t count, uint32_t* got)
    {
        *got = 0;
        FileInfo info;
        if (!Lookup(name, &info) || !(info.status & 8) || offset >= info.size)
            return false;
        const uint32_t n = std::min(count, info.size - offset);
        if (n == 0)
            return false;
        const bool whole = info.status & 0x80;
        const uint32_t start = whole ? 0 : offset, length = whole ? info.size : n;
        bool ok = WriteQuadlet(0, 0x1009, (length + 3) & ~3u) && Command(0xF11E0EAD, start, length, nullptr) &&
                  ReadData(whole ? offset : 0, out, n) && CheckCrc(out, n);
        ok = WriteQuadlet(0, 0x1009, 0) && ok;
        if (ok)
            *got = n;
        return ok;
    }

    bool WriteFile(const std::string& name, uint32_t offset, const uint8_t* data, uint32_t count)
    {
        FileInfo info;
        if (!Lookup(name, &info) || !(info.status & 0x10))
            return false;
        if (count == 0)
            return true;
        const uint32_t end = offset + count;
        uint32_t newSize = info.size;
        if (end > info.size) {
            if (!(info.status & 0x40))
                return false;
            newSize = end;
        }
        const bool whole = info.status & 0x80;
        std::vector<uint8_t> send(data, data + count);
        if (whole && (count < info.size || newSize > info.size)) {
            std::vector<uint8_t> old(info.size);
            uint32_t got = 0;
            if (info.size > 0 && !ReadFile(name, 0, old.data(), info.size, &got))
                return false;
            send.assign(newSize, 0);
            std::copy(old.begin(), old.end(), send.begin());
            std::copy(data, data + count, send.begin() + offset);
        }
        const uint32_t length = uint32_t(send.size());
        const uint32_t crc = simcam::Crc16(send.data(), send.size());
        bool ok = WriteQuadlet(0, 0x1009, (length + 3) & ~3u) && WriteData(send.data(), send.size()) &&
                  Command(0xF11EFEED, whole ? 0 : offset, length, &crc);
        return WriteQuadlet(0, 0x1009, 0) && ok;
    }

    bool DeleteFile(const std::string& name)
    {
        FileInfo info;
        if (!Lookup(name, &info) || !(info.status & 0x20))
            return false;
        const uint32_t zero = 0;
        return Command(0xF11EDE1E, 0, info.size, &zero);
    }

    bool WriteConsole(const std::string& text)
    {
        for (size_t at = 0; at < text.size();) {
            size_t piece = std::min<size_t>(text.size() - at, 127);
            std::vector<uint8_t> block((piece + 4) & ~size_t(3), 0);
            block[0] = uint8_t(piece);
            std::memcpy(block.data() + 1, text.data() + at, piece);
            if (m_L.swap)
                for (size_t i = 0; i + 4 <= block.size(); i += 4)
                    std::reverse(block.begin() + ptrdiff_t(i), block.begin() + ptrdiff_t(i + 4));
            if (!m_L.WriteBlock(0x80, 0x1007, block.data(), block.size()))
                return false;
            at += piece;
        }
        return true;
    }

    bool ReadConsole(std::string* text, size_t capacity = 128)
    {
        std::vector<uint8_t> block(std::min<size_t>(capacity & ~size_t(3), 128));
        if (!m_L.ReadBlock(0x80, 0x1007, block.data(), block.size()))
            return false;
        if (m_L.swap)
            for (size_t i = 0; i + 4 <= block.size(); i += 4)
                std::reverse(block.begin() + ptrdiff_t(i), block.begin() + ptrdiff_t(i + 4));
        const size_t n = std::min<size_t>(block[0], block.size() - 1);
        text->assign(reinterpret_cast<const char*>(block.data() + 1), n);
        return true;
    }

private:
    Link& m_L;
};

}  // namespace hosttest
