#pragma once
// What tools and benchmarks that drive the engine directly need around it: images that release themselves,
// the frames of a raw file decoded into them, and the matrices of request parameters.
#include <memory>
#include <vector>

#include "KDataMatrix.h"
#include "KImage.h"
#include "KQrlbImageReader.h"

namespace kzrsynth {

// An image with rows aligned to 4 bytes, as the cache holds them.
class OwnedImage {
public:
    OwnedImage(KInt32 width, KInt32 height, int pixelType) : m_pImage(new KImage(width, height, pixelType, 4)) {}
    ~OwnedImage() { m_pImage->Release(); }
    OwnedImage(const OwnedImage&) = delete;
    OwnedImage& operator=(const OwnedImage&) = delete;
    KPixmap* Pixmap() const { return m_pImage->GetPixmap(); }

private:
    KImage* m_pImage;
};

// The index of the first image of a section type, or -1.
int FirstImageOfType(KQrlbImageReader& reader, KUInt32 type);
// Image `index` decoded into an image of its own size and pixel type.
std::unique_ptr<OwnedImage> DecodeImage(KQrlbImageReader& reader, int index);

// A column of numbers, and a matrix of whole numbers filled row by row.
KIDataMatrix* FloatColumn(const std::vector<double>& values);
KIDataMatrix* IntMatrix(const std::vector<int32_t>& values, int32_t rows, int32_t columns);

}  // namespace kzrsynth
