#pragma once
// How a stage driver ended: the state, error code and message that end its request. The engine writes them
// into the request only once it lets go of the request, so that a submitter who sees the request finished
// can submit the next one at once.
#include "KIpMgrAsync.h"
#include "KWString.h"

struct KEngineOutcome {
    KUInt32 m_State = kDone;
    KUInt32 m_Error = kIpErrNone;
    KWString m_Message;

    static KEngineOutcome Done() { return {}; }
    static KEngineOutcome Cancelled() { return {kCancelled, kIpErrNone, KWString()}; }
    static KEngineOutcome Failed(KUInt32 error, const KWString& message) { return {kFailed, error, message}; }
};
