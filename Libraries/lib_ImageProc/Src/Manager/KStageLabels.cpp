#include "KStageLabels.h"

#include "KNarrowString.h"
#include "KTextFunctions.h"

namespace {

KWString Ascii(const KNarrowString& text)
{
    return Utf8ToWide(text.Str());
}

bool IsDefaultNeutral(const double (&neutral)[3])
{
    return neutral[0] == -1.0 && neutral[1] == -1.0 && neutral[2] == -1.0;
}

}  // namespace

KWString LabelBase(const KWString& fileName, const KWString& uniqueID)
{
    return fileName + KWString(u"-") + uniqueID;
}

void BuildStageLabels(const KStageLabelInputs& in, KWString (&labels)[kResultCount])
{
    // The file and the calibration it is developed with.
    KWString base = LabelBase(in.m_FileName, in.m_UniqueID);
    if (!in.m_ExternalCamfile.IsEmpty())
        base += KWString(u",Camfile=") + in.m_ExternalCamfile;
    // The white balance the stages from 2 on are developed with.
    KWString balance = in.m_WhiteBalance;
    if (!IsDefaultNeutral(in.m_OverrideNeutral))
        balance += Ascii(KNarrowString(",Neutral=%g,%g,%g", in.m_OverrideNeutral[0], in.m_OverrideNeutral[1],
                                       in.m_OverrideNeutral[2]));

    const double* a = in.m_Adjustments;
    const double* c = in.m_ColorAdjust;
    const KWString geometry =
        balance + Ascii(KNarrowString(",%dx%d,%dx%d,%dx%d,%d", in.m_Crop.left, in.m_Crop.top, in.m_Crop.right,
                                      in.m_Crop.bottom, in.m_OutputWidth, in.m_OutputHeight, in.m_Rotation));
    const KWString tone = Ascii(KNarrowString(",%g,%g,%g,%g,%g,%g,%g", a[1], a[2], a[0], a[3], c[0], c[1], c[2]));
    const KWString output = Ascii(KNarrowString(",%u,%u", in.m_OutputColorSpace, in.m_OutputFormat));

    labels[kResultStage1] = base + KWString(u"-Stage1Out");
    labels[kResultStage2] = base + KWString(u"-Stage2Out-") + balance;
    labels[kResultStage3] = base + KWString(u"-Stage3-") + geometry;
    labels[kResultStage3L] = base + KWString(u"-Stage3L-") + geometry;
    labels[kResultToneLUT] = KWString(u"ToneLUT-") + tone;
    labels[kResultStage4] =
        base + KWString(u"-Stage4-") + geometry + tone + output + Ascii(KNarrowString(",%g,%g", a[5], a[4]));
}
