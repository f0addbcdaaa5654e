#include "KMatrix3x3.h"

KMatrix3x3 Zero3x3()
{
    return KMatrix3x3{};
}

KMatrix3x3 Multiply3x3(const KMatrix3x3& a, const KMatrix3x3& b)
{
    KMatrix3x3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double s = 0.0;
            for (int k = 0; k < 3; ++k)
                s += a[i * 3 + k] * b[k * 3 + j];
            r[i * 3 + j] = s;
        }
    return r;
}

KMatrix3x3 Scale3x3(const KMatrix3x3& a, double s)
{
    KMatrix3x3 r;
    for (int i = 0; i < 9; ++i)
        r[i] = a[i] * s;
    return r;
}

double Determinant3x3(const KMatrix3x3& m)
{
    return m[0] * (m[4] * m[8] - m[7] * m[5]) - m[1] * (m[3] * m[8] - m[6] * m[5]) + m[2] * (m[3] * m[7] - m[6] * m[4]);
}

KMatrix3x3 Invert3x3(const KMatrix3x3& m)
{
    const double inv = 1.0 / Determinant3x3(m);
    KMatrix3x3 r;
    r[0] = (m[4] * m[8] - m[5] * m[7]) * inv;
    r[1] = (m[2] * m[7] - m[1] * m[8]) * inv;
    r[2] = (m[1] * m[5] - m[2] * m[4]) * inv;
    r[3] = (m[5] * m[6] - m[3] * m[8]) * inv;
    r[4] = (m[0] * m[8] - m[2] * m[6]) * inv;
    r[5] = (m[2] * m[3] - m[0] * m[5]) * inv;
    r[6] = (m[3] * m[7] - m[4] * m[6]) * inv;
    r[7] = (m[1] * m[6] - m[0] * m[7]) * inv;
    r[8] = (m[0] * m[4] - m[1] * m[3]) * inv;
    return r;
}
