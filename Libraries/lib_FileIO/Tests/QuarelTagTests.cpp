#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "KQuarelTag.h"

namespace {
uint32_t Word(const std::vector<uint8_t>& form, size_t at)
{
    return form[at] | (form[at + 1] << 8) | (form[at + 2] << 16) | (static_cast<uint32_t>(form[at + 3]) << 24);
}

void PutWord(std::vector<uint8_t>& form, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        form[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> Form(KQuarelTag& tag, bool scramble = false)
{
    std::vector<uint8_t> form;
    EXPECT_TRUE(tag.GetBuffer(form, scramble));
    return form;
}
}  // namespace

TEST(KQuarelTag, KeysAreFourLettersWithTheFirstInTheHighByte)
{
    EXPECT_EQ(KQuarelKey("lens"), 0x6C656E73u);
    EXPECT_EQ(KQuarelKey("ver1"), KQuarelTag::kVersion1);
}

TEST(KQuarelTag, KeyTableGivesTheFixedTypes)
{
    struct Case {
        uint32_t key;
        int type;
    } cases[] = {
        {KQuarelKey("lens"), 3},   {KQuarelKey("focl"), 2},  {KQuarelKey("issd"), 1}, {KQuarelKey("rawh"), 4},
        {KQuarelKey("exsu"), 1},   {KQuarelKey("exst"), 3},  {0x64697368, 4},         {0x64697369, 1},
        {0x64697368 + 15, 1},      {0x64697368 + 31, 3},     {0x64697407, 5},         {0x64697408, 0},
        {0x64697367, 0},           {KQuarelKey("xxxx"), 0},  {0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KQuarelTag::GetKeyType(c.key), c.type) << std::hex << c.key;
    int known = 0;
    for (uint32_t k = 0x64697368; k < 0x64697368 + 200; ++k)
        known += KQuarelTag::GetKeyType(k) != 0;
    EXPECT_EQ(known, 160);
}

TEST(KQuarelTag, SettersRefuseUnknownKeysAndReplaceExistingItems)
{
    KQuarelTag tag;
    EXPECT_FALSE(tag.SetInt(KQuarelKey("zzzz"), 1));
    EXPECT_FALSE(tag.SetString(KQuarelKey("zzzz"), "x"));
    EXPECT_TRUE(tag.GetItems().empty());

    EXPECT_TRUE(tag.SetString(KQuarelKey("came"), "first"));
    EXPECT_TRUE(tag.SetString(KQuarelKey("came"), "second value"));
    EXPECT_TRUE(tag.SetInt(KQuarelKey("issd"), -7));
    EXPECT_EQ(tag.GetItems().size(), 2u);
    KNarrowString text;
    ASSERT_TRUE(tag.GetString(KQuarelKey("came"), &text));
    EXPECT_STREQ(text.CStr(), "second value");
    int32_t value = 0;
    ASSERT_TRUE(tag.GetInt(KQuarelKey("issd"), &value));
    EXPECT_EQ(value, -7);
    EXPECT_FALSE(tag.GetInt(KQuarelKey("imgn"), &value));
}

TEST(KQuarelTag, EmptyBlockIsSixtyEightBytes)
{
    KQuarelTag tag;
    auto form = Form(tag);
    ASSERT_EQ(form.size(), 68u);
    EXPECT_EQ(Word(form, 0), 0x76657231u);
    EXPECT_EQ(Word(form, 4), 68u);
    EXPECT_EQ(Word(form, 8), 0u);
    EXPECT_EQ(Word(form, 64), 0u);
}

TEST(KQuarelTag, LayoutOfItemsFollowsTheDirectory)
{
    KQuarelTag tag;
    tag.SetString(KQuarelKey("came"), "12345");
    auto one = Form(tag);
    ASSERT_EQ(one.size(), 88u);  // 68 + 12 + 8
    EXPECT_EQ(Word(one, 64), 1u);
    EXPECT_EQ(Word(one, 68), KQuarelKey("came"));
    EXPECT_EQ(Word(one, 72), 80u);
    EXPECT_EQ(Word(one, 76), 8u);
    EXPECT_EQ(std::memcmp(one.data() + 80, "12345\0\0\0", 8), 0);
    // The key's bytes appear in reverse letter order.
    EXPECT_EQ(std::memcmp(one.data() + 68, "emac", 4), 0);

    tag.SetInt(KQuarelKey("imgn"), 0x01020304);
    tag.SetDouble(KQuarelKey("focl"), 50.0);
    auto three = Form(tag);
    ASSERT_EQ(three.size(), 68u + 36 + 8 + 4 + 8);
    EXPECT_EQ(Word(three, 68 + 12 + 4), 104u + 8);  // second item after the first's 8 bytes
    EXPECT_EQ(Word(three, 68 + 24 + 4), 104u + 12);
    EXPECT_EQ(Word(three, 112), 0x01020304u);
    double d;
    std::memcpy(&d, three.data() + 116, 8);
    EXPECT_EQ(d, 50.0);
}

TEST(KQuarelTag, ScramblingKeepsTheHeaderAndIsItsOwnInverse)
{
    KQuarelTag tag;
    tag.SetString(KQuarelKey("lens"), "a lens name of some length");
    tag.SetInt(KQuarelKey("imgn"), 42);
    auto plain = Form(tag, false);
    auto scrambled = Form(tag, true);
    ASSERT_EQ(plain.size(), scrambled.size());
    EXPECT_EQ(Word(scrambled, 8), 1u);
    EXPECT_EQ(std::memcmp(plain.data() + 12, scrambled.data() + 12, 52), 0);
    EXPECT_NE(std::memcmp(plain.data() + 64, scrambled.data() + 64, plain.size() - 64), 0);
    std::vector<uint8_t> again = scrambled;
    KQuarelTag::Scramble(again.data(), again.size());
    EXPECT_EQ(std::memcmp(again.data() + 64, plain.data() + 64, plain.size() - 64), 0);

    KQuarelTag back;
    ASSERT_TRUE(back.SetBuffer(scrambled.data(), scrambled.size()));
    KNarrowString text;
    ASSERT_TRUE(back.GetString(KQuarelKey("lens"), &text));
    EXPECT_STREQ(text.CStr(), "a lens name of some length");
    int32_t n;
    ASSERT_TRUE(back.GetInt(KQuarelKey("imgn"), &n));
    EXPECT_EQ(n, 42);
}

TEST(KQuarelTag, RoundTripKeepsEveryTypeAndReserialisesToTheSameBytes)
{
    KQuarelTag tag;
    tag.SetString(KQuarelKey("sfsp"), "5.6");
    tag.SetDouble(KQuarelKey("excp"), -0.7);
    tag.SetInt(KQuarelKey("clsp"), 3);
    auto form = Form(tag);
    // An integer array item ('rawh') added by hand.
    std::vector<uint8_t> withArray(form.size() + 12 + 8);
    const uint32_t n = 4;
    std::memcpy(withArray.data(), form.data(), 64);
    PutWord(withArray, 4, static_cast<uint32_t>(withArray.size()));
    PutWord(withArray, 64, n);
    uint32_t dataStart = 68 + 12 * n;
    for (uint32_t i = 0; i < 3; ++i) {
        PutWord(withArray, 68 + 12 * i, Word(form, 68 + 12 * i));
        PutWord(withArray, 72 + 12 * i, Word(form, 72 + 12 * i) + 12);
        PutWord(withArray, 76 + 12 * i, Word(form, 76 + 12 * i));
    }
    std::memcpy(withArray.data() + dataStart, form.data() + 68 + 36, form.size() - 68 - 36);
    const uint32_t arrayAt = static_cast<uint32_t>(withArray.size() - 8);
    PutWord(withArray, 68 + 36, KQuarelKey("rawh"));
    PutWord(withArray, 72 + 36, arrayAt);
    PutWord(withArray, 76 + 36, 8);
    PutWord(withArray, arrayAt, 11);
    PutWord(withArray, arrayAt + 4, 22);

    KQuarelTag back;
    ASSERT_TRUE(back.SetBuffer(withArray.data(), withArray.size()));
    ASSERT_EQ(back.GetItems().size(), 4u);
    double d;
    ASSERT_TRUE(back.GetDouble(KQuarelKey("excp"), &d));
    EXPECT_EQ(d, -0.7);
    auto again = Form(back);
    EXPECT_EQ(again, withArray);
}

TEST(KQuarelTag, EmptyArrayItemRoundTrips)
{
    KQuarelTag empty;
    auto form = Form(empty);
    ASSERT_EQ(form.size(), 68u);
    form.resize(68 + 12);
    PutWord(form, 4, static_cast<uint32_t>(form.size()));
    PutWord(form, 64, 1);
    PutWord(form, 68, KQuarelKey("rawh"));
    PutWord(form, 72, static_cast<uint32_t>(form.size()));
    PutWord(form, 76, 0);

    KQuarelTag back;
    ASSERT_TRUE(back.SetBuffer(form.data(), form.size()));
    ASSERT_EQ(back.GetItems().size(), 1u);
    EXPECT_EQ(Form(back), form);
}

TEST(KQuarelTag, EntriesOfWrongSizeOrUnknownKeyAreSkipped)
{
    KQuarelTag tag;
    tag.SetString(KQuarelKey("came"), "abc");
    tag.SetInt(KQuarelKey("issd"), 5);
    tag.SetInt(KQuarelKey("imgn"), 9);
    auto form = Form(tag);
    PutWord(form, 68 + 12 + 8, 8);                   // 'issd' with size 8
    PutWord(form, 68 + 24, KQuarelKey("qqqq"));     // unknown key
    KQuarelTag back;
    ASSERT_TRUE(back.SetBuffer(form.data(), form.size()));
    ASSERT_EQ(back.GetItems().size(), 1u);
    KNarrowString text;
    EXPECT_TRUE(back.GetString(KQuarelKey("came"), &text));
    int32_t n;
    EXPECT_FALSE(back.GetInt(KQuarelKey("issd"), &n));
}

TEST(KQuarelTag, SetBufferRefusesBadForms)
{
    KQuarelTag tag;
    tag.SetString(KQuarelKey("came"), "12345");
    const auto good = Form(tag);
    EXPECT_FALSE(KQuarelTag().SetBuffer(nullptr, 10));

    struct Case {
        const char* name;
        std::vector<uint8_t> form;
        size_t size;
        const char* messageStart;
    };
    auto bad = [&](auto edit) {
        std::vector<uint8_t> f = good;
        edit(f);
        return f;
    };
    const Case cases[] = {
        {"size one too big", good, good.size() + 1, "QuarelTag SetBuffer() header size mismatch"},
        {"version", bad([](auto& f) { PutWord(f, 0, 0x76657232); }), good.size(),
         "QuarelTag SetBuffer() Unknown version"},
        {"count beyond the form", bad([](auto& f) { PutWord(f, 64, 1000); }), good.size(),
         "QuarelTag SetBuffer() directory"},
        {"shorter than the header", std::vector<uint8_t>(good.begin(), good.begin() + 40), 40,
         "QuarelTag SetBuffer() form of 40 bytes"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = c.form;
        bytes.resize(std::max(bytes.size(), c.size));
        KQuarelTag back;
        try {
            back.SetBuffer(bytes.data(), c.size);
            ADD_FAILURE() << c.name << ": no exception";
        } catch (const KExceptionQuarelTag& e) {
            EXPECT_EQ(std::string(e.GetMessage()).rfind(c.messageStart, 0), 0u) << c.name << ": " << e.GetMessage();
        }
    }
}

// One bad item is skipped; the items before and after it are kept.
TEST(KQuarelTag, ABadItemIsSkippedAndTheRestKept)
{
    KQuarelTag tag;
    tag.SetInt(KQuarelKey("imgn"), 7);
    tag.SetString(KQuarelKey("came"), "12345");
    tag.SetInt(KQuarelKey("issd"), 5);
    const auto good = Form(tag);
    const size_t cameEntry = 68 + 12, cameData = 68 + 36 + 4;
    struct Case {
        const char* name;
        void (*edit)(std::vector<uint8_t>&, size_t entry, size_t data);
    } cases[] = {
        {"offset beyond the form", [](auto& f, size_t e, size_t) { PutWord(f, e + 4, 0xFFFFFFF0u); }},
        {"size beyond the form", [](auto& f, size_t e, size_t) { PutWord(f, e + 8, 0x10000); }},
        {"text without terminator", [](auto& f, size_t, size_t d) { std::memset(f.data() + d, 'x', 8); }},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> form = good;
        c.edit(form, cameEntry, cameData);
        KQuarelTag back;
        ASSERT_TRUE(back.SetBuffer(form.data(), form.size())) << c.name;
        int32_t n = 0;
        KNarrowString text;
        EXPECT_TRUE(back.GetInt(KQuarelKey("imgn"), &n) && n == 7) << c.name;
        EXPECT_TRUE(back.GetInt(KQuarelKey("issd"), &n) && n == 5) << c.name;
        EXPECT_FALSE(back.GetString(KQuarelKey("came"), &text)) << c.name;
        EXPECT_EQ(back.GetItems().size(), 2u) << c.name;
    }
}

// Items of a form lie side by side; a hostile form whose every item spans the whole form would make n copies
// of it (n x size bytes from a form of size bytes).
TEST(KQuarelTag, ItemsCannotTogetherHoldMoreBytesThanTheForm)
{
    const uint32_t count = 100, data = 4000;
    const uint32_t size = 68 + 12 * count + data;
    std::vector<uint8_t> form(size, 0);
    PutWord(form, 0, KQuarelTag::kVersion1);
    PutWord(form, 4, size);
    PutWord(form, 64, count);
    for (uint32_t i = 0; i < count; ++i) {
        PutWord(form, 68 + 12 * i, KQuarelKey("rawh"));
        PutWord(form, 68 + 12 * i + 4, 0);
        PutWord(form, 68 + 12 * i + 8, size);
    }
    // The first item holds the whole form; the others would copy it again and are skipped.
    KQuarelTag tag;
    ASSERT_TRUE(tag.SetBuffer(form.data(), form.size()));
    EXPECT_EQ(tag.GetItems().size(), 1u);

    // Side by side they are read: the same form with every item a word of its own.
    for (uint32_t i = 0; i < count; ++i) {
        PutWord(form, 68 + 12 * i + 4, 68 + 12 * count + 4 * i);
        PutWord(form, 68 + 12 * i + 8, 4);
    }
    KQuarelTag tiled;
    ASSERT_TRUE(tiled.SetBuffer(form.data(), form.size()));
    EXPECT_EQ(tiled.GetItems().size(), count);
}

TEST(KQuarelTag, StringListsJoinAndSplit)
{
    const char* parts[] = {"ISO", "100", "", "x"};
    KNarrowString joined = KQuarelTag::JoinStringList(parts, 4);
    EXPECT_EQ(joined.Str(), std::string("ISO\x8B" "100\x8B\x8Bx"));

    std::vector<KNarrowString> out;
    EXPECT_EQ(KQuarelTag::SplitStringList("a\x8B\x8B" "b", out, 10), 2);
    EXPECT_STREQ(out[0].CStr(), "a");
    EXPECT_STREQ(out[1].CStr(), "b");
    EXPECT_EQ(KQuarelTag::SplitStringList(joined.CStr(), out, 2), 2);
    EXPECT_STREQ(out[1].CStr(), "100");
    EXPECT_EQ(KQuarelTag::SplitStringList("\x8B", out, 10), 0);

    EXPECT_EQ(KQuarelTag::SplitStringListKeepingEmpty(joined.CStr(), out, 10), 4);
    EXPECT_STREQ(out[2].CStr(), "");
    EXPECT_STREQ(out[3].CStr(), "x");
    EXPECT_EQ(KQuarelTag::SplitStringListKeepingEmpty("a\x8B", out, 10), 2);
}
