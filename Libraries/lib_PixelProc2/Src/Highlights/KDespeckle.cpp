#include <initializer_list>

#include "KHighlights.h"
#include "KSaturate16.h"

namespace {

// What both despeckle variants share: the trigger levels (the clip levels raised by a sixteenth), the red
// ratios of the neutral and the blend test (10 fractional bits) and the neutral weights.
class KDespeckler {
public:
    // False when the guards say that nothing is to be done.
    bool Init(KInt32 columns, const KInt32 thresholds[3], const KInt32 clipLevels[3], const KInt32 weights[3])
    {
        if (columns <= 4 || KInt64{clipLevels[1]} - thresholds[1] < 100 || clipLevels[0] <= 0)
            return false;
        for (int c = 0; c < 3; ++c) {
            m_Weight[c] = weights[c];
            m_Trigger[c] = KInt64{clipLevels[c]} + (clipLevels[c] >> 4);
        }
        m_TriggerGB = m_Trigger[1] + m_Trigger[2];
        const KInt64 gb = KInt64{clipLevels[1]} + clipLevels[2];
        m_NeutralRatio = gb * 1280 / clipLevels[0];
        m_BlendRatio = gb * 1028 / clipLevels[0];
        return true;
    }

    bool Triggers(const KInt16* p) const { return p[0] > m_Trigger[0] && KInt64{p[1]} + p[2] > m_TriggerGB; }

    // A reddish pixel becomes the neutral of its own sum; a less reddish one moves a quarter of the way.
    void Treat(KInt16* p) const
    {
        const KInt64 r = p[0], g = p[1], b = p[2];
        const KInt64 sum = r + g + b;
        const KInt64 gb = (g + b) * 1024;
        if (r * m_NeutralRatio > gb) {
            for (int c = 0; c < 3; ++c)
                p[c] = KSaturate16((m_Weight[c] * sum) >> 12);
        } else if (r * m_BlendRatio > gb) {
            for (int c = 0; c < 3; ++c)
                p[c] = KSaturate16((3 * KInt64{p[c]} + ((m_Weight[c] * sum) >> 12)) >> 2);
        }
    }

private:
    KInt64 m_Trigger[3] = {};
    KInt64 m_TriggerGB = 0;
    KInt64 m_Weight[3] = {};
    KInt64 m_NeutralRatio = 0;
    KInt64 m_BlendRatio = 0;
};

inline KInt16* Pixel(KInt16* row, KInt32 column)
{
    return row + 3 * static_cast<ptrdiff_t>(column);
}

// Runs step(despeckler, j) for the columns j = 2 .. columns - 3, left to right, unless the guards say no.
template <class Step>
void EachColumn(KInt32 columns, const KInt32 thresholds[3], const KInt32 clipLevels[3], const KInt32 weights[3],
                Step step)
{
    KDespeckler d;
    if (!d.Init(columns, thresholds, clipLevels, weights))
        return;
    for (KInt32 j = 2; j < columns - 2; ++j)
        step(d, j);
}

}  // namespace

void DespeckleRow(KInt16* row, KInt16* above, KInt16* below, KInt32 columns, const KInt32 thresholds[3],
                  const KInt32 clipLevels[3], const KInt32 weights[3])
{
    EachColumn(columns, thresholds, clipLevels, weights, [&](const KDespeckler& d, KInt32 j) {
        if (!d.Triggers(Pixel(row, j)))
            return;
        d.Treat(Pixel(above, j - 1));
        d.Treat(Pixel(above, j));
        d.Treat(Pixel(above, j + 1));
        d.Treat(Pixel(row, j - 1));
        d.Treat(Pixel(row, j + 1));
        d.Treat(Pixel(below, j - 1));
        d.Treat(Pixel(below, j));
        d.Treat(Pixel(below, j + 1));
    });
}

void DespeckleBulbRow(KInt16* row, KInt16* above, KInt16* below, KInt32 columns, const KInt32 thresholds[3],
                      const KInt32 clipLevels[3], const KInt32 weights[3])
{
    EachColumn(columns, thresholds, clipLevels, weights, [&](const KDespeckler& d, KInt32 j) {
        // Both tests use the pixels as they stand at the start of this column's step.
        const bool fromAbove = d.Triggers(Pixel(above, j));
        const bool fromBelow = d.Triggers(Pixel(below, j));
        if (fromAbove) {
            for (KInt32 k : {j - 2, j - 1, j + 1, j + 2})
                d.Treat(Pixel(above, k));
            for (KInt32 k = j - 2; k <= j + 2; ++k)
                d.Treat(Pixel(row, k));
            for (KInt32 k = j - 1; k <= j + 1; ++k)
                d.Treat(Pixel(below, k));
        }
        if (fromBelow) {
            for (KInt32 k = j - 2; k <= j + 2; ++k)
                d.Treat(Pixel(row, k));
            for (KInt32 k = j - 1; k <= j + 1; ++k)
                d.Treat(Pixel(above, k));
        }
    });
}
