#include "KPMImage2.h"

#include "KICache.h"
#include "KCachedPixmap.h"
#include "KIHistogram.h"
#include "KPropTree.h"

KPMImage2::KPMImage2(KICacheObject* cacheObject) : m_pCacheObject(cacheObject)
{
    if (m_pCacheObject != nullptr)
        m_pCacheObject->Lock();
}

KPMImage2::~KPMImage2()
{
    if (m_pCacheObject != nullptr)
        m_pCacheObject->Unlock();
    delete m_pProps;
    delete m_pHistogram;
}

KPixmap* KPMImage2::GetPixmap()
{
    if (m_pCacheObject == nullptr || m_pCacheObject->GetData() == nullptr)
        return nullptr;
    return GetKCachedPixmapRecord(m_pCacheObject->GetData())->m_pPixmap;
}

void KPMImage2::SetProps(KPropTree* tree)
{
    if (tree == m_pProps)
        return;
    delete m_pProps;
    m_pProps = tree;
}

void KPMImage2::ComputeHistogram()
{
    if (m_pHistogram == nullptr)
        m_pHistogram = new KIHistogram;
    if (KPixmap* pixmap = GetPixmap())
        m_pHistogram->Count(*pixmap);
}

void KPMImage2::AddRef() { m_RefCount.fetch_add(1); }

void KPMImage2::Release()
{
    if (m_RefCount.fetch_sub(1) == 1)
        delete this;
}
