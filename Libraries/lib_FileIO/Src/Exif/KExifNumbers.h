#pragma once
// Number helpers shared by the EXIF reader and writers.
#include <cmath>
#include <cstdint>

// C's (int) cast (truncation towards zero) made total: NaN gives 0, values beyond the int range saturate.
inline int ExifTruncToInt(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= 2147483647.0)
        return INT32_MAX;
    if (v <= -2147483648.0)
        return INT32_MIN;
    return static_cast<int>(v);
}
