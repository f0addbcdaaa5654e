#pragma once
// Canonical Huffman codes built from symbol counts, limited to a longest length, in the code-table form of
// raw images: one 32-bit entry per symbol, length in bits 27-31, code in the low bits.
#include <cstdint>
#include <vector>

namespace kzrsynth {

struct HuffmanCode {
    std::vector<uint8_t> lengths;  // per symbol; 0 = no code
    std::vector<uint32_t> codes;   // per symbol, the low `length` bits
    int longest = 0;

    std::vector<uint32_t> TableEntries() const;
};

// Lengths from counts (symbols with count 0 get no code; a single used symbol gets length 1), limited to
// maxLength (raised when more symbols are used than 2^maxLength codes can hold). Deterministic.
std::vector<uint8_t> HuffmanLengths(const std::vector<uint64_t>& counts, int maxLength);
// Canonical codes: by length, then by symbol, counting up from 0.
HuffmanCode CanonicalCode(const std::vector<uint8_t>& lengths);

}  // namespace kzrsynth
