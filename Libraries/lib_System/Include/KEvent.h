#pragma once
// An unnamed auto-reset event, initially not signalled: Set releases one waiter (or the next Wait), which
// resets it. Usable from any thread of the process.
#include "KSyncObject.h"

class KEvent : public KSyncObject {
public:
    // Throws KExceptionSyncObject "Can't create handle for KEvent" when no handle can be made.
    KEvent();

    bool Set();
    bool Reset();
};
