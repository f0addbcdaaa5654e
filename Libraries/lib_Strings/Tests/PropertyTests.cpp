#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KArray.h"
#include "KHasProperties.h"
#include "KPropTree.h"

TEST(KHasProperties, ValuesConversionAndOrder)
{
    KHasProperties p;
    p.SetProperty("ROWS", "1536");
    p.SetProperty("rows", "x");
    p.SetProperty("\xC0key", "hi");
    p.SetProperty("FOCAL", "  2.5mm");
    p.SetProperty("NAME", "abc");
    EXPECT_EQ(p.GetPropertyCount(), 5u);
    EXPECT_STREQ(p.GetProperty("ROWS", "d"), "1536");
    EXPECT_STREQ(p.GetProperty("COLS", "d"), "d");
    EXPECT_DOUBLE_EQ(p.GetPropertyDouble("FOCAL", 0), 2.5);
    EXPECT_DOUBLE_EQ(p.GetPropertyDouble("MISSING", 7.5), 7.5);
    try {
        p.GetPropertyDouble("NAME", 0);
        FAIL();
    } catch (const KExceptionConversion& e) {
        EXPECT_STREQ(e.GetMessage(), "Conversion failure trying to convert 'abc' to a floating point number.");
    }
    std::vector<std::string> keys;
    for (KPropertyIterator it = p.GetPropertyIterator(); !it.AtEnd(); it.Next())
        keys.push_back(it.GetKey());
    EXPECT_EQ(keys, (std::vector<std::string>{"FOCAL", "NAME", "ROWS", "rows", "\xC0key"}));
    EXPECT_FALSE(p.RemoveProperty("ABSENT"));
    EXPECT_TRUE(p.RemoveProperty("rows"));
    EXPECT_EQ(p.GetPropertyCount(), 4u);
}

TEST(KHasProperties, IteratorOnEmptyMapIsAtItsEnd)
{
    KHasProperties p;
    KPropertyIterator it = p.GetPropertyIterator();
    EXPECT_TRUE(it.AtEnd());
    EXPECT_THROW(it.GetKey(), KExceptionEndOfList);
    try {
        it.GetValue();
    } catch (const KExceptionEndOfList& e) {
        EXPECT_STREQ(e.GetMessage(), "End of list encountered in KPropertyIterator::GetValue()");
    }
    p.SetProperty("A", "1");
    it = p.GetPropertyIterator();
    EXPECT_FALSE(it.Next());
    EXPECT_TRUE(it.AtEnd());
    it.Reset();
    EXPECT_STREQ(it.GetValue(), "1");
}

namespace {

KPropTree* Node(const char* value)
{
    auto* t = new KPropTree(nullptr, "n");
    t->AddPair("v", value);
    return t;
}

}  // namespace

TEST(KPropTree, GetRectTable)
{
    struct Case {
        const char* text;
        bool found;
        KRect rect;
    } cases[] = {
        {"0, 0, 99, 49", true, {0, 0, 100, 50}},
        {"1, 2, 3, 4", true, {1, 2, 4, 5}},
        {"-0, 0, 99, 49", false, {9, 9, 9, 9}},
        {",,,", true, {0, 0, 1, 1}},
        {" \t1 ,\t2 , 3,4xyz", true, {1, 2, 4, 5}},
        {"1, 2, 3", false, {9, 9, 9, 9}},
        {"1; 2, 3, 4", false, {9, 9, 9, 9}},
    };
    for (auto& c : cases) {
        std::unique_ptr<KPropTree> t(Node(c.text));
        KRect r;
        bool found = !c.found;
        t->GetRect(r, KWString("v"), KRect(9, 9, 9, 9), &found);
        EXPECT_EQ(found, c.found) << c.text;
        EXPECT_EQ(r, c.rect) << c.text;
    }
}

TEST(KPropTree, GetPointTable)
{
    struct Case {
        const char* text;
        bool found;
        int32_t x, y;
    } cases[] = {{"+5, -3", true, 5, -3}, {"7 ,\t8", true, 7, 8}, {"7 8", false, 1, 2}, {"  -1,-1", true, -1, -1}};
    for (auto& c : cases) {
        std::unique_ptr<KPropTree> t(Node(c.text));
        KPoint p;
        bool found = !c.found;
        t->GetPoint(p, KWString("v"), KPoint{1, 2}, &found);
        EXPECT_EQ(found, c.found) << c.text;
        EXPECT_EQ(p.x, c.x) << c.text;
        EXPECT_EQ(p.y, c.y) << c.text;
    }
}

