#include "KDataRetriever.h"

#include <new>

#include "KCache.h"
#include "KDataBlocks.h"
#include "KDataObject.h"
#include "KFrameRows.h"
#include "KQrlbExceptions.h"
#include "Loaders/KLoaderOutcome.h"
#include "KDebug.h"
#include "KException.h"
#include "KILoader.h"
#include "KNarrowString.h"
#include "KPerfTimer.h"
#include "KPropTree.h"
#include "KTextFunctions.h"

namespace {
constexpr int kClosingPolls = 9;
constexpr double kClosingPollSeconds = 0.109;

// Whether the file name ends in the extension, compared without regard to case.
bool HasExtension(const KWString& fileName, const char* extension)
{
    const KWString ext(extension);
    if (fileName.GetLength() < ext.GetLength())
        return false;
    const KWString tail(fileName.View().substr(fileName.GetLength() - ext.GetLength()));
    return tail.CompareNoCase(ext.GetBuffer()) == 0;
}

KInt32 LoaderKindOfData(KUInt32 subKind)
{
    switch (subKind) {
    case kDataFrame:
        return kLoadImage;
    case kDataCameraFile:
        return kLoadCameraFile;
    default:
        return kLoadCalibration;
    }
}

KUInt32 BlockMarkOfLoad(KInt32 loaderKind)
{
    return loaderKind == kLoadImage ? kFrameBlockMark : kCamfileBlockMark;
}

// What is left of a load the retriever could not wait for: the loader's thread keeps it until it has ended,
// then tells the block how the filling went and lets go of it.
struct KAbandonedLoad {
    std::unique_ptr<KLoaderRequest> m_pRequest;
    KDataObject* m_pData = nullptr;  // one reference, when the load fills a block

    ~KAbandonedLoad()
    {
        if (!m_pData)
            return;
        if (KIpMgrAsync* status = m_pData->GetBlockStatus())
            m_pRequest->CopyStatusTo(*status);
        m_pData->Release();
    }
};
}  // namespace

KDataRetriever::KDataRetriever(KICache* cache) : m_pCache(cache ? cache : GetGlobalCache())
{
    m_Loaders.push_back({nullptr, []() -> KILoader* { return CreateQRLbLoader(); }, {".xxx", ".qrl", ".kzr"}});
    m_Loaders.push_back({nullptr, []() -> KILoader* { return CreateTiffLoader(); }, {".tif"}});
    m_Loaders.push_back({nullptr, []() -> KILoader* { return CreateJPEGLoader(); }, {".jpg"}});
}

KDataRetriever::~KDataRetriever()
{
    m_bClosing = true;
    try {
        if (priLoaderBusy()) {
            m_pLoadRequest->SetCancel(true);
            for (int poll = 0; poll < kClosingPolls && priLoaderBusy(); ++poll) {
                SleepSeconds(kClosingPollSeconds);
                Idle();
            }
            if (priLoaderBusy()) {
                DebugTraceText("~KDataRetriever(): load request still busy in destructor.\n");
                priAbandonLoad();
            }
        }
        if (m_pCurrent && m_pCurrent->m_Async.IsBusy()) {
            DebugTraceText("~KDataRetriever: Current request still active in destructor\n");
            if (m_pCurrent->m_pData) {
                m_pCurrent->m_pData->Release();
                m_pCurrent->m_pData = nullptr;
            }
            m_pCurrent->m_Async.SetState(kCancelled);
        }
    } catch (...) {
        DebugTraceText("~KDataRetriever: exception while closing\n");
    }
    if (priLoaderBusy())
        (void)m_pLoadRequest.release();  // the loader's thread still writes into it: never freed
    m_pLoadRequest.reset();
    for (LoaderEntry& entry : m_Loaders)
        KILoader::Release(entry.m_pLoader);
}

