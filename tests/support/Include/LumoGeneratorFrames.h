#pragma once
// Frames of the generator's scene with calibration data for them, as the stage tests of the pixel library and
// of the engine develop them (library LumoGeneratorSupport: links the generator and the pixel library).
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "KCamdata.h"
#include "KzrCalibrationBuilder.h"
#include "KzrScene.h"
#include "LumoOwnedPixmap.h"

namespace lumotest {

using GeneratorFrame = OwnedPixmap<KPixelClass48RGB>;
using CalibrationOverrides = std::function<void(KzrCalibrationBuilder&)>;

// The default calibration of layout in file form; blocks added by overrides come first and so win over the
// default blocks of the same name.
std::vector<uint8_t> GeneratorCalibration(const KzrCalibrationLayout& layout,
                                          const CalibrationOverrides& overrides = nullptr);

// The raw and dark frames of the scene, and the calibration of layout (with overrides) for them.
struct GeneratorFrames {
    GeneratorFrames(const kzrsynth::SceneParams& params, const KzrCalibrationLayout& layout,
                    const CalibrationOverrides& overrides = nullptr);

    // Masked pixels see no light: where masked(x, y) holds, the raw frame takes the dark frame's values, plus
    // noise(x, y, c) when given.
    void DarkenMasked(const std::function<bool(int x, int y)>& masked,
                      const std::function<int(int x, int y, int c)>& noise = nullptr);

    kzrsynth::SceneParams params;
    KzrCalibrationLayout layout;
    std::vector<uint8_t> calibration;
    std::unique_ptr<KCamdata> camdata;
    GeneratorFrame raw;
    GeneratorFrame dark;
};

}  // namespace lumotest
