#include "KSaveGeometry.h"

#include <algorithm>

#include "Manager/KIpmGeometry.h"

namespace {

constexpr KInt32 kStripRows = 100;
constexpr KInt32 kStripPadding = 2;
constexpr KInt64 kThumbnailResourceLimit = 65535;
constexpr KInt64 kThumbnailResourceHeader = 40;
// 136 rows of 480 bytes (160 pixels) and the header fit the resource.
constexpr KInt32 kTiffThumbnailHeight = 136;

}  // namespace

KSaveStrip PlanSaveStrip(KInt32 rowsTotal, KInt32 rowsWritten, KInt32 rowsAbove, KInt32 rowsBelow)
{
    KSaveStrip strip;
    strip.m_Rows = std::max(0, std::min(kStripRows, rowsTotal - rowsWritten));
    strip.m_TopPadding = rowsAbove + rowsWritten < kStripPadding ? 0 : kStripPadding;
    strip.m_BottomPadding = rowsTotal - rowsWritten - strip.m_Rows + rowsBelow < kStripPadding ? 0 : kStripPadding;
    return strip;
}

void FitSaveSize(KInt32 imageWidth, KInt32 imageHeight, KInt32 outputWidth, KInt32 outputHeight,
                 KInt32& fittedWidth, KInt32& fittedHeight)
{
    FitSize(imageWidth, imageHeight, outputWidth, outputHeight, fittedWidth, fittedHeight);
}

void TiffThumbnailBox(KInt32 cols, KInt32 rows, KInt32& boxWidth, KInt32& boxHeight)
{
    boxWidth = boxHeight = kThumbnailBox;
    KInt32 width = 0, height = 0;
    FitSaveSize(cols, rows, boxWidth, boxHeight, width, height);
    const KInt64 stride = (static_cast<KInt64>(width) * 3 + 3) / 4 * 4;
    if (height * stride + kThumbnailResourceHeader > kThumbnailResourceLimit)
        boxHeight = kTiffThumbnailHeight;
}
