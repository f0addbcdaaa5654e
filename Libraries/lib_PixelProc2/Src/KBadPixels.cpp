#include "KBadPixels.h"

namespace {
bool Inside(const KRect& r, KInt64 column, KInt64 row)
{
    return column >= r.left && column < r.right && row >= r.top && row < r.bottom;
}
}  // namespace

void FixBadPixels(const KPixmapTemplate<KPixelClass48SRGB>* image, const KUInt32* entries, KUInt32 count,
                  const KPoint* offset, const KRect* picture)
{
    if (!image || !image->GetData() || !entries)
        return;
    const KInt64 rows = image->GetHeight();
    const KInt64 columns = image->GetWidth();
    const KInt64 rowOffset = offset ? offset->y : 0;
    const KInt64 columnOffset = offset ? offset->x : 0;
    // Neighbour bits in order: up-left, up, up-right, left, right, down-left, down, down-right.
    static constexpr int kDy[8] = {-1, -1, -1, 0, 0, 1, 1, 1};
    static constexpr int kDx[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
    for (KUInt32 i = 0; i < count; ++i) {
        const KUInt32 entry = entries[i];
        const KUInt32 mask = entry & 0xFF;
        const KInt64 row = KInt64(entry >> 20) + rowOffset;
        const KInt64 column = KInt64((entry >> 8) & 0xFFF) + columnOffset;
        if (mask == 0 || row < 2 || row >= rows - 1 || column < 2 || column >= columns - 1)
            continue;
        // Neighbours beyond the picture's edge (the dark shields) would darken a pixel on its edge.
        KUInt32 use = mask;
        if (picture && Inside(*picture, column, row)) {
            KUInt32 inside = 0;
            for (int b = 0; b < 8; ++b)
                if ((mask & (1u << b)) && Inside(*picture, column + kDx[b], row + kDy[b]))
                    inside |= 1u << b;
            if (inside)
                use = inside;
        }
        KInt32 sum[3] = {0, 0, 0};
        KInt32 n = 0;
        for (int b = 0; b < 8; ++b) {
            if (!(use & (1u << b)))
                continue;
            const KInt16* p = reinterpret_cast<const KInt16*>(image->GetRow(static_cast<KInt32>(row + kDy[b]))) +
                              (column + kDx[b]) * 3;
            for (int c = 0; c < 3; ++c)
                sum[c] += p[c];
            ++n;
        }
        KInt16* p = reinterpret_cast<KInt16*>(image->GetRow(static_cast<KInt32>(row))) + column * 3;
        for (int c = 0; c < 3; ++c)
            p[c] = static_cast<KInt16>(sum[c] / n);
    }
}
