#pragma once
// Images as binary PPM files, the form in which kzrgen writes expected decodes and kzrdump writes what it
// read, so that the two compare byte for byte: 8 bits a sample for 24-bit types, 16 bits (most significant
// byte first, maxval 65535, signed values as their bit pattern) for 48-bit types, and 16 bits with maxval
// 2047 for 30RGB (blue's lost bit 0 as 0).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "KzrPlane.h"

namespace kzrsynth {

// Rows start rowBytes apart; throws std::invalid_argument for a pixel type without a PPM form.
std::vector<uint8_t> PpmBytes(int pixmapType, int width, int height, const uint8_t* data, size_t rowBytes);
std::vector<uint8_t> PpmBytes(const ExpectedImage& image);

}  // namespace kzrsynth
