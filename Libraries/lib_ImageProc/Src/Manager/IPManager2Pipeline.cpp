// The pipeline's step loop and its set-up state: labels, relabelling and the cache look-ups.
#include "IPManager2.h"
#include "KDataObject.h"
#include "KDataRetriever.h"
#include "KDebug.h"
#include "KException.h"
#include "KICache.h"
#include "KIIPEngine2.h"
#include "KNarrowString.h"
#include "KPerfTimer.h"
#include "KPropTree.h"
#include "KTextFunctions.h"
#include "Manager/KIpmGeometry.h"
#include "Manager/KIpmStatus.h"
#include "Manager/KStageBlocks.h"
#include "Manager/KStageLabels.h"
#include "Manager/KStepSlice.h"

namespace {

constexpr double kSliceSeconds = 0.008;
constexpr double kIdleWaitSeconds = 0.1;

// Share of the whole request reached on entering each state.
constexpr double kProgressWeights[IPManager2::kStateLast + 1] = {
    0, 0, 0, 0, 0, 0.1, 0.1, 0.19, 0.19, 0.2, 0.2, 0.25, 0.25, 0.8, 0.8, 0.825, 0.825, 0.85, 0.85, 0.9, 0.9, 1.0, 1.0,
    1.0};

KWString Formatted(const KNarrowString& text)
{
    return Utf8ToWide(text.Str());
}

}  // namespace

void IPManager2::priStartPipeline(KIpMgrReq& request)
{
    m_pCurrent = &request;
    m_Kind = request.m_Kind;
    m_State = kStateSetUp;
    request.m_Async.SetProgress(0.0);
    request.m_Async.SetState(kInProgress);
    priProcessIdle();
}

void IPManager2::priProcessIdle()
{
    auto step = [this] {
        if (!m_pCurrent)
            return KStepOutcome::kEnded;
        KIpMgrReq& request = *m_pCurrent;
        m_pEngine->Idle();
        m_pRetriever->Idle();
        const KUInt32 before = m_State;
        try {
            priStep(request);
        } catch (...) {
            m_State = kStateNone;
            FailWithCurrentException(request.m_Async, "IPManager2::priProcessIdle");
        }
        if (request.m_Async.GetState() != kInProgress) {
            priEndRequest();
            return KStepOutcome::kEnded;
        }
        return m_State != before ? KStepOutcome::kChanged : KStepOutcome::kUnchanged;
    };
    RunStepSlice(kSliceSeconds, step, [this] {
        priWaitForWorkers(kIdleWaitSeconds);
        return true;
    });
}

void IPManager2::priEndRequest()
{
    m_pCurrent = nullptr;
    m_State = kStateNone;
    priCleanup();
}

// After a step that changed nothing: wait for whatever the step waits on, but no longer than `seconds`.
void IPManager2::priWaitForWorkers(double seconds)
{
    KPerfTimer stopwatch;
    stopwatch.Start();
    while (stopwatch.GetElapsedSeconds() < seconds) {
        if (m_EngineRequest.m_Async.IsBusy()) {
            m_pEngine->Idle();
        } else if (priRetrieverBusy()) {
            m_pRetriever->Idle();
            if (priRetrieverBusy())
                SleepMilliseconds(1);
        } else {
            break;
        }
    }
}

void IPManager2::priSetProgress(KUInt32 from, KUInt32 to, double p)
{
    const double base = kProgressWeights[m_StartState];
    if (from > kStateLast || to > kStateLast || base >= 1.0 || !m_pCurrent)
        return;
    p = p < 0.0 ? 0.0 : (p > 1.0 ? 1.0 : p);
    double progress = (kProgressWeights[to] * p + (1.0 - p) * kProgressWeights[from] - base) / (1.0 - base);
    progress = progress < 0.0 ? 0.0 : (progress > 1.0 ? 1.0 : progress);
    m_pCurrent->m_Async.SetProgress(progress);
}

