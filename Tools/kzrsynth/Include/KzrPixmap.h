#pragma once
// A pixmap that owns its rows, filled with one byte: what tools, tests, fuzz targets and benchmarks hand to
// the reader to decode into. Rows are padded as cache-held pixmaps pad them, unless rowBytes says otherwise.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "KPixmap.h"

namespace kzrsynth {

struct OwnedPixmap {
    OwnedPixmap(int type, int width, int height, uint8_t fill = 0, int32_t rowBytes = 0);
    OwnedPixmap(const OwnedPixmap&) = delete;
    OwnedPixmap& operator=(const OwnedPixmap&) = delete;

    // Row y without the padding at its end.
    std::vector<uint8_t> Row(int y) const;
    // The rows one after another without their padding, as the generator's expected images hold them.
    std::vector<uint8_t> Tight() const;

    std::vector<uint8_t> pixels;
    std::unique_ptr<uint8_t[]> header;
    KPixmap* pixmap = nullptr;
    int32_t rowBytes = 0;
};

}  // namespace kzrsynth
