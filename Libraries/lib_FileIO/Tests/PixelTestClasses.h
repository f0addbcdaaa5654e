#pragma once
// Pixel classes that exist only as references for the converter tests.
#include <cstring>

#include "KPixelClasses.h"

// Grey pixels as triples with the value in r (g and b unused).
template <class Mono>
struct TestGrey : Mono {
    static KRGBTriple GetRGB(const void* p)
    {
        typename Mono::Sample v;
        std::memcpy(&v, p, sizeof v);
        return KRGBTriple(static_cast<int32_t>(v), 0, 0);
    }
    static void SetRGB(void* p, const KRGBTriple& c)
    {
        const auto v = static_cast<typename Mono::Sample>(c.r);
        std::memcpy(p, &v, sizeof v);
    }
};
using TestPixel16Mono = TestGrey<KPixelClass16Mono>;
