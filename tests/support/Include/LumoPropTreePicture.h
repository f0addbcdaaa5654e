#pragma once
// A compact picture of a property tree for comparisons in one assertion: name(child child ...), each pair as
// [key=value], siblings separated by spaces. For test programs that link lib_Strings.
#include <string>

#include "KPropTree.h"
#include "KTextFunctions.h"

namespace lumotest {

inline std::string PropTreePicture(const KPropTree* node)
{
    std::string out;
    for (; node; node = node->GetNextSibling()) {
        if (!out.empty())
            out += " ";
        out += WideToUtf8(node->GetName());
        for (const KPropPair* p = node->GetFirstPair(); p; p = p->GetNext())
            out += "[" + WideToUtf8(p->GetKey()) + "=" + WideToUtf8(p->GetValue()) + "]";
        if (node->GetFirstChild())
            out += "(" + PropTreePicture(node->GetFirstChild()) + ")";
    }
    return out;
}

}  // namespace lumotest
