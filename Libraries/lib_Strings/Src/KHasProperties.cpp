#include "KHasProperties.h"

#include <cstdio>

#include "KException.h"

bool KPropertyIterator::Next()
{
    if (m_Current != m_pMap->end())
        ++m_Current;
    return m_Current != m_pMap->end();
}

const char* KPropertyIterator::GetKey() const
{
    if (AtEnd())
        throw KExceptionEndOfList("End of list encountered in KPropertyIterator::GetKey()");
    return m_Current->first.CStr();
}

const char* KPropertyIterator::GetValue() const
{
    if (AtEnd())
        throw KExceptionEndOfList("End of list encountered in KPropertyIterator::GetValue()");
    return m_Current->second.CStr();
}

KHasProperties::~KHasProperties() = default;

const char* KHasProperties::GetProperty(const char* key, const char* defaultValue) const
{
    auto it = m_Properties.find(KNarrowString::FromText(key));
    return it == m_Properties.end() ? defaultValue : it->second.CStr();
}

double KHasProperties::GetPropertyDouble(const char* key, double defaultValue) const
{
    auto it = m_Properties.find(KNarrowString::FromText(key));
    return it == m_Properties.end() ? defaultValue : TextToDouble(it->second.CStr());
}

bool KHasProperties::HasProperty(const char* key) const
{
    return m_Properties.count(KNarrowString::FromText(key)) != 0;
}

bool KHasProperties::RemoveProperty(const char* key)
{
    return m_Properties.erase(KNarrowString::FromText(key)) != 0;
}

void KHasProperties::SetProperty(const char* key, const char* value)
{
    m_Properties[KNarrowString::FromText(key)] = value;
}

KNarrowString& KHasProperties::operator[](const char* key)
{
    return m_Properties[KNarrowString::FromText(key)];
}

double KHasProperties::TextToDouble(const char* text)
{
    double value = 0.0;
    if (!text || std::sscanf(text, "%lf", &value) != 1)
        throw KExceptionConversion(
            KNarrowString("Conversion failure trying to convert '%s' to a floating point number.", text ? text : "")
                .CStr());
    return value;
}
