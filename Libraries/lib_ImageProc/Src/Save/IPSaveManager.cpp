#include "IPSaveManager.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "KDebug.h"
#include "KException.h"
#include "KICCProfiles.h"
#include "KJPEGLineWriter.h"
#include "KNarrowString.h"
#include "KICache.h"
#include "KPMImage2.h"
#include "KPerfTimer.h"
#include "KPixelTypes.h"
#include "KPixmap.h"
#include "KPropTree.h"
#include "KRowBands.h"
#include "KStorageURL.h"
#include "KTextFunctions.h"
#include "KTiffLineWriter.h"
#include "Manager/KIpmStatus.h"
#include "Manager/KStepSlice.h"
#include "KSaveGeometry.h"

namespace {

constexpr double kSliceSeconds = 0.01;
constexpr double kIdleWaitSeconds = 0.1;

KWString Text(const KNarrowString& text)
{
    return Utf8ToWide(text.Str());
}

// One reference to a result image, given back at the end of the scope.
class KResultImage {
public:
    explicit KResultImage(KPMImage2* image) : m_pImage(image) {}
    ~KResultImage()
    {
        if (m_pImage)
            m_pImage->Release();
    }
    KResultImage(const KResultImage&) = delete;
    KResultImage& operator=(const KResultImage&) = delete;
    KPixmap* Pixmap() const { return m_pImage ? m_pImage->GetPixmap() : nullptr; }
    // The image's cache block loses its label: nobody finds it again, and it is freed with its last holder.
    void Forget() const
    {
        if (m_pImage && m_pImage->GetCacheObject())
            m_pImage->GetCacheObject()->SetLabel(u"");
    }

private:
    KPMImage2* m_pImage;
};

}  // namespace

IPSaveManager::IPSaveManager(KIPManager* owner) : m_pOwner(owner)
{
    m_Inner.m_AllowMissingProfile = 1;
}

IPSaveManager::~IPSaveManager()
{
    priCleanUp();
    if (m_pCurrent) {
        m_pCurrent->m_Async.End(kCancelled, kIpErrNone, KWString());
        m_pCurrent = nullptr;
    }
}

void IPSaveManager::Request(KIpMgrReq* request)
{
    if (!request)
        return;
    KIpMgrAsync& status = request->m_Async;
    if (m_pCurrent) {
        status.Fail(kIpErrBusy, KWString(u"IPSaveManager is busy."));
        return;
    }
    if (request->m_Kind != kIpReqSave) {
        status.Fail(kIpErrUnsupported, KWString(u"IPSaveManager can only handle save requests."));
        return;
    }
    if (request->m_OutputFormat == kDisplay) {
        status.Fail(kIpErrBadArgument, KWString(u"IPSaveManager: Cannot save with an output format of kDisplay"));
        return;
    }
    if (request->m_OutputFormat != kOutput24RGB && request->m_OutputFormat != kOutput48RGB) {
        status.Fail(kIpErrBadArgument, Text(KNarrowString("IPSaveManager: Cannot save with an output format of %u",
                                                          request->m_OutputFormat)));
        return;
    }
    if (request->m_SaveFileFormat != kSaveTIFF && request->m_SaveFileFormat != kSaveJPEG) {
        status.Fail(kIpErrUnsupported, Text(KNarrowString("IPSaveManager: Cannot save in file format %u "
                                                          "(1 TIFF, 2 JPEG).",
                                                          request->m_SaveFileFormat)));
        return;
    }
    if (request->m_SaveFileFormat == kSaveJPEG && request->m_OutputFormat != kOutput24RGB) {
        status.Fail(kIpErrBadArgument,
                    KWString(u"IPSaveManager: JPEG files are saved from 24-bit RGB (output format 2)."));
        return;
    }
    status.SetError(kIpErrNone);
    status.SetProgress(0.0);
    m_pCurrent = request;
    m_State = kStateOpen;
    status.SetState(kInProgress);
    Idle();
}

void IPSaveManager::Idle()
{
    priProcessIdle();
}

