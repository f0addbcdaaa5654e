#include "KUiObjectFactory.h"

#include "KIUiObject.h"

KUiObjectFactory::~KUiObjectFactory()
{
    while (m_pFirst) {
        Entry* next = m_pFirst->next;
        delete m_pFirst->creator;
        delete m_pFirst;
        m_pFirst = next;
    }
    m_pLast = nullptr;
}

KUiObjectFactory::Entry* KUiObjectFactory::priFind(const KWString& keyword) const
{
    for (Entry* entry = m_pFirst; entry; entry = entry->next)
        if (entry->keyword == keyword)
            return entry;
    return nullptr;
}

bool KUiObjectFactory::Register(const KWString* keyword, KIUiObjectCreator* creator)
{
    if (!keyword || !creator || priFind(*keyword))
        return false;
    Entry* entry = new Entry;
    entry->keyword = *keyword;
    entry->creator = creator;
    if (m_pLast)
        m_pLast->next = entry;
    else
        m_pFirst = entry;
    m_pLast = entry;
    ++m_Registered;
    return true;
}

KIUiObject* KUiObjectFactory::Create(const KWString* keyword)
{
    if (!keyword)
        return nullptr;
    Entry* entry = priFind(*keyword);
    if (!entry)
        return nullptr;
    KIUiObject* object = entry->creator->Create();
    if (object)
        ++m_Created;
    return object;
}

void KUiObjectFactory::GetCounts(int32_t& registered, int32_t& created)
{
    registered = m_Registered;
    created = m_Created;
}

KIUiObjectFactory* CreateObjectFactory()
{
    return new KUiObjectFactory;
}

void DeleteObjectFactory(KIUiObjectFactory*& factory)
{
    delete factory;
    factory = nullptr;
}
