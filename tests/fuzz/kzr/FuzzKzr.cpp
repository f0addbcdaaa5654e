// Raw container files come from cards and disks: the reader must answer or throw one of its exceptions for
// any bytes, whatever it is asked (header, directory, properties, calibration, every image).
#include <cstddef>
#include <algorithm>
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
                bool whole = false;
                try {
                    reader.GetImage(i, target.pixmap, &progress, nullptr);
                    whole = true;
                } catch (const KException&) {
                }
                // The same rows decoded in bands on demand: where both succeed, they are the whole decode's.
                std::unique_ptr<KQrlbImageRows> rows = reader.OpenImageRows(i);
                const KInt32 band = 1 + static_cast<KInt32>(size % 5);
                kzrsynth::OwnedPixmap part(pixelType, imageSize.columns, band);
                for (KInt32 y = 0; y < rows->GetHeight(); y += band) {
                    const KInt32 count = std::min(band, rows->GetHeight() - y);
                    rows->ReadRows(y, count, part.pixmap);
                    for (KInt32 r = 0; whole && r < count; ++r)
                        if (part.Row(r) != target.Row(y + r))
                            __builtin_trap();
                }
            } catch (const KException&) {
            }
        }
    } catch (const KException&) {
    }
    return 0;
}
