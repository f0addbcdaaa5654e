#pragma once
// The loader of TIFF files. A TIFF file offers five images, the file read at 1/1, 1/2, 1/4, 1/8 and 1/16 of
// its size; pixels are read on the load thread, everything else at once. Threading as KILoader.
#include "KLoaderFrame.h"

class KTiffImageReader;

class TiffLoader : public KLoaderFrame<KITiffLoader> {
public:
    TiffLoader();

    // Answers a request on the calling thread (the load thread for pixels).
    static KLoaderOutcome HandleRequest(KLoaderRequest& request);

private:
    static KLoaderOutcome LoadImage(KTiffImageReader& reader, KLoaderRequest& request);
    static KLoaderOutcome priGetProperties(KTiffImageReader& reader, KLoaderRequest& request);
};
