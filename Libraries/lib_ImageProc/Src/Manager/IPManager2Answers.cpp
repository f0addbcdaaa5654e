// The pipeline's last states: the processed image, automatic settings, grey balance and illuminants.
#include <algorithm>

#include "Engine/KCalibrationAreas.h"
#include "IPManager2.h"
#include "KCamdata.h"
#include "KCamdataGetters.h"
#include "KException.h"
#include "KICache.h"
#include "KPixelTypes.h"
#include "KPMImage2.h"
#include "KPropTree.h"
#include "Manager/KIpmGeometry.h"
#include "Manager/KStageBlocks.h"

void IPManager2::priHandOverResult(KIpMgrReq& request)
{
    if (!m_pStage4Block)
        throw KException("IPManager2: no stage 4 result to hand over.");
    // With the crop and fitted size the result was made for, also when it came from the cache.
    priAnswerWithImage(request, m_pStage4Block);
    request.m_Async.SetProgress(1.0);
    request.m_Async.SetState(kDone);
}

void IPManager2::priAutoSettings(KIpMgrReq& request)
{
    if (!m_pStage2Block)
        throw KException("IPManager2: no stage 2 result for the automatic settings.");
    const double* statistics = PixmapRecord(m_pStage2Block).m_Statistics;
    for (int i = 0; i < 5; ++i)
        request.m_Adjustments[i] = statistics[i];
    for (int i = 0; i < 3; ++i)
        request.m_ColorAdjust[i] = statistics[5 + i];
    request.m_Async.SetProgress(1.0);
    request.m_Async.SetState(kDone);
}

void IPManager2::priGreyBalance(KIpMgrReq& request)
{
    if (!m_pStage2Block || !m_pCamdata)
        throw KException("IPManager2: no stage 2 result or calibration for the grey balance.");
    const KPixmap* image = PixmapRecord(m_pStage2Block).m_pPixmap;
    if (!image || image->GetPixelType() != kPixelType48SRGB)
        throw KException("IPManager2: the stage 2 result is not 48-bit signed RGB.");
    const KInt32 columns = priCaptureInt(u"COLS", 0);
    const KInt32 rows = priCaptureInt(u"ROWS", 0);
    const KInt32 quarter = QuarterTurn(priCaptureInt(u"ROTATION", 0));

    // The sample around the point as displayed, turned back onto the unturned image. The point comes from the
    // caller and the size from the file: the sample is cut to the image in 64 bits.
    const KPoint& point = request.m_SamplePoint;
    auto cut = [](KInt64 v, KInt32 size) {
        return static_cast<KInt32>(std::clamp<KInt64>(v, 0, std::max(size, 0)));
    };
    KRect sample(cut(KInt64{point.x} - 4, columns), cut(KInt64{point.y} - 4, rows),
                 cut(KInt64{point.x} + 4, columns), cut(KInt64{point.y} + 4, rows));
    sample = TurnBack(sample, columns, rows, quarter);
    const bool swap = SwapsSides(quarter);
    const KInt64 unturnedWidth = swap ? rows : columns;
    const KInt64 unturnedHeight = swap ? columns : rows;

    // Into the sensor area that the image shows.
    const KRect keep = GetCamdataRect("KeepImageArea", *m_pCamdata);
    KRect active = GetCamdataRect("ActiveImageArea", *m_pCamdata);
    if (image->GetWidth() == KInt64{keep.right} - keep.left && image->GetHeight() == KInt64{keep.bottom} - keep.top)
        active = MoveIntoKeepArea(active, keep);
    KRect area;
    if (unturnedWidth > 0 && unturnedHeight > 0) {
        // In 64 bits: the sample is within the image's size and the area within the 32-bit range.
        const KInt64 activeWidth = KInt64{active.right} - active.left;
        const KInt64 activeHeight = KInt64{active.bottom} - active.top;
        auto x = [&](KInt32 v) {
            const KInt64 scaled = v * activeWidth / unturnedWidth + active.left;
            return static_cast<KInt32>(std::clamp<KInt64>(scaled, 0, image->GetWidth()));
        };
        auto y = [&](KInt32 v) {
            const KInt64 scaled = v * activeHeight / unturnedHeight + active.top;
            return static_cast<KInt32>(std::clamp<KInt64>(scaled, 0, image->GetHeight()));
        };
        area = KRect(x(sample.left), y(sample.top), x(sample.right), y(sample.bottom));
    }
    KInt64 sum[3] = {0, 0, 0};
    for (KInt32 row = area.top; row < area.bottom; ++row) {
        const auto* pixel = reinterpret_cast<const int16_t*>(image->GetRow(row)) + 3 * static_cast<KInt64>(area.left);
        for (KInt32 column = area.left; column < area.right; ++column, pixel += 3)
            for (int c = 0; c < 3; ++c)
                sum[c] += pixel[c];
    }
    if (sum[0] <= 0 || sum[1] <= 0 || sum[2] <= 0) {
        request.m_Async.Fail(kIpErrBadArgument, KWString(u"IPManager2::priGreyBalance: the sample is empty or black."));
        return;
    }
    const double luminance = 0.3 * sum[0] + 0.55 * sum[1] + 0.15 * sum[2];
    for (int c = 0; c < 3; ++c)
        request.m_ColorAdjust[c] = luminance / static_cast<double>(sum[c]);
    request.m_Async.SetProgress(1.0);
    request.m_Async.SetState(kDone);
}

void IPManager2::priCompleteGetIlluminants(KIpMgrReq& request)
{
    if (!m_pCamdata)
        throw KException("IPManager2::priCompleteGetIlluminants: no calibration data.");
    KPropTree* tree = request.m_pImageProps;
    if (!tree) {
        request.m_Async.Fail(kIpErrBadArgument,
                             KWString(u"IPManager2::priCompleteGetIlluminants: Property list ptr is NULL."));
        return;
    }
    // The answer is the list of illuminant names, appended to what the tree holds already.
    KPropPair* last = tree->GetFirstPair();
    while (last && last->GetNext())
        last = last->GetNext();
    m_pCamdata->GetPropertyList("WhiteBalanceIlluminants", tree);
    const bool hasAuto = m_pCamdata->FindMatrix("AutoRGBNeutral", KCAMDATA_FLOAT, 0, nullptr) != nullptr;
    const bool hasCustom = m_pCamdata->FindMatrix("CustomRGBNeutral", KCAMDATA_FLOAT, 0, nullptr) != nullptr;
    KPropPair* pair = last ? last->GetNext() : tree->GetFirstPair();
    while (pair) {
        KPropPair* next = pair->GetNext();
        pair->SetValue(KWString());
        if ((pair->GetKey() == u"Auto" && !hasAuto) || (pair->GetKey() == u"Custom" && !hasCustom))
            tree->RemovePair(pair);
        pair = next;
    }
    request.m_Async.SetProgress(1.0);
    request.m_Async.SetState(kDone);
}
