// Counted strings, memory routines and the operating system's identity.
#include <cstring>

#include "KernelPrivate.h"
#include "PlatformOS.h"

namespace {

WCHAR Upper(WCHAR c)
{
    return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - u'a' + u'A') : c;
}

size_t WideLength(PCWSTR s)
{
    size_t n = 0;
    while (s && s[n])
        ++n;
    return n;
}

void TerminateIfRoom(PUNICODE_STRING s)
{
    if (s->Length + sizeof(WCHAR) <= s->MaximumLength)
        s->Buffer[s->Length / sizeof(WCHAR)] = 0;
}

NTSTATUS Append(PUNICODE_STRING destination, PCWSTR source, size_t bytes)
{
    if (destination->Length + bytes > destination->MaximumLength)
        return STATUS_BUFFER_TOO_SMALL;
    if (bytes)
        std::memmove(reinterpret_cast<char*>(destination->Buffer) + destination->Length, source, bytes);
    destination->Length = static_cast<USHORT>(destination->Length + bytes);
    TerminateIfRoom(destination);
    return STATUS_SUCCESS;
}

}  // namespace

extern "C" void RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source)
{
    size_t bytes = WideLength(source) * sizeof(WCHAR);
    if (bytes > 0xFFFC)
        bytes = 0xFFFC;
    destination->Buffer = const_cast<PWSTR>(source);
    destination->Length = static_cast<USHORT>(bytes);
    destination->MaximumLength = static_cast<USHORT>(source ? bytes + sizeof(WCHAR) : 0);
}

extern "C" void RtlCopyUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source)
{
    if (!source || !source->Buffer) {
        destination->Length = 0;
        return;
    }
    USHORT bytes = source->Length < destination->MaximumLength ? source->Length : destination->MaximumLength;
    bytes &= static_cast<USHORT>(~1u);
    std::memmove(destination->Buffer, source->Buffer, bytes);
    destination->Length = bytes;
    TerminateIfRoom(destination);
}

extern "C" NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING destination, PCUNICODE_STRING source)
{
    if (!source || !source->Length)
        return STATUS_SUCCESS;
    return Append(destination, source->Buffer, source->Length);
}

extern "C" NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING destination, PCWSTR source)
{
    return Append(destination, source, WideLength(source) * sizeof(WCHAR));
}

extern "C" NTSTATUS RtlIntegerToUnicodeString(ULONG value, ULONG base, PUNICODE_STRING string)
{
    if (base == 0)
        base = 10;
    if (base != 2 && base != 8 && base != 10 && base != 16)
        return STATUS_INVALID_PARAMETER;
    WCHAR digits[33];
    size_t n = 0;
    do {
        ULONG d = value % base;
        digits[n++] = static_cast<WCHAR>(d < 10 ? u'0' + d : u'A' + d - 10);
        value /= base;
    } while (value);
    size_t bytes = n * sizeof(WCHAR);
    if (bytes > string->MaximumLength)
        return STATUS_BUFFER_OVERFLOW;
    for (size_t i = 0; i < n; ++i)
        string->Buffer[i] = digits[n - 1 - i];
    string->Length = static_cast<USHORT>(bytes);
    TerminateIfRoom(string);
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS RtlUnicodeStringToInteger(PCUNICODE_STRING string, ULONG base, PULONG value)
{
    size_t n = string->Length / sizeof(WCHAR);
    size_t i = 0;
    while (i < n && string->Buffer[i] == u' ')
        ++i;
    bool negative = false;
    if (i < n && (string->Buffer[i] == u'-' || string->Buffer[i] == u'+'))
        negative = string->Buffer[i++] == u'-';
    if (base == 0) {
        base = 10;
        if (i + 1 < n && string->Buffer[i] == u'0') {
            WCHAR p = string->Buffer[i + 1];
            if (p == u'x') base = 16;
            else if (p == u'o') base = 8;
            else if (p == u'b') base = 2;
            if (base != 10)
                i += 2;
        }
    } else if (base != 2 && base != 8 && base != 10 && base != 16) {
        return STATUS_INVALID_PARAMETER;
    }
    ULONG result = 0;
    for (; i < n; ++i) {
        WCHAR c = Upper(string->Buffer[i]);
        ULONG d;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        else
            break;
        if (d >= base)
            break;
        result = result * base + d;
    }
    *value = negative ? static_cast<ULONG>(0u - result) : result;
    return STATUS_SUCCESS;
}

extern "C" LONG RtlCompareUnicodeString(PCUNICODE_STRING string1, PCUNICODE_STRING string2, BOOLEAN caseInsensitive)
{
    size_t n1 = string1->Length / sizeof(WCHAR);
    size_t n2 = string2->Length / sizeof(WCHAR);
    size_t n = n1 < n2 ? n1 : n2;
    for (size_t i = 0; i < n; ++i) {
        WCHAR a = string1->Buffer[i];
        WCHAR b = string2->Buffer[i];
        if (caseInsensitive) {
            a = Upper(a);
            b = Upper(b);
        }
        if (a != b)
            return static_cast<LONG>(a) - static_cast<LONG>(b);
    }
    return static_cast<LONG>(n1) - static_cast<LONG>(n2);
}

extern "C" BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING string1, PCUNICODE_STRING string2, BOOLEAN caseInsensitive)
{
    return string1->Length == string2->Length && RtlCompareUnicodeString(string1, string2, caseInsensitive) == 0;
}

