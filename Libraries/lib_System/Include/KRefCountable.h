#pragma once
// Reference-counting base: the count starts at 1 for the maker; AddRef and Release change it under the
// object's lock, and the Release that brings it to 0 deletes the object. Any thread may call them.
#include <cstdint>

#include "KCriticalSection.h"

class KRefCountable {
public:
    KRefCountable() = default;
    KRefCountable(const KRefCountable&) = delete;
    KRefCountable& operator=(const KRefCountable&) = delete;
    virtual ~KRefCountable() = default;

    void AddRef();
    void Release();
    int32_t GetRefCount() const;

private:
    int32_t m_RefCount = 1;
    mutable KCriticalSection m_Lock;
};
