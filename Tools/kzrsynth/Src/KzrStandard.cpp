#include "KzrStandard.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace kzrsynth {

using namespace KQrlb;

namespace {

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

}  // namespace

PropPairs CameraProperties(uint32_t seed)
{
    const char* pairs[][2] = {
        {"CAMMANUF", "PELTA"},  {"CAMMODEL", "PELTA DV7"},  {"FIRMVERS", "1.02"},     {"SH_DESC", "1/125"},
        {"EXPTIME", "8000"},    {"AP_DESC", "5.6"},         {"ISO", "100"},           {"PMODE", "A"},
        {"AEMODE", "8"},        {"AFMODE", "S"},            {"FOCUS", "AF"},          {"FLASH", "OFF"},
        {"EXPNET", "0.0"},      {"EXPCOMP", "0"},           {"FLENGTH", "35"},        {"LENSARANGE", "2.8 to 22.0"},
        {"LENSFRANGE", "28 to 70"}, {"DRIVE", "Single"},    {"RESOLUTION", "Full"},   {"WB_DESC", "Auto"},
    };
    PropPairs out;
    out.emplace_back(u"CAMSERIAL", Wide("DV7-" + std::to_string(100000 + seed % 900000)));
    out.emplace_back(u"TIME", Wide(std::to_string(1000000000u + seed % 100000000u)));
    for (const auto& p : pairs)
        out.emplace_back(Wide(p[0]), Wide(p[1]));
    return out;
}

int PreviewSide(int frameSide) { return std::max(1, frameSide / 4); }

FileLayout StandardLayout(const StandardOptions& o)
{
    if (o.width < 1 || o.height < 1)
        throw std::invalid_argument("image size must be at least 1 x 1");
    const bool subtracted = o.subtractedFormat >= 0;
    const int rawFormat = o.rawFormat >= 0 ? o.rawFormat : (subtracted ? -1 : int(kFormatPacked12));

    SceneParams scene;
    scene.width = o.width;
    scene.height = o.height;
    scene.seed = o.seed;
    if (o.defaultCalibration.on)
        AddDefaultShields(scene);

    FileLayout layout;
    layout.version = o.version;
    layout.props.push_back({0, CameraProperties(o.seed), 0});
    if (o.calibration) {
        if (o.defaultCalibration.on)
            layout.cams.push_back(DefaultCalibrationSection(scene, o.defaultCalibration));
        layout.cams.insert(layout.cams.end(), o.cams.begin(), o.cams.end());
        if (layout.cams.empty())
            layout.cams.push_back(CamFileLayout{});  // an empty calibration block
    }

    const Plane dark = RenderDark(scene);
    const Plane raw = RenderRaw(scene);
    if (rawFormat >= 0) {
        ImageLayout im;
        im.imageType = kImageRaw;
        im.format = static_cast<uint32_t>(rawFormat);
        im.plane = raw;
        layout.images.push_back(std::move(im));
        ImageLayout d;
        d.imageType = kImageDark;
        d.format = static_cast<uint32_t>(o.darkFormat);
        d.plane = dark;
        layout.images.push_back(std::move(d));
    }
    if (subtracted) {
        ImageLayout im;
        im.imageType = kImageDarkSubtracted;
        im.format = static_cast<uint32_t>(o.subtractedFormat);
        im.plane = Subtract(raw, dark);
        layout.images.push_back(std::move(im));
    }
    if (o.previewFormat >= 0) {
        ImageLayout im;
        im.imageType = kImageViewable;
        im.format = static_cast<uint32_t>(o.previewFormat);
        im.ima2 = true;
        im.plane = RenderPreview(scene, PreviewSide(o.width), PreviewSide(o.height));
        if (im.format == kFormat30)  // 11 bits a channel
            for (int32_t& s : im.plane.samples)
                s <<= 3;
        layout.images.push_back(std::move(im));
    }
    layout.columns = static_cast<uint32_t>(o.width - scene.shieldLeft - scene.shieldRight);
    layout.rows = static_cast<uint32_t>(o.height - scene.shieldTop - scene.shieldBottom);
    return layout;
}

FileLayout EdgeCaseLayout(uint32_t seed)
{
    SceneParams scene;
    scene.width = 10;
    scene.height = 4;
    scene.seed = seed;
    const Plane dark = RenderDark(scene);
    const Plane raw = RenderRaw(scene);

    FileLayout layout;
    layout.version = kVersion22;
    layout.whiteBalance = "Sunlight";
    layout.props.push_back({kVersion10, {{u"WB_DESC", u"Auto"}, {u"ISO", u"200"}, {u"EXPTIME", u"16000"}}, 2});
    layout.props.push_back({kVersion22, CameraProperties(seed), 0});

    CamFileLayout enciphered;
    enciphered.type = kCamTypeEnciphered;
    enciphered.seed = 0xC0FFEE00u ^ seed;
    for (int i = 0; i < 300; ++i)
        enciphered.payload.push_back(static_cast<uint8_t>(Hash(seed, uint32_t(i), 0, 0x63616D66u)));
    enciphered.dirLevel = 1;
    layout.cams.push_back(enciphered);
    CamFileLayout cameraFile;
    cameraFile.type = kCamTypeCameraFile;
    cameraFile.payload = {'K', 'C', 'M', 'b', 2, 0, 0, 0};
    layout.cams.push_back(cameraFile);

    auto image = [&](uint32_t type, uint32_t format, Plane plane, bool ima2, int level) {
        ImageLayout im;
        im.imageType = type;
        im.format = format;
        im.plane = std::move(plane);
        im.ima2 = ima2;
        im.dirLevel = level;
        layout.images.push_back(std::move(im));
        return &layout.images.back();
    };
    image(kImageRaw, kFormatPacked12, raw, false, 1);           // 10 columns: two pixels per row not decoded
    image(kImageDark, kFormat48, dark, false, 0);

    // Channel 0 of row 1 climbs past 32767, so its samples wrap to negative values.
    Plane wrap = Subtract(raw, dark);
    for (int x = 0; x < wrap.width; ++x)
        wrap.At(x, 1, 0) = 8000 + x * 3500;
    image(kImageDarkSubtracted, kFormatHuffman10, wrap, false, 2);
    image(kImageDarkSubtracted, kFormatDelta10, wrap, false, 0);

    // Constant rows of 32 pixels: two symbols of one bit each, so every row is 96 bits.
    image(kImageViewable, kFormatHuffman8, Plane(32, 3, 77), true, 0);

    // Twenty distinct deltas of falling frequency with codes limited to 5 bits.
    Plane skewed(24, 6);
    for (int y = 0; y < skewed.height; ++y)
        for (int c = 0; c < 3; ++c) {
            int32_t v = 0;
            for (int x = 0; x < skewed.width; ++x) {
                const int i = (y * 3 + c) * skewed.width + x;
                int d = 0;
                while ((i * 7 + 3) % (2 << d) == 0 && d < 19)
                    ++d;
                v += d;
                skewed.At(x, y, c) = v & 0xFF;
            }
        }
    image(kImageViewable, kFormatHuffman8, skewed, true, 1)->maxCodeLength = 5;

    Plane rgb8 = RenderPreview(scene, 7, 5);
    image(kImageViewable, kFormat24, rgb8, true, 0);
    Plane rgb11 = RenderPreview(scene, 6, 3);
    for (int32_t& s : rgb11.samples)
        s = s * 8 + 5;
    image(kImageViewable, kFormat30, rgb11, true, 0);
    return layout;
}

}  // namespace kzrsynth
