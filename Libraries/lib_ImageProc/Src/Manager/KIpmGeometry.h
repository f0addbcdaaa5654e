#pragma once
// Geometry of the manager's answers: fitting an image into an output area, quarter turns of rectangles, and
// the choice of the embedded image a preview is made from.
#include <vector>

#include "KRect.h"
#include "KTypes.h"

// The image's size fitted into the output area with its aspect ratio kept, each side truncated towards zero:
// when the area is relatively wider than the image the height is kept, else the width. 0 x 0 when any size
// is below 1.
void FitSize(KInt32 imageWidth, KInt32 imageHeight, KInt32 outputWidth, KInt32 outputHeight, KInt32& fittedWidth,
             KInt32& fittedHeight);

// a - b brought into the 32-bit range: sides of rectangles that callers and files give.
KInt32 SaturatedDifference(KInt32 a, KInt32 b);

// A rotation in degrees as 0, 90, 180 or 270 (clockwise; other angles fall back to the quarter below them).
KInt32 QuarterTurn(KInt32 degrees);
// Whether a quarter turn exchanges width and height.
inline bool SwapsSides(KInt32 quarter)
{
    return quarter == 90 || quarter == 270;
}

// A rectangle of an image shown turned clockwise by quarter (display size displayWidth x displayHeight), in
// the coordinates of the unturned image.
KRect TurnBack(const KRect& rect, KInt32 displayWidth, KInt32 displayHeight, KInt32 quarter);

// Crop checks and cuts shared by the preview and stage 3: left and top raised to 0; the rectangle must then
// start inside the fitted size, reach at least minEnd, and have left < right and top < bottom; right and
// bottom are cut to the fitted size. False when it does not qualify (rect unchanged). Raising a negative left
// or top goes beyond the checks asked for, which let such a corner through: the output would then start
// before the picture, where stage 3 has nothing to sample.
bool CutCrop(KRect& rect, KInt32 fittedWidth, KInt32 fittedHeight, KInt32 minEnd);

struct KPreviewCandidate {
    KInt32 m_Index;
    KInt32 m_Width;
    KInt32 m_Height;
};

// Candidates in the order they were asked (last index first). The narrowest image that is not too small (too
// small: narrower and lower than needed); on equal widths the first stays. Without one, the widest too-small
// image. -1 when there are no candidates.
KInt32 ChoosePreviewImage(const std::vector<KPreviewCandidate>& candidates, KInt32 neededWidth,
                          KInt32 neededHeight);
