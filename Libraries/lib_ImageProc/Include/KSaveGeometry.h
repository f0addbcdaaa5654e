#pragma once
// The geometry of a save: the size an image is fitted to, the strips it is developed in, and the box its
// thumbnail is fitted into.
#include "KTypes.h"

// The thumbnail's box: 160 x 160.
constexpr KInt32 kThumbnailBox = 160;

// One strip of a save: the rows it writes, and the rows developed above and below them for the filters that
// read neighbouring rows (not written).
struct KSaveStrip {
    KInt32 m_Rows = 0;
    KInt32 m_TopPadding = 0;
    KInt32 m_BottomPadding = 0;
};

// The strip after rowsWritten of rowsTotal rows, which lie below rowsAbove rows of the fitted image and above
// rowsBelow rows of it: at most 100 rows, with 2 rows of padding on each side where the fitted image has at
// least 2 rows there (a crop of the whole image: above once 2 rows are written, below while 2 rows follow).
KSaveStrip PlanSaveStrip(KInt32 rowsTotal, KInt32 rowsWritten, KInt32 rowsAbove = 0, KInt32 rowsBelow = 0);

// The image's size fitted into the output area with its aspect ratio kept, each side truncated towards zero
// (as the manager fits it); 0 x 0 when any size is below 1.
void FitSaveSize(KInt32 imageWidth, KInt32 imageHeight, KInt32 outputWidth, KInt32 outputHeight,
                 KInt32& fittedWidth, KInt32& fittedHeight);

// The box a TIFF thumbnail of a cols x rows image is fitted into: 160 x 160, or 160 x 136 when the thumbnail
// fitted into 160 x 160 would not fit the file's thumbnail resource (65535 bytes with its 40-byte header).
void TiffThumbnailBox(KInt32 cols, KInt32 rows, KInt32& boxWidth, KInt32& boxHeight);
