#pragma once
// What the toolkit's memory services share among their sources.
#include "RkMemory.h"

// Clears the peak and lowest-address figures once no tracked block is left.
void RkPoolResetFiguresIfEmpty();

// The list pools of the running services (null while stopped).
RK_SEGMENT_POOL* RkListNodePool();
RK_SEGMENT_POOL* RkListHeadPool();
