#pragma once
// The tone table as the tone-curve and stage-4 drivers see a tone matrix: three channels of 65536 signed 16-bit
// entries, channel c over the matrix's column c (from element c x rows). The view does not own the entries.
#include "KDataMatrix.h"
#include "KLUT.h"

constexpr KInt32 kToneTableEntries = 65536;

class KToneTableView : public KColorLUT {
public:
    // matrix: at least kToneTableEntries rows and 3 columns.
    explicit KToneTableView(const KDataMatrixTemplate<Int16Class>& matrix)
    {
        for (int c = 0; c < 3; ++c)
            m_pData[c] = matrix.Elements() + static_cast<ptrdiff_t>(c) * matrix.GetRows();
        m_Size = kToneTableEntries;
        m_Mask = kToneTableEntries - 1;
        m_bOwnsData = false;
    }
};
