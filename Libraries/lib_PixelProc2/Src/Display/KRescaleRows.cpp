#include "KRescaleRows.h"

#include <algorithm>
#include <cstring>

#include "Display/KCubicKernel.h"

namespace KRescale {

std::vector<KTap> CubicColumnTaps(int32_t n, int32_t m)
{
    using namespace KCubicKernel;
    std::vector<KTap> taps(static_cast<size_t>(std::max(m, 0)));
    KStepper step(n, m);
    // Destination pixels run from the right end leftward, starting on the last source pixel.
    for (int32_t j = 0; j < m; ++j, step.Next()) {
        const int32_t pos = n - 1 - static_cast<int32_t>(step.Advanced());
        const int p = step.Phase();
        // Beyond the right end s[+1] is the last pixel; a pixel ahead of the first is replaced by the nearest.
        const int32_t behind = std::min(pos + 1, n - 1);
        int32_t ahead1 = std::max(pos - 1, 0);
        int32_t ahead2 = pos - 2 >= 0 ? pos - 2 : ahead1;
        if (j == m - 2) {
            ahead2 = ahead1;  // second-to-last destination pixel: T0 + T1 on s[-1]
        } else if (j == m - 1) {
            ahead1 = ahead2 = pos;  // last one: T0 + T1 + T2 on s[0]
        }
        KTap& t = taps[static_cast<size_t>(m - 1 - j)];
        t = KTap{{ahead2, ahead1, pos, behind}, {kT0[p], kT1[p], kT2[p], kT3[p]}};
        if (step.Fraction() == 0)  // the source pixel as it stands
            t = KTap{{pos, pos, pos, pos}, {0, 0, 32768, 0}};
    }
    return taps;
}

KCubicColumns::KCubicColumns(int32_t n, int32_t m)
    : m_Count(std::max(m, 0)),
      m_Index(4 * static_cast<size_t>(m_Count)),
      m_Weight(4 * kPixelBytes * static_cast<size_t>(m_Count)),
      m_Gathered(4 * kPixelBytes * static_cast<size_t>(m_Count))
{
    const std::vector<KTap> taps = CubicColumnTaps(n, m_Count);
    const size_t bytes = kPixelBytes * static_cast<size_t>(m_Count);
    int16_t* w0 = m_Weight.data();
    int16_t* w1 = w0 + bytes;
    int16_t* w3 = w1 + bytes;
    int16_t* e = w3 + bytes;
    for (size_t x = 0; x < taps.size(); ++x) {
        // The tap of the largest weight goes to slot 2, the one that is not multiplied in 16 bits.
        KTap t = taps[x];
        const int largest = static_cast<int>(std::max_element(t.weight, t.weight + 4) - t.weight);
        std::swap(t.index[largest], t.index[2]);
        std::swap(t.weight[largest], t.weight[2]);
        std::copy_n(t.index, 4, &m_Index[4 * x]);
        for (size_t i = kPixelBytes * x; i < kPixelBytes * (x + 1); ++i) {
            w0[i] = static_cast<int16_t>(t.weight[0]);
            w1[i] = static_cast<int16_t>(t.weight[1]);
            w3[i] = static_cast<int16_t>(t.weight[3]);
            e[i] = static_cast<int16_t>(t.weight[0] + t.weight[1] + t.weight[2] + t.weight[3] - 32768);
        }
    }
}

void KCubicColumns::Row(uint8_t* d, const uint8_t* s)
{
    const size_t bytes = kPixelBytes * static_cast<size_t>(m_Count);
    uint8_t* __restrict g0 = m_Gathered.data();
    uint8_t* __restrict g1 = g0 + bytes;
    uint8_t* __restrict g2 = g1 + bytes;
    uint8_t* __restrict g3 = g2 + bytes;
    for (size_t x = 0; x < static_cast<size_t>(m_Count); ++x) {
        const int32_t* index = &m_Index[4 * x];
        std::memcpy(g0 + kPixelBytes * x, s + kPixelBytes * static_cast<ptrdiff_t>(index[0]), kPixelBytes);
        std::memcpy(g1 + kPixelBytes * x, s + kPixelBytes * static_cast<ptrdiff_t>(index[1]), kPixelBytes);
        std::memcpy(g2 + kPixelBytes * x, s + kPixelBytes * static_cast<ptrdiff_t>(index[2]), kPixelBytes);
        std::memcpy(g3 + kPixelBytes * x, s + kPixelBytes * static_cast<ptrdiff_t>(index[3]), kPixelBytes);
    }
    const int16_t* __restrict w0 = m_Weight.data();
    const int16_t* __restrict w1 = w0 + bytes;
    const int16_t* __restrict w3 = w1 + bytes;
    const int16_t* __restrict e = w3 + bytes;
    for (size_t i = 0; i < bytes; ++i)
        d[i] = CubicByte(g0[i], g1[i], g2[i], g3[i], w0[i], w1[i], w3[i], e[i]);
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

void CubicRowBlend(uint8_t* d, const uint8_t* ahead2, const uint8_t* ahead1, const uint8_t* current,
                   const uint8_t* behind, int phase, size_t bytes)
{
    using namespace KCubicKernel;
    const int16_t e = static_cast<int16_t>(kT0[phase] + kT1[phase] + kT2[phase] + kT3[phase] - 32768);
    // The largest weight is T2 up to phase 64, T1 after it.
    const bool nextLargest = kT1[phase] > kT2[phase];
    const uint8_t* __restrict largest = nextLargest ? ahead1 : current;
    const uint8_t* __restrict other = nextLargest ? current : ahead1;
    const uint8_t* __restrict a2 = ahead2;
    const uint8_t* __restrict b1 = behind;
    const int16_t w0 = static_cast<int16_t>(kT0[phase]), w3 = static_cast<int16_t>(kT3[phase]);
    const int16_t wOther = static_cast<int16_t>(nextLargest ? kT2[phase] : kT1[phase]);
    for (size_t i = 0; i < bytes; ++i)
        d[i] = CubicByte(a2[i], other[i], largest[i], b1[i], w0, wOther, w3, e);
}

}  // namespace KRescale
