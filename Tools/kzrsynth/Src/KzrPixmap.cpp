#include "KzrPixmap.h"

namespace kzrsynth {

OwnedPixmap::OwnedPixmap(int type, int width, int height, uint8_t fill, int32_t rowBytesWanted)
{
    int32_t headerSize = 0, rounded = 0;
    GetKPixmapSizes(type, width, height, headerSize, rounded);
    rowBytes = rowBytesWanted ? rowBytesWanted : rounded;
    pixels.assign(size_t(rowBytes) * size_t(height), fill);
    header.reset(new uint8_t[size_t(headerSize)]);
    pixmap = MapKPixmapHeader(header.get(), type, width, height, rowBytes, pixels.data());
}

std::vector<uint8_t> OwnedPixmap::Row(int y) const
{
    const uint8_t* p = pixels.data() + size_t(y) * size_t(rowBytes);
    return std::vector<uint8_t>(p, p + size_t(pixmap->GetWidth()) * size_t(pixmap->GetBytesPerPixel()));
}

std::vector<uint8_t> OwnedPixmap::Tight() const
{
    std::vector<uint8_t> out;
    out.reserve(size_t(pixmap->GetWidth()) * size_t(pixmap->GetBytesPerPixel()) * size_t(pixmap->GetHeight()));
    for (int y = 0; y < pixmap->GetHeight(); ++y) {
        const std::vector<uint8_t> r = Row(y);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

}  // namespace kzrsynth
