#pragma once
// The cache labels of the pipeline's results. Each label names the file (its URL and unique identifier) and
// exactly the settings its result depends on, so that a request whose settings are unchanged for a stage finds
// that stage's result in the cache.
#include "KRect.h"
#include "KTypes.h"
#include "KWString.h"

enum KStageResult : int {
    kResultStage1 = 0,
    kResultStage2,
    kResultStage3,
    kResultStage3L,
    kResultStage4,
    kResultToneLUT,
    kResultCount
};

struct KStageLabelInputs {
    KWString m_FileName;
    KWString m_UniqueID;
    KWString m_WhiteBalance;     // the capture property "WB_DESC"
    KWString m_ExternalCamfile;  // empty: the file's own calibration
    KRect m_Crop;
    KInt32 m_OutputWidth = 0;
    KInt32 m_OutputHeight = 0;
    KInt32 m_Rotation = 0;
    double m_Adjustments[6] = {};
    double m_ColorAdjust[3] = {};
    double m_OverrideNeutral[3] = {-1.0, -1.0, -1.0};
    KUInt32 m_OutputColorSpace = 2;
    KUInt32 m_OutputFormat = 0;
};

// File name + "-" + unique identifier: the start of every label of a file.
KWString LabelBase(const KWString& fileName, const KWString& uniqueID);

// The labels of all results. A calibration file given in place of the file's own, and an override neutral
// other than (-1, -1, -1), are named in the labels of the stages they change; without them the labels are
// those of the file's own calibration and white balance.
void BuildStageLabels(const KStageLabelInputs& inputs, KWString (&labels)[kResultCount]);
