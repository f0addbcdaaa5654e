#pragma once
// The working values of stage 2, recomputed from the calibration data and the request's parameters every time
// the stage is entered (also on a resume): ISO gain and exposure, saturation levels and noise factor, the
// white-balanced camera matrix and the channel gains of the neutral, and the keep and active areas.
#include "KCamdataGetters.h"
#include "KMatrix3x3.h"
#include "KRect.h"
#include "KTypes.h"

struct KStage2Inputs {
    double iso = 0.0;           // "ISO" element 0: the capture ISO when the calibration has none
    double exposure = 0.0;      // "EXPTIME" element 0
    KColorTriple override = {};  // "OVERRIDERGBNEUTRAL": a neutral chosen by the user; green <= 0 means none
    const KWChar* whiteBalance = u"";  // "WB_DESC"
};

struct KStage2Settings {
    double isoGain = 1.0;
    KUInt32 frames = 0;  // "BulbFrameCount"
    bool bulb = false;   // more than one frame
    double d = 1.0;      // 2 at high ISO (not bulb)
    double isoRatio = 1.0;
    double exposure = 0.0;
    KInt32 saturation[3] = {0, 0, 0};
    double noise = 1.0;
    KMatrix3x3 camera = {};  // camera RGB to XYZ, white-balanced: the neutral maps to (1, 1, 1)
    KUInt32 usePreComputedDrift = 0;
    KColorTriple bulbGain = {1.0, 1.0, 1.0};  // g
    bool singular = false;                     // the camera matrix has no inverse: colour steps are skipped
    KColorTriple channelGain = {1.0, 1.0, 1.0};  // G = 1 / the normalised neutral
    KRect keep;
    KRect active;  // relative to the keep area
    bool longExposure = false;
};

KStage2Settings ComputeStage2Settings(const KCamdata& camdata, const KStage2Inputs& inputs);
