#include <new>

#include "KEngineOutcome.h"
#include "KException.h"
#include "KIPEngine2.h"
#include "KIPEngineTestHook.h"
#include "KTextFunctions.h"

KEngineOutcome KIPEngine2::priRun(KIPEngineRequest& request)
{
    request.m_Async.SetProgress(0.0);
    request.m_Async.SetError(kIpErrNone);
    request.m_Async.SetState(kInProgress);
    try {
        if (KEngineStageForTest stage = g_EngineStageForTest.load())
            return stage(request);
        return priRunStage(request);
    } catch (const KException& e) {
        KNarrowString text("KIPEngine2: %s (%s)", e.GetDescription(), e.GetMessage());
        return KEngineOutcome::Failed(kIpErrInternal, Utf8ToWide(text.Str()));
    } catch (const std::bad_alloc&) {
        return KEngineOutcome::Failed(kIpErrOutOfMemory, KWString(u"KIPEngine2"));
    } catch (...) {
        return KEngineOutcome::Failed(kIpErrInternal, KWString(u"KIPEngine2: unknown exception"));
    }
}

KEngineOutcome KIPEngine2::priRunStage(KIPEngineRequest& request)
{
    switch (request.m_Kind) {
    case kEngineStage1:
        return priProcessStage1(request);
    case kEngineStage2:
        return priProcessStage2(request);
    case kEngineStage3:
        return priProcessStage3(request);
    case kEngineToneLUT:
        return priProcessCreateToneLUT(request);
    case kEngineStage4:
        return priProcessStage4(request);
    case kEngineRotate:
        return priProcessRotate(request);
    default:
        return KEngineOutcome::Failed(kIpErrUnsupported, KWString(u"KIPEngine2: Request not supported."));
    }
}
