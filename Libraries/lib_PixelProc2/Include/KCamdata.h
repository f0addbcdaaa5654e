#pragma once
// Camera calibration data: lookup tables, colour matrices, bad-pixel lists, gain grids, scalars and small
// property lists, each stored under a text name in a "KCMb" buffer, either as a calibration file (file
// header, data sections, blocks) or as a bare run of blocks, in either byte order.
//
// KCamdata checks and indexes the buffer once on construction and then answers look-ups by name; it never
// writes into the caller's buffer. A little-endian buffer is used in place (it must outlive the object); a
// big-endian one is swapped in a private copy, as is a buffer that does not start on an 8-byte boundary.
// Look-ups are const and may run on several threads at once.
#include <cstddef>
#include <memory>
#include <vector>

#include "KTypes.h"

class KPropTree;

// A four-character code as the word read little-endian: the first character in the low byte.
constexpr KUInt32 KFourCC(const char (&s)[5])
{
    return static_cast<KUInt32>(static_cast<unsigned char>(s[0])) |
           static_cast<KUInt32>(static_cast<unsigned char>(s[1])) << 8 |
           static_cast<KUInt32>(static_cast<unsigned char>(s[2])) << 16 |
           static_cast<KUInt32>(static_cast<unsigned char>(s[3])) << 24;
}

constexpr KUInt32 CAMFILE_MAGIC = KFourCC("KCMb");
constexpr KUInt32 CAMSECTION_MAGIC = KFourCC("CMbH");
constexpr KUInt32 CAMSUB_TYPE_T = KFourCC("CMbT");
constexpr KUInt32 CAMSUB_TYPE_B = KFourCC("CMbB");
constexpr KUInt32 CAMSUB_TYPE_PROP = KFourCC("CMbP");
constexpr KUInt32 CAMSUB_TYPE_MATRIX = KFourCC("CMbM");

constexpr size_t kCamfileHeaderSize = 28;
constexpr size_t kCamSectionHeaderSize = 20;
constexpr size_t kCamBlockHeaderSize = 20;

// Matrix element types.
enum : KUInt32 {
    KCAMDATA_INT16 = 0,
    KCAMDATA_INT32 = 1,
    KCAMDATA_UINT32 = 2,
    KCAMDATA_FLOAT = 3,
    KCAMDATA_INT64 = 4,
    KCAMDATA_BYTE = 5,
    KCAMDATA_UINT16 = 6,
    KCAMDATA_TYPE_COUNT = 7
};

// Bytes of one element of a type below KCAMDATA_TYPE_COUNT.
size_t KCamdataElementSize(KUInt32 type);

// One matrix block: dimensions and elements (stored densely, the last dimension fastest). The elements lie
// inside their block, in machine order and aligned for their type.
struct KCamdataMatrix {
    KUInt32 m_DimCount = 0;
    KUInt32 m_Type = KCAMDATA_TYPE_COUNT;
    std::vector<KUInt32> m_Dims;
    const void* m_pElements = nullptr;
    KUInt64 m_ElementCount = 0;

    template <class T>
    const T* Elements() const
    {
        return static_cast<const T*>(m_pElements);
    }
};

class KCamdataImpl;

class KCamdata {
public:
    // Throws KException when the buffer is not calibration data at all (see the messages in KCamdata.cpp); a
    // damaged block only ends the parse with a trace, keeping the blocks recorded before it.
    KCamdata(const void* buffer, size_t size);
    ~KCamdata();
    KCamdata(const KCamdata&) = delete;
    KCamdata& operator=(const KCamdata&) = delete;

    // Adds the pairs of the first block named name (exact comparison) to tree, in stored order. False when
    // either is missing, no block has the name, or that block is not a sound property list of version 1.
    bool GetPropertyList(const char* name, KPropTree* tree) const;

    // The first block whose name equals name without regard to ASCII case, when it is a matrix of the given
    // element type, of dimCount dimensions (0: any) and of the dimensions dims (null: any; dims is only read,
    // dimCount entries of it, when dimCount is given); else null.
    const KCamdataMatrix* FindMatrix(const char* name, KUInt32 type, KUInt32 dimCount, const KUInt32* dims) const;

    // Whether the buffer was big-endian.
    bool IsSwapped() const;
    // Entries of the block table (recorded or not).
    size_t GetBlockCount() const;

private:
    std::unique_ptr<KCamdataImpl> m_pImpl;
};
