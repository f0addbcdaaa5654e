#include "KRescaleRows.h"

#include <algorithm>
#include <cstring>

#include "Display/KCubicKernel.h"

namespace KRescale {

namespace {
inline uint8_t Limit(int32_t v)
{
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}
}  // namespace

std::vector<KTap> CubicColumnTaps(int32_t n, int32_t m)
{
    using namespace KCubicKernel;
    std::vector<KTap> taps(static_cast<size_t>(std::max(m, 0)));
    KStepper step(n, m);
    // Destination pixels run from the right end leftward, starting on the last source pixel.
    for (int32_t j = 0; j < m; ++j, step.Next()) {
        const int32_t pos = n - 1 - static_cast<int32_t>(step.Advanced());
        const int p = step.Phase();
        int32_t behind = std::min(pos + 1, n - 1);
        int32_t ahead1 = std::max(pos - 1, 0);
        int32_t ahead2 = pos - 2 >= 0 ? pos - 2 : ahead1;
        if (j == m - 2) {
            ahead2 = ahead1;  // second-to-last destination pixel: T0 + T1 on s[-1]
        } else if (j == m - 1) {
            ahead1 = ahead2 = pos;  // last one: T0 + T1 + T2 on s[0]
        }
        KTap& t = taps[static_cast<size_t>(m - 1 - j)];
        t.index[0] = ahead2;
        t.index[1] = ahead1;
        t.index[2] = pos;
        t.index[3] = behind;
        t.weight[0] = kT0[p];
        t.weight[1] = kT1[p];
        t.weight[2] = kT2[p];
        t.weight[3] = kT3[p];
        if (step.Fraction() == 0) {  // the source pixel as it stands
            t.index[0] = t.index[1] = t.index[3] = pos;
            t.weight[0] = t.weight[1] = t.weight[3] = 0;
            t.weight[2] = 32768;
        }
    }
    return taps;
}

std::vector<int32_t> NearestIndices(int32_t n, int32_t m)
{
    std::vector<int32_t> index(static_cast<size_t>(std::max(m, 0)));
    KStepper step(n, m);
    for (int32_t x = 0; x < m; ++x, step.Next())
        index[static_cast<size_t>(x)] = static_cast<int32_t>(step.Advanced());
    return index;
}

void NearestRow(uint8_t* d, const uint8_t* s, const int32_t* index, int32_t count)
{
    for (int32_t x = 0; x < count; ++x)
        std::memcpy(d + kPixelBytes * x, s + kPixelBytes * static_cast<ptrdiff_t>(index[x]), kPixelBytes);
}

void CubicColumnRow(uint8_t* d, const uint8_t* s, const KTap* taps, int32_t count)
{
    for (int32_t x = 0; x < count; ++x) {
        const KTap& t = taps[x];
        const uint8_t* p0 = s + kPixelBytes * static_cast<ptrdiff_t>(t.index[0]);
        const uint8_t* p1 = s + kPixelBytes * static_cast<ptrdiff_t>(t.index[1]);
        const uint8_t* p2 = s + kPixelBytes * static_cast<ptrdiff_t>(t.index[2]);
        const uint8_t* p3 = s + kPixelBytes * static_cast<ptrdiff_t>(t.index[3]);
        uint8_t* q = d + kPixelBytes * x;
        for (int k = 0; k < kPixelBytes; ++k)
            q[k] = Limit((t.weight[0] * p0[k] + t.weight[1] * p1[k] + t.weight[2] * p2[k] + t.weight[3] * p3[k]) >> 15);
    }
}

void CubicRowBlend(uint8_t* d, const uint8_t* ahead2, const uint8_t* ahead1, const uint8_t* current,
                   const uint8_t* behind, int phase, size_t bytes)
{
    using namespace KCubicKernel;
    const int32_t w0 = kT0[phase], w1 = kT1[phase], w2 = kT2[phase], w3 = kT3[phase];
    for (size_t i = 0; i < bytes; ++i)
        d[i] = Limit((w0 * ahead2[i] + w1 * ahead1[i] + w2 * current[i] + w3 * behind[i]) >> 15);
}

}  // namespace KRescale
