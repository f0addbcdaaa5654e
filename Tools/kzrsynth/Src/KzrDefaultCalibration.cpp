#include "KzrCalibrationBuilder.h"

#include <stdexcept>
#include <string>

namespace {

// CIE XYZ from the working space's linear RGB (D65): the inverse of the working space's XYZ-to-RGB matrix.
// Its rows sum to the D65 white.
const float kWorkingToXyz[9] = {0.75560737f, 0.11276517f, 0.08213837f,  //
                                0.26836521f, 0.71515179f, 0.01657887f,  //
                                0.00389742f, -0.01297521f, 1.09801005f};

// kWorkingToXyz x diag(1 / gain) x diag(tint): a camera matrix for a sensor whose channels see a neutral
// scene as gain, under a light that tints it by 1 / tint.
std::vector<float> CameraMatrix(const double gain[3], const double tint[3] = nullptr)
{
    std::vector<float> m(9);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            m[r * 3 + c] = static_cast<float>(kWorkingToXyz[r * 3 + c] / gain[c] * (tint ? tint[c] : 1.0));
    return m;
}

std::vector<float> Triple(const double v[3])
{
    return {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])};
}

}  // namespace

KzrCalibrationBuilder KzrDefaultCalibration(const KzrCalibrationLayout& l)
{
    const uint32_t w = l.columns;
    const uint32_t h = l.rows;
    // The shield columns need a pixel before them and four columns each; the raw offsets three shield rows.
    if (l.shieldLeft < 5 || l.shieldRight < 4 || l.shieldTop < 3 || l.shieldBottom < 1 ||
        w < l.shieldLeft + l.shieldRight + 2 || h < l.shieldTop + l.shieldBottom + 2)
        throw std::invalid_argument("calibration layout: shields too narrow or frame too small");
    const int32_t kl = l.keepLeft;
    const int32_t kt = l.keepTop;
    const int32_t right = kl + static_cast<int32_t>(w) - 1;  // inclusive, on the sensor
    const int32_t bottom = kt + static_cast<int32_t>(h) - 1;
    const int32_t activeLeft = kl + static_cast<int32_t>(l.shieldLeft);
    const int32_t activeTop = kt + static_cast<int32_t>(l.shieldTop);
    const int32_t activeRight = right - static_cast<int32_t>(l.shieldRight);
    const int32_t activeBottom = bottom - static_cast<int32_t>(l.shieldBottom);

    KzrCalibrationBuilder b;
    // Section 1: the sensor: linearisation, geometry, defects.
    std::vector<int16_t> lin(3 * 4096);
    for (size_t i = 0; i < lin.size(); ++i)
        lin[i] = static_cast<int16_t>(i % 4096);
    b.AddInt16("LinLUTs", {3, 4096}, lin);
    b.AddRect("KeepImageArea", kl, kt, right, bottom);
    b.AddRect("ActiveImageArea", activeLeft, activeTop, activeRight, activeBottom);
    b.AddRect("DarkShieldTop", activeLeft, kt, activeRight, activeTop - 1);
    b.AddRect("DarkShieldBottom", activeLeft, activeBottom + 1, activeRight, bottom);
    b.AddUInt32("DarkShieldColRange", {2, 2}, {1, l.shieldLeft - 1, w - l.shieldRight, w - 1});
    b.AddUInt32("RawOffsetSourceRows", {3}, {0, l.shieldTop - 1, 1});
    b.AddUInt32Scalar("RawOffsetFilterShift", 3);
    std::vector<uint32_t> bad;
    for (const auto& [column, row] : l.badPixels)
        bad.push_back(static_cast<uint32_t>(kt + static_cast<int32_t>(row)) << 20 |
                      (static_cast<uint32_t>(kl + static_cast<int32_t>(column)) & 0xFFF) << 8 | 0x5A);
    b.AddUInt32("BadPixels", {static_cast<uint32_t>(bad.size())}, bad);
    b.AddInt16("SaturationLevel", {3}, {l.saturation, l.saturation, l.saturation});
    b.AddFloatScalar("SensorISO", 100.0f);

    // Section 2: colour and the processing constants, each chosen to switch its step on.
    b.NewSection();
    b.AddFloat("CAMToXYZ", {3, 3}, CameraMatrix(l.sensorGain));
    b.AddFloat("RGBNeutral", {3}, Triple(l.sensorGain));
    if (l.gainGrid3x4) {
        std::vector<float> g;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                for (int c = 0; c < 3; ++c)
                    g.push_back(1.0f + 0.02f * (y != 1) + 0.02f * (x == 0 || x == 3));
        b.AddFloat("SpatialGain", {3, 4, 3}, g);
    } else {
        b.AddFloat("SpatialGain", {2, 2, 3}, std::vector<float>(12, 1.0f));
    }
    std::vector<float> poly(27, 0.0f);
    for (int c = 0; c < 3; ++c)
        poly[c * 9 + c] = 0.01f;  // each channel's own square
    b.AddFloat("PostPolyMatrix", {3, 9}, poly);
    b.AddFloat("FlareFactor", {3}, {0.01f, 0.01f, 0.01f});
    b.AddFloat("ColumnFilterRGB", {3}, {0.02f, 0.02f, 0.02f});
    b.AddFloatScalar("RedSharpen", 64.0f);
    b.AddFloatScalar("ChromaBlur", 250.0f);  // above 200: all four chroma passes
    b.AddFloatScalar("SpatialDQ", 40.0f);
    b.AddFloat("ChromaDQ", {3}, {20.0f, 20.0f, 20.0f});

    if (l.illuminants) {
        // Section 3: white-balance illuminants. "Flash" has no matrix name and so takes "CamToXYZ_Flash".
        b.NewSection();
        b.AddPropertyList("WhiteBalanceIlluminants", {{"Auto", "CamToXYZ_Daylight"},
                                                      {"Custom", "CamToXYZ_Daylight"},
                                                      {"Daylight", "CamToXYZ_Daylight"},
                                                      {"Tungsten", "CamToXYZ_Tungsten"},
                                                      {"Flash", ""}});
        b.AddPropertyList("WhiteBalanceCorrections", {{"Tungsten", "TungstenCorrection"}});
        const double warm[3] = {1.25, 1.0, 0.6};
        b.AddFloat("CamToXYZ_Daylight", {3, 3}, CameraMatrix(l.sensorGain));
        b.AddFloat("CamToXYZ_Tungsten", {3, 3}, CameraMatrix(l.sensorGain, warm));
        b.AddFloat("CamToXYZ_Flash", {3, 3}, CameraMatrix(l.sensorGain));
        b.AddFloat("TungstenCorrection", {3, 3}, {1, 0, 0, 0, 1, 0, 0, 0, 1});
        b.AddFloat("AutoRGBNeutral", {3}, Triple(l.sensorGain));
        b.AddFloat("CustomRGBNeutral", {3}, Triple(l.sensorGain));
    }
    return b;
}

