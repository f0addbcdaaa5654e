#pragma once
// What every chroma pass shares: the check of its settings and the ending that turns a smoothed value into
// the filtered pixel through the soft-limiter table.
#include "KLUT.h"
#include "KSaturate16.h"
#include "KTypes.h"

// False, with a trace, for a pass that must not run: a limit 0 or negative, or a spatial threshold 0 or
// negative for the filters that divide by it (usesSpatial).
bool ChromaPassRuns(const char* filter, const double limits[3], KInt32 spatial, bool trace, bool usesSpatial = true);

class KChromaCoring {
public:
    explicit KChromaCoring(const KColorLUT& lut)
        : m_Lim(static_cast<KInt16>((lut.m_Size >> 1) - 1)), m_Mask(lut.m_Mask),
          m_pTable{lut.m_pData[0], lut.m_pData[1], lut.m_pData[2]}
    {
    }

    // out = X + the limited, table-cored difference B - X less an eighth of the three corrections' sum.
    void Apply(KInt16* out, KInt32 xR, KInt32 xG, KInt32 xB, KInt64 bR, KInt64 bG, KInt64 bB) const
    {
        const KInt32 cR = Core(0, bR - xR), cG = Core(1, bG - xG), cB = Core(2, bB - xB);
        const KInt32 s = (cR + cG + cB) >> 3;
        out[0] = KSaturate16(KInt64{xR} + cR - s);
        out[1] = KSaturate16(KInt64{xG} + cG - s);
        out[2] = KSaturate16(KInt64{xB} + cB - s);
    }

    // What the vector builds need: the limit of a difference, the table mask and the tables.
    KInt32 Limit() const { return m_Lim; }
    KUInt32 Mask() const { return m_Mask; }
    const KInt16* const* Tables() const { return m_pTable; }

private:
    KInt32 Core(int channel, KInt64 d) const
    {
        const KInt32 limited = static_cast<KInt32>(d > m_Lim ? m_Lim : (d < -m_Lim ? -m_Lim : d));
        return m_pTable[channel][static_cast<KUInt32>(limited) & m_Mask];
    }

    KInt32 m_Lim;
    KUInt32 m_Mask;
    const KInt16* m_pTable[3];
};
