#include "KPropTree.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "KDebug.h"
#include "KTextFunctions.h"

// --- KPropPair --------------------------------------------------------------------------------------------

bool KPropPair::InsertCopyAfter(const KPropPair* source)
{
    if (!source)
        return true;
    KPropPair* copy = new (std::nothrow) KPropPair(source->m_Key, source->m_Value);
    if (!copy)
        return false;
    copy->m_pOwner = m_pOwner;
    copy->m_pPrev = this;
    copy->m_pNext = m_pNext;
    if (m_pNext)
        m_pNext->m_pPrev = copy;
    else if (m_pOwner && m_pOwner->m_pLastPair == this)
        m_pOwner->m_pLastPair = copy;
    m_pNext = copy;
    return true;
}

bool KPropPair::InsertCopiesAfter(const KPropPair* first)
{
    // Collect first: the source list may be this very list.
    std::vector<const KPropPair*> sources;
    for (const KPropPair* p = first; p; p = p->m_pNext)
        sources.push_back(p);
    KPropPair* at = this;
    for (const KPropPair* p : sources) {
        if (!at->InsertCopyAfter(p))
            return false;
        at = at->m_pNext;
    }
    return true;
}

// --- structure --------------------------------------------------------------------------------------------

KPropTree::KPropTree(KPropTree* parent, const KWString& name) : m_Name(name)
{
    if (parent)
        parent->priAppendChild(this);
}

KPropTree::KPropTree(KPropTree* parent, const char* name) : KPropTree(parent, KWString(name)) {}

KPropTree::~KPropTree()
{
    // Without recursion, so that a very deep tree cannot exhaust the stack. Each node is cut loose from its
    // neighbours before it is deleted, so its own destructor touches nothing already freed.
    std::vector<KPropTree*> work;
    for (KPropTree* c = m_pFirstChild; c; c = c->m_pNextSibling)
        work.push_back(c);
    m_pFirstChild = m_pLastChild = nullptr;
    while (!work.empty()) {
        KPropTree* n = work.back();
        work.pop_back();
        for (KPropTree* c = n->m_pFirstChild; c; c = c->m_pNextSibling)
            work.push_back(c);
        n->m_pFirstChild = n->m_pLastChild = nullptr;
        n->m_pParent = n->m_pPrevSibling = n->m_pNextSibling = nullptr;
        delete n;
    }
    priDeleteAllPairs();
    priUnlink();
}

void KPropTree::priDeleteAllPairs()
{
    KPropPair* p = m_pPropPairs;
    while (p) {
        KPropPair* next = p->m_pNext;
        delete p;
        p = next;
    }
    m_pPropPairs = m_pLastPair = nullptr;
}

void KPropTree::priUnlink()
{
    if (m_pParent && m_pParent->m_pFirstChild == this)
        m_pParent->m_pFirstChild = m_pNextSibling;
    if (m_pParent && m_pParent->m_pLastChild == this)
        m_pParent->m_pLastChild = m_pPrevSibling;
    if (m_pPrevSibling)
        m_pPrevSibling->m_pNextSibling = m_pNextSibling;
    if (m_pNextSibling)
        m_pNextSibling->m_pPrevSibling = m_pPrevSibling;
    m_pParent = nullptr;
    m_pPrevSibling = nullptr;
    m_pNextSibling = nullptr;
}

void KPropTree::priAppendChild(KPropTree* child)
{
    child->m_pParent = this;
    child->m_pNextSibling = nullptr;
    child->m_pPrevSibling = m_pLastChild;
    if (m_pLastChild)
        m_pLastChild->m_pNextSibling = child;
    else
        m_pFirstChild = child;
    m_pLastChild = child;
}

void KPropTree::priInsertAfter(KPropTree* sibling, KPropTree* node)
{
    node->m_pParent = sibling->m_pParent;
    node->m_pPrevSibling = sibling;
    node->m_pNextSibling = sibling->m_pNextSibling;
    if (sibling->m_pNextSibling)
        sibling->m_pNextSibling->m_pPrevSibling = node;
    else if (node->m_pParent)
        node->m_pParent->m_pLastChild = node;
    sibling->m_pNextSibling = node;
}

