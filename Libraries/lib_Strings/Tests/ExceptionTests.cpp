#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "KDebug.h"
#include "KException.h"

TEST(KException, DescriptionsOfTheFamily)
{
    struct Case {
        std::unique_ptr<KException> e;
        const char* description;
    };
    Case cases[] = {
        {std::make_unique<KException>("m"), "Quarel exception"},
        {std::make_unique<KExceptionIO>("m"), "General I/O exception"},
        {std::make_unique<KExceptionFileIO>("m"), "File I/O exception"},
        {std::make_unique<KExceptionFileOpen>("m"), "File open failed"},
        {std::make_unique<KExceptionFileNotFound>("m"), "File or path not found"},
        {std::make_unique<KExceptionFileRead>("m"), "File read failed"},
        {std::make_unique<KExceptionEOF>("m"), "End-of-file"},
        {std::make_unique<KExceptionFileWrite>("m"), "File write failed"},
        {std::make_unique<KExceptionProperties>("m"), "KHasProperties exception"},
        {std::make_unique<KExceptionConversion>("m"), "KHasProperties conversion exception"},
        {std::make_unique<KExceptionEndOfList>("m"), "KHasProperties end of list exception"},
        {std::make_unique<KArrayException>("m"), "KArrayException"},
        {std::make_unique<KExceptionStorageClassDoesNotExist>("m"), "There is no storage class of that name"},
        {std::make_unique<KExceptionSyncObject>("m"), "Sync object exception"},
        {std::make_unique<KExceptionXMLParser>("m"), "XML Parser Error"},
        {std::make_unique<KExceptionLaunchFailed>("m"), "Application Launch Failed"},
    };
    for (auto& c : cases) {
        EXPECT_STREQ(c.e->GetDescription(), c.description);
        EXPECT_STREQ(c.e->GetMessage(), "m");
    }
}

TEST(KException, HandlersCatchByBaseAndCopiesKeepTheDynamicClass)
{
    try {
        throw KExceptionEOF("");
    } catch (const KExceptionFileIO& e) {
        EXPECT_STREQ(e.GetDescription(), "End-of-file");
        EXPECT_STREQ(e.GetMessage(), "");
    }
    KExceptionFileNotFound original("C:\\missing.kzr");
    KExceptionFileNotFound copy(original);
    const KException& base = copy;
    EXPECT_STREQ(base.GetMessage(), "C:\\missing.kzr");
    EXPECT_STREQ(base.GetDescription(), "File or path not found");
    // The message is stored as it stands, never used as a format.
    EXPECT_STREQ(KException("100% %s").GetMessage(), "100% %s");
}

TEST(AssertionFailed, AssertionThrowsWithTheReport)
{
    try {
        AssertionFailed(nullptr, 12, nullptr, 0, 0);
        FAIL() << "no exception";
    } catch (const KException& e) {
        EXPECT_STREQ(e.GetMessage(), "\nASSERTION FAILED\n\tFile:  ?\n\tLine:  12\n\tTest:  ?\n");
    }
}

TEST(AssertionFailed, AssumptionWithParamReportsAndReturns)
{
    KTraceCapture capture;
    EXPECT_NO_THROW(AssertionFailed("f", 3, "x > 0", 3, 0xFFFFFFFFu));
    EXPECT_EQ(capture.Text(),
              "\nASSUMPTION FAILED\n\tFile:  f\n\tLine:  3\n\tTest:  x > 0\n\tParam: 0xFFFFFFFF = -1\n");
}

TEST(AssertionFailed, MacrosNameTheModule)
{
    try {
        KASSERT(1 == 2);
        FAIL();
    } catch (const KException& e) {
        std::string m = e.GetMessage();
        EXPECT_NE(m.find("\tFile:  Libraries\\lib_Strings\\Tests\\ExceptionTests\n"), std::string::npos) << m;
        EXPECT_NE(m.find("\tTest:  1 == 2\n"), std::string::npos);
    }
    KTraceCapture capture;
    KASSUME(false);
    EXPECT_TRUE(capture.Contains("ASSUMPTION FAILED"));
}

TEST(DebugTrace, FormatsLongTextsWhole)
{
    KTraceCapture capture;
    std::string big(5000, 'x');
    EXPECT_EQ(DebugTrace("%s|%d", big.c_str(), 7), 5002);
    EXPECT_EQ(capture.Text(), big + "|7");
}
