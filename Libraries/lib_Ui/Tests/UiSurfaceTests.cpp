// The drawing surface's integer arithmetic: fills, "over" compositing, clipped and stretched copies, skins,
// and the passes that make translucent coloured text.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "KGenericUiPixmap.h"
#include "KWinUiPixmap.h"

namespace {

struct SurfaceDeleter {
    void operator()(KIGenericUiPixmap* p) const { delete p; }
};
using Surface = std::unique_ptr<KIGenericUiPixmap, SurfaceDeleter>;

Surface Make(int32_t width, int32_t height, bool osDrawable = false)
{
    Surface s(CreateUiPixmap(width, height, osDrawable));
    EXPECT_TRUE(s) << width << " x " << height;
    return s;
}

void Set(KIUiPixmap* s, int32_t x, int32_t y, KUiColor c)
{
    s->FillRect(KRect(x, y, x + 1, y + 1), c);
}

KUiColor Get(const KIUiPixmap* s, int32_t x, int32_t y)
{
    KUiColor c;
    s->GetPixel(x, y, c);
    return c;
}

std::string Text(KUiColor c)
{
    return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + "," + std::to_string(c.a);
}

// A surface whose pixel (x, y) is (x, y, 7, 255): where a copied pixel came from shows in red and green.
Surface Coordinates(int32_t width, int32_t height)
{
    Surface s = Make(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            Set(s.get(), x, y, KUiColor(uint8_t(x), uint8_t(y), 7, 255));
    return s;
}

}  // namespace

TEST(UiSurface, BlendRectFollowsTheOverFormulas)
{
    struct Case {
        const char* what;
        KUiColor source, target, expected;
    } cases[] = {
        {"alpha 0 changes nothing", {200, 100, 50, 0}, {10, 20, 30, 77}, {10, 20, 30, 77}},
        {"alpha 255 writes the colour", {200, 100, 50, 255}, {10, 20, 30, 77}, {200, 100, 50, 255}},
        {"over transparent copies the pixel", {200, 100, 50, 128}, {10, 20, 30, 0}, {200, 100, 50, 128}},
        {"over opaque", {200, 100, 50, 128}, {10, 20, 30, 255}, {105, 60, 40, 255}},
        {"partial over partial", {200, 100, 50, 100}, {10, 20, 30, 60}, {149, 78, 44, 136}},
        {"faint white over near-opaque black", {255, 255, 255, 1}, {0, 0, 0, 254}, {1, 1, 1, 254}},
        {"near-opaque black over faint white", {0, 0, 0, 254}, {255, 255, 255, 1}, {0, 0, 0, 254}},
    };
    for (const Case& c : cases) {
        Surface s = Make(3, 2);
        s->FillRect(KRect(0, 0, 3, 2), c.target);
        s->BlendRect(KRect(1, 0, 9, 1), c.source);  // clipped to the bounds
        EXPECT_EQ(Text(Get(s.get(), 1, 0)), Text(c.expected)) << c.what;
        EXPECT_EQ(Text(Get(s.get(), 2, 0)), Text(c.expected)) << c.what;
        EXPECT_EQ(Text(Get(s.get(), 0, 0)), Text(c.target)) << c.what;
        EXPECT_EQ(Text(Get(s.get(), 1, 1)), Text(c.target)) << c.what;

        // BlendTo composites a surface's pixels the same way.
        Surface source = Make(1, 1);
        Set(source.get(), 0, 0, c.source);
        Surface target = Make(2, 1);
        target->FillRect(KRect(0, 0, 2, 1), c.target);
        source->BlendTo(target.get(), KRect(1, 0, 2, 1), KRect(0, 0, 1, 1));
        EXPECT_EQ(Text(Get(target.get(), 1, 0)), Text(c.expected)) << "BlendTo: " << c.what;
        EXPECT_EQ(Text(Get(target.get(), 0, 0)), Text(c.target)) << "BlendTo: " << c.what;
    }
}

TEST(UiSurface, FillsClipAndKeepWhatTheySay)
{
    Surface s = Make(4, 3);
    EXPECT_EQ(s->Width(), 4);
    EXPECT_EQ(s->Height(), 3);
    s->FillRGBA(1, 2, 3, 40);
    s->FillRectRGB(KRect(-5, 1, 2, 99), 200, 150, 100);
    EXPECT_EQ(Text(Get(s.get(), 0, 1)), "200,150,100,40");  // alpha kept
    EXPECT_EQ(Text(Get(s.get(), 1, 2)), "200,150,100,40");
    EXPECT_EQ(Text(Get(s.get(), 2, 1)), "1,2,3,40");
    EXPECT_EQ(Text(Get(s.get(), 0, 0)), "1,2,3,40");
    s->FillRectRGBA(KRect(3, 0, 10, 10), 9, 8, 7, 6);
    EXPECT_EQ(Text(Get(s.get(), 3, 2)), "9,8,7,6");
    s->FillRGB(50, 60, 70);
    EXPECT_EQ(Text(Get(s.get(), 3, 2)), "50,60,70,6");
    EXPECT_EQ(Text(Get(s.get(), 0, 0)), "50,60,70,40");

    // Reads outside answer zeros.
    Set(s.get(), 0, 0, KUiColor(1, 1, 1, 255));
    EXPECT_EQ(Text(Get(s.get(), -1, 0)), "0,0,0,0");
    EXPECT_EQ(Text(Get(s.get(), 4, 0)), "0,0,0,0");
    EXPECT_EQ(s->GetAlpha(0, 3), 0);
    EXPECT_EQ(s->GetAlpha(0, 0), 255);
}

TEST(UiSurface, FrameIsFourStripsClippedToTheClip)
{
    Surface s = Make(6, 5);
    const KUiColor red(255, 0, 0, 255);
    s->DrawFrame(KRect(1, 1, 5, 4), red, nullptr);
    const char* const rows[] = {"......", ".####.", ".#..#.", ".####.", "......"};
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 6; ++x)
            EXPECT_EQ(Get(s.get(), x, y) == red, rows[y][x] == '#') << x << "," << y;

