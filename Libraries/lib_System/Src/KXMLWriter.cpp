#include <vector>

#include "KException.h"
#include "KFileReplacer.h"
#include "KXMLParser.h"

namespace {

bool IsNameChar(KWChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'-' ||
           c == u'_' || c == u':' || c == u'.';
}

bool IsName(const KWString& text)
{
    for (KWChar c : text.View())
        if (!IsNameChar(c))
            return false;
    return true;
}

// Refuses a tree that the reader could not give back: the whole file, and every setting in it, would be lost.
void CheckReadable(const KPropTree* node, const KWString& fileName)
{
    std::vector<const KPropTree*> work;
    for (const KPropTree* n = node; n; n = n->GetNextSibling())
        work.push_back(n);
    while (!work.empty()) {
        const KPropTree* n = work.back();
        work.pop_back();
        if (!IsName(n->GetName())) {
            KNarrowString message("Cannot write XML file '%s': the element name '%s' is not a valid name",
                                  fileName.GetAscii(), n->GetName().GetAscii());
            throw KExceptionXMLParser(message.CStr());
        }
        for (const KPropPair* p = n->GetFirstPair(); p; p = p->GetNext()) {
            if (!IsName(p->GetKey())) {
                KNarrowString message("Cannot write XML file '%s': the key '%s' of '%s' is not a valid name",
                                      fileName.GetAscii(), p->GetKey().GetAscii(), n->GetName().GetAscii());
                throw KExceptionXMLParser(message.CStr());
            }
            if (p->GetValue().View().find(u'"') != std::u16string_view::npos) {
                KNarrowString message("Cannot write XML file '%s': the value of '%s' in '%s' holds a double quote",
                                      fileName.GetAscii(), p->GetKey().GetAscii(), n->GetName().GetAscii());
                throw KExceptionXMLParser(message.CStr());
            }
        }
        for (const KPropTree* c = n->GetFirstChild(); c; c = c->GetNextSibling())
            work.push_back(c);
    }
}

bool WriteLine(KIFile* file, const std::u16string& line)
{
    std::vector<unsigned char> bytes(line.size() * 2);
    for (size_t i = 0; i < line.size(); ++i) {
        bytes[2 * i] = static_cast<unsigned char>(line[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<unsigned char>(line[i] >> 8);
    }
    return file->Write(bytes.data(), static_cast<KUInt32>(bytes.size())) != 0;
}

}  // namespace

bool WriteXMLNodes(KPropTree* node, KIFile* file, int depth)
{
    if (depth == 0) {
        static const unsigned char kMark[2] = {0xFF, 0xFE};
        if (!file->Write(kMark, 2))
            return false;
    }
    for (; node; node = node->GetNextSibling()) {
        std::u16string tabs(static_cast<size_t>(depth), u'\t');
        std::u16string line = tabs + u"<" + node->GetName().Str();
        for (const KPropPair* p = node->GetFirstPair(); p; p = p->GetNext())
            line += u" " + p->GetKey().Str() + u"=\"" + p->GetValue().Str() + u"\" ";
        if (!node->GetFirstChild()) {
            if (!WriteLine(file, line + u"/>\r\n"))
                return false;
            continue;
        }
        if (!WriteLine(file, line + u">\r\n") || !WriteXMLNodes(node->GetFirstChild(), file, depth + 1) ||
            !WriteLine(file, tabs + u"</" + node->GetName().Str() + u">\r\n"))
            return false;
    }
    return true;
}

void SaveXMLFile(KPropTree* root, KIFolder* folder, const KWString& fileName)
{
    CheckReadable(root, fileName);
    KFileReplacer out;
    if (!out.Open(folder, fileName))
        return;
    if (!WriteXMLNodes(root, out.File(), 0)) {
        out.Abandon();
        KNarrowString message("Cannot write XML file '%s': the old file is kept", fileName.GetAscii());
        throw KExceptionFileWrite(message.CStr());
    }
    out.Commit();
}
