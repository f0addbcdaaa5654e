#pragma once
// The row work of the display rescaler: the step rule, the per-column taps of the two column passes, and the
// loops over one row of 32-bit pixels. Positions are in pixels relative to the source rectangle's left or top.
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

// Taps of the destination pixels 0 .. m - 1 (left to right) of a cubic column pass from n source pixels (n < m).
std::vector<KTap> CubicColumnTaps(int32_t n, int32_t m);

// Source pixel of each destination pixel 0 .. m - 1 of a nearest pass from n source pixels.
std::vector<int32_t> NearestIndices(int32_t n, int32_t m);

// d[x] = s[index[x]] for x < count.
void NearestRow(uint8_t* d, const uint8_t* s, const int32_t* index, int32_t count);

// The cubic column pass over one row.
void CubicColumnRow(uint8_t* d, const uint8_t* s, const KTap* taps, int32_t count);

// The cubic row pass for one destination row: every byte from the rows s[-2], s[-1], s[0], s[+1] with the
// weights of phase p.
void CubicRowBlend(uint8_t* d, const uint8_t* ahead2, const uint8_t* ahead1, const uint8_t* current,
                   const uint8_t* behind, int phase, size_t bytes);

}  // namespace KRescale