    Surface clipped = Make(6, 5);
    const KRect clip(0, 0, 3, 5);
    clipped->DrawFrame(KRect(1, 1, 5, 4), red, &clip);
    const char* const clippedRows[] = {"......", ".##...", ".#....", ".##...", "......"};
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 6; ++x)
            EXPECT_EQ(Get(clipped.get(), x, y) == red, clippedRows[y][x] == '#') << x << "," << y;
}

TEST(UiSurface, EnlargingInterpolatesInFixedPoint)
{
    // Two pixels 0 and 255 (every byte) made three: the right end has fraction 0 and its weights sum to
    // 0x7FFF, so 255 becomes 254; the middle is half-way.
    Surface row = Make(2, 1);
    Set(row.get(), 0, 0, KUiColor(0, 0, 0, 0));
    Set(row.get(), 1, 0, KUiColor(255, 255, 255, 255));
    Surface wide = Make(3, 1);
    row->CopyTo(wide.get(), KRect(0, 0, 3, 1), KRect(0, 0, 2, 1));
    EXPECT_EQ(Text(Get(wide.get(), 0, 0)), "0,0,0,0");
    EXPECT_EQ(Text(Get(wide.get(), 1, 0)), "127,127,127,127");
    EXPECT_EQ(Text(Get(wide.get(), 2, 0)), "254,254,254,254");

    // The same column made three rows: rows where the fraction is 0 are copied exactly.
    Surface column = Make(1, 2);
    Set(column.get(), 0, 0, KUiColor(0, 0, 0, 0));
    Set(column.get(), 0, 1, KUiColor(255, 255, 255, 255));
    Surface tall = Make(1, 3);
    column->CopyTo(tall.get(), KRect(0, 0, 1, 3), KRect(0, 0, 1, 2));
    EXPECT_EQ(Text(Get(tall.get(), 0, 0)), "0,0,0,0");
    EXPECT_EQ(Text(Get(tall.get(), 0, 1)), "127,127,127,127");
    EXPECT_EQ(Text(Get(tall.get(), 0, 2)), "255,255,255,255");

    // One pixel of 255 enlarged: across, the fraction stays 0 and every pixel is 254; down, rows are copied
    // exactly; both, the row made across is then copied down.
    Surface dot = Make(1, 1);
    Set(dot.get(), 0, 0, KUiColor(255, 255, 255, 255));
    struct Case {
        int32_t width, height;
        const char* expected;
    } dotCases[] = {{4, 1, "254,254,254,254"}, {1, 4, "255,255,255,255"}, {3, 3, "254,254,254,254"}};
    for (const Case& c : dotCases) {
        Surface target = Make(c.width, c.height);
        dot->CopyTo(target.get(), KRect(0, 0, c.width, c.height), KRect(0, 0, 1, 1));
        for (int32_t y = 0; y < c.height; ++y)
            for (int32_t x = 0; x < c.width; ++x)
                EXPECT_EQ(Text(Get(target.get(), x, y)), c.expected) << c.width << " x " << c.height << " at " << x
                                                                      << "," << y;
    }

    // Both axes: across first into the top rows, then down.
    Surface square = Make(2, 2);
    square->FillRect(KRect(0, 0, 2, 2), KUiColor(0, 0, 0, 0));
    Set(square.get(), 1, 1, KUiColor(255, 255, 255, 255));
    Surface big = Make(3, 3);
    square->CopyTo(big.get(), KRect(0, 0, 3, 3), KRect(0, 0, 2, 2));
    EXPECT_EQ(Get(big.get(), 2, 2).r, 254);
    EXPECT_EQ(Get(big.get(), 1, 2).r, 127);
    EXPECT_EQ(Get(big.get(), 2, 1).r, 126);  // (0 x 0x4000 + 254 x 0x3FFF) >> 15
    EXPECT_EQ(Get(big.get(), 1, 1).r, 63);
    EXPECT_EQ(Get(big.get(), 0, 0).r, 0);
}

