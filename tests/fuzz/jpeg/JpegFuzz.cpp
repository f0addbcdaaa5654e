// The JPEG reader on untrusted bytes: header, EXIF properties, and the pixels at full or reduced scale into a
// pixmap of the file's own type or a converted one. The bytes are served by the storage class "fuzz".
#include <cstddef>
#include <cstdlib>
#include <cstdint>
#include <vector>

#include "../FuzzInput.h"
#include "KException.h"
#include "KJPEGImageReader.h"
#include "KMemoryStorage.h"
#include "KPixmap.h"
#include "KPropTree.h"
#include "KStorage.h"

namespace {

// Full-size images beyond this many pixels are not decoded (the caller's pixmap would have to hold them).
constexpr uint64_t kMaxPixels = 4u << 20;

void Decode(int scale, int pixmapType)
{
    KJPEGImageReader reader(KWString("fuzz://input.jpg"));
    KPropTree tree(nullptr, "ImageProps");
    reader.GetProperties(tree);
    KInt32 width = 0, height = 0;
    int type = 0;
    reader.GetDimensions(width, height, type);
    if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kMaxPixels)
        return;
    reader.SetScale(scale);
    reader.GetDimensions(width, height, type);
    if (pixmapType == 0 || type != kPixelType24RGB)
        pixmapType = type;
    int32_t header = 0, rowBytes = 0;
    GetKPixmapSizes(pixmapType, width, height, header, rowBytes);
    std::vector<uint8_t> pixels(static_cast<size_t>(rowBytes) * static_cast<size_t>(height));
    alignas(std::max_align_t) unsigned char headerBytes[128];
    KPixmap* pixmap = MapKPixmapHeader(headerBytes, pixmapType, width, height, rowBytes, pixels.data());
    reader.ReadImage(*pixmap);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzinput::RegisterInputClass();
    fuzzinput::SetInput(data, size);
    // The last byte picks a reduction and a pixmap type, so that the corpus covers both.
    const uint8_t pick = size ? data[size - 1] : 0;
    try {
        Decode(pick & 3, (pick & 4) ? kPixelType48RGB : 0);
    } catch (const KException&) {
    }
    return 0;
}
