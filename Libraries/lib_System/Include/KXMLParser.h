#pragma once
// The reader of the system's XML files (UI scripts, preferences, state, settings, install lists) into a
// KPropTree. The dialect is a strict subset of XML: elements with double-quoted attributes, nested elements and
// comments; no character data, entities or processing instructions. An element becomes a node, each attribute
// a pair in document order. "xi:include" elements are expanded; every file the parse touched is listed.
// Text is 8-bit (each byte sign-extended to a unit) or UTF-16 with a byte-order mark (FF FE or FE FF).
//
// One thread uses a parser at a time. Conditional sections are left to KPropTree::Preprocess.
#include <vector>

#include "KIFolder.h"
#include "KPropTree.h"

class KXMLParser {
public:
    KXMLParser() = default;
    ~KXMLParser();
    KXMLParser(const KXMLParser&) = delete;
    KXMLParser& operator=(const KXMLParser&) = delete;

    // Reads fileName in folder (or along the search path); the root, which the caller then owns, or null for
    // a missing or empty file or a failed include. Throws KExceptionXMLParser on syntax errors.
    KPropTree* Load(KIFolder* folder, const KWString& fileName);

    // URLs of every file this parser's loads touched: the files read, included files and the files named by
    // "File_" and "Build_Path" attributes. Grows as needed.
    const std::vector<KWString>& GetReferencedFiles() const { return m_ReferencedFiles; }
    // Folder URLs tried in order when a file is not found where it was asked for.
    const std::vector<KWString>& GetSearchPath() const { return m_SearchPath; }
    void AddSearchPath(const KWString& folderURL) { m_SearchPath.push_back(folderURL); }
    // URL of the folder of the file being parsed, ending "/".
    const KWString& GetCurrentFolderURL() const { return m_CurrentFolderURL; }

    // Deepest element nesting accepted; deeper input is refused rather than exhausting the stack.
    static constexpr int kMaxDepth = 1000;

private:
    KIFile* priFindFile(const KWString& name);
    void priAddReferencedFile(const KWString& url);
    bool priProcessIncludes(KIFolder* folder, KPropTree* node);

    void priParseTag(KPropTree* parent, int& tagCount, int depth);
    void priParseProps(KPropTree* node, bool& emptyFlag, int tagCount, const KWString& tagName);

    bool priAtLast() const { return m_Pos + 1 >= m_Text.size(); }
    bool priSkipWhiteSpace();
    bool priSkipTagStart();
    bool priSkipName();
    bool priSkipEquals();
    bool priSkipQuotedString();
    bool priSkipTagEnd(bool& emptyFlag);
    bool priSkipEndTag(const KWString& name);
    int priSkipComment();
    KWString priScanned() const;

    [[noreturn]] void priTagError(const char* format, int tagCount) const;
    [[noreturn]] void priPropError(const char* format, int tagCount, const KWString& tagName, int propNumber) const;

    KWString m_FileName;
    KWString m_CurrentFolderURL;
    std::vector<KWChar> m_Text;  // the whole file, one unit per character
    size_t m_Pos = 0;
    size_t m_ScanStart = 0;  // the last scanned name or quoted value
    size_t m_ScanEnd = 0;
    int m_LineCount = 0;
    KPropTree* m_pRoot = nullptr;
    std::vector<KWString> m_ReferencedFiles;
    std::vector<KWString> m_SearchPath;
    std::vector<KWString> m_OpenChain;  // URL and name of the files being read here and by the including parsers
};

// Writes the tree of root (and root's following siblings) into fileName in folder: UTF-16 little-endian with
// a byte-order mark, CR LF line ends, a tab per level. The file is written beside its target first and put in
// place when complete. Nothing happens when the file cannot be created. Throws KExceptionXMLParser (nothing
// written) for a tree the reader could not read back (a value holding a double quote, a name or key with a
// character outside 0-9 a-z A-Z - _ : .), and KExceptionFileWrite (the old file kept) when writing fails.
void SaveXMLFile(KPropTree* root, KIFolder* folder, const KWString& fileName);
// Writes node and its following siblings at depth (the byte-order mark first at depth 0); false when a write
// failed.
bool WriteXMLNodes(KPropTree* node, KIFile* file, int depth);

// Expands the first reference delimited by the delimiter ("%NAME%") from the environment (nothing when the
// variable is not set).
KWString ExpandEnvironmentVariable(const KWString& text, const KWString& delimiter);
