#pragma once
// The processing engine as its owners see it: requests are submitted and then polled through their status
// block, the owner calling Idle meanwhile.
#include "KIPEngineRequest.h"

class KIIPEngine2 {
public:
    virtual ~KIIPEngine2() = default;
    virtual void Request(KIPEngineRequest& request) = 0;
    virtual void Idle() = 0;
};
