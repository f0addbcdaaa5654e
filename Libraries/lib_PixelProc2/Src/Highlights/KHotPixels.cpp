#include <algorithm>

#include "KHotPixels.h"
#include "KPickKernel.h"

namespace {

constexpr KInt32 kChunk = 256;

// The first of four values equal to m (0 .. 3); m is one of them.
inline KInt32 FirstOf(KInt32 m, KInt32 a, KInt32 b, KInt32 c)
{
    return m == a ? 0 : (m == b ? 1 : (m == c ? 2 : 3));
}

inline KInt16 Min8(KInt16 a, KInt16 b, KInt16 c, KInt16 d, KInt16 e, KInt16 f, KInt16 g, KInt16 h)
{
    return std::min(std::min(std::min(a, b), std::min(c, d)), std::min(std::min(e, f), std::min(g, h)));
}
inline KInt16 Max8(KInt16 a, KInt16 b, KInt16 c, KInt16 d, KInt16 e, KInt16 f, KInt16 g, KInt16 h)
{
    return std::max(std::max(std::max(a, b), std::max(c, d)), std::max(std::max(e, f), std::max(g, h)));
}

// Largest sums below 6 count as 5.
inline KInt32 AtLeast5(KInt32 s)
{
    return s < 6 ? 5 : s;
}

}  // namespace

