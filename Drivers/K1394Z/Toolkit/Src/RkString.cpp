// Counted strings: buffers from the pool (tag "DRKC"), always zero-terminated.
#include "RkDevice.h"

namespace {

constexpr ULONG kMaxChars = 0x7FFE;  // a counted string's bytes must fit 16 bits with the terminator

size_t Chars(PCUNICODE_STRING s)
{
    return s && s->Buffer ? s->Length / sizeof(WCHAR) : 0;
}

PWSTR NewBuffer(size_t chars)
{
    return static_cast<PWSTR>(ExAllocatePoolWithTag(NonPagedPool, (chars + 1) * sizeof(WCHAR), RK_DRIVER_TAG));
}

void Adopt(PUNICODE_STRING string, PWSTR buffer, size_t chars)
{
    buffer[chars] = 0;
    string->Buffer = buffer;
    string->Length = static_cast<USHORT>(chars * sizeof(WCHAR));
    string->MaximumLength = static_cast<USHORT>((chars + 1) * sizeof(WCHAR));
}

}  // namespace

NTSTATUS RkStrConvertUnicode(PUNICODE_STRING string, PCWSTR text)
{
    size_t chars = 0;
    while (text && text[chars])
        ++chars;
    RkStrEmpty(string);
    if (chars > kMaxChars)
        return STATUS_INVALID_PARAMETER;
    PWSTR buffer = NewBuffer(chars);
    if (!buffer) {
        DbgPrint("Rokit:RkStrConvertUnicode ***ExAllocatePoolWithTag(%d)\n", static_cast<int>((chars + 1) * sizeof(WCHAR)));
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    if (chars)
        RtlCopyMemory(buffer, text, chars * sizeof(WCHAR));
    Adopt(string, buffer, chars);
    return STATUS_SUCCESS;
}

NTSTATUS RkStrConvertInteger(PUNICODE_STRING string, ULONG value, ULONG base)
{
    RkStrEmpty(string);
    if (base == 0)
        base = 10;
    ULONG room;
    switch (base) {
    case 2: room = 32; break;
    case 8: room = 11; break;
    case 10: room = 10; break;
    case 16: room = 8; break;
    default:
        DbgPrint("RkStrConvertInteger: Invalid base value entered %d\n", static_cast<int>(base));
        return STATUS_INVALID_PARAMETER;
    }
    PWSTR buffer = NewBuffer(room);
    if (!buffer) {
        DbgPrint("RkStrConvertInteger: Failed ExAllocatePoolWithTag(%d)\n", static_cast<int>((room + 1) * sizeof(WCHAR)));
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    if (base == 2 && value >= 32768) {
        // Bit by bit from the highest set bit.
        int top = 31;
        while (!(value & (1u << top)))
            --top;
        size_t n = 0;
        for (int bit = top; bit >= 0; --bit)
            buffer[n++] = (value & (1u << bit)) ? u'1' : u'0';
        Adopt(string, buffer, n);
        return STATUS_SUCCESS;
    }
    UNICODE_STRING digits;
    digits.Buffer = buffer;
    digits.Length = 0;
    digits.MaximumLength = static_cast<USHORT>((room + 1) * sizeof(WCHAR));
    NTSTATUS status = RtlIntegerToUnicodeString(value, base, &digits);
    if (!NT_SUCCESS(status)) {
        DbgPrint("RkStrConvertInteger: RtlIntegerToUnicodeString failed 0x%X\n", static_cast<ULONG>(status));
        ExFreePoolWithTag(buffer, RK_DRIVER_TAG);
        return status;
    }
    Adopt(string, buffer, digits.Length / sizeof(WCHAR));
    return STATUS_SUCCESS;
}

void RkStrEmpty(PUNICODE_STRING string)
{
    string->Buffer = nullptr;
    string->Length = 0;
    string->MaximumLength = 0;
}

void RkStrFree(PUNICODE_STRING string)
{
    if (string->Buffer)
        ExFreePoolWithTag(string->Buffer, RK_DRIVER_TAG);
    RkStrEmpty(string);
}

NTSTATUS RkStrAppend(PUNICODE_STRING string, PCUNICODE_STRING tail)
{
    size_t have = Chars(string);
    size_t add = Chars(tail);
    if (have + add > kMaxChars)
        return STATUS_INVALID_PARAMETER;
    if ((have + add + 1) * sizeof(WCHAR) > string->MaximumLength || !string->Buffer) {
        PWSTR buffer = NewBuffer(have + add);
        if (!buffer) {
            DbgPrint("Rokit:RkStrAppend ***ExAllocatePoolWithTag(%d)\n", static_cast<int>((have + add + 1) * sizeof(WCHAR)));
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        if (have)
            RtlCopyMemory(buffer, string->Buffer, have * sizeof(WCHAR));
        if (add)
            RtlCopyMemory(buffer + have, tail->Buffer, add * sizeof(WCHAR));
        RkStrFree(string);
        Adopt(string, buffer, have + add);
        return STATUS_SUCCESS;
    }
    if (add)
        RtlMoveMemory(string->Buffer + have, tail->Buffer, add * sizeof(WCHAR));
    string->Length = static_cast<USHORT>((have + add) * sizeof(WCHAR));
    string->Buffer[have + add] = 0;
    return STATUS_SUCCESS;
}

NTSTATUS RkStrAppendNew(PUNICODE_STRING result, PCUNICODE_STRING first, PCUNICODE_STRING second)
{
    RkStrEmpty(result);
    size_t a = Chars(first);
    size_t b = Chars(second);
    if (a + b > kMaxChars)
        return STATUS_INVALID_PARAMETER;
    PWSTR buffer = NewBuffer(a + b);
    if (!buffer) {
        DbgPrint("Rokit:RkStrAppend ***ExAllocatePoolWithTag(%d)\n", static_cast<int>((a + b + 1) * sizeof(WCHAR)));
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    UNICODE_STRING made;
    made.Buffer = buffer;
    made.Length = 0;
    made.MaximumLength = static_cast<USHORT>((a + b + 1) * sizeof(WCHAR));
    NTSTATUS status = RtlAppendUnicodeStringToString(&made, first);
    if (NT_SUCCESS(status))
        status = RtlAppendUnicodeStringToString(&made, second);
    if (!NT_SUCCESS(status)) {
        DbgPrint("Rokit:RkStrAppend: RtlAppendUnicodeStringToString failed: 0x%08X\n", static_cast<ULONG>(status));
        ExFreePoolWithTag(buffer, RK_DRIVER_TAG);
        return status;
    }
    Adopt(result, buffer, a + b);
    return STATUS_SUCCESS;
}

NTSTATUS RkStrAppendNumber(PUNICODE_STRING string, ULONG value, ULONG base)
{
    UNICODE_STRING number;
    NTSTATUS status = RkStrConvertInteger(&number, value, base);
    if (!NT_SUCCESS(status))
        return status;
    status = RkStrAppend(string, &number);
    RkStrFree(&number);
    return status;
}

LONG RkStrFind(PCUNICODE_STRING string, PCUNICODE_STRING what, LONG start, BOOLEAN distanceFromEnd)
{
    LONG n = static_cast<LONG>(Chars(string));
    LONG m = static_cast<LONG>(Chars(what));
    if (m == 0 || m > n)
        return -1;
    auto matches = [&](LONG at) {
        for (LONG k = 0; k < m; ++k)
            if (string->Buffer[at + k] != what->Buffer[k])
                return false;
        return true;
    };
    LONG found = -1;
    if (start >= 0) {
        for (LONG at = start; at + m <= n; ++at)
            if (matches(at)) {
                found = at;
                break;
            }
    } else {
        // -1 starts at the last possible place, -2 one before it, ...
        LONG from = n - m + 1 + start;
        for (LONG at = from; at >= 0; --at)
            if (matches(at)) {
                found = at;
                break;
            }
    }
    if (found < 0)
        return -1;
    return distanceFromEnd ? n - found : found;
}

NTSTATUS RkStrMid(PUNICODE_STRING result, PCUNICODE_STRING string, ULONG start, ULONG count)
{
    RkStrEmpty(result);
    uint64_t n = Chars(string);
    if (static_cast<uint64_t>(start) + count > n) {
        DbgPrint("Rokit:RkStrMid **arguments out of range\n");
        return STATUS_INVALID_PARAMETER;
    }
    PWSTR buffer = NewBuffer(count);
    if (!buffer) {
        DbgPrint("Rokit:RkStrMid ***ExAllocatePoolWithTag(%d)\n", static_cast<int>((count + 1) * sizeof(WCHAR)));
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    if (count)
        RtlCopyMemory(buffer, string->Buffer + start, count * sizeof(WCHAR));
    Adopt(result, buffer, count);
    return STATUS_SUCCESS;
}
