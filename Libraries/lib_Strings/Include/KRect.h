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
    // Adds dx to left and right, dy to top and bottom.
    void Offset(int32_t dx, int32_t dy)
    {
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
    }
    // Keeps the size and moves the rectangle to (0, 0).
    void MoveToOrigin()
    {
        right -= left;
        bottom -= top;
        left = 0;
        top = 0;
    }
    // Called on a clip rectangle: clips destination to it edge by edge and moves the matching edge of source
    // by the clipped amount times source size over destination size on that axis (both sizes as they were
    // before clipping, 64-bit products, truncating toward zero). A destination without positive width and
    // height is left as it is, and so is its source.
    void ClipScaled(KRect& destination, KRect& source) const;

    bool operator==(const KRect& o) const
    {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

struct KPoint {
    int32_t x = 0;
    int32_t y = 0;
};
