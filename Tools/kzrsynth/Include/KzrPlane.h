#pragma once
// Image content before encoding: three samples per pixel (channel 0, 1, 2), rows one after another.
// What a sample means depends on the data format it is encoded in (see KzrImageEncoder.h).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kzrsynth {

struct Plane {
    int width = 0;
    int height = 0;
    std::vector<int32_t> samples;

    Plane() = default;
    Plane(int w, int h, int32_t fill = 0) : width(w), height(h), samples(size_t(w) * size_t(h) * 3, fill) {}

    int32_t& At(int x, int y, int c) { return samples[(size_t(y) * size_t(width) + size_t(x)) * 3 + size_t(c)]; }
    int32_t At(int x, int y, int c) const { return samples[(size_t(y) * size_t(width) + size_t(x)) * 3 + size_t(c)]; }
    int32_t* Row(int y) { return samples.data() + size_t(y) * size_t(width) * 3; }
    const int32_t* Row(int y) const { return samples.data() + size_t(y) * size_t(width) * 3; }
};

// An image as the reader must deliver it: rows of width x bytes-per-pixel bytes (no padding) in the layout
// of the pixmap type (7 = 24RGB, 10 = 30RGB, 15 = 48RGB, 16 = 48SRGB).
struct ExpectedImage {
    int width = 0;
    int height = 0;
    int pixmapType = 0;
    uint32_t imageType = 0;
    uint32_t format = 0;
    std::vector<uint8_t> pixels;
};

// Pixmap type that receives a data format (-1 for formats the reader refuses to map).
int PixmapTypeOfFormat(uint32_t format);

}  // namespace kzrsynth
