// The requests answered inside Request: properties, property changes and previews.
#include <memory>

#include "IPManager2.h"
#include "KCachedPixmap.h"
#include "KConvertColorPixmap.h"
#include "KDataMatrix.h"
#include "KDataObject.h"
#include "KDataRetriever.h"
#include "KDisplayRescaler.h"
#include "KICache.h"
#include "KIIPEngine2.h"
#include "KImage.h"
#include "KNarrowString.h"
#include "KPerfTimer.h"
#include "KPixelTypes.h"
#include "KPMImage2.h"
#include "KPropTree.h"
#include "KTextFunctions.h"
#include "Manager/KIpmGeometry.h"
#include "Manager/KStageBlocks.h"

namespace {

// One reference to an image object, given back at the end of the scope.
struct KImageRef {
    explicit KImageRef(KImage* image = nullptr) : m_pImage(image) {}
    ~KImageRef() { Reset(); }
    KImageRef(const KImageRef&) = delete;
    KImageRef& operator=(const KImageRef&) = delete;
    void Reset(KImage* image = nullptr)
    {
        if (m_pImage)
            m_pImage->Release();
        m_pImage = image;
    }
    KImage* operator->() const { return m_pImage; }
    KImage* m_pImage;
};

const KWChar* const kCropOutside = u"IPManager2::priHandlePreviewRequest: cropping rectangle is outside of image size.";

}  // namespace

void IPManager2::priHandlePropertiesRequest(KIpMgrReq& request)
{
    if (!request.m_pImageProps) {
        request.m_Async.Fail(kIpErrBadArgument,
                             KWString(u"IPManager2::priHandlePropertiesRequest: Property list ptr is NULL."));
        return;
    }
    priRunRetriever(request.m_FileName, kRetrieveInfo, kInfoProperties, 0, request.m_pImageProps);
    if (m_RetrieverRequest.m_Async.GetState() == kFailed)
        priCopyRetrieverStatus(request);
    else
        request.m_Async.SetState(kDone);
}

void IPManager2::priHandleModifyRequest(KIpMgrReq& request)
{
    priGetUniqueID(request);
    const KWString label = priBase() + KWString(u"-Properties");
    if (!request.m_pImageProps) {
        request.m_Async.Fail(kIpErrBadArgument,
                             KWString(u"IPManager2::priHandleModifyRequest: Property list ptr is NULL."));
        return;
    }
    priRunRetriever(request.m_FileName, kRetrieveModify, 0, 0, request.m_pImageProps);
    priCopyRetrieverStatus(request);
    // The next request reads the changed file again.
    if (KICacheObject* cached = m_pCache->Allocate(label.c_str(), 0))
        ForgetBlock(cached);
}

void IPManager2::priHandlePreviewRequest(KIpMgrReq& request)
{
    if (!priGetUniqueID(request))
        return;
    if (request.m_OutputFormat != kDisplay) {
        request.m_Async.Fail(
            kIpErrBadArgument,
            KWString(u"IPManager2::priHandlePreviewRequest: cannot process a preview for non-display output format."));
        return;
    }
    if (!priGetCaptureProps(request))
        return;
    const KInt32 rotation = priCaptureInt(u"ROTATION", 0);
    const KRect& crop = request.m_CropRect;
    const KWString label =
        priBase() + Utf8ToWide(KNarrowString("-IPManagerPreview-%dx%d-%dx%dx%dx%d,%d", request.m_OutputWidth,
                                             request.m_OutputHeight, crop.left, crop.top, crop.right, crop.bottom,
                                             rotation)
                                   .Str());
    KICacheObject* block = m_pCache->Allocate(label.c_str(), 0);
    if (block && (!block->GetData() || !PixmapRecord(block).m_pPixmap ||
                  PixmapRecord(block).m_pPixmap->GetPixelType() != kPixelType32BGRA)) {
        ForgetBlock(block);
        block = nullptr;
    }
    if (!block) {
        block = priMakePreview(request, label, rotation);
        if (!block)
            return;
    }
    // The answer: a handle over the cached preview, with the crop and fitted size it was made for.
    priAnswerWithImage(request, block);
    KPMImage2* image = request.m_pResultImage;
    auto* props = new KPropTree(nullptr, "Props");
    image->SetProps(props);
    props->AddPair(KWString(u"Filename"), request.m_FileName);
    request.m_Async.SetState(kDone);
}

