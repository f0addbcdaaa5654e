#pragma once
// A platform thread running a body function; see KIThread.
//
// The thread's state (exit value, finished flag) lives in a control block shared with the running thread, so
// that deleting the object while the body still runs is safe: the thread cannot be killed, so it is left to
// run on, detached, with a warning trace, and writes only into its own control block.
#include <memory>

#include "KIThread.h"
#include "PlatformSync.h"

class KWinThread : public KIThread {
public:
    enum : KUInt32 {
        kRunningExitValue = 0xABCDEFAB,
        kExceptionExitValue = 0xDEADBEEF,
        kStackSize = 65535,  // the platform raises it to its minimum
    };

    KWinThread(KThreadBody body, void* argument, int priority);
    ~KWinThread() override;
    KWinThread(const KWinThread&) = delete;
    KWinThread& operator=(const KWinThread&) = delete;

    bool IsFinished() const override;
    KUInt32 GetExitValue() const override;
    void SetPriority(int level) override;
    int GetPriority() const override;

private:
    struct Control;
    static KUInt32 priTrampoline(void* control);

    std::shared_ptr<Control> m_Control;
    int m_Priority = 2;
    PlatHandle m_Thread = PLAT_INVALID_HANDLE_VALUE;
    KUInt32 m_ThreadId = 0;
};
