#include <algorithm>
#include <cstring>

#include "KChromaBlur.h"
#include "KChromaCoring.h"
#include "KPickKernel.h"
#include "KRgbLanes.h"

namespace {

// h[j] = (p[j-1] + 2 p[j] + p[j+1] + 2) >> 2, the edge pixels repeated.
K_INLINE_BODY void SmoothBinomialBody(const KInt16* p, KInt16* h, KInt32 columns)
{
    if (columns == 1) {
        std::memcpy(h, p, 3 * sizeof(KInt16));
        return;
    }
    const ptrdiff_t end = 3 * static_cast<ptrdiff_t>(columns - 1);
    for (int c = 0; c < 3; ++c) {
        h[c] = static_cast<KInt16>((3 * p[c] + p[c + 3] + 2) >> 2);
        h[end + c] = static_cast<KInt16>((p[end - 3 + c] + 3 * p[end + c] + 2) >> 2);
    }
    for (ptrdiff_t k = 3; k < end; ++k)
        h[k] = static_cast<KInt16>((p[k - 3] + 2 * p[k] + p[k + 3] + 2) >> 2);
}

inline KInt16 Saturate(KInt32 v)
{
    return static_cast<KInt16>(std::clamp(v, -32768, 32767));
}

// h[j] = (p[j-2] + p[j-1] + p[j] + p[j+1] + p[j+2] + 2) >> 2, the edge pixels repeated: five quarters of the
// mean, which the brightness matching expects.
K_INLINE_BODY void SmoothBoxBody(const KInt16* p, KInt16* h, KInt32 columns)
{
    auto edge = [&](KInt32 j) {
        for (int c = 0; c < 3; ++c) {
            KInt32 s = 2;
            for (KInt32 i = j - 2; i <= j + 2; ++i)
                s += p[3 * static_cast<ptrdiff_t>(std::clamp(i, 0, columns - 1)) + c];
            h[3 * static_cast<ptrdiff_t>(j) + c] = Saturate(s >> 2);
        }
    };
    for (KInt32 j = 0; j < std::min(2, columns); ++j)
        edge(j);
    for (KInt32 j = std::max(2, columns - 2); j < columns; ++j)
        edge(j);
    const ptrdiff_t end = 3 * static_cast<ptrdiff_t>(columns - 2);
    for (ptrdiff_t k = 6; k < end; ++k)
        h[k] = Saturate((p[k - 6] + p[k - 3] + p[k] + p[k + 3] + p[k + 6] + 2) >> 2);
}

void SmoothBinomial(const KInt16* p, KInt16* h, KInt32 columns)
{
    SmoothBinomialBody(p, h, columns);
}
void SmoothBox(const KInt16* p, KInt16* h, KInt32 columns)
{
    SmoothBoxBody(p, h, columns);
}
#if K_HAVE_AVX2_BUILD
K_AVX2 void SmoothBinomialAvx2(const KInt16* p, KInt16* h, KInt32 columns)
{
    SmoothBinomialBody(p, h, columns);
}
K_AVX2 void SmoothBoxAvx2(const KInt16* p, KInt16* h, KInt32 columns)
{
    SmoothBoxBody(p, h, columns);
}
#endif

// The 3 x 3 pass's pixels from sample k to n (of the output row): the binomial of the three slots, cored.
void Blur3PixelsFrom(ptrdiff_t k, const KInt16* const s[3], KInt16* output, ptrdiff_t n, const KChromaCoring& coring)
{
    for (; k < n; k += 3) {
        KInt32 b[3];
        for (int c = 0; c < 3; ++c)
            b[c] = (s[0][k + c] + 2 * s[1][k + c] + s[2][k + c]) >> 2;
        coring.Apply(output + k, output[k], output[k + 1], output[k + 2], b[0], b[1], b[2]);
    }
}
void Blur3Pixels(const KInt16* const s[3], KInt16* output, ptrdiff_t n, const KChromaCoring& coring)
{
    Blur3PixelsFrom(0, s, output, n, coring);
}
#if K_HAVE_AVX2_BUILD
K_AVX2 void Blur3PixelsAvx2(const KInt16* const s[3], KInt16* output, ptrdiff_t n, const KChromaCoring& coring)
{
    const __m256i lim = _mm256_set1_epi32(coring.Limit());
    ptrdiff_t k = 0;
    for (; k + 24 <= n; k += 24) {
        __m256i p0[3], p1[3], p2[3], x[3], d[3];
        KLoadRgb8(s[0] + k, p0);
        KLoadRgb8(s[1] + k, p1);
        KLoadRgb8(s[2] + k, p2);
        KLoadRgb8(output + k, x);
        for (int c = 0; c < 3; ++c) {
            const __m256i b = _mm256_srai_epi32(
                _mm256_add_epi32(_mm256_add_epi32(p0[c], _mm256_slli_epi32(p1[c], 1)), p2[c]), 2);
            d[c] = KLimit(_mm256_sub_epi32(b, x[c]), lim);
        }
        KCoreAndStore(output + k, x, d, coring.Tables(), coring.Mask());
    }
    Blur3PixelsFrom(k, s, output, n, coring);
}
#endif

// The 5 x 5 pass's pixels from sample k to n (of the output row): the box values of the five slots summed, brought to the pixel's
// brightness and cored.
void Blur5PixelsFrom(ptrdiff_t k, const KInt16* const s[5], KInt16* output, ptrdiff_t n, KInt32 spatial,
                     const KChromaCoring& coring)
{
    // V, the sum of 25 box values, is about 25/4 of the local mean: q and the weights keep that scale.
    const KInt64 sp = spatial;
    const KInt64 q = sp * 25 / 4;
    const KInt64 inv = 0x10000 / q;
    for (; k < n; k += 3) {
        KInt32 v[3];
        for (int c = 0; c < 3; ++c)
            v[c] = s[0][k + c] + s[1][k + c] + s[2][k + c] + s[3][k + c] + s[4][k + c];
        const KInt32 xR = output[k], xG = output[k + 1], xB = output[k + 2];
        const KInt64 xs = KInt64{xR} + xG + xB + sp;
        const KInt64 vs = KInt64{v[0]} + v[1] + v[2];
        KInt64 b[3] = {0, 0, 0};
        if (xs >= 0) {
            const KInt64 w = vs <= 0 ? xs * inv : (xs << 16) / (vs + q);
            for (int c = 0; c < 3; ++c)
                b[c] = (v[c] * w + 32768) >> 16;
        }
        coring.Apply(output + k, xR, xG, xB, b[0], b[1], b[2]);
    }
}
void Blur5Pixels(const KInt16* const s[5], KInt16* output, ptrdiff_t n, KInt32 spatial, const KChromaCoring& coring)
{
    Blur5PixelsFrom(0, s, output, n, spatial, coring);
}
#if K_HAVE_AVX2_BUILD
K_AVX2 void Blur5PixelsAvx2(const KInt16* const s[5], KInt16* output, ptrdiff_t n, KInt32 spatial,
                            const KChromaCoring& coring)
{
    const KInt64 q = KInt64{spatial} * 25 / 4;
    const KBrightnessMatch match{_mm256_set1_pd(spatial), _mm256_set1_pd(static_cast<double>(q)),
                                 _mm256_set1_pd(static_cast<double>(0x10000 / q)), _mm256_set1_pd(coring.Limit())};
    ptrdiff_t k = 0;
    for (; k + 24 <= n; k += 24) {
        __m256i v[3] = {_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256()};
        for (int i = 0; i < 5; ++i) {
            __m256i p[3];
            KLoadRgb8(s[i] + k, p);
            for (int c = 0; c < 3; ++c)
                v[c] = _mm256_add_epi32(v[c], p[c]);
        }
        __m256i x[3], d[3];
        KLoadRgb8(output + k, x);
        KMatchBrightness(match, x, v, d);
        KCoreAndStore(output + k, x, d, coring.Tables(), coring.Mask());
    }
    Blur5PixelsFrom(k, s, output, n, spatial, coring);
}
#endif

template <int N>
void Rotate(KChromaBlurRing<N>& ring)
{
    KInt16* oldest = ring.m_pSlot[0];
    for (int i = 0; i + 1 < N; ++i)
        ring.m_pSlot[i] = ring.m_pSlot[i + 1];
    ring.m_pSlot[N - 1] = oldest;
}

}  // namespace

