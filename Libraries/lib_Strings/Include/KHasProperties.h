#pragma once
// A flat map from text keys to text values, sorted by unsigned bytes; inherited by images and pixmaps.
#include <map>

#include "KNarrowString.h"

struct KNarrowStringLess {
    bool operator()(const KNarrowString& a, const KNarrowString& b) const { return a.Compare(b.CStr()) < 0; }
};

using KPropertyMap = std::map<KNarrowString, KNarrowString, KNarrowStringLess>;

// Walks one map in key order; taken from the map when made, invalid once the map changes.
class KPropertyIterator {
public:
    explicit KPropertyIterator(const KPropertyMap& map) : m_pMap(&map), m_Current(map.begin()) {}

    void Reset() { m_Current = m_pMap->begin(); }
    bool Next();
    bool AtEnd() const { return m_Current == m_pMap->end(); }
    const char* GetKey() const;
    const char* GetValue() const;

private:
    const KPropertyMap* m_pMap;
    KPropertyMap::const_iterator m_Current;
};

class KHasProperties {
public:
    KHasProperties() = default;
    KHasProperties(const KHasProperties&) = default;
    KHasProperties& operator=(const KHasProperties&) = default;
    virtual ~KHasProperties();

    const char* GetProperty(const char* key, const char* defaultValue) const;
    double GetPropertyDouble(const char* key, double defaultValue) const;
    bool HasProperty(const char* key) const;
    bool RemoveProperty(const char* key);
    size_t GetPropertyCount() const { return m_Properties.size(); }
    KPropertyIterator GetPropertyIterator() const { return KPropertyIterator(m_Properties); }

    // Insert or replace (the map's own subscript).
    void SetProperty(const char* key, const char* value);
    KNarrowString& operator[](const char* key);

    // "%lf" scanning; throws KExceptionConversion when nothing can be read.
    static double TextToDouble(const char* text);

    const KPropertyMap& GetPropertyMap() const { return m_Properties; }

protected:
    KPropertyMap m_Properties;
};
