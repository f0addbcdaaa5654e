#include "PlatformLocale.h"

#include <clocale>
#include <cstring>
#include <ctime>
#include <locale.h>
#include <string>

#include "PlatformError.h"

namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr int64_t kSecondsPerDay = 86400;

bool IsLeap(int64_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int64_t year, int month)
{
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Year, month and day of a count of days since 1601-01-01 (the first year of a 400-year cycle).
void CivilFromDays(int64_t days, int64_t* year, int* month, int* day)
{
    const int64_t cycles = days / 146097;  // 400-year cycles
    int64_t rest = days % 146097;
    int64_t centuries = rest / 36524;
    if (centuries == 4)  // the last day of the cycle
        centuries = 3;
    rest -= centuries * 36524;
    const int64_t quads = rest / 1461;
    rest %= 1461;
    int64_t years = rest / 365;
    if (years == 4)  // the last day of a leap year
        years = 3;
    rest -= years * 365;
    *year = 1601 + cycles * 400 + centuries * 100 + quads * 4 + years;
    int m = 1;
    while (rest >= DaysInMonth(*year, m)) {
        rest -= DaysInMonth(*year, m);
        ++m;
    }
    *month = m;
    *day = static_cast<int>(rest) + 1;
}

int DayOfYear(const PlatSystemTime& t)
{
    int days = 0;
    for (int m = 1; m < t.wMonth; ++m)
        days += DaysInMonth(t.wYear, m);
    return days + t.wDay - 1;
}

void AppendUtf16(std::u16string& out, const char* utf8)
{
    const auto* s = reinterpret_cast<const unsigned char*>(utf8);
    while (*s) {
        uint32_t c = *s;
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0) {
            out += u'\uFFFD';
            ++s;
            continue;
        }
        c &= extra == 0 ? 0x7F : 0x3F >> extra;
        int i = 1;
        for (; i <= extra && (s[i] & 0xC0) == 0x80; ++i)
            c = (c << 6) | (s[i] & 0x3F);
        s += i;
        if (i <= extra) {
            out += u'\uFFFD';
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
}

int Format(const char* format, uint32_t locale, uint32_t flags, const PlatSystemTime* time, const char16_t* picture,
           char16_t* buffer, int bufferLength)
{
    if (!time || picture || flags != 0 || bufferLength < 0 || (bufferLength > 0 && !buffer) ||
        (locale != PLAT_LOCALE_USER_DEFAULT && locale != 0) || time->wMonth < 1 || time->wMonth > 12 ||
        time->wDay < 1 || time->wDay > DaysInMonth(time->wYear, time->wMonth) || time->wHour > 23 ||
        time->wMinute > 59 || time->wSecond > 59) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return 0;
    }
    locale_t user = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    if (user == static_cast<locale_t>(0))
        user = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
    if (user == static_cast<locale_t>(0)) {
        PlatSetLastError(PLAT_ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    std::tm tm{};
    tm.tm_year = time->wYear - 1900;
    tm.tm_mon = time->wMonth - 1;
    tm.tm_mday = time->wDay;
    tm.tm_hour = time->wHour;
    tm.tm_min = time->wMinute;
    tm.tm_sec = time->wSecond;
    tm.tm_wday = time->wDayOfWeek % 7;
    tm.tm_yday = DayOfYear(*time);
    char text[256];
    const size_t n = strftime_l(text, sizeof text, format, &tm, user);
    freelocale(user);
    if (n == 0) {
        PlatSetLastError(PLAT_ERROR_GEN_FAILURE);
        return 0;
    }
    std::u16string wide;
    AppendUtf16(wide, text);
    const int needed = static_cast<int>(wide.size()) + 1;
    if (bufferLength == 0)
        return needed;
    if (bufferLength < needed) {
        PlatSetLastError(PLAT_ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, wide.c_str(), sizeof(char16_t) * static_cast<size_t>(needed));
    return needed;
}

}  // namespace

bool PlatFileTimeToSystemTime(uint64_t fileTime, PlatSystemTime* out)
{
    if (!out || fileTime >= (uint64_t(1) << 63)) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return false;
    }
    const uint64_t seconds = fileTime / kTicksPerSecond;
    const int64_t days = static_cast<int64_t>(seconds / kSecondsPerDay);
    const int64_t secondOfDay = static_cast<int64_t>(seconds % kSecondsPerDay);
    int64_t year = 0;
    int month = 0, day = 0;
    CivilFromDays(days, &year, &month, &day);
    if (year > 30827) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return false;
    }
    out->wYear = static_cast<uint16_t>(year);
    out->wMonth = static_cast<uint16_t>(month);
    out->wDay = static_cast<uint16_t>(day);
    out->wDayOfWeek = static_cast<uint16_t>((days + 1) % 7);  // 1601-01-01 was a Monday
    out->wHour = static_cast<uint16_t>(secondOfDay / 3600);
    out->wMinute = static_cast<uint16_t>(secondOfDay / 60 % 60);
    out->wSecond = static_cast<uint16_t>(secondOfDay % 60);
    out->wMilliseconds = static_cast<uint16_t>(fileTime % kTicksPerSecond / 10000);
    return true;
}

int PlatGetDateFormat(uint32_t locale, uint32_t flags, const PlatSystemTime* time, const char16_t* picture,
                      char16_t* buffer, int bufferLength)
{
    return Format("%x", locale, flags, time, picture, buffer, bufferLength);
}

int PlatGetTimeFormat(uint32_t locale, uint32_t flags, const PlatSystemTime* time, const char16_t* picture,
                      char16_t* buffer, int bufferLength)
{
    return Format("%X", locale, flags, time, picture, buffer, bufferLength);
}
