#pragma once
// Stage 3 of development: the active area of the full-resolution working image, scaled to the fitted output
// size, turned by a quarter-turn rotation and cut to the crop rectangle, in one pass over the output pixels.
// Each sample is encoded through the cube-root table, green is nudged toward red by the calibration's green
// correction, and a second image receives the encoded luminance from which the detail layer is made.
//
// Called on one thread per output, or per band of an output's rows; keeps no state. The resampling table is
// built per call and freed before it returns, or made once for all the bands of an output by
// PrepareCropSizeRotate.
#include <memory>

#include "KLUT.h"
#include "KPixmap.h"
#include "KRect.h"
#include "KTypes.h"

struct KCropSizeRotateKernels;

// input: linear working image (4096 = 1.0). active: the picture's part of it (right and bottom exclusive).
// expectedWidth x expectedHeight: the picture's size in sensor orientation as the requester assumed it;
// outputWidth x outputHeight: the fitted picture after rotation; crop: the part of that to write, in output
// coordinates; rotation: clockwise degrees, a multiple of 90. out and luminance receive crop width x crop
// height pixels. greenWeight, greenHighLimit, greenLowLimit: the calibration's "GreenWeight", "GreenHighLimit"
// and "GreenLowLimit". Returns the resize factor (output pixels per sensor pixel).
//
// At exactly 1:1 each output pixel copies the nearest input pixel; otherwise it is the windowed-sinc sample of
// its position. A sample whose neighbourhood does not lie inside the input (two pixels from the edge for the
// resampler, the frame itself at 1:1) is the marker value (8000, 0, 0), a strong red.
//
// Throws KExceptionPixelProc2 when the rotation is not a multiple of 90 degrees, when the active area is
// smaller than 2 x 2 pixels or not inside the input, or when out or luminance is smaller than the crop;
// nothing is written then.
double CropSizeRotateMore(const KPixmapTemplate<KPixelClass48SRGB>& input, const KRect& active,
                          KInt32 expectedWidth, KInt32 expectedHeight, KInt32 outputWidth, KInt32 outputHeight,
                          const KRect& crop, KUInt32 rotation, const KLUT& cubeRoot,
                          KPixmapTemplate<KPixelClass48SRGB>& out, KPixmapTemplate<KPixelClass16SMono>& luminance,
                          double greenWeight, KInt32 greenHighLimit, KInt32 greenLowLimit,
                          const KCropSizeRotateKernels* kernels = nullptr);

// The resampling kernels of one output (the table and how wide its sums are, from the pixels the crop reads),
// for calls that make the output in bands of crop rows: null where the calls make no table (exactly 1:1, an
// empty crop) or would refuse their arguments. Arguments as CropSizeRotateMore's, crop the whole crop.
std::shared_ptr<const KCropSizeRotateKernels> PrepareCropSizeRotate(
    const KPixmapTemplate<KPixelClass48SRGB>& input, const KRect& active, KInt32 expectedWidth,
    KInt32 expectedHeight, KInt32 outputWidth, KInt32 outputHeight, const KRect& crop, KUInt32 rotation);