void IPManager2::priStep(KIpMgrReq& request)
{
    switch (m_State) {
    case kStateNone:
        DebugTraceText("IPManager2: Someone left the a request open and the state machine in the Idle state.");
        request.m_Async.Fail(kIpErrInternal, KWString());
        break;
    case kStateSetUp:
        priSetUp(request);
        break;
    case kStateFindImages:
        priFindImages(request);
        break;
    case kStateLoadRaw:
        priStartLoad(request, "KIPManager::priLoadRaw: data retriever is busy!", kDataFrame,
                     m_SubtractedIndex >= 0 ? m_SubtractedIndex : m_RawIndex, kStateWaitRaw);
        break;
    case kStateWaitRaw:
        priWaitLoad(request, m_pRawData, m_SubtractedIndex < 0 ? kStateLoadDark : kStateLoadCamfile);
        break;
    case kStateLoadDark:
        priStartLoad(request, "KIPManager::priLoadDark: data retriever is busy!", kDataFrame, m_DarkIndex,
                     kStateWaitDark);
        break;
    case kStateWaitDark:
        priWaitLoad(request, m_pDarkData, kStateLoadCamfile);
        break;
    case kStateLoadCamfile:
        priLoadCamfile(request);
        break;
    case kStateWaitCamfile:
        priWaitCamfile(request);
        break;
    case kStateStage1:
        priStage1Process(request);
        break;
    case kStateStage2:
        priStage2Process(request);
        break;
    case kStateStage3:
        priStage3Process(request);
        break;
    case kStateToneLUT:
        priMakeToneLUT(request);
        break;
    case kStateStage4:
        priStage4Process(request);
        break;
    case kStateWaitStage1:
    case kStateWaitStage2:
    case kStateWaitStage3:
    case kStateWaitToneLUT:
    case kStateWaitStage4:
        priWaitStage(request);
        break;
    case kStateResult:
        priHandOverResult(request);
        break;
    case kStateAutoSettings:
        priAutoSettings(request);
        break;
    case kStateGreyBalance:
        priGreyBalance(request);
        break;
    case kStateIlluminants:
        priCompleteGetIlluminants(request);
        break;
    default:
        DebugTraceText("IPManager2: IPManager2 in an invalid state.");
        request.m_Async.Fail(kIpErrInternal, KWString());
        break;
    }
}

void IPManager2::priSetUp(KIpMgrReq& request)
{
    priCleanup();
    m_TargetState = kStateStage1;
    m_StartState = kStateNone;
    if (!priGetUniqueID(request))
        return;
    if (request.m_Kind == kIpReqGreyBalance) {
        request.m_OutputWidth = 100;
        request.m_OutputHeight = 100;
        request.m_CropRect = KRect(0, 0, 100, 100);
    } else if (request.m_Kind == kIpReqIlluminants) {
        m_State = m_StartState = kStateLoadCamfile;
        m_TargetState = kStateIlluminants;
        return;
    } else if (request.m_Kind == kIpReqProcessed && (request.m_OutputFormat < kDisplay ||
                                                     request.m_OutputFormat > kOutput48RGB)) {
        request.m_Async.Fail(kIpErrBadArgument,
                             Formatted(KNarrowString("IPManager2: output format %u is not 1, 2 or 3.",
                                                     request.m_OutputFormat)));
        return;
    }
    const KRect& crop = request.m_CropRect;
    m_PartialView = SaturatedDifference(crop.right, crop.left) < request.m_OutputWidth ||
                    SaturatedDifference(crop.bottom, crop.top) < request.m_OutputHeight;
    if (!priGetCaptureProps(request))
        return;
    m_Rotation = priCaptureInt(u"ROTATION", 0);
    m_WhiteBalance = m_pCaptureProps->GetString(KWString(u"WB_DESC"), KWString());
    m_RawIndex = m_DarkIndex = m_SubtractedIndex = -1;

    KStageLabelInputs inputs;
    inputs.m_FileName = request.m_FileName;
    inputs.m_UniqueID = m_UniqueID;
    inputs.m_WhiteBalance = m_WhiteBalance;
    inputs.m_ExternalCamfile = request.m_ExternalCamfile;
    inputs.m_Crop = request.m_CropRect;
    inputs.m_OutputWidth = request.m_OutputWidth;
    inputs.m_OutputHeight = request.m_OutputHeight;
    inputs.m_Rotation = m_Rotation;
    for (int i = 0; i < 6; ++i)
        inputs.m_Adjustments[i] = request.m_Adjustments[i];
    for (int i = 0; i < 3; ++i) {
        inputs.m_ColorAdjust[i] = request.m_ColorAdjust[i];
        inputs.m_OverrideNeutral[i] = request.m_OverrideRGBNeutral[i];
    }
    inputs.m_OutputColorSpace = request.m_OutputColorSpace;
    inputs.m_OutputFormat = request.m_OutputFormat;
    BuildStageLabels(inputs, m_Labels);

    priRelabel(request);
    priLookUp(request);
}

