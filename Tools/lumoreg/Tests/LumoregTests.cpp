// The lumoreg tool as a user runs it, each test in a machine of its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "LumoTestSupport.h"
#include "PlatformRegistry.h"

namespace {

const std::string kTool = LUMO_BINARY_DIR "/Tools/lumoreg/lumoreg";

class Lumoreg : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("LUMO_MACHINE");
        m_Had = old != nullptr;
        if (old)
            m_Old = old;
        setenv("LUMO_MACHINE", Machine().c_str(), 1);
    }
    void TearDown() override
    {
        if (m_Had)
            setenv("LUMO_MACHINE", m_Old.c_str(), 1);
        else
            unsetenv("LUMO_MACHINE");
    }
    std::string Machine() const { return (m_Dir.Path() / "machine").string(); }
    std::string Run(const std::string& args) const { return lumotest::CommandOutput(kTool + " " + args + " 2>&1"); }
    int Status(const std::string& args) const { return lumotest::RunCommand(kTool + " " + args + " 2>/dev/null"); }

    lumotest::TempDir m_Dir;
    std::string m_Old;
    bool m_Had = false;
};

}  // namespace

TEST_F(Lumoreg, AValueAddedIsReadByAnotherProcessWhateverTheCase)
{
    ASSERT_EQ(Status(R"(add 'HKLM\Software\Test' Name REG_SZ Hello)"), 0);
    EXPECT_EQ(Run(R"(query 'hklm\SOFTWARE\test' Name)"), "Hello\n");
    EXPECT_EQ(Run(R"(query 'HKEY_LOCAL_MACHINE\software\TEST' NAME)"), "Hello\n");
    EXPECT_NE(Status(R"(query 'HKLM\Software\Test' Other)"), 0);
    EXPECT_NE(Status(R"(query 'HKLM\Software\Nothing' Name)"), 0);
}

TEST_F(Lumoreg, EachTypeIsStoredAndExported)
{
    ASSERT_EQ(Status(R"(add 'HKCR\CLSID\{1}\InprocServer32' '' REG_SZ /lib/x.so)"), 0);
    ASSERT_EQ(Status(R"(add 'HKLM\T' d REG_DWORD 0x1F)"), 0);
    ASSERT_EQ(Status(R"(add 'HKLM\T' n REG_DWORD 10)"), 0);
    ASSERT_EQ(Status(R"(add 'HKLM\T' m REG_MULTI_SZ 'a\0b c')"), 0);
    ASSERT_EQ(Status(R"(add 'HKLM\T' b REG_BINARY 00ff10)"), 0);
    ASSERT_EQ(Status(R"(add 'HKLM\T\Empty')"), 0);
    ASSERT_EQ(Status(R"(add 'HKCU\Software\Me' e REG_EXPAND_SZ '%HOME%')"), 0);
    // The unnamed value is the key's own.
    EXPECT_EQ(Run(R"(query 'HKCR\CLSID\{1}\InprocServer32')"), "/lib/x.so\n");
    EXPECT_EQ(Run(R"(query 'HKLM\T' n)"), "0xA\n");
    EXPECT_EQ(Run(R"(export 'HKLM\T')"),
              "HKLM\\T\\d = REG_DWORD 0x1F\n"
              "HKLM\\T\\n = REG_DWORD 0xA\n"
              "HKLM\\T\\m = REG_MULTI_SZ a\\0b c\n"
              "HKLM\\T\\b = REG_BINARY 00ff10\n");
    const std::string all = Run("export");
    EXPECT_NE(all.find("HKLM\\SOFTWARE\\Classes\\CLSID\\{1}\\InprocServer32\\ = REG_SZ /lib/x.so\n"), std::string::npos)
        << all;
    EXPECT_NE(all.find("\\Software\\Me\\e = REG_EXPAND_SZ %HOME%\n"), std::string::npos) << all;
    EXPECT_EQ(all.rfind("HKU\\S-1-5-21-", all.find("\\Software\\Me\\e")), all.find("HKU\\")) << all;
}

TEST_F(Lumoreg, BadArgumentsChangeNothing)
{
    const char* bad[] = {
        R"(add 'HKLM\T' v REG_DWORD -1)",       R"(add 'HKLM\T' v REG_DWORD 0x100000000)",
        R"(add 'HKLM\T' v REG_DWORD 12abc)",    R"(add 'HKLM\T' v REG_BINARY 0)",
        R"(add 'HKLM\T' v REG_BINARY zz)",      R"(add 'HKLM\T' v REG_WHAT x)",
        R"(add 'HKXX\T' v REG_SZ x)",           R"(add 'HKLM\T' v REG_SZ)",
        R"(query)",                             R"(frobnicate 'HKLM\T')",
    };
    for (const char* args : bad)
        EXPECT_NE(Status(args), 0) << args;
    EXPECT_EQ(Run("export"), "");
}

TEST_F(Lumoreg, DeletesValuesAndWholeKeys)
{
    ASSERT_EQ(Status(R"(add 'HKLM\D\E\F' v REG_SZ x)"), 0);
    ASSERT_EQ(Status(R"(add 'HKLM\D' w REG_SZ y)"), 0);
    ASSERT_EQ(Status(R"(delete 'HKLM\D' W)"), 0);
    EXPECT_NE(Status(R"(delete 'HKLM\D' W)"), 0);
    EXPECT_EQ(Run(R"(export 'HKLM\D')"), "HKLM\\D\\E\\F\\v = REG_SZ x\n");
    ASSERT_EQ(Status(R"(delete 'hklm\d')"), 0);
    EXPECT_EQ(Run("export"), "");
    EXPECT_NE(Status(R"(delete 'HKLM')"), 0);
}

TEST_F(Lumoreg, ChangeByTheToolSetsTheEventOfARequestHere)
{
    PlatHKEY key = nullptr;
    ASSERT_EQ(PlatRegCreateKeyEx(PLAT_HKEY_LOCAL_MACHINE, "Watched", 0, PLAT_KEY_ALL_ACCESS, &key, nullptr), 0);
    PlatHandle event = PlatCreateEvent(false, false, nullptr);
    ASSERT_EQ(PlatRegNotifyChangeKeyValue(key, true, PLAT_REG_NOTIFY_CHANGE_LAST_SET, event, true), 0);
    ASSERT_EQ(Status(R"(add 'HKLM\Watched\Below' v REG_SZ x)"), 0);
    EXPECT_EQ(PlatWaitForSingleObject(event, 10000), PLAT_WAIT_OBJECT_0);
    ASSERT_EQ(PlatRegNotifyChangeKeyValue(key, true, PLAT_REG_NOTIFY_CHANGE_LAST_SET, event, true), 0);
    ASSERT_EQ(Status(R"(delete 'HKLM\Watched\Below' v)"), 0);
    EXPECT_EQ(PlatWaitForSingleObject(event, 10000), PLAT_WAIT_OBJECT_0);
    PlatRegCloseKey(key);
    PlatCloseHandle(event);
}
