#include "KColorRowConverters.h"

#include "KRowConverterTemplates.h"

using namespace KRowConversion;

void ConvertRow48SRGBTo32ARGB(int count, const void* source, void* destination)
{
    Words16To32<0, 1, 2, 1, 2, 3, 0>(count, source, destination);
}

void ConvertRow48BGRTo32ARGB(int count, const void* source, void* destination)
{
    Words16To32<2, 1, 0, 1, 2, 3, 0>(count, source, destination);
}

void ConvertRow24BGRTo32BGRA(int count, const void* source, void* destination)
{
    Bytes8To32<3, 2, 1, 0, 2, 1, 0, 3>(count, source, destination);
}

void ConvertRow24RGBTo32BGRA(int count, const void* source, void* destination)
{
    Bytes8To32<3, 0, 1, 2, 2, 1, 0, 3>(count, source, destination);
}

void ConvertRow30BGRLTo32BGRA(int count, const void* source, void* destination)
{
    Packed11To32<KPixelClass30BGRL, 2, 1, 0, 3>(count, source, destination);
}

void ConvertRow30RGBTo32BGRA(int count, const void* source, void* destination)
{
    Packed11To32<KPixelClass30RGB, 2, 1, 0, 3>(count, source, destination);
}

void ConvertRow32ARGBTo32BGRA(int count, const void* source, void* destination)
{
    Bytes8To32<4, 1, 2, 3, 2, 1, 0, 3>(count, source, destination);
}

void ConvertRow32ABGRTo32BGRA(int count, const void* source, void* destination)
{
    Bytes8To32<4, 3, 2, 1, 2, 1, 0, 3>(count, source, destination);
}

void ConvertRow32BGRATo32BGRA(int count, const void* source, void* destination)
{
    Bytes8To32<4, 2, 1, 0, 2, 1, 0, 3>(count, source, destination);
}

void ConvertRow32RGBATo32BGRA(int count, const void* source, void* destination)
{
    Bytes8To32<4, 0, 1, 2, 2, 1, 0, 3>(count, source, destination);
}

void ConvertRow48SRGBTo32BGRA(int count, const void* source, void* destination)
{
    Words16To32<0, 1, 2, 2, 1, 0, 3>(count, source, destination);
}

void ConvertRow48BGRTo32BGRA(int count, const void* source, void* destination)
{
    Words16To32<2, 1, 0, 2, 1, 0, 3>(count, source, destination);
}

void ConvertRow24BGRTo48BGR(int count, const void* source, void* destination)
{
    Bytes8To48<3, 2, 1, 0, 2, 1, 0>(count, source, destination);
}

void ConvertRow30BGRLTo48BGR(int count, const void* source, void* destination)
{
    Packed11To48<KPixelClass30BGRL, 2, 1, 0>(count, source, destination);
}

void ConvertRow30RGBTo48BGR(int count, const void* source, void* destination)
{
    Packed11To48<KPixelClass30RGB, 2, 1, 0>(count, source, destination);
}

void ConvertRow32ARGBTo48BGR(int count, const void* source, void* destination)
{
    Bytes8To48<4, 1, 2, 3, 2, 1, 0>(count, source, destination);
}

void ConvertRow32ABGRTo48BGR(int count, const void* source, void* destination)
{
    Bytes8To48<4, 3, 2, 1, 2, 1, 0>(count, source, destination);
}

void ConvertRow32BGRATo48BGR(int count, const void* source, void* destination)
{
    Bytes8To48<4, 2, 1, 0, 2, 1, 0>(count, source, destination);
}

void ConvertRow32RGBATo48BGR(int count, const void* source, void* destination)
{
    Bytes8To48<4, 0, 1, 2, 2, 1, 0>(count, source, destination);
}

void ConvertRow48SRGBTo48BGR(int count, const void* source, void* destination)
{
    Words16To48<2, 1, 0>(count, source, destination);
}

void ConvertRow48BGRTo48BGR(int count, const void* source, void* destination)
{
    Words16To48<0, 1, 2>(count, source, destination);
}
