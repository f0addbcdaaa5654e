// The XML reader and writer.
#include <gtest/gtest.h>

#include <memory>

#include "KException.h"
#include "KXMLParser.h"
#include "LumoPropTreePicture.h"
#include "StorageFixture.h"

namespace fs = std::filesystem;
using lumotest::PropTreePicture;

namespace {

std::string Utf16LE(const std::u16string& text, bool mark = true)
{
    std::string out = mark ? std::string("\xff\xfe", 2) : std::string();
    for (char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

std::string Utf16BE(const std::u16string& text)
{
    std::string out("\xfe\xff", 2);
    for (char16_t c : text) {
        out += static_cast<char>(c >> 8);
        out += static_cast<char>(c & 0xFF);
    }
    return out;
}

class XMLTest : public StorageTest {
protected:
    void SetUp() override
    {
        StorageTest::SetUp();
        KWString leaf;
        m_Folder.reset(OpenFolderByURL(RootURL(), leaf, false));
        ASSERT_TRUE(m_Folder);
    }
    void TearDown() override
    {
        m_Folder.reset();
        StorageTest::TearDown();
    }
    // Parses bytes written as name; the picture of the tree, "null", or "throw: message".
    std::string Parse(const std::string& bytes, const std::string& name = "t.xml")
    {
        lumotest::WriteText(Root() / name, bytes);
        KXMLParser parser;
        try {
            std::unique_ptr<KPropTree> root(parser.Load(m_Folder.get(), Utf8ToWide(name)));
            return root ? PropTreePicture(root.get()) : "null";
        } catch (const KExceptionXMLParser& e) {
            return std::string("throw: ") + e.GetMessage();
        }
    }
    KFolderHolder m_Folder;
};

}  // namespace

TEST_F(XMLTest, ReadsTheDialect)
{
    struct Case {
        std::string bytes;
        std::string tree;
    } cases[] = {
        {Utf16LE(u"<A/>\r\n"), "A"},
        {"<A x=\"1\"></A>", "A[x=1]"},
        {"<A x=\"1\" y = \"\" ><B/><!-- note --><C z=\"&amp;\"/></A>", "A[x=1][y=](B C[z=&amp;])"},
        {"<!-- first --><A/>", "A"},
        {"<!-- only --> <!-- comments -->\n", "null"},
        {"<A/>", "A"},
        {"<A></A>   \r\n\r\n", "A"},
        {"<A/><B/>", "B"},  // a further top-level element replaces the first
        {Utf16BE(u"<A x=\"\u3042\"><B/></A>\r\n"), "A[x=\u3042](B)"},
        {Utf16LE(u"<A x=\"\u3042\"><B/></A>\r\n"), "A[x=\u3042](B)"},
        {"", "null"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Parse(c.bytes), c.tree) << c.bytes;

    // 8-bit text widens each byte with its sign, as the narrow strings do.
    lumotest::WriteText(Root() / "hi.xml", "<A v=\"\xe9\"/>");
    KXMLParser parser;
    std::unique_ptr<KPropTree> root(parser.Load(m_Folder.get(), u"hi.xml"));
    ASSERT_TRUE(root);
    EXPECT_EQ(root->GetFirstPair()->GetValue().Str(), std::u16string(1, u'\uffe9'));
}

TEST_F(XMLTest, SyntaxErrorsSayWhere)
{
    const std::string at = "while parsing File 't.xml' Line '";
    struct Case {
        std::string bytes;
        std::string message;
    } cases[] = {
        {"<A x='1'/>", "priSkipQuotedString() failed in priParseProps() " + at + "0' TagDepth '1' TagName 'A' PropNumber '1'"},
        {"<A>text</A>", "priSkipTagStart() failed in priParseTag() " + at + "0' TagDepth '2'"},
        {"<?xml version=\"1.0\"?>\r\n<A/>",
         "priSkipEquals() failed in priParseProps() " + at + "0' TagDepth '1' TagName '' PropNumber '1'"},
        {"\xef\xbb\xbf<A/>", "priSkipTagStart() failed in priParseTag() " + at + "0' TagDepth '1'"},
        {"<A>\r\n\r\n<B></A>", "priSkipEquals() failed in priParseProps() " + at + "2' TagDepth '3' TagName '' PropNumber '1'"},
        {"<A></A >", "priSkipEquals() failed in priParseProps() " + at + "0' TagDepth '2' TagName '' PropNumber '1'"},
        {"<A x=\"1\" y=\"2\" z>", "priSkipEquals() failed in priParseProps() " + at + "0' TagDepth '1' TagName 'A' PropNumber '3'"},
        {"<A><B/>  ", "3rd priSkipWhiteSpace() failed in priParseTag() " + at + "0' TagDepth '2'"},
        {"<A>", "Failed because at EOF before return from priParseProps() " + at + "0' TagDepth '1' TagName 'A' PropNumber '1'"},
        {"<A x=\"1\"", "priSkipQuotedString() failed in priParseProps() " + at + "0' TagDepth '1' TagName 'A' PropNumber '1'"},
        {"<A x=\"1\"  ", "4th priSkipWhiteSpace() failed in priParseProps() " + at + "0' TagDepth '1' TagName 'A' PropNumber '1'"},
        {"<A x", "priSkipName() failed in priParseProps() " + at + "0' TagDepth '1' TagName 'A' PropNumber '1'"},
        {"<A   x", "priSkipName() failed in priParseProps() " + at + "0' TagDepth '1' TagName 'A' PropNumber '1'"},
        {"<A x=  ", "3rd priSkipWhiteSpace() failed in priParseProps() " + at + "0' TagDepth '1' TagName 'A' PropNumber '1'"},
        {"<A x =", "priSkipEquals() failed in priParseProps() " + at + "0' TagDepth '1' TagName 'A' PropNumber '1'"},
        {"<A x  ", "2nd priSkipWhiteSpace() failed in priParseProps() " + at + "0' TagDepth '1' TagName 'A' PropNumber '1'"},
        {"<ABC", "priSkipName() failed in priParseTag() " + at + "0' TagDepth '1'"},
        {"<  ", "2nd priSkipWhiteSpace() failed in priParseTag() " + at + "0' TagDepth '1'"},
        {"   ", "1st priSkipWhiteSpace() failed in priParseTag() " + at + "0' TagDepth '1'"},
        {"<A   ", "1st priSkipWhiteSpace() failed in priParseProps() " + at + "0' TagDepth '1' TagName 'A' PropNumber '1'"},
        {"<A x=\"1\" y", "Failed because at EOF in top of loop in priParseProps() " + at + "0' TagDepth '1' TagName 'A' PropNumber '2'"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Parse(c.bytes), "throw: " + c.message) << c.bytes;
}

TEST_F(XMLTest, DeepNestingIsRefused)
{
    std::string deep;
    for (int i = 0; i < 5000; ++i)
        deep += "<a>";
    std::string result = Parse(deep);
    EXPECT_EQ(result.rfind("throw: Elements nested deeper than 1000 levels", 0), 0u) << result;
}

TEST_F(XMLTest, IncludesMergeAndFailCleanly)
{
    fs::create_directories(Root() / "parts");
    lumotest::WriteText(Root() / "main.xml",
                        "<UI><HEAD/><xi:include href=\"parts/b.xml\"/><TAIL/><BOX><xi:include href=\"c.xml\"/></BOX></UI>");
    lumotest::WriteText(Root() / "parts/b.xml", "<ROOT name=\"dropped\"><B1/><xi:include href=\"c.xml\"/><B2/></ROOT>");
    lumotest::WriteText(Root() / "c.xml", "<ROOT><C/></ROOT>");
    KXMLParser parser;
    std::unique_ptr<KPropTree> root(parser.Load(m_Folder.get(), u"main.xml"));
    ASSERT_TRUE(root);
    EXPECT_EQ(PropTreePicture(root.get()), "UI(HEAD B1 C B2 TAIL BOX(C))");
    // A file reports the name it was opened by as its last component ("parts/b.xml", escaped).
    std::vector<std::string> files;
    for (const KWString& u : parser.GetReferencedFiles())
        files.push_back(Ascii(u));
    EXPECT_EQ(files, (std::vector<std::string>{Ascii(URL("main.xml")), Ascii(URL("parts%002Fb.xml")), Ascii(URL("c.xml"))}));
    EXPECT_EQ(parser.GetCurrentFolderURL(), RootURL());

    EXPECT_EQ(Parse("<UI><xi:include href=\"missing.xml\"/></UI>"), "null");
    EXPECT_EQ(Parse("<UI><xi:include href=\"c.xml\"><X/></xi:include></UI>"),
              "throw: Failed include tag should NOT have children in File 't.xml'");
    EXPECT_EQ(Parse("<UI><xi:include file=\"c.xml\"/></UI>"),
              "throw: Failed include did NOT have required property of href in File 't.xml'");
    // An include at the top has nowhere to put what it brings.
    EXPECT_EQ(Parse("<xi:include href=\"c.xml\"/>"), "null");
    // An included root without children: the include just goes.
    lumotest::WriteText(Root() / "empty.xml", "<ROOT/>");
    EXPECT_EQ(Parse("<UI><A/><xi:include href=\"empty.xml\"/><B/></UI>"), "UI(A B)");
}

TEST_F(XMLTest, CircularIncludesFail)
{
    EXPECT_EQ(Parse("<UI><xi:include href=\"t.xml\"/></UI>"), "null");
    lumotest::WriteText(Root() / "x.xml", "<R><xi:include href=\"y.xml\"/></R>");
    lumotest::WriteText(Root() / "y.xml", "<R><xi:include href=\"x.xml\"/></R>");
    EXPECT_EQ(Parse("<UI><xi:include href=\"x.xml\"/></UI>"), "null");
    // The same file included twice, side by side, is no circle.
    lumotest::WriteText(Root() / "leaf.xml", "<R><L/></R>");
    EXPECT_EQ(Parse("<UI><xi:include href=\"leaf.xml\"/><xi:include href=\"leaf.xml\"/></UI>"), "UI(L L)");
}

TEST_F(XMLTest, SearchPathFileAndBuildPathAttributes)
{
    fs::create_directories(Root() / "scripts");
    fs::create_directories(Root() / "images");
    lumotest::WriteText(Root() / "scripts/ui.xml", "<UI><IMG File_Src=\"a.png\"/><P Build_Path=\"%LUMO_TEST_BASE%\\x\"/></UI>");
    lumotest::WriteText(Root() / "images/a.png", "png");
    KXMLParser parser;
    parser.AddSearchPath(URL("images/"));
    parser.AddSearchPath(URL("scripts/"));
    setenv("LUMO_TEST_BASE", Ascii(Native("scripts")).c_str(), 1);
    std::unique_ptr<KPropTree> root(parser.Load(m_Folder.get(), u"ui.xml"));
    unsetenv("LUMO_TEST_BASE");
    ASSERT_TRUE(root);
    EXPECT_EQ(PropTreePicture(root.get()), "UI(IMG[File_Src=a.png] P[Build_Path=%LUMO_TEST_BASE%\\x])");
    std::vector<std::string> files;
    for (const KWString& u : parser.GetReferencedFiles())
        files.push_back(Ascii(u));
    EXPECT_EQ(files, (std::vector<std::string>{Ascii(URL("scripts/ui.xml")), Ascii(URL("images/a.png")),
                                               Ascii(URL("scripts/x"))}));
    EXPECT_EQ(parser.GetSearchPath().size(), 3u);  // the folder asked first was added

    // The list grows as far as the parse needs.
    std::string many = "<UI>";
    for (int i = 0; i < 1100; ++i)
        many += "<F File_x=\"a.png\"/>";
    many += "</UI>";
    lumotest::WriteText(Root() / "scripts/many.xml", many);
    KXMLParser big;
    big.AddSearchPath(URL("images/"));
    big.AddSearchPath(URL("scripts/"));
    std::unique_ptr<KPropTree> tree(big.Load(m_Folder.get(), u"many.xml"));
    ASSERT_TRUE(tree);
    EXPECT_EQ(big.GetReferencedFiles().size(), 1101u);
}

TEST(ExpandEnvironment, FirstReferenceOnly)
{
    setenv("LUMO_X", "value", 1);
    unsetenv("LUMO_UNSET");
    struct Case {
        const char16_t* in;
        const char16_t* out;
    } cases[] = {
        {u"a%LUMO_X%b", u"avalueb"},
        {u"%LUMO_X%%LUMO_X%", u"value%LUMO_X%"},
        {u"%LUMO_UNSET%\\x", u"\\x"},
        {u"50%", u"50%"},
        {u"plain", u"plain"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExpandEnvironmentVariable(c.in, u"%").Str(), std::u16string(c.out));
    unsetenv("LUMO_X");
}

TEST_F(XMLTest, WritesTheLayout)
{
    std::unique_ptr<KPropTree> root(new KPropTree(nullptr, "STATE"));
    KPropTree* child = new KPropTree(root.get(), "PERDATA");
    child->AddPair("Name", "Win");
    new KPropTree(root.get(), "EMPTY");
    SaveXMLFile(root.get(), m_Folder.get(), u"state.xml");
    EXPECT_EQ(lumotest::ReadText(Root() / "state.xml"),
              Utf16LE(u"<STATE>\r\n\t<PERDATA Name=\"Win\" />\r\n\t<EMPTY/>\r\n</STATE>\r\n"));
    // No temporary file is left beside it.
    int entries = 0;
    for (auto& e : fs::directory_iterator(Root()))
        entries += e.path().filename() != "state.xml";
    EXPECT_EQ(entries, 0);
}

TEST_F(XMLTest, WrittenFilesReadBackAndPassAnXMLChecker)
{
    std::unique_ptr<KPropTree> root(new KPropTree(nullptr, "PREFS"));
    KPropTree* a = new KPropTree(root.get(), "WINDOW");
    a->AddPair("Title", "Caf\xc3\xa9 & <co>");
    a->AddPair("x", "12");
    KPropTree* b = new KPropTree(a, "LIST");
    b->AddPair(KWString(u"Text"), KWString(u"\u65e5\u672c"));
    new KPropTree(b, "ITEM");
    new KPropTree(root.get(), "OTHER");
    SaveXMLFile(root.get(), m_Folder.get(), u"prefs.xml");
    // Written again over the first: replaced in one piece.
    SaveXMLFile(root.get(), m_Folder.get(), u"prefs.xml");

    KXMLParser parser;
    std::unique_ptr<KPropTree> back(parser.Load(m_Folder.get(), u"prefs.xml"));
    ASSERT_TRUE(back);
    EXPECT_EQ(PropTreePicture(back.get()), PropTreePicture(root.get()));

    // Plain values (no "&" or "<", which this dialect keeps as written) make a well-formed XML document.
    KPropPair* title = a->FindPair(u"Title");
    a->RemovePair(title);
    SaveXMLFile(root.get(), m_Folder.get(), u"plain.xml");
    ASSERT_EQ(lumotest::RunCommand("command -v xmllint >/dev/null"), 0) << "xmllint is needed";
    std::string checked = lumotest::CommandOutput("iconv -f UTF-16 -t UTF-8 '" + (Root() / "plain.xml").string() +
                                                  "' | xmllint --noout - 2>&1 && echo ok");
    EXPECT_EQ(checked, "ok\n");
}

TEST_F(XMLTest, UnreadableTreesAreRefusedAndTheOldFileKept)
{
    lumotest::WriteText(Root() / "keep.xml", "old");
    struct Case {
        const char* key;
        const char* value;
        const char* name;
    } cases[] = {
        {"Title", "say \"cheese\"", "A"},
        {"two words", "x", "A"},
        {"k", "v", "bad name"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<KPropTree> root(new KPropTree(nullptr, "ROOT"));
        KPropTree* n = new KPropTree(root.get(), c.name);
        n->AddPair(c.key, c.value);
        EXPECT_THROW(SaveXMLFile(root.get(), m_Folder.get(), u"keep.xml"), KExceptionXMLParser) << c.key;
        EXPECT_EQ(lumotest::ReadText(Root() / "keep.xml"), "old");
    }
    // A file that cannot be created: nothing happens.
    std::unique_ptr<KPropTree> root(new KPropTree(nullptr, "ROOT"));
    SaveXMLFile(root.get(), m_Folder.get(), u"nofolder\\x.xml");
    EXPECT_FALSE(fs::exists(Root() / "nofolder"));
    // A read-only file is not replaced.
    KFileInfo ro;
    ro.flags = KFILEINFO_READONLY;
    SetReadOnlyByURL(URL("keep.xml"), &ro);
    EXPECT_THROW(SaveXMLFile(root.get(), m_Folder.get(), u"keep.xml"), KExceptionFileWrite);
    EXPECT_EQ(lumotest::ReadText(Root() / "keep.xml"), "old");
}
