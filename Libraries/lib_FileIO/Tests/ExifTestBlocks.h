#pragma once
// Small EXIF blocks for tests: a TIFF header, one directory of the given entries, and their data, in either
// byte order; and a look-up of the entries of a written block.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "KExifReader.h"

namespace exiftest {

struct Entry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    std::vector<uint8_t> value;  // the value's bytes, already in the block's byte order
    bool rawField = false;       // value holds the 4 field bytes exactly (an offset of the caller's choosing)
};

class Encoder {
public:
    explicit Encoder(bool bigEndian) : m_Big(bigEndian) {}
    std::vector<uint8_t> U16(uint16_t v) const
    {
        return m_Big ? std::vector<uint8_t>{uint8_t(v >> 8), uint8_t(v)} : std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8)};
    }
    std::vector<uint8_t> U32(uint32_t v) const
    {
        std::vector<uint8_t> out(4);
        for (int i = 0; i < 4; ++i)
            out[i] = uint8_t(v >> (m_Big ? 24 - 8 * i : 8 * i));
        return out;
    }
    std::vector<uint8_t> Rational(int32_t n, int32_t d) const
    {
        auto a = U32(uint32_t(n));
        auto b = U32(uint32_t(d));
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }
    static std::vector<uint8_t> Text(const std::string& s) { return std::vector<uint8_t>(s.c_str(), s.c_str() + s.size() + 1); }

    Entry Short(uint16_t tag, uint16_t v) const { return {tag, 3, 1, U16(v)}; }
    Entry Long(uint16_t tag, uint32_t v) const { return {tag, 4, 1, U32(v)}; }
    Entry Rat(uint16_t tag, int32_t n, int32_t d) const { return {tag, 5, 1, Rational(n, d)}; }
    Entry SRat(uint16_t tag, int32_t n, int32_t d) const { return {tag, 10, 1, Rational(n, d)}; }
    Entry Ascii(uint16_t tag, const std::string& s) const { return {tag, 2, uint32_t(s.size() + 1), Text(s)}; }
    // An entry whose value field holds `field` as it stands (a pointer or an offset).
    Entry Field(uint16_t tag, uint16_t type, uint32_t count, uint32_t field) const
    {
        return {tag, type, count, U32(field), true};
    }

    // Header ("II"/"MM", 42, 8), the directory at 8 with the entries, next offset 0, then the long values.
    std::vector<uint8_t> Block(const std::vector<Entry>& entries) const
    {
        std::vector<uint8_t> b;
        auto put = [&b](const std::vector<uint8_t>& v) { b.insert(b.end(), v.begin(), v.end()); };
        b.push_back(m_Big ? 'M' : 'I');
        b.push_back(m_Big ? 'M' : 'I');
        put(U16(42));
        put(U32(8));
        put(U16(uint16_t(entries.size())));
        size_t data = 8 + 2 + 12 * entries.size() + 4;
        std::vector<uint8_t> tail;
        for (const Entry& e : entries) {
            put(U16(e.tag));
            put(U16(e.type));
            put(U32(e.count));
            if (e.rawField || e.value.size() <= 4) {
                std::vector<uint8_t> field = e.value;
                field.resize(4, 0);
                put(field);
            } else {
                put(U32(uint32_t(data + tail.size())));
                tail.insert(tail.end(), e.value.begin(), e.value.end());
            }
        }
        put(U32(0));
        put(tail);
        return b;
    }
    std::vector<uint8_t> Segment(const std::vector<Entry>& entries) const
    {
        std::vector<uint8_t> s = {'E', 'x', 'i', 'f', 0, 0};
        auto b = Block(entries);
        s.insert(s.end(), b.begin(), b.end());
        return s;
    }

private:
    bool m_Big;
};

// An entry of a written (little-endian) directory: position of the entry within the bytes given.
struct Found {
    bool found = false;
    uint16_t type = 0;
    uint32_t count = 0;
    size_t at = 0;  // position of the entry
};

inline Found FindEntry(const std::vector<uint8_t>& bytes, size_t dir, uint16_t tag)
{
    Found f;
    uint16_t n = ReadExifShort(&bytes.at(dir), false);
    for (uint16_t i = 0; i < n; ++i) {
        size_t at = dir + 2 + 12 * i;
        if (ReadExifShort(&bytes.at(at), false) == tag) {
            f.found = true;
            f.type = ReadExifShort(&bytes.at(at + 2), false);
            f.count = ReadExifLong(&bytes.at(at + 4), false);
            f.at = at;
            return f;
        }
    }
    return f;
}

}  // namespace exiftest
