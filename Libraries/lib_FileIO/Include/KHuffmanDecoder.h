#pragma once
// Decoder of the Huffman-coded rows of raw container images. Symbols are b bits wide (2..16); the code table
// gives each symbol a length (0 = no code) and a code, most significant bit first in the stream.
//
// Lookup is a two-level table: the first level is indexed by the next k = (longest length) / 2 bits and either
// names the symbol or points to a second-level table for the longer codes under that prefix, so a symbol costs
// at most two table reads. A table of up to 11 bits that memoises the two levels answers most lookups with
// one read, for up to two symbols at once. Bits come from a 64-bit buffer; bits left over at the end of a call are kept for the
// next one (the "spare bits"), at most 32 of them.
//
// One object serves one thread; it owns its tables.
#include <vector>

#include "KQrlbExceptions.h"
#include "KTypes.h"

class KHuffmanDecoder {
public:
    // bits outside 2..16 throws KExceptionHuffman "Invalid number of bits".
    explicit KHuffmanDecoder(int bits);

    // Loads lengths (entry >> 27) and codes (entry & 0x7FFFFFF, of which the low length bits count) for the
    // first min(count, 2^bits) symbols; the others get no code. Marks the table valid.
    void SetTable(const KUInt32* entries, KUInt32 count);
    // Idle state, spare bits cleared.
    void BeginDecode();
    // Decodes up to `wanted` symbols into out from data[0..size); position and produced are set to 0 first and
    // then count the bytes taken and the symbols written. With data, a symbol whose lookup needs more bits than
    // remain is left for the next call; a call without data (null, 0) pads the spare bits with zeros to decode
    // the last symbols of a row. A symbol is only taken when all of its code bits are real.
    void Decode(const KUInt8* data, KUInt32 size, KUInt32& position, KUInt16* out, KUInt32 wanted,
                KUInt32& produced);
    // Drops the spare bits at the end of a row; only while decoding.
    void DecodeFlush();

    int GetSymbolBits() const { return m_Bits; }
    int GetLongestCodeLength() const { return m_LongestCode; }
    // Width of the first lookup level; valid once decoding has started.
    int GetFirstLevelBits() const { return m_FirstBits; }
    int GetSpareBitCount() const { return m_SpareCount; }

    // Largest lookup table (entries of both levels together) that a code table may need.
    static constexpr size_t kMaxLookupEntries = size_t(1) << 22;

private:
    enum class State { Idle, Build, Decoding };

    void priBuildTables();
    [[noreturn]] static void priThrowNoCode();

    int m_Bits;
    KUInt32 m_Count;
    std::vector<KUInt8> m_Lengths;
    std::vector<KUInt32> m_Codes;
    int m_LongestCode = 0;
    bool m_TableValid = false;
    bool m_TablesBuilt = false;
    State m_State = State::Idle;
    KUInt64 m_Spare = 0;  // the spare bits, most significant first; the bits below them are zero
    int m_SpareCount = 0;
    int m_FirstBits = 0;
    std::vector<KUInt32> m_Lookup;  // first level, then every second-level table
    // The same lookup memoised over the next m_FastBits bits, for one or two symbols at a time: symbols in
    // bits 0-15 and 16-31, the first one's length in bits 32-39, both lengths in bits 40-47, the number of
    // symbols those bits decide in bits 48-55 (0: walk the two levels).
    int m_FastBits = 0;
    std::vector<KUInt64> m_Fast;
};