namespace kzrsynth {

void AddDefaultShields(SceneParams& scene)
{
    const CalibrationShields s = kDefaultShields;
    if (scene.width < s.left + s.right + 2 || scene.height < s.top + s.bottom + 2)
        throw std::invalid_argument("the default calibration needs a frame of at least " +
                                    std::to_string(s.left + s.right + 2) + " x " + std::to_string(s.top + s.bottom + 2));
    scene.shieldLeft = s.left;
    scene.shieldRight = s.right;
    scene.shieldTop = s.top;
    scene.shieldBottom = s.bottom;
}

CamFileLayout DefaultCalibrationSection(const SceneParams& scene, const DefaultCalibrationOptions& o)
{
    KzrCalibrationLayout l;
    l.columns = static_cast<uint32_t>(scene.width);
    l.rows = static_cast<uint32_t>(scene.height);
    l.shieldLeft = static_cast<uint32_t>(scene.shieldLeft);
    l.shieldRight = static_cast<uint32_t>(scene.shieldRight);
    l.shieldTop = static_cast<uint32_t>(scene.shieldTop);
    l.shieldBottom = static_cast<uint32_t>(scene.shieldBottom);
    for (const HotPixel& p : HotPixels(scene))
        l.badPixels.emplace_back(static_cast<uint32_t>(p.x), static_cast<uint32_t>(p.y));
    for (int c = 0; c < 3; ++c)
        l.sensorGain[c] = kChannelGain[c];
    l.illuminants = o.illuminants;
    const KzrCalibrationBuilder b = KzrDefaultCalibration(l);
    CamFileLayout cam;
    cam.type = o.camType;
    cam.payload = o.bareBlocks ? b.BuildBlocks(o.order) : b.BuildFile(o.order);
    return cam;
}

}  // namespace kzrsynth
