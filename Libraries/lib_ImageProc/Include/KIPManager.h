#pragma once
// A request-driven image-processing manager: the caller hands it a request record and calls Idle until the
// record's state leaves 1. Managers have no thread of their own; every call comes from the owner's thread.
class KIpMgrReq;

class KIPManager {
public:
    virtual ~KIPManager() = default;
    // Advances the running request by one bounded slice.
    virtual void Idle() = 0;
    // Takes a request; a null record is ignored. The manager keeps a pointer to the record until its state
    // leaves 1.
    virtual void Request(KIpMgrReq* request) = 0;
};
