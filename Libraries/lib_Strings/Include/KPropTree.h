#pragma once
// A tree of named nodes, each with an ordered list of text key/value pairs: the in-memory form of every XML
// file and the carrier of image properties. A node owns its pairs and its children. Keys need not be unique:
// look-ups take the first pair with the key. Comparisons are exact (unit by unit).
#include <cstdint>

#include "KArray.h"
#include "KRect.h"
#include "KWString.h"

class KPropTree;

class KPropPair {
public:
    KPropPair(const KWString& key, const KWString& value) : m_Key(key), m_Value(value) {}

    const KWString& GetKey() const { return m_Key; }
    const KWString& GetValue() const { return m_Value; }
    KWString& GetValue() { return m_Value; }
    void SetKey(const KWString& key) { m_Key = key; }
    void SetValue(const KWString& value) { m_Value = value; }
    KPropPair* GetNext() const { return m_pNext; }
    KPropPair* GetPrev() const { return m_pPrev; }
    KPropTree* GetOwner() const { return m_pOwner; }

    // Inserts a copy of source right after this pair; false when memory runs out.
    bool InsertCopyAfter(const KPropPair* source);
    // Inserts copies of first and every pair after it, in order.
    bool InsertCopiesAfter(const KPropPair* first);

private:
    friend class KPropTree;
    KWString m_Key;
    KWString m_Value;
    KPropPair* m_pPrev = nullptr;
    KPropPair* m_pNext = nullptr;
    KPropTree* m_pOwner = nullptr;
};

struct KColorRGBA {
    uint8_t r, g, b, a;
};

// A colour written "#RRGGBB" (alpha 255) or "#RRGGBBAA", upper-case hexadecimal digits only; false, out
// untouched, for anything else.
bool ParseColorText(const KWString& text, KColorRGBA& out);

class KPropTree {
public:
    KPropTree(KPropTree* parent, const KWString& name);
    KPropTree(KPropTree* parent, const char* name);
    virtual ~KPropTree();
    KPropTree(const KPropTree&) = delete;
    KPropTree& operator=(const KPropTree&) = delete;

    const KWString& GetName() const { return m_Name; }
    void SetName(const KWString& name) { m_Name = name; }
    KPropTree* GetParent() const { return m_pParent; }
    KPropTree* GetFirstChild() const { return m_pFirstChild; }
    KPropTree* GetNextSibling() const { return m_pNextSibling; }
    KPropTree* GetPrevSibling() const { return m_pPrevSibling; }
    KPropPair* GetFirstPair() const { return m_pPropPairs; }
    // First direct child with that name, or null.
    KPropTree* FindChild(const KWString& name) const;
    size_t GetChildCount() const;
    size_t GetPairCount() const;

    KPropTree* Clone() const;
    KPropTree* CopyInto(KPropTree* parent) const;
    void CopyPairsFrom(const KPropTree* source);
    void RemoveChildrenNamed(const KWString& name);
    void UnwrapChildrenNamed(const KWString& name);
    KPropTree* ReplaceWithChildren();
    // Resolves the conditional sections "xi:define", "xi:ifdef" and "xi:ifndef" (each with a "Name") in this
    // node, its following siblings and all their descendants: a kept section is replaced by its children, a
    // dropped one is deleted. A define counts for the siblings after it and their descendants. This node
    // itself may be replaced or deleted when it has a parent, so call it on the root's first child. A root
    // that is itself a conditional section stays: kept, its contents are resolved in it; dropped, they go.
    // Returns true.
    bool Preprocess(const KArray<KWString>& defines);
    // Appends an existing root (no parent) as the last child of this node.
    void AdoptChild(KPropTree* child);
    // Unlinks this node from its parent; it becomes a root owned by the caller.
    void Detach();

    bool AddPair(const KWString& key, const KWString& value);
    bool AddPair(const char* key, const char* value);
    bool RemovePair(KPropPair*& pair);
    KPropPair* FindPair(const KWString& key) const;

    // The pair's value, or the default. A temporary default is returned by value, so a reference bound to the
    // result never outlives it.
    const KWString& GetString(const KWString& key, const KWString& defaultValue, bool* found = nullptr) const;
    KWString GetString(const KWString& key, KWString&& defaultValue, bool* found = nullptr) const;
    int GetInt(const KWString& key, int defaultValue, bool* found = nullptr) const;
    double GetDouble(const KWString& key, double defaultValue, bool* found = nullptr) const;
    void GetColor(KColorRGBA& out, const KWString& key, const KColorRGBA& defaultValue, bool* found = nullptr) const;
    bool GetBool(const KWString& key, bool defaultValue, bool* found = nullptr) const;
    // Inclusive corners in the text; right and bottom come out exclusive.
    void GetRect(KRect& out, const KWString& key, const KRect& defaultValue, bool* found = nullptr) const;
    void GetPoint(KPoint& out, const KWString& key, const KPoint& defaultValue, bool* found = nullptr) const;

    void SetString(const KWString& key, const KWString& value);
    void SetInt(const KWString& key, int n);
    void SetDouble(const KWString& key, double x);
    void SetBool(const KWString& key, bool b);

private:
    friend class KPropPair;
    void priUnlink();
    void priAppendChild(KPropTree* child);
    void priInsertAfter(KPropTree* sibling, KPropTree* node);
    void priDeleteAllPairs();

    KWString m_Name;
    KPropPair* m_pPropPairs = nullptr;
    KPropPair* m_pLastPair = nullptr;  // so that appending a pair does not walk the list
    KPropTree* m_pPrevSibling = nullptr;
    KPropTree* m_pNextSibling = nullptr;
    KPropTree* m_pParent = nullptr;
    KPropTree* m_pFirstChild = nullptr;
    KPropTree* m_pLastChild = nullptr;  // so that appending a child does not walk the siblings
};
