#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "LumoTestSupport.h"
#include "PlatformError.h"
#include "PlatformMachine.h"
#include "PlatformTestHelpers.h"

using plattest::ScopedEnv;

TEST(PlatMachine, FolderFollowsTheEnvironment)
{
    ScopedEnv home("HOME", "/home/someone");
    {
        ScopedEnv machine("LUMO_MACHINE", "/scratch/m/");
        EXPECT_EQ(PlatGetMachineFolder(), "/scratch/m");
    }
    struct Case {
        const char* machine;
        const char* xdg;
        const char* expected;
    } cases[] = {
        {nullptr, "/data", "/data/LumoDesk/machine"},
        {"", "/data", "/data/LumoDesk/machine"},
        {nullptr, nullptr, "/home/someone/.local/share/LumoDesk/machine"},
        {nullptr, "relative/data", "/home/someone/.local/share/LumoDesk/machine"},
    };
    for (const Case& c : cases) {
        ScopedEnv machine("LUMO_MACHINE", c.machine);
        ScopedEnv xdg("XDG_DATA_HOME", c.xdg);
        EXPECT_EQ(PlatGetMachineFolder(), c.expected) << (c.xdg ? c.xdg : "(no XDG_DATA_HOME)");
    }
}

TEST(PlatMachine, SubfolderIsCreatedInsideTheScratchMachine)
{
    lumotest::TempDir dir;
    std::string root = (dir / "machine").string();
    ScopedEnv machine("LUMO_MACHINE", root.c_str());
    std::string sub = PlatGetMachineSubfolder("objects/inner");
    EXPECT_EQ(sub, root + "/objects/inner");
    struct stat st{};
    ASSERT_EQ(stat(sub.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(PlatGetMachineSubfolder("objects/inner"), sub) << "an existing folder is answered again";

    lumotest::WriteText(dir / "file", "x");
    std::string blocked = (dir / "file").string();
    ScopedEnv machine2("LUMO_MACHINE", blocked.c_str());
    EXPECT_EQ(PlatGetMachineSubfolder("objects"), "");
    EXPECT_NE(PlatGetLastError(), PLAT_ERROR_SUCCESS);
}
