#pragma once
// A kernel whose loops vectorise well with AVX2 is built twice, for AVX2 and for the baseline instruction set;
// the program picks the one the processor runs when it starts.
#if defined(__GNUC__) && defined(__x86_64__)
#define K_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define K_VECTOR_CLONES
#endif
