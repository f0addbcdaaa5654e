#include "IPManager2.h"

#include "IPSaveManager.h"
#include "KCache.h"
#include "KCamdata.h"
#include "KDataObject.h"
#include "KDataRetriever.h"
#include "KDebug.h"
#include "KException.h"
#include "KIPEngine2.h"
#include "KMutex.h"
#include "KPerfTimer.h"
#include "KPMImage2.h"
#include "KPropTree.h"
#include "Manager/KIpmStatus.h"
#include "Manager/KStageBlocks.h"
#include "Manager/KStageLabels.h"

namespace {

constexpr KUInt32 kPollMs = 1;

template <class Data>
void ReleaseData(Data*& data)
{
    if (data) {
        data->Release();
        data = nullptr;
    }
}

void UnlockBlock(KICacheObject*& block)
{
    if (block) {
        block->Unlock();
        block = nullptr;
    }
}

}  // namespace

IPManager2::IPManager2() : IPManager2(std::make_unique<KDataRetriever>())
{
}

IPManager2::IPManager2(std::unique_ptr<KIDataRetriever> retriever)
    : m_pCache(GetGlobalCache()), m_pRetriever(std::move(retriever)), m_pEngine(std::make_unique<KIPEngine2>())
{
}

KIPManager* CreateIPManager2()
{
    return new IPManager2();
}

IPManager2::~IPManager2()
{
    // The save manager's own requests to this manager run as this manager's current request: end that first.
    if (KIpMgrReq* current = m_pCurrent) {
        priStopWorkers();
        m_pCurrent = nullptr;
        m_State = kStateNone;
        priCleanup();
        if (current->m_Async.IsBusy())
            current->m_Async.End(kCancelled, kIpErrNone, KWString());
    } else {
        priCleanup();
    }
    delete m_pSaveManager;
    m_pSaveManager = nullptr;
    priStopWorkers();
    m_pRetriever.reset();
    m_pEngine.reset();
}

void IPManager2::Idle()
{
    m_pEngine->Idle();
    m_pRetriever->Idle();
    if (m_pSaveManager)
        m_pSaveManager->Idle();
    if (m_pCurrent)
        priProcessIdle();
}

void IPManager2::Request(KIpMgrReq* request)
{
    if (!request)
        return;
    if (m_pCurrent) {
        request->m_Async.Fail(kIpErrBusy, KWString(u"IPManager2 is busy."));
        return;
    }
    request->m_Async.SetError(kIpErrNone);
    m_EngineRequest.m_Async.Clear();
    switch (request->m_Kind) {
    case kIpReqNone:
        request->m_Async.SetState(kDone);
        break;
    case kIpReqProperties:
        priRunSynchronous(*request, &IPManager2::priHandlePropertiesRequest);
        break;
    case kIpReqPreview:
        priRunSynchronous(*request, &IPManager2::priHandlePreviewRequest);
        break;
    case kIpReqProcessed:
    case kIpReqAutoSettings:
    case kIpReqGreyBalance:
    case kIpReqIlluminants:
        priStartPipeline(*request);
        break;
    case kIpReqSave:
        priRunSynchronous(*request, &IPManager2::priHandleSaveRequest);
        break;
    case kIpReqModify:
        priRunSynchronous(*request, &IPManager2::priHandleModifyRequest);
        break;
    default:
        request->m_Async.Fail(kIpErrUnsupported, KWString());
        break;
    }
}

void IPManager2::priRunSynchronous(KIpMgrReq& request, void (IPManager2::*handler)(KIpMgrReq&))
{
    try {
        (this->*handler)(request);
    } catch (...) {
        priStopWorkers();
        FailWithCurrentException(request.m_Async, "IPManager2::Request");
    }
    if (request.m_Kind == kIpReqPreview)
        priCleanup();
}

void IPManager2::priHandleSaveRequest(KIpMgrReq& request)
{
    if (!m_pSaveManager)
        m_pSaveManager = priCreateSaveManager();
    if (!m_pSaveManager) {
        request.m_Async.Fail(kIpErrInternal, KWString(u"IPManager2::priHandleSaveRequest: Unable to create KIPSaveManager!"));
        return;
    }
    m_pSaveManager->Request(&request);
}

KIPManager* IPManager2::priCreateSaveManager()
{
    try {
        return new IPSaveManager(this);
    } catch (...) {
        return nullptr;
    }
}

void IPManager2::priAnswerWithImage(KIpMgrReq& request, KICacheObject*& block)
{
    const KCachedPixmapRecord& record = PixmapRecord(block);
    auto* image = new KPMImage2(block);
    block->Unlock();
    block = nullptr;
    request.m_CropRect = KRect(record.m_Words[0], record.m_Words[1], record.m_Words[2], record.m_Words[3]);
    request.m_OutputWidth = record.m_Words[4];
    request.m_OutputHeight = record.m_Words[5];
    if (request.m_pResultImage)
        request.m_pResultImage->Release();
    request.m_pResultImage = image;
}

KWString IPManager2::priBase() const
{
    return LabelBase(m_FileName, m_UniqueID);
}

// --- Retriever calls ---------------------------------------------------------------------------------------

void IPManager2::priStartRetriever(const KWString& fileName, KUInt32 kind, KUInt32 subKind, KUInt32 index,
                                   KPropTree* tree)
{
    KDataRetrieverRequest& r = m_RetrieverRequest;
    r.m_FileName = fileName;
    r.m_Kind = kind;
    r.m_SubKind = subKind;
    r.m_Index = index;
    r.m_pTree = tree;
    r.m_Value = r.m_Width = r.m_Height = r.m_ImageKind = 0;
    r.m_pData = nullptr;
    r.m_Async.Clear();
    m_pRetriever->Request(r);
}

