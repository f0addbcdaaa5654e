// Stage 1: the raw frame less the dark frame, both through the camera's linearisation tables, with the column
// offsets measured on the calibration's offset rows when it names valid ones. Resumable by rows: the row
// counter lives in the resume block, and a cancel is honoured between rows.
#include <algorithm>
#include <memory>
#include <vector>

#include "KCamdataGetters.h"
#include "KDebug.h"
#include "KIPEngine2.h"
#include "KLinearize.h"
#include "KStageParams.h"

namespace {
constexpr int kResumeRow = 2;  // resume block: mark, a zero word, the next row
constexpr KInt32 kProgressRows = 50;
const char* const kOffsetRowsName = "RawOffsetSourceRows";

// Offsets for the raw frame's columns when the calibration names valid offset rows below outRows; else empty.
std::vector<KInt16> RawOffsets(const KCamdata& camdata, const KPixmapTemplate<KPixelClass48RGB>& raw, KInt32 outRows)
{
    const KUInt32 dims[1] = {3};
    const KCamdataMatrix* rows = camdata.FindMatrix(kOffsetRowsName, KCAMDATA_UINT32, 1, dims);
    if (!rows)
        return {};
    const KUInt32* v = rows->Elements<KUInt32>();
    const KUInt32 first = v[0], last = v[1], step = v[2];
    if (last >= static_cast<KUInt32>(outRows) || last < first) {
        DebugTrace("Camdata raw offset row parameters '%s' invalid.\n", kOffsetRowsName);
        return {};
    }
    const KUInt32 shift = GetCamdataUInt32("RawOffsetFilterShift", camdata);
    std::vector<KInt16> offsets(static_cast<size_t>(raw.GetWidth()) * 3);
    if (!CalculateRawOffsets(&raw, offsets.data(), first, last, step, shift))
        return {};
    return offsets;
}
}  // namespace

KEngineOutcome KIPEngine2::priProcessStage1(KIPEngineRequest& request)
{
    KStageParams params(request, "KIPEngine2::priProcessStage1");
    auto* raw = params.PixmapOf<KPixelClass48RGB>(u"RAWIMAGE");
    auto* dark = params.PixmapOf<KPixelClass48RGB>(u"DARKIMAGE");
    KCamdata* camdata = params.Camdata(u"CAMBDATA");
    auto* out = params.PixmapOf<KPixelClass48SRGB>(u"OUTIMAGE");
    if (!params.Ok())
        return params.Outcome();
    if (out->GetWidth() < raw->GetWidth() || out->GetHeight() < raw->GetHeight())
        return params.Fail("output image of wrong size");

    KUInt32* resume = request.m_Resume;
    if (resume[0] != kStage1Mark) {
        resume[0] = kStage1Mark;
        resume[1] = 0;
        resume[kResumeRow] = 0;
    }

    const std::unique_ptr<KColorLUT> lut = GetCamdataColorLUT("LinLUTs", *camdata);
    if (!lut)
        return params.Fail("camb data doesn't have linearization LUTs");
    LinearizeAndDarkSubtractImage(dark, raw, lut.get(), out);

    const std::vector<KInt16> offsets = RawOffsets(*camdata, *raw, out->GetHeight());
    const KInt32 rows = out->GetHeight(), columns = raw->GetWidth();
    KInt32 row = static_cast<KInt32>(std::min<KUInt32>(resume[kResumeRow], static_cast<KUInt32>(rows)));
    bool cancelled = false;
    for (; row < rows; ++row) {
        if (request.m_Async.IsCancelRequested()) {
            cancelled = true;
            break;
        }
        const auto* darkRow = reinterpret_cast<const KUInt16*>(dark->GetRow(row));
        const auto* rawRow = reinterpret_cast<const KUInt16*>(raw->GetRow(row));
        auto* outRow = reinterpret_cast<KInt16*>(out->GetRow(row));
        if (offsets.empty())
            LinearizeAndDarkSubtractRow(darkRow, rawRow, columns, *lut, outRow);
        else
            LinearizeAndDarkSubtractRowWithOffsets(darkRow, rawRow, columns, *lut, outRow, offsets.data());
        if (row % kProgressRows == 0)
            request.m_Async.SetProgress(static_cast<double>(row) / rows);
    }
    resume[kResumeRow] = static_cast<KUInt32>(row);
    if (cancelled)
        return KEngineOutcome::Cancelled();
    request.m_Async.SetProgress(1.0);
    return KEngineOutcome::Done();
}
