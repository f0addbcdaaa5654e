#pragma once
// The build of a vector kernel to call: name##Avx2 when the AVX2 builds run, else name.
#include "KVectorKernels.h"

#if K_HAVE_AVX2_BUILD
#define K_PICK_KERNEL(name) (KUseAvx2() ? name##Avx2 : name)
#else
#define K_PICK_KERNEL(name) (name)
#endif
