#include "KOutputGammaLUT.h"

#include <cmath>

#include "KDebug.h"
#include "KExceptionPixelProc2.h"
#include "KRounding.h"
#include "KTransferCurve.h"

namespace {

constexpr KUInt32 kTableSize = 65536;
constexpr KUInt32 kLastPositive = 32767;

KTransferCurve CurveForColorSpace(int colorSpace)
{
    switch (colorSpace) {
    case 0:
        return KTransferCurve(1.0, 0.0);
    case 1:
    case 3:
    case 5:
    case 7:
    case 9:
    case 10:
        return KTransferCurve(1.0 / 2.2, 0.0);
    case 2:
        return KTransferCurve(1.0 / 2.4, 0.00304);
    case 4:
    case 6:
    case 8:
    case 11:
        return KTransferCurve(1.0 / 1.8, 0.0);
    default:
        throw KExceptionPixelProc2("Unknown Color Space");
    }
}

// The curve with its highlights above 0.8 rolled off smoothly toward 1.005.
double LimitedValue(const KTransferCurve& curve, double x)
{
    const double y = curve.Evaluate(x);
    if (y > 0.8)
        return y * 1.005 / std::pow(std::pow(y, 32.0) + std::pow(1.005, 32.0), 1.0 / 32.0);
    return y;
}

KUInt16 Code(double y, KUInt32 maxOut)
{
    return static_cast<KUInt16>(KTruncToInt32(y * maxOut + 0.5));
}

}  // namespace

std::unique_ptr<KLUT> CreateOutputGammaLUT(int colorSpace, int outputBits)
{
    KASSERT(outputBits >= 1 && outputBits <= 16);
    const KTransferCurve curve = CurveForColorSpace(colorSpace);
    const KUInt32 maxOut = (1u << outputBits) - 1;
    auto lut = std::make_unique<KLUT>(new KInt16[kTableSize](), kTableSize, true);
    KInt16* t = lut->m_pData;

    // Non-negative inputs: sparse samples, linear in between, until the code reaches maxOut.
    KUInt32 next = 0;  // first unfilled entry
    double yPrev = 0.0;
    KUInt32 step = 8;
    bool saturated = false;
    for (KUInt32 i = 0; !saturated && next <= kLastPositive; i += step++) {
        const KUInt32 s = i > kLastPositive ? kLastPositive : i;  // a last sample at the end, never used in practice
        const double y = LimitedValue(curve, s / 4096.0);
        const double base = static_cast<double>(next) - 1.0;
        for (KUInt32 j = next; j <= s; ++j) {
            const double f = (j - base) / (s - base);
            const KInt32 code = KTruncToInt32(((1.0 - f) * yPrev + f * y) * maxOut + 0.5);
            if (code >= static_cast<KInt32>(maxOut)) {
                for (KUInt32 k = j; k <= kLastPositive; ++k)
                    t[k] = static_cast<KInt16>(maxOut);
                saturated = true;
                break;
            }
            t[j] = static_cast<KInt16>(static_cast<KUInt16>(code < 0 ? 0 : code));
        }
        next = s + 1;
        yPrev = y;
    }

    // Negative inputs: 0, except the few just below zero where the toe line is still positive.
    for (KUInt32 i = kLastPositive + 1; i < kTableSize; ++i)
        t[i] = 0;
    for (KUInt32 i = kTableSize - 1; i > kLastPositive + 1; --i) {
        const double y = LimitedValue(curve, (static_cast<double>(i) - 65536.0) / 4096.0);
        if (y <= 0.0)
            break;
        t[i] = static_cast<KInt16>(Code(y, maxOut));
    }
    return lut;
}
