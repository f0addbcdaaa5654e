#include <algorithm>
#include <initializer_list>

#include "KHotPixels.h"

namespace {

// A pixel with its sum R + G + B.
struct KSummed {
    KInt32 v[3];
    KInt32 sum;
};

inline KSummed Load(const KInt16* row, KInt32 column)
{
    const KInt16* p = row + 3 * static_cast<ptrdiff_t>(column);
    return KSummed{{p[0], p[1], p[2]}, KInt32{p[0]} + p[1] + p[2]};
}

inline void Store(KInt16* row, KInt32 column, const KSummed& s)
{
    KInt16* p = row + 3 * static_cast<ptrdiff_t>(column);
    p[0] = static_cast<KInt16>(s.v[0]);
    p[1] = static_cast<KInt16>(s.v[1]);
    p[2] = static_cast<KInt16>(s.v[2]);
}

// The first of four pixels with the largest (smallest) sum.
inline const KSummed& Brightest(const KSummed& a, const KSummed& b, const KSummed& c, const KSummed& d)
{
    const KSummed* best = &a;
    for (const KSummed* p : {&b, &c, &d})
        if (p->sum > best->sum)
            best = p;
    return *best;
}
inline const KSummed& Darkest(const KSummed& a, const KSummed& b, const KSummed& c, const KSummed& d)
{
    const KSummed* best = &a;
    for (const KSummed* p : {&b, &c, &d})
        if (p->sum < best->sum)
            best = p;
    return *best;
}

// Largest sums below 6 count as 5.
inline KInt32 AtLeast5(KInt32 s)
{
    return s < 6 ? 5 : s;
}

// The replacement of pixel c (left l, right r; above ul u ur; below dl d dr), or null when it stays.
const KSummed* HotPixelReplacement(const KSummed& c, const KSummed& l, const KSummed& r, const KSummed& ul,
                                   const KSummed& u, const KSummed& ur, const KSummed& dl, const KSummed& d,
                                   const KSummed& dr)
{
    const KInt32 s = c.sum;
    if (s > l.sum && s > r.sum) {
        const KInt32 high4 = AtLeast5(std::max({l.sum, r.sum, u.sum, d.sum}));
        const KInt32 half = s / 2 + 10;
        const bool strong = s > high4 && (c.v[0] > half || c.v[1] > half || c.v[2] > half);
        if (!strong && s <= 2 * high4)
            return nullptr;
        const KInt32 high8 = AtLeast5(std::max({ul.sum, ur.sum, dl.sum, dr.sum}));
        if ((!strong || s <= high8) && s <= 2 * high8)
            return nullptr;
        return high8 <= high4 ? &Brightest(l, r, u, d) : &Brightest(ul, ur, dl, dr);
    }
    if (s < l.sum && s < r.sum) {
        const KInt32 low4 = std::min({l.sum, r.sum, u.sum, d.sum});
        const KInt32 low8 = std::min({ul.sum, ur.sum, dl.sum, dr.sum});
        if (s >= low4 || s >= low8)
            return nullptr;
        return low8 >= low4 ? &Darkest(l, r, u, d) : &Darkest(ul, ur, dl, dr);
    }
    return nullptr;
}

}  // namespace

void RemoveHotPixelsRow(const KInt16* above, KInt16* row, const KInt16* below, KInt32 columns)
{
    if (columns < 3)
        return;
    // A window of three columns over the three rows; the row's own pixels are kept as they were before this
    // call, since the pixel to the left may have been replaced already.
    KSummed ul = Load(above, 0), u = Load(above, 1);
    KSummed l = Load(row, 0), c = Load(row, 1);
    KSummed dl = Load(below, 0), d = Load(below, 1);
    for (KInt32 j = 1; j < columns - 1; ++j) {
        const KSummed ur = Load(above, j + 1), r = Load(row, j + 1), dr = Load(below, j + 1);
        if (const KSummed* n = HotPixelReplacement(c, l, r, ul, u, ur, dl, d, dr))
            Store(row, j, *n);
        ul = u;
        u = ur;
        l = c;
        c = r;
        dl = d;
        d = dr;
    }
}

void RemoveHotPixelsRowLongExposure(const KInt16* above, KInt16* row, const KInt16* below, KInt32 columns)
{
    if (columns < 3)
        return;
    // Each value is held between the smallest and the largest of its eight neighbours. The row is filtered in
    // chunks through a copy of its unfiltered values: orig[0..2] is the pixel left of the chunk.
    constexpr KInt32 kChunk = 256;
    KInt16 orig[3 * (kChunk + 2)];
    std::copy(row, row + 3, orig);
    for (KInt32 j0 = 1; j0 < columns - 1; j0 += kChunk) {
        const KInt32 n = std::min(kChunk, columns - 1 - j0);
        const ptrdiff_t base = 3 * static_cast<ptrdiff_t>(j0);
        std::copy(row + base, row + base + 3 * (n + 1), orig + 3);
        const KInt16* a = above + base;
        const KInt16* b = below + base;
        KInt16* out = row + base;
        for (KInt32 i = 0; i < 3 * n; ++i) {
            const KInt16 lo = std::min({a[i - 3], a[i], a[i + 3], b[i - 3], b[i], b[i + 3], orig[i], orig[i + 6]});
            const KInt16 hi = std::max({a[i - 3], a[i], a[i + 3], b[i - 3], b[i], b[i + 3], orig[i], orig[i + 6]});
            const KInt16 v = orig[i + 3];
            out[i] = v < lo ? lo : (v > hi ? hi : v);
        }
        std::copy(orig + 3 * n, orig + 3 * n + 3, orig);
    }
}
