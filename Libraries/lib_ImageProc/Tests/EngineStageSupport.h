#pragma once
// Helpers of the stage drivers' tests: pixmaps over memory of their own, calibrations made by the generator's
// builder (with blocks that take precedence over the default ones), and the generator's frames with dark
// shields where the calibration declares them.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "KCamdata.h"
#include "KDataMatrix.h"
#include "KIPEngineRequest.h"
#include "KPixmap.h"
#include "KzrCalibrationBuilder.h"
#include "KzrScene.h"
#include "LumoGeneratorFrames.h"

namespace enginetest {

// A pixmap that owns its rows, each padded to a multiple of 4 bytes like a cache-held one.
template <class PixelClass>
using Owned = lumotest::OwnedPixmap<PixelClass>;

using Frame = Owned<KPixelClass48RGB>;
using Image = Owned<KPixelClass48SRGB>;
using Mono = Owned<KPixelClass16SMono>;

// The generator's default layout for a scene with its default shields, the frame placed at (12, 8) on the
// sensor (so that the drivers' moves between sensor and frame positions count), the scene's hot pixels listed
// as bad pixels and the sensor's response as neutral.
KzrCalibrationLayout Layout(const kzrsynth::SceneParams& scene);

// Raw and dark frames of the generator's scene with its default dark shields, and calibration data for them.
struct Scene : lumotest::GeneratorFrames {
    Scene(int width, int height, const lumotest::CalibrationOverrides& overrides = nullptr, uint32_t seed = 3);
};

// Matrices with the given elements (column after column).
KIDataMatrix* FloatMatrix(int32_t rows, int32_t columns, std::vector<double> values);
KIDataMatrix* Int32Matrix(int32_t rows, int32_t columns, std::vector<int32_t> values);

// A request of the kind over the parameters of stage 1 and of stage 2.
void AddStage1(KIPEngineRequest& request, Scene& scene, Image& out);
void AddStage2(KIPEngineRequest& request, KCamdata& camdata, Image& image, Image& scratch, KIDataMatrix* autoAdjust,
               const KWChar* whiteBalance = u"Auto");

// Stage 1 and (when it succeeded) stage 2 run on the calling thread, and their states.
struct Developed {
    explicit Developed(Scene& scene);
    Image image;
    Image scratch;
    std::vector<double> autoAdjust;
    KUInt32 state1 = 0;
    KUInt32 state2 = 0;
};

// A request of a kind that fails: how its parameters are filled, and the error and message it must end with.
struct FailureCase {
    const char* name;
    std::function<void(KIPEngineRequest&)> fill;
    KUInt32 error;
    const char* message;
};
// Dispatches each case on the calling thread and checks state 4, the error and the message; then check(request,
// case name) when given.
void ExpectFailures(KInt32 kind, const std::vector<FailureCase>& cases,
                    const std::function<void(const KIPEngineRequest&, const char*)>& check = nullptr);

// Scratch rows stage 2 asks for.
int32_t ScratchRows(int32_t width, int32_t height);

}  // namespace enginetest