namespace {

K_INLINE_BODY void HotPixelsBody(const KInt16* above, KInt16* row, const KInt16* below, KInt32 columns)
{
    // The row is filtered in chunks. For each chunk the pixel sums of the three rows are formed, then every
    // pixel's decision is made without branches: code 0 keeps it, 1 + n takes neighbour n (0-3 left, right,
    // upper, lower; 4-7 upper-left, upper-right, lower-left, lower-right). The row's own pixels come from a copy
    // of its unfiltered values (the pixel to the left may have been replaced already): orig holds the pixel
    // left of the chunk, the chunk and the pixel right of it.
    KInt16 orig[3 * (kChunk + 2)];
    KInt32 sa[kChunk + 2], sr[kChunk + 2], sb[kChunk + 2], top[kChunk];
    unsigned char code[kChunk];
    std::copy(row, row + 3, orig);
    for (KInt32 j0 = 1; j0 < columns - 1; j0 += kChunk) {
        const KInt32 n = std::min(kChunk, columns - 1 - j0);
        const ptrdiff_t base = 3 * static_cast<ptrdiff_t>(j0 - 1);
        std::copy(row + base + 3, row + base + 3 * (n + 2), orig + 3);
        const KInt16* a = above + base;
        const KInt16* b = below + base;
        for (KInt32 i = 0; i < n + 2; ++i) {
            sa[i] = a[3 * i] + a[3 * i + 1] + a[3 * i + 2];
            sr[i] = orig[3 * i] + orig[3 * i + 1] + orig[3 * i + 2];
            sb[i] = b[3 * i] + b[3 * i + 1] + b[3 * i + 2];
        }
        for (KInt32 i = 0; i < n; ++i)
            top[i] = std::max(std::max<KInt32>(orig[3 * i + 3], orig[3 * i + 4]), KInt32{orig[3 * i + 5]});

        for (KInt32 i = 0; i < n; ++i) {
            const KInt32 s = sr[i + 1];
            const KInt32 l = sr[i], r = sr[i + 2], u = sa[i + 1], d = sb[i + 1];
            const KInt32 ul = sa[i], ur = sa[i + 2], dl = sb[i], dr = sb[i + 2];
            const KInt32 max4 = std::max(std::max(l, r), std::max(u, d));
            const KInt32 max8 = std::max(std::max(ul, ur), std::max(dl, dr));
            const KInt32 min4 = std::min(std::min(l, r), std::min(u, d));
            const KInt32 min8 = std::min(std::min(ul, ur), std::min(dl, dr));

            // Bright: above both row neighbours; strong when above the direct ones with a channel over half its
            // sum plus 10. It goes when strong or over twice the brightest direct neighbour, and then also strong
            // and above the brightest diagonal, or over twice that.
            const KInt32 high4 = AtLeast5(max4), high8 = AtLeast5(max8);
            const bool strong = (s > high4) & (top[i] > s / 2 + 10);
            const bool bright = (s > l) & (s > r) & (strong | (s > 2 * high4)) &
                                ((strong & (s > high8)) | (s > 2 * high8));
            // Dark: below all eight.
            const bool dark = (s < l) & (s < r) & (s < min4) & (s < min8);

            const bool brightDiagonal = high8 > high4, darkDiagonal = min8 < min4;
            const KInt32 brightPick = brightDiagonal ? 5 + FirstOf(max8, ul, ur, dl) : 1 + FirstOf(max4, l, r, u);
            const KInt32 darkPick = darkDiagonal ? 5 + FirstOf(min8, ul, ur, dl) : 1 + FirstOf(min4, l, r, u);
            code[i] = static_cast<unsigned char>(bright ? brightPick : (dark ? darkPick : 0));
        }

        for (KInt32 i = 0; i < n; ++i) {
            if (code[i] == 0)
                continue;
            const KInt16* from;
            switch (code[i]) {
            case 1: from = orig + 3 * i; break;
            case 2: from = orig + 3 * (i + 2); break;
            case 3: from = a + 3 * (i + 1); break;
            case 4: from = b + 3 * (i + 1); break;
            case 5: from = a + 3 * i; break;
            case 6: from = a + 3 * (i + 2); break;
            case 7: from = b + 3 * i; break;
            default: from = b + 3 * (i + 2); break;
            }
            std::copy(from, from + 3, row + base + 3 * (i + 1));
        }
        std::copy(orig + 3 * n, orig + 3 * n + 3, orig);
    }
}

K_INLINE_BODY void LongExposureBody(const KInt16* above, KInt16* row, const KInt16* below, KInt32 columns)
{
    // Each value is held between the smallest and the largest of its eight neighbours. The row is filtered in
    // chunks through a copy of its unfiltered values: orig[0..2] is the pixel left of the chunk.
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
            const KInt16 lo = Min8(a[i - 3], a[i], a[i + 3], b[i - 3], b[i], b[i + 3], orig[i], orig[i + 6]);
            const KInt16 hi = Max8(a[i - 3], a[i], a[i + 3], b[i - 3], b[i], b[i + 3], orig[i], orig[i + 6]);
            const KInt16 v = orig[i + 3];
            out[i] = v < lo ? lo : (v > hi ? hi : v);
        }
        std::copy(orig + 3 * n, orig + 3 * n + 3, orig);
    }
}

void HotPixels(const KInt16* above, KInt16* row, const KInt16* below, KInt32 columns)
{
    HotPixelsBody(above, row, below, columns);
}
void LongExposure(const KInt16* above, KInt16* row, const KInt16* below, KInt32 columns)
{
    LongExposureBody(above, row, below, columns);
}

#if K_HAVE_AVX2_BUILD
K_AVX2 void HotPixelsAvx2(const KInt16* above, KInt16* row, const KInt16* below, KInt32 columns)
{
    HotPixelsBody(above, row, below, columns);
}
K_AVX2 void LongExposureAvx2(const KInt16* above, KInt16* row, const KInt16* below, KInt32 columns)
{
    LongExposureBody(above, row, below, columns);
}
#endif

}  // namespace

void RemoveHotPixelsRow(const KInt16* above, KInt16* row, const KInt16* below, KInt32 columns)
{
    if (columns >= 3)
        K_PICK_KERNEL(HotPixels)(above, row, below, columns);
}

void RemoveHotPixelsRowLongExposure(const KInt16* above, KInt16* row, const KInt16* below, KInt32 columns)
{
    if (columns >= 3)
        K_PICK_KERNEL(LongExposure)(above, row, below, columns);
}