void KDataRetriever::Request(KDataRetrieverRequest& request)
{
    if (m_pCurrent) {
        priFail(request, kIpErrBusy, "KDataRetriever");
        return;
    }
    try {
        switch (request.m_Kind) {
        case kRetrieveInfo:
            HandleInfoRequest(request);
            break;
        case kRetrieveData:
            HandleDataRequest(request);
            break;
        case kRetrieveModify:
            priHandleModifyRequest(request);
            break;
        default:
            priFail(request, kIpErrBadArgument, "KDataRetriever:Request unknown request");
            break;
        }
    } catch (const std::bad_alloc&) {
        if (!m_pCurrent)
            m_pCurrent = &request;
        priFailCurrent(kIpErrOutOfMemory, KWString("KDataRetriever: out of memory"));
    } catch (const KException& e) {
        if (!m_pCurrent)
            m_pCurrent = &request;
        priFailCurrent(kIpErrInternal,
                       KWString(KNarrowString("KDataRetriever: %s (%s)", e.GetDescription(), e.GetMessage()).CStr()));
    }
}

void KDataRetriever::HandleInfoRequest(KDataRetrieverRequest& request)
{
    KILoader* loader = priLoaderFor(request, "File type not supported.");
    if (!loader)
        return;
    KInt32 loaderKind;
    switch (request.m_SubKind) {
    case kInfoImageCount:
        loaderKind = kLoadImageCount;
        break;
    case kInfoImage:
        loaderKind = kLoadImage;
        break;
    case kInfoCameraFile:
        loaderKind = kLoadCameraFile;
        break;
    case kInfoCalibration:
        loaderKind = kLoadCalibration;
        break;
    case kInfoProperties:
        loaderKind = kLoadProperties;
        break;
    case kInfoUniqueID:
        loaderKind = kLoadUniqueID;
        break;
    default:
        priFail(request, kIpErrBadArgument, "KDataRetriever:HandleInfoRequest unknown info request");
        return;
    }
    priBegin(request, *loader, loaderKind, request.m_Identity);
    m_pLoadRequest->m_Value = request.m_Index;
    m_pLoadRequest->m_pTree = request.m_pTree;
    loader->Request(*m_pLoadRequest);
    Idle();
}

void KDataRetriever::HandleDataRequest(KDataRetrieverRequest& request)
{
    KILoader* loader = priLoaderFor(request, "File type not supported.");
    if (!loader)
        return;
    request.m_pRows = nullptr;
    if (request.m_SubKind == kDataFrame && request.m_bRowsOnDemand && loader == m_Loaders[0].m_pLoader) {
        priHandleRowsRequest(request);
        return;
    }
    KNarrowString suffix;
    switch (request.m_SubKind) {
    case kDataFrame:
        suffix = KNarrowString("-FileImage-%d", static_cast<int>(request.m_Index));
        break;
    case kDataCameraFile:
        suffix = "-FileCamfile";
        break;
    case kDataCalibration:
        suffix = "-FileCAMbFile";
        break;
    default:
        priFail(request, kIpErrBadArgument, "KDataRetriever:HandleDataRequest unknown data request");
        return;
    }
    KWString id;
    KFileIdentity identity;
    if (!priGetUniqueID(*loader, request, id, identity))
        return;
    KWString label = request.m_FileName;
    label += u"-";
    label += id;
    label += suffix.CStr();
    priBegin(request, *loader, LoaderKindOfData(request.m_SubKind), identity);
    priGetCacheDataImage(*loader, request, label);
    if (m_pCurrent)
        Idle();
}

