#pragma once
// The build of a vector kernel to call: name##Avx2 when the AVX2 builds run, else name. Template arguments, when
// given, follow the name: K_PICK_KERNEL(Kernel, A, B) picks KernelAvx2<A, B> or Kernel<A, B>.
#include "KVectorKernels.h"

#if K_HAVE_AVX2_BUILD
#define K_PICK_KERNEL(name, ...) \
    (KUseAvx2() ? name##Avx2 __VA_OPT__(<__VA_ARGS__>) : name __VA_OPT__(<__VA_ARGS__>))
#else
#define K_PICK_KERNEL(name, ...) (name __VA_OPT__(<__VA_ARGS__>))
#endif
