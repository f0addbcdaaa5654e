#include "KVectorKernels.h"

#include <atomic>

namespace {

std::atomic<bool> g_AllowAvx2{true};

bool ProcessorHasAvx2()
{
#if K_HAVE_AVX2_BUILD
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

}  // namespace

bool KUseAvx2()
{
    static const bool has = ProcessorHasAvx2();
    return has && g_AllowAvx2.load(std::memory_order_relaxed);
}

void KAllowAvx2(bool allow)
{
    g_AllowAvx2.store(allow, std::memory_order_relaxed);
}
