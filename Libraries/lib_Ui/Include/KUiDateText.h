#pragma once
// File and capture times as text in the user's own format. Times are whole seconds since 1970-01-01 00:00:00
// UTC, shown in UTC (no conversion to local time).
#include <cstdint>

#include "KWString.h"
#include "PlatformLocale.h"

// False for a null out.
bool SecondsToSystemTime(uint32_t seconds, PlatSystemTime* out);
// The date in the user's short date format; "DATE CONVERSION FAILED" when it cannot be made.
KWString FormatDateString(uint32_t seconds);
// The time of day in the user's time format; "TIME CONVERSION FAILED" when it cannot be made.
KWString FormatTimeString(uint32_t seconds);
