#pragma once
// The parsed form of a calibration buffer: one entry per block in buffer order.
#include <memory>
#include <vector>

#include "KCamdata.h"

struct KCamdataEntry {
    const char* m_pName = nullptr;  // null while the entry is unfilled
    const KUInt8* m_pHeader = nullptr;
    std::unique_ptr<KCamdataMatrix> m_pMatrix;
    // Taken from the header when the entry was filled.
    KUInt32 m_Type = 0;
    KUInt32 m_Version = 0;
    // A property block that passed its check: pairs of (name offset, value offset) words from the string area.
    bool m_bPropertiesValid = false;
    KUInt32 m_PairCount = 0;
    const KUInt8* m_pPairs = nullptr;
    const char* m_pStrings = nullptr;
};

class KCamdataImpl {
public:
    void Parse(const void* buffer, size_t size);

    const KCamdataEntry* Find(const char* name, bool ignoreCase) const;

    std::vector<KCamdataEntry> m_Table;
    size_t m_BlockCount = 0;
    bool m_bSwapped = false;

private:
    KUInt32 priWord(size_t offset) const;
    void priSwapWords(size_t offset, size_t count);
    void priParseFile();
    size_t priCountBlocks(size_t start, size_t length) const;
    size_t priParseBlocks(size_t start, size_t length, size_t first, size_t room);
    bool priFillEntry(KCamdataEntry& entry, size_t block, KUInt32 blockSize);
    bool priDataWords(size_t block, KUInt32 blockSize, size_t count, KUInt64& dataOffset);
    bool priCheckProperties(KCamdataEntry& entry, size_t block, KUInt32 blockSize);
    bool priParseMatrix(KCamdataEntry& entry, size_t block, KUInt32 blockSize);

    std::unique_ptr<KUInt8[]> m_pCopy;  // the buffer when swapped or misaligned
    const KUInt8* m_pBase = nullptr;
    size_t m_Size = 0;
};