// Blocks this manager used last time under labels that the new settings no longer use get the priority of a
// result less likely to be asked for again.
void IPManager2::priRelabel(KIpMgrReq& request)
{
    struct Change {
        KStageResult m_Result;
        KUInt32 m_Priority;
    };
    const KUInt32 viewPriority = m_PartialView ? 0 : 3;
    const Change all[] = {{kResultStage2, 15},
                          {kResultStage1, 0},
                          {kResultStage4, m_PartialView ? 0u : 4u},
                          {kResultStage3, viewPriority},
                          {kResultStage3L, viewPriority},
                          {kResultToneLUT, 2}};
    // Requests that end at stage 2 leave the labels of the later stages as the last image left them.
    const size_t count = priEndsAtStage2() ? 2 : sizeof(all) / sizeof(all[0]);
    for (size_t i = 0; i < count; ++i) {
        KWString& previous = m_PreviousLabels[all[i].m_Result];
        const KWString& current = m_Labels[all[i].m_Result];
        if (previous == current)
            continue;
        if (!previous.IsEmpty()) {
            if (KICacheObject* old = m_pCache->Allocate(previous.c_str(), 0)) {
                old->SetPriority(all[i].m_Priority);
                old->Unlock();
            }
        }
        previous = current;
    }
}

// The latest stage whose result is cached and complete decides where the request starts; requests that end at
// stage 2 start looking there (a cached image is no answer to them). Found blocks stay locked by this manager,
// complete or not: an incomplete one is computed (or resumed) in place later.
void IPManager2::priLookUp(KIpMgrReq& request)
{
    auto find = [this](KStageResult result) { return m_pCache->Allocate(m_Labels[result].c_str(), 0); };
    auto complete = [](KICacheObject* block) { return block && block->GetData() && PixmapRecord(block).m_Complete; };

    if (!priEndsAtStage2()) {
        m_pStage4Block = find(kResultStage4);
        if (m_pStage4Block) {
            m_pStage4Block->SetPriority(m_PartialView ? 0 : 20);
            if (complete(m_pStage4Block)) {
                m_State = m_StartState = kStateResult;
                return;
            }
        }
        KICacheObject* stage3 = find(kResultStage3);
        KICacheObject* stage3L = find(kResultStage3L);
        if (stage3 && stage3L) {
            m_pStage3Block = stage3;
            m_pStage3LBlock = stage3L;
            stage3->SetPriority(m_PartialView ? 0 : 10);
            stage3L->SetPriority(m_PartialView ? 0 : 10);
            if (complete(stage3) && complete(stage3L)) {
                m_State = m_StartState = kStateToneLUT;
                return;
            }
        } else {
            if (stage3)
                stage3->Unlock();
            if (stage3L)
                stage3L->Unlock();
        }
    }
    m_pStage2Block = find(kResultStage2);
    if (m_pStage2Block) {
        m_pStage2Block->SetPriority(30);
        m_State = kStateLoadCamfile;
        if (complete(m_pStage2Block))
            m_TargetState = m_StartState = priStage2Follower();
        else
            m_TargetState = m_StartState = kStateStage2;
        return;
    }
    m_pStage1Block = find(kResultStage1);
    if (m_pStage1Block) {
        m_pStage1Block->SetPriority(5);
        if (complete(m_pStage1Block)) {
            m_State = kStateLoadCamfile;
            m_TargetState = m_StartState = kStateStage2;
            return;
        }
    }
    m_State = m_StartState = kStateFindImages;
    m_TargetState = kStateStage1;
}

bool IPManager2::priEndsAtStage2() const
{
    return m_Kind == kIpReqAutoSettings || m_Kind == kIpReqGreyBalance;
}

KUInt32 IPManager2::priStage2Follower() const
{
    if (m_Kind == kIpReqAutoSettings)
        return kStateAutoSettings;
    if (m_Kind == kIpReqGreyBalance)
        return kStateGreyBalance;
    return kStateStage3;
}
