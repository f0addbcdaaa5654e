#include "KzrImages.h"

#include <algorithm>
#include <stdexcept>

namespace kzrsynth {

int FirstImageOfType(KQrlbImageReader& reader, KUInt32 type)
{
    for (int i = 0; i < reader.GetNumImages(); ++i) {
        KQrlbSize size;
        int pixelType = 0;
        KUInt32 imageType = 0;
        reader.GetImageInfo(i, size, pixelType, imageType);
        if (imageType == type)
            return i;
    }
    return -1;
}

std::unique_ptr<OwnedImage> DecodeImage(KQrlbImageReader& reader, int index)
{
    KQrlbSize size;
    int pixelType = 0;
    KUInt32 imageType = 0;
    reader.GetImageInfo(index, size, pixelType, imageType);
    auto image = std::make_unique<OwnedImage>(size.columns, size.rows, pixelType);
    if (!reader.GetImage(index, image->Pixmap(), nullptr, nullptr))
        throw std::runtime_error("image read cancelled");
    return image;
}

KIDataMatrix* FloatColumn(const std::vector<double>& values)
{
    auto* m = new KDataMatrixTemplate<FloatClass>(static_cast<int32_t>(values.size()), 1);
    std::copy(values.begin(), values.end(), m->Elements());
    return m;
}

KIDataMatrix* IntMatrix(const std::vector<int32_t>& values, int32_t rows, int32_t columns)
{
    auto* m = new KDataMatrixTemplate<Int32Class>(rows, columns);
    std::copy(values.begin(), values.end(), m->Elements());
    return m;
}

}  // namespace kzrsynth
