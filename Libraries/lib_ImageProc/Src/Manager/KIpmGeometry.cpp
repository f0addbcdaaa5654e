#include "KIpmGeometry.h"

#include <algorithm>
#include <cstdint>

void FitSize(KInt32 imageWidth, KInt32 imageHeight, KInt32 outputWidth, KInt32 outputHeight, KInt32& fittedWidth,
             KInt32& fittedHeight)
{
    fittedWidth = fittedHeight = 0;
    if (imageWidth < 1 || imageHeight < 1 || outputWidth < 1 || outputHeight < 1)
        return;
    // outputHeight / outputWidth <= imageHeight / imageWidth, without the divisions.
    if (static_cast<KInt64>(outputHeight) * imageWidth <= static_cast<KInt64>(imageHeight) * outputWidth) {
        fittedHeight = outputHeight;
        fittedWidth = static_cast<KInt32>(static_cast<KInt64>(outputHeight) * imageWidth / imageHeight);
    } else {
        fittedWidth = outputWidth;
        fittedHeight = static_cast<KInt32>(static_cast<KInt64>(outputWidth) * imageHeight / imageWidth);
    }
}

KInt32 SaturatedDifference(KInt32 a, KInt32 b)
{
    return static_cast<KInt32>(std::clamp<KInt64>(KInt64{a} - b, INT32_MIN, INT32_MAX));
}

KInt32 QuarterTurn(KInt32 degrees)
{
    KInt32 turn = degrees % 360;
    if (turn < 0)
        turn += 360;
    return turn / 90 * 90;
}

KRect TurnBack(const KRect& r, KInt32 displayWidth, KInt32 displayHeight, KInt32 quarter)
{
    switch (quarter) {
    case 90:  // unturned (x, y) shows at (displayWidth - 1 - y, x)
        return KRect(r.top, displayWidth - r.right, r.bottom, displayWidth - r.left);
    case 180:
        return KRect(displayWidth - r.right, displayHeight - r.bottom, displayWidth - r.left,
                     displayHeight - r.top);
    case 270:  // unturned (x, y) shows at (y, displayHeight - 1 - x)
        return KRect(displayHeight - r.bottom, r.left, displayHeight - r.top, r.right);
    default:
        return r;
    }
}

bool CutCrop(KRect& rect, KInt32 fittedWidth, KInt32 fittedHeight, KInt32 minEnd)
{
    KRect cut = rect;
    cut.left = std::max(cut.left, 0);
    cut.top = std::max(cut.top, 0);
    if (cut.left >= fittedWidth || cut.top >= fittedHeight || cut.right < minEnd || cut.bottom < minEnd ||
        cut.left >= cut.right || cut.top >= cut.bottom)
        return false;
    cut.right = std::min(cut.right, fittedWidth);
    cut.bottom = std::min(cut.bottom, fittedHeight);
    rect = cut;
    return true;
}

KInt32 ChoosePreviewImage(const std::vector<KPreviewCandidate>& candidates, KInt32 neededWidth,
                          KInt32 neededHeight)
{
    const KPreviewCandidate* bigEnough = nullptr;
    const KPreviewCandidate* widestSmall = nullptr;
    for (const KPreviewCandidate& c : candidates) {
        const bool tooSmall = c.m_Width < neededWidth && c.m_Height < neededHeight;
        if (!tooSmall) {
            if (!bigEnough || c.m_Width < bigEnough->m_Width)
                bigEnough = &c;
        } else if (!widestSmall || c.m_Width > widestSmall->m_Width) {
            widestSmall = &c;
        }
    }
    if (bigEnough)
        return bigEnough->m_Index;
    return widestSmall ? widestSmall->m_Index : -1;
}