// Makes the preview block under label (locked once for the caller) from the file's best viewable image, turned
// as the file says; null with the record failed.
KICacheObject* IPManager2::priMakePreview(KIpMgrReq& request, const KWString& label, KInt32 rotation)
{
    if (priRetrieverBusy()) {
        request.m_Async.Fail(kIpErrInternal, KWString(u"KIPManager::priHandlePreviewRequest: data retriever is busy!"));
        return nullptr;
    }
    if (!priRunRetriever(request.m_FileName, kRetrieveInfo, kInfoImageCount, 0, nullptr)) {
        priCopyRetrieverStatus(request);
        return nullptr;
    }
    const KUInt32 count = m_RetrieverRequest.m_Value;

    // What the caller sees is turned by the rotation; the embedded images are not.
    const KInt32 quarter = QuarterTurn(rotation);
    const bool swap = SwapsSides(quarter);
    const KRect& asked = request.m_CropRect;
    const KInt32 askedWidth = SaturatedDifference(asked.right, asked.left);
    const KInt32 askedHeight = SaturatedDifference(asked.bottom, asked.top);
    const KInt32 neededWidth = swap ? askedHeight : askedWidth;
    const KInt32 neededHeight = swap ? askedWidth : askedHeight;
    std::vector<KPreviewCandidate> candidates;
    for (KUInt32 i = count; i-- > 0;) {
        if (!priRunRetriever(request.m_FileName, kRetrieveInfo, kInfoImage, i, nullptr)) {
            priCopyRetrieverStatus(request);
            return nullptr;
        }
        const KDataRetrieverRequest& r = m_RetrieverRequest;
        if (r.m_ImageKind == 4)
            candidates.push_back({static_cast<KInt32>(i), static_cast<KInt32>(r.m_Width),
                                  static_cast<KInt32>(r.m_Height)});
    }
    const KInt32 chosen = ChoosePreviewImage(candidates, neededWidth, neededHeight);
    if (chosen < 0) {
        request.m_Async.Fail(kIpErrNotFound, request.m_FileName);
        return nullptr;
    }

    // Fit the chosen image, turned, into the output size; the crop must lie in what is fitted.
    if (!priRunRetriever(request.m_FileName, kRetrieveInfo, kInfoImage, static_cast<KUInt32>(chosen), nullptr)) {
        priCopyRetrieverStatus(request);
        return nullptr;
    }
    const KInt32 imageWidth = static_cast<KInt32>(m_RetrieverRequest.m_Width);
    const KInt32 imageHeight = static_cast<KInt32>(m_RetrieverRequest.m_Height);
    const KInt32 turnedWidth = swap ? imageHeight : imageWidth;
    const KInt32 turnedHeight = swap ? imageWidth : imageHeight;
    KInt32 fittedWidth = 0, fittedHeight = 0;
    FitSize(turnedWidth, turnedHeight, request.m_OutputWidth, request.m_OutputHeight, fittedWidth, fittedHeight);
    KRect crop = request.m_CropRect;
    if (!CutCrop(crop, fittedWidth, fittedHeight, 2)) {
        request.m_Async.Fail(kIpErrBadArgument, KWString(kCropOutside));
        return nullptr;
    }

    // Load it as display pixels, turned as shown.
    if (!priRunRetriever(request.m_FileName, kRetrieveData, kDataFrame, static_cast<KUInt32>(chosen), nullptr)) {
        priCopyRetrieverStatus(request);
        return nullptr;
    }
    KIDataObject* data = m_RetrieverRequest.m_pData;
    m_RetrieverRequest.m_pData = nullptr;
    KImageRef image;
    try {
        const KPixmap* loaded = data ? data->GetImagePixmapPtr() : nullptr;
        if (!loaded)
            throw KException("IPManager2::priHandlePreviewRequest: the loaded image has no pixels.");
        image.Reset(new KImage(loaded->GetWidth(), loaded->GetHeight(), kPixelType32BGRA, 4));
        ConvertColorPixmap(loaded, image->GetPixmap());
    } catch (...) {
        if (data)
            data->Release();
        throw;
    }
    data->Release();
    if (quarter != 0) {
        const KInt32 width = image->GetPixmap()->GetWidth(), height = image->GetPixmap()->GetHeight();
        KImageRef turned(new KImage(swap ? height : width, swap ? width : height, kPixelType32BGRA, 4));
        m_EngineRequest.FreeParams();
        m_EngineRequest.m_Kind = kEngineRotate;
        m_EngineRequest.AddPixmap(KWString(u"INIMAGE"), image->GetPixmap());
        m_EngineRequest.AddPixmap(KWString(u"OUTIMAGE"), turned->GetPixmap());
        auto* angle = new KDataMatrixTemplate<FloatClass>(1, 1);
        m_EngineRequest.AddMatrix(KWString(u"ROTATION"), angle);
        angle->Elements()[0] = quarter;
        m_pEngine->Request(m_EngineRequest);
        while (m_EngineRequest.m_Async.IsBusy())
            m_pEngine->Idle();
        m_EngineRequest.FreeParams();
        if (m_EngineRequest.m_Async.GetState() != kDone) {
            request.m_Async.CopyFrom(m_EngineRequest.m_Async);
            return nullptr;
        }
        image.Reset(turned.m_pImage);
        turned.m_pImage = nullptr;
    }

    // The cropped part of the fitted image, scaled into a cached block.
    KICacheObject* block = FindOrMakePixmapBlock(*m_pCache, label, kPixelType32BGRA, crop.Width(), crop.Height());
    if (!block) {
        request.m_Async.Fail(kIpErrOutOfMemory, KWString(u"IPManager2:Cache allocation failed."));
        return nullptr;
    }
    block->SetPriority(20);
    KCachedPixmapRecord& record = PixmapRecord(block);
    const KInt32 words[6] = {crop.left, crop.top, crop.right, crop.bottom, fittedWidth, fittedHeight};
    for (int i = 0; i < 6; ++i)
        record.m_Words[i] = words[i];
    const KPixmap* source = image->GetPixmap();
    const KInt64 sw = source->GetWidth(), sh = source->GetHeight();
    KRect sourceRect(static_cast<KInt32>(crop.left * sw / fittedWidth), static_cast<KInt32>(crop.top * sh / fittedHeight),
                     static_cast<KInt32>(crop.right * sw / fittedWidth),
                     static_cast<KInt32>(crop.bottom * sh / fittedHeight));
    if (sourceRect.right <= sourceRect.left)
        sourceRect.right = sourceRect.left + 1;
    if (sourceRect.bottom <= sourceRect.top)
        sourceRect.bottom = sourceRect.top + 1;
    const KRect destinationRect(0, 0, crop.Width(), crop.Height());
    try {
        ResamplePixmapRect(record.m_pPixmap, &destinationRect, source, &sourceRect);
    } catch (...) {
        ForgetBlock(block);
        throw;
    }
    record.m_Complete = 1;
    return block;
}
