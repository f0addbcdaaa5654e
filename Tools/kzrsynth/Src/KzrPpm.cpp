#include "KzrPpm.h"

#include "KPixelTypes.h"

#include <stdexcept>
#include <string>

#include "KQrlbFormat.h"

namespace kzrsynth {

std::vector<uint8_t> PpmBytes(int pixmapType, int width, int height, const uint8_t* data, size_t rowBytes)
{
    int maxval;
    switch (pixmapType) {
    case 7:
        maxval = 255;
        break;
    case 10:
        maxval = 2047;
        break;
    case 15:
    case 16:
        maxval = 65535;
        break;
    default:
        throw std::invalid_argument("no PPM form for pixel type " + std::to_string(pixmapType));
    }
    const std::string header = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n" +
                               std::to_string(maxval) + "\n";
    std::vector<uint8_t> out(header.begin(), header.end());
    const size_t sampleBytes = maxval > 255 ? 2 : 1;
    out.reserve(out.size() + size_t(width) * size_t(height) * 3 * sampleBytes);
    auto put16 = [&](uint32_t v) {
        out.push_back(static_cast<uint8_t>(v >> 8));
        out.push_back(static_cast<uint8_t>(v));
    };
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = data + size_t(y) * rowBytes;
        for (int x = 0; x < width; ++x) {
            if (pixmapType == 7) {
                out.insert(out.end(), row + size_t(x) * 3, row + size_t(x) * 3 + 3);
            } else if (pixmapType == 10) {
                const uint32_t w = KQrlb::ReadLE32(row + size_t(x) * 4);
                put16(w & 0x7FFu);
                put16((w >> 11) & 0x7FFu);
                put16(((w >> 22) & 0x3FFu) << 1);
            } else {
                for (int c = 0; c < 3; ++c)
                    put16(KQrlb::ReadLE16(row + (size_t(x) * 3 + size_t(c)) * 2));
            }
        }
    }
    return out;
}

std::vector<uint8_t> PpmBytes(const ExpectedImage& image)
{
    return PpmBytes(image.pixmapType, image.width, image.height, image.pixels.data(),
                    size_t(image.width) * size_t(KPixelTypeBytes(image.pixmapType)));
}

}  // namespace kzrsynth
