#pragma once
// Lookup-table records shared by the pixel-processing stages.
//
// Entries are signed 16-bit values read at data[index & mask]; a table of 65536 entries indexed by a signed
// 16-bit value finds it at its 16-bit pattern, so the upper half stands for the negative values. A record
// frees its entries only when it owns them (owns-data); records handed out by KGlobalLUTsClass and by the
// calibration getters do not.
#include "KTypes.h"

struct KLUT {
    KInt16* m_pData = nullptr;
    KUInt32 m_Mask = 0;  // size - 1
    KUInt32 m_Size = 0;
    bool m_bOwnsData = false;

    KLUT() = default;
    KLUT(KInt16* data, KUInt32 size, bool ownsData) : m_pData(data), m_Mask(size - 1), m_Size(size), m_bOwnsData(ownsData) {}
    ~KLUT()
    {
        if (m_bOwnsData)
            delete[] m_pData;
    }
    KLUT(const KLUT&) = delete;
    KLUT& operator=(const KLUT&) = delete;

    KInt16 operator[](KUInt32 index) const { return m_pData[index & m_Mask]; }
};

struct KColorLUT {
    KInt16* m_pData[3] = {nullptr, nullptr, nullptr};
    KUInt32 m_Mask = 0;  // size - 1
    KUInt32 m_Size = 0;
    bool m_bOwnsData = false;  // when set, each channel array was allocated with new[]

    KColorLUT() = default;
    ~KColorLUT()
    {
        if (m_bOwnsData)
            for (KInt16* p : m_pData)
                delete[] p;
    }
    KColorLUT(const KColorLUT&) = delete;
    KColorLUT& operator=(const KColorLUT&) = delete;

    KInt16 Lookup(int channel, KUInt32 index) const { return m_pData[channel][index & m_Mask]; }
};
