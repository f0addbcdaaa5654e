#pragma once
// Makes UI objects by script keyword. A creator makes new, uninitialised objects of one class; the factory
// owns the creators registered with it.
#include <cstdint>

#include "KWString.h"

class KIUiObject;

class KIUiObjectCreator {
public:
    // A new object, or null.
    virtual KIUiObject* Create() = 0;
    virtual ~KIUiObjectCreator() = default;
};

class KIUiObjectFactory {
public:
    // Takes creator for keyword. False for a null keyword or creator, or a keyword already registered (the
    // first stays; a refused creator still belongs to the caller).
    virtual bool Register(const KWString* keyword, KIUiObjectCreator* creator) = 0;
    // A new object of the keyword's class (exact, case-sensitive), or null; the caller initialises it.
    virtual KIUiObject* Create(const KWString* keyword) = 0;
    virtual void GetCounts(int32_t& registered, int32_t& created) = 0;
    // Deletes every creator.
    virtual ~KIUiObjectFactory() = default;
};

class KUiObjectFactory : public KIUiObjectFactory {
public:
    KUiObjectFactory() = default;
    KUiObjectFactory(const KUiObjectFactory&) = delete;
    KUiObjectFactory& operator=(const KUiObjectFactory&) = delete;
    ~KUiObjectFactory() override;

    bool Register(const KWString* keyword, KIUiObjectCreator* creator) override;
    KIUiObject* Create(const KWString* keyword) override;
    void GetCounts(int32_t& registered, int32_t& created) override;

private:
    struct Entry {
        KWString keyword;
        KIUiObjectCreator* creator = nullptr;
        Entry* next = nullptr;
    };
    Entry* priFind(const KWString& keyword) const;

    int32_t m_Registered = 0;
    int32_t m_Created = 0;
    Entry* m_pFirst = nullptr;
    Entry* m_pLast = nullptr;
};

KIUiObjectFactory* CreateObjectFactory();
// Deletes the factory (null ignored) and clears the pointer.
void DeleteObjectFactory(KIUiObjectFactory*& factory);

// Registers the generic controls, group by group in their fixed order; answers the AND of the registrations.
bool RegisterGenericControls(KIUiObjectFactory* factory);
