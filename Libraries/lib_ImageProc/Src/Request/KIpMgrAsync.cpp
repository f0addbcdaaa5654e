#include "KIpMgrAsync.h"

KIpMgrAsync::KIpMgrAsync(const KIpMgrAsync& other)
{
    CopyFrom(other);
}

KIpMgrAsync& KIpMgrAsync::operator=(const KIpMgrAsync& other)
{
    if (this != &other)
        CopyFrom(other);
    return *this;
}

KIpMgrAsync::~KIpMgrAsync() = default;

void KIpMgrAsync::Reset()
{
    m_Progress.store(-1.0);
    m_eState.store(kInitialized);
    m_Error.store(kIpErrNone);
    m_Message.Clear();
    m_Cancel.store(0);
}

void KIpMgrAsync::Clear()
{
    Reset();
    m_Progress.store(0.0);
}

void KIpMgrAsync::CopyFrom(const KIpMgrAsync& other)
{
    KUInt32 state = other.m_eState.load(std::memory_order_acquire);
    if (state != kInProgress)
        m_Message = other.m_Message;
    m_Progress.store(other.m_Progress.load(std::memory_order_relaxed), std::memory_order_relaxed);
    m_Error.store(other.m_Error.load(std::memory_order_relaxed), std::memory_order_relaxed);
    m_Cancel.store(other.m_Cancel.load(std::memory_order_relaxed), std::memory_order_relaxed);
    m_eState.store(state, std::memory_order_release);
}

void KIpMgrAsync::End(KUInt32 state, KUInt32 error, const KWString& message)
{
    m_Message = message;
    m_Error.store(error, std::memory_order_relaxed);
    m_eState.store(state, std::memory_order_release);
}
