#include "KRowConvertersTo48RGB.h"

#include "KRowConverterTemplates.h"

using namespace KRowConversion;

void ConvertRow24BGRTo48RGB(int count, const void* source, void* destination)
{
    Bytes8To48<3, 2, 1, 0, 0, 1, 2>(count, source, destination);
}

void ConvertRow30BGRLTo48RGB(int count, const void* source, void* destination)
{
    Packed11To48<KPixelClass30BGRL, 0, 1, 2>(count, source, destination);
}

void ConvertRow30RGBTo48RGB(int count, const void* source, void* destination)
{
    Packed11To48<KPixelClass30RGB, 0, 1, 2>(count, source, destination);
}

void ConvertRow32ARGBTo48RGB(int count, const void* source, void* destination)
{
    Bytes8To48<4, 1, 2, 3, 0, 1, 2>(count, source, destination);
}

void ConvertRow32ABGRTo48RGB(int count, const void* source, void* destination)
{
    Bytes8To48<4, 3, 2, 1, 0, 1, 2>(count, source, destination);
}

void ConvertRow32BGRATo48RGB(int count, const void* source, void* destination)
{
    Bytes8To48<4, 2, 1, 0, 0, 1, 2>(count, source, destination);
}

void ConvertRow32RGBATo48RGB(int count, const void* source, void* destination)
{
    Bytes8To48<4, 0, 1, 2, 0, 1, 2>(count, source, destination);
}

void ConvertRow48SRGBTo48RGB(int count, const void* source, void* destination)
{
    Words16To48<0, 1, 2>(count, source, destination);
}

void ConvertRow48BGRTo48RGB(int count, const void* source, void* destination)
{
    Words16To48<2, 1, 0>(count, source, destination);
}

KRowConverter FindRowConverterTo48RGB(int sourceType)
{
    switch (sourceType) {
    case kPixelType24BGR: return ConvertRow24BGRTo48RGB;
    case kPixelType24RGB: return ConvertRow24RGBTo48RGB;
    case kPixelType30RGBL: return ConvertRow30RGBLTo48RGB;
    case kPixelType30BGRL: return ConvertRow30BGRLTo48RGB;
    case kPixelType30RGB: return ConvertRow30RGBTo48RGB;
    case kPixelType32ARGB: return ConvertRow32ARGBTo48RGB;
    case kPixelType32ABGR: return ConvertRow32ABGRTo48RGB;
    case kPixelType32BGRA: return ConvertRow32BGRATo48RGB;
    case kPixelType32RGBA: return ConvertRow32RGBATo48RGB;
    case kPixelType48RGB: return ConvertRow48RGBTo48RGB;
    case kPixelType48SRGB: return ConvertRow48SRGBTo48RGB;
    case kPixelType48BGR: return ConvertRow48BGRTo48RGB;
    default: return nullptr;
    }
}
