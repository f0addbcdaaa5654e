#pragma once
// The loader of JPEG files. A JPEG file offers four images, the file decoded at 1/1, 1/2, 1/4 and 1/8 of its
// size; pixels are read on the load thread, everything else at once. The thread sets a done event after each
// request, which Idle waits for. Threading as KILoader.
#include "KLoaderFrame.h"

class KJPEGImageReader;

class JPEGLoader : public KLoaderFrame<KIJPEGLoader> {
public:
    JPEGLoader();

    // Answers a request on the calling thread (the load thread for pixels).
    static KLoaderOutcome HandleRequest(KLoaderRequest& request);

private:
    static KLoaderOutcome LoadImage(KJPEGImageReader& reader, KLoaderRequest& request);
    static KLoaderOutcome priGetProperties(KJPEGImageReader& reader, KLoaderRequest& request);
};
