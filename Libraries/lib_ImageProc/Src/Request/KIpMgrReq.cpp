#include "KIpMgrReq.h"

#include "KPMImage2.h"
#include "KPixelTypes.h"
#include "KPropTree.h"

int OutputPixelType(KUInt32 outputFormat)
{
    switch (outputFormat) {
    case kDisplay:
        return kPixelType32BGRA;
    case kOutput24RGB:
        return kPixelType24RGB;
    case kOutput48RGB:
        return kPixelType48RGB;
    default:
        return 0;
    }
}

KIpMgrReq::KIpMgrReq()
{
    Reset();
}

KIpMgrReq::~KIpMgrReq()
{
    priDeleteOwned();
}

void KIpMgrReq::priDeleteOwned()
{
    delete m_pImageProps;
    m_pImageProps = nullptr;
    delete m_pManagerData;
    m_pManagerData = nullptr;
    if (m_pResultImage) {
        m_pResultImage->Release();
        m_pResultImage = nullptr;
    }
}

void KIpMgrReq::Reset()
{
    m_FileName.Clear();
    m_Kind = kIpReqNone;
    m_OutputWidth = 0;
    m_OutputHeight = 0;
    m_CropRect = KRect(0, 0, 0, 0);
    m_OutputFormat = 0;
    priDeleteOwned();
    m_pImageProps = new KPropTree(nullptr, "ImageProps");
    m_pManagerData = new KPropTree(nullptr, "IPManagerData");
    for (double& a : m_Adjustments)
        a = 0.0;
    for (double& c : m_ColorAdjust)
        c = 0.0;
    for (double& n : m_OverrideRGBNeutral)
        n = -1.0;
    m_OutputColorSpace = 2;
    m_SaveFileFormat = 0;
    m_SaveValue = 100;
    m_SaveFlag = 0;
    m_AllowMissingProfile = 1;
    m_Async.Reset();
    m_SaveFileName.Clear();
    m_ExternalCamfile.Clear();
}
