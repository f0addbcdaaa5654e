#include <gtest/gtest.h>

#include <string>

#include "PlatformError.h"
#include "PlatformLocale.h"
#include "PlatformTestHelpers.h"

using plattest::ScopedEnv;

namespace {

constexpr uint64_t kTicksTo1970 = 11644473600ull * 10000000ull;

uint64_t FileTimeOf(uint64_t unixSeconds)
{
    return (unixSeconds * 10000000ull) + kTicksTo1970;
}

}  // namespace

TEST(PlatLocale, FileTimesBecomeCalendarDates)
{
    struct Case {
        uint64_t fileTime;
        uint16_t year, month, day, dayOfWeek, hour, minute, second;
    } cases[] = {
        {0, 1601, 1, 1, 1, 0, 0, 0},
        {FileTimeOf(0), 1970, 1, 1, 4, 0, 0, 0},
        {FileTimeOf(951782400), 2000, 2, 29, 2, 0, 0, 0},
        {FileTimeOf(1104451200 + 86399), 2004, 12, 31, 5, 23, 59, 59},
        {FileTimeOf(4107542400), 2100, 3, 1, 1, 0, 0, 0},  // 2100 has no 29 February
        {FileTimeOf(4294967295ull), 2106, 2, 7, 0, 6, 28, 15},
    };
    for (const Case& c : cases) {
        PlatSystemTime t{};
        ASSERT_TRUE(PlatFileTimeToSystemTime(c.fileTime, &t)) << c.fileTime;
        EXPECT_EQ(t.wYear, c.year) << c.fileTime;
        EXPECT_EQ(t.wMonth, c.month) << c.fileTime;
        EXPECT_EQ(t.wDay, c.day) << c.fileTime;
        EXPECT_EQ(t.wDayOfWeek, c.dayOfWeek) << c.fileTime;
        EXPECT_EQ(t.wHour, c.hour) << c.fileTime;
        EXPECT_EQ(t.wMinute, c.minute) << c.fileTime;
        EXPECT_EQ(t.wSecond, c.second) << c.fileTime;
    }
    PlatSystemTime t{};
    EXPECT_FALSE(PlatFileTimeToSystemTime(uint64_t(1) << 63, &t));
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(PlatFileTimeToSystemTime(0, nullptr));
}

TEST(PlatLocale, DateAndTimeTextFollowTheUserLocale)
{
    ScopedEnv all("LC_ALL", "C.UTF-8");
    PlatSystemTime t{};
    ASSERT_TRUE(PlatFileTimeToSystemTime(FileTimeOf(4294967295ull), &t));
    char16_t buffer[256];
    EXPECT_EQ(PlatGetDateFormat(PLAT_LOCALE_USER_DEFAULT, 0, &t, nullptr, buffer, 256), 9);
    EXPECT_EQ(std::u16string(buffer), u"02/07/06");
    EXPECT_EQ(PlatGetTimeFormat(PLAT_LOCALE_USER_DEFAULT, 0, &t, nullptr, buffer, 256), 9);
    EXPECT_EQ(std::u16string(buffer), u"06:28:15");

    // The size query, a short buffer, and what the stand-in does not offer.
    EXPECT_EQ(PlatGetDateFormat(PLAT_LOCALE_USER_DEFAULT, 0, &t, nullptr, nullptr, 0), 9);
    EXPECT_EQ(PlatGetDateFormat(PLAT_LOCALE_USER_DEFAULT, 0, &t, nullptr, buffer, 8), 0);
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(PlatGetDateFormat(PLAT_LOCALE_USER_DEFAULT, 0, &t, u"yyyy", buffer, 256), 0);
    EXPECT_EQ(PlatGetDateFormat(PLAT_LOCALE_USER_DEFAULT, 0, nullptr, nullptr, buffer, 256), 0);
    PlatSystemTime bad = t;
    bad.wMonth = 13;
    EXPECT_EQ(PlatGetTimeFormat(PLAT_LOCALE_USER_DEFAULT, 0, &bad, nullptr, buffer, 256), 0);
    EXPECT_EQ(PlatGetLastError(), PLAT_ERROR_INVALID_PARAMETER);
}

TEST(PlatLocale, AnUninstalledLocaleFallsBackToC)
{
    ScopedEnv all("LC_ALL", "xx_NOWHERE.UTF-8");
    PlatSystemTime t{};
    ASSERT_TRUE(PlatFileTimeToSystemTime(FileTimeOf(0), &t));
    char16_t buffer[64];
    ASSERT_GT(PlatGetDateFormat(PLAT_LOCALE_USER_DEFAULT, 0, &t, nullptr, buffer, 64), 0);
    EXPECT_EQ(std::u16string(buffer), u"01/01/70");
}
