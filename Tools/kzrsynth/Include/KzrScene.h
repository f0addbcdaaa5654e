#pragma once
// A deterministic model of what the camera sees and records: a grey ramp across the top, a grid of colour
// patches, and a dim lower band with a highlight bright enough to clip; a sensor with a per-channel black
// level, a column pattern, read noise and hot pixels. Every value is a pure function of the parameters and
// the pixel position, so any size renders the same picture and any seed gives other noise.
#include <cstdint>
#include <vector>

#include "KzrPlane.h"

namespace kzrsynth {

struct SceneParams {
    int width = 96;
    int height = 64;
    uint32_t seed = 1;
    int darkLevel[3] = {256, 240, 272};  // black level per channel (12-bit)
    int columnAmplitude = 6;             // column pattern of the dark frame, +- this much
    int readNoise = 3;                   // dark noise, +- about this much
    int whiteLevel = 3600;               // a scene value of 1.0 reaches this above the black level
    int hotPixels = -1;                  // hot pixels of the sensor; -1 = one per 20000 pixels, at least 2
    bool highlight = true;               // the clipped highlight
    // Masked borders of the frame (dark shields): black level, column pattern and noise, no light. The
    // scene fills the frame inside them.
    int shieldLeft = 0, shieldRight = 0, shieldTop = 0, shieldBottom = 0;
};

// Relative response of the sensor's three channels to a neutral scene.
inline constexpr double kChannelGain[3] = {0.62, 1.0, 0.78};

// Linear scene colour in [0, 1] (the highlight exceeds 1) at a point given as fractions of the frame.
void SceneRadiance(double u, double v, bool highlight, double rgb[3]);

// The dark frame: 12-bit values 0..4095.
Plane RenderDark(const SceneParams& p);
// The raw frame: the scene on the dark frame's black level, column pattern and hot pixels, with noise of its
// own, clipped to 12 bits.
Plane RenderRaw(const SceneParams& p);
// raw - dark, signed.
Plane Subtract(const Plane& raw, const Plane& dark);
// A viewable 8-bit rendering of the scene (gamma 1/2.2) at any size.
Plane RenderPreview(const SceneParams& p, int width, int height);
// Positions of the hot pixels, in order.
struct HotPixel {
    int x, y;
    int32_t extra;  // added to every channel of the dark and raw frames
};
std::vector<HotPixel> HotPixels(const SceneParams& p);

// 32-bit hash of a few words: the noise source.
uint32_t Hash(uint32_t a, uint32_t b, uint32_t c, uint32_t d);

}  // namespace kzrsynth
