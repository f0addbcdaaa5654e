#pragma once
// Stage 1 of development: every raw value and the matching dark value go through the camera's per-channel
// linearisation tables and the dark result is subtracted from the raw one. Optionally a per-column offset,
// measured on a few rows of a frame, is added to both values before the look-up, which removes column banding.
//
// Frames are 48RGB pixmaps (unsigned 16-bit R, G, B), the result a 48SRGB pixmap of the same size. The row
// kernels take row pointers (pixels of three samples, aligned for 16-bit access) and allocate nothing.
#include "KLUT.h"
#include "KPixmap.h"
#include "KTypes.h"

// Checks the arguments of stage 1; throws KExceptionPixelProc2 when a pixmap is missing or the sizes differ.
// The table is not checked.
void LinearizeAndDarkSubtractImage(const KPixmapTemplate<KPixelClass48RGB>* dark,
                                   const KPixmapTemplate<KPixelClass48RGB>* raw, const KColorLUT* lut,
                                   const KPixmapTemplate<KPixelClass48SRGB>* out);

// out = LUT[raw & mask] - LUT[dark & mask] per channel; a difference beyond the signed 16-bit range saturates.
// out must not overlap the input rows.
void LinearizeAndDarkSubtractRow(const KUInt16* dark, const KUInt16* raw, KInt32 columns, const KColorLUT& lut,
                                 KInt16* out);

// As above with the column's offset (three signed values per column) added to both values before the look-up.
// A value inside the table stays inside it: a sum beyond the top entry reads the top entry, a negative sum
// entry 0. A value beyond the table wraps through the mask with its offset.
void LinearizeAndDarkSubtractRowWithOffsets(const KUInt16* dark, const KUInt16* raw, KInt32 columns,
                                            const KColorLUT& lut, KInt16* out, const KInt16* offsets);

// Measures the column offsets (width x 3 values, filled) on rows firstRow, firstRow + rowStep, ... up to
// lastRow of frame: per column the mean of the measured values without the smallest and the largest, against
// the same smoothed across the columns by a forward and a backward recursive filter of the given shift.
// Returns false, with all offsets 0, when the rows do not give offsets: a row step of 0, fewer than three
// rows, or rows outside the frame.
bool CalculateRawOffsets(const KPixmapTemplate<KPixelClass48RGB>* frame, KInt16* offsets, KUInt32 firstRow,
                         KUInt32 lastRow, KUInt32 rowStep, KUInt32 shift);
