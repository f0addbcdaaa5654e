// Stage 4: the output image from the stage-3 image and its detail layer, through the tone table, the output
// colour matrix and the output space's gamma table (16 bits for 48-bit RGB output, else 8). The rows are made
// in bands on several threads.
#include <memory>

#include "KIPEngine2.h"
#include "KOutputGammaLUT.h"
#include "KOutputStage.h"
#include "KPixmapRows.h"
#include "KRowBands.h"
#include "KStageParams.h"
#include "KToneTableView.h"

namespace {
constexpr KInt32 kMinBandRows = 16;  // fewest rows a band gets
}  // namespace

KEngineOutcome KIPEngine2::priProcessStage4(KIPEngineRequest& request)
{
    KStageParams params(request, "KIPEngine2::priProcessStage4");
    auto* working = params.PixmapOf<KPixelClass48SRGB>(u"STAGE3IMAGE");
    auto* detail = params.PixmapOf<KPixelClass16SMono>(u"STAGE3IMAGEL");
    auto* tone = params.Matrix<Int16Class>(u"TONELUT");
    auto* adjustments = params.Matrix<FloatClass>(u"ADJUSTMENTS");
    auto* colorSpace = params.Matrix<Int32Class>(u"OUTCOLORSPACE", 1);
    KPixmap* out = params.Pixmap(u"OUTIMAGE");
    if (!params.Ok())
        return params.Outcome();
    if (!HasShape(*tone, kToneTableEntries, 3))
        return params.Fail("tone LUT is not big enough!");
    if (!HasShape(*adjustments, 2, 1))
        return params.Fail("not enough adjustments given!");

    const int bits = out->GetPixelType() == kPixelType48RGB ? 16 : 8;
    const int space = colorSpace->Elements()[0];
    KToneTableView view(*tone);
    const std::unique_ptr<KLUT> gamma = CreateOutputGammaLUT(space, bits);
    KMatrix3x3 matrix;
    CalculateOutputColorMatrix(matrix, space, adjustments->At(1, 0));
    const double sharpening = adjustments->At(0, 0);
    // Each pixel on its own: bands of rows go to several threads. Images that do not fit each other go to one
    // call, which refuses them.
    const KInt32 rows = working->GetHeight();
    if (detail->GetHeight() < rows || out->GetHeight() < rows || detail->GetWidth() < working->GetWidth() ||
        out->GetWidth() < working->GetWidth()) {
        KPixelProc2::ProcessToOutput(*working, *detail, sharpening, view, matrix, *gamma, *out);
        return KEngineOutcome::Done();
    }
    const KRowBands bands(0, rows, kMinBandRows);
    bands.Run([&](int, KInt32 begin, KInt32 end) {
        const KPixmapTemplate<KPixelClass48SRGB> workingRows = RowsOf(*working, begin, end);
        const KPixmapTemplate<KPixelClass16SMono> detailRows = RowsOf(*detail, begin, end);
        const KPixmapRows outRows(*out, begin, end);
        KPixelProc2::ProcessToOutput(workingRows, detailRows, sharpening, view, matrix, *gamma, outRows.Get());
    });
    return KEngineOutcome::Done();
}