extern "C" void RtlFreeUnicodeString(PUNICODE_STRING string)
{
    if (string->Buffer)
        ExFreePool(string->Buffer);
    string->Buffer = nullptr;
    string->Length = string->MaximumLength = 0;
}

extern "C" SIZE_T RtlCompareMemory(const void* source1, const void* source2, SIZE_T length)
{
    const auto* a = static_cast<const UCHAR*>(source1);
    const auto* b = static_cast<const UCHAR*>(source2);
    SIZE_T i = 0;
    while (i < length && a[i] == b[i])
        ++i;
    return i;
}

extern "C" void RtlCopyMemory(void* destination, const void* source, SIZE_T length)
{
    if (length)
        std::memmove(destination, source, length);
}

extern "C" void RtlMoveMemory(void* destination, const void* source, SIZE_T length)
{
    if (length)
        std::memmove(destination, source, length);
}

extern "C" void RtlZeroMemory(void* destination, SIZE_T length)
{
    if (length)
        std::memset(destination, 0, length);
}

extern "C" void RtlFillMemory(void* destination, SIZE_T length, UCHAR fill)
{
    if (length)
        std::memset(destination, fill, length);
}

extern "C" BOOLEAN IoIsWdmVersionAvailable(UCHAR majorVersion, UCHAR minorVersion)
{
    uint8_t major = 0, minor = 0;
    if (!PlatGetWdmVersion(&major, &minor))
        return FALSE;
    return (majorVersion < major || (majorVersion == major && minorVersion <= minor)) ? TRUE : FALSE;
}

extern "C" BOOLEAN PsGetVersion(PULONG majorVersion, PULONG minorVersion, PULONG buildNumber,
                                PUNICODE_STRING csdVersion)
{
    PlatOsVersion v{};
    PlatGetVersion(&v);
    if (majorVersion)
        *majorVersion = v.major;
    if (minorVersion)
        *minorVersion = v.minor;
    if (buildNumber)
        *buildNumber = v.build;
    if (csdVersion && csdVersion->Buffer) {
        csdVersion->Length = 0;
        for (const char* c = v.servicePack; *c && csdVersion->Length + 2 * sizeof(WCHAR) <= csdVersion->MaximumLength; ++c)
            csdVersion->Buffer[csdVersion->Length / sizeof(WCHAR)] = static_cast<WCHAR>(static_cast<UCHAR>(*c)),
            csdVersion->Length = static_cast<USHORT>(csdVersion->Length + sizeof(WCHAR));
        TerminateIfRoom(csdVersion);
    }
    return FALSE;  // not a checked build
}
