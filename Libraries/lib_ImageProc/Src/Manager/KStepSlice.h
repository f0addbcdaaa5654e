#pragma once
// The bounded slice in which a manager's Idle advances its state machine.
#include "KPerfTimer.h"

enum class KStepOutcome {
    kChanged,    // the step moved the state machine on
    kUnchanged,  // the step waits for something
    kEnded,      // no request is running any more
};

// Calls step until it answers kEnded, or until `seconds` have passed and the last step changed nothing. After a
// step that changed nothing, wait() is called: it may wait for what the step waits on, and it ends the slice
// when it answers false.
template <class Step, class Wait>
void RunStepSlice(double seconds, Step&& step, Wait&& wait)
{
    KPerfTimer stopwatch;
    stopwatch.Start();
    bool changed = true;
    while (changed || stopwatch.GetElapsedSeconds() < seconds) {
        const KStepOutcome outcome = step();
        if (outcome == KStepOutcome::kEnded)
            return;
        changed = outcome == KStepOutcome::kChanged;
        if (!changed && !wait())
            return;
    }
}
