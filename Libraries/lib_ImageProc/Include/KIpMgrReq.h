#pragma once
// The image-processing request record: what a caller asks of an image file (kind and inputs), and the answer
// (status block, trees, result image). The caller fills it, hands it to a manager's Request and polls the
// status block after each idle call until the state leaves 1; the manager keeps a pointer to it meanwhile,
// so the caller keeps it alive and unchanged apart from the cancel flag. Used on one thread (the manager's).
#include "KImageLineWriter.h"  // KVersionInfo
#include "KIpMgrAsync.h"
#include "KRect.h"
#include "KTypes.h"
#include "KWString.h"

class KPMImage2;
class KPropTree;

// Request kinds.
enum KIpMgrKind : KUInt32 {
    kIpReqNone = 0,
    kIpReqProperties = 1,
    kIpReqPreview = 2,
    kIpReqProcessed = 3,
    kIpReqSave = 4,
    kIpReqAutoSettings = 5,
    kIpReqModify = 6,
    kIpReqGreyBalance = 7,
    kIpReqIlluminants = 8,
};

// Output formats.
enum KIpMgrOutputFormat : KUInt32 {
    kDisplay = 1,    // 32-bit BGRA, pixel type 13
    kOutput24RGB = 2,  // pixel type 7
    kOutput48RGB = 3,  // pixel type 15
};
// The pixel type of an output format's images: 13, 7 or 15; 0 for another format.
int OutputPixelType(KUInt32 outputFormat);

// Save file formats.
enum KIpMgrSaveFormat : KUInt32 {
    kSaveTIFF = 1,
    kSaveJPEG = 2,
};

class KIpMgrReq {
public:
    // The defaults of Reset, version 1.0.0.0, empty software name, sample point (0, 0).
    KIpMgrReq();
    // Deletes both trees and releases the result image.
    ~KIpMgrReq();
    KIpMgrReq(const KIpMgrReq&) = delete;
    KIpMgrReq& operator=(const KIpMgrReq&) = delete;

    // Puts every field back to its default except the version, the software name and the sample point:
    // both trees deleted and made again empty, the result image released. Never fails.
    void Reset();

    KWString m_FileName;                      // storage URL of the source image
    KUInt32 m_Kind = kIpReqNone;
    KVersionInfo m_Version{1, 0, 0, 0};       // written into saved files; not reset
    KWString m_SoftwareName;                  // written into saved files; not reset
    KIpMgrAsync m_Async;
    KInt32 m_OutputWidth = 0;                 // area into which the image is fitted
    KInt32 m_OutputHeight = 0;
    KRect m_CropRect;                         // wanted part of the fitted image
    KUInt32 m_OutputFormat = 0;               // KIpMgrOutputFormat
    KPropTree* m_pImageProps = nullptr;       // "ImageProps", owned
    double m_Adjustments[6] = {};             // a0-a3 shape the tone curve, a4 and a5 go to stage 4
    double m_ColorAdjust[3] = {};             // red, green, blue factors of the tone curve
    KUInt32 m_OutputColorSpace = 2;
    double m_OverrideRGBNeutral[3] = {-1.0, -1.0, -1.0};  // negative: none
    KWString m_SaveFileName;
    KUInt32 m_SaveFileFormat = 0;             // KIpMgrSaveFormat
    KUInt32 m_SaveValue = 100;
    KUInt8 m_SaveFlag = 0;
    KUInt8 m_AllowMissingProfile = 1;         // 0: saving without a built-in profile fails with error 10
    KPoint m_SamplePoint;                     // grey-balance sample centre; not reset
    KWString m_ExternalCamfile;               // calibration file used instead of the raw file's own; empty: none
    KPMImage2* m_pResultImage = nullptr;      // one reference owned by the record
    KPropTree* m_pManagerData = nullptr;      // "IPManagerData", owned, free for the caller

private:
    void priDeleteOwned();
};
