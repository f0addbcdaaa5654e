#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "KNarrowString.h"
#include "KTextFunctions.h"
#include "KWString.h"

TEST(KWString, NarrowBytesWidenBySignExtension)
{
    KWString s("\xE9");
    ASSERT_EQ(s.GetLength(), 1u);
    EXPECT_EQ(s[0], 0xFFE9);
    EXPECT_STREQ(s.GetAscii(), "?");
    EXPECT_TRUE(s == "\xE9");
    EXPECT_STREQ(KWString(u"\x7F").GetAscii(), "?");
    EXPECT_STREQ(KWString(u"\x7E").GetAscii(), "~");
    EXPECT_EQ(KWString("abc")[3], 0);
    EXPECT_EQ(KWString("abc")[100], 0);
}

TEST(KWString, RangesAndAssignment)
{
    const KWChar* w = u"hello";
    EXPECT_EQ(KWString(w + 1, w + 3), KWString("ell"));
    EXPECT_TRUE(KWString(w + 1, w).IsEmpty());
    const char* n = "hello";
    EXPECT_EQ(KWString(n, n + 4), KWString("hello"));
    KWString s("abc");
    s = s.c_str();  // its own buffer keeps the text
    EXPECT_EQ(s, KWString("abc"));
    s = static_cast<const char*>(nullptr);
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_TRUE(s == "");
}

TEST(KWString, CharacterAppends)
{
    KWString s("ab");
    s += static_cast<char>(8);
    EXPECT_EQ(s, KWString("a"));
    KWString e;
    e += static_cast<KWChar>(8);
    EXPECT_TRUE(e.IsEmpty());
    e += static_cast<char>(0);
    EXPECT_TRUE(e.IsEmpty());
    e.AppendChar(8);
    EXPECT_EQ(e.GetLength(), 1u);
}

TEST(KWString, EditOperations)
{
    struct Case {
        size_t pos, count;
        const char* expected;
    } cases[] = {{2, 100, "ab"}, {7, 1, "abcdef"}, {1, 0, "abcdef"}, {6, 3, "abcdef"}, {0, 2, "cdef"}, {1, 2, "adef"}};
    for (auto& c : cases) {
        KWString s("abcdef");
        s.Erase(c.pos, c.count);
        EXPECT_EQ(s, KWString(c.expected)) << c.pos << "," << c.count;
    }
    KWString s("abc");
    s.Insert(u'X', 99);
    EXPECT_EQ(s, KWString("abcX"));
    s.Insert(u"12", 1);
    EXPECT_EQ(s, KWString("a12bcX"));
    s.Insert(u"", 0);
    s.RemoveFromEnd(2);
    EXPECT_EQ(s, KWString("a12b"));
    s.RemoveFromEnd(5);
    EXPECT_EQ(s, KWString("a12b"));
    KWString mixed(u"ABC\u00C9");
    mixed.ToLower();
    EXPECT_EQ(mixed, KWString(u"abc\u00C9"));
}

TEST(KWString, FormatByteSize)
{
    struct Case {
        KInt64 bytes;
        const char* text;
    } cases[] = {{1536, "1.5 KB"},       {0, "0 B"},          {-5, "0 B"},  {1023, "1.02e+03 B"},
                 {1048576, "1 MB"},      {1073741824, "1 GB"}, {1099511627776LL, "1 TB"},
                 {1099511627776LL * 2048, "2.05e+03 TB"}};
    for (auto& c : cases) {
        KWString s;
        s.FormatByteSize(c.bytes);
        EXPECT_EQ(s, KWString(c.text)) << c.bytes;
    }
}

TEST(KWString, SplitFindAndCompare)
{
    KWString head("old"), tail("old");
    EXPECT_TRUE(KWString("key=value").Split(u"=", head, tail));
    EXPECT_EQ(head, KWString("key"));
    EXPECT_EQ(tail, KWString("value"));
    head = "old";
    tail = "old";
    EXPECT_FALSE(KWString("abc").Split(u"=", head, tail));
    EXPECT_TRUE(head.IsEmpty() && tail.IsEmpty());
    head = "old";
    EXPECT_FALSE(KWString().Split(u"=", head, tail));
    EXPECT_EQ(head, KWString("old"));

    KWString s("a/b/c");
    EXPECT_EQ(s.Find(KWString("/b")), s.c_str() + 1);
    EXPECT_EQ(s.Find(KWString("x")), nullptr);
    EXPECT_EQ(s.Find(KWString()), nullptr);

    EXPECT_EQ(KWString("ABC").CompareNoCase(u"abc"), 0);
    EXPECT_EQ(KWString("ABC").CompareNoCase("abc"), 0);
    EXPECT_NE(KWString(u"\u00C9").CompareNoCase(u"\u00E9"), 0);
    EXPECT_LT(KWString("abc").CompareNoCase("abd"), 0);
    EXPECT_TRUE(EqualsNoCase(KWString("Photos"), KWString("PHOTOS")));
    EXPECT_EQ(WideStrCompareNoCase(u"aBc", "AbC"), 0);
}

