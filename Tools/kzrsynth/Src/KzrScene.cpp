#include "KzrScene.h"

#include <algorithm>
#include <cmath>

namespace kzrsynth {

namespace {

// Linear colours of the patch grid, two rows of six.
constexpr double kPatches[12][3] = {
    {0.60, 0.05, 0.05}, {0.08, 0.45, 0.08}, {0.05, 0.07, 0.55}, {0.05, 0.40, 0.50}, {0.50, 0.06, 0.45},
    {0.70, 0.60, 0.06}, {0.45, 0.30, 0.22}, {0.18, 0.25, 0.45}, {0.10, 0.16, 0.06}, {0.90, 0.90, 0.90},
    {0.18, 0.18, 0.18}, {0.02, 0.02, 0.02},
};

constexpr uint32_t kSaltColumn = 0x636F6C00u;
constexpr uint32_t kSaltDarkNoise = 0x64726B00u;
constexpr uint32_t kSaltRawNoise = 0x72617700u;
constexpr uint32_t kSaltHot = 0x686F7400u;

int32_t Uniform(uint32_t h, int amplitude)
{
    return amplitude > 0 ? static_cast<int32_t>(h % uint32_t(2 * amplitude + 1)) - amplitude : 0;
}

int32_t Clip12(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, 0, 4095)); }

// Black level, column pattern and hot pixels: what the dark and the raw frame share.
Plane SensorBase(const SceneParams& p)
{
    Plane base(p.width, p.height);
    std::vector<int32_t> column(size_t(p.width) * 3);
    for (int x = 0; x < p.width; ++x)
        for (int c = 0; c < 3; ++c)
            column[size_t(x) * 3 + c] =
                p.darkLevel[c] + Uniform(Hash(p.seed, uint32_t(x), uint32_t(c), kSaltColumn), p.columnAmplitude);
    for (int y = 0; y < p.height; ++y)
        std::copy(column.begin(), column.end(), base.Row(y));
    for (const HotPixel& h : HotPixels(p))
        for (int c = 0; c < 3; ++c)
            base.At(h.x, h.y, c) += h.extra;
    return base;
}

}  // namespace

uint32_t Hash(uint32_t a, uint32_t b, uint32_t c, uint32_t d)
{
    uint64_t h = 0x9E3779B97F4A7C15ull ^ a;
    for (uint32_t w : {b, c, d}) {
        h ^= w + 0x632BE59BD9B4E019ull + (h << 6) + (h >> 2);
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
    }
    h *= 0x94D049BB133111EBull;
    h ^= h >> 29;
    return static_cast<uint32_t>(h >> 16);
}

void SceneRadiance(double u, double v, bool highlight, double rgb[3])
{
    if (v < 0.25) {
        rgb[0] = rgb[1] = rgb[2] = u;
        return;
    }
    if (v < 0.75) {
        const int column = std::min(5, static_cast<int>(u * 6.0));
        const int row = v < 0.5 ? 0 : 1;
        for (int c = 0; c < 3; ++c)
            rgb[c] = kPatches[row * 6 + column][c];
        return;
    }
    const double du = (u - 0.8) / 0.09;
    const double dv = (v - 0.875) / 0.09;
    if (highlight && du * du + dv * dv <= 1.0) {
        rgb[0] = rgb[1] = rgb[2] = 1.6;
        return;
    }
    rgb[0] = 0.05 + 0.10 * u;
    rgb[1] = 0.06 + 0.08 * u;
    rgb[2] = 0.08 + 0.04 * u;
}

std::vector<HotPixel> HotPixels(const SceneParams& p)
{
    std::vector<HotPixel> hot;
    if (p.width <= 0 || p.height <= 0)
        return hot;
    const int64_t area = int64_t(p.width) * p.height;
    const int count = p.hotPixels >= 0 ? p.hotPixels : static_cast<int>(std::max<int64_t>(2, area / 20000));
    for (int i = 0; i < count; ++i) {
        HotPixel h;
        h.x = static_cast<int>(Hash(p.seed, uint32_t(i), 1, kSaltHot) % uint32_t(p.width));
        h.y = static_cast<int>(Hash(p.seed, uint32_t(i), 2, kSaltHot) % uint32_t(p.height));
        h.extra = 800 + static_cast<int32_t>(Hash(p.seed, uint32_t(i), 3, kSaltHot) % 2400u);
        hot.push_back(h);
    }
    return hot;
}

Plane RenderDark(const SceneParams& p)
{
    Plane dark = SensorBase(p);
    for (int y = 0; y < p.height; ++y) {
        int32_t* row = dark.Row(y);
        for (int x = 0; x < p.width; ++x)
            for (int c = 0; c < 3; ++c) {
                int32_t& s = row[size_t(x) * 3 + c];
                s = Clip12(int64_t(s) + Uniform(Hash(p.seed, uint32_t(x), uint32_t(y) * 3 + c, kSaltDarkNoise),
                                                p.readNoise));
            }
    }
    return dark;
}

Plane RenderRaw(const SceneParams& p)
{
    Plane raw = SensorBase(p);
    const int sceneWidth = p.width - p.shieldLeft - p.shieldRight;
    const int sceneHeight = p.height - p.shieldTop - p.shieldBottom;
    std::vector<double> u(size_t(std::max(p.width, 0)));
    for (int x = 0; x < p.width; ++x)
        u[size_t(x)] = (x - p.shieldLeft + 0.5) / sceneWidth;
    for (int y = 0; y < p.height; ++y) {
        const double v = (y - p.shieldTop + 0.5) / sceneHeight;
        const bool maskedRow = y < p.shieldTop || y >= p.height - p.shieldBottom;
        int32_t* row = raw.Row(y);
        for (int x = 0; x < p.width; ++x) {
            double rgb[3] = {0.0, 0.0, 0.0};
            if (!maskedRow && x >= p.shieldLeft && x < p.width - p.shieldRight)
                SceneRadiance(u[size_t(x)], v, p.highlight, rgb);
            const uint32_t h = Hash(p.seed, uint32_t(x), uint32_t(y), kSaltRawNoise);
            for (int c = 0; c < 3; ++c) {
                const double signal = rgb[c] * p.whiteLevel * kChannelGain[c];
                // Read noise plus a shot noise that grows with the square root of the signal.
                const int shot = static_cast<int>(std::sqrt(std::max(signal, 0.0)) * 0.25);
                const int32_t noise = Uniform(h >> (c * 8), p.readNoise) + Uniform(h * (c + 7), shot);
                int32_t& s = row[size_t(x) * 3 + c];
                s = Clip12(int64_t(s) + static_cast<int64_t>(std::lround(signal)) + noise);
            }
        }
    }
    return raw;
}

Plane Subtract(const Plane& raw, const Plane& dark)
{
    Plane out(raw.width, raw.height);
    for (size_t i = 0; i < out.samples.size(); ++i)
        out.samples[i] = raw.samples[i] - dark.samples[i];
    return out;
}

Plane RenderPreview(const SceneParams& p, int width, int height)
{
    Plane out(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double rgb[3];
            SceneRadiance((x + 0.5) / width, (y + 0.5) / height, p.highlight, rgb);
            for (int c = 0; c < 3; ++c)
                out.At(x, y, c) =
                    static_cast<int32_t>(std::lround(255.0 * std::pow(std::clamp(rgb[c], 0.0, 1.0), 1.0 / 2.2)));
        }
    return out;
}

}  // namespace kzrsynth
