#pragma once
// The 4 x 4 windowed-sinc resampler of stage 3. A table holds 256 kernels, one per sub-pixel phase (fy, fx) in
// sixteenths of a pixel, each of 16 weights in 16-bit fixed point (65536 = 1.0) that sum to about 65536.
// Weight j x 4 + i of kernel (fy, fx) multiplies the source pixel at column X - 1 + i and row Y - 1 + j, where
// (X, Y) is the whole-pixel part of the sample position. Tables are built per call (4096 kernel values with
// sine, cosine and power) and only read afterwards.
#include <memory>

#include "KPixmap.h"
#include "KTypes.h"

struct KResampleTable {
    static constexpr int kPhases = 16;
    static constexpr int kTaps = 16;

    KInt32 m_Weights[kPhases * kPhases][kTaps];

    const KInt32* Kernel(int fy, int fx) const { return m_Weights[fy * kPhases + fx]; }
};

// Radially symmetric kernels for nearly equal scales sx and sy (output pixels per input pixel).
std::unique_ptr<KResampleTable> CreateRadialResampleTable(double sx, double sy);
// Products of a horizontal and a vertical kernel, for unequal scales. The smaller scale is lowered to at most
// 0.8 and the larger to at most 1.1 first.
std::unique_ptr<KResampleTable> CreateSeparableResampleTable(double sx, double sy);
// The table stage 3 uses for these scales: radial when 0.9 < sx / sy < 1.1, else separable.
std::unique_ptr<KResampleTable> CreateResampleTable(double sx, double sy);

// Filters each channel k of image at its own position (x16[k], y16[k]) in sixteenths of a pixel: the sum over
// the 4 x 4 neighbourhood of weight x sample, formed exactly (in 64 bits), shifted right by 16. Throws
// KExceptionPixelProc2 when a neighbourhood does not lie inside the image.
void ResamplePixel4x4(const KPixmapTemplate<KPixelClass48SRGB>& image, KInt32 out[3], const KInt32 x16[3],
                      const KInt32 y16[3], const KResampleTable& table);
