#pragma once
// The inner sums of the 4 x 4 resampler, shared by ResamplePixel4x4 and stage 3. The caller has checked that
// the neighbourhood lies inside the image. A product of a weight and a sample can pass 32 bits, so the general
// sum is formed in 64 bits; stage 3 uses a 32-bit vector form where it has shown that no sum can pass 32 bits
// (KernelBound x sample bound), which gives the same result. Results are the sums shifted right by 16.
#include <cstddef>
#include <cstring>

#include "KResampleTable.h"
#include "KTypes.h"
#include "KVectorKernels.h"

// One channel; p: its sample of pixel (X - 1, Y - 1); pixels three samples apart, rows stride samples apart.
inline KInt32 Resample4x4Channel(const KInt16* p, ptrdiff_t stride, const KInt32* w)
{
    KInt64 sum = 0;
    for (int j = 0; j < 4; ++j, p += stride)
        for (int i = 0; i < 4; ++i)
            sum += KInt64(w[j * 4 + i]) * p[i * 3];
    return static_cast<KInt32>(sum >> 16);
}

// The largest sum of absolute weights of any kernel: no sum of the table passes that times the largest
// absolute sample.
inline KInt64 KernelBound(const KResampleTable& t)
{
    KInt64 bound = 0;
    for (const auto& kernel : t.m_Weights) {
        KInt64 s = 0;
        for (KInt32 w : kernel)
            s += w < 0 ? -KInt64(w) : KInt64(w);
        bound = s > bound ? s : bound;
    }
    return bound;
}

// A kernel laid out for the twelve samples (four pixels of R, G, B) of a neighbourhood row: each weight
// repeated three times, split into a vector of eight and one of four.
typedef KInt32 KVec8i __attribute__((vector_size(32)));
typedef KInt32 KVec4i __attribute__((vector_size(16)));
typedef KInt16 KVec8s __attribute__((vector_size(16)));
typedef KInt16 KVec4s __attribute__((vector_size(8)));

struct KInterleavedKernel {
    KVec8i m_Low[4];   // samples 0-7 of row j: R0 G0 B0 R1 G1 B1 R2 G2
    KVec4i m_High[4];  // samples 8-11: B2 R3 G3 B3
};

inline void Interleave(const KInt32* w, KInterleavedKernel& k)
{
    for (int j = 0; j < 4; ++j) {
        for (int n = 0; n < 8; ++n)
            k.m_Low[j][n] = w[j * 4 + n / 3];
        for (int n = 8; n < 12; ++n)
            k.m_High[j][n - 8] = w[j * 4 + n / 3];
    }
}

// The three channels of one position in 32-bit lanes; p: red sample of pixel (X - 1, Y - 1). Only for sums
// shown to stay within 32 bits.
K_INLINE_BODY void Resample4x4Pixel32(const KInt16* p, ptrdiff_t stride, const KInterleavedKernel& k, KInt32 out[3])
{
    KVec8i low = {};
    KVec4i high = {};
    for (int j = 0; j < 4; ++j, p += stride) {
        KVec8s s8;
        KVec4s s4;
        std::memcpy(&s8, p, sizeof(s8));
        std::memcpy(&s4, p + 8, sizeof(s4));
        low += __builtin_convertvector(s8, KVec8i) * k.m_Low[j];
        high += __builtin_convertvector(s4, KVec4i) * k.m_High[j];
    }
    out[0] = (low[0] + low[3] + low[6] + high[1]) >> 16;
    out[1] = (low[1] + low[4] + low[7] + high[2]) >> 16;
    out[2] = (low[2] + low[5] + high[0] + high[3]) >> 16;
}

// The same in 64 bits, for any samples.
inline void Resample4x4Pixel64(const KInt16* p, ptrdiff_t stride, const KInt32* w, KInt32 out[3])
{
    for (int c = 0; c < 3; ++c)
        out[c] = Resample4x4Channel(p + c, stride, w);
}
