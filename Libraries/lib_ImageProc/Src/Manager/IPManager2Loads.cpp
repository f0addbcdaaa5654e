// The pipeline's loads: finding the frames of the file, loading them and the calibration data.
#include "IPManager2.h"
#include "KCamdata.h"
#include "KDataObject.h"
#include "KDataRetriever.h"
#include "KException.h"
#include "KIFile.h"
#include "KStorage.h"
#include "KStorageURL.h"

namespace {

// The file's name as a photographer knows it: the last part of its URL.
KWString ShownName(const KWString& url)
{
    if (url.IsEmpty())
        return url;
    KWString head, last;
    SplitLastPart(url, head, last);
    KWString shown;
    UnescapeURLComponent(last, shown);
    return shown;
}

// Builds the calibration data of `source`; without it, or with damaged data, the request fails (error 12)
// with a message that says so instead of the calibration reader's own.
bool BuildCamdata(KIpMgrReq& request, std::unique_ptr<KCamdata>& out, const void* bytes, size_t size,
                  const KWString& source)
{
    const KWString name = ShownName(source);
    if (!bytes || size == 0) {
        request.m_Async.Fail(kIpErrInternal, u"\"" + name + u"\" holds no camera calibration data, so it cannot "
                                             u"be developed.");
        return false;
    }
    try {
        out = std::make_unique<KCamdata>(bytes, size);
    } catch (const KException& e) {
        request.m_Async.Fail(kIpErrInternal, u"The camera calibration data of \"" + name +
                                                 u"\" is damaged, so it cannot be developed (" +
                                                 KWString(e.GetMessage()) + u")");
        return false;
    }
    return true;
}

}  // namespace

void IPManager2::priFindImages(KIpMgrReq& request)
{
    if (priRetrieverBusy()) {
        request.m_Async.Fail(kIpErrInternal, KWString(u"KIPManager::priFindImages: data retriever is busy!"));
        return;
    }
    if (!priRunRetriever(request.m_FileName, kRetrieveInfo, kInfoImageCount, 0, nullptr)) {
        priCopyRetrieverStatus(request);
        return;
    }
    for (KUInt32 i = m_RetrieverRequest.m_Value; i-- > 0;) {
        if (!priRunRetriever(request.m_FileName, kRetrieveInfo, kInfoImage, i, nullptr)) {
            priCopyRetrieverStatus(request);
            return;
        }
        switch (m_RetrieverRequest.m_ImageKind) {
        case 1:
            m_RawIndex = static_cast<KInt32>(i);
            break;
        case 2:
            m_DarkIndex = static_cast<KInt32>(i);
            break;
        case 3:
            m_SubtractedIndex = static_cast<KInt32>(i);
            break;
        default:
            break;
        }
    }
    if ((m_RawIndex < 0 || m_DarkIndex < 0) && m_SubtractedIndex < 0) {
        KWString message(u"Image does not contain: ");
        if (m_SubtractedIndex < 0)
            message += u"dark subtracted frame ";
        if (m_DarkIndex < 0)
            message += u"dark frame ";
        if (m_RawIndex < 0)
            message += u"raw frame";
        request.m_Async.Fail(kIpErrNotFound, message);
        return;
    }
    m_State = kStateLoadRaw;
}

void IPManager2::priStartLoad(KIpMgrReq& request, const char* busyText, KUInt32 subKind, KInt32 index,
                              KUInt32 waitState)
{
    if (request.m_Async.IsCancelRequested()) {
        request.m_Async.End(kCancelled, kIpErrNone, KWString());
        return;
    }
    if (priRetrieverBusy()) {
        request.m_Async.Fail(kIpErrInternal, KWString(busyText));
        return;
    }
    // Frames are decoded where stage 1 uses them (raw files; the others load whole), never held whole.
    priStartRetriever(request.m_FileName, kRetrieveData, subKind, static_cast<KUInt32>(index), nullptr,
                      subKind == kDataFrame);
    m_State = waitState;
}

// Waits for a data request of the retriever; its data object goes to `into` and the pipeline to `next`.
void IPManager2::priWaitLoad(KIpMgrReq& request, KIDataObject*& into, KUInt32 next)
{
    KDataRetrieverRequest& load = m_RetrieverRequest;
    load.m_Async.SetCancelByte(request.m_Async.GetCancel());
    priSetProgress(m_State, next, load.m_Async.GetProgress());
    if (load.m_Async.IsBusy())
        return;
    if (load.m_Async.GetState() != kDone) {
        priCopyRetrieverStatus(request);
        if (request.m_Async.GetError() == kIpErrInternal)
            request.m_Async.SetError(kIpErrFileIO);
        return;
    }
    if (load.m_pData)
        into = load.m_pData;
    else
        into = load.m_pRows;
    load.m_pData = nullptr;
    load.m_pRows = nullptr;
    if (!into)
        throw KException("IPManager2: the data retriever answered a load without data.");
    m_State = next;
}

void IPManager2::priLoadCamfile(KIpMgrReq& request)
{
    if (request.m_Async.IsCancelRequested()) {
        request.m_Async.End(kCancelled, kIpErrNone, KWString());
        return;
    }
    if (!request.m_ExternalCamfile.IsEmpty()) {
        KFileHolder file;
        try {
            file.reset(OpenFileByURL(request.m_ExternalCamfile, KFILE_MODE_READ));
        } catch (const KExceptionFileNotFound&) {
        }
        if (!file) {
            request.m_Async.Fail(kIpErrCamfileNotFound,
                                 KWString(u"KIPManager::priLoadCamfile: external camfile not found."));
            return;
        }
        const KUInt32 size = file->GetSize();
        if (size == KFILE_SIZE_UNKNOWN)
            throw KExceptionFileRead("KIPManager::priLoadCamfile: external camfile is too large.");
        m_ExternalCamfile.resize(size);
        file->ReadExact(m_ExternalCamfile.data(), size);
        file.reset();
        if (BuildCamdata(request, m_pCamdata, m_ExternalCamfile.data(), m_ExternalCamfile.size(),
                         request.m_ExternalCamfile))
            m_State = m_TargetState;
        return;
    }
    if (priRetrieverBusy()) {
        request.m_Async.Fail(kIpErrInternal, KWString(u"KIPManager::priLoadCamfile: data retriever is busy!"));
        return;
    }
    priStartRetriever(request.m_FileName, kRetrieveData, kDataCalibration, 0, nullptr);
    m_State = kStateWaitCamfile;
}

void IPManager2::priWaitCamfile(KIpMgrReq& request)
{
    priWaitLoad(request, m_pCamfileData, m_TargetState);
    if (m_State != m_TargetState || !m_pCamfileData)
        return;
    const void* bytes = m_pCamfileData->GetCamfileData();
    if (!BuildCamdata(request, m_pCamdata, bytes, m_pCamfileData->GetCamfileSize(), request.m_FileName))
        m_State = kStateNone;
}