TEST(UiSurface, ReducingPicksTheNearestPixels)
{
    struct Case {
        int32_t from, to;
        std::vector<int> picked;  // source x of each target pixel
    } cases[] = {
        {4, 2, {0, 1}},        // step (3 << 15) / 2
        {5, 2, {0, 2}},        // step 2 << 15
        {10, 3, {0, 3, 6}},    // step (9 << 15) / 3
        {7, 4, {0, 1, 3, 4}},  // step (6 << 15) / 4 = 1.5
    };
    for (const Case& c : cases) {
        Surface source = Coordinates(c.from, c.from);
        Surface target = Make(c.to, c.to);
        source->CopyTo(target.get(), KRect(0, 0, c.to, c.to), KRect(0, 0, c.from, c.from));
        for (int32_t i = 0; i < c.to; ++i) {
            EXPECT_EQ(Get(target.get(), i, 0).r, c.picked[size_t(i)]) << c.from << " -> " << c.to << " at " << i;
            EXPECT_EQ(Get(target.get(), 0, i).g, c.picked[size_t(i)]) << c.from << " -> " << c.to << " at " << i;
        }
    }
    // Reduce across, enlarge down: columns picked, rows interpolated.
    Surface source = Coordinates(4, 2);
    Surface target = Make(2, 3);
    source->CopyTo(target.get(), KRect(0, 0, 2, 3), KRect(0, 0, 4, 2));
    EXPECT_EQ(Text(Get(target.get(), 1, 0)), "1,0,7,255");
    EXPECT_EQ(Text(Get(target.get(), 1, 1)), "0,0,6,254");  // (A x 0x4000 + B x 0x3FFF) >> 15
    EXPECT_EQ(Text(Get(target.get(), 1, 2)), "1,1,7,255");
}

