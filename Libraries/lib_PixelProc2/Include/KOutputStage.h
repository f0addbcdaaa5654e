#pragma once
// Stage 4 of development: the detail layer is added back to the working image, the tone curve applied, the
// working colour space converted to the output space with a saturation adjustment, the deepest shadows
// lifted by a soft toe, and every channel encoded through the output space's gamma table into the output
// pixel type. Integer fixed point per pixel; the floating-point work is done once per call. Keeps no state.
#include "KLUT.h"
#include "KMatrix3x3.h"
#include "KPixmap.h"
#include "KRGBTriple.h"

namespace KPixelProc2 {

// working: encoded working image (48SRGB); detail: its detail layer (one signed value per pixel, at least as
// large); sharpening s: detail gain 1 + s; tone: the tone table (channel c in table c); matrix: from
// CalculateOutputColorMatrix; gamma: the output space's table (unsigned codes); out: 24RGB, 32BGRA or 48RGB
// with at least the working image's rows and columns, of which the working image's columns are written.
// Throws KExceptionPixelProc2 "KPixelProc2::ProcessToOutput: unknown output pixel type." for any other output
// type, and likewise when out or detail is smaller than the working image; nothing is written then.
void ProcessToOutput(const KPixmapTemplate<KPixelClass48SRGB>& working, const KPixmapTemplate<KPixelClass16SMono>& detail,
                     double sharpening, const KColorLUT& tone, const KMatrix3x3& matrix, const KLUT& gamma,
                     KPixmap& out);

}  // namespace KPixelProc2

// The shadow toe on the colour-converted values: with m the largest channel, k = 512 - (m >> 1) but at least
// 32; a channel r below 512 - k becomes ((t x t) >> 11) - k with t = r + k + 512, or -k where t < 0.
inline KRGBTriple ApplyShadowToe(const KRGBTriple& v)
{
    const KInt32 m = v.r > v.g ? (v.r > v.b ? v.r : v.b) : (v.g > v.b ? v.g : v.b);
    const KInt32 k0 = 512 - (m >> 1);
    const KInt32 k = k0 < 32 ? 32 : k0;
    auto toe = [k](KInt32 r) {
        if (r >= 512 - k)
            return r;
        const KInt32 t = r + k + 512;
        return t < 0 ? -k : ((t * t) >> 11) - k;
    };
    return KRGBTriple(toe(v.r), toe(v.g), toe(v.b));
}

// The working-to-output matrix: the output space's XYZ-to-RGB matrix (D65) times the inverse of the working
// space's, times the saturation matrix (diagonal 1 + q / 3, elsewhere -q / 6; rows sum to 1, so neutrals stay
// neutral). Fills result and returns it; an unknown colour space throws as CreateColorSpaceWhitePoint does.
KMatrix3x3& CalculateOutputColorMatrix(KMatrix3x3& result, int colorSpace, double saturation);
