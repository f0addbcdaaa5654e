#include "LumoGeneratorFrames.h"

#include "KzrPlane.h"

namespace lumotest {

std::vector<uint8_t> GeneratorCalibration(const KzrCalibrationLayout& layout, const CalibrationOverrides& overrides)
{
    std::vector<uint8_t> file = KzrDefaultCalibration(layout).BuildFile(KzrByteOrder::Little);
    if (!overrides)
        return file;
    KzrCalibrationBuilder first;
    overrides(first);
    const std::vector<uint8_t> extra = first.BuildFile(KzrByteOrder::Little);
    // Sections follow the file header one after another: the extra sections go in front of the default ones.
    const size_t header = KzrCalibrationBuilder::kFirstSectionOffset;
    file.insert(file.begin() + ptrdiff_t(header), extra.begin() + ptrdiff_t(header), extra.end());
    return file;
}

GeneratorFrames::GeneratorFrames(const kzrsynth::SceneParams& sceneParams, const KzrCalibrationLayout& calibrationLayout,
                                 const CalibrationOverrides& overrides)
    : params(sceneParams),
      layout(calibrationLayout),
      calibration(GeneratorCalibration(layout, overrides)),
      camdata(std::make_unique<KCamdata>(calibration.data(), calibration.size())),
      raw(params.width, params.height),
      dark(params.width, params.height)
{
    const kzrsynth::Plane d = kzrsynth::RenderDark(params);
    const kzrsynth::Plane r = kzrsynth::RenderRaw(params);
    dark.FillBy([&](int x, int y, int c) { return d.At(x, y, c); });
    raw.FillBy([&](int x, int y, int c) { return r.At(x, y, c); });
}

void GeneratorFrames::DarkenMasked(const std::function<bool(int, int)>& masked,
                                   const std::function<int(int, int, int)>& noise)
{
    raw.FillBy([&](int x, int y, int c) {
        if (!masked(x, y))
            return int(raw.At(x, y, c));
        return dark.At(x, y, c) + (noise ? noise(x, y, c) : 0);
    });
}

}  // namespace lumotest