void IPSaveManager::priProcessIdle()
{
    auto step = [this] {
        if (!m_pCurrent)
            return KStepOutcome::kEnded;
        KIpMgrReq& request = *m_pCurrent;
        const KUInt32 before = m_State;
        m_WaitingForOwner = false;
        try {
            priStep(request);
        } catch (const std::bad_alloc&) {
            request.m_Async.Fail(kIpErrOutOfMemory, KWString(u"IPSaveManager::priProcessIdle: out of memory!"));
        } catch (...) {
            FailWithCurrentException(request.m_Async, "IPSaveManager::priProcessIdle");
        }
        if (request.m_Async.GetState() != kInProgress) {
            m_pCurrent = nullptr;
            m_State = kStateIdle;
            priCleanUp();
            return KStepOutcome::kEnded;
        }
        return m_State != before ? KStepOutcome::kChanged : KStepOutcome::kUnchanged;
    };
    RunStepSlice(kSliceSeconds, step, [this] {
        // The owner advances its request right after this slice: waiting here would only hold it up.
        if (m_WaitingForOwner)
            return false;
        SleepSeconds(kIdleWaitSeconds);
        return true;
    });
}

void IPSaveManager::priStep(KIpMgrReq& request)
{
    switch (m_State) {
    case kStateIdle:
        DebugTraceText("IPSaveManager: Someone left the a request open and the state machine in the Idle state.\n");
        request.m_Async.Fail(kIpErrInternal, KWString(u"IPSaveManager: Someone left the a request open and the state "
                                                      u"machine in the Idle state."));
        break;
    case kStateOpen:
        priOpen(request);
        break;
    case kStateRequestProperties:
        priSaveRequestProperties(request);
        break;
    case kStateWaitProperties:
        priWaitProperties(request);
        break;
    case kStateCreateThumbnail:
        priSaveCreateThumbnail(request);
        break;
    case kStateWriteProperties:
        priSaveWriteProperties(request);
        break;
    case kStateRequestStrip:
        priSaveRequestStrip(request);
        break;
    case kStateWriteStrip:
        priWriteStrip(request);
        break;
    case kStateFinish:
        priFinish(request);
        break;
    case kStateCleanUp:
        priCleanUp();
        m_State = kStateIdle;
        break;
    default:
        DebugTraceText("IPSaveManager: IPSaveManager in an invalid state.\n");
        request.m_Async.Fail(kIpErrInternal, KWString(u"IPSaveManager: IPSaveManager in an invalid state."));
        break;
    }
}

void IPSaveManager::priOpen(KIpMgrReq& request)
{
    const KRect& crop = request.m_CropRect;
    m_RowsWritten = 0;
    m_RowsTotal = 0;
    if (crop.left < 0 || crop.top < 0 || crop.right <= crop.left || crop.bottom <= crop.top) {
        request.m_Async.Fail(kIpErrBadArgument, Text(KNarrowString("IPSaveManager: the crop rectangle (%d, %d, %d, "
                                                                   "%d) holds no image.",
                                                                   crop.left, crop.top, crop.right, crop.bottom)));
        return;
    }
    m_RowsTotal = crop.bottom - crop.top;
    m_PixelType = OutputPixelType(request.m_OutputFormat);
    // The picture is made from one file: the one under the name now, unchanged until the last row.
    m_SourceIdentity = GetFileIdentityByURL(request.m_FileName);
    if (request.m_SaveFileFormat == kSaveJPEG) {
        const int quality = static_cast<int>(std::min<KUInt32>(request.m_SaveValue, 100));
        m_pWriter = std::make_unique<KJPEGLineWriter>(request.m_SaveFileName, quality, false);
    } else {
        m_pWriter = std::make_unique<KTiffLineWriter>(request.m_SaveFileName, false);
    }
    m_pWriter->SetDimensions(crop.Width(), m_RowsTotal, m_PixelType);
    request.m_Async.SetProgress(0.0);
    m_State = kStateRequestProperties;
}

void IPSaveManager::priSaveRequestProperties(KIpMgrReq& request)
{
    if (m_Inner.m_Async.IsBusy()) {
        request.m_Async.Fail(kIpErrInternal, KWString(u"IPSaveManager::priSaveRequestProperties: IP Manager is busy!"));
        return;
    }
    m_Inner.Reset();
    m_Inner.m_Kind = kIpReqProperties;
    m_Inner.m_FileName = request.m_FileName;
    m_pOwner->Request(&m_Inner);
    m_State = kStateWaitProperties;
}

