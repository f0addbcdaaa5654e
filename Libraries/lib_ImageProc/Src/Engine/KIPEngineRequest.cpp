#include "KIPEngineRequest.h"

#include "KDataMatrix.h"

void KIPEngineRequest::priAppend(const KWString& name, KUInt32 type, void* value)
{
    auto* node = new KIPEngineParam{name, type, value, nullptr};
    KIPEngineParam** link = &m_pParams;
    while (*link)
        link = &(*link)->m_pNext;
    *link = node;
}

void KIPEngineRequest::AddPixmap(const KWString& name, KPixmap* pixmap)
{
    priAppend(name, kParamPixmap, pixmap);
}

void KIPEngineRequest::AddRows(const KWString& name, KIDataObject* rows)
{
    priAppend(name, kParamRows, rows);
}

void KIPEngineRequest::AddCamdata(const KWString& name, KCamdata* camdata)
{
    priAppend(name, kParamCamdata, camdata);
}

void KIPEngineRequest::AddMatrix(const KWString& name, KIDataMatrix* matrix)
{
    try {
        priAppend(name, kParamMatrix, matrix);
    } catch (...) {
        delete matrix;
        throw;
    }
}

void KIPEngineRequest::AddText(const KWString& name, const KWChar* text)
{
    priAppend(name, kParamText, const_cast<KWChar*>(text));
}

void KIPEngineRequest::FreeParams()
{
    while (m_pParams) {
        KIPEngineParam* node = m_pParams;
        m_pParams = node->m_pNext;
        if (node->m_Type == kParamMatrix)
            delete static_cast<KIDataMatrix*>(node->m_pValue);
        delete node;
    }
}

const KIPEngineParam* KIPEngineRequest::FindParam(const KWString& name) const
{
    for (const KIPEngineParam* node = m_pParams; node; node = node->m_pNext) {
        if (node->m_Name == name)
            return node;
    }
    return nullptr;
}

void* KIPEngineRequest::priTyped(const KWString& name, KUInt32 type) const
{
    const KIPEngineParam* node = FindParam(name);
    return node && node->m_Type == type ? node->m_pValue : nullptr;
}

KPixmap* KIPEngineRequest::GetPixmapParam(const KWString& name) const
{
    return static_cast<KPixmap*>(priTyped(name, kParamPixmap));
}

KCamdata* KIPEngineRequest::GetCamdataParam(const KWString& name) const
{
    return static_cast<KCamdata*>(priTyped(name, kParamCamdata));
}

KIDataMatrix* KIPEngineRequest::GetMatrixParam(const KWString& name) const
{
    return static_cast<KIDataMatrix*>(priTyped(name, kParamMatrix));
}

const KWChar* KIPEngineRequest::GetTextParam(const KWString& name) const
{
    return static_cast<const KWChar*>(priTyped(name, kParamText));
}

KIDataObject* KIPEngineRequest::GetRowsParam(const KWString& name) const
{
    return static_cast<KIDataObject*>(priTyped(name, kParamRows));
}
