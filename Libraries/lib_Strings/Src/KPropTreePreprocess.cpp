#include "KPropTree.h"

namespace {

bool IsDefined(const KWString& name, const KArray<KWString>& defines, const KArray<KWString>& local)
{
    for (const KWString& d : defines)
        if (d == name)
            return true;
    for (const KWString& d : local)
        if (d == name)
            return true;
    return false;
}

}  // namespace

bool KPropTree::Preprocess(const KArray<KWString>& defines)
{
    static const KWString kDefine(u"xi:define");
    static const KWString kIfdef(u"xi:ifdef");
    static const KWString kIfndef(u"xi:ifndef");
    static const KWString kName(u"Name");
    static const KWString kEmpty;

    KArray<KWString> local;
    KPropTree* node = this;
    while (node) {
        const KWString& name = node->GetName();
        if (name == kDefine) {
            bool found = false;
            const KWString& value = node->GetString(kName, kEmpty, &found);
            if (found)
                local.Add(value);
        } else if ((name == kIfdef || name == kIfndef) && node->FindPair(kName)) {
            bool defined = IsDefined(node->GetString(kName, kEmpty), defines, local);
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
        if (KPropTree* child = node->GetFirstChild()) {
            KArray<KWString> inner;
            for (const KWString& d : defines)
                inner.Add(d);
            for (const KWString& d : local)
                inner.Add(d);
            child->Preprocess(inner);
        }
        node = node->GetNextSibling();
    }
    return true;
}
