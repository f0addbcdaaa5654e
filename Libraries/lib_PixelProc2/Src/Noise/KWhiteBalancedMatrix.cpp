#include "KColorNoise.h"
#include "KColorSpace.h"

namespace {

double Luma(const double v[3])
{
    return 0.3 * v[0] + 0.55 * v[1] + 0.15 * v[2];
}

}  // namespace

void CalculateWhiteBalancedMatrix(KMatrix3x3& result, const KMatrix3x3& camToXyz, const double neutral[3], double gain,
                                  double saturation)
{
    KMatrix3x3 working;
    CreateColorSpaceWhitePoint(working, kWorkingColorSpace, kPcsWhitePointD65);
    KMatrix3x3 p = Multiply3x3(working, camToXyz);

    if (neutral[0] >= 0.0 && neutral[1] >= 0.0 && neutral[2] >= 0.0) {
        double v[3];
        for (int i = 0; i < 3; ++i)
            v[i] = p[i * 3] * neutral[0] + p[i * 3 + 1] * neutral[1] + p[i * 3 + 2] * neutral[2];
        const double floor = Luma(v) * 0.25;
        // A neutral that the matrix takes to a luma of zero or below (a degenerate camera matrix) has no grey to
        // balance to: the divisions below would be 0 / 0, so the matrix stays unbalanced as for a negative neutral.
        if (floor > 0.0) {
            for (double& c : v)
                if (!(c > floor))
                    c = floor;
            const double y = Luma(v);
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    p[i * 3 + j] *= y / v[i];
        }
    }

    KMatrix3x3 s;
    for (int i = 0; i < 9; ++i)
        s[i] = (i % 4 == 0) ? 1.0 - 2.0 * saturation : saturation;
    result = Scale3x3(Multiply3x3(s, p), gain);
}