void IPSaveManager::priWaitProperties(KIpMgrReq& request)
{
    if (priInnerBusy(request))
        return;
    if (!priInnerDone(request))
        return;
    m_pProps.reset(m_Inner.m_pImageProps->Clone());
    m_Cols = m_pProps->GetInt(KWString(u"COLS"), 0);
    m_Rows = m_pProps->GetInt(KWString(u"ROWS"), 0);
    // The strips are cut from the image fitted into the output size: a crop beyond it cannot be written.
    KInt32 fittedWidth = 0, fittedHeight = 0;
    FitSaveSize(m_Cols, m_Rows, request.m_OutputWidth, request.m_OutputHeight, fittedWidth, fittedHeight);
    m_FittedHeight = fittedHeight;
    const KRect& crop = request.m_CropRect;
    if (m_Cols > 0 && m_Rows > 0 && (crop.right > fittedWidth || crop.bottom > fittedHeight)) {
        request.m_Async.Fail(kIpErrBadArgument,
                             Text(KNarrowString("IPSaveManager: the crop rectangle (%d, %d, %d, %d) reaches beyond the "
                                                "%d x %d image fitted into %d x %d.",
                                                crop.left, crop.top, crop.right, crop.bottom, fittedWidth, fittedHeight,
                                                request.m_OutputWidth, request.m_OutputHeight)));
        return;
    }
    m_State = kStateCreateThumbnail;
}

void IPSaveManager::priSaveCreateThumbnail(KIpMgrReq& request)
{
    if (m_Inner.m_Async.IsBusy()) {
        request.m_Async.Fail(kIpErrInternal, KWString(u"IPSaveManager::priSaveCreateThumbnail: IP Manager is busy!"));
        return;
    }
    priInnerFromRecord(request);
    KInt32 boxWidth = kThumbnailBox, boxHeight = kThumbnailBox;
    if (request.m_SaveFileFormat == kSaveTIFF)
        TiffThumbnailBox(m_Cols, m_Rows, boxWidth, boxHeight);
    m_Inner.m_OutputFormat = kOutput24RGB;
    m_Inner.m_OutputColorSpace = 2;
    m_Inner.m_OutputWidth = boxWidth;
    m_Inner.m_OutputHeight = boxHeight;
    m_Inner.m_CropRect = KRect(0, 0, boxWidth, boxHeight);
    m_pOwner->Request(&m_Inner);
    m_State = kStateWriteProperties;
}

void IPSaveManager::priSaveWriteProperties(KIpMgrReq& request)
{
    request.m_Async.SetProgress(m_Inner.m_Async.GetProgress() * 0.5);
    if (priInnerBusy(request))
        return;
    if (!priInnerDone(request))
        return;
    {
        KResultImage thumbnail(priTakeResult());
        const KPixmap* pixmap = thumbnail.Pixmap();
        if (!pixmap) {
            request.m_Async.Fail(kIpErrInternal,
                                 KWString(u"IPSaveManager::priSaveWriteProperties: the thumbnail has no pixels."));
            return;
        }
        m_pWriter->WriteThumbnail(*pixmap);
    }
    m_pWriter->WriteProperties(*m_pProps, static_cast<int>(request.m_OutputColorSpace), request.m_SoftwareName,
                               request.m_Version);
    const KICCProfile* profile = GetBuiltInICCProfile(static_cast<int>(request.m_OutputColorSpace));
    if (profile) {
        // sRGB is what a JPEG file without a profile means.
        if (request.m_SaveFileFormat != kSaveJPEG || request.m_OutputColorSpace != 2)
            m_pWriter->WriteProfile(profile->size, profile->data);
    } else if (!request.m_AllowMissingProfile) {
        m_pWriter.reset();
        request.m_Async.Fail(kIpErrProfileMissing,
                             KWString(u"IPSaveManager::priSaveWriteProperties: Color profile missing."));
        return;
    }
    m_pProps.reset();
    request.m_Async.SetProgress(0.5);
    m_State = kStateRequestStrip;
}

