#include "KResampleTable.h"

#include <algorithm>
#include <cmath>

#include "KExceptionPixelProc2.h"
#include "KResampleKernel.h"
#include "KRounding.h"

namespace {

constexpr double kPi = 3.14159;

// Offset of weight i of phase f from the sample position, in pixels: never a whole number, so never 0.
double TapOffset(int tap, int phase)
{
    return (tap - 2) + (15.5 - phase) / 16.0;
}

// sin(c t) / (c t) under the window max(cos(t b / 4), 0)^p.
double WindowedSinc(double t, double c, double b, double p)
{
    const double ct = c * t;
    return std::sin(ct) / ct * std::pow(std::max(std::cos(t * b / 4.0), 0.0), p);
}

// Builds every kernel from kernelValue(dx, dy), each normalised to a sum of 65536 with rounding.
template <class KernelValue>
std::unique_ptr<KResampleTable> BuildTable(KernelValue kernelValue)
{
    auto table = std::make_unique<KResampleTable>();
    for (int fy = 0; fy < KResampleTable::kPhases; ++fy) {
        for (int fx = 0; fx < KResampleTable::kPhases; ++fx) {
            double k[16];
            double sum = 0.0;
            for (int j = 0; j < 4; ++j) {
                for (int i = 0; i < 4; ++i) {
                    k[j * 4 + i] = kernelValue(TapOffset(i, fx), TapOffset(j, fy));
                    sum += k[j * 4 + i];
                }
            }
            KInt32* w = table->m_Weights[fy * KResampleTable::kPhases + fx];
            for (int n = 0; n < 16; ++n)
                w[n] = KRoundToInt32(k[n] * 65536.0 / sum);
        }
    }
    return table;
}

}  // namespace

std::unique_ptr<KResampleTable> CreateRadialResampleTable(double sx, double sy)
{
    const double m = (sx + sy) / 2.0;
    const double c = std::min({0.43 * (m + 1.0), 0.88, 0.86 * m});
    const double b = std::min(std::pow(m, 0.25), 0.88);
    const double p = std::clamp(1.6 * m, 0.7, 1.6);
    return BuildTable([=](double dx, double dy) {
        return WindowedSinc(kPi * std::sqrt(dx * dx + dy * dy), c, b, p);
    });
}

std::unique_ptr<KResampleTable> CreateSeparableResampleTable(double sx, double sy)
{
    if (sx < sy) {
        sx = std::min(sx, 0.8);
        sy = std::min(sy, 1.1);
    } else {
        sy = std::min(sy, 0.8);
        sx = std::min(sx, 1.1);
    }
    struct Axis {
        double c, b, p;
    };
    auto axis = [](double s) { return Axis{std::min(0.94 * s, 1.0), std::min(std::pow(s, 0.25), 0.9), std::min(2.0 * s, 2.0)}; };
    const Axis ax = axis(sx), ay = axis(sy);
    return BuildTable([=](double dx, double dy) {
        return WindowedSinc(kPi * dx, ax.c, ax.b, ax.p) * WindowedSinc(kPi * dy, ay.c, ay.b, ay.p);
    });
}

std::unique_ptr<KResampleTable> CreateResampleTable(double sx, double sy)
{
    const double q = sx / sy;
    if (q > 0.9 && q < 1.1)
        return CreateRadialResampleTable(sx, sy);
    return CreateSeparableResampleTable(sx, sy);
}

void ResamplePixel4x4(const KPixmapTemplate<KPixelClass48SRGB>& image, KInt32 out[3], const KInt32 x16[3],
                      const KInt32 y16[3], const KResampleTable& table)
{
    const ptrdiff_t stride = image.GetRowBytes() / 2;
    const KInt16* data = static_cast<const KInt16*>(image.GetData());
    for (int k = 0; k < 3; ++k) {
        const KInt32 x = x16[k] >> 4, y = y16[k] >> 4;
        if (x < 1 || y < 1 || KInt64(x) + 2 >= image.GetWidth() || KInt64(y) + 2 >= image.GetHeight())
            throw KExceptionPixelProc2("ResamplePixel4x4: sample neighbourhood outside the image.");
        const KInt16* p = data + (y - 1) * stride + ptrdiff_t(x - 1) * 3 + k;
        out[k] = Resample4x4Channel(p, stride, table.Kernel(y16[k] & 15, x16[k] & 15));
    }
}
