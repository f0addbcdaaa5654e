#pragma once
// AVX2 pieces of the kernels over rows of pixels of three signed 16-bit samples (R, G, B): eight pixels at a
// time as three vectors of eight 32-bit values, one per channel, and the steps the chroma passes share.
#include "KVectorKernels.h"

#if K_HAVE_AVX2_BUILD
#include <immintrin.h>

#include "KTypes.h"

#define K_AVX2_INLINE inline __attribute__((target("avx2"), always_inline))

// The eight pixels at p as three channel vectors.
K_AVX2_INLINE void KLoadRgb8(const KInt16* p, __m256i rgb[3])
{
    const auto* q = reinterpret_cast<const __m128i*>(p);
    const __m256i a = _mm256_cvtepi16_epi32(_mm_loadu_si128(q));
    const __m256i b = _mm256_cvtepi16_epi32(_mm_loadu_si128(q + 1));
    const __m256i c = _mm256_cvtepi16_epi32(_mm_loadu_si128(q + 2));
    // Each channel's samples sit at positions 0, 3, 6 of a, 1, 4, 7 of b and 2, 5 of c, shifted by the channel:
    // two blends gather them, a permutation puts them in pixel order.
    const __m256i r = _mm256_blend_epi32(_mm256_blend_epi32(a, b, 0x92), c, 0x24);
    const __m256i g = _mm256_blend_epi32(_mm256_blend_epi32(a, b, 0x24), c, 0x49);
    const __m256i bl = _mm256_blend_epi32(_mm256_blend_epi32(a, b, 0x49), c, 0x92);
    rgb[0] = _mm256_permutevar8x32_epi32(r, _mm256_setr_epi32(0, 3, 6, 1, 4, 7, 2, 5));
    rgb[1] = _mm256_permutevar8x32_epi32(g, _mm256_setr_epi32(1, 4, 7, 2, 5, 0, 3, 6));
    rgb[2] = _mm256_permutevar8x32_epi32(bl, _mm256_setr_epi32(2, 5, 0, 3, 6, 1, 4, 7));
}

// The three channel vectors stored as eight pixels at p, each value saturated to 16 bits.
K_AVX2_INLINE void KStoreRgb8(KInt16* p, const __m256i rgb[3])
{
    const __m256i r = _mm256_permutevar8x32_epi32(rgb[0], _mm256_setr_epi32(0, 3, 6, 1, 4, 7, 2, 5));
    const __m256i g = _mm256_permutevar8x32_epi32(rgb[1], _mm256_setr_epi32(5, 0, 3, 6, 1, 4, 7, 2));
    const __m256i b = _mm256_permutevar8x32_epi32(rgb[2], _mm256_setr_epi32(2, 5, 0, 3, 6, 1, 4, 7));
    const __m256i s0 = _mm256_blend_epi32(_mm256_blend_epi32(r, g, 0x92), b, 0x24);
    const __m256i s1 = _mm256_blend_epi32(_mm256_blend_epi32(r, g, 0x24), b, 0x49);
    const __m256i s2 = _mm256_blend_epi32(_mm256_blend_epi32(r, g, 0x49), b, 0x92);
    const __m256i lo = _mm256_permute4x64_epi64(_mm256_packs_epi32(s0, s1), _MM_SHUFFLE(3, 1, 2, 0));
    const __m256i hi = _mm256_permute4x64_epi64(_mm256_packs_epi32(s2, s2), _MM_SHUFFLE(3, 1, 2, 0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16), _mm256_castsi256_si128(hi));
}

// v > lim ? lim : (v < -lim ? -lim : v), as the scalar code limits (also for a negative lim).
K_AVX2_INLINE __m256i KLimit(__m256i v, __m256i lim)
{
    const __m256i neg = _mm256_sub_epi32(_mm256_setzero_si256(), lim);
    const __m256i low = _mm256_blendv_epi8(v, neg, _mm256_cmpgt_epi32(neg, v));
    return _mm256_blendv_epi8(low, lim, _mm256_cmpgt_epi32(v, lim));
}
K_AVX2_INLINE __m256d KLimit(__m256d v, __m256d lim)
{
    const __m256d neg = _mm256_sub_pd(_mm256_setzero_pd(), lim);
    const __m256d low = _mm256_blendv_pd(v, neg, _mm256_cmp_pd(v, neg, _CMP_LT_OQ));
    return _mm256_blendv_pd(low, lim, _mm256_cmp_pd(v, lim, _CMP_GT_OQ));
}

