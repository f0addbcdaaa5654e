#pragma once
// Pixel classes that exist only as references for the converter tests: packers the system does not have.
#include <cstring>

#include "KPixelClasses.h"

struct TestPixel48BGR : KPixelClass48BGR {
    static KRGBTriple GetRGB(const void* p)
    {
        using namespace KPixelMemory;
        return KRGBTriple(Load16(p, 2), Load16(p, 1), Load16(p, 0));
    }
    static void SetRGB(void* p, const KRGBTriple& c)
    {
        using namespace KPixelMemory;
        Store16(p, 0, static_cast<uint32_t>(c.b));
        Store16(p, 1, static_cast<uint32_t>(c.g));
        Store16(p, 2, static_cast<uint32_t>(c.r));
    }
};

struct TestPixel48SRGB : KPixelClass48SRGB {
    static void SetRGB(void* p, const KRGBTriple& c) { KPixelClass48RGB::SetRGB(p, c); }
};

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
