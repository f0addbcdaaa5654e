#include "KToneCurve.h"

#include <algorithm>
#include <cmath>

#include "KDebug.h"
#include "KRounding.h"

namespace {

constexpr KUInt32 kTableSize = 65536;
constexpr KUInt32 kSampleStep = 32;
constexpr KUInt32 kSampleEnd = 8192;  // samples at 0, 32, ... 8160
constexpr KUInt32 kFirstNegative = 32768;
constexpr KInt32 kMaxEntry = 16384;

// The transfer curve's encoding and decoding without its knee line.
double Encode(const KTransferCurve& c, double r)
{
    if (r <= c.m_Threshold)
        return c.m_ToeSlope * r;
    return (std::pow(r, c.m_Gamma) - c.m_Offset) / (1.0 - c.m_Offset);
}

double Decode(const KTransferCurve& c, double e)
{
    if (e / c.m_ToeSlope <= c.m_Threshold)
        return e / c.m_ToeSlope;
    return std::pow((1.0 - c.m_Offset) * e + c.m_Offset, 1.0 / c.m_Gamma);
}

double Factor(double c)
{
    return c > 0.0 ? c : 1.0;
}

KInt16 Entry(double value)
{
    return static_cast<KInt16>(std::min(KRoundToInt32(value * 4096.0), kMaxEntry));
}

}  // namespace

void LayToneLUTView(KColorLUT& view, KInt16* data, KUInt32 rows)
{
    KASSERT(rows >= kTableSize);
    for (int c = 0; c < 3; ++c)
        view.m_pData[c] = data + size_t(c) * rows;
    view.m_Size = kTableSize;
    view.m_Mask = kTableSize - 1;
    view.m_bOwnsData = false;
}

KTransferCurve ToneTransferCurve()
{
    return KTransferCurve(1.0 / 2.4, 0.00304);
}

double ToneCurveValue(double x, double gain, double w, double u, double v, double toeEnd, double toeSlope,
                      double toeBase, double z, const KTransferCurve& curve, double d)
{
    const double n = std::pow(1.07, std::pow(1.5 * v + 1.0, 4.0));
    const double y = (x - w) * gain - d;
    if (y < toeEnd)
        return Decode(curve, std::max(y * toeSlope + toeBase, 0.0));
    const double p = std::pow(y, u) * z;
    const double q = p <= 0.01 ? 0.01 : p;
    const double k = std::pow(q, 0.2) * (0.36 * v + 0.65);
    return k * p / std::pow(std::pow(k, n) + std::pow(p, n), 1.0 / n);
}

KToneCurveParams ToneCurveParameters(double a0, double a1, double a2, double a3, double c0, double c1, double c2)
{
    KToneCurveParams t{};
    const double u = 0.64375 + (a2 + 2.0) / 4.0 * 1.29125;
    t.m_Contrast = u;
    t.m_Highlight = (a3 + 2.0) / 4.0;
    t.m_Black = ((2.0 - a1) / 4.0 * 2.0 - 1.0) * 0.025;
    t.m_GreyHold = std::pow(0.18, 1.0 - u);

    const double c[3] = {Factor(c0), Factor(c1), Factor(c2)};
    const double arithmetic = 0.3 * c[0] + 0.5 * c[1] + 0.2 * c[2];
    const double harmonic = 1.0 / (0.3 / c[0] + 0.5 / c[1] + 0.2 / c[2]);
    const double m = (arithmetic + harmonic) / 2.0;
    for (int i = 0; i < 3; ++i)
        t.m_Gains[i] = c[i] / m * std::pow(2.0, a0);

    if (u / 2.4 < 1.0) {
        const KTransferCurve curve = ToneTransferCurve();
        const double a = curve.m_Offset;
        const double base = (1.0 - u / 2.4) * 0.06;
        const double end = std::pow(std::pow(0.18, (u - 1.0) / 2.4) * (a + base) / ((a + 1.0) * (1.0 - u / 2.4)), 2.4 / u);
        const double r = ToneCurveValue(end, 1.0, 0.0, u, t.m_Highlight, 0.0, 0.0, 0.0, t.m_GreyHold, curve, 0.0);
        t.m_ToeBase = base;
        t.m_ToeEnd = end;
        t.m_ToeSlope = (Encode(curve, r) - base) / end;
    }
    return t;
}

void CreateToneLUT(double a0, double a1, double a2, double a3, double c0, double c1, double c2, const KLUT& cube,
                   KColorLUT& out)
{
    if (out.m_Size < kTableSize)
        AssertionFailed("ToneLUT", __LINE__, "OutToneLUT->GetSize() >= 65536", 0, 0);
    const KToneCurveParams t = ToneCurveParameters(a0, a1, a2, a3, c0, c1, c2);
    const KTransferCurve curve = ToneTransferCurve();

    for (int ch = 0; ch < 3; ++ch) {
        KInt16* e = out.m_pData[ch];
        double previous = 0.0;
        for (KUInt32 i = 0; i < kSampleEnd; i += kSampleStep) {
            const double x = cube[i] / 4096.0;
            const double value = ToneCurveValue(x, t.m_Gains[ch], t.m_Black, t.m_Contrast, t.m_Highlight, t.m_ToeEnd,
                                                t.m_ToeSlope, t.m_ToeBase, t.m_GreyHold, curve, 0.005);
            if (i > 0) {
                const KUInt32 from = i - kSampleStep;
                for (KUInt32 j = from + 1; j < i; ++j) {
                    const double f = double(j - from) / double(i - from);
                    e[j] = Entry(f * value + (1.0 - f) * previous);
                }
            }
            e[i] = Entry(value);
            previous = value;
        }
        std::fill(e + (kSampleEnd - kSampleStep) + 1, e + kFirstNegative, e[kSampleEnd - kSampleStep]);
        std::fill(e + kFirstNegative, e + kTableSize, KInt16(0));
    }
}
