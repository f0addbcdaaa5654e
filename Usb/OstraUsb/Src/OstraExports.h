#pragma once
// The library's exports by name with the ordinals they carry.
#include <cstdint>

namespace ostra {

struct ExportOrdinal {
    const char* name;
    uint16_t ordinal;
};

constexpr unsigned kExportCount = 38;
extern const ExportOrdinal kExportOrdinals[kExportCount];

}  // namespace ostra
