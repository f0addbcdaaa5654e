// Stage 3: the stage-2 image cropped, sized and turned into the output's cube-root encoded image, beside it the
// encoded luminance turned into its detail layer. No resume: a cancel seen here ends the request with state 3
// and the next request computes the stage again. The output rows are made in bands on several threads.
#include <vector>

#include "KCalibrationAreas.h"
#include "KCamdataGetters.h"
#include "KCropSizeRotate.h"
#include "KDetailLayer.h"
#include "KGlobalLUTs.h"
#include "KIPEngine2.h"
#include "KPixmapRows.h"
#include "KRowBands.h"
#include "KStageParams.h"

namespace {
constexpr KInt32 kMinBandRows = 16;  // fewest output rows a band gets
}  // namespace

KEngineOutcome KIPEngine2::priProcessStage3(KIPEngineRequest& request)
{
    KStageParams params(request, "KIPEngine2::priProcessStage3");
    auto* input = params.PixmapOf<KPixelClass48SRGB>(u"STAGE2IMAGE");
    auto* outSize = params.Matrix<Int32Class>(u"OUTSIZE", 2);
    auto* crop = params.MatrixOfShape<Int32Class>(u"CROPRECT", 2, 2);
    auto* rotation = params.Matrix<Int32Class>(u"ROTATION", 1);
    auto* expected = params.Matrix<Int32Class>(u"EXPECTEDIMAGESIZE", 2);
    KCamdata* camdata = params.Camdata(u"CAMBDATA");
    params.Pixmap(u"TEMPDATA");
    // The kernels write these two as they are: their classes are checked like the input's.
    auto* out = params.PixmapOf<KPixelClass48SRGB>(u"OUTIMAGE");
    auto* luminance = params.PixmapOf<KPixelClass16SMono>(u"OUTIMAGEL");
    if (!params.Ok())
        return params.Outcome();
    if (request.m_Async.IsCancelRequested())
        return KEngineOutcome::Cancelled();

    const KRect cropRect(crop->At(0, 0), crop->At(1, 0), crop->At(0, 1), crop->At(1, 1));
    const KLUT& cubeRoot = *KGlobalLUTsClass::GetCubeRootLUT();
    const KRect keep = GetCamdataRect("KeepImageArea", *camdata);
    const KRect sensorActive = GetCamdataRect("ActiveImageArea", *camdata);
    const KRect active = MoveIntoKeepArea(sensorActive, keep);
    double greenWeight = GetCamdataFloat("GreenWeight", *camdata);
    KInt32 greenHigh = GetCamdataInt32("GreenHighLimit", *camdata);
    KInt32 greenLow = GetCamdataInt32("GreenLowLimit", *camdata);
    if (greenHigh == 0 && greenLow == 0 && greenWeight == 0.0) {
        greenWeight = 0.001;
        greenHigh = 200;
        greenLow = -120;
    }

    const KInt32* size = outSize->Elements();
    const KInt32* expectedSize = expected->Elements();
    const KUInt32 turn = static_cast<KUInt32>(rotation->Elements()[0]);
    std::shared_ptr<const KCropSizeRotateKernels> kernels;  // made once for all the bands
    auto develop = [&](const KRect& part, KPixmapTemplate<KPixelClass48SRGB>& rows,
                       KPixmapTemplate<KPixelClass16SMono>& luminanceRows) {
        return CropSizeRotateMore(*input, active, expectedSize[0], expectedSize[1], size[0], size[1], part, turn,
                                  cubeRoot, rows, luminanceRows, greenWeight, greenHigh, greenLow, kernels.get());
    };
    // Each output pixel depends on its position alone: bands of the crop's rows go to several threads. Outputs
    // too small for the crop go to one call, which refuses them.
    const KInt64 cropHeight = KInt64{cropRect.bottom} - cropRect.top;
    const bool fits = cropHeight > 0 && cropRect.right > cropRect.left && out->GetHeight() >= cropHeight &&
                      luminance->GetHeight() >= cropHeight && out->GetWidth() >= cropRect.Width() &&
                      luminance->GetWidth() >= cropRect.Width();
    double factor = 0.0;
    if (!fits) {
        factor = develop(cropRect, *out, *luminance);
    } else {
        const KRowBands bands(0, static_cast<KInt32>(cropHeight), kMinBandRows);
        if (bands.Count() > 1)
            kernels = PrepareCropSizeRotate(*input, active, expectedSize[0], expectedSize[1], size[0], size[1],
                                            cropRect, turn);
        std::vector<double> factors(static_cast<size_t>(bands.Count()));
        bands.Run([&](int band, KInt32 begin, KInt32 end) {
            KPixmapTemplate<KPixelClass48SRGB> rows = RowsOf(*out, begin, end);
            KPixmapTemplate<KPixelClass16SMono> luminanceRows = RowsOf(*luminance, begin, end);
            const KRect part(cropRect.left, cropRect.top + begin, cropRect.right, cropRect.top + end);
            factors[static_cast<size_t>(band)] = develop(part, rows, luminanceRows);
        });
        factor = factors[0];
    }
    request.m_Async.SetProgress(0.8);
    if (request.m_Async.IsCancelRequested())
        return KEngineOutcome::Cancelled();
    CreateDetailLayer(*luminance, factor);
    return KEngineOutcome::Done();
}
