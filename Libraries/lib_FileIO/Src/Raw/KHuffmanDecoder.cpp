#include "KHuffmanDecoder.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "KNarrowString.h"

namespace {

// Lookup entries: a symbol with its code length, a pointer to a second-level table, or empty (0).
constexpr KUInt32 kSymbolFlag = 0x80000000u;
constexpr int kFastBitsMax = 11;
constexpr KUInt32 kPointerFlag = 0x40000000u;

constexpr KUInt32 SymbolEntry(KUInt32 symbol, KUInt32 length) { return kSymbolFlag | (length << 16) | symbol; }
constexpr KUInt32 PointerEntry(KUInt32 base, KUInt32 bits) { return kPointerFlag | (bits << 24) | base; }
constexpr KUInt32 PointerBase(KUInt32 e) { return e & 0x00FFFFFFu; }
constexpr int PointerBits(KUInt32 e) { return static_cast<int>((e >> 24) & 31u); }
constexpr int EntryLength(KUInt32 e) { return static_cast<int>((e >> 16) & 31u); }

inline KUInt64 LoadBigEndian64(const KUInt8* p)
{
    KUInt64 v;
    std::memcpy(&v, p, sizeof v);
    return __builtin_bswap64(v);
}

// Gives every empty entry the entry before it, so each code covers every index that begins with its bits.
void FillForward(KUInt32* table, size_t size)
{
    for (size_t i = 1; i < size; ++i)
        if (table[i] == 0)
            table[i] = table[i - 1];
}

}  // namespace

KHuffmanDecoder::KHuffmanDecoder(int bits)
{
    if (bits < 2 || bits > 16)
        throw KExceptionHuffman("Invalid number of bits");
    m_Bits = bits;
    m_Count = KUInt32(1) << bits;
    m_Lengths.assign(m_Count, 0);
    m_Codes.assign(m_Count, 0);
}

void KHuffmanDecoder::SetTable(const KUInt32* entries, KUInt32 count)
{
    std::fill(m_Lengths.begin(), m_Lengths.end(), 0);
    std::fill(m_Codes.begin(), m_Codes.end(), 0);
    m_LongestCode = 0;
    const KUInt32 n = entries ? std::min(count, m_Count) : 0;
    for (KUInt32 s = 0; s < n; ++s) {
        const KUInt32 length = entries[s] >> 27;
        const KUInt32 code = entries[s] & 0x7FFFFFFu;
        m_Lengths[s] = static_cast<KUInt8>(length);
        m_Codes[s] = length ? static_cast<KUInt32>(code & ((KUInt64(1) << length) - 1)) : 0;
        m_LongestCode = std::max(m_LongestCode, static_cast<int>(length));
    }
    m_TableValid = true;
    m_TablesBuilt = false;
}

void KHuffmanDecoder::BeginDecode()
{
    m_State = State::Idle;
    m_Spare = 0;
    m_SpareCount = 0;
}

void KHuffmanDecoder::DecodeFlush()
{
    if (m_State != State::Decoding)
        throw KExceptionHuffman("DecodeFlush() not decoding data!");
    m_Spare = 0;
    m_SpareCount = 0;
}

void KHuffmanDecoder::priThrowNoCode()
{
    throw KExceptionHuffman("Decode() bit pattern matches no code of the table");
}