void KDataRetriever::priHandleRowsRequest(KDataRetrieverRequest& request)
{
    // Only the file's tables are read here; the rows are read by whoever uses them.
    KLoaderRequest load;
    load.m_URL = request.m_FileName;
    load.m_Identity = request.m_Identity;
    KIDataObject* rows = nullptr;
    const KLoaderOutcome outcome = KRunLoaderBody<KExceptionQrlbReader>(load, "QRLbLoader", [&] {
        rows = new KFrameRows(request.m_FileName, static_cast<KInt32>(request.m_Index));
        return KLoaderOutcome::Done();
    });
    if (outcome.m_Status != kDone) {
        if (rows)
            rows->Release();
        request.m_Async.End(outcome.m_Status, outcome.m_Error, outcome.m_Message);
        return;
    }
    request.m_pRows = rows;
    request.m_Async.SetProgress(1.0);
    request.m_Async.End(kDone, kIpErrNone, KWString());
}

void KDataRetriever::priHandleModifyRequest(KDataRetrieverRequest& request)
{
    KILoader* loader = priLoaderFor(request, "KDataRetriever::priHandleModifyRequest: File type not supported.");
    if (!loader)
        return;
    priBegin(request, *loader, kLoadModify, KFileIdentity());
    m_pLoadRequest->m_pTree = request.m_pTree;
    loader->Request(*m_pLoadRequest);
    Idle();
}

void KDataRetriever::Idle()
{
    for (LoaderEntry& entry : m_Loaders)
        if (entry.m_pLoader)
            entry.m_pLoader->Idle();
    if (!m_pCurrent)
        return;
    if (!m_pLoadRequest) {
        priFailCurrent(kIpErrInternal, KWString("KDataRetriever::Idle() current request has no load request."));
        return;
    }
    KLoaderRequest& load = *m_pLoadRequest;
    load.SetCancel(m_pCurrent->m_Async.IsCancelRequested() || m_bClosing);
    try {
        if (m_Phase == Phase::Following && !priFollow())
            return;
        if (m_Phase == Phase::Sizing) {
            const KUInt32 sizing = load.GetStatus();
            if (sizing == kInProgress) {
                m_pCurrent->m_Async.SetProgress(load.GetProgress());
                return;
            }
            if (sizing == kDone)
                priSized();  // the load request goes on to fill the block (or fails)
        }
    } catch (const std::bad_alloc&) {
        load.Fail(kIpErrOutOfMemory, KWString("KDataRetriever: out of memory"));
    } catch (const KException& e) {
        load.Fail(kIpErrInternal,
                  KWString(KNarrowString("KDataRetriever: %s (%s)", e.GetDescription(), e.GetMessage()).CStr()));
    }
    KDataRetrieverRequest& request = *m_pCurrent;
    const KUInt32 status = load.CopyStatusTo(request.m_Async);
    if (m_Phase == Phase::Filling && request.m_pData)
        load.CopyStatusTo(*request.m_pData->GetBlockStatus());
    if (status == kInProgress)
        return;
    if (status == kDone) {
        if (request.m_Kind == kRetrieveInfo) {
            request.m_Value = load.m_Value;
            request.m_Width = static_cast<KInt32>(load.m_Aux1);
            request.m_Height = static_cast<KInt32>(load.m_Aux2);
            request.m_ImageKind = load.m_ImageKind;
            request.m_PixelType = load.m_PixelType;
        }
    } else if (request.m_pData) {
        request.m_pData->Release();
        request.m_pData = nullptr;
    }
    priFinish();
}

KILoader* KDataRetriever::priFindLoader(const KWString& fileName)
{
    for (LoaderEntry& entry : m_Loaders)
        for (const char* extension : entry.m_Extensions)
            if (HasExtension(fileName, extension)) {
                if (!entry.m_pLoader)
                    entry.m_pLoader = entry.m_Maker();
                return entry.m_pLoader;
            }
    return nullptr;
}

KILoader* KDataRetriever::priLoaderFor(KDataRetrieverRequest& request, const char* refusal)
{
    KILoader* loader = priFindLoader(request.m_FileName);
    if (!loader)
        priFail(request, kIpErrUnsupported, refusal);
    return loader;
}

