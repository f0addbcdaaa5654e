#pragma once
// The loader of raw container files. A raw file offers several images (raw frame, dark frame, dark-subtracted
// frame, preview) and calibration data; pixels and calibration bytes are read on the load thread, everything
// else at once. It also writes the user's edits (rotation, mark bits, white balance) back into the file's
// header. Each request opens the file and closes it again. Threading as KILoader.
#include "KLoaderFrame.h"

class KQrlbImageReader;

class QRLbLoader : public KLoaderFrame<KIQRLbLoader> {
public:
    QRLbLoader();

    // Answers a request on the calling thread (the load thread for pixels and calibration data).
    static KLoaderOutcome HandleRequest(KLoaderRequest& request);

private:
    static KLoaderOutcome LoadImage(KQrlbImageReader& reader, KLoaderRequest& request);
    // calibrationType: 0 a camera file, 1 a calibration block (an enciphered section counts as one).
    static KLoaderOutcome LoadCamfile(KQrlbImageReader& reader, KLoaderRequest& request, KUInt32 calibrationType);
    static KLoaderOutcome priGetProperties(KQrlbImageReader& reader, KLoaderRequest& request);
    static KLoaderOutcome priGetUniqueID(KQrlbImageReader& reader, KLoaderRequest& request);
    // Writes "ROTATION", "MARKBITS" and "WB_DESC" of the request's tree into the file's header.
    static KLoaderOutcome priModifyProperties(KLoaderRequest& request);
};
