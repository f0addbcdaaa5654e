#include "KzrCalibrationBuilder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

constexpr uint32_t FourCC(const char (&s)[5])
{
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

constexpr uint32_t kFileMagic = FourCC("KCMb");
constexpr uint32_t kSectionMagic = FourCC("CMbH");
constexpr uint32_t kPropType = FourCC("CMbP");
constexpr uint32_t kMatrixType = FourCC("CMbM");
constexpr uint32_t kFileVersion = 0x00020000;
constexpr uint32_t kSectionVersion = 0x00010000;
constexpr uint32_t kPropVersion = 0x00010000;
constexpr uint32_t kMatrixVersion = 0x00020000;
constexpr size_t kHeaderSize = 20;

size_t Align(size_t v, size_t a)
{
    return (v + a - 1) / a * a;
}

size_t ElementSize(uint32_t type)
{
    switch (type) {
    case KzrCalibrationBuilder::Int16:
    case KzrCalibrationBuilder::UInt16:
        return 2;
    case KzrCalibrationBuilder::Int64:
        return 8;
    case KzrCalibrationBuilder::Byte:
        return 1;
    default:
        return 4;
    }
}

// Writes units of 1, 2, 4 or 8 bytes into a buffer in one byte order.
class Writer {
public:
    Writer(std::vector<uint8_t>& out, KzrByteOrder order) : m_Out(out), m_Big(order == KzrByteOrder::Big) {}

    void Unit(size_t at, const void* value, size_t n)
    {
        if (m_Out.size() < at + n)
            m_Out.resize(at + n);
        const uint8_t* v = static_cast<const uint8_t*>(value);
        for (size_t i = 0; i < n; ++i)
            m_Out[at + i] = m_Big ? v[n - 1 - i] : v[i];
    }
    void Word(size_t at, uint32_t w) { Unit(at, &w, 4); }
    void Text(size_t at, const std::string& s)
    {
        if (m_Out.size() < at + s.size() + 1)
            m_Out.resize(at + s.size() + 1);
        std::memcpy(m_Out.data() + at, s.c_str(), s.size() + 1);
    }
    void PadTo(size_t size)
    {
        if (m_Out.size() < size)
            m_Out.resize(size);
    }

private:
    std::vector<uint8_t>& m_Out;
    bool m_Big;
};

}  // namespace

void KzrCalibrationBuilder::NewSection()
{
    ++m_Section;
}

void KzrCalibrationBuilder::AddMatrix(const std::string& name, uint32_t type, const std::vector<uint32_t>& dims,
                                      const void* values, size_t count)
{
    Block b;
    b.type = kMatrixType;
    b.name = name;
    b.elementType = type;
    b.dims = dims;
    const size_t bytes = count * ElementSize(type);
    b.elements.resize(bytes);
    if (bytes)
        std::memcpy(b.elements.data(), values, bytes);
    b.section = m_Section;
    m_Blocks.push_back(std::move(b));
}

void KzrCalibrationBuilder::AddInt16(const std::string& name, const std::vector<uint32_t>& dims, const std::vector<int16_t>& v)
{
    AddMatrix(name, Int16, dims, v.data(), v.size());
}

void KzrCalibrationBuilder::AddUInt16(const std::string& name, const std::vector<uint32_t>& dims, const std::vector<uint16_t>& v)
{
    AddMatrix(name, UInt16, dims, v.data(), v.size());
}

void KzrCalibrationBuilder::AddInt32(const std::string& name, const std::vector<uint32_t>& dims, const std::vector<int32_t>& v)
{
    AddMatrix(name, Int32, dims, v.data(), v.size());
}

void KzrCalibrationBuilder::AddUInt32(const std::string& name, const std::vector<uint32_t>& dims, const std::vector<uint32_t>& v)
{
    AddMatrix(name, UInt32, dims, v.data(), v.size());
}

void KzrCalibrationBuilder::AddFloat(const std::string& name, const std::vector<uint32_t>& dims, const std::vector<float>& v)
{
    AddMatrix(name, Float, dims, v.data(), v.size());
}

void KzrCalibrationBuilder::AddInt64(const std::string& name, const std::vector<uint32_t>& dims, const std::vector<int64_t>& v)
{
    AddMatrix(name, Int64, dims, v.data(), v.size());
}

void KzrCalibrationBuilder::AddBytes(const std::string& name, const std::vector<uint32_t>& dims, const std::vector<uint8_t>& v)
{
    AddMatrix(name, Byte, dims, v.data(), v.size());
}

void KzrCalibrationBuilder::AddRect(const std::string& name, int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    AddInt32(name, {4}, {left, top, right, bottom});
}