bool KDataRetriever::priGetUniqueID(KILoader& loader, KDataRetrieverRequest& request, KWString& id,
                                    KFileIdentity& identity)
{
    // The data are cached under the file's state too: a file rewritten under the same identifier is another.
    identity = request.m_Identity.known ? request.m_Identity : GetFileIdentityByURL(request.m_FileName);
    KPropTree tree(nullptr, "UniqueIDProp");
    KLoaderRequest ask;
    ask.m_URL = request.m_FileName;
    ask.m_Identity = identity;
    ask.m_Kind = kLoadUniqueID;
    ask.m_pTree = &tree;
    loader.Request(ask);  // answered at once by every loader
    if (ask.GetStatus() != kDone) {
        ask.CopyStatusTo(request.m_Async);
        return false;
    }
    id = tree.GetString(KWString("UNIQUEID"), KWString("NO-UNIQUEID"));
    if (identity.known)
        id += Utf8ToWide("@" + FileIdentityText(identity));
    return true;
}

void KDataRetriever::priGetCacheDataImage(KILoader& loader, KDataRetrieverRequest& request, const KWString& label)
{
    m_Label = label;
    KLoaderRequest& load = *m_pLoadRequest;
    KICacheObject* block = m_pCache->Allocate(label.GetBuffer(), 0);
    if (block && GetDataBlockMark(block) != BlockMarkOfLoad(load.m_Kind)) {
        block->Unlock();
        priFailCurrent(kIpErrInternal, KWString("KDataRetriever: the cache holds other data under the label."));
        return;
    }
    if (!block && load.m_Kind == kLoadImage) {
        // The image's size and type, answered at once.
        load.m_Value = request.m_Index;
        load.m_pPixmap = nullptr;
        loader.Request(load);
        if (load.GetStatus() != kDone) {
            load.CopyStatusTo(request.m_Async);
            priFinish();
            return;
        }
        block = AllocateFrameBlock(*m_pCache, label, load.m_PixelType, static_cast<KInt32>(load.m_Aux1),
                                   static_cast<KInt32>(load.m_Aux2));
        if (!block) {
            priFailCurrent(kIpErrOutOfMemory,
                           KWString("KDataRetriever::priGetCacheDataImage: out of memory in the cache."));
            return;
        }
    }
    if (!block) {
        // Calibration data: the loader reports the size first (on its thread for raw files).
        m_Phase = Phase::Sizing;
        load.m_pBuffer = nullptr;
        load.m_BufferSize = 0;
        loader.Request(load);
        return;
    }
    priUseBlock(request, block);
}

void KDataRetriever::priUseBlock(KDataRetrieverRequest& request, KICacheObject* block)
{
    KDataObject* data;
    try {
        data = new KDataObject(block, m_pLoadRequest->m_Kind == kLoadImage ? kDataImage : kDataCamfile);
    } catch (...) {
        block->Unlock();
        throw;
    }
    request.m_pData = data;
    KIpMgrAsync& status = *data->GetBlockStatus();
    switch (status.GetState()) {
    case kDone:
        m_pLoadRequest->CopyStatusFrom(status);
        m_Phase = Phase::Ready;
        break;
    case kInProgress:
        m_pLoadRequest->CopyStatusFrom(status);
        m_Phase = Phase::Following;
        break;
    default:
        priStartFill();
        break;
    }
}

void KDataRetriever::priStartFill()
{
    KLoaderRequest& load = *m_pLoadRequest;
    KDataObject& data = *m_pCurrent->m_pData;
    if (load.m_Kind == kLoadImage) {
        load.m_Value = m_pCurrent->m_Index;
        load.m_pPixmap = data.GetImagePixmapPtr();
    } else {
        load.m_pBuffer = data.GetCamfileData();
        load.m_BufferSize = data.GetCamfileSize();
    }
    m_Phase = Phase::Filling;
    m_pLoadLoader->Request(load);
}