// table[index & mask] for the eight indexes, one load each (a gather would read past the table's end).
K_AVX2_INLINE __m256i KLookup(const KInt16* table, __m256i index, KUInt32 mask)
{
    alignas(32) KInt32 at[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), _mm256_and_si256(index, _mm256_set1_epi32(static_cast<KInt32>(mask))));
    return _mm256_setr_epi32(table[at[0]], table[at[1]], table[at[2]], table[at[3]], table[at[4]], table[at[5]],
                             table[at[6]], table[at[7]]);
}

// The brightness matching of the 5 x 5 and coarse chroma passes for eight pixels x and their smoothed colours
// v (sums of box values, or the vertical row), as differences v scaled to x's brightness less x, limited to
// +-lim: with xs = x's sum + spatial and vs = v's sum, the weight is xs x inv when vs <= 0, else
// (xs << 16) / (vs + q), and no smoothed colour at all (0) when xs < 0.
//
// Done in doubles, exactly: every operand and product stays below 2^53 (xs < 2^32, |v| < 2^18, the weight
// below 2^33), and the truncated quotient of two such integers, numerator below 2^53, is the integer one.
struct KBrightnessMatch {
    __m256d spatial, q, inv, lim;
};
K_AVX2_INLINE void KMatchHalf(const KBrightnessMatch& m, __m128i x0, __m128i x1, __m128i x2, __m128i v0,
                                 __m128i v1, __m128i v2, __m256d out[3])
{
    const __m256d zero = _mm256_setzero_pd();
    const __m256d xs = _mm256_add_pd(_mm256_cvtepi32_pd(_mm_add_epi32(_mm_add_epi32(x0, x1), x2)), m.spatial);
    const __m256d vs = _mm256_cvtepi32_pd(_mm_add_epi32(_mm_add_epi32(v0, v1), v2));
    const __m256d quotient = _mm256_round_pd(
        _mm256_div_pd(_mm256_mul_pd(xs, _mm256_set1_pd(65536.0)), _mm256_add_pd(vs, m.q)), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m256d w = _mm256_blendv_pd(quotient, _mm256_mul_pd(xs, m.inv), _mm256_cmp_pd(vs, zero, _CMP_LE_OQ));
    const __m256d some = _mm256_cmp_pd(xs, zero, _CMP_GE_OQ);
    const __m128i x[3] = {x0, x1, x2}, v[3] = {v0, v1, v2};
    for (int c = 0; c < 3; ++c) {
        const __m256d scaled = _mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(v[c]), w), _mm256_set1_pd(32768.0)),
                                             _mm256_set1_pd(1.0 / 65536));
        const __m256d b = _mm256_and_pd(_mm256_floor_pd(scaled), some);
        out[c] = KLimit(_mm256_sub_pd(b, _mm256_cvtepi32_pd(x[c])), m.lim);
    }
}
K_AVX2_INLINE void KMatchBrightness(const KBrightnessMatch& m, const __m256i x[3], const __m256i v[3], __m256i d[3])
{
    __m256d lo[3], hi[3];
    KMatchHalf(m, _mm256_castsi256_si128(x[0]), _mm256_castsi256_si128(x[1]), _mm256_castsi256_si128(x[2]),
               _mm256_castsi256_si128(v[0]), _mm256_castsi256_si128(v[1]), _mm256_castsi256_si128(v[2]), lo);
    KMatchHalf(m, _mm256_extracti128_si256(x[0], 1), _mm256_extracti128_si256(x[1], 1),
               _mm256_extracti128_si256(x[2], 1), _mm256_extracti128_si256(v[0], 1),
               _mm256_extracti128_si256(v[1], 1), _mm256_extracti128_si256(v[2], 1), hi);
    for (int c = 0; c < 3; ++c)
        d[c] = _mm256_set_m128i(_mm256_cvttpd_epi32(hi[c]), _mm256_cvttpd_epi32(lo[c]));
}

// The chroma passes' ending: out = x + core(d) less an eighth of the three cored values' sum, d already
// limited (see KChromaCoring).
K_AVX2_INLINE void KCoreAndStore(KInt16* out, const __m256i x[3], const __m256i d[3], const KInt16* const table[3],
                                 KUInt32 mask)
{
    __m256i c[3];
    for (int i = 0; i < 3; ++i)
        c[i] = KLookup(table[i], d[i], mask);
    const __m256i s = _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(c[0], c[1]), c[2]), 3);
    __m256i y[3];
    for (int i = 0; i < 3; ++i)
        y[i] = _mm256_sub_epi32(_mm256_add_epi32(x[i], c[i]), s);
    KStoreRgb8(out, y);
}
#endif
