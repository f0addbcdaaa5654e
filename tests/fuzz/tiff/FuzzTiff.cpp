// The TIFF reader on untrusted bytes: tags, the private tag block, and the pixels at full or reduced scale into
// a pixmap of the file's own type and a converted one.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "../FuzzInput.h"
#include "KPixmap.h"
#include "KPropTree.h"
#include "KTiffImageReader.h"

namespace {

// Images beyond this many pixels are not decoded (the caller's pixmap would have to hold them).
constexpr uint64_t kMaxPixels = 1u << 20;

void ReadInto(KTiffImageReader& reader, int type, int32_t width, int32_t height)
{
    int32_t header = 0, rowBytes = 0;
    GetKPixmapSizes(type, width, height, header, rowBytes);
    std::vector<uint8_t> data(static_cast<size_t>(rowBytes) * height);
    alignas(std::max_align_t) uint8_t memory[64];
    KPixmap* pixmap = MapKPixmapHeader(memory, type, width, height, rowBytes, data.data());
    try {
        reader.ReadImage(*pixmap);
    } catch (const KException&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzinput::RegisterInputClass();
    fuzzinput::SetInput(data, size);
    try {
        KTiffImageReader reader(KWString("fuzz://input.tif"));
        KPropTree tree(nullptr, "ImageProps");
        reader.GetProperties(tree);
        const int scale = size > 0 ? data[size - 1] % 3 : 0;
        reader.SetScale(scale);
        int32_t width = 0, height = 0;
        int type = 0;
        reader.GetDimensions(&width, &height, &type);
        if (width <= 0 || height <= 0 || static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kMaxPixels)
            return 0;
        ReadInto(reader, type != 0 ? type : kPixelType24RGB, width, height);
        ReadInto(reader, type == kPixelType16Mono ? kPixelType8Mono : kPixelType32BGRA, width, height);
    } catch (const KException&) {
    }
    return 0;
}