void KDataRetriever::priSized()
{
    KLoaderRequest& load = *m_pLoadRequest;
    // Another request may have made the block meanwhile.
    KICacheObject* block = m_pCache->Allocate(m_Label.GetBuffer(), 0);
    if (block && GetDataBlockMark(block) != kCamfileBlockMark) {
        block->Unlock();
        load.Fail(kIpErrInternal, KWString("KDataRetriever: the cache holds other data under the label."));
        return;
    }
    if (!block)
        block = AllocateCamfileBlock(*m_pCache, m_Label, load.m_Value, load.m_Aux1);
    if (!block) {
        load.Fail(kIpErrOutOfMemory, KWString("KDataRetriever::priGetCacheDataImage: out of memory in the cache."));
        return;
    }
    priUseBlock(*m_pCurrent, block);
}

bool KDataRetriever::priFollow()
{
    KLoaderRequest& load = *m_pLoadRequest;
    const KIpMgrAsync& status = *m_pCurrent->m_pData->GetBlockStatus();
    switch (status.GetState()) {
    case kInProgress:
        if (load.IsCancelled()) {
            load.End(kCancelled, kIpErrNone, KWString());
            return true;
        }
        m_pCurrent->m_Async.SetProgress(status.GetProgress());
        return false;
    case kDone:
        load.CopyStatusFrom(status);
        m_Phase = Phase::Ready;
        return true;
    default:
        // The other loading failed or was cancelled: the block is still to be filled.
        priStartFill();
        return true;
    }
}

void KDataRetriever::priBegin(KDataRetrieverRequest& request, KILoader& loader, KInt32 loaderKind,
                              const KFileIdentity& identity)
{
    m_pLoadRequest = std::make_unique<KLoaderRequest>();
    m_pLoadRequest->m_URL = request.m_FileName;
    m_pLoadRequest->m_Identity = identity;
    m_pLoadRequest->m_Kind = loaderKind;
    m_pLoadLoader = &loader;
    m_Phase = Phase::Watching;
    m_pCurrent = &request;
    request.m_Async.SetProgress(0.0);
    request.m_Async.SetError(kIpErrNone);
    request.m_Async.SetState(kInProgress);
}

void KDataRetriever::priFinish()
{
    m_pLoadRequest.reset();
    m_pLoadLoader = nullptr;
    m_pCurrent = nullptr;
    m_Phase = Phase::Watching;
    m_Label.Clear();
}

void KDataRetriever::priFail(KDataRetrieverRequest& request, KUInt32 error, const char* message)
{
    request.m_Async.Fail(error, KWString(message));
}

void KDataRetriever::priFailCurrent(KUInt32 error, const KWString& message)
{
    if (priLoaderBusy())
        priAbandonLoad();
    if (m_pCurrent->m_pData) {
        m_pCurrent->m_pData->Release();
        m_pCurrent->m_pData = nullptr;
    }
    m_pCurrent->m_Async.Fail(error, message);
    priFinish();
}

bool KDataRetriever::priLoaderBusy() const
{
    if (!m_pLoadRequest || m_Phase == Phase::Following || m_Phase == Phase::Ready)
        return false;
    return m_pLoadRequest->IsBusy();
}

void KDataRetriever::priAbandonLoad()
{
    KDataObject* data = m_Phase == Phase::Filling && m_pCurrent ? m_pCurrent->m_pData : nullptr;
    std::shared_ptr<KAbandonedLoad> abandoned;
    try {
        abandoned = std::make_shared<KAbandonedLoad>();
    } catch (...) {
        // Nothing to hand them to: they are never freed rather than freed under the thread.
        if (data)
            data->AddRef();
        (void)m_pLoadRequest.release();
        return;
    }
    if (data) {
        data->AddRef();
        abandoned->m_pData = data;
    }
    abandoned->m_pRequest = std::move(m_pLoadRequest);
    m_pLoadLoader->KeepAlive(std::move(abandoned));
}
