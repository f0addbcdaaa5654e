#pragma once
// Basic types shared by the whole tree.
#include <cstddef>
#include <cstdint>

// One UTF-16 code unit: the system's wide character.
using KWChar = char16_t;

using KUInt8 = uint8_t;
using KInt16 = int16_t;
using KUInt16 = uint16_t;
using KInt32 = int32_t;
using KUInt32 = uint32_t;
using KInt64 = int64_t;
using KUInt64 = uint64_t;

#if defined(__GNUC__)
#define K_PRINTF_FORMAT(fmtIndex, firstArg) __attribute__((format(printf, fmtIndex, firstArg)))
#else
#define K_PRINTF_FORMAT(fmtIndex, firstArg)
#endif