bool IPManager2::priRunRetriever(const KWString& fileName, KUInt32 kind, KUInt32 subKind, KUInt32 index,
                                 KPropTree* tree)
{
    priStartRetriever(fileName, kind, subKind, index, tree);
    while (m_RetrieverRequest.m_Async.IsBusy()) {
        m_pRetriever->Idle();
        if (m_RetrieverRequest.m_Async.IsBusy())
            SleepMilliseconds(kPollMs);
    }
    return m_RetrieverRequest.m_Async.GetState() == kDone;
}

bool IPManager2::priRetrieverBusy() const
{
    return m_RetrieverRequest.m_Async.IsBusy();
}

void IPManager2::priCopyRetrieverStatus(KIpMgrReq& request)
{
    request.m_Async.CopyFrom(m_RetrieverRequest.m_Async);
}

void IPManager2::priStopWorkers()
{
    // The engine's worker may be writing into blocks and data this manager holds: wait until it is done.
    if (m_EngineRequest.m_Async.IsBusy()) {
        m_EngineRequest.m_Async.SetCancel(true);
        while (m_EngineRequest.m_Async.IsBusy())
            m_pEngine->Idle();
    }
    // A retriever keeps what its loaders fill until they are done, even when it gives up waiting for them.
    if (priRetrieverBusy()) {
        constexpr double kRetrieverWaitSeconds = 5.0;
        m_RetrieverRequest.m_Async.SetCancel(true);
        KPerfTimer stopwatch;
        stopwatch.Start();
        while (priRetrieverBusy() && stopwatch.GetElapsedSeconds() < kRetrieverWaitSeconds) {
            m_pRetriever->Idle();
            if (priRetrieverBusy())
                SleepMilliseconds(kPollMs);
        }
        if (priRetrieverBusy())
            DebugTraceText("IPManager2: the data retriever did not end its request.\n");
    }
}

// --- Shared look-ups ---------------------------------------------------------------------------------------

bool IPManager2::priGetUniqueID(KIpMgrReq& request)
{
    m_FileName = request.m_FileName;
    m_UniqueID.Clear();
    KPropTree tree(nullptr, "UniqueIDProp");
    if (!priRunRetriever(request.m_FileName, kRetrieveInfo, kInfoUniqueID, 0, &tree)) {
        priCopyRetrieverStatus(request);
        return false;
    }
    m_UniqueID = tree.GetString(KWString(u"UNIQUEID"), KWString(u"NO-UNIQUEID"));
    return true;
}

bool IPManager2::priGetCaptureProps(KIpMgrReq& request)
{
    if (m_pCaptureProps)
        return true;
    const KWString label = priBase() + KWString(u"-Properties");
    if (KICacheObject* found = m_pCache->Allocate(label.c_str(), 0)) {
        if (KPropTree* tree = GetPropertiesBlockTree(found)) {
            m_pCapturePropsBlock = found;
            m_pCaptureProps = tree;
            return true;
        }
        ForgetBlock(found);
    }
    KICacheObject* block = MakePropertiesBlock(*m_pCache, label, new KPropTree(nullptr, request.m_FileName));
    if (!block) {
        request.m_Async.Fail(kIpErrOutOfMemory,
                             KWString(u"IPManager2::priGetCaptureProps: Out of memory allocating capture props"));
        return false;
    }
    block->SetPriority(3);
    KPropTree* tree = GetPropertiesBlockTree(block);
    if (!priRunRetriever(request.m_FileName, kRetrieveInfo, kInfoProperties, 0, tree)) {
        priCopyRetrieverStatus(request);
        ForgetBlock(block);  // a failed read is not kept for the next request
        return false;
    }
    m_pCapturePropsBlock = block;
    m_pCaptureProps = tree;
    return true;
}

KInt32 IPManager2::priCaptureInt(const char16_t* key, KInt32 defaultValue) const
{
    return m_pCaptureProps ? m_pCaptureProps->GetInt(KWString(key), defaultValue) : defaultValue;
}

// --- Clean-up ----------------------------------------------------------------------------------------------

void IPManager2::priCleanup()
{
    if (priRetrieverBusy()) {
        DebugTraceText("IPManager2::priCleanup: retriever request is not done!\n");
        priStopWorkers();
    }
    if (m_EngineRequest.m_Async.IsBusy()) {
        DebugTraceText("IPManager2::priCleanup: IP engine request is not done!\n");
        priStopWorkers();
    }
    m_EngineRequest.FreeParams();
    priUnlockBlockMutex();
    if (!priRetrieverBusy())
        ReleaseData(m_RetrieverRequest.m_pData);  // a finished load nobody took
    m_pCamdata.reset();
    ReleaseData(m_pRawData);
    ReleaseData(m_pDarkData);
    ReleaseData(m_pCamfileData);
    m_ExternalCamfile.clear();
    m_ExternalCamfile.shrink_to_fit();
    m_pCaptureProps = nullptr;
    UnlockBlock(m_pCapturePropsBlock);
    UnlockBlock(m_pStage1Block);
    UnlockBlock(m_pStage2Block);
    UnlockBlock(m_pStage3Block);
    UnlockBlock(m_pStage3LBlock);
    UnlockBlock(m_pStage4Block);
    UnlockBlock(m_pToneBlock);
}

void IPManager2::priUnlockBlockMutex()
{
    if (m_pHeldMutex) {
        m_pHeldMutex->Unlock();
        m_pHeldMutex = nullptr;
    }
}

bool IPManager2::priLockBlockMutex(KMutex* mutex)
{
    constexpr KUInt32 kMutexWaitMs = 8;
    if (!mutex || !mutex->Lock(kMutexWaitMs))
        return false;
    m_pHeldMutex = mutex;
    return true;
}
