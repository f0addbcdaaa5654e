// Stage 1: the raw frame less the dark frame, both through the camera's linearisation tables, with the column
// offsets measured on the calibration's offset rows when it names valid ones. Resumable by rows: the row
// counter lives in the resume block, and a cancel is honoured between rows. The rows go in bands over several
// threads (KRowBands); a cancelled stage resumes at the first row that was not done.
#include <algorithm>
#include <memory>
#include <vector>

#include "KCamdataGetters.h"
#include "KDebug.h"
#include "KIPEngine2.h"
#include "KLinearize.h"
#include "KRowBands.h"
#include "KStageParams.h"

namespace {
constexpr int kResumeRow = 2;  // resume block: mark, a zero word, the next row
constexpr KInt32 kProgressRows = 50;
constexpr KInt32 kMinBandRows = 64;  // fewest rows a band of the row loop gets
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
    const KInt32 first = static_cast<KInt32>(std::min<KUInt32>(resume[kResumeRow], static_cast<KUInt32>(rows)));
    // Rows are independent: they go in bands over the processors, each band stopping at a cancel.
    const KRowBands bands(first, rows, kMinBandRows);
    std::vector<KInt32> stopped(static_cast<size_t>(bands.Count()));
    bands.Run([&](int band, KInt32 begin, KInt32 end) {
        KInt32 row = begin;
        for (; row < end; ++row) {
            if (request.m_Async.IsCancelRequested())
                break;
            const auto* darkRow = reinterpret_cast<const KUInt16*>(dark->GetRow(row));
            const auto* rawRow = reinterpret_cast<const KUInt16*>(raw->GetRow(row));
            auto* outRow = reinterpret_cast<KInt16*>(out->GetRow(row));
            if (offsets.empty())
                LinearizeAndDarkSubtractRow(darkRow, rawRow, columns, *lut, outRow);
            else
                LinearizeAndDarkSubtractRowWithOffsets(darkRow, rawRow, columns, *lut, outRow, offsets.data());
            if (band == 0 && row % kProgressRows == 0) {
                const double done = static_cast<double>(first) + static_cast<double>(row - first) * bands.Count();
                request.m_Async.SetProgress(std::min(1.0, done / rows));
            }
        }
        stopped[static_cast<size_t>(band)] = row;
    });
    // The first row not done; a band below it may have done rows beyond it, which a resumed stage does again.
    KInt32 row = rows;
    for (int band = 0; band < bands.Count(); ++band)
        if (stopped[static_cast<size_t>(band)] < bands.End(band))
            row = std::min(row, stopped[static_cast<size_t>(band)]);
    const bool cancelled = row < rows;
    resume[kResumeRow] = static_cast<KUInt32>(row);
    if (cancelled)
        return KEngineOutcome::Cancelled();
    request.m_Async.SetProgress(1.0);
    return KEngineOutcome::Done();
}