TEST(WideFunctions, CStringHelpers)
{
    const KWChar a[] = {1, 0, 5}, b[] = {1, 0, 6};
    EXPECT_EQ(WideStrCompareN(a, b, 2), 0);
    EXPECT_EQ(WideStrCompareN(a, b, 3), -1);  // does not stop at the 0 unit
    EXPECT_EQ(WideStrCompareN(a, b, 0), 0);
    const KWChar big[] = {0xFFFF, 0}, small[] = {1, 0};
    EXPECT_EQ(WideStrCompareN(big, small, 1), 1);
    EXPECT_EQ(SafeWideStrLen(nullptr), 0u);
    EXPECT_EQ(SafeWideStrLen(u"abc"), 3u);
    KWChar copy[4];
    WideStrCopy(copy, u"xyz");
    EXPECT_EQ(KWString(copy), KWString("xyz"));
    char out[4];
    WideToAscii(u"ab\u00E9cdef", out, sizeof out);
    EXPECT_STREQ(out, "ab?");
}

TEST(LocaleCompareNoCase, SortsNamesSensibly)
{
    EXPECT_EQ(LocaleCompareNoCase(KWString("photo"), KWString("PHOTO")), 0);
    EXPECT_EQ(LocaleCompareNoCase(KWString("apple"), KWString("Banana")), -1);
    EXPECT_EQ(LocaleCompareNoCase(KWString("zebra"), KWString("Apple")), 1);
    // Accented names sort beside their base letter, not after 'z'.
    EXPECT_EQ(LocaleCompareNoCase(KWString(u"\u00C9t\u00E9"), KWString("zoo")), -1);
    EXPECT_EQ(LocaleCompareNoCase(KWString(u"\u00E9t\u00E9"), KWString(u"\u00C9T\u00C9")), 0);
    std::u16string longName(20000, u'a');
    EXPECT_EQ(LocaleCompareNoCase(KWString(longName), KWString(longName)), 0);
}

TEST(KNarrowString, FormattingAndAssignment)
{
    EXPECT_STREQ(KNarrowString("n=%d", 5).CStr(), "n=5");
    KNarrowString s;
    s = "n=%d";
    EXPECT_STREQ(s.CStr(), "n=%d");
    EXPECT_STREQ(KNarrowString("plain").CStr(), "plain");
    std::string big(20000, 'y');
    EXPECT_EQ(KNarrowString("%s!", big.c_str()).GetLength(), 20001u);
    s += "x";
    s += 'y';
    EXPECT_STREQ(s.CStr(), "n=%dxy");
    EXPECT_STREQ(KNarrowString().CStr(), "");
}

TEST(KNarrowString, CompareGetAtAndBuffer)
{
    KNarrowString high;
    high = "\xE9";
    for (int c = 1; c < 0x80; ++c) {
        char t[2] = {static_cast<char>(c), 0};
        EXPECT_EQ(high.Compare(t), 1);
    }
    KNarrowString abc;
    abc = "abc";
    EXPECT_EQ(abc.Compare("abc"), 0);
    EXPECT_EQ(abc.Compare("abd"), -1);
    EXPECT_EQ(abc.Compare("ab"), 1);
    EXPECT_EQ(abc.GetAt(2), 'c');
    EXPECT_THROW(abc.GetAt(3), std::out_of_range);
    try {
        abc.GetAt(3);
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "invalid string position");
    }
    char* buf = abc.GetBuffer(10);
    std::snprintf(buf, 11, "%s", "0123");
    EXPECT_EQ(abc.GetLength(), 4u);
    EXPECT_STREQ(abc.CStr(), "0123");
}

TEST(TextFunctions, UnicodeAndConversions)
{
    EXPECT_TRUE(IsUnicodeOS());
    const KWChar text[] = {u'a', 0x00E9, 0xD83D, 0xDE00, 0};  // a, e-acute, an emoji (surrogate pair)
    char* ansi = NewAnsiFromWide(text);
    ASSERT_NE(ansi, nullptr);
    EXPECT_STREQ(ansi, "a\xC3\xA9\xF0\x9F\x98\x80");
    KWChar* back = NewWideFromAnsi(ansi);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(KWString(back), KWString(text));
    delete[] ansi;
    delete[] back;
    const KWChar lone[] = {u'a', 0xD800, 0};
    EXPECT_EQ(NewAnsiFromWide(lone), nullptr);
    EXPECT_EQ(NewWideFromAnsi("\xFF\xFE"), nullptr);
    EXPECT_EQ(NewWideFromAnsi("\xC0\xAF"), nullptr);  // overlong
    EXPECT_EQ(NewWideFromAnsi("\xE2\x82"), nullptr);  // truncated
}

TEST(TextFunctions, PathBytesRoundTrip)
{
    std::string name = "caf\xC3\xA9-\xFF\x80-x";
    KWString w = Utf8ToWide(name);
    EXPECT_EQ(WideToUtf8(w), name);
}

TEST(TextFunctions, GetFileExtension)
{
    struct Case {
        const char* name;
        const char* ext;
        bool result;
    } cases[] = {{"a.tar.gz", ".gz", true}, {"README", "", false}, {".profile", ".profile", true}, {"", "", false},
                 {"x.", ".", true}};
    for (auto& c : cases) {
        KWString ext("junk");
        EXPECT_EQ(GetFileExtension(KWString(c.name), ext), c.result) << c.name;
        EXPECT_EQ(ext, KWString(c.ext)) << c.name;
    }
}
