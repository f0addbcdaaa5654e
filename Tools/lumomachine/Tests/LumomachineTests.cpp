// The lumomachine tool as a user runs it, each test in a machine of its own.
#include <gtest/gtest.h>

#include <string>

#include "LumoTestSupport.h"

namespace {

const std::string kTool = LUMO_BINARY_DIR "/Tools/lumomachine/lumomachine";

class Machine {
public:
    std::string Run(const std::string& args) const
    {
        return lumotest::CommandOutput(Env() + kTool + " " + args);
    }
    int Status(const std::string& args) const { return lumotest::RunCommand(Env() + kTool + " " + args); }

private:
    std::string Env() const { return "LUMO_MACHINE='" + (m_Dir / "machine").string() + "' "; }
    lumotest::TempDir m_Dir;
};

}  // namespace

TEST(Lumomachine, FreshMachineIsWindowsXP)
{
    Machine m;
    EXPECT_EQ(m.Run("show"), "os=WindowsXP platform=2 version=5.1 build=2600 wdm=1.20\n");
    EXPECT_EQ(m.Run("os"), "WindowsXP\n");
}

TEST(Lumomachine, SetsEachIdentityByName)
{
    struct Case {
        const char* name;
        const char* shown;
    };
    const Case cases[] = {
        {"Windows95", "os=Windows95 platform=1 version=4.0 build=950 wdm=none"},
        {"Windows95_OSR2", "os=Windows95_OSR2 platform=1 version=4.0 build=1111 wdm=none"},
        {"Windows98", "os=Windows98 platform=1 version=4.10 build=1998 wdm=1.0"},
        {"Windows98_SE", "os=Windows98_SE platform=1 version=4.10 build=2222 wdm=1.0"},
        {"WindowsME", "os=WindowsME platform=1 version=4.90 build=3000 wdm=1.05"},
        {"WindowsNT", "os=WindowsNT platform=2 version=4.0 build=1381 wdm=none"},
        {"Windows2K", "os=Windows2K platform=2 version=5.0 build=2195 wdm=1.10"},
        {"WindowsXP", "os=WindowsXP platform=2 version=5.1 build=2600 wdm=1.20"},
    };
    Machine m;
    for (const Case& c : cases) {
        EXPECT_EQ(m.Status(std::string("os ") + c.name), 0) << c.name;
        EXPECT_EQ(m.Run("show"), std::string(c.shown) + "\n");
        EXPECT_EQ(m.Run("os"), std::string(c.name) + "\n");
    }
}

TEST(Lumomachine, UnknownNameChangesNothing)
{
    Machine m;
    ASSERT_EQ(m.Status("os Windows98_SE"), 0);
    EXPECT_EQ(m.Status("os Windows3 2>/dev/null"), 1);
    EXPECT_EQ(m.Status("os windowsxp 2>/dev/null"), 1);
    EXPECT_EQ(m.Run("show"), "os=Windows98_SE platform=1 version=4.10 build=2222 wdm=1.0\n");
    EXPECT_NE(m.Status("frobnicate 2>/dev/null"), 0);
}
