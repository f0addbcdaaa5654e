#include "KXMLParser.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "KException.h"
#include "KStorageHolder.h"
#include "KStorageURL.h"
#include "KTextFunctions.h"
#include "PlatformOS.h"

namespace {

// A file bigger than this is no settings file or script: refused like a failed allocation.
constexpr KUInt32 kMaxFileSize = 256u << 20;

bool IsWhiteSpace(KWChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool IsNameChar(KWChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'-' ||
           c == u'_' || c == u':' || c == u'.';
}

bool StartsWith(const KWString& text, std::u16string_view prefix)
{
    return text.View().substr(0, prefix.size()) == prefix;
}

KIFile* OpenQuietly(KIFolder* folder, const KWString& name)
{
    // A name that cannot be opened as a file (a folder, say) counts as missing.
    try {
        return folder->OpenFile(name, KFILE_MODE_READ);
    } catch (const KException&) {
        return nullptr;
    }
}

}  // namespace

KWString ExpandEnvironmentVariable(const KWString& text, const KWString& delimiter)
{
    std::u16string_view t = text.View();
    std::u16string_view d = delimiter.View();
    if (d.empty())
        return text;
    size_t first = t.find(d);
    if (first == std::u16string_view::npos)
        return text;
    size_t second = t.find(d, first + d.size());
    if (second == std::u16string_view::npos)
        return text;  // a lone delimiter is kept as written
    KWString name(t.substr(first + d.size(), second - first - d.size()));
    KWString result(t.substr(0, first));
    if (const char* value = PlatGetEnv(WideToUtf8(name).c_str()))
        result += Utf8ToWide(value);
    result += KWString(t.substr(second + d.size()));
    return result;
}

KXMLParser::~KXMLParser()
{
    m_FileName.Clear();
    m_CurrentFolderURL.Clear();
    delete m_pRoot;
}

void KXMLParser::priAddReferencedFile(const KWString& url)
{
    m_ReferencedFiles.push_back(url);
}

KIFile* KXMLParser::priFindFile(const KWString& name)
{
    if (m_SearchPath.empty()) {
        try {
            return OpenFileByURL(name, KFILE_MODE_READ);
        } catch (const KException&) {
            return nullptr;
        }
    }
    for (const KWString& folderURL : m_SearchPath) {
        KWString leaf;
        KFolderHolder folder(OpenFolderByURL(folderURL, leaf, false));
        if (!folder)
            continue;
        if (KIFile* file = OpenQuietly(folder.get(), name))
            return file;
    }
    return nullptr;
}

KPropTree* KXMLParser::Load(KIFolder* folder, const KWString& fileName)
{
    if (!folder)
        return nullptr;
    m_FileName = fileName;
    KFileHolder file(OpenQuietly(folder, fileName));
    if (!file) {
        KWString folderURL;
        folder->GetURL(folderURL);
        m_SearchPath.push_back(folderURL);
        file.reset(priFindFile(fileName));
        if (!file)
            return nullptr;
    }

    KWString fileURL;
    file->GetURL(fileURL);
    // A file that includes itself, directly or through others, is an include that fails. The name goes with
    // the URL: every member of a bundle answers the bundle's URL.
    KWString chainKey = fileURL + KWString(u"\n") + fileName;
    if (std::find(m_OpenChain.begin(), m_OpenChain.end(), chainKey) != m_OpenChain.end())
        return nullptr;
    std::vector<KWString> components;
    SplitURL(fileURL, components);
    if (!components.empty())
        components.pop_back();
    ComposeURL(components, m_CurrentFolderURL, true);
    priAddReferencedFile(fileURL);

    m_Text.clear();
    KUInt32 size = file->GetSize();
    if (size == 0)
        return nullptr;
    std::vector<unsigned char> bytes;
    try {
        if (size > kMaxFileSize)
            throw std::bad_alloc();
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        KNarrowString message("Failed to allocate '%d' bytes for reading XML file '%s'", static_cast<int>(size),
                              m_FileName.GetAscii());
        throw KExceptionXMLParser(message.CStr());
    }
    file->ReadExact(bytes.data(), size);
    file.reset();

    if (size >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
        const bool bigEndian = bytes[0] == 0xFE;
        m_Text.resize((size - 2) / 2);
        for (size_t i = 0; i < m_Text.size(); ++i) {
            unsigned char a = bytes[2 + 2 * i], b = bytes[3 + 2 * i];
            m_Text[i] = bigEndian ? static_cast<KWChar>(a << 8 | b) : static_cast<KWChar>(b << 8 | a);
        }
    } else {
        m_Text.resize(size);
        for (size_t i = 0; i < size; ++i)
            m_Text[i] = static_cast<KWChar>(static_cast<signed char>(bytes[i]));
    }
    m_Pos = 0;

    delete m_pRoot;
    m_pRoot = nullptr;
    int tagCount = 0;
    priParseTag(nullptr, tagCount, 0);
    while (priSkipWhiteSpace() && !priAtLast())
        priParseTag(nullptr, tagCount, 0);

    m_OpenChain.push_back(chainKey);
    bool included = m_pRoot && priProcessIncludes(folder, m_pRoot);
    m_OpenChain.pop_back();
    if (!included) {
        delete m_pRoot;
        m_pRoot = nullptr;
        return nullptr;
    }
    KPropTree* root = m_pRoot;
    m_pRoot = nullptr;
    return root;
}

bool KXMLParser::priProcessIncludes(KIFolder* folder, KPropTree* node)
{
    static const KWString kInclude(u"xi:include");
    static const KWString kHref(u"href");
    while (node) {
        if (node->GetName() != kInclude) {
            if (node->GetFirstChild() && !priProcessIncludes(folder, node->GetFirstChild()))
                return false;
            node = node->GetNextSibling();
            continue;
        }
        if (node->GetFirstChild()) {
            KNarrowString message("Failed include tag should NOT have children in File '%s'", m_FileName.GetAscii());
            throw KExceptionXMLParser(message.CStr());
        }
        const KPropPair* href = node->FindPair(kHref);
        if (!href) {
            KNarrowString message("Failed include did NOT have required property of href in File '%s'",
                                  m_FileName.GetAscii());
            throw KExceptionXMLParser(message.CStr());
        }
        // An include at the top has no parent to receive what it brings: it fails.
        if (!node->GetParent())
            return false;
        KPropTree* included = nullptr;
        {
            KXMLParser nested;
            nested.m_SearchPath = m_SearchPath;
            nested.m_OpenChain = m_OpenChain;
            included = nested.Load(folder, href->GetValue());
            for (const KWString& url : nested.m_ReferencedFiles)
                if (std::find(m_ReferencedFiles.begin(), m_ReferencedFiles.end(), url) == m_ReferencedFiles.end())
                    priAddReferencedFile(url);
        }
        if (!included)
            return false;
        // The included root's children take the include node's place; the root and the include node go.
        while (KPropTree* child = included->GetFirstChild())
            node->AdoptChild(child);
        delete included;
        KPropTree* next = node->GetNextSibling();
        node->ReplaceWithChildren();
        node = next;
    }
    return true;
}

// --- scanner ----------------------------------------------------------------------------------------------

bool KXMLParser::priSkipWhiteSpace()
{
    while (m_Pos < m_Text.size() && IsWhiteSpace(m_Text[m_Pos])) {
        if (m_Text[m_Pos] == u'\r')
            ++m_LineCount;
        if (priAtLast())
            return false;
        ++m_Pos;
    }
    return m_Pos < m_Text.size();
}

bool KXMLParser::priSkipTagStart()
{
    if (m_Pos >= m_Text.size() || m_Text[m_Pos] != u'<')
        return false;
    ++m_Pos;
    return !priAtLast();
}

bool KXMLParser::priSkipName()
{
    if (m_Pos >= m_Text.size())
        return false;
    m_ScanStart = m_Pos;
    while (IsNameChar(m_Text[m_Pos])) {
        if (priAtLast())
            return false;
        ++m_Pos;
    }
    m_ScanEnd = m_Pos;
    return true;
}

bool KXMLParser::priSkipEquals()
{
    if (m_Pos >= m_Text.size() || m_Text[m_Pos] != u'=')
        return false;
    ++m_Pos;
    return !priAtLast();
}

bool KXMLParser::priSkipQuotedString()
{
    if (m_Pos >= m_Text.size() || m_Text[m_Pos] != u'"')
        return false;
    size_t start = m_Pos + 1;
    size_t close = start;
    while (close < m_Text.size() && m_Text[close] != u'"')
        ++close;
    if (close >= m_Text.size())
        return false;
    m_ScanStart = start;
    m_ScanEnd = close;
    m_Pos = close + 1;
    return m_Text.size() - m_Pos >= 2;
}

bool KXMLParser::priSkipTagEnd(bool& emptyFlag)
{
    if (m_Pos >= m_Text.size())
        return false;
    if (m_Text[m_Pos] == u'>') {
        ++m_Pos;
        emptyFlag = false;
        return true;
    }
    if (m_Text[m_Pos] == u'/' && !priAtLast() && m_Text[m_Pos + 1] == u'>') {
        m_Pos += 2;
        emptyFlag = true;
        return true;
    }
    return false;
}

bool KXMLParser::priSkipEndTag(const KWString& name)
{
    std::u16string_view n = name.View();
    size_t need = 2 + n.size() + 1;
    if (m_Text.size() - m_Pos < need || m_Text[m_Pos] != u'<' || m_Text[m_Pos + 1] != u'/')
        return false;
    if (!std::equal(n.begin(), n.end(), m_Text.begin() + static_cast<std::ptrdiff_t>(m_Pos + 2)))
        return false;
    if (m_Text[m_Pos + 2 + n.size()] != u'>')
        return false;
    m_Pos += need;
    return true;
}

int KXMLParser::priSkipComment()
{
    if (m_Text.size() - m_Pos < 3)
        return 0;
    if (m_Text[m_Pos] != u'!')
        return 1;
    if (m_Text[m_Pos + 1] != u'-' || m_Text[m_Pos + 2] != u'-')
        return 0;
    for (size_t p = m_Pos + 3; p + 1 < m_Text.size(); ++p) {
        if (m_Text[p] == u'-' && m_Text[p + 1] == u'-') {
            if (p + 2 >= m_Text.size() || m_Text[p + 2] != u'>')
                return 0;
            m_Pos = p + 3;
            return 2;
        }
    }
    return 0;
}

KWString KXMLParser::priScanned() const
{
    return KWString(std::u16string_view(m_Text.data() + m_ScanStart, m_ScanEnd - m_ScanStart));
}

void KXMLParser::priTagError(const char* format, int tagCount) const
{
    // The formats are the fixed texts of the parser; the file name is data.
    std::string file = m_FileName.GetAscii();
    char buffer[2048];
    std::snprintf(buffer, sizeof buffer, format, file.c_str(), m_LineCount, tagCount);
    throw KExceptionXMLParser(buffer);
}

void KXMLParser::priPropError(const char* format, int tagCount, const KWString& tagName, int propNumber) const
{
    std::string file = m_FileName.GetAscii();
    std::string tag = tagName.GetAscii();
    char buffer[2048];
    std::snprintf(buffer, sizeof buffer, format, file.c_str(), m_LineCount, tagCount, tag.c_str(), propNumber);
    throw KExceptionXMLParser(buffer);
}

// --- parser -----------------------------------------------------------------------------------------------

void KXMLParser::priParseTag(KPropTree* parent, int& tagCount, int depth)
{
    ++tagCount;
    if (!priSkipWhiteSpace())
        priTagError("1st priSkipWhiteSpace() failed in priParseTag() while parsing File '%s' Line '%d' TagDepth '%d'",
                    tagCount);
    if (!priSkipTagStart())
        priTagError("priSkipTagStart() failed in priParseTag() while parsing File '%s' Line '%d' TagDepth '%d'",
                    tagCount);
    if (priSkipComment() == 2)
        return;
    if (!priSkipWhiteSpace())
        priTagError("2nd priSkipWhiteSpace() failed in priParseTag() while parsing File '%s' Line '%d' TagDepth '%d'",
                    tagCount);
    if (!priSkipName())
        priTagError("priSkipName() failed in priParseTag() while parsing File '%s' Line '%d' TagDepth '%d'", tagCount);
    if (depth >= kMaxDepth) {
        KNarrowString message("Elements nested deeper than %d levels in File '%s' Line '%d' TagDepth '%d'", kMaxDepth,
                              m_FileName.GetAscii(), m_LineCount, tagCount);
        throw KExceptionXMLParser(message.CStr());
    }

    KWString name = priScanned();
    KPropTree* node = new KPropTree(parent, name);
    if (!parent) {
        delete m_pRoot;  // a further top-level element replaces the earlier tree
        m_pRoot = node;
    }
    bool emptyFlag = false;
    priParseProps(node, emptyFlag, tagCount, name);
    if (emptyFlag)
        return;
    for (;;) {
        if (!priSkipWhiteSpace())
            priTagError(
                "3rd priSkipWhiteSpace() failed in priParseTag() while parsing File '%s' Line '%d' TagDepth '%d'",
                tagCount);
        if (priSkipEndTag(name))
            return;
        priParseTag(node, tagCount, depth + 1);
    }
}

void KXMLParser::priParseProps(KPropTree* node, bool& emptyFlag, int tagCount, const KWString& tagName)
{
    static constexpr std::u16string_view kFilePrefix = u"File_";
    static constexpr std::u16string_view kBuildPathPrefix = u"Build_Path";
    int propNumber = 1;
    for (;;) {
        if (priSkipTagEnd(emptyFlag)) {
            if (!emptyFlag && priAtLast())
                priPropError("Failed because at EOF before return from priParseProps() while parsing File '%s' Line "
                             "'%d' TagDepth '%d' TagName '%s' PropNumber '%d'",
                             tagCount, tagName, propNumber);
            return;
        }
        if (priAtLast())
            priPropError("Failed because at EOF in top of loop in priParseProps() while parsing File '%s' Line '%d' "
                         "TagDepth '%d' TagName '%s' PropNumber '%d'",
                         tagCount, tagName, propNumber);
        if (!priSkipWhiteSpace())
            priPropError("1st priSkipWhiteSpace() failed in priParseProps() while parsing File '%s' Line '%d' "
                         "TagDepth '%d' TagName '%s' PropNumber '%d'",
                         tagCount, tagName, propNumber);
        if (!priSkipName())
            priPropError("priSkipName() failed in priParseProps() while parsing File '%s' Line '%d' TagDepth '%d' "
                         "TagName '%s' PropNumber '%d'",
                         tagCount, tagName, propNumber);
        KWString key = priScanned();
        if (!priSkipWhiteSpace())
            priPropError("2nd priSkipWhiteSpace() failed in priParseProps() while parsing File '%s' Line '%d' "
                         "TagDepth '%d' TagName '%s' PropNumber '%d'",
                         tagCount, tagName, propNumber);
        if (!priSkipEquals())
            priPropError("priSkipEquals() failed in priParseProps() while parsing File '%s' Line '%d' TagDepth '%d' "
                         "TagName '%s' PropNumber '%d'",
                         tagCount, tagName, propNumber);
        if (!priSkipWhiteSpace())
            priPropError("3rd priSkipWhiteSpace() failed in priParseProps() while parsing File '%s' Line '%d' "
                         "TagDepth '%d' TagName '%s' PropNumber '%d'",
                         tagCount, tagName, propNumber);
        if (!priSkipQuotedString())
            priPropError("priSkipQuotedString() failed in priParseProps() while parsing File '%s' Line '%d' "
                         "TagDepth '%d' TagName '%s' PropNumber '%d'",
                         tagCount, tagName, propNumber);
        KWString value = priScanned();

        if (StartsWith(key, kFilePrefix)) {
            if (KIFile* file = priFindFile(value)) {
                KWString url;
                file->GetURL(url);
                file->Release();
                priAddReferencedFile(url);
            }
        }
        if (StartsWith(key, kBuildPathPrefix)) {
            KWString url;
            NativePathToURL(ExpandEnvironmentVariable(value, u"%"), url);
            priAddReferencedFile(url);
        }
        node->AddPair(key, value);
        if (!priSkipWhiteSpace())
            priPropError("4th priSkipWhiteSpace() failed in priParseProps() while parsing File '%s' Line '%d' "
                         "TagDepth '%d' TagName '%s' PropNumber '%d'",
                         tagCount, tagName, propNumber);
        ++propNumber;
    }
}
