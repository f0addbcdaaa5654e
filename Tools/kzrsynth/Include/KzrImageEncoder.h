#pragma once
// Encodes a plane as the image data of one image section, in any data format, and says exactly what the
// reader must decode from it.
//
// What the plane's samples mean per format:
//   0: 16-bit samples (the low 16 bits are stored);            1: 11-bit R, G, B (B loses its bit 0);
//   2: 10-bit samples (unreadable: negative tests);            3 and 11: 8-bit samples;
//   4: 12-bit samples (the last width mod 8 pixels of a row are stored but not decoded: expected 0);
//   5 and 6: the running sums the DPCM should reach; the encoder takes, per sample, the table delta that
//   comes nearest, so the expected decode is the sums it reached, as signed 16-bit values (wrapping);
//   7..10: any other format word, stored like format 0 (unreadable: negative tests).
#include <cstdint>
#include <vector>

#include "KQrlbFormat.h"
#include "KzrPlane.h"

namespace kzrsynth {

struct ImageLayout {
    uint32_t imageType = KQrlb::kImageRaw;
    uint32_t format = KQrlb::kFormatPacked12;
    Plane plane;
    bool ima2 = false;        // listed as "IMA2" (after every "IMAG" image)
    uint32_t version = 0;     // section version word; 0 = the file's version
    uint32_t rowSize = 0;     // fixed-row formats: 0 = the natural size; more pads rows, less cuts them
    int maxCodeLength = 16;   // Huffman formats: longest code allowed
    std::vector<int16_t> deltaTable;  // formats 5 and 6: empty = DefaultDeltaTable()
    int dirLevel = 0;         // 0 = listed in the top directory, n = in the directory nested n deep
};

struct EncodedImage {
    std::vector<uint8_t> data;     // the image data that follows the section header
    uint32_t rowSize = 0;          // the header's row size (0 for the Huffman formats)
    bool decodable = true;         // false when the reader must refuse the image
    ExpectedImage expected;        // valid when decodable
    int longestCode = 0;           // Huffman formats: longest code of the table
    std::vector<uint64_t> rowBits; // Huffman formats: code bits of each row, before its padding
};

EncodedImage EncodeImage(const ImageLayout& layout);

// Natural row size of a fixed-row format for a width (0 for the Huffman formats).
uint32_t NaturalRowSize(uint32_t format, int width);

// Delta table of formats 5 and 6: codes 0..1023 stand for -512..511, exact within +-256 and growing
// quadratically beyond, up to about +-32000.
std::vector<int16_t> DefaultDeltaTable();

}  // namespace kzrsynth
