#pragma once
// The loader of TIFF files. A TIFF file offers five images, the file read at 1/1, 1/2, 1/4, 1/8 and 1/16 of
// its size; pixels are read on the load thread, everything else at once. Threading as KILoader.
#include "KILoader.h"
#include "KLoadThread.h"

class KTiffImageReader;

class TiffLoader : public KITiffLoader {
public:
    TiffLoader();
    ~TiffLoader() override = default;

    void Idle() override;
    void Request(KLoaderRequest& request) override;
    void KeepAlive(std::shared_ptr<void> holder) noexcept override;

    // Answers a request on the calling thread (the load thread for pixels).
    static KLoaderOutcome HandleRequest(KLoaderRequest& request);

private:
    static KLoaderOutcome LoadImage(KTiffImageReader& reader, KLoaderRequest& request);
    static KLoaderOutcome priGetProperties(KTiffImageReader& reader, KLoaderRequest& request);

    KLoadThread m_Thread;
};
