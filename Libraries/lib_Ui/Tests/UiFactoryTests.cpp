// The object factory: keywords to creators.
#include <gtest/gtest.h>

#include "KUiObject.h"
#include "KUiObjectFactory.h"

namespace {

struct Tally {
    int creators = 0;  // alive
    int objects = 0;   // made
};

class TaggedObject : public KUiObject {
public:
    explicit TaggedObject(const char* keyword) { m_pTypeKeyword = keyword; }
};

class TaggedCreator : public KIUiObjectCreator {
public:
    TaggedCreator(Tally& tally, const char* keyword, bool makesNothing = false)
        : m_Tally(tally), m_Keyword(keyword), m_MakesNothing(makesNothing)
    {
        ++m_Tally.creators;
    }
    ~TaggedCreator() override { --m_Tally.creators; }
    KIUiObject* Create() override
    {
        if (m_MakesNothing)
            return nullptr;
        ++m_Tally.objects;
        return new TaggedObject(m_Keyword);
    }

private:
    Tally& m_Tally;
    const char* m_Keyword;
    bool m_MakesNothing;
};

const char* KeywordOf(KIUiObject* object)
{
    return static_cast<KUiObject*>(object)->GetTypeKeyword();
}

}  // namespace

TEST(UiFactory, FirstRegistrationWinsAndKeywordsAreExact)
{
    Tally tally;
    KIUiObjectFactory* factory = CreateObjectFactory();
    ASSERT_NE(factory, nullptr);
    const KWString button(u"BUTTON"), text(u"TEXT");

    EXPECT_TRUE(factory->Register(&button, new TaggedCreator(tally, "first")));
    EXPECT_TRUE(factory->Register(&text, new TaggedCreator(tally, "TEXT")));
    auto* second = new TaggedCreator(tally, "second");
    EXPECT_FALSE(factory->Register(&button, second));
    delete second;  // a refused creator stays with the caller

    int32_t registered = -1, created = -1;
    factory->GetCounts(registered, created);
    EXPECT_EQ(registered, 2);
    EXPECT_EQ(created, 0);

    KIUiObject* object = factory->Create(&button);
    ASSERT_NE(object, nullptr);
    EXPECT_STREQ(KeywordOf(object), "first");
    delete object;

    const KWString lower(u"button"), unknown(u"NOPE");
    EXPECT_EQ(factory->Create(&lower), nullptr);
    EXPECT_EQ(factory->Create(&unknown), nullptr);
    EXPECT_EQ(factory->Create(nullptr), nullptr);
    factory->GetCounts(registered, created);
    EXPECT_EQ(registered, 2);
    EXPECT_EQ(created, 1);

    DeleteObjectFactory(factory);
    EXPECT_EQ(factory, nullptr);
    EXPECT_EQ(tally.creators, 0);
}

TEST(UiFactory, NullArgumentsAndEmptyCreatorsCountNothing)
{
    Tally tally;
    KIUiObjectFactory* factory = CreateObjectFactory();
    const KWString empty(u"EMPTY"), spacer(u"SPACER");
    EXPECT_FALSE(factory->Register(nullptr, nullptr));
    auto* orphan = new TaggedCreator(tally, "x");
    EXPECT_FALSE(factory->Register(nullptr, orphan));
    delete orphan;
    EXPECT_FALSE(factory->Register(&spacer, nullptr));
    EXPECT_TRUE(factory->Register(&empty, new TaggedCreator(tally, "EMPTY", true)));

    EXPECT_EQ(factory->Create(&empty), nullptr);
    int32_t registered = -1, created = -1;
    factory->GetCounts(registered, created);
    EXPECT_EQ(registered, 1);
    EXPECT_EQ(created, 0);

    DeleteObjectFactory(factory);
    EXPECT_EQ(tally.creators, 0);
    KIUiObjectFactory* none = nullptr;
    DeleteObjectFactory(none);  // harmless
}

TEST(UiFactory, EachKeywordMakesItsOwnClass)
{
    Tally tally;
    KIUiObjectFactory* factory = CreateObjectFactory();
    const KWString keywords[] = {KWString(u"HBOX"), KWString(u"VBOX"), KWString(u"TIMER")};
    for (const KWString& keyword : keywords)
        EXPECT_TRUE(factory->Register(&keyword, new TaggedCreator(tally, keyword.GetAscii())));
    for (const KWString& keyword : keywords) {
        KIUiObject* object = factory->Create(&keyword);
        ASSERT_NE(object, nullptr);
        EXPECT_STREQ(KeywordOf(object), keyword.GetAscii());
        delete object;
    }
    DeleteObjectFactory(factory);
    EXPECT_EQ(tally.creators, 0);
}
