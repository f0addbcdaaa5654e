#pragma once
// Colours of the user interface: four bytes red, green, blue, alpha (alpha 255 opaque), passed by value.
#include <cstdint>

#include "KPropTree.h"

struct KUiColor {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    uint8_t a = 0;

    KUiColor() = default;
    KUiColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) : r(red), g(green), b(blue), a(alpha) {}
    // The colour the property tree read (GetColor).
    KUiColor(const KColorRGBA& c) : r(c.r), g(c.g), b(c.b), a(c.a) {}

    KColorRGBA ToRGBA() const { return KColorRGBA{r, g, b, a}; }
    bool operator==(const KUiColor& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
    bool operator!=(const KUiColor& o) const { return !(*this == o); }
};

// A colour held by an object; assigning a KUiColor copies its four bytes.
class KColor : public KUiColor {
public:
    KColor() = default;
    KColor(const KUiColor& c) : KUiColor(c) {}
    KColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) : KUiColor(red, green, blue, alpha) {}
    KColor& operator=(const KUiColor& c)
    {
        r = c.r;
        g = c.g;
        b = c.b;
        a = c.a;
        return *this;
    }
};
