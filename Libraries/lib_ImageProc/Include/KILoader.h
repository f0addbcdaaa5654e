#pragma once
// The file loaders: one per file kind (JPEG, TIFF, raw container). A loader answers short requests (image
// count, image information, properties, modify, unique identifier) at once on the caller's thread and reads
// pixels and calibration data on a load thread of its own, started by its constructor; the caller then polls
// the request's status, calling Idle meanwhile. A loader takes one long request at a time and refuses a
// second with error 1. Nothing is thrown out of a loader: every request ends with a status.
//
// Threading: one owner thread calls Request, Idle and Release; the load thread touches only the request it
// was handed and what that request points at.
#include <memory>

#include "KLoaderRequest.h"

class KILoader {
public:
    // Deletes the loader (stopping its thread); nothing on a null loader.
    static void Release(KILoader* loader) { delete loader; }
    // Gives the long request in hand a moment to finish (JPEG: waits up to 100 ms).
    virtual void Idle() = 0;
    // Answers the request, hands it to the load thread (status 1 on return) or refuses it (status 4).
    virtual void Request(KLoaderRequest& request) = 0;
    // Waits up to about 5 s for the load thread to end; a thread still running then is left to finish on
    // its own (with what KeepAlive was given).
    virtual ~KILoader() = default;

    // Keeps an object alive until the load thread has ended and the loader is gone, or until the next object
    // is handed over (the thread has then finished the request it was given): for a requester that must go
    // away while a request it handed over still runs (the request and its destination live in the object).
    virtual void KeepAlive(std::shared_ptr<void> holder) noexcept = 0;
};

class KIJPEGLoader : public KILoader {};
class KITiffLoader : public KILoader {};
class KIQRLbLoader : public KILoader {};

KIJPEGLoader* CreateJPEGLoader();
KIQRLbLoader* CreateQRLbLoader();
KITiffLoader* CreateTiffLoader();
