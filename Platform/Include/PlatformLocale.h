#pragma once
// Calendar times and their text in the user's own format.
#include <cstdint>

// A calendar date and time (UTC when made from a file time).
struct PlatSystemTime {
    uint16_t wYear;
    uint16_t wMonth;      // 1 to 12
    uint16_t wDayOfWeek;  // 0 Sunday to 6 Saturday
    uint16_t wDay;        // 1 to 31
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};

// fileTime counts 100-nanosecond intervals since 1601-01-01 00:00:00. False (PLAT_ERROR_INVALID_PARAMETER)
// for a null out or a count of 2^63 or more.
bool PlatFileTimeToSystemTime(uint64_t fileTime, PlatSystemTime* out);

enum : uint32_t { PLAT_LOCALE_USER_DEFAULT = 0x0400 };

// The date (short format) or the time of day of the user's locale (LC_TIME through LC_ALL, LC_TIME and LANG;
// the "C" locale when that one is not installed), as zero-terminated UTF-16 into buffer (bufferLength units).
// Answer: the units written with the terminator; with bufferLength 0, the units needed. 0 on failure:
// PLAT_ERROR_INVALID_PARAMETER (a null time, a date out of range, a picture, flags other than 0, a locale
// other than the user's), PLAT_ERROR_INSUFFICIENT_BUFFER, or PLAT_ERROR_GEN_FAILURE when the locale gives an
// empty text.
int PlatGetDateFormat(uint32_t locale, uint32_t flags, const PlatSystemTime* time, const char16_t* picture,
                      char16_t* buffer, int bufferLength);
int PlatGetTimeFormat(uint32_t locale, uint32_t flags, const PlatSystemTime* time, const char16_t* picture,
                      char16_t* buffer, int bufferLength);