TEST(UiSurface, CopyToClipsTheSourceInProportion)
{
    // Target rectangle from x = -10 on an 80 x 50 surface: 200 x 100 source pixels onto 100 x 50; clipping
    // the target to (0, 0, 80, 50) moves the source's left edge by 200 x 10 / 100 = 20 and its right edge by
    // 180 x 10 / 90 = 20, leaving (20, 0, 180, 100) reduced onto 80 x 50.
    Surface source = Make(200, 100);
    for (int32_t x = 0; x < 200; ++x)
        source->FillRect(KRect(x, 0, x + 1, 100), KUiColor(uint8_t(x), 0, 0, 255));
    Surface target = Make(80, 50);
    source->CopyTo(target.get(), KRect(-10, 0, 90, 50), KRect(0, 0, 200, 100));
    // Step (159 << 15) / 80: picks 20, 21, 23, ...
    EXPECT_EQ(Get(target.get(), 0, 0).r, 20);
    EXPECT_EQ(Get(target.get(), 1, 0).r, 21);
    EXPECT_EQ(Get(target.get(), 2, 0).r, 23);
    EXPECT_LE(Get(target.get(), 79, 49).r, 179);
    EXPECT_GE(Get(target.get(), 79, 49).r, 177);

    // Same sizes move by the same number of pixels: a 20-pixel row from x = -10 onto a 5-pixel surface.
    Surface row = Coordinates(20, 1);
    Surface small = Make(5, 1);
    row->CopyTo(small.get(), KRect(-10, 0, 10, 1), KRect(0, 0, 20, 1));
    for (int32_t x = 0; x < 5; ++x)
        EXPECT_EQ(Get(small.get(), x, 0).r, 10 + x);

    // Nothing happens for empty rectangles, rectangles beside the target, or a source outside its surface.
    Surface untouched = Make(5, 5);
    for (const auto& [t, s] : std::vector<std::pair<KRect, KRect>>{
             {KRect(5, 0, 9, 4), KRect(0, 0, 4, 4)},
             {KRect(0, 0, 0, 4), KRect(0, 0, 4, 4)},
             {KRect(0, 0, 4, 4), KRect(2, 2, 2, 4)},
             {KRect(0, 0, 4, 4), KRect(30, 30, 34, 34)},
             {KRect(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX), KRect(0, 0, 4, 4)},
         }) {
        row->CopyTo(untouched.get(), t, s);
        row->BlendTo(untouched.get(), t, s);
    }
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 5; ++x)
            EXPECT_EQ(Text(Get(untouched.get(), x, y)), "0,0,0,0");
}

TEST(UiSurface, NinePatchKeepsCornersAndRepeatsEdges)
{
    // 5 x 5 source, centre (1, 1)-(3, 3): margins of 1 on every side; target 9 x 7.
    Surface skin = Coordinates(5, 5);
    for (bool fill : {false, true}) {
        Surface target = Make(9, 7);
        skin->DrawNinePatch(target.get(), 1, 1, 3, 3, fill);
        EXPECT_EQ(Text(Get(target.get(), 0, 0)), "0,0,7,255");
        EXPECT_EQ(Text(Get(target.get(), 8, 0)), "4,0,7,255");
        EXPECT_EQ(Text(Get(target.get(), 0, 6)), "0,4,7,255");
        EXPECT_EQ(Text(Get(target.get(), 8, 6)), "4,4,7,255");
        for (int32_t y = 1; y <= 5; ++y) {
            EXPECT_EQ(Text(Get(target.get(), 0, y)), "0,1,7,255") << y;  // row y0 of the left margin
            EXPECT_EQ(Text(Get(target.get(), 8, y)), "4,1,7,255") << y;
        }
        for (int32_t x = 1; x <= 7; ++x) {
            EXPECT_EQ(Text(Get(target.get(), x, 0)), "1,0,7,255") << x;  // column x0 of the top margin
            EXPECT_EQ(Text(Get(target.get(), x, 6)), "1,4,7,255") << x;
        }
        EXPECT_EQ(Text(Get(target.get(), 4, 3)), fill ? "1,1,7,255" : "0,0,0,0");
        EXPECT_EQ(Text(Get(target.get(), 7, 5)), fill ? "1,1,7,255" : "0,0,0,0");
    }

    // The rectangle form takes the centre's inclusive corners from an exclusive rectangle.
    Surface a = Make(9, 7), b = Make(9, 7);
    skin->DrawNinePatch(a.get(), 1, 1, 3, 3, true);
    skin->DrawNinePatch(b.get(), KRect(1, 1, 4, 4), true);
    for (int32_t y = 0; y < 7; ++y)
        for (int32_t x = 0; x < 9; ++x)
            EXPECT_EQ(Text(Get(a.get(), x, y)), Text(Get(b.get(), x, y)));

    // x1 < x0 stretches the whole surface over the whole target, as CopyTo does.
    Surface whole = Make(9, 7), copied = Make(9, 7);
    skin->DrawNinePatch(whole.get(), 3, 1, 1, 3, true);
    skin->CopyTo(copied.get(), KRect(0, 0, 9, 7), KRect(0, 0, 5, 5));
    for (int32_t y = 0; y < 7; ++y)
        for (int32_t x = 0; x < 9; ++x)
            EXPECT_EQ(Text(Get(whole.get(), x, y)), Text(Get(copied.get(), x, y)));
    EXPECT_NE(Text(Get(whole.get(), 4, 3)), "0,0,0,0");

    // Wild corners draw what fits and never run away.
    Surface wild = Make(9, 7);
    skin->DrawNinePatch(wild.get(), 1, 1, INT32_MAX - 1, 3, true);
    skin->DrawNinePatch(wild.get(), INT32_MIN, INT32_MIN, 3, 3, true);
    skin->DrawThreePart(wild.get(), 1, 0, INT32_MAX, 0);
}