void IPSaveManager::priSaveRequestStrip(KIpMgrReq& request)
{
    if (request.m_Async.IsCancelRequested()) {
        request.m_Async.End(kCancelled, kIpErrNone, KWString());
        return;
    }
    if (m_Inner.m_Async.IsBusy()) {
        request.m_Async.Fail(kIpErrInternal, KWString(u"IPSaveManager::priSaveRequestStrip: IP Manager is busy!"));
        return;
    }
    // A crop inside the image is padded with the image's rows around it, as a strip inside the crop is.
    const KRect& crop = request.m_CropRect;
    const KSaveStrip strip =
        PlanSaveStrip(m_RowsTotal, m_RowsWritten, crop.top, std::max(0, m_FittedHeight - crop.bottom));
    m_StripRowCount = strip.m_Rows;
    m_TopPadding = strip.m_TopPadding;
    m_BottomPadding = strip.m_BottomPadding;
    priInnerFromRecord(request);
    m_Inner.m_CropRect = KRect(crop.left, crop.top + m_RowsWritten - m_TopPadding, crop.right,
                               crop.top + m_RowsWritten + m_StripRowCount + m_BottomPadding);
    m_pOwner->Request(&m_Inner);
    m_State = kStateWriteStrip;
}

void IPSaveManager::priWriteStrip(KIpMgrReq& request)
{
    if (priInnerBusy(request))
        return;
    if (!priInnerDone(request))
        return;
    KResultImage strip(priTakeResult());
    const KPixmap* pixmap = strip.Pixmap();
    const KInt32 width = request.m_CropRect.Width();
    if (!pixmap || pixmap->GetWidth() != width || pixmap->GetHeight() < m_TopPadding + m_StripRowCount ||
        pixmap->GetPixelType() != m_PixelType) {
        request.m_Async.Fail(
            kIpErrInternal,
            Text(KNarrowString("IPSaveManager::priSaveWriteStrip: the strip is %d x %d of type %d, not %d x %d of "
                               "type %d.",
                               pixmap ? pixmap->GetWidth() : 0, pixmap ? pixmap->GetHeight() : 0,
                               pixmap ? pixmap->GetPixelType() : 0, width, m_TopPadding + m_StripRowCount,
                               m_PixelType)));
        return;
    }
    if (m_SourceIdentity.known && GetFileIdentityByURL(request.m_FileName) != m_SourceIdentity) {
        std::string shown;
        if (!URLToPosixPath(request.m_FileName, shown))
            shown = WideToUtf8(request.m_FileName);
        request.m_Async.Fail(kIpErrFileIO, Text(KNarrowString("IPSaveManager: '%s' was replaced or rewritten while it "
                                                              "was being saved; nothing was written.",
                                                              shown.c_str())));
        return;
    }
    // The strip is encoded on the pool while the owner makes the next one, from a copy of its rows: its block
    // goes at once, as it did when it was written here, and its room serves the next strip's blocks. A written
    // strip's output is not asked for again, and the strips before it (stage 3) stay cached for the next save.
    priWaitForWriter();
    const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(pixmap->GetBytesPerPixel());
    const KInt32 count = m_StripRowCount;
    if (m_WritingRows.size() < rowBytes * static_cast<size_t>(count))
        m_WritingRows.resize(rowBytes * static_cast<size_t>(count));
    for (KInt32 row = 0; row < count; ++row)
        std::memcpy(m_WritingRows.data() + rowBytes * static_cast<size_t>(row), pixmap->GetRow(m_TopPadding + row),
                    rowBytes);
    strip.Forget();
    KImageLineWriter* writer = m_pWriter.get();
    const KUInt8* rows = m_WritingRows.data();
    const int pixelType = m_PixelType;
    m_pWriting = std::make_unique<KPoolTask>([writer, rows, rowBytes, count, pixelType] {
        for (KInt32 row = 0; row < count; ++row)
            writer->WriteLine(rows + rowBytes * static_cast<size_t>(row), pixelType);
    });
    m_RowsWritten += m_StripRowCount;
    request.m_Async.SetProgress(static_cast<double>(m_RowsWritten) / m_RowsTotal * 0.48 + 0.5);
    m_State = m_RowsWritten < m_RowsTotal ? kStateRequestStrip : kStateFinish;
}

