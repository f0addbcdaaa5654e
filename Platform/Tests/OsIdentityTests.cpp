// The machine's operating system identity as the version query and the driver model see it.
#include <gtest/gtest.h>

#include <cstring>

#include "PlatformError.h"
#include "PlatformOS.h"
#include "PlatformTestHelpers.h"

TEST(OsIdentity, DefaultIsXPWithItsServicePack)
{
    plattest::ScratchMachine machine;
    PlatOsVersion v{};
    ASSERT_TRUE(PlatGetVersion(&v));
    EXPECT_EQ(v.platformId, PLAT_OS_PLATFORM_NT);
    EXPECT_EQ(v.major, 5u);
    EXPECT_EQ(v.minor, 1u);
    EXPECT_STREQ(v.servicePack, "Service Pack 2");
    uint8_t major = 0, minor = 0;
    ASSERT_TRUE(PlatGetWdmVersion(&major, &minor));
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 0x20);
}

TEST(OsIdentity, SettingIsSharedThroughTheMachineFolder)
{
    plattest::ScratchMachine machine;
    ASSERT_TRUE(PlatSetOsName("WindowsNT"));
    EXPECT_STREQ(PlatGetOsName(), "WindowsNT");
    EXPECT_FALSE(PlatGetWdmVersion(nullptr, nullptr));
    // Another process of the machine sees it.
    pid_t child = plattest::Fork([] { return std::strcmp(PlatGetOsName(), "WindowsNT") == 0 ? 0 : 1; });
    EXPECT_EQ(plattest::Reap(child), 0);

    EXPECT_FALSE(PlatSetOsName("Windows2000"));
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_INVALID_PARAMETER);
    EXPECT_STREQ(PlatGetOsName(), "WindowsNT");

    // A damaged setting reads as the default rather than failing.
    lumotest::WriteText(machine.Dir() / "os", "Windows31\n");
    EXPECT_STREQ(PlatGetOsName(), "WindowsXP");
}
