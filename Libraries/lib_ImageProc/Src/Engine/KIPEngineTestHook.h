#pragma once
// Test seam: when set, the engine's dispatch runs this function in place of the stage driver of every kind,
// so that tests can hold the worker busy or make a stage throw. Null in the product.
#include <atomic>

#include "KEngineOutcome.h"
#include "KIPEngineRequest.h"

using KEngineStageForTest = KEngineOutcome (*)(KIPEngineRequest& request);
extern std::atomic<KEngineStageForTest> g_EngineStageForTest;
