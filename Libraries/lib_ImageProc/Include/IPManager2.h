#pragma once
// The image-processing manager that the user-interface side owns to get anything done with an image file.
// Properties, previews and property changes are answered inside Request; processed images, automatic
// settings, grey balance and illuminants run as a state machine that advances in bounded slices on Idle
// calls; saves go to a save manager that this manager owns. Intermediate results live in the global cache
// under labels, shared with every other manager.
//
// Threading: all managers live on one thread, which makes every call. The manager drives one data retriever
// and one processing engine of its own; the engine's worker and the loaders' threads touch only the requests
// handed to them and the cache blocks those name, which this manager keeps locked until they are done.
#include <memory>
#include <vector>

#include "KFileIdentity.h"
#include "KDataRetriever.h"
#include "KIPEngineRequest.h"
#include "KIPManager.h"
#include "KIpMgrReq.h"
#include "KRect.h"
#include "KWString.h"

class KCamdata;
class KICache;
class KICacheObject;
class KIDataObject;
class KIIPEngine2;
class KMutex;
class KPropTree;

class IPManager2 : public KIPManager {
public:
    // Drives a data retriever and an engine of its own.
    IPManager2();
    // The same with the given retriever (tests give one of their own).
    explicit IPManager2(std::unique_ptr<KIDataRetriever> retriever);
    // Ends a running request (state 3) after its engine and retriever work has stopped, then deletes the save
    // manager, the retriever and the engine.
    ~IPManager2() override;
    IPManager2(const IPManager2&) = delete;
    IPManager2& operator=(const IPManager2&) = delete;

    void Idle() override;
    void Request(KIpMgrReq* request) override;

    // Pipeline states.
    enum : KUInt32 {
        kStateNone = 0,
        kStateSetUp = 1,
        kStateFindImages = 2,
        kStateLoadRaw = 3,
        kStateWaitRaw = 4,
        kStateLoadDark = 5,
        kStateWaitDark = 6,
        kStateLoadCamfile = 7,
        kStateWaitCamfile = 8,
        kStateStage1 = 9,
        kStateWaitStage1 = 10,
        kStateStage2 = 11,
        kStateWaitStage2 = 12,
        kStateStage3 = 13,
        kStateWaitStage3 = 14,
        kStateToneLUT = 15,
        kStateWaitToneLUT = 16,
        kStateStage4 = 17,
        kStateWaitStage4 = 18,
        kStateResult = 19,
        kStateAutoSettings = 21,
        kStateGreyBalance = 22,
        kStateIlluminants = 23,
        kStateLast = 23,
    };
    // The state the pipeline is in (0 without a request); for tests and tools.
    KUInt32 GetPipelineState() const { return m_State; }

private:
    // Synchronous requests.
    void priHandlePropertiesRequest(KIpMgrReq& request);
    void priHandlePreviewRequest(KIpMgrReq& request);
    KICacheObject* priMakePreview(KIpMgrReq& request, const KWString& label, KInt32 rotation);
    void priHandleModifyRequest(KIpMgrReq& request);
    void priHandleSaveRequest(KIpMgrReq& request);
    KIPManager* priCreateSaveManager();
    // Runs a synchronous handler; exceptions end the request as failed.
    void priRunSynchronous(KIpMgrReq& request, void (IPManager2::*handler)(KIpMgrReq&));

    // Shared by both kinds of request.
    bool priGetUniqueID(KIpMgrReq& request);
    bool priGetCaptureProps(KIpMgrReq& request);
    KWString priBase() const;
    // Hands the record an image over the pixmap block (this manager's lock on it is dropped), with the crop
    // and fitted size kept in the block.
    void priAnswerWithImage(KIpMgrReq& request, KICacheObject*& block);

    // The pipeline.
    void priStartPipeline(KIpMgrReq& request);
    void priProcessIdle();
    void priStep(KIpMgrReq& request);
    void priEndRequest();
    void priWaitForWorkers(double seconds);
    void priSetProgress(KUInt32 from, KUInt32 to, double fraction);
    void priSetUp(KIpMgrReq& request);
    void priRelabel(KIpMgrReq& request);
    void priLookUp(KIpMgrReq& request);
    void priFindImages(KIpMgrReq& request);
    void priStartLoad(KIpMgrReq& request, const char* busyText, KUInt32 subKind, KInt32 index, KUInt32 waitState);
    void priWaitLoad(KIpMgrReq& request, KIDataObject*& into, KUInt32 next);
    void priLoadCamfile(KIpMgrReq& request);
    void priWaitCamfile(KIpMgrReq& request);
    void priStage1Process(KIpMgrReq& request);
    void priStage2Process(KIpMgrReq& request);
    void priStage3Process(KIpMgrReq& request);
    void priMakeToneLUT(KIpMgrReq& request);
    void priStage4Process(KIpMgrReq& request);
    void priWaitStage(KIpMgrReq& request);
    void priHandOverResult(KIpMgrReq& request);
    void priAutoSettings(KIpMgrReq& request);
    void priGreyBalance(KIpMgrReq& request);
    void priCompleteGetIlluminants(KIpMgrReq& request);
    void priCleanup();

