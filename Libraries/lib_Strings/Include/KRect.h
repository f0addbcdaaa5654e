#pragma once
// A rectangle of four signed 32-bit integers; right and bottom are exclusive. Stored as given.
#include <cstdint>

struct KRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    KRect() = default;
    KRect(int32_t l, int32_t t, int32_t r, int32_t b) : left(l), top(t), right(r), bottom(b) {}
    KRect& operator=(const KRect&) = default;

    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool operator==(const KRect& o) const
    {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

struct KPoint {
    int32_t x = 0;
    int32_t y = 0;
};
