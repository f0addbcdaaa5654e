#include "PlatformCodePage.h"

#include <cstddef>

#include "PlatformError.h"

namespace {

// Characters of Windows-1252's bytes 0x80 to 0x9F; bytes the code page leaves undefined stand for the C1
// control of the same number.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

char PlatAnsiFromWide(char16_t unit)
{
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return static_cast<char>(unit);
    for (unsigned i = 0; i < 32; ++i)
        if (kHigh[i] == unit)
            return static_cast<char>(0x80 + i);
    return '?';
}

int32_t PlatWideCharToMultiByte(const char16_t* text, int32_t length, char* out, int32_t outSize)
{
    if (!text || length == 0 || length < -1 || outSize < 0 || (outSize > 0 && !out)) {
        PlatSetLastError(PLAT_ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::size_t units = 0;
    if (length == -1) {
        while (text[units] != 0)
            ++units;
        ++units;  // the terminating zero converts too
    } else {
        units = static_cast<std::size_t>(length);
    }
    int64_t written = 0;
    for (std::size_t i = 0; i < units; ++i) {
        char16_t u = text[i];
        char c;
        if (IsHighSurrogate(u) && i + 1 < units && IsLowSurrogate(text[i + 1])) {
            c = '?';
            ++i;
        } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
            c = '?';
        } else {
            c = PlatAnsiFromWide(u);
        }
        if (outSize > 0) {
            if (written >= outSize) {
                PlatSetLastError(PLAT_ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            out[written] = c;
        }
        ++written;
    }
    PlatSetLastError(PLAT_ERROR_SUCCESS);
    return static_cast<int32_t>(written);
}
