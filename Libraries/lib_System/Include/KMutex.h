#pragma once
// A mutex, unnamed or named. A named one is shared by every KMutex of that name, in this process and in
// every other process of the machine; when its holder (thread or process) ends without unlocking, the next
// Lock takes it.
//
// Lock by the thread that already holds it through this object returns false at once and leaves the mutex
// held once: callers use that to tell "already mine" from "now mine".
#include <atomic>

#include "KSyncObject.h"

class KMutex : public KSyncObject {
public:
    // Throws KExceptionSyncObject "Can't create handle for KMutex" when no handle can be made.
    KMutex();
    explicit KMutex(const char* name);
    ~KMutex() override;

    // Takes the mutex within `milliseconds`; false on time-out, or when the caller already held it.
    bool Lock(KUInt32 milliseconds = PLAT_INFINITE);
    // Gives it back; true when the platform's release succeeded.
    bool Unlock();

private:
    void priCreate(const char* name);

    // Set while a caller of Lock holds the mutex; written only by the holder.
    std::atomic<bool> m_Locked{false};
};
