#include "KzrImageEncoder.h"

#include <algorithm>
#include <stdexcept>

#include "KPixmapExceptions.h"
#include "KPixelTypes.h"
#include "KQrlbImageReader.h"
#include "KzrBitWriter.h"
#include "KzrHuffmanBuilder.h"

namespace kzrsynth {

using namespace KQrlb;

int PixmapTypeOfFormat(uint32_t format)
{
    try {
        return MapQrlbPixelFormatToKPixmapType(format);
    } catch (const KExceptionUnknownPixelType&) {
        return -1;
    }
}

uint32_t NaturalRowSize(uint32_t format, int width)
{
    const uint32_t w = static_cast<uint32_t>(width);
    switch (format) {
    case kFormatHuffman10:
    case kFormatHuffman8:
        return 0;
    case kFormat30:
    case kFormat30x10:
    case kFormatDelta10:
        return 4 * w;
    case kFormat24:
        return 3 * w;
    case kFormatPacked12:
        return static_cast<uint32_t>((w + kPacked12GroupPixels - 1) / kPacked12GroupPixels * kPacked12GroupBytes);
    default:
        return 6 * w;
    }
}

std::vector<int16_t> DefaultDeltaTable()
{
    std::vector<int16_t> table(kDeltaTableEntries);
    for (int code = 0; code < 1024; ++code) {
        const int v = code - 512;
        const int a = std::abs(v);
        const int magnitude = a <= 256 ? a : 256 + (a - 256) * (a - 256) * 122 / 250;
        table[size_t(code)] = static_cast<int16_t>(v < 0 ? -magnitude : magnitude);
    }
    return table;
}

namespace {

void Put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t Word30RGB(int32_t r, int32_t g, int32_t b)
{
    return (uint32_t(r) & 0x7FFu) | ((uint32_t(g) & 0x7FFu) << 11) | (((uint32_t(b) >> 1) & 0x3FFu) << 22);
}

// Picks, for every sample, the table code whose delta brings the channel's running sum (0 at the start of
// each row) nearest to the sample's target; returns the codes and the sums reached.
void DeltaCodes(const Plane& p, const std::vector<int16_t>& table, std::vector<uint16_t>& codes,
                std::vector<int32_t>& sums)
{
    std::vector<std::pair<int32_t, uint16_t>> sorted;
    for (size_t code = 0; code < table.size(); ++code)
        sorted.emplace_back(table[code], static_cast<uint16_t>(code));
    std::sort(sorted.begin(), sorted.end());
    if (sorted.empty())
        throw std::invalid_argument("empty delta table");
    // Most wanted deltas are small: an exact entry among them is found without a search.
    constexpr int kExactRange = 1024;
    std::vector<int32_t> exact(2 * kExactRange + 1, -1);
    for (size_t code = table.size(); code-- > 0;)
        if (table[code] >= -kExactRange && table[code] <= kExactRange)
            exact[size_t(table[code] + kExactRange)] = static_cast<int32_t>(code);
    codes.resize(p.samples.size());
    sums.resize(p.samples.size());
    for (int y = 0; y < p.height; ++y) {
        int32_t sum[3] = {0, 0, 0};
        const size_t first = size_t(y) * size_t(p.width) * 3;
        for (size_t i = first; i < first + size_t(p.width) * 3; ++i) {
            int32_t& s = sum[(i - first) % 3];
            const int64_t want = int64_t(p.samples[i]) - s;
            if (want >= -kExactRange && want <= kExactRange && exact[size_t(want + kExactRange)] >= 0) {
                codes[i] = static_cast<uint16_t>(exact[size_t(want + kExactRange)]);
                s += static_cast<int32_t>(want);
                sums[i] = s;
                continue;
            }
            auto it = std::lower_bound(sorted.begin(), sorted.end(), std::make_pair(int32_t(std::clamp<int64_t>(
                                                                                        want, INT32_MIN, INT32_MAX)),
                                                                                    uint16_t(0)));
            auto best = it == sorted.end() ? sorted.end() - 1 : it;
            if (it != sorted.begin()) {
                auto before = it - 1;
                if (it == sorted.end() || want - before->first <= int64_t(it->first) - want)
                    best = before;
            }
            s += best->first;
            codes[i] = best->second;
            sums[i] = s;
        }
    }
}

// Packs eight 12-bit samples into three words, the first sample in the top bits of the first word.
void PackTwelve(const uint32_t samples[8], std::vector<uint8_t>& out)
{
    std::vector<uint8_t> bytes;
    BitWriter bits(bytes);
    for (int i = 0; i < 8; ++i)
        bits.Put(samples[i] & 0xFFFu, 12);
    for (int w = 0; w < 3; ++w)
        Put32(out, (uint32_t(bytes[4 * w]) << 24) | (uint32_t(bytes[4 * w + 1]) << 16) |
                       (uint32_t(bytes[4 * w + 2]) << 8) | bytes[4 * w + 3]);
}

void EncodeFixedRow(const ImageLayout& layout, int y, const std::vector<uint16_t>& codes, const std::vector<int32_t>& sums,
                    std::vector<uint8_t>& row, uint8_t* expectedRow)
{
    const Plane& p = layout.plane;
    const int32_t* s = p.Row(y);
    const size_t rowFirst = size_t(y) * size_t(p.width) * 3;
    switch (layout.format) {
    case kFormat30:
        for (int x = 0; x < p.width; ++x) {
            const uint32_t w = Word30RGB(s[3 * x], s[3 * x + 1], s[3 * x + 2]);
            Put32(row, w);
            WriteLE32(expectedRow + size_t(x) * 4, w);
        }
        break;
    case kFormat30x10:
        for (int x = 0; x < p.width; ++x)
            Put32(row, ((uint32_t(s[3 * x]) & 0x3FFu) << 20) | ((uint32_t(s[3 * x + 1]) & 0x3FFu) << 10) |
                           (uint32_t(s[3 * x + 2]) & 0x3FFu));
        break;
    case kFormat24:
        for (int i = 0; i < 3 * p.width; ++i) {
            row.push_back(static_cast<uint8_t>(s[i]));
            expectedRow[i] = static_cast<uint8_t>(s[i]);
        }
        break;
    case kFormatPacked12: {
        const int decoded = p.width / 8 * 8;
        for (int g = 0; g < (p.width + 7) / 8; ++g)
            for (int part = 0; part < 3; ++part) {
                uint32_t eight[8];
                for (int i = 0; i < 8; ++i) {
                    const int j = part * 8 + i;  // sample j of the group's 24
                    const int x = g * 8 + j / 3;
                    eight[i] = x < p.width ? uint32_t(s[3 * x + j % 3]) : 0;
                }
                PackTwelve(eight, row);
            }
        for (int i = 0; i < 3 * p.width; ++i)
            WriteLE16(expectedRow + size_t(i) * 2, i < 3 * decoded ? static_cast<uint16_t>(s[i] & 0xFFF) : 0);
        break;
    }
    case kFormatDelta10:
        for (int x = 0; x < p.width; ++x) {
            const uint16_t* c = codes.data() + rowFirst + size_t(x) * 3;
            Put32(row, (uint32_t(c[0]) << 20) | (uint32_t(c[1]) << 10) | c[2]);
        }
        for (int i = 0; i < 3 * p.width; ++i)
            WriteLE16(expectedRow + size_t(i) * 2, static_cast<uint16_t>(sums[rowFirst + size_t(i)]));
        break;
    default:  // format 0, and the unknown formats laid out like it
        for (int i = 0; i < 3 * p.width; ++i) {
            Put16(row, static_cast<uint16_t>(s[i]));
            WriteLE16(expectedRow + size_t(i) * 2, static_cast<uint16_t>(s[i]));
        }
        break;
    }
}

void EncodeFixed(const ImageLayout& layout, EncodedImage& enc)
{
    const Plane& p = layout.plane;
    const uint32_t natural = NaturalRowSize(layout.format, p.width);
    enc.rowSize = layout.rowSize ? layout.rowSize : natural;
    if (enc.rowSize < natural)
        enc.decodable = false;
    std::vector<uint16_t> codes;
    std::vector<int32_t> sums;
    if (layout.format == kFormatDelta10) {
        const std::vector<int16_t> table = layout.deltaTable.empty() ? DefaultDeltaTable() : layout.deltaTable;
        for (size_t i = 0; i < kDeltaTableEntries; ++i)
            Put16(enc.data, static_cast<uint16_t>(i < table.size() ? table[i] : 0));
        DeltaCodes(p, std::vector<int16_t>(table.begin(), table.begin() + std::min(table.size(), kDeltaTableEntries)),
                   codes, sums);
    }
    const size_t bpp = size_t(KPixelTypeBytes(enc.expected.pixmapType));
    enc.data.reserve(enc.data.size() + size_t(enc.rowSize) * size_t(p.height));
    std::vector<uint8_t> row;
    for (int y = 0; y < p.height; ++y) {
        row.clear();
        EncodeFixedRow(layout, y, codes, sums, row, enc.expected.pixels.data() + size_t(y) * size_t(p.width) * bpp);
        row.resize(enc.rowSize, 0);
        enc.data.insert(enc.data.end(), row.begin(), row.end());
    }
}

// Formats 6 and 11: [delta table,] code table, rows of Huffman-coded symbols padded to 4 bytes, row offsets.
void EncodeHuffman(const ImageLayout& layout, EncodedImage& enc)
{
    const Plane& p = layout.plane;
    const bool ten = layout.format == kFormatHuffman10;
    const size_t n = size_t(1) << (ten ? kHuffmanBits10 : kHuffmanBits8);
    const size_t samples = p.samples.size();
    std::vector<uint16_t> symbols(samples);
    if (ten) {
        const std::vector<int16_t> table = layout.deltaTable.empty() ? DefaultDeltaTable() : layout.deltaTable;
        for (size_t i = 0; i < kDeltaTableEntries; ++i)
            Put16(enc.data, static_cast<uint16_t>(i < table.size() ? table[i] : 0));
        std::vector<int32_t> sums;
        DeltaCodes(p, std::vector<int16_t>(table.begin(), table.begin() + std::min(table.size(), kDeltaTableEntries)),
                   symbols, sums);
        for (size_t i = 0; i < samples; ++i)
            WriteLE16(enc.expected.pixels.data() + i * 2, static_cast<uint16_t>(sums[i]));
    } else {
        for (int y = 0; y < p.height; ++y) {
            uint32_t sum[3] = {0, 0, 0};
            const size_t first = size_t(y) * size_t(p.width) * 3;
            for (size_t i = first; i < first + size_t(p.width) * 3; ++i) {
                uint32_t& s = sum[(i - first) % 3];
                symbols[i] = static_cast<uint16_t>((uint32_t(p.samples[i]) - s) & 0xFFu);
                s += symbols[i];
                enc.expected.pixels[i] = static_cast<uint8_t>(s);
            }
        }
    }

    std::vector<uint64_t> counts(n, 0);
    for (uint16_t sym : symbols)
        ++counts[sym];
    const HuffmanCode code = CanonicalCode(HuffmanLengths(counts, layout.maxCodeLength));
    enc.longestCode = code.longest;
    for (uint32_t entry : code.TableEntries())
        Put32(enc.data, entry);

    const size_t coded = enc.data.size();
    std::vector<uint32_t> offsets;
    offsets.reserve(size_t(p.height));
    BitWriter bits(enc.data);
    for (int y = 0; y < p.height; ++y) {
        offsets.push_back(static_cast<uint32_t>(enc.data.size() - coded));
        const uint64_t before = bits.BitCount();
        const size_t first = size_t(y) * size_t(p.width) * 3;
        for (size_t i = first; i < first + size_t(p.width) * 3; ++i)
            bits.Put(code.codes[symbols[i]], code.lengths[symbols[i]]);
        enc.rowBits.push_back(bits.BitCount() - before);
        bits.PadTo(coded, 4);
    }
    for (uint32_t offset : offsets)
        Put32(enc.data, offset);
}

}  // namespace

EncodedImage EncodeImage(const ImageLayout& layout)
{
    const Plane& p = layout.plane;
    if (p.width < 0 || p.height < 0 || p.samples.size() != size_t(p.width) * size_t(p.height) * 3)
        throw std::invalid_argument("plane size does not match its samples");
    EncodedImage enc;
    const int type = PixmapTypeOfFormat(layout.format);
    enc.decodable = type > 0 && layout.format != kFormat30x10;
    enc.expected.width = p.width;
    enc.expected.height = p.height;
    enc.expected.pixmapType = type > 0 ? type : 15;
    enc.expected.imageType = layout.imageType;
    enc.expected.format = layout.format;
    enc.expected.pixels.assign(size_t(p.width) * size_t(p.height) * size_t(KPixelTypeBytes(enc.expected.pixmapType)), 0);
    if (layout.format == kFormatHuffman10 || layout.format == kFormatHuffman8)
        EncodeHuffman(layout, enc);
    else
        EncodeFixed(layout, enc);
    if (!enc.decodable)
        enc.expected.pixels.clear();
    return enc;
}

}  // namespace kzrsynth
