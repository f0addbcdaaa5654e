#include "KConversionFrame.h"

#include <algorithm>

#include "KException.h"

namespace KConversionFrame {

const char* const kUnknownSourceType = "Unknown source pixel type in ConvertColorPixmap";
const char* const kUnknownDestinationType = "Unknown destination pixel type in ConvertColorPixmap";

void CheckPixmaps(const KPixmap* input, const KPixmap* output)
{
    if (output == nullptr)
        throw KException("The output pixmap has not been initialized: ConvertColorPixmap");
    if (input == nullptr)
        throw KException("The input pixmap has not been initialized: ConvertColorPixmap");
    if (output->GetWidth() > input->GetWidth() || output->GetHeight() > input->GetHeight())
        throw KException("The output pixmap is larger than the input pixmap: ConvertColorPixmap.");
}

KRect Region(const KPixmap& input, const KPixmap& output, const KRect* crop, const char* cropMessage)
{
    if (crop == nullptr)
        return KRect(0, 0, input.GetWidth(), input.GetHeight());
    if (int64_t{crop->right} - crop->left > output.GetWidth() || int64_t{crop->bottom} - crop->top > output.GetHeight())
        throw KException(cropMessage);
    return *crop;
}

Rows CheckedRows(const KPixmap& input, KPixmap& output, const KRect& region)
{
    Rows rows;
    const int64_t rowCount = std::max<int64_t>(0, int64_t{region.bottom} - region.top);
    const int32_t count = std::max<int32_t>(0, output.GetWidth());
    if (rowCount == 0 || count == 0)
        return rows;  // nothing to convert
    // Each row is as long as the output: it must lie inside the input row, and every region row needs an
    // output row.
    if (rowCount > output.GetHeight())
        throw KException("The output pixmap has fewer rows than the region: ConvertColorPixmap.");
    if (region.left < 0 || region.top < 0 || region.bottom > input.GetHeight() ||
        int64_t{region.left} + count > input.GetWidth())
        throw KException("The region does not lie inside the input pixmap: ConvertColorPixmap.");
    if (input.GetData() == nullptr)
        throw KException("The input pixmap has not been initialized: ConvertColorPixmap");
    if (output.GetData() == nullptr)
        throw KException("The output pixmap has not been initialized: ConvertColorPixmap");

    rows.source = input.GetRow(region.top) + static_cast<ptrdiff_t>(region.left) * input.GetBytesPerPixel();
    rows.sourceStride = input.GetRowBytes();
    rows.destination = output.GetRow(0);
    rows.destinationStride = output.GetRowBytes();
    rows.rows = static_cast<int32_t>(rowCount);
    rows.count = count;
    return rows;
}

}  // namespace KConversionFrame
