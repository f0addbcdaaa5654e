#pragma once
// What the three loaders share besides their handlers: the load thread, and the routing of each request
// kind in Request: answered at once on the caller's thread, handed to the load thread (always, or when pixels
// are to be read), or refused with error 2 and the loader's message.
#include <array>
#include <memory>

#include "KILoader.h"
#include "KLoadThread.h"

enum class KLoaderRoute {
    Now,
    Thread,
    ThreadForPixels,  // on the thread when a pixmap is given, else at once
    Refuse,
};

// One route and its refusal message for each kind (0 to 6); kinds outside get `otherRefusal`.
struct KLoaderRoutes {
    std::array<KLoaderRoute, 7> routes;
    std::array<const char*, 7> refusals;
    const char* otherRefusal;
};

struct KLoaderSetup {
    const char* name;         // the class name, for the busy message and the traces
    int priority;             // of the load thread
    bool doneEvent;           // the thread signals each end (JPEG): Idle waits for it
    KUInt32 idleWaitMs;       // how long Idle waits with a done event
    KLoaderHandler handler;   // HandleRequest
    KLoaderRoutes routes;
};

template <class Interface>
class KLoaderFrame : public Interface {
public:
    void Idle() override { m_Thread.Idle(m_Setup.idleWaitMs); }

    void Request(KLoaderRequest& request) override
    {
        Idle();
        const bool known = request.m_Kind >= 0 && request.m_Kind < 7;
        const KLoaderRoute route = known ? m_Setup.routes.routes[size_t(request.m_Kind)] : KLoaderRoute::Refuse;
        switch (route) {
        case KLoaderRoute::Now:
            m_Thread.RunNow(request);
            break;
        case KLoaderRoute::Thread:
            m_Thread.Queue(request);
            break;
        case KLoaderRoute::ThreadForPixels:
            if (request.m_pPixmap)
                m_Thread.Queue(request);
            else
                m_Thread.RunNow(request);
            break;
        case KLoaderRoute::Refuse:
            request.Fail(kIpErrBadArgument,
                         KWString(known ? m_Setup.routes.refusals[size_t(request.m_Kind)] : m_Setup.routes.otherRefusal));
            break;
        }
    }

    void KeepAlive(std::shared_ptr<void> holder) noexcept override { m_Thread.KeepAlive(std::move(holder)); }

protected:
    explicit KLoaderFrame(const KLoaderSetup& setup)
        : m_Setup(setup), m_Thread(setup.name, setup.priority, setup.doneEvent, setup.handler)
    {
    }

private:
    const KLoaderSetup& m_Setup;  // a constant of the loader's source file
    KLoadThread m_Thread;
};

// The reduction asked by an image index: the index itself from 1 to `largest`, else 0 (the full size).
inline int ScaleOfImageIndex(const KLoaderRequest& request, int largest)
{
    return request.m_Value >= 1 && request.m_Value <= KUInt32(largest) ? int(request.m_Value) : 0;
}

// Stores what a reader reports for a viewable image.
inline void StoreViewableImage(KLoaderRequest& request, KInt32 width, KInt32 height, int pixelType)
{
    request.m_Aux1 = static_cast<KUInt32>(width);
    request.m_Aux2 = static_cast<KUInt32>(height);
    request.m_PixelType = pixelType;
    request.m_ImageKind = kImageKindViewable;
}
