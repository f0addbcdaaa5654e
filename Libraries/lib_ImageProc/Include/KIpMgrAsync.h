#pragma once
// The status block of every request record: progress, state, error code, message and the cancel flag.
//
// Threading: the component that runs a request (possibly on a thread of its own) writes progress, state,
// error and message; the requester polls state and progress and writes the cancel flag. Progress, state,
// error and cancel flag are atomics; the message is written before the state leaves 1 (End) and read only
// after the requester has seen that, so it needs no lock.
#include <atomic>

#include "KTypes.h"
#include "KWString.h"

// States of a request.
enum KIpMgrState : KUInt32 {
    kInitialized = 0,
    kInProgress = 1,
    kDone = 2,
    kCancelled = 3,
    kFailed = 4,
};

// Error codes of a request.
enum KIpMgrError : KUInt32 {
    kIpErrNone = 0,
    kIpErrBusy = 1,
    kIpErrBadArgument = 2,
    kIpErrNotFound = 3,
    kIpErrUnsupported = 4,
    kIpErrFileIO = 5,
    kIpErrCamfileNotFound = 6,
    kIpErrRead = 8,
    kIpErrProfileMissing = 10,
    kIpErrOutOfMemory = 11,
    kIpErrInternal = 12,
};

class KIpMgrAsync {
public:
    KIpMgrAsync() = default;
    // Copies all five fields (CopyFrom).
    KIpMgrAsync(const KIpMgrAsync& other);
    KIpMgrAsync& operator=(const KIpMgrAsync& other);
    // Destroys the message.
    ~KIpMgrAsync();

    // Progress -1.0, state 0, error 0, empty message, cancel flag 0.
    void Reset();
    // Progress 0.0, state 0, error 0, empty message, cancel flag 0: a status block made ready for a request.
    void Clear();
    // Copies progress, state, error code and cancel flag of another block, and its message once its state has
    // left 1 (while it is 1 its runner may be writing the message; this block keeps its own meanwhile).
    void CopyFrom(const KIpMgrAsync& other);
    // Ends a request: message and error first, then the state, so that whoever sees the state sees them.
    void End(KUInt32 state, KUInt32 error, const KWString& message);
    void Fail(KUInt32 error, const KWString& message) { End(kFailed, error, message); }

    bool IsBusy() const { return m_eState.load(std::memory_order_acquire) == kInProgress; }
    KUInt32 GetState() const { return m_eState.load(std::memory_order_acquire); }
    void SetState(KUInt32 state) { m_eState.store(state, std::memory_order_release); }
    double GetProgress() const { return m_Progress.load(std::memory_order_relaxed); }
    void SetProgress(double progress) { m_Progress.store(progress, std::memory_order_relaxed); }
    KUInt32 GetError() const { return m_Error.load(std::memory_order_relaxed); }
    void SetError(KUInt32 error) { m_Error.store(error, std::memory_order_relaxed); }
    bool IsCancelRequested() const { return m_Cancel.load(std::memory_order_relaxed) != 0; }
    void SetCancel(bool cancel) { m_Cancel.store(cancel ? 1 : 0, std::memory_order_relaxed); }
    KUInt8 GetCancel() const { return m_Cancel.load(std::memory_order_relaxed); }
    void SetCancelByte(KUInt8 cancel) { m_Cancel.store(cancel, std::memory_order_relaxed); }

    std::atomic<double> m_Progress{-1.0};     // 0.0 to 1.0 while a request runs; -1.0 after a reset
    std::atomic<KUInt32> m_eState{kInitialized};
    std::atomic<KUInt32> m_Error{kIpErrNone};
    KWString m_Message;                       // text of the failure
    std::atomic<KUInt8> m_Cancel{0};          // set by the requester; the runner answers with state 3
};