TEST(UiSurface, ThreePartStretchesTheMiddleAndHeights)
{
    Surface skin = Coordinates(5, 2);  // left 1, middle 1..3, right 1
    Surface target = Make(9, 4);
    skin->DrawThreePart(target.get(), 1, 0, 3, 0);
    // Two rows made four by (1 << 15) / 3 steps from the bottom: only the bottom row has fraction 0 and is
    // copied exactly; the others weigh two equal bytes by 0x7FFF in all.
    for (int32_t y = 0; y < 4; ++y) {
        EXPECT_EQ(Get(target.get(), 0, y).r, 0) << y;
        EXPECT_EQ(Get(target.get(), 8, y).r, y == 3 ? 4 : 3) << y;
    }
    EXPECT_EQ(Get(target.get(), 0, 0).g, 0);
    EXPECT_EQ(Get(target.get(), 0, 3).g, 1);
    // Columns 1..3 enlarged onto 1..7 by (2 << 15) / 6 steps from the right end.
    EXPECT_EQ(Get(target.get(), 7, 3).r, 2);  // 3 x 0x7FFF >> 15
    EXPECT_EQ(Get(target.get(), 1, 3).r, 1);  // (1 x 32764 + 2 x 3) >> 15

    Surface a = Make(9, 4), b = Make(9, 4);
    skin->DrawThreePart(a.get(), 1, 0, 3, 0);
    skin->DrawThreePart(b.get(), KRect(1, 0, 4, 1));
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 9; ++x)
            EXPECT_EQ(Text(Get(a.get(), x, y)), Text(Get(b.get(), x, y)));
}

TEST(UiSurface, TextPassesMakeTranslucentColour)
{
    Surface s = Make(3, 1);
    Set(s.get(), 0, 0, KUiColor(9, 255, 9, 0));
    Set(s.get(), 1, 0, KUiColor(9, 3, 9, 0));
    Set(s.get(), 2, 0, KUiColor(9, 0, 9, 77));
    s->AlphaFromGreen();
    EXPECT_EQ(s->GetAlpha(0, 0), 255);
    EXPECT_EQ(s->GetAlpha(1, 0), 3);
    EXPECT_EQ(s->GetAlpha(2, 0), 0);
    s->ScaleAlpha(128);
    EXPECT_EQ(s->GetAlpha(0, 0), 128);
    EXPECT_EQ(s->GetAlpha(1, 0), 1);  // 3 x 128 / 255, truncated
    s->SetRGB(10, 20, 30);
    EXPECT_EQ(Text(Get(s.get(), 0, 0)), "10,20,30,128");
    EXPECT_EQ(Text(Get(s.get(), 2, 0)), "10,20,30,0");
}

TEST(UiSurface, CreationRefusesWhatItCannotHold)
{
    EXPECT_FALSE(Surface(CreateUiPixmap(0, 5, false)));
    EXPECT_FALSE(Surface(CreateUiPixmap(5, -1, true)));
    EXPECT_FALSE(Surface(CreateUiPixmap(32768, 1, false)));
    EXPECT_FALSE(Surface(CreateUiPixmap(20000, 20000, false)));  // more than 256 MiB
    EXPECT_FALSE(Surface(CreateUiPixmapFromPixmap(nullptr, false)));

    // Drawable memory is what a window can blit; plain memory has no bitmap.
    Surface drawable = Make(4, 2, true);
    Surface plain = Make(4, 2, false);
    auto* handle = static_cast<PlatBitmap**>(drawable->GetAttribute(1));
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ((*handle)->bits, drawable->GetPixmap()->GetData());
    EXPECT_EQ((*handle)->rowBytes, 16);
    EXPECT_EQ(plain->GetAttribute(1), nullptr);
    EXPECT_EQ(plain->GetAttribute(2), nullptr);
    EXPECT_EQ(plain->GetPixmap()->GetRowBytes(), 16);
    EXPECT_EQ(Text(Get(plain.get(), 3, 1)), "0,0,0,0");
    KIUiPixmap* p = drawable.release();
    DeleteUiPixmap(p);
    EXPECT_EQ(p, nullptr);
}

