#include "KDetailLayer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "KRounding.h"
#include "KPickKernel.h"

// Sums are formed in 32 bits with the wrap-around of 32-bit arithmetic (unsigned, so that absurd weights from
// a nonsense factor stay defined); for factors of 0 and above the taps are non-negative and nothing wraps.

namespace {

K_INLINE_BODY KInt32 Taps(KInt32 w0, KInt32 w1, KInt32 w2, KInt32 centre, KInt32 near1, KInt32 near2, KInt32 far1, KInt32 far2)
{
    const KUInt32 s = KUInt32(w1) * KUInt32(near1 + near2) + KUInt32(w2) * KUInt32(far1 + far2) +
                      KUInt32(w0) * KUInt32(centre) + 2048u;
    return static_cast<KInt32>(s) >> 12;
}

// Vertical low-pass of row y into v; the row's values are saved into p2 (which then holds row y).
K_INLINE_BODY void VerticalBody(const KDetailKernel& k, const KInt16* cur, const KInt16* p1, const KInt16* below1,
                                  KInt16* p2, const KInt16* below2, KInt16* v, KInt32 cols)
{
    for (KInt32 x = 0; x < cols; ++x) {
        v[x] = static_cast<KInt16>(Taps(k.m_W0, k.m_W1, k.m_W2, cur[x], p1[x], below1[x], p2[x], below2[x]));
        p2[x] = cur[x];
    }
}

// Horizontal low-pass of v subtracted from the row, for columns 2 .. cols - 3 (all five taps inside).
K_INLINE_BODY void HorizontalBody(const KDetailKernel& k, const KInt16* v, KInt16* cur, KInt32 cols)
{
    for (KInt32 x = 2; x < cols - 2; ++x)
        cur[x] = static_cast<KInt16>(cur[x] - Taps(k.m_W0, k.m_W1, k.m_W2, v[x], v[x - 1], v[x + 1], v[x - 2], v[x + 2]));
}

struct KDetailPasses {
    void (*m_Vertical)(const KDetailKernel&, const KInt16*, const KInt16*, const KInt16*, KInt16*, const KInt16*,
                       KInt16*, KInt32);
    void (*m_Horizontal)(const KDetailKernel&, const KInt16*, KInt16*, KInt32);
};

void VerticalPass(const KDetailKernel& k, const KInt16* cur, const KInt16* p1, const KInt16* below1, KInt16* p2,
                  const KInt16* below2, KInt16* v, KInt32 cols)
{
    VerticalBody(k, cur, p1, below1, p2, below2, v, cols);
}
void HorizontalPass(const KDetailKernel& k, const KInt16* v, KInt16* cur, KInt32 cols)
{
    HorizontalBody(k, v, cur, cols);
}
#if K_HAVE_AVX2_BUILD
K_AVX2 void VerticalPassAvx2(const KDetailKernel& k, const KInt16* cur, const KInt16* p1, const KInt16* below1,
                             KInt16* p2, const KInt16* below2, KInt16* v, KInt32 cols)
{
    VerticalBody(k, cur, p1, below1, p2, below2, v, cols);
}
K_AVX2 void HorizontalPassAvx2(const KDetailKernel& k, const KInt16* v, KInt16* cur, KInt32 cols)
{
    HorizontalBody(k, v, cur, cols);
}
#endif

KDetailPasses DetailPasses()
{
    return {K_PICK_KERNEL(VerticalPass), K_PICK_KERNEL(HorizontalPass)};
}

}  // namespace

KDetailKernel DetailKernelFor(double resizeFactor)
{
    const double a = std::min(resizeFactor * 0.25, 0.5);
    KDetailKernel k;
    k.m_W2 = KRoundToInt32(a * a * 4096.0);
    k.m_W1 = KRoundToInt32((a - 2.0 * a * a) * 8192.0);
    k.m_W0 = static_cast<KInt32>((2048u - KUInt32(k.m_W1) - KUInt32(k.m_W2)) * 2u);
    return k;
}

void CreateDetailLayer(KPixmapTemplate<KPixelClass16SMono>& image, double resizeFactor)
{
    const KInt32 rows = image.GetHeight(), cols = image.GetWidth();
    if (rows <= 0 || cols <= 0)
        return;
    const KDetailKernel k = DetailKernelFor(resizeFactor);
    const KDetailPasses passes = DetailPasses();
    const KInt32 w0 = k.m_W0, w1 = k.m_W1, w2 = k.m_W2;
    auto row = [&](KInt32 y) { return reinterpret_cast<KInt16*>(image.GetRow(std::min(y, rows - 1))); };

    // P1: row y - 1 and P2: row y - 2 as they were before the subtraction (row 0 above the top).
    std::vector<KInt16> scratch(size_t(cols) * 3);
    KInt16* p1 = scratch.data();
    KInt16* p2 = p1 + cols;
    KInt16* v = p2 + cols;
    std::memcpy(p1, row(0), size_t(cols) * sizeof(KInt16));
    std::memcpy(p2, row(0), size_t(cols) * sizeof(KInt16));

    const KInt32 last = cols - 1;
    for (KInt32 y = 0; y < rows; ++y) {
        KInt16* cur = row(y);
        const KInt16* below1 = row(y + 1);
        const KInt16* below2 = row(y + 2);
        passes.m_Vertical(k, cur, p1, below1, p2, below2, v, cols);
        std::swap(p1, p2);

        auto lowPass = [&](KInt32 x) {
            return Taps(w0, w1, w2, v[x], v[std::max(x - 1, 0)], v[std::min(x + 1, last)], v[std::max(x - 2, 0)],
                        v[std::min(x + 2, last)]);
        };
        const KInt32 inner = std::min(2, cols);
        for (KInt32 x = 0; x < inner; ++x)
            cur[x] = static_cast<KInt16>(cur[x] - lowPass(x));
        passes.m_Horizontal(k, v, cur, cols);
        for (KInt32 x = std::max(cols - 2, inner); x < cols; ++x)
            cur[x] = static_cast<KInt16>(cur[x] - lowPass(x));
    }
}
