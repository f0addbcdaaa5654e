#include "KStageParams.h"

#include "KPixmap.h"
#include "KTextFunctions.h"

KStageParams::KStageParams(const KIPEngineRequest& request, const char* driver)
    : m_Request(request), m_Driver(driver)
{
}

void KStageParams::priMissing(const KWChar* name)
{
    m_Missing += name;
    m_Missing += u' ';
}

void KStageParams::priTypeError(const KWChar* name)
{
    m_TypeErrors += name;
    m_TypeErrors += u' ';
}

KPixmap* KStageParams::Pixmap(const KWChar* name, int pixelType)
{
    KPixmap* pixmap = m_Request.GetPixmapParam(KWString(name));
    if (!pixmap) {
        priMissing(name);
        return nullptr;
    }
    if (pixelType != 0 && pixmap->GetPixelType() != pixelType) {
        priTypeError(name);
        return nullptr;
    }
    return pixmap;
}

KCamdata* KStageParams::Camdata(const KWChar* name)
{
    KCamdata* camdata = m_Request.GetCamdataParam(KWString(name));
    if (!camdata)
        priMissing(name);
    return camdata;
}

const KWChar* KStageParams::Text(const KWChar* name)
{
    const KWChar* text = m_Request.GetTextParam(KWString(name));
    if (!text)
        priMissing(name);
    return text;
}

KIDataMatrix* KStageParams::priMatrix(const KWChar* name)
{
    KIDataMatrix* matrix = m_Request.GetMatrixParam(KWString(name));
    if (!matrix)
        priMissing(name);
    return matrix;
}

KEngineOutcome KStageParams::Outcome() const
{
    if (!m_Missing.empty())
        return KEngineOutcome::Failed(kIpErrBadArgument,
                                      Utf8ToWide(m_Driver + " missing parameters:") + KWString(m_Missing));
    if (!m_TypeErrors.empty())
        return KEngineOutcome::Failed(kIpErrBadArgument,
                                      Utf8ToWide(m_Driver + " parameter type errors:") + KWString(m_TypeErrors));
    return KEngineOutcome::Done();
}

KEngineOutcome KStageParams::Fail(const char* text) const
{
    return KEngineOutcome::Failed(kIpErrBadArgument, Utf8ToWide(m_Driver + " " + text));
}
