#include "KzrFileBuilder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <unistd.h>

namespace kzrsynth {

using namespace KQrlb;

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutText16(std::vector<uint8_t>& out, const std::u16string& text)
{
    for (char16_t u : text) {
        out.push_back(static_cast<uint8_t>(u));
        out.push_back(static_cast<uint8_t>(u >> 8));
    }
}

std::vector<uint8_t> PropSection(const PropLayout& p, uint32_t version)
{
    const bool old = version == kVersion10;
    std::vector<uint8_t> table, chars;
    uint32_t units = 0;
    for (const auto& [name, value] : p.pairs) {
        if (old) {
            Put32(table, units);
            Put32(table, static_cast<uint32_t>(name.size()));
            Put32(table, static_cast<uint32_t>(value.size()));
            PutText16(chars, name);
            PutText16(chars, value);
            units += static_cast<uint32_t>(name.size() + value.size());
        } else {
            Put32(table, units);
            Put32(table, units + static_cast<uint32_t>(name.size()) + 1);
            PutText16(chars, name + u'\0');
            PutText16(chars, value + u'\0');
            units += static_cast<uint32_t>(name.size() + value.size() + 2);
        }
    }
    std::vector<uint8_t> s;
    Put32(s, kTagProperties);
    Put32(s, version);
    Put32(s, static_cast<uint32_t>(p.pairs.size()));
    Put32(s, 0);  // UTF-16 characters
    Put32(s, 0);  // not encrypted
    Put32(s, units);
    s.insert(s.end(), table.begin(), table.end());
    s.insert(s.end(), chars.begin(), chars.end());
    return s;
}

std::vector<uint8_t> CamSection(const CamFileLayout& c, uint32_t version)
{
    std::vector<uint8_t> s;
    Put32(s, kTagCamFile);
    Put32(s, version);
    Put32(s, c.type);
    Put32(s, 0);
    if (c.type == kCamTypeEnciphered) {
        Put32(s, kTagEnciphered);
        Put32(s, c.encipheredVersion);
        Put32(s, c.seed);
        std::vector<uint8_t> body = c.payload;
        ApplyKeystream(body.data(), body.size(), c.seed);
        s.insert(s.end(), body.begin(), body.end());
    } else {
        s.insert(s.end(), c.payload.begin(), c.payload.end());
    }
    return s;
}

std::vector<uint8_t> ImageSection(const ImageLayout& layout, const EncodedImage& enc, uint32_t version)
{
    std::vector<uint8_t> s;
    s.reserve(kImageHeaderSize + enc.data.size());
    Put32(s, kTagImage);
    Put32(s, version);
    Put32(s, layout.imageType);
    Put32(s, layout.format);
    Put32(s, static_cast<uint32_t>(layout.plane.width));
    Put32(s, static_cast<uint32_t>(layout.plane.height));
    Put32(s, enc.rowSize);
    s.insert(s.end(), enc.data.begin(), enc.data.end());
    return s;
}

// Two independent 64-bit FNV-1a hashes of the bytes.
std::array<uint8_t, 16> ContentHash(const std::vector<uint8_t>& bytes)
{
    uint64_t a = 0xCBF29CE484222325ull, b = 0x84222325CBF29CE4ull;
    for (uint8_t v : bytes) {
        a = (a ^ v) * 0x100000001B3ull;
        b = (b ^ static_cast<uint8_t>(v + 0x5A)) * 0x100000001B3ull;
    }
    std::array<uint8_t, 16> id{};
    for (int i = 0; i < 8; ++i) {
        id[size_t(i)] = static_cast<uint8_t>(a >> (8 * i));
        id[size_t(8 + i)] = static_cast<uint8_t>(b >> (8 * i));
    }
    return id;
}

}  // namespace

const SectionInfo* BuiltFile::FindSection(uint32_t type, size_t item) const
{
    for (const SectionInfo& s : sections)
        if (s.type == type && (item == SIZE_MAX || s.item == item))
            return &s;
    return nullptr;
}

