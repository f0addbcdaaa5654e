#include "KUiDateText.h"

namespace {

constexpr uint64_t kSecondsFrom1601To1970 = 11644473600ull;
constexpr int kBufferUnits = 256;

using FormatFunction = int (*)(uint32_t, uint32_t, const PlatSystemTime*, const char16_t*, char16_t*, int);

KWString Format(uint32_t seconds, FormatFunction format, const char* failure)
{
    PlatSystemTime time{};
    char16_t buffer[kBufferUnits];
    if (!SecondsToSystemTime(seconds, &time) ||
        format(PLAT_LOCALE_USER_DEFAULT, 0, &time, nullptr, buffer, kBufferUnits) == 0)
        return KWString(failure);
    return KWString(buffer);
}

}  // namespace

bool SecondsToSystemTime(uint32_t seconds, PlatSystemTime* out)
{
    if (!out)
        return false;
    const uint64_t fileTime = (uint64_t(seconds) + kSecondsFrom1601To1970) * 10000000ull;
    return PlatFileTimeToSystemTime(fileTime, out);
}

KWString FormatDateString(uint32_t seconds)
{
    return Format(seconds, PlatGetDateFormat, "DATE CONVERSION FAILED");
}

KWString FormatTimeString(uint32_t seconds)
{
    return Format(seconds, PlatGetTimeFormat, "TIME CONVERSION FAILED");
}
