#pragma once
// Unsharp mask on the red channel of the working image (48SRGB), whose red is softer than green and blue: a
// separable 1-4-6-4-1 smoothing over a five-row window and a horizontal three-tap blend with asymmetric weights.
#include "KTypes.h"

// Five buffers of one value per image column, slot 0 the oldest row of the window and slot 4 the newest. The
// caller supplies the buffers; values are the horizontally smoothed red of a row (signed).
struct KRedSharpenRing {
    KInt32* m_pSlot[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
};

// Smooths the red of input (columns pixels) into slot 4 and, when output is given (the row two above the input,
// the centre of the window), sharpens its red in place by amount (green and blue and the first and last columns
// stay). left and right weigh the neighbours in 14 fractional bits. The ring then moves on by one row. Red
// values are limited to 32000 above and saturate at -32768 below. Rows under five columns are only smoothed
// (with the edge pixels repeated).
//
// Calling pattern over an image of n rows: for r = 0 .. n + 1 the input is row min(r, n - 1) and the output
// row r - 2 from r = 2 on; at r = 2, before the call, slot 2 is copied into slots 0 and 1.
void RedSharpenRow(const KInt16* input, KInt16* output, KInt32 amount, KRedSharpenRing& ring, KInt32 columns,
                   KInt32 left, KInt32 right);
