#pragma once
// The tag block: a small keyed container of typed values with a versioned serialised form, stored by the TIFF
// writer in the private tag 37717 and parsed back by the TIFF reader. Only the 193 known keys are accepted,
// each with its fixed type. One thread uses a tag block at a time.
//
// Serialised form 'ver1' (little-endian words):
//   0 version 'ver1' | 4 total size | 8 scrambled flag | 12 zero (52 bytes) | 64 item count n
//   68 directory: n x {key, offset of the data from the start, stored size} | item data at the offsets
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "KException.h"
#include "KNarrowString.h"

K_DECLARE_EXCEPTION(KExceptionQuarelTag, KException, "QuarelTag exception");
K_DECLARE_EXCEPTION(KExceptionQTUnknownTag, KExceptionQuarelTag, "Unknown QuarelTag");

// A key of four letters, the first in the most significant byte ('lens' = 0x6C656E73).
constexpr uint32_t KQuarelKey(const char (&letters)[5])
{
    return (static_cast<uint32_t>(static_cast<uint8_t>(letters[0])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(letters[1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(letters[2])) << 8) |
           static_cast<uint32_t>(static_cast<uint8_t>(letters[3]));
}

class KQuarelTag {
public:
    enum ItemType : int {
        kTypeInt = 1,          // 32-bit integer, 4 bytes
        kTypeDouble = 2,       // double, 8 bytes
        kTypeString = 3,       // NUL-terminated narrow text, length + 1 rounded up to a multiple of 4
        kTypeIntArray = 4,     // 4 x count bytes
        kTypeDoubleArray = 5,  // 8 x count bytes
    };

    static constexpr uint32_t kVersion1 = 0x76657231;  // 'ver1'
    static constexpr size_t kHeaderSize = 64;
    static constexpr size_t kDirectoryEntrySize = 12;
    static constexpr char kStringListSeparator = static_cast<char>(0x8B);

    struct Item {
        uint32_t key = 0;
        uint32_t offset = 0;          // in the last serialised form read or written
        uint32_t size = 0;            // stored size in bytes
        int32_t intValue = 0;         // type 1
        double doubleValue = 0.0;     // type 2
        std::vector<uint8_t> bytes;   // types 3-5: the stored bytes (text with its terminator, no padding)
    };

    // The type of a known key; 0 for a key that is not in the table.
    static int GetKeyType(uint32_t key);

    // False for an unknown key (nothing changes). An item of the key gets the new value, else one is appended.
    bool SetInt(uint32_t key, int32_t value);
    bool SetDouble(uint32_t key, double value);
    bool SetString(uint32_t key, const char* text);

    // False when there is no item of the key.
    bool GetInt(uint32_t key, int32_t* value) const;
    bool GetDouble(uint32_t key, double* value) const;
    bool GetString(uint32_t key, KNarrowString* text) const;

    // The key is known and, for types 1 and 2, the size is 4 or 8. Throws KExceptionQTUnknownTag
    // "KQuarelTag ValidTag()" for a table type outside 1-5.
    static bool ValidTag(const Item& item);

    // The serialised form, scrambled when asked. Always true.
    bool GetBuffer(std::vector<uint8_t>& buffer, bool scramble);

    // Appends the items of a serialised form; false for a null buffer. Throws KExceptionQuarelTag for a form
    // that is shorter than its header, whose size word differs from size, whose version is unknown or whose
    // directory or texts reach outside it. Entries of unknown keys or wrong sizes are skipped.
    bool SetBuffer(const void* buffer, size_t size);

    const std::vector<Item>& GetItems() const { return m_Items; }
    const uint8_t* GetHeader() const { return m_Header; }
    void Clear() { m_Items.clear(); }

    // String lists: texts joined with the byte 0x8B between them.
    static KNarrowString JoinStringList(const char* const* strings, int count);
    // Cuts at every 0x8B, skips empty pieces, keeps at most maximum pieces; returns the count.
    static int SplitStringList(const char* text, std::vector<KNarrowString>& strings, int maximum);
    // The same, but keeps empty pieces, so that a list holding an empty text keeps its positions.
    static int SplitStringListKeepingEmpty(const char* text, std::vector<KNarrowString>& strings, int maximum);

    // XORs the words from byte 64 up to the total size with the keystream (its own inverse).
    static void Scramble(uint8_t* form, size_t totalSize);

private:
    Item* priFind(uint32_t key);
    const Item* priFind(uint32_t key) const;
    Item& priItemFor(uint32_t key);
    void priSetBufferVersion1(const uint8_t* form, size_t size);

    std::vector<Item> m_Items;
    uint8_t m_Header[kHeaderSize] = {};
};
