#pragma once
// The frame that colour and grey conversion share: the checks on the two pixmaps and the region, and the loop
// that hands each source row and its output row to a row converter.
#include <cstddef>
#include <cstdint>

#include "KPixmap.h"
#include "KRect.h"
#include "KRowConverters.h"

namespace KConversionFrame {

extern const char* const kUnknownSourceType;
extern const char* const kUnknownDestinationType;

// The rows to convert, all checked: rows x count pixels.
struct Rows {
    const uint8_t* source = nullptr;  // first pixel of the region's first row
    ptrdiff_t sourceStride = 0;
    uint8_t* destination = nullptr;  // output row 0
    ptrdiff_t destinationStride = 0;
    int32_t rows = 0;
    int32_t count = 0;
};

// The checks before the type dispatch: an output, an input, an output no larger than the input.
void CheckPixmaps(const KPixmap* input, const KPixmap* output);

// The region (crop or the whole input) and the crop's check against the output size, which throws cropMessage.
KRect Region(const KPixmap& input, const KPixmap& output, const KRect* crop, const char* cropMessage);

// Checks that the region's rows and the output-wide rows lie inside both pixmaps and returns them.
Rows CheckedRows(const KPixmap& input, KPixmap& output, const KRect& region);

inline void ConvertRows(const Rows& rows, KRowConverter convert)
{
    const uint8_t* s = rows.source;
    uint8_t* d = rows.destination;
    for (int32_t r = 0; r < rows.rows; ++r, s += rows.sourceStride, d += rows.destinationStride)
        convert(rows.count, s, d);
}

}  // namespace KConversionFrame
