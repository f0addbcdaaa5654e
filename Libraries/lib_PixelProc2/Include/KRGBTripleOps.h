#pragma once
// Integer helpers of the colour stages on KRGBTriple values: a 13-bit fixed-point 3 x 3 matrix, table
// look-ups per channel, and component-wise subtraction and division. Inline: they run once per pixel.
#include <array>

#include "KDebug.h"
#include "KLUT.h"
#include "KMatrix3x3.h"
#include "KRGBTriple.h"
#include "KRounding.h"

// A colour matrix in 13 fractional bits (8192 = 1.0), row by row.
using KFixedMatrix3x3 = std::array<KInt32, 9>;

// Each element round(m x 8192): 0.5 added, then truncated toward zero.
inline KFixedMatrix3x3 ToFixedMatrix(const KMatrix3x3& m)
{
    KFixedMatrix3x3 f;
    for (int i = 0; i < 9; ++i)
        f[i] = KRoundToInt32(m[i] * 8192.0);
    return f;
}

// out_i = (sum over j of M_ij x v_j + 4096) >> 13, the sum formed in 64 bits (it can pass 32) and the shift
// arithmetic.
inline KRGBTriple ApplyFixedMatrix(const KFixedMatrix3x3& m, const KRGBTriple& v)
{
    auto row = [&](int i) {
        const KInt64 s = KInt64(m[i * 3]) * v.r + KInt64(m[i * 3 + 1]) * v.g + KInt64(m[i * 3 + 2]) * v.b + 4096;
        return static_cast<KInt32>(s >> 13);
    };
    return KRGBTriple(row(0), row(1), row(2));
}

// Channel c looked up in table c; entries sign-extended.
inline KRGBTriple LookupColorLUT(const KColorLUT& lut, const KRGBTriple& v)
{
    return KRGBTriple(lut.Lookup(0, static_cast<KUInt32>(v.r)), lut.Lookup(1, static_cast<KUInt32>(v.g)),
                      lut.Lookup(2, static_cast<KUInt32>(v.b)));
}

// All channels looked up in one table; entries zero-extended (unsigned 16-bit codes).
inline KRGBTriple LookupLUT(const KLUT& lut, const KRGBTriple& v)
{
    return KRGBTriple(static_cast<KUInt16>(lut[static_cast<KUInt32>(v.r)]),
                      static_cast<KUInt16>(lut[static_cast<KUInt32>(v.g)]),
                      static_cast<KUInt16>(lut[static_cast<KUInt32>(v.b)]));
}

// a - b per component, wrapping in 32 bits like the other triple arithmetic.
inline KRGBTriple SubtractTriples(const KRGBTriple& a, const KRGBTriple& b)
{
    auto sub = [](KInt32 x, KInt32 y) { return static_cast<KInt32>(static_cast<KUInt32>(x) - static_cast<KUInt32>(y)); };
    return KRGBTriple(sub(a.r, b.r), sub(a.g, b.g), sub(a.b, b.b));
}

inline KRGBTriple SubtractScalar(const KRGBTriple& a, KInt32 n)
{
    return SubtractTriples(a, KRGBTriple(n, n, n));
}

// Each component divided by n, truncating toward zero; n must not be 0.
inline KRGBTriple DivideByScalar(const KRGBTriple& a, KInt32 n)
{
    KASSERT(n != 0);
    auto div = [n](KInt32 x) { return static_cast<KInt32>(KInt64(x) / n); };
    return KRGBTriple(div(a.r), div(a.g), div(a.b));
}
