#pragma once
// Stores of working values: a result beyond the signed 16-bit range saturates instead of wrapping.
#include "KTypes.h"

inline KInt16 KSaturate16(KInt64 v)
{
    return static_cast<KInt16>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}
