// Rectangle moves and the scaled clip used when drawing a stretched picture.
#include <gtest/gtest.h>

#include "KRect.h"

namespace {

struct ClipCase {
    KRect clip, destination, source;
    KRect wantDestination, wantSource;
};

}  // namespace

static void PrintTo(const KRect& r, std::ostream* os)
{
    *os << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}

TEST(Rect, OffsetAndMoveToOrigin)
{
    KRect r(10, 20, 40, 60);
    r.Offset(-15, 5);
    EXPECT_EQ(r, KRect(-5, 25, 25, 65));
    r.MoveToOrigin();
    EXPECT_EQ(r, KRect(0, 0, 30, 40));
}

TEST(Rect, ClipScaledTable)
{
    const ClipCase cases[] = {
        // Twice as many source pixels: each clipped destination pixel moves the source by two.
        {{0, 0, 80, 50}, {-10, 0, 90, 50}, {0, 0, 200, 100}, {0, 0, 80, 50}, {20, 0, 180, 100}},
        // Equal sizes: the source moves by the same pixels on every edge.
        {{5, 6, 50, 40}, {0, 0, 60, 50}, {100, 200, 160, 250}, {5, 6, 50, 40}, {105, 206, 150, 240}},
        // Inside the clip: nothing moves.
        {{0, 0, 100, 100}, {10, 10, 20, 20}, {0, 0, 5, 5}, {10, 10, 20, 20}, {0, 0, 5, 5}},
        // Shrinking by three: the scaled amount truncates toward zero (10 x 10 / 30 = 3).
        {{0, 0, 100, 100}, {-10, -10, 20, 20}, {0, 0, 10, 10}, {0, 0, 20, 20}, {3, 3, 10, 10}},
        // Right and bottom are exclusive: an edge on the clip's edge stays.
        {{0, 0, 10, 10}, {0, 0, 10, 11}, {0, 0, 10, 11}, {0, 0, 10, 10}, {0, 0, 10, 10}},
        // A destination without width is left alone.
        {{0, 0, 10, 10}, {-5, 0, -5, 10}, {0, 0, 8, 8}, {-5, 0, -5, 10}, {0, 0, 8, 8}},
        // Large sizes: the products need 64 bits (2e9 x 40000 overflows 32).
        {{0, 0, 100000, 10}, {-50000, 0, 100000, 10}, {0, 0, 2000000000, 10}, {0, 0, 100000, 10},
         {666666666, 0, 2000000000, 10}},
    };
    for (const ClipCase& c : cases) {
        KRect d = c.destination, s = c.source;
        c.clip.ClipScaled(d, s);
        EXPECT_EQ(d, c.wantDestination) << ::testing::PrintToString(c.destination);
        EXPECT_EQ(s, c.wantSource) << ::testing::PrintToString(c.destination);
    }
}
