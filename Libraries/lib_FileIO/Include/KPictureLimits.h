#pragma once
// How large a picture the readers decode. A header can declare any size; the readers refuse, before anyone sizes
// memory after it, a size beyond the largest picture and one that the file cannot possibly hold.
#include <cstdint>

// 2^28 pixels (about 268 megapixels, 805 MB as 24-bit RGB).
constexpr uint64_t kLargestPicturePixels = uint64_t(1) << 28;

// Compressed data stands for at most this many pixels a byte (a flat JPEG in Huffman coding needs a bit for
// every 32 pixels at the least); small pictures are taken whatever their file's size.
constexpr uint64_t kJPEGPixelsPerByte = 1024;
constexpr uint64_t kSmallPicturePixels = uint64_t(1) << 20;

// Compressed TIFF data unpacks to at most this many bytes a byte (LZW, the most, stays near 1400).
constexpr uint64_t kTIFFUnpackedBytesPerByte = 2048;
