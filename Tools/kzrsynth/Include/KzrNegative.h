#pragma once
// Damaged files for the reader's error paths: each case either changes the description before the file is
// built or patches the bytes after. Names are those of kzrgen's --negative option.
#include <cstdint>
#include <string>
#include <vector>

#include "KzrFileBuilder.h"

namespace kzrsynth {

enum class Negative {
    None,
    BadMagic,          // "bad-magic": the first word is not "QRLb"
    BadVersion,        // "bad-version": header version 3.0
    Format2,           // "format-2": the first image is stored in data format 2
    Format7,           // "format-7": the first image has data format 7
    BadDirectoryTag,   // "bad-secd": the top directory's tag is not "SECd"
    Truncate,          // "truncate:N": only the first N bytes
    DirectoryLoop,     // "dirp-loop": a DIRP entry that points at its own directory
    DirectoryDeep,     // "dirp-deep": directories nested 40 deep
    PropUnterminated,  // "prop-unterminated": the last property value has no NUL
    PropOffset,        // "prop-offset": a property name offset beyond the character block
    ShortSection,      // "short-section": an image section shorter than its header
    SectionPastEnd,    // "section-past-end": an image section longer than the file
    RowSizeTooSmall,   // "row-size": format-4 rows too short for the groups the unpacking reads
    RowOffsets,        // "row-offsets": Huffman row offsets that go backwards
    ShortEnciphered,   // "camf-short": an enciphered calibration payload shorter than its 12-byte header
};

struct NegativeCase {
    Negative kind = Negative::None;
    uint64_t truncateAt = 0;
};

// Parses a --negative value; false for an unknown name.
bool ParseNegative(const std::string& text, NegativeCase& out);
// Every name, for help texts ("truncate:N" once).
std::vector<std::string> NegativeNames();

// Builds the layout with the damage applied. Throws std::invalid_argument when the layout lacks what the case
// needs (an image, a Huffman image).
BuiltFile BuildNegative(FileLayout layout, const NegativeCase& damage);

}  // namespace kzrsynth
