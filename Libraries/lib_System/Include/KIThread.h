#pragma once
// A worker thread running one body function. The owner stops it through a quit flag and an event of its own,
// waits for IsFinished (or an event the body sets), then destroys the object.
#include "KTypes.h"

// The body: gets the thread's argument, returns its exit value.
using KThreadBody = KUInt32 (*)(void* argument);

class KIThread {
public:
    // A new running thread (a KWinThread), or null when memory runs out. Priority as SetPriority.
    static KIThread* Create(KThreadBody body, void* argument, int priority);
    // Deletes the thread object and clears the caller's pointer.
    static void Destroy(KIThread*& thread);

    // Whether the body has ended (returned or thrown).
    virtual bool IsFinished() const = 0;
    // 0xABCDEFAB while the body runs, its result when it returned, 0xDEADBEEF when it threw.
    virtual KUInt32 GetExitValue() const = 0;
    // Level 0 lowest, 1 below normal, 2 normal, 3 above normal, 4 highest; other levels give normal.
    virtual void SetPriority(int level) = 0;
    // The level last set.
    virtual int GetPriority() const = 0;
    virtual ~KIThread() = default;
};
