#pragma once
// Helpers of the stage-2 filter tests and benchmarks: a working image over memory of its own, and the loops by
// which the engine's stage 2 calls the row filters (the ring passes, the coarse pass, the hot-pixel step).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "KChromaBlur.h"
#include "KHotPixels.h"
#include "KPixmap.h"
#include "RawStageTestSupport.h"

namespace stage2 {

// The working image (48SRGB) over memory of its own, with the fills and comparisons of the filter tests.
class WorkingImage : public rawstage::Image {
public:
    using rawstage::Image::Image;

    KPixmapTemplate<KPixelClass48SRGB>& Pixmap() { return *Get(); }
    const KPixmapTemplate<KPixelClass48SRGB>& Pixmap() const { return *Get(); }
    void Set(int32_t x, int32_t y, int r, int g, int b)
    {
        At(x, y, 0) = int16_t(r);
        At(x, y, 1) = int16_t(g);
        At(x, y, 2) = int16_t(b);
    }
    void Fill(int r, int g, int b)
    {
        FillBy([&](int32_t, int32_t, int c) { return c == 0 ? r : (c == 1 ? g : b); });
    }
    // Grey level plus uniform noise of +-amplitude per channel.
    void FillNoise(uint32_t seed, int level, int amplitude)
    {
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> noise(-amplitude, amplitude);
        FillBy([&](int32_t, int32_t, int) { return level + noise(random); });
    }
};

// Scratch rows of pixels for the ring and coarse passes: the engine takes them from a scratch pixmap.
class Scratch {
public:
    Scratch(int32_t width, size_t rows) : m_Width(width), m_Data(size_t(width) * 3 * rows) {}
    int16_t* Row(size_t i) { return m_Data.data() + i * size_t(m_Width) * 3; }
    int16_t* Data() { return m_Data.data(); }

private:
    int32_t m_Width;
    std::vector<int16_t> m_Data;
};

// A ring pass as stage 2 runs it: rows 0 .. n - 1 as input, then the last one again; the output is the row
// whose smoothed copy is in the middle slot m (m = N / 2), m rows behind the input. When the input reaches row
// m, the middle slot (the first row, smoothed) is copied over the slots above it before the call.
template <int N, class Filter>
void RingPass(WorkingImage& image, Filter filter)
{
    constexpr int32_t kMiddle = N / 2;
    const int32_t rows = image.Height(), cols = image.Width();
    Scratch scratch(cols, N);
    KChromaBlurRing<N> ring;
    for (int i = 0; i < N; ++i)
        ring.m_pSlot[i] = scratch.Row(size_t(i));
    for (int32_t r = 0; r < rows + kMiddle; ++r) {
        if (r == kMiddle)
            for (int i = 0; i < kMiddle; ++i)
                std::copy(ring.m_pSlot[kMiddle], ring.m_pSlot[kMiddle] + size_t(cols) * 3, ring.m_pSlot[i]);
        filter(image.Row(std::min(r, rows - 1)), r >= kMiddle ? image.Row(r - kMiddle) : nullptr, ring, cols);
    }
}

inline void ChromaBlur3Pass(WorkingImage& image, const double limits[3], int32_t spatial, const KColorLUT& lut)
{
    RingPass<3>(image, [&](const int16_t* in, int16_t* out, KChromaBlurRing3& ring, int32_t cols) {
        ChromaBlurRow3(in, out, limits, spatial, ring, cols, lut);
    });
}

inline void ChromaBlur5Pass(WorkingImage& image, const double limits[3], int32_t spatial, const KColorLUT& lut)
{
    RingPass<5>(image, [&](const int16_t* in, int16_t* out, KChromaBlurRing5& ring, int32_t cols) {
        ChromaBlurRow(in, out, limits, spatial, ring, cols, lut);
    });
}

// The coarse chroma pass: the reduced image, then every row in order with the two work rows.
inline void ChromaBlurCoarsePass(WorkingImage& image, const double limits[3], int32_t spatial, const KColorLUT& lut)
{
    const int32_t rows = image.Height(), cols = image.Width();
    const size_t reduced = size_t((rows + 3) / 4) * size_t((cols + 3) / 4);
    Scratch scratch(cols, 2 + (reduced + size_t(cols) - 1) / size_t(cols));
    ChromaBlurReduce(image.Pixmap(), 5.0, scratch.Row(2));
    for (int32_t r = 0; r < rows; ++r)
        ChromaBlurCoarseRow(image.Row(r), r, 5.0, 5.0, limits, spatial, scratch.Row(2), scratch.Row(0), cols, lut);
}

// The hot-pixel step of stage 2: rows 1 .. n - 2, top down.
inline void HotPixelStep(WorkingImage& image, bool longExposure)
{
    for (int32_t r = 1; r < image.Height() - 1; ++r)
        (longExposure ? RemoveHotPixelsRowLongExposure : RemoveHotPixelsRow)(image.Row(r - 1), image.Row(r),
                                                                              image.Row(r + 1), image.Width());
}

}  // namespace stage2