TEST(KPropTree, GetColorTable)
{
    struct Case {
        const char* text;
        bool found;
        KColorRGBA c;
    } cases[] = {{"#ff0000", false, {1, 2, 3, 4}},   {"#FF000080", true, {255, 0, 0, 128}},
                 {"#10A0FF", true, {16, 160, 255, 255}}, {"#10A0F", false, {1, 2, 3, 4}},
                 {"10A0FF0", false, {1, 2, 3, 4}},   {"#GG0000", false, {1, 2, 3, 4}}};
    for (auto& c : cases) {
        std::unique_ptr<KPropTree> t(Node(c.text));
        KColorRGBA out;
        bool found = !c.found;
        t->GetColor(out, KWString("v"), KColorRGBA{1, 2, 3, 4}, &found);
        EXPECT_EQ(found, c.found) << c.text;
        EXPECT_EQ(out.r, c.c.r) << c.text;
        EXPECT_EQ(out.g, c.c.g) << c.text;
        EXPECT_EQ(out.b, c.c.b) << c.text;
        EXPECT_EQ(out.a, c.c.a) << c.text;
    }
}

TEST(KPropTree, GetBoolIntDouble)
{
    struct BoolCase {
        const char* text;
        bool value;
    } bools[] = {{"yes", true}, {"T", true}, {"1", true}, {"Off", false}, {"n", false}, {"maybe", true}, {"YES ", true}};
    for (auto& c : bools) {
        std::unique_ptr<KPropTree> t(Node(c.text));
        bool found = false;
        EXPECT_EQ(t->GetBool(KWString("v"), true, &found), c.value) << c.text;
        EXPECT_TRUE(found);
        EXPECT_FALSE(t->GetBool(KWString("v"), false, &found) && std::string(c.text) == "maybe");
    }
    std::unique_ptr<KPropTree> t(Node("  -42abc"));
    bool found = false;
    EXPECT_EQ(t->GetInt(KWString("v"), 7, &found), -42);
    EXPECT_TRUE(found);
    EXPECT_EQ(t->GetInt(KWString("w"), 7, &found), 7);
    EXPECT_FALSE(found);
    std::unique_ptr<KPropTree> empty(Node(""));
    EXPECT_EQ(empty->GetInt(KWString("v"), 7, &found), 7);
    EXPECT_FALSE(found);
    std::unique_ptr<KPropTree> huge(Node("123456789012345678901234567890"));
    EXPECT_EQ(huge->GetInt(KWString("v"), 0), 2147483647);
    std::unique_ptr<KPropTree> d(Node("2.75e1x"));
    EXPECT_DOUBLE_EQ(d->GetDouble(KWString("v"), 0), 27.5);
}

TEST(KPropTree, SettersAndDuplicateKeys)
{
    KPropTree t(nullptr, "root");
    t.AddPair("k", "1");
    t.AddPair("other", "x");
    t.AddPair("k", "2");
    t.SetString(KWString("k"), KWString("z"));
    int count = 0;
    for (KPropPair* p = t.GetFirstPair(); p; p = p->GetNext())
        if (p->GetKey() == "k") {
            EXPECT_EQ(p->GetValue(), KWString("z"));
            ++count;
        }
    EXPECT_EQ(count, 2);
    t.SetInt(KWString("n"), -12);
    t.SetDouble(KWString("d"), 1.5);
    t.SetBool(KWString("b"), false);
    t.SetDouble(KWString("big"), -1e20);
    EXPECT_EQ(t.GetString(KWString("n"), KWString()), KWString("-12"));
    EXPECT_EQ(t.GetString(KWString("d"), KWString()), KWString("1.5000"));
    EXPECT_EQ(t.GetString(KWString("b"), KWString()), KWString("F"));
    EXPECT_EQ(t.GetString(KWString("big"), KWString()), KWString("-100000000000000000000.0000"));

    // A reference bound to the result of a missing key with a temporary default stays valid.
    bool found = true;
    const KWString& missing = t.GetString(KWString("missing"), KWString("fallback"), &found);
    EXPECT_FALSE(found);
    EXPECT_EQ(missing, KWString("fallback"));
    const KWString kept("kept");
    EXPECT_EQ(&t.GetString(KWString("missing"), kept), &kept);
}

