// The CRC, the string routines and the trace output of the camera links.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "KCamLinkSupport.h"
#include "KDebug.h"

namespace {

struct CrcTable {
    uint16_t entry[256];
    CrcTable()
    {
        for (unsigned i = 0; i < 256; ++i) {
            uint16_t crc = static_cast<uint16_t>(i << 8);
            for (int bit = 0; bit < 8; ++bit)
                crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
            entry[i] = crc;
        }
    }
};

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

uint16_t Crc16(const void* bytes, size_t n)
{
    static const CrcTable table;
    const auto* p = static_cast<const uint8_t*>(bytes);
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i)
        crc = static_cast<uint16_t>(table.entry[(crc >> 8) ^ p[i]] ^ (crc << 8));
    return crc;
}

size_t CamStrLength(const char* s)
{
    return s ? strlen(s) : 0;
}

char* CamStrCopy(char* dst, size_t capacity, const char* src)
{
    if (!dst || capacity == 0)
        return dst;
    dst[0] = '\0';
    return CamStrAppend(dst, capacity, src);
}

char* CamStrAppend(char* dst, size_t capacity, const char* src)
{
    if (!dst || capacity == 0)
        return dst;
    size_t used = strnlen(dst, capacity);
    if (used == capacity) {
        dst[capacity - 1] = '\0';
        return dst;
    }
    for (; src && *src && used + 1 < capacity; ++src)
        dst[used++] = *src;
    dst[used] = '\0';
    return dst;
}

int CamStrCompare(const char* a, const char* b)
{
    return strcmp(a ? a : "", b ? b : "");
}

int CamStrCompareNoCase(const char* a, const char* b)
{
    a = a ? a : "";
    b = b ? b : "";
    for (;; ++a, ++b) {
        const auto ca = static_cast<unsigned char>(LowerAscii(*a));
        const auto cb = static_cast<unsigned char>(LowerAscii(*b));
        if (ca != cb || ca == 0)
            return ca - cb;
    }
}

char* CamFormatUnsigned(char* dst, size_t capacity, uint32_t value)
{
    char digits[12];
    size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    digits[n] = '\0';
    CamStrReverse(digits);
    return CamStrCopy(dst, capacity, digits);
}

char* CamStrReverse(char* s)
{
    if (!s)
        return s;
    size_t n = strlen(s);
    for (size_t i = 0; i < n / 2; ++i) {
        char c = s[i];
        s[i] = s[n - 1 - i];
        s[n - 1 - i] = c;
    }
    return s;
}

int CamStrFindInTable(const char* const* table, uint32_t count, const char* s)
{
    if (!table || !s)
        return -1;
    for (uint32_t i = 0; i < count; ++i)
        if (table[i] && strcmp(table[i], s) == 0)
            return static_cast<int>(i);
    return -1;
}

void CamTrace(const char* format, ...)
{
    if (!kCamErrorTrace)
        return;
    va_list args;
    va_start(args, format);
    DebugTraceV(format, args);
    va_end(args);
}

void CamTraceVerbose(const char* format, ...)
{
    if (!kCamVerboseTrace)
        return;
    va_list args;
    va_start(args, format);
    DebugTraceV(format, args);
    va_end(args);
}