void KPropTree::AdoptChild(KPropTree* child)
{
    if (!child)
        return;
    child->priUnlink();
    priAppendChild(child);
}

void KPropTree::Detach()
{
    priUnlink();
}

KPropTree* KPropTree::FindChild(const KWString& name) const
{
    for (KPropTree* c = m_pFirstChild; c; c = c->m_pNextSibling)
        if (c->m_Name == name)
            return c;
    return nullptr;
}

size_t KPropTree::GetChildCount() const
{
    size_t n = 0;
    for (KPropTree* c = m_pFirstChild; c; c = c->m_pNextSibling)
        ++n;
    return n;
}

size_t KPropTree::GetPairCount() const
{
    size_t n = 0;
    for (KPropPair* p = m_pPropPairs; p; p = p->m_pNext)
        ++n;
    return n;
}

KPropTree* KPropTree::Clone() const
{
    return CopyInto(nullptr);
}

KPropTree* KPropTree::CopyInto(KPropTree* parent) const
{
    KPropTree* root = new KPropTree(parent, m_Name);
    root->CopyPairsFrom(this);
    std::vector<std::pair<const KPropTree*, KPropTree*>> work{{this, root}};
    while (!work.empty()) {
        auto [source, copy] = work.back();
        work.pop_back();
        for (const KPropTree* c = source->m_pFirstChild; c; c = c->m_pNextSibling) {
            KPropTree* nc = new KPropTree(copy, c->m_Name);
            nc->CopyPairsFrom(c);
            work.emplace_back(c, nc);
        }
    }
    return root;
}

void KPropTree::CopyPairsFrom(const KPropTree* source)
{
    if (!source)
        return;
    std::vector<const KPropPair*> pairs;
    for (const KPropPair* p = source->m_pPropPairs; p; p = p->m_pNext)
        pairs.push_back(p);
    for (const KPropPair* p : pairs)
        AddPair(p->m_Key, p->m_Value);
}

namespace {

// Walks the tree below root: each node named name is handed to take, which moves it out of its place (the
// nodes that take its place are not examined again in this pass); the other nodes are walked in turn.
template <class Take>
void TakeNodesNamed(KPropTree* root, const KWString& name, Take take)
{
    std::vector<KPropTree*> work{root};
    while (!work.empty()) {
        KPropTree* node = work.back();
        work.pop_back();
        KPropTree* c = node->GetFirstChild();
        while (c) {
            KPropTree* next = c->GetNextSibling();
            if (c->GetName() == name)
                take(c);
            else
                work.push_back(c);
            c = next;
        }
    }
}

}  // namespace

void KPropTree::RemoveChildrenNamed(const KWString& name)
{
    TakeNodesNamed(this, name, [](KPropTree* c) { delete c; });
}

void KPropTree::UnwrapChildrenNamed(const KWString& name)
{
    TakeNodesNamed(this, name, [](KPropTree* c) { c->ReplaceWithChildren(); });
}

KPropTree* KPropTree::ReplaceWithChildren()
{
    KPropTree* oldNext = m_pNextSibling;
    KPropTree* firstMoved = m_pFirstChild;
    KPropTree* at = this;
    KPropTree* moved = m_pFirstChild;
    m_pFirstChild = m_pLastChild = nullptr;
    while (moved) {
        KPropTree* following = moved->m_pNextSibling;
        moved->m_pPrevSibling = moved->m_pNextSibling = nullptr;
        priInsertAfter(at, moved);
        at = moved;
        moved = following;
    }
    delete this;
    return firstMoved ? firstMoved : oldNext;
}

// --- pairs ------------------------------------------------------------------------------------------------

bool KPropTree::AddPair(const KWString& key, const KWString& value)
{
    KPropPair* pair = new (std::nothrow) KPropPair(key, value);
    if (!pair)
        return false;
    pair->m_pOwner = this;
    pair->m_pPrev = m_pLastPair;
    if (m_pLastPair)
        m_pLastPair->m_pNext = pair;
    else
        m_pPropPairs = pair;
    m_pLastPair = pair;
    return true;
}