BuiltFile BuildFile(const FileLayout& layout)
{
    BuiltFile out;
    std::vector<uint8_t>& f = out.bytes;
    f.assign(kHeaderSize, 0);
    int deepest = 0;

    auto addSection = [&](uint32_t type, const std::vector<uint8_t>& body, int level, size_t item) {
        if (level < 0)
            throw std::invalid_argument("negative directory level");
        out.sections.push_back({type, f.size(), body.size(), level, item});
        f.insert(f.end(), body.begin(), body.end());
        deepest = std::max(deepest, level);
    };
    for (size_t i = 0; i < layout.props.size(); ++i) {
        const PropLayout& p = layout.props[i];
        addSection(kTypeProp, PropSection(p, p.version ? p.version : layout.version), p.dirLevel, i);
    }
    for (size_t i = 0; i < layout.cams.size(); ++i) {
        const CamFileLayout& c = layout.cams[i];
        addSection(kTypeCamf, CamSection(c, c.version ? c.version : layout.version), c.dirLevel, i);
    }
    for (size_t i = 0; i < layout.images.size(); ++i) {
        const ImageLayout& im = layout.images[i];
        out.images.push_back(EncodeImage(im));
        addSection(im.ima2 ? kTypeIma2 : kTypeImag,
                   ImageSection(im, out.images.back(), im.version ? im.version : layout.version), im.dirLevel, i);
    }

    // Directories from the top down, each but the deepest starting with a DIRP entry to the next one. A
    // nested directory lies after the one that points to it, so no prefix of the file holds a DIRP entry
    // together with the directory it names.
    const uint32_t dirVersion = layout.directoryVersion ? layout.directoryVersion : layout.version;
    std::vector<uint32_t> counts(size_t(deepest) + 1, 0);
    for (const SectionInfo& s : out.sections)
        ++counts[size_t(s.dirLevel)];
    out.directories.assign(size_t(deepest) + 1, 0);
    uint64_t at = f.size();
    for (int level = 0; level <= deepest; ++level) {
        if (level < deepest)
            ++counts[size_t(level)];
        out.directories[size_t(level)] = at;
        at += kDirHeaderSize + uint64_t(counts[size_t(level)]) * kDirEntrySize;
    }
    for (int level = 0; level <= deepest; ++level) {
        Put32(f, kTagDirectory);
        Put32(f, dirVersion);
        Put32(f, counts[size_t(level)]);
        if (level < deepest) {
            Put32(f, static_cast<uint32_t>(out.directories[size_t(level) + 1]));
            Put32(f, kDirHeaderSize + counts[size_t(level) + 1] * static_cast<uint32_t>(kDirEntrySize));
            Put32(f, kTypeDirp);
        }
        for (const SectionInfo& s : out.sections)
            if (s.dirLevel == level) {
                Put32(f, static_cast<uint32_t>(s.offset));
                Put32(f, static_cast<uint32_t>(s.length));
                Put32(f, s.type);
            }
    }
    Put32(f, static_cast<uint32_t>(out.directories[0]));
    if (f.size() > 0xFFFFFFFFull)
        throw std::invalid_argument("raw container files are limited to 4 GB");

    // The reader lists the deepest directory's sections first; its images count "IMAG" before "IMA2".
    for (uint32_t type : {kTypeImag, kTypeIma2})
        for (int level = deepest; level >= 0; --level)
            for (const SectionInfo& s : out.sections)
                if (s.type == type && s.dirLevel == level)
                    out.readerOrder.push_back(s.item);

    uint8_t* h = f.data();
    WriteLE32(h + kOffMagic, kTagMagic);
    WriteLE32(h + kOffVersion, layout.version);
    WriteLE32(h + kOffMarkBits, layout.markBits);
    uint32_t columns = layout.columns, rows = layout.rows;
    if (columns == 0 && rows == 0) {
        for (const ImageLayout& im : layout.images)
            if (im.imageType == kImageRaw || im.imageType == kImageDarkSubtracted) {
                columns = static_cast<uint32_t>(im.plane.width);
                rows = static_cast<uint32_t>(im.plane.height);
                break;
            }
        if (columns == 0 && rows == 0 && !layout.images.empty()) {
            columns = static_cast<uint32_t>(layout.images[0].plane.width);
            rows = static_cast<uint32_t>(layout.images[0].plane.height);
        }
    }
    WriteLE32(h + kOffColumns, columns);
    WriteLE32(h + kOffRows, rows);
    WriteLE32(h + kOffRotation, layout.rotation);
    if (HasWhiteBalanceField(layout.version)) {
        const size_t n = std::min(layout.whiteBalance.size(), kWhiteBalanceSize - 1);
        std::memcpy(h + kOffWhiteBalance, layout.whiteBalance.data(), n);
    }
    out.identifier = layout.identifierGiven ? layout.identifier : ContentHash(f);
    std::memcpy(f.data() + kOffIdentifier, out.identifier.data(), kIdentifierSize);
    return out;
}

void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes)
{
    const std::string temp = path + ".tmp" + std::to_string(static_cast<long>(getpid()));
    FILE* file = std::fopen(temp.c_str(), "wb");
    if (!file)
        throw std::runtime_error("cannot create " + temp + ": " + std::strerror(errno));
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool flushed = std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    const bool closed = std::fclose(file) == 0;
    if (!written || !flushed || !closed) {
        std::remove(temp.c_str());
        throw std::runtime_error("cannot write " + temp);
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(temp.c_str());
        throw std::runtime_error("cannot rename " + temp + " to " + path + ": " + reason);
    }
}

}  // namespace kzrsynth
