#pragma once
// Conversions from double to integer as the pixel stages do them ("truncate toward zero", "add 0.5 and then
// truncate"), made safe for any input: a value outside the target range saturates and not-a-number gives 0,
// where a plain cast would be undefined. Values in range convert exactly as a cast does.
#include <cmath>

#include "KTypes.h"

inline KInt32 KTruncToInt32(double x)
{
    if (std::isnan(x))
        return 0;
    if (x >= 2147483647.0)
        return 2147483647;
    if (x <= -2147483648.0)
        return -2147483647 - 1;
    return static_cast<KInt32>(x);
}

// trunc(x + 0.5): rounds half up for positive values; a negative value rounds toward zero after the 0.5.
inline KInt32 KRoundToInt32(double x)
{
    return KTruncToInt32(x + 0.5);
}

inline KInt16 KSaturateToInt16(KInt32 v)
{
    return static_cast<KInt16>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}
