#include "IPManager2.h"

#include <thread>
#include <vector>

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
#include "KTextFunctions.h"
#include "Manager/KIpmStatus.h"
#include "Manager/KStageBlocks.h"
#include "Manager/KStageLabels.h"

namespace {

constexpr KUInt32 kPollMs = 1;
constexpr double kWorkerWaitSeconds = 5.0;

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

// What a busy engine's worker may still read or write: its request with the parameters, the calibration data,
// the loaded data and the stage blocks (kept locked). Released once the worker has ended the request.
struct IPManager2::KHeldForEngine {
    KIPEngineRequest* m_pRequest = nullptr;
    std::unique_ptr<KIIPEngine2> m_pEngine;  // only when the manager goes before the worker ends
    std::vector<std::unique_ptr<KCamdata>> m_Camdata;
    std::vector<std::vector<uint8_t>> m_ExternalCamfiles;
    std::vector<KIDataObject*> m_Data;
    std::vector<KICacheObject*> m_Blocks;

    void Release()
    {
        m_pRequest->FreeParams();
        for (KIDataObject* data : m_Data)
            data->Release();
        for (KICacheObject* block : m_Blocks)
            block->Unlock();
        m_Data.clear();
        m_Blocks.clear();
        m_Camdata.clear();
        m_ExternalCamfiles.clear();
    }
};

IPManager2::IPManager2() : IPManager2(std::make_unique<KDataRetriever>())
{
}

IPManager2::IPManager2(std::unique_ptr<KIDataRetriever> retriever)
    : m_pCache(GetGlobalCache()), m_pRetriever(std::move(retriever)), m_pEngine(std::make_unique<KIPEngine2>()),
      m_EngineRequest(*new KIPEngineRequest())
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
    if (priReleaseHeld()) {
        m_pEngine.reset();
        delete &m_EngineRequest;
        return;
    }
    // The worker is still running: a thread of its own keeps the engine, the request and what they use until the
    // worker has ended, then releases them.
    DebugTraceText("IPManager2: the engine is still busy; its work is released when it ends.\n");
    m_pHeld->m_pEngine = std::move(m_pEngine);
    std::thread([held = std::move(m_pHeld)] {
        while (held->m_pRequest->m_Async.IsBusy())
            SleepMilliseconds(10);
        held->Release();
        held->m_pEngine.reset();
        delete held->m_pRequest;
    }).detach();
}

void IPManager2::Idle()
{
    if (m_pHeld)
        priReleaseHeld();
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
    if (m_pCurrent || (m_pHeld && !priReleaseHeld())) {
        request->m_Async.Fail(kIpErrBusy, KWString(u"IPManager2 is busy."));
        return;
    }
    request->m_Async.SetError(kIpErrNone);
    m_EngineRequest.m_Async.Clear();
    // Every read of this request must find the file as it is now: one file from start to end.
    m_Identity = request->m_Kind == kIpReqModify ? KFileIdentity() : GetFileIdentityByURL(request->m_FileName);
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
                                   KPropTree* tree, bool rowsOnDemand)
{
    KDataRetrieverRequest& r = m_RetrieverRequest;
    r.m_FileName = fileName;
    r.m_Kind = kind;
    r.m_SubKind = subKind;
    r.m_Index = index;
    r.m_pTree = tree;
    r.m_Identity = m_Identity;
    r.m_Value = r.m_Width = r.m_Height = r.m_ImageKind = 0;
    r.m_pData = nullptr;
    r.m_bRowsOnDemand = rowsOnDemand;
    r.m_pRows = nullptr;
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
    // The engine's worker may be writing into blocks and data this manager holds: wait until it is done, or
    // at most five seconds; then what it may touch is held for it until it ends (once given up, not waited
    // for again).
    if (m_EngineRequest.m_Async.IsBusy() && !m_pHeld) {
        m_EngineRequest.m_Async.SetCancel(true);
        KPerfTimer stopwatch;
        stopwatch.Start();
        while (m_EngineRequest.m_Async.IsBusy() && stopwatch.GetElapsedSeconds() < kWorkerWaitSeconds)
            m_pEngine->Idle();
        if (m_EngineRequest.m_Async.IsBusy()) {
            DebugTraceText("IPManager2: the engine did not end its request.\n");
            priHoldForEngine();
        }
    }
    // A retriever keeps what its loaders fill until they are done, even when it gives up waiting for them.
    if (priRetrieverBusy()) {
        m_RetrieverRequest.m_Async.SetCancel(true);
        KPerfTimer stopwatch;
        stopwatch.Start();
        while (priRetrieverBusy() && stopwatch.GetElapsedSeconds() < kWorkerWaitSeconds) {
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
    // Results of another state of the file (rewritten under the same identifier) are not this file's.
    if (m_Identity.known)
        m_UniqueID += Utf8ToWide("@" + FileIdentityText(m_Identity));
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
    if (m_EngineRequest.m_Async.IsBusy())
        priHoldForEngine();  // what this request added since
    else if (!m_pHeld)
        m_EngineRequest.FreeParams();
    priUnlockBlockMutex();
    if (!priRetrieverBusy()) {
        ReleaseData(m_RetrieverRequest.m_pData);  // a finished load nobody took
        ReleaseData(m_RetrieverRequest.m_pRows);
    }
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

void IPManager2::priHoldForEngine()
{
    if (!m_pHeld) {
        m_pHeld = std::make_unique<KHeldForEngine>();
        m_pHeld->m_pRequest = &m_EngineRequest;
    }
    KHeldForEngine& held = *m_pHeld;
    if (m_pCamdata)
        held.m_Camdata.push_back(std::move(m_pCamdata));
    if (!m_ExternalCamfile.empty())
        held.m_ExternalCamfiles.push_back(std::move(m_ExternalCamfile));
    m_ExternalCamfile.clear();
    for (KIDataObject** data : {&m_pRawData, &m_pDarkData, &m_pCamfileData}) {
        if (*data)
            held.m_Data.push_back(*data);
        *data = nullptr;
    }
    for (KICacheObject** block : {&m_pStage1Block, &m_pStage2Block, &m_pStage3Block, &m_pStage3LBlock, &m_pStage4Block,
                                  &m_pToneBlock}) {
        if (*block)
            held.m_Blocks.push_back(*block);
        *block = nullptr;
    }
    // The block's mutex belongs to this thread: let go of it now. The block stays incomplete, so a manager that
    // takes it computes it again.
    priUnlockBlockMutex();
}

bool IPManager2::priReleaseHeld()
{
    if (!m_pHeld)
        return true;
    if (m_EngineRequest.m_Async.IsBusy())
        return false;
    m_pHeld->Release();
    m_pHeld.reset();
    return true;
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