void IPSaveManager::priFinish(KIpMgrReq& request)
{
    // The last row finishes the file and gives it its name; what is left is to let go of the writer.
    priWaitForWriter();
    m_pWriter.reset();
    request.m_Async.SetProgress(1.0);
    request.m_Async.SetState(kDone);
    m_State = kStateIdle;
}

void IPSaveManager::priCleanUp()
{
    // A file without all its rows goes with its writer; the target keeps what it held.
    try {
        priWaitForWriter();
    } catch (...) {
        // The save has ended already; the file goes all the same.
    }
    m_pWriter.reset();
    m_pProps.reset();
    if (m_Inner.m_Async.IsBusy()) {
        // The owner still holds the inner request: it is left to end (the next save finds it busy).
        m_Inner.m_Async.SetCancel(true);
        return;
    }
    m_Inner.Reset();
    m_Inner.m_AllowMissingProfile = 1;
}

void IPSaveManager::priWaitForWriter()
{
    if (const std::unique_ptr<KPoolTask> writing = std::move(m_pWriting))
        writing->Wait();
}

bool IPSaveManager::priInnerBusy(const KIpMgrReq& request)
{
    m_Inner.m_Async.SetCancelByte(request.m_Async.GetCancel());
    m_WaitingForOwner = m_Inner.m_Async.IsBusy();
    return m_WaitingForOwner;
}

bool IPSaveManager::priInnerDone(KIpMgrReq& request)
{
    if (m_Inner.m_Async.GetState() == kDone)
        return true;
    request.m_Async.CopyFrom(m_Inner.m_Async);
    if (request.m_Async.GetState() == kInProgress || request.m_Async.GetState() == kInitialized) {
        // The owner ended the request without saying how: that is the owner's fault, not a success.
        request.m_Async.Fail(kIpErrInternal, KWString(u"IPSaveManager: the image-processing manager left a request "
                                                      u"unanswered."));
    }
    return false;
}

void IPSaveManager::priInnerFromRecord(const KIpMgrReq& r)
{
    KIpMgrReq& inner = m_Inner;
    // The inputs only: the inner request keeps its own trees and result image.
    inner.m_FileName = r.m_FileName;
    inner.m_Kind = kIpReqProcessed;
    inner.m_Version = r.m_Version;
    inner.m_SoftwareName = r.m_SoftwareName;
    inner.m_OutputWidth = r.m_OutputWidth;
    inner.m_OutputHeight = r.m_OutputHeight;
    inner.m_CropRect = r.m_CropRect;
    inner.m_OutputFormat = r.m_OutputFormat;
    std::copy(std::begin(r.m_Adjustments), std::end(r.m_Adjustments), inner.m_Adjustments);
    std::copy(std::begin(r.m_ColorAdjust), std::end(r.m_ColorAdjust), inner.m_ColorAdjust);
    inner.m_OutputColorSpace = r.m_OutputColorSpace;
    std::copy(std::begin(r.m_OverrideRGBNeutral), std::end(r.m_OverrideRGBNeutral), inner.m_OverrideRGBNeutral);
    inner.m_SaveFileName = r.m_SaveFileName;
    inner.m_SaveFileFormat = r.m_SaveFileFormat;
    inner.m_SaveValue = r.m_SaveValue;
    inner.m_SaveFlag = r.m_SaveFlag;
    inner.m_AllowMissingProfile = r.m_AllowMissingProfile;
    inner.m_SamplePoint = r.m_SamplePoint;
    inner.m_ExternalCamfile = r.m_ExternalCamfile;
    if (inner.m_pResultImage) {
        inner.m_pResultImage->Release();
        inner.m_pResultImage = nullptr;
    }
    inner.m_Async.Clear();
    inner.m_Async.SetCancelByte(r.m_Async.GetCancel());
}

KPMImage2* IPSaveManager::priTakeResult()
{
    KPMImage2* image = m_Inner.m_pResultImage;
    m_Inner.m_pResultImage = nullptr;
    return image;
}
