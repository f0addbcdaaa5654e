// Conditional sections of property trees.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "KPropTree.h"
#include "LumoPropTreePicture.h"

using lumotest::PropTreePicture;

namespace {

KPropTree* Add(KPropTree* parent, const char* name, const char* nameValue = nullptr)
{
    KPropTree* n = new KPropTree(parent, name);
    if (nameValue)
        n->AddPair("Name", nameValue);
    return n;
}

KArray<KWString> Defines(std::initializer_list<const char*> names)
{
    KArray<KWString> a;
    for (const char* n : names)
        a.Add(KWString(n));
    return a;
}

}  // namespace

TEST(Preprocess, KeepsAndDropsSections)
{
    std::unique_ptr<KPropTree> root(new KPropTree(nullptr, "ROOT"));
    Add(root.get(), "first");
    KPropTree* ifdef = Add(root.get(), "xi:ifdef", "A");
    Add(ifdef, "x");
    Add(ifdef, "y");
    KPropTree* ifndef = Add(root.get(), "xi:ifndef", "A");
    Add(ifndef, "gone");
    KPropTree* ifndefB = Add(root.get(), "xi:ifndef", "B");
    Add(ifndefB, "kept");
    Add(root.get(), "last");
    root->GetFirstChild()->Preprocess(Defines({"A"}));
    EXPECT_EQ(PropTreePicture(root.get()), "ROOT(first x y kept last)");
}

TEST(Preprocess, DefinesCountForLaterSiblingsOnly)
{
    std::unique_ptr<KPropTree> root(new KPropTree(nullptr, "ROOT"));
    Add(root.get(), "start");
    Add(Add(root.get(), "xi:ifdef", "X"), "early");
    Add(root.get(), "xi:define", "X");
    Add(Add(root.get(), "xi:ifdef", "X"), "late");
    KPropTree* box = Add(root.get(), "box");
    Add(Add(box, "xi:ifdef", "X"), "inner");  // a descendant of a later sibling sees it too
    root->GetFirstChild()->Preprocess(Defines({}));
    EXPECT_EQ(PropTreePicture(root.get()), "ROOT(start xi:define[Name=X] late box(inner))");

    // A define inside a child does not reach the parent's later siblings.
    std::unique_ptr<KPropTree> other(new KPropTree(nullptr, "ROOT"));
    KPropTree* holder = Add(other.get(), "holder");
    Add(holder, "xi:define", "Y");
    Add(Add(other.get(), "xi:ifdef", "Y"), "never");
    other->GetFirstChild()->Preprocess(Defines({}));
    EXPECT_EQ(PropTreePicture(other.get()), "ROOT(holder(xi:define[Name=Y]))");
}

TEST(Preprocess, NestedAndNamelessSections)
{
    std::unique_ptr<KPropTree> root(new KPropTree(nullptr, "ROOT"));
    Add(root.get(), "head");
    KPropTree* outer = Add(root.get(), "xi:ifdef", "A");
    KPropTree* inner = Add(outer, "xi:ifdef", "B");
    Add(inner, "both");
    KPropTree* innerNot = Add(outer, "xi:ifndef", "C");
    Add(innerNot, "notC");
    KPropTree* nameless = Add(root.get(), "xi:ifdef");
    Add(Add(nameless, "xi:ifdef", "a"), "lower");  // names differ in case: dropped
    Add(Add(nameless, "xi:ifndef", "a"), "kept");
    root->GetFirstChild()->Preprocess(Defines({"A", "B", "C"}));
    EXPECT_EQ(PropTreePicture(root.get()), "ROOT(head both xi:ifdef(kept))");
}

TEST(Preprocess, DefineBroughtUpByAKeptSection)
{
    std::unique_ptr<KPropTree> root(new KPropTree(nullptr, "ROOT"));
    Add(root.get(), "head");
    KPropTree* kept = Add(root.get(), "xi:ifdef", "A");
    Add(kept, "xi:define", "Z");
    Add(Add(root.get(), "xi:ifdef", "Z"), "seen");
    root->GetFirstChild()->Preprocess(Defines({"A"}));
    EXPECT_EQ(PropTreePicture(root.get()), "ROOT(head xi:define[Name=Z] seen)");
}

TEST(Preprocess, ANameDefinedAgainInsideAChildStaysDefinedAfterIt)
{
    // The child's own define of X goes when the pass leaves the child; the caller's X and the level's X stay.
    std::unique_ptr<KPropTree> root(new KPropTree(nullptr, "ROOT"));
    Add(root.get(), "xi:define", "X");
    KPropTree* box = Add(root.get(), "box");
    Add(box, "xi:define", "X");
    Add(box, "xi:define", "A");
    KPropTree* inner = Add(box, "inner");
    Add(inner, "xi:define", "A");
    Add(root.get(), "xi:define", "Z");  // given by the caller too
    Add(Add(root.get(), "xi:ifdef", "X"), "x");
    Add(Add(root.get(), "xi:ifdef", "A"), "a");
    KPropTree* later = Add(root.get(), "later");
    Add(Add(later, "xi:ifdef", "Z"), "z");
    root->GetFirstChild()->Preprocess(Defines({"Z"}));
    EXPECT_EQ(PropTreePicture(root.get()),
              "ROOT(xi:define[Name=X] box(xi:define[Name=X] xi:define[Name=A] inner(xi:define[Name=A])) "
              "xi:define[Name=Z] x later(z))");
}

TEST(Preprocess, ARootThatIsASectionStaysWithTheCaller)
{
    struct Case {
        const char* name;
        const char* defines;
        const char* picture;
    } cases[] = {
        {"xi:ifdef", "A", "xi:ifdef[Name=A](x y)"},
        {"xi:ifndef", "", "xi:ifndef[Name=A](x)"},
        {"xi:ifdef", "", "xi:ifdef[Name=A]"},
        {"xi:ifndef", "A", "xi:ifndef[Name=A]"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<KPropTree> root(new KPropTree(nullptr, c.name));
        root->AddPair("Name", "A");
        Add(root.get(), "x");
        Add(Add(root.get(), "xi:ifdef", "A"), "y");
        root->Preprocess(*c.defines ? Defines({c.defines}) : Defines({}));
        EXPECT_EQ(PropTreePicture(root.get()), c.picture) << c.name << " " << c.defines;
    }
}