void ChromaBlurRow3(const KInt16* input, KInt16* output, const double limits[3], KInt32 spatial,
                    KChromaBlurRing3& ring, KInt32 columns, const KColorLUT& lut)
{
    if (columns <= 0 || !ChromaPassRuns("ChromaBlurRow3", limits, spatial, output == nullptr, false))
        return;
    K_PICK_KERNEL(SmoothBinomial)(input, ring.m_pSlot[2], columns);
    if (output != nullptr)
        K_PICK_KERNEL(Blur3Pixels)(ring.m_pSlot, output, 3 * static_cast<ptrdiff_t>(columns), KChromaCoring(lut));
    Rotate(ring);
}

void ChromaBlurRow(const KInt16* input, KInt16* output, const double limits[3], KInt32 spatial,
                   KChromaBlurRing5& ring, KInt32 columns, const KColorLUT& lut)
{
    if (columns <= 0 || !ChromaPassRuns("ChromaBlurRow", limits, spatial, output == nullptr))
        return;
    K_PICK_KERNEL(SmoothBox)(input, ring.m_pSlot[4], columns);
    if (output != nullptr)
        K_PICK_KERNEL(Blur5Pixels)(ring.m_pSlot, output, 3 * static_cast<ptrdiff_t>(columns), spatial, KChromaCoring(lut));
    Rotate(ring);
}
