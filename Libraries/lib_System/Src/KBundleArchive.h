#pragma once
// The layout of a bundle: a tar archive followed by a 14-byte trailer whose bytes 4-13 hold the archive's
// length in decimal digits (from the archive's first byte to the end of the host, trailer included). The bytes
// come from any file, so everything is checked: a host without a valid trailer holds no members, and the walk
// over the headers stops at the first header that does not make sense.
#include <cstdint>
#include <functional>
#include <string>

#include "KIFile.h"

namespace bundle {

constexpr KUInt32 kTrailerSize = 14;
constexpr KUInt32 kBlock = 512;

struct Archive {
    uint64_t start = 0;  // host offset of the first header (a multiple of 512)
    uint64_t end = 0;    // host offset of the trailer: headers and data lie below it
};

// Opens the host for reading; null when it cannot be opened (for any reason).
KIFile* OpenHost(const KWString& url);

// Reads the trailer of a host of hostSize bytes; false when it is missing or does not describe an archive
// that fits the host.
bool ReadTrailer(KIFile* host, uint64_t hostSize, Archive& archive);

struct Member {
    std::string name;    // 8-bit text of the header's name field
    uint64_t dataStart;  // host offset
    uint64_t size;
};

// Calls visit for each member in archive order until it returns false or the archive ends (an empty name, the
// end of the archive, or a header that is not valid).
void Walk(KIFile* host, const Archive& archive, const std::function<bool(const Member&)>& visit);

}  // namespace bundle
