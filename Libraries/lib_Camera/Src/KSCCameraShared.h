#pragma once
// What the camera storage class's pieces share.
#include <memory>
#include <string>

#include "KException.h"
#include "KMutex.h"

// Holds the named mutex "CirroCameraMutex" for one camera operation, waiting at most 5 seconds to take it.
class KCameraMutexHold {
public:
    KCameraMutexHold()
    {
        try {
            m_Mutex = std::make_unique<KMutex>("CirroCameraMutex");
            m_Held = m_Mutex->Lock(5000);
        } catch (const KException&) {
            m_Held = false;
        }
    }
    ~KCameraMutexHold()
    {
        if (m_Held)
            m_Mutex->Unlock();
    }
    KCameraMutexHold(const KCameraMutexHold&) = delete;
    KCameraMutexHold& operator=(const KCameraMutexHold&) = delete;

    bool Held() const { return m_Held; }

private:
    std::unique_ptr<KMutex> m_Mutex;
    bool m_Held = false;
};

// The name of the first connected camera (the virtual camera included); false when none is connected.
bool FirstConnectedCamera(std::string& camera);

// Camera path of a name in a folder: a '/' between them unless the path ends with one or the name starts with
// one.
std::string JoinCameraPath(const std::string& path, const std::string& name);
