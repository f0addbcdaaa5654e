// The listing text a camera answers for a pattern: any bytes. Only whole entries come out: each one a line of
// the text that ends in "\n", with a bare name and numbers that the line holds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "KSCCamera.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<KCameraListingEntry> entries;
    ParseCameraListing(text.data(), text.size(), entries);
    size_t lines = 0;
    for (char c : text)
        lines += c == '\n';
    if (entries.size() > lines)
        std::abort();
    size_t from = 0;
    for (const KCameraListingEntry& e : entries) {
        if (e.name.empty() || e.name == "." || e.name == ".." || e.name.find_first_of(std::string("/\n\t\0", 4)) !=
                                                                       std::string::npos)
            std::abort();
        // Entries come in the order of their lines, each line finished.
        const size_t at = text.find(e.name + "\t", from);
        if (at == std::string::npos || text.find('\n', at) == std::string::npos)
            std::abort();
        from = text.find('\n', at) + 1;
    }
    return 0;
}
