#pragma once
// The processing engine: runs the pixel-processing stages on one worker thread of its own, one request at a
// time, and reports progress and outcome in the request's status block.
//
// Threading: one owner thread calls Request and Idle (and destroys the engine); the worker runs the stages.
// The worker touches only the current request, the pixmaps, matrices and calibration data it names, and a
// block shared with the engine object (events, flags, the current-request pointer). When the engine is
// destroyed while a stage still runs after the cancel flag was set, the worker is left to finish on its own
// with its share of that block; the owner must still keep the request and its data alive until the request's
// state has left 1.
#include <memory>

#include "KIIPEngine2.h"

class KIThread;
struct KEngineOutcome;

class KIPEngine2 : public KIIPEngine2 {
public:
    // Starts the worker thread.
    KIPEngine2();
    // Sets the quit flag and the current request's cancel flag, wakes the worker and waits up to 5 s for it.
    ~KIPEngine2() override;
    KIPEngine2(const KIPEngine2&) = delete;
    KIPEngine2& operator=(const KIPEngine2&) = delete;

    // Refuses unsupported kinds (error 4) and a request while another is busy (error 1); otherwise sets the
    // request's state to 1 and hands it to the worker.
    void Request(KIPEngineRequest& request) override;
    // When a request is current, waits at most 8 ms for the worker to release it.
    void Idle() override;

    // Runs the request's stage on the calling thread as the worker would, and ends the request with its
    // outcome. For tests and tools that want the drivers without the thread.
    static void Dispatch(KIPEngineRequest& request);

private:
    struct Shared;
    static KUInt32 priWorker(void* argument);
    // The dispatch without the final write: the stage's outcome, exceptions mapped to status.
    static KEngineOutcome priRun(KIPEngineRequest& request);
    static KEngineOutcome priRunStage(KIPEngineRequest& request);

    // Stage drivers.
    static KEngineOutcome priProcessStage1(KIPEngineRequest& request);
    static KEngineOutcome priProcessStage2(KIPEngineRequest& request);
    static KEngineOutcome priProcessStage3(KIPEngineRequest& request);
    static KEngineOutcome priProcessCreateToneLUT(KIPEngineRequest& request);
    static KEngineOutcome priProcessStage4(KIPEngineRequest& request);
    static KEngineOutcome priProcessRotate(KIPEngineRequest& request);

    std::shared_ptr<Shared> m_Shared;
    KIThread* m_pThread = nullptr;
};
