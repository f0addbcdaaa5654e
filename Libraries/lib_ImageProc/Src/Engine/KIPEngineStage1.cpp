// Stage 1: the raw frame less the dark frame, both through the camera's linearisation tables, with the column
// offsets measured on the calibration's offset rows when it names valid ones. Resumable by rows: the row
// counter lives in the resume block, and a cancel is honoured between rows. The rows go in bands over several
// threads (KRowBands); a cancelled stage resumes at the first row that was not done.
#include <algorithm>
#include <memory>
#include <vector>

#include "KCamdataGetters.h"
#include "KDataObject.h"
#include "KDebug.h"
#include "KExceptionPixelProc2.h"
#include "KIPEngine2.h"
#include "KLinearize.h"
#include "KPixelTypes.h"
#include "KRowBands.h"
#include "KStageParams.h"

namespace {
constexpr int kResumeRow = 2;  // resume block: mark, a zero word, the next row
constexpr KInt32 kProgressRows = 50;
constexpr KInt32 kMinBandRows = 64;  // fewest rows a band of the row loop gets
constexpr KInt32 kChunkRows = 16;    // rows of a frame decoded at once
const char* const kOffsetRowsName = "RawOffsetSourceRows";

// A frame given as a pixmap or as a source of rows (decoded by chunks of rows where they are used).
class KFrameInput {
public:
    KFrameInput(const KPixmapTemplate<KPixelClass48RGB>* pixmap, const KIDataObject* rows) : m_pPixmap(pixmap), m_pRows(rows)
    {
        int type = 0;
        if (pixmap) {
            m_Width = pixmap->GetWidth();
            m_Height = pixmap->GetHeight();
        } else if (!rows || !rows->GetImageProperties(m_Width, m_Height, type) || type != kPixelType48RGB) {
            m_Width = m_Height = -1;
        }
    }
    bool Ok() const { return m_Width >= 0; }
    KInt32 Width() const { return m_Width; }
    KInt32 Height() const { return m_Height; }
    const KPixmapTemplate<KPixelClass48RGB>* Pixmap() const { return m_pPixmap; }

    // Rows [first, first + count) as row pointers: the pixmap's own rows, or the rows decoded into buffer.
    void Rows(KInt32 first, KInt32 count, std::vector<KUInt16>& buffer, const KUInt16** out) const
    {
        if (m_pPixmap) {
            for (KInt32 i = 0; i < count; ++i)
                out[i] = reinterpret_cast<const KUInt16*>(m_pPixmap->GetRow(first + i));
            return;
        }
        const size_t rowValues = size_t(m_Width) * 3;
        buffer.resize(rowValues * size_t(count > 0 ? count : 1));
        KPixmapTemplate<KPixelClass48RGB> part(buffer.data(), m_Width, count,
                                               static_cast<KInt32>(rowValues * sizeof(KUInt16)));
        m_pRows->ReadImageRows(first, count, part);
        for (KInt32 i = 0; i < count; ++i)
            out[i] = buffer.data() + rowValues * size_t(i);
    }

private:
    const KPixmapTemplate<KPixelClass48RGB>* m_pPixmap;
    const KIDataObject* m_pRows;
    KInt32 m_Width = 0;
    KInt32 m_Height = 0;
};

// Offsets for the raw frame's columns when the calibration names valid offset rows below outRows; else empty.
std::vector<KInt16> RawOffsets(const KCamdata& camdata, const KFrameInput& raw, KInt32 outRows)
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
    std::vector<KInt16> offsets(static_cast<size_t>(raw.Width()) * 3);
    if (raw.Pixmap()) {
        if (!CalculateRawOffsets(raw.Pixmap(), offsets.data(), first, last, step, shift))
            return {};
        return offsets;
    }
    // Only the measured rows are decoded: rows first .. last as rows 0 .. last - first.
    if (last >= static_cast<KUInt32>(raw.Height()))
        return {};
    const KInt32 count = static_cast<KInt32>(last - first + 1);
    std::vector<KUInt16> buffer;
    std::vector<const KUInt16*> pointers(static_cast<size_t>(count));
    raw.Rows(static_cast<KInt32>(first), count, buffer, pointers.data());
    const KPixmapTemplate<KPixelClass48RGB> measured(buffer.data(), raw.Width(), count,
                                                     static_cast<KInt32>(size_t(raw.Width()) * 3 * sizeof(KUInt16)));
    if (!CalculateRawOffsets(&measured, offsets.data(), 0, last - first, step, shift))
        return {};
    return offsets;
}
}  // namespace

