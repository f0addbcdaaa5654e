#pragma once
// Kernels whose loops vectorise well with AVX2 are built twice, for AVX2 (functions marked K_AVX2) and for the
// baseline instruction set; each call picks the AVX2 build when KUseAvx2() says so.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define K_HAVE_AVX2_BUILD 1
#define K_AVX2 __attribute__((target("avx2")))
#define K_INLINE_BODY inline __attribute__((always_inline))
#else
#define K_HAVE_AVX2_BUILD 0
#define K_AVX2
#define K_INLINE_BODY inline
#endif

// True when the processor runs AVX2 and the AVX2 builds are allowed.
bool KUseAvx2();
// Tests turn the AVX2 builds off to check the baseline ones on any processor.
void KAllowAvx2(bool allow);
