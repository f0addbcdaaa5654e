#pragma once
// The row work of the display rescaler: the step rule, the plan of a cubic column pass, and the loops over one
// row of 32-bit pixels. Positions are in pixels relative to the source rectangle's left or top.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace KRescale {

constexpr int kPixelBytes = 4;

// The step rule from n source pixels to m destination pixels: the fraction grows by (n - 1) x 32768 / m after
// each destination pixel; from 32768 on, the source position advances by fraction >> 15 and the fraction keeps
// its low 15 bits.
class KStepper {
public:
    KStepper(int64_t n, int64_t m) : m_Step(static_cast<uint64_t>(n - 1) * 32768u / static_cast<uint64_t>(m)) {}
    void Next()
    {
        m_Fraction += m_Step;
        if (m_Fraction >= 32768) {
            m_Advanced += static_cast<int64_t>(m_Fraction >> 15);
            m_Fraction &= 0x7FFF;
        }
    }
    int64_t Advanced() const { return m_Advanced; }
    uint32_t Fraction() const { return static_cast<uint32_t>(m_Fraction); }
    int Phase() const { return static_cast<int>(m_Fraction >> 8); }

private:
    uint64_t m_Step;
    uint64_t m_Fraction = 0;
    int64_t m_Advanced = 0;
};

// One destination pixel of a cubic column pass: the source pixels s[-2], s[-1], s[0], s[+1] and their weights.
struct KTap {
    int32_t index[4];
    int32_t weight[4];
};

// Taps of the destination pixels 0 .. m - 1 (left to right) of a cubic column pass from n source pixels.
std::vector<KTap> CubicColumnTaps(int32_t n, int32_t m);

// A cubic column pass from n to m pixels, planned once and then run row by row: each row gathers the four
// taps of every destination pixel into rows of their own, then blends them byte by byte, which vectorises.
// Not for use by two threads at once (the gathered rows are its own).
class KCubicColumns {
public:
    KCubicColumns(int32_t n, int32_t m);
    void Row(uint8_t* d, const uint8_t* s);

private:
    int32_t m_Count;
    std::vector<int32_t> m_Index;   // 4 per destination pixel
    std::vector<int16_t> m_Weight;  // w0, w1, w3 and e (below), each for every destination byte
    std::vector<uint8_t> m_Gathered;
};

// Source pixel of each destination pixel 0 .. m - 1 of a nearest pass from n source pixels.
std::vector<int32_t> NearestIndices(int32_t n, int32_t m);

// d[x] = s[index[x]] for x < count.
void NearestRow(uint8_t* d, const uint8_t* s, const int32_t* index, int32_t count);

// The cubic row pass for one destination row: every byte from the rows s[-2], s[-1], s[0], s[+1] with the
// weights of phase p.
void CubicRowBlend(uint8_t* d, const uint8_t* ahead2, const uint8_t* ahead1, const uint8_t* current,
                   const uint8_t* behind, int phase, size_t bytes);

// The weighted sum of one byte, exactly (w0 a + w1 b + wc c + w3 d) >> 15 limited to 0..255, where c is the
// tap of the largest weight wc and the weights sum to 32768 + e (e is 0 or 1): the sum equals
// 32768 c + w0 (a - c) + w1 (b - c) + w3 (d - c) + e c, whose products are all of two 16-bit values (the largest
// weight alone does not fit 16 bits), which vectorises on any x86-64.
inline uint8_t CubicByte(int16_t a, int16_t b, int16_t c, int16_t d, int16_t w0, int16_t w1, int16_t w3, int16_t e)
{
    const int32_t v = (int32_t{c} << 15) + w0 * static_cast<int16_t>(a - c) + w1 * static_cast<int16_t>(b - c) +
                      w3 * static_cast<int16_t>(d - c) + e * c;
    const int32_t shifted = v >> 15;
    return static_cast<uint8_t>(shifted < 0 ? 0 : shifted > 255 ? 255 : shifted);
}

}  // namespace KRescale