TEST(KPropTree, PairRemovalAndInsertion)
{
    KPropTree t(nullptr, "root");
    t.AddPair("a", "1");
    t.AddPair("b", "2");
    t.AddPair("c", "3");
    KPropTree other(nullptr, "other");
    other.AddPair("x", "9");
    KPropPair* foreign = other.GetFirstPair();
    EXPECT_FALSE(t.RemovePair(foreign));
    EXPECT_NE(foreign, nullptr);
    KPropPair* b = t.FindPair(KWString("b"));
    ASSERT_TRUE(t.RemovePair(b));
    EXPECT_EQ(b, nullptr);
    KPropPair* a = t.FindPair(KWString("a"));
    ASSERT_TRUE(t.RemovePair(a));
    EXPECT_EQ(t.GetFirstPair()->GetKey(), KWString("c"));
    EXPECT_TRUE(t.GetFirstPair()->InsertCopiesAfter(other.GetFirstPair()));
    t.AddPair("d", "4");
    std::string order;
    for (KPropPair* p = t.GetFirstPair(); p; p = p->GetNext())
        order += p->GetKey().GetAscii();
    EXPECT_EQ(order, "cxd");
    EXPECT_EQ(t.FindPair(KWString("x"))->GetOwner(), &t);
}

namespace {

std::string Shape(const KPropTree* t)
{
    std::string s = t->GetName().GetAscii();
    if (t->GetFirstChild()) {
        s += "(";
        for (KPropTree* c = t->GetFirstChild(); c; c = c->GetNextSibling()) {
            s += Shape(c);
            if (c->GetNextSibling())
                s += ",";
            if (c->GetParent() != t)
                s += "!parent";
            if (c->GetNextSibling() && c->GetNextSibling()->GetPrevSibling() != c)
                s += "!link";
        }
        s += ")";
    }
    return s;
}

}  // namespace

TEST(KPropTree, StructureEdits)
{
    KPropTree root(nullptr, "r");
    auto* a = new KPropTree(&root, "a");
    auto* b = new KPropTree(&root, "b");
    new KPropTree(&root, "c");
    new KPropTree(b, "b1");
    new KPropTree(b, "b2");
    EXPECT_EQ(Shape(&root), "r(a,b(b1,b2),c)");
    delete b;
    EXPECT_EQ(Shape(&root), "r(a,c)");
    EXPECT_EQ(root.GetFirstChild(), a);
    delete a;
    EXPECT_EQ(Shape(&root), "r(c)");

    KPropTree t(nullptr, "r");
    auto* w = new KPropTree(&t, "wrap");
    new KPropTree(w, "x");
    auto* nested = new KPropTree(w, "wrap");
    new KPropTree(nested, "y");
    new KPropTree(&t, "z");
    t.UnwrapChildrenNamed(KWString("wrap"));
    // The moved children are not examined again in the same pass.
    EXPECT_EQ(Shape(&t), "r(x,wrap(y),z)");
    t.UnwrapChildrenNamed(KWString("wrap"));
    EXPECT_EQ(Shape(&t), "r(x,y,z)");
    t.RemoveChildrenNamed(KWString("y"));
    EXPECT_EQ(Shape(&t), "r(x,z)");

    KPropTree u(nullptr, "r");
    new KPropTree(&u, "p");
    auto* m = new KPropTree(&u, "m");
    new KPropTree(m, "m1");
    new KPropTree(m, "m2");
    auto* q = new KPropTree(&u, "q");
    KPropTree* now = m->ReplaceWithChildren();
    EXPECT_EQ(now->GetName(), KWString("m1"));
    EXPECT_EQ(Shape(&u), "r(p,m1,m2,q)");
    auto* empty = new KPropTree(&u, "e");
    new KPropTree(&u, "last");
    EXPECT_EQ(empty->ReplaceWithChildren()->GetName(), KWString("last"));
    (void)q;
}

