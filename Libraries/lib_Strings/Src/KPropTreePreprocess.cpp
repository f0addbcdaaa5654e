#include <string>
#include <unordered_map>
#include <vector>

#include "KPropTree.h"

namespace {

// The names defined where the pass stands: the caller's, then those of the "xi:define" nodes met on the way
// there. The names a level defines are taken back when the pass leaves that level, so a define reaches the
// siblings after it and their descendants, and nothing else. Look-ups take the same time however many names
// there are, and no level copies the list.
class DefineScope {
public:
    explicit DefineScope(const KArray<KWString>& defines)
    {
        for (const KWString& d : defines)
            Add(d);
    }
    bool Has(const KWString& name) const { return m_Counts.count(name.Str()) != 0; }
    void Add(const KWString& name)
    {
        m_Added.push_back(name.Str());
        ++m_Counts[name.Str()];
    }
    size_t Mark() const { return m_Added.size(); }
    void TakeBack(size_t mark)
    {
        while (m_Added.size() > mark) {
            auto it = m_Counts.find(m_Added.back());
            if (--it->second == 0)
                m_Counts.erase(it);
            m_Added.pop_back();
        }
    }

private:
    std::vector<std::u16string> m_Added;
    std::unordered_map<std::u16string, size_t> m_Counts;
};

void PreprocessLevel(KPropTree* node, DefineScope& scope)
{
    static const KWString kDefine(u"xi:define");
    static const KWString kIfdef(u"xi:ifdef");
    static const KWString kIfndef(u"xi:ifndef");
    static const KWString kName(u"Name");
    static const KWString kEmpty;

    const size_t mark = scope.Mark();
    while (node) {
        const KWString& name = node->GetName();
        if (name == kDefine) {
            bool found = false;
            const KWString& value = node->GetString(kName, kEmpty, &found);
            if (found)
                scope.Add(value);
        } else if ((name == kIfdef || name == kIfndef) && node->FindPair(kName)) {
            bool defined = scope.Has(node->GetString(kName, kEmpty));
            bool keep = (name == kIfdef) == defined;
            if (keep) {
                // The moved children are examined at this level like any other sibling.
                node = node->ReplaceWithChildren();
            } else {
                KPropTree* next = node->GetNextSibling();
                delete node;
                node = next;
            }
            continue;
        }
        if (KPropTree* child = node->GetFirstChild())
            PreprocessLevel(child, scope);
        node = node->GetNextSibling();
    }
    scope.TakeBack(mark);
}

}  // namespace

bool KPropTree::Preprocess(const KArray<KWString>& defines)
{
    static const KWString kIfdef(u"xi:ifdef");
    static const KWString kIfndef(u"xi:ifndef");
    static const KWString kName(u"Name");
    static const KWString kEmpty;

    DefineScope scope(defines);
    if (!m_pParent && (m_Name == kIfdef || m_Name == kIfndef) && FindPair(kName)) {
        // A root belongs to the caller and has no parent to take its children: it stays. A kept section's
        // contents are resolved in it; a dropped section loses them.
        bool keep = (m_Name == kIfdef) == scope.Has(GetString(kName, kEmpty));
        if (!keep) {
            while (KPropTree* child = m_pFirstChild)
                delete child;
        } else if (m_pFirstChild) {
            PreprocessLevel(m_pFirstChild, scope);
        }
        return true;
    }
    PreprocessLevel(this, scope);
    return true;
}
