// Stage 2: the stage-1 image becomes a clean sensor image in thirteen steps, in place. The stage can be paused
// between steps through the request's cancel byte (state 3) and resumed by a later request with the same
// resume block: tag "STG2", the step to run, its row and pass, and a spare word. A block with any other tag
// (a fresh stage-1 result) starts at step 0; a block with the tag is never started over, since its image has
// already been corrected up to the saved step.
#include <algorithm>

#include "KDataMatrix.h"
#include "KExceptionPixelProc2.h"
#include "KIPEngine2.h"
#include "KStage2Settings.h"
#include "KStage2Steps.h"
#include "KStageParams.h"

namespace {
enum : int { kTag = 0, kStep = 1, kRow = 2, kPass = 3, kSpare = 4 };

bool ScratchFits(const KPixmap& image, const KPixmap& scratch)
{
    const KInt32 columns = image.GetWidth();
    return scratch.GetWidth() >= columns &&
           static_cast<KInt64>(scratch.GetRowBytes()) >= static_cast<KInt64>(scratch.GetWidth()) * 6 &&
           scratch.GetHeight() >= KStage2Steps::ScratchRows(columns, image.GetHeight());
}
}  // namespace

KEngineOutcome KIPEngine2::priProcessStage2(KIPEngineRequest& request)
{
    KStageParams params(request, "KIPEngine2::priProcessStage2");
    auto* image = params.PixmapOf<KPixelClass48SRGB>(u"STAGE1IMAGE");
    KCamdata* camdata = params.Camdata(u"CAMBDATA");
    auto* scratch = params.PixmapOf<KPixelClass48SRGB>(u"TEMPDATA");
    auto* iso = params.Matrix<FloatClass>(u"ISO", 1);
    auto* exposure = params.Matrix<FloatClass>(u"EXPTIME", 1);
    auto* autoAdjust = params.Matrix<FloatClass>(u"AUTOADJUSTOUT");
    auto* neutral = params.Matrix<FloatClass>(u"OVERRIDERGBNEUTRAL", 3);
    const KWChar* whiteBalance = params.Text(u"WB_DESC");
    if (!params.Ok())
        return params.Outcome();
    if (!ScratchFits(*image, *scratch))
        return params.Fail("temporary buffer is the wrong size");
    // Eight values in any shape: the manager hands over an 8 x 1 matrix.
    if (autoAdjust->GetElementCount() < 8)
        return params.Fail("auto adjust data matrix has fewer than 8 cols");
    // The row filters need neighbours on every side; found before any step has changed the image.
    if (image->GetWidth() < 3 || image->GetHeight() < 3)
        throw KExceptionPixelProc2("Despeckle: input image too small");

    KUInt32* resume = request.m_Resume;
    if (resume[kTag] != kStage2Mark) {
        resume[kTag] = kStage2Mark;
        resume[kStep] = resume[kRow] = resume[kPass] = resume[kSpare] = 0;
        request.m_Async.SetProgress(0.0);
    }

    KStage2Inputs inputs;
    inputs.iso = iso->Elements()[0];
    inputs.exposure = exposure->Elements()[0];
    std::copy_n(neutral->Elements(), 3, inputs.override.begin());
    inputs.whiteBalance = whiteBalance;
    const KStage2Settings settings = ComputeStage2Settings(*camdata, inputs);
    KStage2Steps steps(request, *image, *scratch, *camdata, settings, autoAdjust->Elements());

    KUInt32 step = std::min(resume[kStep], KStage2Steps::kLastStep);
    while (step < KStage2Steps::kLastStep) {
        if (request.m_Async.IsCancelRequested())
            return KEngineOutcome::Cancelled();
        request.m_Async.SetProgress(KStage2Steps::StepEnd(static_cast<KInt32>(step) - 1));
        if (steps.Runs(step) && !steps.Run(step, resume[kRow]))
            return params.Fail("bad pixels not found in cambfile");
        ++step;
        resume[kStep] = step;
        resume[kRow] = resume[kPass] = resume[kSpare] = 0;
        request.m_Async.SetProgress(KStage2Steps::StepEnd(static_cast<KInt32>(step) - 1));
    }
    request.m_Async.SetProgress(1.0);
    return KEngineOutcome::Done();
}