KEngineOutcome KIPEngine2::priProcessStage1(KIPEngineRequest& request)
{
    KStageParams params(request, "KIPEngine2::priProcessStage1");
    // The frames come as pixmaps, or as sources whose rows are decoded by bands here.
    KIDataObject* rawRows = request.GetPixmapParam(KWString(u"RAWIMAGE")) ? nullptr : request.GetRowsParam(KWString(u"RAWROWS"));
    KIDataObject* darkRows = request.GetPixmapParam(KWString(u"DARKIMAGE")) ? nullptr : request.GetRowsParam(KWString(u"DARKROWS"));
    auto* rawImage = rawRows ? nullptr : params.PixmapOf<KPixelClass48RGB>(u"RAWIMAGE");
    auto* darkImage = darkRows ? nullptr : params.PixmapOf<KPixelClass48RGB>(u"DARKIMAGE");
    KCamdata* camdata = params.Camdata(u"CAMBDATA");
    auto* out = params.PixmapOf<KPixelClass48SRGB>(u"OUTIMAGE");
    if (!params.Ok())
        return params.Outcome();
    const KFrameInput raw(rawImage, rawRows), dark(darkImage, darkRows);
    if (!raw.Ok() || !dark.Ok())
        return params.Fail("frame of the wrong pixel type");
    if (out->GetWidth() < raw.Width() || out->GetHeight() < raw.Height())
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
    if (rawImage && darkImage)
        LinearizeAndDarkSubtractImage(darkImage, rawImage, lut.get(), out);
    else if (dark.Width() != raw.Width() || dark.Height() != raw.Height())
        throw KExceptionPixelProc2("LinearizeAndDarkSubtractImage: dark and raw are different sizes.\n");
    else if (raw.Width() != out->GetWidth() || raw.Height() != out->GetHeight())
        throw KExceptionPixelProc2("LinearizeAndDarkSubtractImage: raw and output are different sizes.\n");

    const std::vector<KInt16> offsets = RawOffsets(*camdata, raw, out->GetHeight());
    const KInt32 rows = out->GetHeight(), columns = raw.Width();
    const KInt32 first = static_cast<KInt32>(std::min<KUInt32>(resume[kResumeRow], static_cast<KUInt32>(rows)));
    // Rows are independent: they go in bands over the processors, each band stopping at a cancel.
    const KRowBands bands(first, rows, kMinBandRows);
    std::vector<KInt32> stopped(static_cast<size_t>(bands.Count()));
    bands.Run([&](int band, KInt32 begin, KInt32 end) {
        // Rows by chunks: a chunk of each frame decoded (or found) at once, then linearised row by row.
        std::vector<KUInt16> rawBuffer, darkBuffer;
        const KUInt16* rawRow[kChunkRows];
        const KUInt16* darkRow[kChunkRows];
        KInt32 row = begin;
        for (KInt32 chunk = begin; chunk < end && row == chunk; chunk += kChunkRows) {
            const KInt32 count = std::min(kChunkRows, end - chunk);
            raw.Rows(chunk, count, rawBuffer, rawRow);
            dark.Rows(chunk, count, darkBuffer, darkRow);
            for (; row < chunk + count; ++row) {
                if (request.m_Async.IsCancelRequested())
                    break;
                auto* outRow = reinterpret_cast<KInt16*>(out->GetRow(row));
                if (offsets.empty())
                    LinearizeAndDarkSubtractRow(darkRow[row - chunk], rawRow[row - chunk], columns, *lut, outRow);
                else
                    LinearizeAndDarkSubtractRowWithOffsets(darkRow[row - chunk], rawRow[row - chunk], columns, *lut,
                                                           outRow, offsets.data());
                if (band == 0 && row % kProgressRows == 0) {
                    const double done = static_cast<double>(first) + static_cast<double>(row - first) * bands.Count();
                    request.m_Async.SetProgress(std::min(1.0, done / rows));
                }
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