void KHuffmanDecoder::priBuildTables()
{
    // A longest length of 1 would give a first level of 0 bits; one bit decodes the same codes.
    const int k = std::max(1, m_LongestCode / 2);
    m_FirstBits = k;
    const size_t firstSize = size_t(1) << k;

    // Codes are placed from the longest length down (equal lengths in symbol order).
    std::vector<KUInt32> order;
    order.reserve(m_Count);
    for (KUInt32 s = 0; s < m_Count; ++s)
        if (m_Lengths[s])
            order.push_back(s);
    std::stable_sort(order.begin(), order.end(),
                     [&](KUInt32 a, KUInt32 b) { return m_Lengths[a] > m_Lengths[b]; });

    // Size every second-level table first (by the longest code met under its prefix) and refuse tables
    // whose lookup would be absurdly large before allocating anything.
    std::vector<KUInt8> subBits(firstSize, 0);
    size_t total = firstSize;
    for (KUInt32 s : order) {
        const int length = m_Lengths[s];
        if (length <= k)
            break;
        const size_t prefix = m_Codes[s] >> (length - k);
        if (subBits[prefix] == 0) {
            subBits[prefix] = static_cast<KUInt8>(length - k);
            total += size_t(1) << (length - k);
            if (total > kMaxLookupEntries)
                throw KExceptionHuffman(
                    KNarrowString("Code table with codes of %d bits needs too large a lookup table", m_LongestCode)
                        .CStr());
        }
    }

    m_Lookup.assign(total, 0);
    KUInt32* first = m_Lookup.data();
    std::vector<std::pair<size_t, size_t>> tables;  // base and size of every second-level table
    size_t next = firstSize;
    for (KUInt32 s : order) {
        const int length = m_Lengths[s];
        const KUInt32 code = m_Codes[s];
        if (length > k) {
            const size_t prefix = code >> (length - k);
            if (!(first[prefix] & kPointerFlag)) {
                first[prefix] = PointerEntry(static_cast<KUInt32>(next), subBits[prefix]);
                tables.emplace_back(next, size_t(1) << subBits[prefix]);
                next += size_t(1) << subBits[prefix];
            }
            const int m = PointerBits(first[prefix]);
            const KUInt32 low = code & ((KUInt32(1) << (length - k)) - 1);
            const size_t index = (static_cast<size_t>(low) << (m - (length - k))) & ((size_t(1) << m) - 1);
            m_Lookup[PointerBase(first[prefix]) + index] = SymbolEntry(s, static_cast<KUInt32>(length));
        } else {
            // A shorter code that overlaps a longer one (not a prefix code) replaces its pointer.
            first[static_cast<size_t>(code) << (k - length)] = SymbolEntry(s, static_cast<KUInt32>(length));
        }
    }

    FillForward(first, firstSize);
    for (const auto& [base, size] : tables)
        FillForward(m_Lookup.data() + base, size);

    // Memoise the two-level lookup for every value of the next F bits, for the symbols those bits decide.
    const int f = std::max(k, std::min(m_LongestCode, kFastBitsMax));
    m_FastBits = f;
    m_Fast.assign(size_t(1) << f, 0);
    const size_t fMask = (size_t(1) << f) - 1;
    // The entry for the next `width` bits of `i` (the rest unknown), or 0 when they do not decide it.
    auto lookup = [&](size_t i, int width) -> KUInt32 {
        if (width < k)
            return 0;
        KUInt32 e = m_Lookup[(i & fMask) >> (f - k)];
        if (e & kPointerFlag) {
            const int m = PointerBits(e);
            if (k + m > width)
                return 0;
            e = m_Lookup[PointerBase(e) + (((i & fMask) >> (f - k - m)) & ((size_t(1) << m) - 1))];
        }
        return (e & kSymbolFlag) && EntryLength(e) <= width ? e : 0;
    };
    for (size_t i = 0; i < m_Fast.size(); ++i) {
        const KUInt32 e1 = lookup(i, f);
        if (!e1)
            continue;
        const int l1 = EntryLength(e1);
        const KUInt32 e2 = lookup(i << l1, f - l1);
        const int l2 = e2 ? EntryLength(e2) : 0;
        m_Fast[i] = (e1 & 0xFFFFu) | (KUInt64(e2 & 0xFFFFu) << 16) | (KUInt64(l1) << 32) | (KUInt64(l1 + l2) << 40) |
                    (KUInt64(e2 ? 2 : 1) << 48);
    }
    m_TablesBuilt = true;
}

