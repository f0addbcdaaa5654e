#include "EngineStageSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "KIPEngine2.h"

namespace enginetest {

KzrCalibrationLayout Layout(const kzrsynth::SceneParams& scene)
{
    KzrCalibrationLayout l;
    l.columns = uint32_t(scene.width);
    l.rows = uint32_t(scene.height);
    l.keepLeft = 12;
    l.keepTop = 8;
    l.shieldLeft = uint32_t(scene.shieldLeft);
    l.shieldRight = uint32_t(scene.shieldRight);
    l.shieldTop = uint32_t(scene.shieldTop);
    l.shieldBottom = uint32_t(scene.shieldBottom);
    for (const kzrsynth::HotPixel& h : kzrsynth::HotPixels(scene))
        l.badPixels.emplace_back(uint32_t(h.x), uint32_t(h.y));
    std::copy(kzrsynth::kChannelGain, kzrsynth::kChannelGain + 3, l.sensorGain);
    return l;
}

namespace {
kzrsynth::SceneParams ShieldedScene(int width, int height, uint32_t seed)
{
    kzrsynth::SceneParams p;
    p.width = width;
    p.height = height;
    p.seed = seed;
    kzrsynth::AddDefaultShields(p);
    return p;
}
}  // namespace

Scene::Scene(int width, int height, const lumotest::CalibrationOverrides& overrides, uint32_t seed)
    : GeneratorFrames(ShieldedScene(width, height, seed), Layout(ShieldedScene(width, height, seed)), overrides)
{
}

KIDataMatrix* FloatMatrix(int32_t rows, int32_t columns, std::vector<double> values)
{
    auto* m = new KDataMatrixTemplate<FloatClass>(rows, columns);
    std::copy_n(values.begin(), std::min<size_t>(values.size(), size_t(rows) * size_t(columns)), m->Elements());
    return m;
}

KIDataMatrix* Int32Matrix(int32_t rows, int32_t columns, std::vector<int32_t> values)
{
    auto* m = new KDataMatrixTemplate<Int32Class>(rows, columns);
    std::copy_n(values.begin(), std::min<size_t>(values.size(), size_t(rows) * size_t(columns)), m->Elements());
    return m;
}

void AddStage1(KIPEngineRequest& request, Scene& scene, Image& out)
{
    request.m_Kind = kEngineStage1;
    request.AddPixmap(u"RAWIMAGE", scene.raw.Get());
    request.AddPixmap(u"DARKIMAGE", scene.dark.Get());
    request.AddCamdata(u"CAMBDATA", scene.camdata.get());
    request.AddPixmap(u"OUTIMAGE", out.Get());
}

void AddStage2(KIPEngineRequest& request, KCamdata& camdata, Image& image, Image& scratch, KIDataMatrix* autoAdjust,
               const KWChar* whiteBalance)
{
    request.m_Kind = kEngineStage2;
    request.AddPixmap(u"STAGE1IMAGE", image.Get());
    request.AddCamdata(u"CAMBDATA", &camdata);
    request.AddText(u"WB_DESC", whiteBalance);
    request.AddPixmap(u"TEMPDATA", scratch.Get());
    request.AddMatrix(u"ISO", FloatMatrix(1, 1, {100}));
    request.AddMatrix(u"EXPTIME", FloatMatrix(1, 1, {8000}));
    request.AddMatrix(u"AUTOADJUSTOUT", autoAdjust);
    request.AddMatrix(u"OVERRIDERGBNEUTRAL", FloatMatrix(3, 1, {0, 0, 0}));
}

void ExpectFailures(KInt32 kind, const std::vector<FailureCase>& cases,
                    const std::function<void(const KIPEngineRequest&, const char*)>& check)
{
    for (const FailureCase& c : cases) {
        KIPEngineRequest request;
        request.m_Kind = kind;
        c.fill(request);
        KIPEngine2::Dispatch(request);
        EXPECT_EQ(request.m_Async.GetState(), kFailed) << c.name;
        EXPECT_EQ(request.m_Async.GetError(), c.error) << c.name;
        EXPECT_EQ(request.m_Async.m_Message, c.message) << c.name;
        if (check)
            check(request, c.name);
    }
}

int32_t ScratchRows(int32_t width, int32_t height)
{
    const int64_t q = int64_t((height + 3) / 4) * ((width + 3) / 4);
    return int32_t(std::max<int64_t>(5, (q + width - 1) / width + 2));
}

Developed::Developed(Scene& scene)
    : image(scene.raw.Width(), scene.raw.Height()), scratch(scene.raw.Width(), ScratchRows(scene.raw.Width(), scene.raw.Height()))
{
    KIPEngineRequest one;
    AddStage1(one, scene, image);
    KIPEngine2::Dispatch(one);
    state1 = one.m_Async.GetState();
    if (state1 != kDone)
        return;
    KIPEngineRequest two;
    auto* adjust = new KDataMatrixTemplate<FloatClass>(8, 1);
    AddStage2(two, *scene.camdata, image, scratch, adjust);
    KIPEngine2::Dispatch(two);
    state2 = two.m_Async.GetState();
    autoAdjust.assign(adjust->Elements(), adjust->Elements() + 8);
}

}  // namespace enginetest
