// Raw container files come from cards and disks: the reader must answer or throw one of its exceptions for
// any bytes, whatever it is asked (header, directory, properties, calibration, every image).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "KPixmap.h"
#include "KQrlbImageReader.h"
#include "KMemoryStorage.h"
#include "KzrPixmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto bytes = std::make_shared<std::vector<uint8_t>>(data, data + size);
    try {
        KQrlbImageReader reader(new KMemoryFile(bytes, KWString("mem://fuzz.kzr"), false), KWString("fuzz.kzr"));
        KInt32 columns = 0, rows = 0;
        reader.GetDimensions(columns, rows);
        (void)reader.GetWhiteBalance();
        try {
            KPropTree tree(nullptr, "properties");
            reader.GetProperties(&tree);
        } catch (const KException&) {
        }
        for (int i = 0; i < reader.GetNumCamFiles(); ++i) {
            try {
                KUInt32 camSize = 0, type = 0;
                reader.GetCamFileInfo(i, camSize, type);
                std::vector<uint8_t> buffer(camSize);
                double progress = 0;
                uint8_t cancel = 0;
                reader.GetCamFile(i, buffer.data(), camSize, &progress, &cancel);
            } catch (const KException&) {
            }
        }
        for (int i = 0; i < reader.GetNumImages(); ++i) {
            try {
                KQrlbSize imageSize;
                int pixelType = 0;
                KUInt32 imageType = 0;
                reader.GetImageInfo(i, imageSize, pixelType, imageType);
                kzrsynth::OwnedPixmap target(pixelType, imageSize.columns, imageSize.rows);
                double progress = 0;
                reader.GetImage(i, target.pixmap, &progress, nullptr);
            } catch (const KException&) {
            }
        }
    } catch (const KException&) {
    }
    return 0;
}
