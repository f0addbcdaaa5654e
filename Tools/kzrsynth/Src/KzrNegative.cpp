#include "KzrNegative.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace kzrsynth {

using namespace KQrlb;

namespace {

struct Name {
    const char* text;
    Negative kind;
};

constexpr Name kNames[] = {
    {"bad-magic", Negative::BadMagic},
    {"bad-version", Negative::BadVersion},
    {"format-2", Negative::Format2},
    {"format-7", Negative::Format7},
    {"bad-secd", Negative::BadDirectoryTag},
    {"dirp-loop", Negative::DirectoryLoop},
    {"dirp-deep", Negative::DirectoryDeep},
    {"prop-unterminated", Negative::PropUnterminated},
    {"prop-offset", Negative::PropOffset},
    {"short-section", Negative::ShortSection},
    {"section-past-end", Negative::SectionPastEnd},
    {"row-size", Negative::RowSizeTooSmall},
    {"row-offsets", Negative::RowOffsets},
    {"camf-short", Negative::ShortEnciphered},
};

// Offset of the directory entry that lists the section at `offset`, searching every directory.
uint64_t EntryOf(const BuiltFile& f, uint64_t offset)
{
    for (uint64_t dir : f.directories) {
        const uint32_t count = ReadLE32(f.bytes.data() + dir + 8);
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t e = dir + kDirHeaderSize + uint64_t(i) * kDirEntrySize;
            if (ReadLE32(f.bytes.data() + e) == offset && ReadLE32(f.bytes.data() + e + 8) != kTypeDirp)
                return e;
        }
    }
    throw std::logic_error("section not listed in any directory");
}

const SectionInfo& FirstImage(const BuiltFile& f)
{
    for (const SectionInfo& s : f.sections)
        if (s.type == kTypeImag || s.type == kTypeIma2)
            return s;
    throw std::invalid_argument("this negative case needs an image");
}

}  // namespace

bool ParseNegative(const std::string& text, NegativeCase& out)
{
    out = NegativeCase{};
    if (text == "none")
        return true;
    if (text.rfind("truncate:", 0) == 0) {
        const std::string digits = text.substr(9);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 12)
            return false;
        out.kind = Negative::Truncate;
        out.truncateAt = std::stoull(digits);
        return true;
    }
    for (const Name& n : kNames)
        if (text == n.text) {
            out.kind = n.kind;
            return true;
        }
    return false;
}

std::vector<std::string> NegativeNames()
{
    std::vector<std::string> names;
    for (const Name& n : kNames)
        names.emplace_back(n.text);
    names.emplace_back("truncate:N");
    return names;
}

BuiltFile BuildNegative(FileLayout layout, const NegativeCase& damage)
{
    // Damage that is a matter of the description.
    switch (damage.kind) {
    case Negative::Format2:
    case Negative::Format7:
    case Negative::RowSizeTooSmall:
        if (layout.images.empty())
            throw std::invalid_argument("this negative case needs an image");
        break;
    default:
        break;
    }
    switch (damage.kind) {
    case Negative::BadVersion:
        layout.version = 0x00030000u;
        break;
    case Negative::Format2:
        layout.images[0].format = kFormat30x10;
        for (int32_t& s : layout.images[0].plane.samples)
            s >>= 2;
        break;
    case Negative::Format7:
        layout.images[0].format = 7;
        break;
    case Negative::RowSizeTooSmall: {
        ImageLayout& im = layout.images[0];
        if (im.plane.width < 8)
            throw std::invalid_argument("row-size needs an image at least 8 pixels wide");
        im.format = kFormatPacked12;
        im.rowSize = static_cast<uint32_t>(im.plane.width / 8 * kPacked12GroupBytes - 4);
        break;
    }
    case Negative::DirectoryLoop:
        if (layout.images.empty())
            throw std::invalid_argument("this negative case needs an image");
        layout.images.back().dirLevel = 1;
        break;
    case Negative::DirectoryDeep:
        if (layout.images.empty())
            throw std::invalid_argument("this negative case needs an image");
        layout.images.back().dirLevel = 40;
        break;
    case Negative::PropUnterminated:
    case Negative::PropOffset:
        layout.props.insert(layout.props.begin(), PropLayout{kVersion22, {{u"OWNER", u"Ada"}, {u"NOTE", u"x"}}, 0});
        break;
    case Negative::ShortEnciphered: {
        CamFileLayout c;
        c.type = kCamTypeCameraFile;  // patched to type 2 below, with only 8 payload bytes
        c.payload = {1, 2, 3, 4, 5, 6, 7, 8};
        layout.cams.insert(layout.cams.begin(), c);
        break;
    }
    default:
        break;
    }

    BuiltFile f = BuildFile(layout);
    std::vector<uint8_t>& b = f.bytes;

    // Damage that is a matter of the bytes.
    switch (damage.kind) {
    case Negative::BadMagic:
        std::memcpy(b.data(), "XRLb", 4);
        break;
    case Negative::BadDirectoryTag:
        std::memcpy(b.data() + f.directories[0], "SECx", 4);
        break;
    case Negative::Truncate:
        b.resize(std::min<uint64_t>(damage.truncateAt, b.size()));
        break;
    case Negative::DirectoryLoop:
        // The top directory's DIRP entry (its first) points back at the top directory.
        WriteLE32(b.data() + f.directories[0] + kDirHeaderSize, static_cast<uint32_t>(f.directories[0]));
        break;
    case Negative::PropUnterminated: {
        const SectionInfo* s = f.FindSection(kTypeProp, 0);
        b[s->offset + s->length - 2] = 'X';  // the last unit of the block: the NUL of the last value
        break;
    }
    case Negative::PropOffset: {
        const SectionInfo* s = f.FindSection(kTypeProp, 0);
        const uint32_t units = ReadLE32(b.data() + s->offset + 20);
        WriteLE32(b.data() + s->offset + kPropHeaderSize, units + 5);
        break;
    }
    case Negative::ShortSection:
        WriteLE32(b.data() + EntryOf(f, FirstImage(f).offset) + 4, 20);
        break;
    case Negative::SectionPastEnd:
        WriteLE32(b.data() + EntryOf(f, FirstImage(f).offset) + 4, 0x7FFFFFF0u);
        break;
    case Negative::RowOffsets: {
        const SectionInfo* huff = nullptr;
        for (const SectionInfo& s : f.sections)
            if ((s.type == kTypeImag || s.type == kTypeIma2) &&
                (layout.images[s.item].format == kFormatHuffman8 || layout.images[s.item].format == kFormatHuffman10) &&
                layout.images[s.item].plane.height >= 2) {
                huff = &s;
                break;
            }
        if (!huff)
            throw std::invalid_argument("row-offsets needs a Huffman image of at least 2 rows");
        const uint64_t table = huff->offset + huff->length - 4 * uint64_t(layout.images[huff->item].plane.height);
        uint32_t second = ReadLE32(b.data() + table + 4);
        WriteLE32(b.data() + table, second + 4);  // row 0 now starts after row 1
        break;
    }
    case Negative::ShortEnciphered:
        WriteLE32(b.data() + f.FindSection(kTypeCamf, 0)->offset + 8, kCamTypeEnciphered);
        break;
    default:
        break;
    }
    return f;
}

}  // namespace kzrsynth
