// XML files come from disk and from bundles: the parser must give a tree, null or KExceptionXMLParser for any
// bytes, and a tree it gives must survive conditional sections and be written again.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "KException.h"
#include "KMemoryStorage.h"
#include "KXMLParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    KMemoryFolder folder;
    folder.Put(u"f.xml", std::vector<uint8_t>(data, data + size));
    // A second file for includes to find.
    folder.Put(u"inc.xml", std::vector<uint8_t>{'<', 'R', '>', '<', 'I', '/', '>', '<', '/', 'R', '>'});
    KXMLParser parser;
    std::unique_ptr<KPropTree> root;
    try {
        root.reset(parser.Load(&folder, u"f.xml"));
    } catch (const KExceptionXMLParser&) {
        return 0;
    }
    if (!root)
        return 0;
    KArray<KWString> defines;
    defines.Add(KWString(u"A"));
    KPropTree holder(nullptr, "holder");
    holder.AdoptChild(root.release());
    holder.GetFirstChild()->Preprocess(defines);
    if (KPropTree* first = holder.GetFirstChild()) {
        try {
            SaveXMLFile(first, &folder, u"out.xml");
        } catch (const KException&) {
            // Refused: a value the reader could not give back.
        }
    }
    return 0;
}