void KHuffmanDecoder::Decode(const KUInt8* data, KUInt32 size, KUInt32& position, KUInt16* out, KUInt32 wanted,
                             KUInt32& produced)
{
    position = 0;
    produced = 0;
    if (!data)
        size = 0;
    if (m_State == State::Idle) {
        if (size == 0)
            return;
        m_State = State::Build;
    }
    if (m_State == State::Build) {
        if (!m_TableValid)
            throw KExceptionHuffman("Can't build decoding tree without a valid table!");
        priBuildTables();
        m_State = State::Decoding;
    }
    if (m_State != State::Decoding)
        throw KExceptionHuffman("Decode() invalid state!");
    if (!m_TablesBuilt)
        priBuildTables();

    const bool padLast = (size == 0);  // a call without data finishes the row from the spare bits
    const KUInt32* const lookup = m_Lookup.data();
    const int k = m_FirstBits;
    const KUInt64* const fastTable = m_Fast.data();
    const int fastBits = m_FastBits;
    KUInt64 buffer = m_Spare;
    int bits = m_SpareCount;
    KUInt32 pos = 0;
    KUInt32 count = 0;

    // Takes one or two symbols from the memoised table, or one through the two levels; needs 31 bits.
    auto take = [&]() {
        const KUInt64 fast = fastTable[buffer >> (64 - fastBits)];
        const unsigned n = static_cast<unsigned>(fast >> 48);
        int length;
        if (n) {
            // Both symbols are stored; the second counts only when the entry decides it.
            out[count] = static_cast<KUInt16>(fast);
            out[count + 1] = static_cast<KUInt16>(fast >> 16);
            length = static_cast<int>((fast >> (n == 2 ? 40 : 32)) & 0xFF);
            count += n;
        } else {
            KUInt32 e = lookup[buffer >> (64 - k)];
            if (e & kPointerFlag)
                e = lookup[PointerBase(e) + ((buffer << k) >> (64 - PointerBits(e)))];
            if (!(e & kSymbolFlag))
                priThrowNoCode();
            length = EntryLength(e);
            out[count++] = static_cast<KUInt16>(e & 0xFFFFu);
        }
        buffer <<= length;
        bits -= length;
    };
    // While eight bytes can be loaded and four symbols stored: refill without a branch (the count of bits
    // ends between 56 and 63), then take symbols twice while 32 bits remain for a lookup.
    while (count + 4 <= wanted && size - pos >= 8) {
        buffer |= LoadBigEndian64(data + pos) >> bits;
        pos += static_cast<KUInt32>((63 - bits) >> 3);
        bits |= 56;
        take();
        if (bits >= 32)
            take();
    }

    // The last bytes of the data, and the call without data: symbol by symbol, with every rule of the end.
    while (count < wanted) {
        while (bits <= 56 && pos < size) {
            buffer |= static_cast<KUInt64>(data[pos++]) << (56 - bits);
            bits += 8;
        }
        // Here either more than 56 bits are buffered or the data is used up, so the buffer is all that remains.
        if (bits < k && (!padLast || bits == 0))
            break;
        KUInt32 e = lookup[buffer >> (64 - k)];
        if (!(e & kSymbolFlag)) {
            if (!(e & kPointerFlag))
                priThrowNoCode();
            const int m = PointerBits(e);
            if (bits < k + m && !padLast)
                break;
            e = lookup[PointerBase(e) + ((buffer << k) >> (64 - m))];
            if (!(e & kSymbolFlag))
                priThrowNoCode();
        }
        const int length = EntryLength(e);
        if (length > bits)
            break;  // the code would need bits that the row does not hold
        buffer <<= length;
        bits -= length;
        out[count++] = static_cast<KUInt16>(e & 0xFFFFu);
    }

    // Keep at most 32 spare bits: whole bytes beyond that go back to the data, the last loaded first.
    while (bits > 32) {
        bits -= 8;
        --pos;
    }
    buffer = bits ? (buffer & (~KUInt64(0) << (64 - bits))) : 0;
    while (bits <= 24 && pos < size) {
        buffer |= static_cast<KUInt64>(data[pos++]) << (56 - bits);
        bits += 8;
    }
    m_Spare = buffer;
    m_SpareCount = bits;
    position = pos;
    produced = count;
}
