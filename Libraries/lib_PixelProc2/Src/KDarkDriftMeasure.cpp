#include "KDarkDriftMeasure.h"

#include <algorithm>

#include "KExceptionPixelProc2.h"

KRowDrift CalculateDrift(const KPixmapTemplate<KPixelClass48SRGB>* image, const KRect& shield)
{
    if (!image)
        throw KExceptionPixelProc2("CalculateDrift: input image is NULL");
    if (!image->GetData())
        throw KExceptionPixelProc2("CalculateDrift: Input image has NULL buffer");
    const KInt32 rows = image->GetHeight();
    if (shield.top < 0 || shield.top >= rows || shield.bottom > rows)
        throw KExceptionPixelProc2("Calculate drift: DarkShield out of range");

    KRowDrift result;
    const KInt32 left = std::max(shield.left, 0);
    const KInt32 right = std::min(shield.right, image->GetWidth());
    if (shield.top >= shield.bottom || left >= right)
        return result;

    double sum[3] = {0, 0, 0};
    for (KInt32 y = shield.top; y < shield.bottom; ++y) {
        const KInt16* p = reinterpret_cast<const KInt16*>(image->GetRow(y));
        for (KInt32 x = left; x < right; ++x)
            for (int c = 0; c < 3; ++c)
                sum[c] += p[3 * x + c];
    }
    const double count = double(right - left) * double(shield.bottom - shield.top);
    for (int c = 0; c < 3; ++c)
        result.m_Mean[c] = sum[c] / count;

    const KInt32 centre = (left + right) / 2;
    double moment[3] = {0, 0, 0};
    for (KInt32 y = shield.top; y < shield.bottom; ++y) {
        const KInt16* p = reinterpret_cast<const KInt16*>(image->GetRow(y));
        for (KInt32 x = left; x < right; ++x)
            for (int c = 0; c < 3; ++c)
                moment[c] += (p[3 * x + c] - result.m_Mean[c]) * double(x - centre);
    }
    // Scaled by the width of the whole image: a slope is the change across the full row.
    for (int c = 0; c < 3; ++c)
        result.m_Slope[c] = moment[c] / image->GetWidth() * 12 / count;
    return result;
}

KDarkDrift CalculateTopAndBottomDrift(const KPixmapTemplate<KPixelClass48SRGB>* image, const KRect& top,
                                      const KRect& bottom)
{
    KDarkDrift drift;
    const KRowDrift ends[2] = {CalculateDrift(image, top), CalculateDrift(image, bottom)};
    for (int e = 0; e < 2; ++e)
        for (int c = 0; c < 3; ++c) {
            drift.m_Value[e][0][c] = ends[e].m_Slope[c];
            drift.m_Value[e][1][c] = ends[e].m_Mean[c];
        }
    return drift;
}

KRowDrift InterpolateDarkDrift(const KDarkDrift& drift, KInt32 row, KInt32 rows)
{
    // A frame of one row has only its top end.
    const double t = rows > 1 ? double(row) / double(rows - 1) : 0.0;
    KRowDrift r;
    for (int c = 0; c < 3; ++c) {
        r.m_Slope[c] = drift.m_Value[0][0][c] + (drift.m_Value[1][0][c] - drift.m_Value[0][0][c]) * t;
        r.m_Mean[c] = drift.m_Value[0][1][c] + (drift.m_Value[1][1][c] - drift.m_Value[0][1][c]) * t;
    }
    return r;
}
