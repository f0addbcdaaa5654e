#include "KLoaderRequest.h"

void KLoaderRequest::Begin()
{
    SetProgress(0.0);
    m_Error.store(kIpErrNone, std::memory_order_relaxed);
    m_Status.store(kInProgress, std::memory_order_release);
}

void KLoaderRequest::End(KUInt32 status, KUInt32 error, const KWString& message)
{
    try {
        m_Message = message;
    } catch (...) {
        // A request must end even when its message cannot be kept.
        m_Message.Clear();
        error = kIpErrOutOfMemory;
    }
    m_Error.store(error, std::memory_order_relaxed);
    m_Status.store(status, std::memory_order_release);
}

KUInt32 KLoaderRequest::CopyStatusTo(KIpMgrAsync& to) const
{
    const KUInt32 status = GetStatus();
    if (status != kInProgress)
        to.m_Message = m_Message;
    to.SetProgress(GetProgress());
    to.SetError(GetError());
    to.SetState(status);
    return status;
}

void KLoaderRequest::CopyStatusFrom(const KIpMgrAsync& from)
{
    const KUInt32 state = from.GetState();
    if (state != kInProgress)
        m_Message = from.m_Message;
    SetProgress(from.GetProgress());
    m_Error.store(from.GetError(), std::memory_order_relaxed);
    m_Status.store(state, std::memory_order_release);
}
