#include "Display/KExposureWarnings.h"

#include <cstring>

KExposureWarnings::KExposureWarnings(int shadowThreshold, int highlightThreshold, KWarningColor shadow,
                                     KWarningColor highlight)
    : m_ShadowLimit(20 * (int64_t{shadowThreshold} + 1)), m_HighlightThreshold(highlightThreshold)
{
    const int shadowBytes[3] = {shadow.blue, shadow.green, shadow.red};
    const int highlightBytes[3] = {highlight.blue, highlight.green, highlight.red};
    for (int c = 0; c < 3; ++c) {
        for (int v = 0; v < 256; ++v) {
            m_Shadow[c][v] = Blend(v, shadowBytes[c], shadow.alpha);
            m_Highlight[c][v] = Blend(v, highlightBytes[c], highlight.alpha);
        }
    }
}

uint8_t KExposureWarnings::Blend(int value, int color, int alpha)
{
    const int s = value * (255 - alpha) + color * alpha;
    return static_cast<uint8_t>(((s >> 8) + s + 1) >> 8);
}

void KExposureWarnings::CopyRow(uint8_t* d, const uint8_t* s, int32_t count) const
{
    for (int32_t x = 0; x < count; ++x, s += 4, d += 4) {
        const int b = s[0], g = s[1], r = s[2];
        // luma = trunc(0.3 R + 0.55 G + 0.15 B + 0.5) = (6 R + 11 G + 3 B + 10) / 20, exactly.
        const uint8_t(*table)[256] = nullptr;
        if (6 * r + 11 * g + 3 * b + 10 < m_ShadowLimit)
            table = m_Shadow;
        else if (r >= m_HighlightThreshold || g >= m_HighlightThreshold || b >= m_HighlightThreshold)
            table = m_Highlight;
        if (table == nullptr) {
            std::memcpy(d, s, 4);
        } else {
            d[0] = table[0][b];
            d[1] = table[1][g];
            d[2] = table[2][r];
            d[3] = 255;
        }
    }
}
