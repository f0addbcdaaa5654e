#pragma once
// Builds a complete raw container file in memory from a description: header, property lists, calibration
// sections, images, and a directory (optionally with nested directories), and keeps what a reader must find
// in it: where each section lies and the exact decode of every image in the reader's order.
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "KQrlbFormat.h"
#include "KzrImageEncoder.h"

namespace kzrsynth {

using PropPairs = std::vector<std::pair<std::u16string, std::u16string>>;

struct PropLayout {
    uint32_t version = 0;  // 0 = the file's version; the "1.0" word gives the 12-byte entry layout
    PropPairs pairs;
    int dirLevel = 0;
};

struct CamFileLayout {
    uint32_t type = KQrlb::kCamTypeBlock;
    std::vector<uint8_t> payload;  // the plain bytes; a type-2 section stores them enciphered with the seed
    uint32_t seed = 0x5EEDu;
    uint32_t version = 0;          // 0 = the file's version
    uint32_t encipheredVersion = KQrlb::kEncipheredVersion;
    int dirLevel = 0;
};

struct FileLayout {
    uint32_t version = KQrlb::kVersion22;
    uint32_t directoryVersion = 0;     // 0 = the file's version
    bool identifierGiven = false;      // else the identifier is a hash of everything else in the file
    std::array<uint8_t, 16> identifier{};
    uint32_t markBits = 0;
    uint32_t columns = 0;              // 0 = the size of the first raw or dark-subtracted image
    uint32_t rows = 0;
    uint32_t rotation = 0;
    std::string whiteBalance;          // written only when the version has the field (after 2.0)
    std::vector<PropLayout> props;
    std::vector<CamFileLayout> cams;
    std::vector<ImageLayout> images;
};

struct SectionInfo {
    uint32_t type = 0;     // four-character code of the directory entry
    uint64_t offset = 0;
    uint64_t length = 0;
    int dirLevel = 0;
    size_t item = 0;       // index into the layout's props, cams or images
};

struct BuiltFile {
    std::vector<uint8_t> bytes;
    std::vector<SectionInfo> sections;  // in file order
    std::vector<uint64_t> directories;  // offset of the directory of each level, 0 = the top one
    std::vector<EncodedImage> images;   // in the layout's order
    std::vector<size_t> readerOrder;    // the reader's image index -> index into images
    std::array<uint8_t, 16> identifier{};

    // The image the reader delivers at an index, or null.
    const EncodedImage* ReaderImage(size_t readerIndex) const
    {
        return readerIndex < readerOrder.size() ? &images[readerOrder[readerIndex]] : nullptr;
    }
    // First section of a type (and item, when given), or null.
    const SectionInfo* FindSection(uint32_t type, size_t item = SIZE_MAX) const;
};

BuiltFile BuildFile(const FileLayout& layout);

// Writes bytes to a path through a temporary file beside it, renamed into place once complete. Throws
// std::runtime_error naming the path when anything fails; the target is then untouched.
void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace kzrsynth