TEST(UiSurface, CopyOfAPixmapTakesItsRowsOneByOne)
{
    // A padded source: 3 pixels in rows of 20 bytes.
    std::vector<uint8_t> bytes(20 * 2, 0xEE);
    for (int i = 0; i < 12; ++i) {
        bytes[size_t(i)] = uint8_t(i);
        bytes[size_t(20 + i)] = uint8_t(100 + i);
    }
    KPixmap_Display source(bytes.data(), 3, 2, 20);
    for (bool drawable : {false, true}) {
        Surface copy(CreateUiPixmapFromPixmap(&source, drawable));
        ASSERT_TRUE(copy);
        EXPECT_EQ(copy->Width(), 3);
        EXPECT_EQ(copy->Height(), 2);
        EXPECT_EQ(Text(Get(copy.get(), 0, 0)), "2,1,0,3");
        EXPECT_EQ(Text(Get(copy.get(), 2, 0)), "10,9,8,11");
        EXPECT_EQ(Text(Get(copy.get(), 2, 1)), "110,109,108,111");
    }
}

TEST(UiSurface, TextAlphaIsCoverageTimesColourAlpha)
{
    const KWString face("DejaVu Sans");
    int32_t widths[5] = {};
    Surface opaque(CreateTextUiPixmap(KWString("Hello"), face, 21, false, false, false, KUiColor(255, 0, 0, 255),
                                      widths, false));
    Surface half(CreateTextUiPixmap(KWString("Hello"), face, 21, false, false, false, KUiColor(0, 0, 255, 128),
                                    nullptr, true));
    ASSERT_TRUE(opaque && half);
    EXPECT_EQ(opaque->Width(), widths[4] + 2);
    EXPECT_EQ(opaque->Height(), 21);
    EXPECT_EQ(half->Width(), opaque->Width());
    int covered = 0;
    for (int32_t y = 0; y < opaque->Height(); ++y)
        for (int32_t x = 0; x < opaque->Width(); ++x) {
            const KUiColor o = Get(opaque.get(), x, y), h = Get(half.get(), x, y);
            EXPECT_EQ(h.a, o.a * 128 / 255) << x << "," << y;
            EXPECT_EQ(Text(KUiColor(o.r, o.g, o.b, 0)), "255,0,0,0");
            EXPECT_EQ(Text(KUiColor(h.r, h.g, h.b, 0)), "0,0,255,0");
            covered += o.a > 0;
        }
    EXPECT_GT(covered, 20);

    // No surface without text, font name or font.
    EXPECT_FALSE(Surface(CreateTextUiPixmap(KWString(), face, 21, false, false, false, KUiColor(), nullptr, false)));
    EXPECT_FALSE(Surface(CreateTextUiPixmap(KWString("x"), KWString(), 21, false, false, false, KUiColor(), nullptr, false)));
    EXPECT_FALSE(Surface(CreateTextUiPixmap(KWString("x"), face, 100000, false, false, false, KUiColor(), nullptr, false)));

    int32_t height = 0, average = 0;
    EXPECT_TRUE(GetUiFontMetrics(face, 21, false, false, false, &height, &average));
    EXPECT_EQ(height, 21);
    EXPECT_GT(average, 0);
    EXPECT_FALSE(GetUiFontMetrics(KWString(), 21, false, false, false, &height, &average));
    int32_t again[5] = {};
    EXPECT_TRUE(GetUiTextWidths(KWString("Hello"), face, 21, false, false, false, again));
    EXPECT_EQ(std::vector<int32_t>(again, again + 5), std::vector<int32_t>(widths, widths + 5));
}