void KzrCalibrationBuilder::AddPropertyList(const std::string& name,
                                            const std::vector<std::pair<std::string, std::string>>& pairs)
{
    Block b;
    b.type = kPropType;
    b.name = name;
    b.pairs = pairs;
    b.section = m_Section;
    m_Blocks.push_back(std::move(b));
}

void KzrCalibrationBuilder::AddOpaqueBlock(uint32_t type, const std::string& name, const std::vector<uint8_t>& data)
{
    Block b;
    b.type = type;
    b.name = name;
    b.data = data;
    b.section = m_Section;
    m_Blocks.push_back(std::move(b));
}

void KzrCalibrationBuilder::priAppendBlock(std::vector<uint8_t>& out, const Block& b, KzrByteOrder order) const
{
    Writer w(out, order);
    const size_t at = out.size();
    const size_t dataOffset = Align(kHeaderSize + b.name.size() + 1, 4);
    size_t end = 0;
    uint32_t version = kPropVersion;
    w.Text(at + kHeaderSize, b.name);
    if (b.type == kMatrixType) {
        version = kMatrixVersion;
        const size_t elementOffset = Align(dataOffset + 12 + 12 * b.dims.size(), 8);
        w.Word(at + dataOffset, b.elementType);
        w.Word(at + dataOffset + 4, static_cast<uint32_t>(b.dims.size()));
        w.Word(at + dataOffset + 8, static_cast<uint32_t>(elementOffset));
        for (size_t d = 0; d < b.dims.size(); ++d) {
            w.Word(at + dataOffset + 12 + 12 * d, b.dims[d]);
            w.Word(at + dataOffset + 16 + 12 * d, 0);
            w.Word(at + dataOffset + 20 + 12 * d, 0);
        }
        const size_t unit = ElementSize(b.elementType);
        for (size_t i = 0; i < b.elements.size(); i += unit)
            w.Unit(at + elementOffset + i, b.elements.data() + i, unit);
        end = elementOffset + b.elements.size();
    } else if (b.type == kPropType) {
        const size_t pairsOffset = dataOffset + 8;
        const size_t stringOffset = pairsOffset + 8 * b.pairs.size();
        w.Word(at + dataOffset, static_cast<uint32_t>(b.pairs.size()));
        w.Word(at + dataOffset + 4, static_cast<uint32_t>(stringOffset));
        size_t s = 0;
        for (size_t i = 0; i < b.pairs.size(); ++i) {
            w.Word(at + pairsOffset + 8 * i, static_cast<uint32_t>(s));
            w.Text(at + stringOffset + s, b.pairs[i].first);
            s += b.pairs[i].first.size() + 1;
            w.Word(at + pairsOffset + 8 * i + 4, static_cast<uint32_t>(s));
            w.Text(at + stringOffset + s, b.pairs[i].second);
            s += b.pairs[i].second.size() + 1;
        }
        end = stringOffset + s;
    } else {
        if (!b.data.empty()) {
            w.PadTo(at + dataOffset + b.data.size());
            std::memcpy(out.data() + at + dataOffset, b.data.data(), b.data.size());
        }
        end = dataOffset + b.data.size();
    }
    const size_t size = Align(std::max(end, dataOffset), 8);
    w.PadTo(at + size);
    w.Word(at, b.type);
    w.Word(at + 4, version);
    w.Word(at + 8, static_cast<uint32_t>(size));
    w.Word(at + 12, static_cast<uint32_t>(kHeaderSize));
    w.Word(at + 16, static_cast<uint32_t>(dataOffset));
}

std::vector<uint8_t> KzrCalibrationBuilder::BuildBlocks(KzrByteOrder order) const
{
    std::vector<uint8_t> out;
    for (const Block& b : m_Blocks)
        priAppendBlock(out, b, order);
    return out;
}

std::vector<uint8_t> KzrCalibrationBuilder::BuildFile(KzrByteOrder order) const
{
    std::vector<uint8_t> out;
    Writer w(out, order);
    w.Word(0, kFileMagic);
    w.Word(4, kFileVersion);
    w.Word(8, static_cast<uint32_t>(kFirstSectionOffset));
    for (size_t i = 12; i < kFirstSectionOffset; i += 4)
        w.Word(i, 0);
    // Sections start 4 bytes past a multiple of 8, so that their blocks (20 bytes on) start on one.
    for (size_t section = 0; section <= m_Section; ++section) {
        const size_t at = out.size();
        w.PadTo(at + kHeaderSize);
        for (const Block& b : m_Blocks)
            if (b.section == section)
                priAppendBlock(out, b, order);
        w.Word(at, kSectionMagic);
        w.Word(at + 4, kSectionVersion);
        w.Word(at + 8, static_cast<uint32_t>(out.size() - at));
        w.Word(at + 12, 0);
        w.Word(at + 16, static_cast<uint32_t>(kHeaderSize));
    }
    return out;
}

