#pragma once
// The intermediate colour value of pixel conversion: three signed 32-bit components, passed by value.
// Shifts move between channel depths (8 and 11 bits differ by 3, 8 and 16 by 8, 11 and 16 by 5); nothing rounds
// and nothing clamps. Arithmetic wraps in 32 bits.
#include <cstdint>

struct KRGBTriple {
    int32_t r = 0;
    int32_t g = 0;
    int32_t b = 0;

    constexpr KRGBTriple() = default;
    constexpr KRGBTriple(int32_t red, int32_t green, int32_t blue) : r(red), g(green), b(blue) {}

    // Arithmetic shift: the sign is kept.
    constexpr KRGBTriple operator>>(int n) const { return KRGBTriple(r >> n, g >> n, b >> n); }
    constexpr KRGBTriple operator<<(int n) const { return KRGBTriple(Shl(r, n), Shl(g, n), Shl(b, n)); }
    constexpr KRGBTriple operator+(const KRGBTriple& o) const
    {
        return KRGBTriple(Add(r, o.r), Add(g, o.g), Add(b, o.b));
    }
    constexpr KRGBTriple operator+(int32_t n) const { return KRGBTriple(Add(r, n), Add(g, n), Add(b, n)); }
    constexpr KRGBTriple operator*(int32_t n) const { return KRGBTriple(Mul(r, n), Mul(g, n), Mul(b, n)); }

    constexpr bool operator==(const KRGBTriple& o) const { return r == o.r && g == o.g && b == o.b; }

private:
    static constexpr int32_t Shl(int32_t v, int n) { return static_cast<int32_t>(static_cast<uint32_t>(v) << n); }
    static constexpr int32_t Add(int32_t a, int32_t b)
    {
        return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
    }
    static constexpr int32_t Mul(int32_t a, int32_t b)
    {
        return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
    }
};