bool KPropTree::AddPair(const char* key, const char* value)
{
    return AddPair(KWString(key), KWString(value));
}

bool KPropTree::RemovePair(KPropPair*& pair)
{
    if (!pair || pair->m_pOwner != this)
        return false;
    if (!pair->m_pPrev)
        KASSERT(pair == m_pPropPairs);
    if (pair->m_pPrev)
        pair->m_pPrev->m_pNext = pair->m_pNext;
    else
        m_pPropPairs = pair->m_pNext;
    if (pair->m_pNext)
        pair->m_pNext->m_pPrev = pair->m_pPrev;
    else
        m_pLastPair = pair->m_pPrev;
    delete pair;
    pair = nullptr;
    return true;
}

KPropPair* KPropTree::FindPair(const KWString& key) const
{
    for (KPropPair* p = m_pPropPairs; p; p = p->m_pNext)
        if (p->m_Key == key)
            return p;
    return nullptr;
}

// --- typed getters ----------------------------------------------------------------------------------------

namespace {

void SetFound(bool* found, bool value)
{
    if (found)
        *found = value;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Decimal digits from p, accumulated with wrap-around (no overflow check); p ends on the first non-digit.
uint32_t ReadDigits(const char*& p)
{
    uint32_t v = 0;
    while (*p >= '0' && *p <= '9')
        v = v * 10u + static_cast<uint32_t>(*p++ - '0');
    return v;
}

// atoi's reading: leading white space, an optional sign, digits; the rest is ignored. Saturates.
int ReadInt(const char* p)
{
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    int64_t v = 0;
    while (*p >= '0' && *p <= '9') {
        v = v * 10 + (*p++ - '0');
        if (v > 0x80000000LL)
            v = 0x80000000LL;
    }
    if (negative)
        v = -v;
    if (v > 0x7FFFFFFF)
        v = 0x7FFFFFFF;
    return static_cast<int>(v);
}

int HexDigit(KWChar c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

}  // namespace

const KWString& KPropTree::GetString(const KWString& key, const KWString& defaultValue, bool* found) const
{
    SetFound(found, false);
    if (KPropPair* p = FindPair(key)) {
        SetFound(found, true);
        return p->m_Value;
    }
    return defaultValue;
}

KWString KPropTree::GetString(const KWString& key, KWString&& defaultValue, bool* found) const
{
    const KWString& value = GetString(key, static_cast<const KWString&>(defaultValue), found);
    return &value == &defaultValue ? std::move(defaultValue) : value;
}

int KPropTree::GetInt(const KWString& key, int defaultValue, bool* found) const
{
    SetFound(found, false);
    KPropPair* p = FindPair(key);
    if (!p || p->m_Value.IsEmpty())
        return defaultValue;
    SetFound(found, true);
    return ReadInt(WideToUtf8(p->m_Value).c_str());
}

double KPropTree::GetDouble(const KWString& key, double defaultValue, bool* found) const
{
    SetFound(found, false);
    KPropPair* p = FindPair(key);
    if (!p || p->m_Value.IsEmpty())
        return defaultValue;
    SetFound(found, true);
    std::string text(p->m_Value.GetAscii());
    if (text.size() > 511)
        text.resize(511);
    return std::atof(text.c_str());
}

bool ParseColorText(const KWString& v, KColorRGBA& out)
{
    if ((v.GetLength() != 7 && v.GetLength() != 9) || v[0] != u'#')
        return false;
    uint8_t bytes[4] = {0, 0, 0, 255};
    for (size_t i = 0; i < (v.GetLength() - 1) / 2; ++i) {
        int hi = HexDigit(v[1 + 2 * i]);
        int lo = HexDigit(v[2 + 2 * i]);
        if (hi < 0 || lo < 0)
            return false;
        bytes[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    out = KColorRGBA{bytes[0], bytes[1], bytes[2], bytes[3]};
    return true;
}

void KPropTree::GetColor(KColorRGBA& out, const KWString& key, const KColorRGBA& defaultValue, bool* found) const
{
    SetFound(found, false);
    out = defaultValue;
    KPropPair* p = FindPair(key);
    if (!p)
        return;
    KColorRGBA c{};
    if (!ParseColorText(p->m_Value, c))
        return;
    out = c;
    SetFound(found, true);
}

bool KPropTree::GetBool(const KWString& key, bool defaultValue, bool* found) const
{
    static const char* const kTrue[] = {"TRUE", "True", "T", "true", "t", "YES", "Yes",
                                        "Y", "yes", "y", "ON", "On", "on", "1"};
    static const char* const kFalse[] = {"FALSE", "False", "F", "false", "f", "NO", "No",
                                         "N", "no", "n", "OFF", "Off", "off", "0"};
    SetFound(found, false);
    KPropPair* p = FindPair(key);
    if (!p)
        return defaultValue;
    SetFound(found, true);
    for (const char* w : kTrue)
        if (p->m_Value == w)
            return true;
    for (const char* w : kFalse)
        if (p->m_Value == w)
            return false;
    return defaultValue;
}

namespace {

// Reads count decimal fields separated by commas, with spaces or tabs at the start and around each comma.
// Whatever follows the last field's digits is ignored. With signs, each field may start with '-' or '+'.
bool ReadNumberList(const char* p, int count, bool signs, uint32_t* out)
{
    while (IsBlank(*p))
        ++p;
    for (int i = 0; i < count; ++i) {
        bool negative = false;
        if (signs && (*p == '-' || *p == '+'))
            negative = *p++ == '-';
        uint32_t n = ReadDigits(p);
        out[i] = negative ? 0u - n : n;
        if (i == count - 1)
            break;
        while (IsBlank(*p))
            ++p;
        if (*p != ',')
            return false;
        ++p;
        while (IsBlank(*p))
            ++p;
    }
    return true;
}

}  // namespace

void KPropTree::GetRect(KRect& out, const KWString& key, const KRect& defaultValue, bool* found) const
{
    SetFound(found, false);
    out = defaultValue;
    KPropPair* pair = FindPair(key);
    uint32_t v[4];
    if (!pair || !ReadNumberList(pair->m_Value.GetAscii(), 4, false, v))
        return;
    out = KRect(static_cast<int32_t>(v[0]), static_cast<int32_t>(v[1]), static_cast<int32_t>(v[2] + 1u),
                static_cast<int32_t>(v[3] + 1u));
    SetFound(found, true);
}

void KPropTree::GetPoint(KPoint& out, const KWString& key, const KPoint& defaultValue, bool* found) const
{
    SetFound(found, false);
    out = defaultValue;
    KPropPair* pair = FindPair(key);
    uint32_t v[2];
    if (!pair || !ReadNumberList(pair->m_Value.GetAscii(), 2, true, v))
        return;
    out = KPoint{static_cast<int32_t>(v[0]), static_cast<int32_t>(v[1])};
    SetFound(found, true);
}

// --- setters ----------------------------------------------------------------------------------------------

void KPropTree::SetString(const KWString& key, const KWString& value)
{
    bool any = false;
    for (KPropPair* p = m_pPropPairs; p; p = p->m_pNext) {
        if (p->m_Key == key) {
            p->m_Value = value;
            any = true;
        }
    }
    if (!any)
        AddPair(key, value);
}

void KPropTree::SetInt(const KWString& key, int n)
{
    char text[24];
    std::snprintf(text, sizeof text, "%i", n);
    SetString(key, KWString(text));
}

void KPropTree::SetDouble(const KWString& key, double x)
{
    char text[400];
    std::snprintf(text, sizeof text, "%.4f", x);
    SetString(key, KWString(text));
}

void KPropTree::SetBool(const KWString& key, bool b)
{
    SetString(key, KWString(b ? "T" : "F"));
}
