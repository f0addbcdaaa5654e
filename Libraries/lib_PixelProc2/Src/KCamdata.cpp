#include "KCamdata.h"

#include <cstdint>
#include <cstring>

#include "KCamdataImpl.h"
#include "KDebug.h"
#include "KException.h"
#include "KNarrowString.h"
#include "KPropTree.h"

// Every offset, count and size read from the buffer is checked against its block (or section, or the
// buffer) in 64-bit arithmetic before anything is read or swapped there. Big-endian data is swapped only in
// the private copy, so a parse that stops half way never leaves the caller's (shared, cached) buffer damaged.

namespace {

KUInt32 Swap32(KUInt32 v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

bool IsBlockType(KUInt32 w)
{
    return w == CAMSUB_TYPE_T || w == CAMSUB_TYPE_B || w == CAMSUB_TYPE_PROP || w == CAMSUB_TYPE_MATRIX;
}

KUInt32 Major(KUInt32 version)
{
    return version >> 16;
}

// A NUL-terminated string starting at offset within [0, end) of p.
bool TerminatedWithin(const KUInt8* p, KUInt64 offset, KUInt64 end)
{
    return offset < end && std::memchr(p + offset, 0, static_cast<size_t>(end - offset)) != nullptr;
}

bool EqualNames(const char* a, const char* b, bool ignoreCase)
{
    for (;; ++a, ++b) {
        unsigned char ca = static_cast<unsigned char>(*a);
        unsigned char cb = static_cast<unsigned char>(*b);
        if (ignoreCase) {
            if (ca >= 'A' && ca <= 'Z')
                ca = static_cast<unsigned char>(ca - 'A' + 'a');
            if (cb >= 'A' && cb <= 'Z')
                cb = static_cast<unsigned char>(cb - 'A' + 'a');
        }
        if (ca != cb)
            return false;
        if (ca == 0)
            return true;
    }
}

}  // namespace

size_t KCamdataElementSize(KUInt32 type)
{
    switch (type) {
    case KCAMDATA_INT16:
    case KCAMDATA_UINT16:
        return 2;
    case KCAMDATA_INT32:
    case KCAMDATA_UINT32:
    case KCAMDATA_FLOAT:
        return 4;
    case KCAMDATA_INT64:
        return 8;
    case KCAMDATA_BYTE:
        return 1;
    default:
        return 0;
    }
}

KUInt32 KCamdataImpl::priWord(size_t offset) const
{
    KUInt32 w;
    std::memcpy(&w, m_pBase + offset, sizeof w);
    return w;
}

void KCamdataImpl::priSwapWords(size_t offset, size_t count)
{
    KUInt8* p = m_pCopy.get() + offset;
    for (size_t i = 0; i < count; ++i, p += 4) {
        KUInt32 w;
        std::memcpy(&w, p, 4);
        w = Swap32(w);
        std::memcpy(p, &w, 4);
    }
}

void KCamdataImpl::Parse(const void* buffer, size_t size)
{
    if (!buffer || size == 0)
        throw KException("KCamdata: initialized with NULL pointer or empty buffer.");
    if (size < 4)
        throw KException("KCamdata: insufficient data for CAMb data.\n");
    KUInt32 w;
    std::memcpy(&w, buffer, 4);
    if (w != CAMFILE_MAGIC && !IsBlockType(w)) {
        w = Swap32(w);
        m_bSwapped = true;
        if (w != CAMFILE_MAGIC && !IsBlockType(w))
            throw KException("KCamdata: cam data is not CAMb file or CAMb data blocks.");
    }
    m_Size = size;
    if (m_bSwapped || reinterpret_cast<uintptr_t>(buffer) % 8 != 0) {
        m_pCopy.reset(new KUInt8[size]);
        std::memcpy(m_pCopy.get(), buffer, size);
        m_pBase = m_pCopy.get();
    } else {
        m_pBase = static_cast<const KUInt8*>(buffer);
    }

    if (w == CAMFILE_MAGIC) {
        priParseFile();
        return;
    }
    const size_t counted = priCountBlocks(0, size);
    m_Table.resize(counted);
    m_BlockCount = counted;
    if (priParseBlocks(0, size, 0, counted) > counted)
        DebugTraceText("KCamdata: Found more blocks when parsing than when counted!\n");
}

void KCamdataImpl::priParseFile()
{
    if (m_Size < kCamfileHeaderSize)
        throw KException("KCamdata: Insufficient data for header.\n");
    if (m_bSwapped)
        priSwapWords(0, kCamfileHeaderSize / 4);
    if (priWord(0) != CAMFILE_MAGIC)
        throw KException("KCamdata: Wrong file type.\n");
    if (Major(priWord(4)) != 2)
        throw KException("KCamdata: Incompatible version.\n");
    const size_t first = priWord(8);
    if (first > m_Size)
        throw KException("KCamdata: Insufficient data for section header.\n");

    // First walk: check and swap the section headers, count the blocks.
    size_t total = 0;
    for (size_t pos = first; pos < m_Size;) {
        const size_t left = m_Size - pos;
        if (left < kCamSectionHeaderSize)
            throw KException("KCamdata: Insufficient data for section header.\n");
        if (m_bSwapped)
            priSwapWords(pos, kCamSectionHeaderSize / 4);
        if (priWord(pos) != CAMSECTION_MAGIC)
            throw KException("KCamdata: Expected a data section.\n");
        if (Major(priWord(pos + 4)) != 1)
            throw KException("KCamdata: Incompatible data section version.\n");
        const size_t sectionSize = priWord(pos + 8);
        if (sectionSize > left || sectionSize < kCamSectionHeaderSize)
            throw KException("KCamdata: Insufficient data for data section.\n");
        const size_t blockOffset = priWord(pos + 16);
        if (sectionSize > blockOffset) {
            if (blockOffset < kCamSectionHeaderSize)
                DebugTraceText("KCamdata: Data section blocks start inside the section header.\n");
            else
                total += priCountBlocks(pos + blockOffset, sectionSize - blockOffset);
        }
        pos += sectionSize;
    }
    if (total == 0) {
        DebugTraceText("KCamdata: Parsed an empty camfile.\n");
        return;
    }

    // Second walk: the headers are in machine order now.
    m_Table.resize(total);
    m_BlockCount = total;
    size_t next = 0;
    for (size_t pos = first; pos < m_Size;) {
        const size_t sectionSize = priWord(pos + 8);
        const size_t blockOffset = priWord(pos + 16);
        if (sectionSize > blockOffset && blockOffset >= kCamSectionHeaderSize) {
            const size_t room = next < total ? total - next : 0;
            const size_t parsed = priParseBlocks(pos + blockOffset, sectionSize - blockOffset, next, room);
            if (parsed > room)
                DebugTraceText("KCamdata: Found more blocks when parsing than when counted!\n");
            next += parsed;
        }
        pos += sectionSize;
    }
}

size_t KCamdataImpl::priCountBlocks(size_t start, size_t length) const
{
    size_t count = 0;
    for (size_t pos = 0; pos < length;) {
        const size_t left = length - pos;
        KUInt32 blockSize = left >= kCamBlockHeaderSize ? priWord(start + pos + 8) : 0;
        if (m_bSwapped)
            blockSize = Swap32(blockSize);
        if (blockSize < kCamBlockHeaderSize || blockSize > left) {
            DebugTraceText("KCamdataImpl::CountBlocks found block with invalid size.\n");
            break;
        }
        ++count;
        pos += blockSize;
    }
    return count;
}

size_t KCamdataImpl::priParseBlocks(size_t start, size_t length, size_t first, size_t room)
{
    size_t walked = 0;
    for (size_t pos = 0; pos < length;) {
        const size_t left = length - pos;
        const size_t block = start + pos;
        if (left >= kCamBlockHeaderSize && m_bSwapped)
            priSwapWords(block, kCamBlockHeaderSize / 4);
        const KUInt32 blockSize = left >= kCamBlockHeaderSize ? priWord(block + 8) : 0;
        if (blockSize < kCamBlockHeaderSize || blockSize > left) {
            DebugTraceText("KCamdataImpl::ParseBlocks found block with invalid size.\n");
            return walked;
        }
        if (walked < room && !priFillEntry(m_Table[first + walked], block, blockSize))
            return 0;
        ++walked;
        pos += blockSize;
    }
    return walked;
}

bool KCamdataImpl::priFillEntry(KCamdataEntry& entry, size_t block, KUInt32 blockSize)
{
    // An entry written by an earlier, abandoned section keeps nothing of it.
    entry = KCamdataEntry();
    const KUInt8* p = m_pBase + block;
    const KUInt32 nameOffset = priWord(block + 12);
    if (!TerminatedWithin(p, nameOffset, blockSize)) {
        DebugTraceText("KCamdataImpl::ParseBlocks: Error parsing block name.\r\n");
        return false;
    }
    entry.m_pName = reinterpret_cast<const char*>(p + nameOffset);
    entry.m_pHeader = p;
    entry.m_Type = priWord(block);
    entry.m_Version = priWord(block + 4);
    const char* error = nullptr;
    if (entry.m_Type == CAMSUB_TYPE_PROP && !priCheckProperties(entry, block, blockSize))
        error = "CAMB: Error parsing property list.\r\n";
    else if (entry.m_Type == CAMSUB_TYPE_MATRIX && !priParseMatrix(entry, block, blockSize))
        error = "KCamdataImpl::ParseBlocks: Error parsing matrix.\r\n";
    // Swapping the block's data in place may have moved the terminator of a name that lies among that data:
    // such a name would run on past the block, so the entry is left unfilled.
    if (m_bSwapped && !TerminatedWithin(p, nameOffset, blockSize)) {
        entry = KCamdataEntry();
        DebugTraceText("KCamdataImpl::ParseBlocks: Error parsing block name.\r\n");
        return false;
    }
    if (error) {
        DebugTraceText(error);
        return false;
    }
    return true;
}

// The block's data offset, when the first count words of the data lie inside the block; they are brought
// into machine order.
bool KCamdataImpl::priDataWords(size_t block, KUInt32 blockSize, size_t count, KUInt64& dataOffset)
{
    dataOffset = priWord(block + 16);
    if (dataOffset + count * 4 > blockSize)
        return false;
    if (m_bSwapped)
        priSwapWords(block + dataOffset, count);
    return true;
}

bool KCamdataImpl::priCheckProperties(KCamdataEntry& entry, size_t block, KUInt32 blockSize)
{
    KASSERT(entry.m_pHeader && (entry.m_Type == CAMSUB_TYPE_PROP));
    KUInt64 dataOffset = 0;
    if (Major(entry.m_Version) != 1 || !priDataWords(block, blockSize, 2, dataOffset))
        return false;
    const KUInt64 count = priWord(block + dataOffset);
    const KUInt64 stringOffset = priWord(block + dataOffset + 4);
    const KUInt64 pairsOffset = dataOffset + 8;
    if (pairsOffset + count * 8 > blockSize)
        return false;
    if (m_bSwapped)
        priSwapWords(block + pairsOffset, static_cast<size_t>(count * 2));
    const KUInt8* p = m_pBase + block;
    for (KUInt64 i = 0; i < count * 2; ++i) {
        const KUInt64 rel = priWord(block + pairsOffset + i * 4);
        if (!TerminatedWithin(p, stringOffset + rel, blockSize))
            return false;
    }
    entry.m_bPropertiesValid = true;
    entry.m_PairCount = static_cast<KUInt32>(count);
    entry.m_pPairs = p + pairsOffset;
    entry.m_pStrings = count ? reinterpret_cast<const char*>(p + stringOffset) : nullptr;
    return true;
}

bool KCamdataImpl::priParseMatrix(KCamdataEntry& entry, size_t block, KUInt32 blockSize)
{
    KASSERT(!entry.m_pMatrix);
    KASSERT(entry.m_pHeader && (entry.m_Type == CAMSUB_TYPE_MATRIX));
    KUInt64 dataOffset = 0;
    if (Major(entry.m_Version) != 2 || !priDataWords(block, blockSize, 3, dataOffset))
        return false;
    auto matrix = std::make_unique<KCamdataMatrix>();
    const KUInt32 type = priWord(block + dataOffset);
    const KUInt64 dimCount = priWord(block + dataOffset + 4);
    const KUInt64 elementOffset = priWord(block + dataOffset + 8);
    if (type >= KCAMDATA_TYPE_COUNT) {
        DebugTrace("%s Line %d: Found CAMb matrix of unrecognized type.\n", KSourceModule(__FILE__), __LINE__);
        return false;
    }
    matrix->m_Type = type;
    const KUInt64 dimsOffset = dataOffset + 12;
    if (dimCount == 0 || dimsOffset + dimCount * 12 > blockSize)
        return false;
    if (m_bSwapped)
        priSwapWords(block + dimsOffset, static_cast<size_t>(dimCount * 3));
    matrix->m_DimCount = static_cast<KUInt32>(dimCount);
    matrix->m_Dims.resize(dimCount);
    KUInt64 count = 1;
    for (KUInt64 d = 0; d < dimCount; ++d) {
        const KUInt32 extent = priWord(block + dimsOffset + d * 12);
        matrix->m_Dims[d] = extent;
        if (extent != 0 && count > blockSize / extent)
            return false;  // more elements than the block could hold
        count *= extent;
    }
    const size_t elementSize = KCamdataElementSize(type);
    if (elementOffset + count * elementSize > blockSize)
        return false;
    const KUInt8* elements = m_pBase + block + elementOffset;
    if (reinterpret_cast<uintptr_t>(elements) % elementSize != 0)
        return false;
    if (m_bSwapped) {
        KUInt8* e = m_pCopy.get() + block + elementOffset;
        switch (type) {
        case KCAMDATA_INT16:
        case KCAMDATA_UINT16:
            for (KUInt64 i = 0; i < count; ++i)
                std::swap(e[2 * i], e[2 * i + 1]);
            break;
        case KCAMDATA_INT32:
        case KCAMDATA_UINT32:
        case KCAMDATA_FLOAT:
            priSwapWords(block + elementOffset, static_cast<size_t>(count));
            break;
        case KCAMDATA_BYTE:
            break;
        default:
            throw KException(
                KNarrowString("%s Line %d: Don't know how to endian swap 64 bit types.", KSourceModule(__FILE__), __LINE__)
                    .CStr());
        }
    }
    matrix->m_pElements = elements;
    matrix->m_ElementCount = count;
    entry.m_pMatrix = std::move(matrix);
    return true;
}

const KCamdataEntry* KCamdataImpl::Find(const char* name, bool ignoreCase) const
{
    for (const KCamdataEntry& e : m_Table)
        if (e.m_pName && EqualNames(e.m_pName, name, ignoreCase))
            return &e;
    return nullptr;
}

KCamdata::KCamdata(const void* buffer, size_t size) : m_pImpl(std::make_unique<KCamdataImpl>())
{
    m_pImpl->Parse(buffer, size);
}

KCamdata::~KCamdata() = default;

bool KCamdata::GetPropertyList(const char* name, KPropTree* tree) const
{
    if (!name || !tree)
        return false;
    const KCamdataEntry* e = m_pImpl->Find(name, false);
    if (!e || e->m_Type != CAMSUB_TYPE_PROP || Major(e->m_Version) != 1 || !e->m_bPropertiesValid)
        return false;
    for (KUInt32 i = 0; i < e->m_PairCount; ++i) {
        KUInt32 rel[2];
        std::memcpy(rel, e->m_pPairs + i * 8, sizeof rel);
        tree->AddPair(e->m_pStrings + rel[0], e->m_pStrings + rel[1]);
    }
    return true;
}

const KCamdataMatrix* KCamdata::FindMatrix(const char* name, KUInt32 type, KUInt32 dimCount, const KUInt32* dims) const
{
    if (!name)
        return nullptr;
    const KCamdataEntry* e = m_pImpl->Find(name, true);
    if (!e || !e->m_pMatrix)
        return nullptr;
    const KCamdataMatrix& m = *e->m_pMatrix;
    if (m.m_Type != type || (dimCount != 0 && m.m_DimCount != dimCount))
        return nullptr;
    if (dims && dimCount != 0)
        for (KUInt32 d = 0; d < m.m_DimCount; ++d)
            if (m.m_Dims[d] != dims[d])
                return nullptr;
    return &m;
}

bool KCamdata::IsSwapped() const
{
    return m_pImpl->m_bSwapped;
}

size_t KCamdata::GetBlockCount() const
{
    return m_pImpl->m_BlockCount;
}
