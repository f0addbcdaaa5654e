#include <algorithm>
#include <initializer_list>

#include "KHighlights.h"
#include "KSaturate16.h"

namespace {

// What both despeckle variants share: the trigger levels (the clip levels raised by a sixteenth), the red
// ratios of the neutral and the blend test (10 fractional bits) and the neutral weights.
//
// A pixel that only just passes its trigger levels treats its neighbours in part: the change grows with how far
// it lies above them and is whole an eighth of the clip level above (every truly clipped pixel). A smooth
// highlight that rises through the trigger levels, as a warm light's white-balanced ramp does long before the
// sensor clips, thus blends into neutral instead of switching to it along a ragged line.
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
        m_BandR = std::max<KInt64>(clipLevels[0] >> 3, 1);
        m_BandGB = std::max<KInt64>((KInt64{clipLevels[1]} + clipLevels[2]) >> 3, 1);
        const KInt64 gb = KInt64{clipLevels[1]} + clipLevels[2];
        m_NeutralRatio = gb * 1280 / clipLevels[0];
        m_BlendRatio = gb * 1028 / clipLevels[0];
        return true;
    }

    // The strength with which the pixel treats its neighbours: 0 when it does not trigger, up to 4096 (whole).
    KInt64 Triggers(const KInt16* p) const
    {
        const KInt64 overR = p[0] - m_Trigger[0], overGB = KInt64{p[1]} + p[2] - m_TriggerGB;
        if (overR <= 0 || overGB <= 0)
            return 0;
        return std::min<KInt64>({overR * 4096 / m_BandR, overGB * 4096 / m_BandGB, 4096});
    }

    // A reddish pixel becomes the neutral of its own sum; a less reddish one moves a quarter of the way. With a
    // strength below 4096 the pixel moves that part of the way.
    void Treat(KInt16* p, KInt64 strength) const
    {
        const KInt64 r = p[0], g = p[1], b = p[2];
        const KInt64 sum = r + g + b;
        const KInt64 gb = (g + b) * 1024;
        KInt64 target[3];
        if (r * m_NeutralRatio > gb) {
            for (int c = 0; c < 3; ++c)
                target[c] = KSaturate16((m_Weight[c] * sum) >> 12);
        } else if (r * m_BlendRatio > gb) {
            for (int c = 0; c < 3; ++c)
                target[c] = KSaturate16((3 * KInt64{p[c]} + ((m_Weight[c] * sum) >> 12)) >> 2);
        } else {
            return;
        }
        for (int c = 0; c < 3; ++c)
            p[c] = static_cast<KInt16>(p[c] + (((target[c] - p[c]) * strength) >> 12));
    }

private:
    KInt64 m_Trigger[3] = {};
    KInt64 m_TriggerGB = 0;
    KInt64 m_BandR = 1;
    KInt64 m_BandGB = 1;
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
                  const KInt32 clipLevels[3], const KInt32 weights[3], const KInt16* rowAsFound)
{
    EachColumn(columns, thresholds, clipLevels, weights, [&](const KDespeckler& d, KInt32 j) {
        const KInt64 w = d.Triggers(rowAsFound ? rowAsFound + 3 * static_cast<ptrdiff_t>(j) : Pixel(row, j));
        if (w == 0)
            return;
        d.Treat(Pixel(above, j - 1), w);
        d.Treat(Pixel(above, j), w);
        d.Treat(Pixel(above, j + 1), w);
        d.Treat(Pixel(row, j - 1), w);
        d.Treat(Pixel(row, j + 1), w);
        d.Treat(Pixel(below, j - 1), w);
        d.Treat(Pixel(below, j), w);
        d.Treat(Pixel(below, j + 1), w);
    });
}

void DespeckleBulbRow(KInt16* row, KInt16* above, KInt16* below, KInt32 columns, const KInt32 thresholds[3],
                      const KInt32 clipLevels[3], const KInt32 weights[3])
{
    EachColumn(columns, thresholds, clipLevels, weights, [&](const KDespeckler& d, KInt32 j) {
        // Both tests use the pixels as they stand at the start of this column's step.
        const KInt64 fromAbove = d.Triggers(Pixel(above, j));
        const KInt64 fromBelow = d.Triggers(Pixel(below, j));
        if (fromAbove) {
            for (KInt32 k : {j - 2, j - 1, j + 1, j + 2})
                d.Treat(Pixel(above, k), fromAbove);
            for (KInt32 k = j - 2; k <= j + 2; ++k)
                d.Treat(Pixel(row, k), fromAbove);
            for (KInt32 k = j - 1; k <= j + 1; ++k)
                d.Treat(Pixel(below, k), fromAbove);
        }
        if (fromBelow) {
            for (KInt32 k = j - 2; k <= j + 2; ++k)
                d.Treat(Pixel(row, k), fromBelow);
            for (KInt32 k = j - 1; k <= j + 1; ++k)
                d.Treat(Pixel(above, k), fromBelow);
        }
    });
}
