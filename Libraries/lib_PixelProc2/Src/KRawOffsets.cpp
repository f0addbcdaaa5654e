#include <algorithm>
#include <cstring>
#include <vector>

#include "KLinearize.h"
#include "KRounding.h"

bool CalculateRawOffsets(const KPixmapTemplate<KPixelClass48RGB>* frame, KInt16* offsets, KUInt32 firstRow,
                         KUInt32 lastRow, KUInt32 rowStep, KUInt32 shift)
{
    if (!frame || !offsets || frame->GetWidth() <= 0)
        return false;
    const size_t n = static_cast<size_t>(frame->GetWidth()) * 3;  // values: columns x channels
    std::memset(offsets, 0, n * sizeof(KInt16));
    // Fewer than three rows leave nothing after the trim (and a step of 0 would never end).
    if (!frame->GetData() || rowStep == 0 || lastRow < firstRow || lastRow >= static_cast<KUInt32>(frame->GetHeight()))
        return false;
    const KInt64 rowCount = (KInt64(lastRow) - firstRow) / rowStep + 1;
    if (rowCount < 3)
        return false;

    // Sums in 64 bits: the same as 32-bit sums for any frame whose sums fit them.
    std::vector<KInt64> sum(n, 0);
    std::vector<KInt32> largest(n, 0);
    std::vector<KInt32> smallest(n, 4096);
    for (KInt64 row = firstRow; row <= lastRow; row += rowStep) {
        const KUInt16* p = reinterpret_cast<const KUInt16*>(frame->GetRow(static_cast<KInt32>(row)));
        for (size_t i = 0; i < n; ++i) {
            const KInt32 v = p[i];
            sum[i] += v;
            largest[i] = std::max(largest[i], v);
            smallest[i] = std::min(smallest[i], v);
        }
    }
    for (size_t i = 0; i < n; ++i)
        sum[i] -= smallest[i] + largest[i];

    // Forward and backward first-order recursive filter per channel; the backward pass goes on from the state
    // the forward pass left. A shift beyond 31 acts as 31, as on 32-bit values.
    const unsigned s = std::min<KUInt32>(shift, 31);
    std::vector<KInt64> smooth(n);
    const size_t columns = n / 3;
    for (size_t c = 0; c < 3; ++c) {
        KInt64 state = sum[c];
        for (size_t x = 0; x < columns; ++x) {
            state += (sum[x * 3 + c] - state) >> s;
            smooth[x * 3 + c] = state;
        }
        for (size_t x = columns; x-- > 0;) {
            state += (smooth[x * 3 + c] - state) >> s;
            smooth[x * 3 + c] = state;
        }
    }
    const KInt64 divisor = rowCount - 2;
    for (size_t i = 0; i < n; ++i)
        offsets[i] = KSaturateToInt16(static_cast<KInt32>(std::clamp<KInt64>((smooth[i] - sum[i]) / divisor, -65536, 65536)));
    return true;
}
