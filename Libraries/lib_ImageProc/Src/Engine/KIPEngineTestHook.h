#pragma once
// Test seam: when set, the engine's dispatch runs this function in place of the stage driver of every kind,
// so that tests can hold the worker busy or make a stage throw. Null in the product.
#include <atomic>

#include "KEngineOutcome.h"
#include "KIPEngineRequest.h"

using KEngineStageForTest = KEngineOutcome (*)(KIPEngineRequest& request);
extern std::atomic<KEngineStageForTest> g_EngineStageForTest;

// Test seam of stage 2: when set, called as a step that runs begins (with the row it begins at) and whenever
// the step reports progress inside its rows, so that tests can pause the stage at a chosen point and see which
// steps ran. Null in the product.
using KStage2ObserverForTest = void (*)(KIPEngineRequest& request, KUInt32 step, KUInt32 row);
extern std::atomic<KStage2ObserverForTest> g_Stage2ObserverForTest;
