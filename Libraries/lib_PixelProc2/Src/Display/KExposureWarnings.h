#pragma once
// The exposure-warning overlay of the equal-size copy: the blend tables of the two warning colours, built once
// per call, and the per-pixel rule.
#include <cstdint>

#include "KDisplayRescaler.h"

class KExposureWarnings {
public:
    KExposureWarnings(int shadowThreshold, int highlightThreshold, KWarningColor shadow, KWarningColor highlight);

    // Copies count 32BGRA pixels from s to d with the overlay.
    void CopyRow(uint8_t* d, const uint8_t* s, int32_t count) const;

    // ((S >> 8) + S + 1) >> 8 with S = value x (255 - alpha) + color x alpha.
    static uint8_t Blend(int value, int color, int alpha);

private:
    // Blended values by byte position (B, G, R) and value.
    uint8_t m_Shadow[3][256];
    uint8_t m_Highlight[3][256];
    // luma <= shadow threshold  <=>  6 R + 11 G + 3 B + 10 < m_ShadowLimit (luma = that sum / 20).
    int64_t m_ShadowLimit;
    int m_HighlightThreshold;
};