TEST(KPropTree, AppendsAfterEditsAtTheEnd)
{
    // Appending goes to the end as it stands after every kind of edit there.
    KPropTree r(nullptr, "r");
    new KPropTree(&r, "a");
    delete new KPropTree(&r, "gone");
    new KPropTree(&r, "b");
    EXPECT_EQ(Shape(&r), "r(a,b)");
    KPropTree* moved = r.GetFirstChild()->GetNextSibling();
    moved->Detach();
    new KPropTree(&r, "c");
    r.GetFirstChild()->AdoptChild(moved);
    new KPropTree(r.GetFirstChild(), "d");
    EXPECT_EQ(Shape(&r), "r(a(b,d),c)");
    auto* wrap = new KPropTree(&r, "w");
    new KPropTree(wrap, "w1");
    new KPropTree(wrap, "w2");
    wrap->ReplaceWithChildren();
    new KPropTree(&r, "e");
    (new KPropTree(&r, "empty"))->ReplaceWithChildren();
    new KPropTree(&r, "f");
    r.UnwrapChildrenNamed(KWString("a"));
    new KPropTree(&r, "g");
    EXPECT_EQ(Shape(&r), "r(b,d,c,w1,w2,e,f,g)");
    r.RemoveChildrenNamed(KWString("g"));
    r.RemoveChildrenNamed(KWString("f"));
    new KPropTree(&r, "h");
    EXPECT_EQ(Shape(&r), "r(b,d,c,w1,w2,e,h)");

    auto keys = [](const KPropTree& t) {
        std::string order;
        for (KPropPair* p = t.GetFirstPair(); p; p = p->GetNext())
            order += p->GetKey().GetAscii();
        return order;
    };
    KPropTree t(nullptr, "t");
    t.AddPair("a", "");
    KPropPair* a = t.GetFirstPair();
    t.RemovePair(a);
    t.AddPair("b", "");
    t.AddPair("c", "");
    KPropPair* c = t.FindPair(KWString("c"));
    t.RemovePair(c);
    t.AddPair("d", "");
    t.FindPair(KWString("d"))->InsertCopyAfter(t.GetFirstPair());
    t.AddPair("e", "");
    EXPECT_EQ(keys(t), "bdbe");
    for (KPropPair* p = t.GetFirstPair(); p; p = p->GetNext())
        EXPECT_TRUE(p->GetNext() == nullptr || p->GetNext()->GetPrev() == p);
}

TEST(KPropTree, CloneIsDeepAndOrdered)
{
    KPropTree root(nullptr, "r");
    root.AddPair("k", "v");
    auto* a = new KPropTree(&root, "a");
    a->AddPair("x", "1");
    new KPropTree(a, "a1");
    new KPropTree(&root, "b");
    std::unique_ptr<KPropTree> copy(root.Clone());
    EXPECT_EQ(copy->GetParent(), nullptr);
    EXPECT_EQ(Shape(copy.get()), "r(a(a1),b)");
    EXPECT_EQ(copy->FindChild(KWString("a"))->GetString(KWString("x"), KWString()), KWString("1"));
    KPropTree holder(nullptr, "h");
    root.CopyInto(&holder);
    EXPECT_EQ(Shape(&holder), "h(r(a(a1),b))");
}

TEST(KPropTree, VeryDeepTreeIsFreedWithoutRecursion)
{
    auto* root = new KPropTree(nullptr, "r");
    KPropTree* at = root;
    for (int i = 0; i < 200000; ++i)
        at = new KPropTree(at, "d");
    std::unique_ptr<KPropTree> copy(root->Clone());
    delete root;
}

TEST(KArray, RejectsOutOfRange)
{
    KArray<KWString> a;
    EXPECT_THROW(a[0], KArrayException);
    a.Add(KWString("x"));
    EXPECT_EQ(a[0], KWString("x"));
    try {
        a[1];
        FAIL();
    } catch (const KArrayException& e) {
        EXPECT_STREQ(e.GetMessage(), "Index out of range.");
    }
}
