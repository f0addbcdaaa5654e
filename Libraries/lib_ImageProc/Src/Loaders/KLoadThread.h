#pragma once
// The frame the three loaders share: the load thread with its work event, the pending request, the quit
// flag, and for the JPEG loader a done event. Queue hands a request to the thread, which runs the loader's
// handler on it and lets go of it; the destructor stops the thread.
//
// Threading: one owner thread calls Queue, Idle, KeepAlive and the destructor. The events, the pending
// pointer, the quit flag and the kept objects live in a block shared with the thread, so that a thread still
// running when its loader is destroyed (it cannot be killed) finishes on what it shares and frees it last.
#include <memory>

#include "KLoaderOutcome.h"

class KIThread;

// Answers a request on the calling thread (a loader's HandleRequest); the caller writes the outcome.
using KLoaderHandler = KLoaderOutcome (*)(KLoaderRequest& request);

class KLoadThread {
public:
    // name: the loader's class name, for the busy message and the traces. doneEvent: the thread sets a done
    // event after each request, which Queue and Idle wait for (else they poll the pending pointer).
    // Throws std::bad_alloc when no thread can be made.
    KLoadThread(const char* name, int priority, bool doneEvent, KLoaderHandler handler);
    // Sets the quit flag, wakes the thread and waits up to 45 x 0.109 s for it to end; a thread still running
    // then is traced and left to finish on its own.
    ~KLoadThread();
    KLoadThread(const KLoadThread&) = delete;
    KLoadThread& operator=(const KLoadThread&) = delete;

    // Answers the request on the calling thread: status 1, the handler, then its outcome.
    void RunNow(KLoaderRequest& request);
    // Hands the request to the thread (status 1 on return); fails it with error 1 and the loader's name when
    // the thread is still busy with another.
    void Queue(KLoaderRequest& request);
    // With a done event: waits up to `milliseconds` for it while a request is pending.
    void Idle(KUInt32 milliseconds);
    // Keeps the object until the thread has ended and the loader is gone, or until the next one comes (the
    // thread takes one request at a time, so by then it has finished the one the object was kept for).
    void KeepAlive(std::shared_ptr<void> holder) noexcept;

    const char* GetName() const { return m_pName; }

private:
    struct Shared;
    static KUInt32 priRun(void* argument);
    static KLoaderOutcome priHandle(KLoaderHandler handler, KLoaderRequest& request);

    const char* m_pName;
    std::shared_ptr<Shared> m_Shared;
    KIThread* m_pThread = nullptr;
};
