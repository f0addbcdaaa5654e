// Stage 2 spreads some of its steps over several threads: the result must not depend on how many.
#include <gtest/gtest.h>

#include <vector>

#include "EngineStageSupport.h"
#include "KIPEngine2.h"
#include "KRowBands.h"

using namespace enginetest;

TEST(Stage2Bands, SameResultOnOneThreadAsOnSeveral)
{
    // Tall enough for four bands of the least rows a band gets; each band edge falls in a different part of
    // the scene (ramp, patches, dark band with the highlight).
    Scene scene(120, 300);
    Image stage1(scene.raw.Width(), scene.raw.Height());
    {
        KIPEngineRequest request;
        AddStage1(request, scene, stage1);
        KIPEngine2::Dispatch(request);
        ASSERT_EQ(request.m_Async.GetState(), kDone);
    }
    struct Result {
        Image image;
        std::vector<double> adjust;
    };
    auto develop = [&](int threads) {
        KRowBands::SetThreadCount(threads);
        Result result{stage1, {}};
        Image scratch(stage1.Width(), ScratchRows(stage1.Width(), stage1.Height()));
        auto* adjust = new KDataMatrixTemplate<FloatClass>(8, 1);
        KIPEngineRequest request;
        AddStage2(request, *scene.camdata, result.image, scratch, adjust);
        request.m_Resume[0] = kStage1Mark;
        KIPEngine2::Dispatch(request);
        EXPECT_EQ(request.m_Async.GetState(), kDone) << threads;
        result.adjust.assign(adjust->Elements(), adjust->Elements() + 8);
        KRowBands::SetThreadCount(0);
        return result;
    };
    const Result one = develop(1);
    for (int threads : {2, 3, 8}) {
        const Result several = develop(threads);
        EXPECT_TRUE(several.image == one.image) << threads << " threads";
        EXPECT_EQ(several.adjust, one.adjust) << threads << " threads";
    }
}