    // Stage steps.
    bool priMayStartStage(KIpMgrReq& request, const char* busyText);
    bool priLockBlockMutex(KMutex* mutex);
    void priUnlockBlockMutex();
    void priSendStage(KInt32 kind, const uint32_t* resume, KUInt32 waitState);
    KUInt32 priStage2Follower() const;
    // Automatic settings and grey balance: answered from the stage-2 result.
    bool priEndsAtStage2() const;
    KInt32 priCaptureInt(const char16_t* key, KInt32 defaultValue) const;

    // Retriever calls.
    void priStartRetriever(const KWString& fileName, KUInt32 kind, KUInt32 subKind, KUInt32 index, KPropTree* tree,
                           bool rowsOnDemand = false);
    // Starts a request and polls the retriever until it is done; whether it ended with state 2.
    bool priRunRetriever(const KWString& fileName, KUInt32 kind, KUInt32 subKind, KUInt32 index, KPropTree* tree);
    bool priRetrieverBusy() const;
    void priCopyRetrieverStatus(KIpMgrReq& request);
    // Sets the cancel flags of the running engine and retriever requests and waits until both are done, for each
    // at most five seconds.
    void priStopWorkers();
    // Moves what a busy engine's worker may still touch out of this manager's reach into m_pHeld.
    void priHoldForEngine();
    // Releases what m_pHeld holds once the engine has ended the request; whether nothing is held any longer.
    bool priReleaseHeld();

    KIPManager* m_pSaveManager = nullptr;
    KIpMgrReq* m_pCurrent = nullptr;
    KICache* m_pCache;
    std::unique_ptr<KIDataRetriever> m_pRetriever;
    std::unique_ptr<KIIPEngine2> m_pEngine;
    KDataRetrieverRequest m_RetrieverRequest;
    // On the heap: when the engine's worker does not end its request in time (priStopWorkers), the request and
    // everything the worker may still touch are held (m_pHeld) until it ends, or for good when this manager goes
    // first; the worker never writes into freed memory.
    KIPEngineRequest& m_EngineRequest;
    struct KHeldForEngine;
    std::unique_ptr<KHeldForEngine> m_pHeld;

    KUInt32 m_State = kStateNone;
    KUInt32 m_TargetState = kStateStage1;
    KUInt32 m_StartState = kStateNone;
    KUInt32 m_Kind = 0;  // kind of the running pipeline request

    KInt32 m_RawIndex = -1;
    KInt32 m_DarkIndex = -1;
    KInt32 m_SubtractedIndex = -1;
    KIDataObject* m_pRawData = nullptr;
    KIDataObject* m_pDarkData = nullptr;
    KIDataObject* m_pCamfileData = nullptr;
    std::vector<uint8_t> m_ExternalCamfile;
    std::unique_ptr<KCamdata> m_pCamdata;

    KICacheObject* m_pStage1Block = nullptr;
    KICacheObject* m_pStage2Block = nullptr;
    KICacheObject* m_pStage3Block = nullptr;
    KICacheObject* m_pStage3LBlock = nullptr;
    KICacheObject* m_pStage4Block = nullptr;
    KICacheObject* m_pToneBlock = nullptr;
    KICacheObject* m_pCapturePropsBlock = nullptr;
    KPropTree* m_pCaptureProps = nullptr;  // owned by its cache block

    // Labels of the results (stage 1, 2, 3, 3 luminance, 4, tone LUT): this request's and the last used.
    KWString m_Labels[6];
    KWString m_PreviousLabels[6];

    // Of the running request.
    KWString m_FileName;
    KWString m_UniqueID;
    KFileIdentity m_Identity;  // of m_FileName, taken at the start of the request
    KWString m_WhiteBalance;  // handed to stage 2 as text: lives until the request ends
    KInt32 m_Rotation = 0;
    bool m_PartialView = false;

    // The stage the engine runs: its wait step finishes it.
    struct KRunningStage {
        KUInt32 m_From = 0;
        KUInt32 m_Follower = 0;
        uint8_t* m_pComplete[2] = {};
        uint32_t* m_pResume = nullptr;
    } m_Running;
    KMutex* m_pHeldMutex = nullptr;  // a block mutex this manager holds while its engine computes the block
};

// A manager with the data retriever and engine of the program.
KIPManager* CreateIPManager2();
