#include "Tiff/KTiffRowConversion.h"

#include "KPixmapExceptions.h"
#include "KRowConvertersTo30RGBL.h"
#include "KRowConvertersTo48RGB.h"

namespace {

template <class SourceClass, int Shift>
constexpr KRowConverter To24RGB = ConvertRowThroughTriple<SourceClass, KPixelClass24RGB, Shift>;

KRowConverter Into24RGB(int sourceType)
{
    switch (sourceType) {
    case kPixelType24BGR: return To24RGB<KPixelClass24BGR, 0>;
    case kPixelType30RGBL: return ConvertRow30RGBLTo24RGB;
    case kPixelType30BGRL: return To24RGB<KPixelClass30BGRL, -3>;
    case kPixelType30RGB: return To24RGB<KPixelClass30RGB, -3>;
    case kPixelType32ARGB: return To24RGB<KPixelClass32ARGB, 0>;
    case kPixelType32ABGR: return To24RGB<KPixelClass32ABGR, 0>;
    case kPixelType32BGRA: return To24RGB<KPixelClass32BGRA, 0>;
    case kPixelType32RGBA: return To24RGB<KPixelClass32RGBA, 0>;
    case kPixelType48RGB: return ConvertRow48RGBTo24RGB;
    case kPixelType48SRGB: return To24RGB<KPixelClass48SRGB, -8>;
    case kPixelType48BGR: return To24RGB<KPixelClass48BGR, -8>;
    default: return nullptr;
    }
}

KRowConverter Into30RGBL(int sourceType)
{
    switch (sourceType) {
    case kPixelType24BGR: return ConvertRowThroughTriple<KPixelClass24BGR, KPixelClass30RGBL, 3>;
    case kPixelType24RGB: return ConvertRowThroughTriple<KPixelClass24RGB, KPixelClass30RGBL, 3>;
    case kPixelType30BGRL: return ConvertRowThroughTriple<KPixelClass30BGRL, KPixelClass30RGBL, 0>;
    case kPixelType30RGB: return ConvertRow30RGBTo30RGBL;
    case kPixelType32ARGB: return ConvertRow32ARGBTo30RGBL;
    case kPixelType32ABGR: return ConvertRow32ABGRTo30RGBL;
    case kPixelType32BGRA: return ConvertRow32BGRATo30RGBL;
    case kPixelType32RGBA: return ConvertRow32RGBATo30RGBL;
    case kPixelType48RGB: return ConvertRow48RGBTo30RGBL;
    case kPixelType48SRGB: return ConvertRow48SRGBTo30RGBL;
    case kPixelType48BGR: return ConvertRow48BGRTo30RGBL;
    default: return nullptr;
    }
}

KRowConverter Into16Mono(int sourceType)
{
    switch (sourceType) {
    case kPixelType8Mono: return ConvertRow8MonoTo16Mono;
    case kPixelType12Mono: return ConvertRow12MonoTo16Mono;
    case kPixelType16SMono: return ConvertRow16MonoTo16Mono;
    case kPixelType32Mono: return ConvertRow32MonoTo16Mono;
    default: return nullptr;
    }
}

}  // namespace

KRowConverter GetTiffWriterRowConverter(int fileType, int sourceType)
{
    KRowConverter converter = nullptr;
    switch (fileType) {
    case kPixelType8Mono: throw KExceptionUnknownPixelType("TiffLineWriter: Unknown source pixel type");
    case kPixelType16Mono: converter = Into16Mono(sourceType); break;
    case kPixelType24RGB: converter = Into24RGB(sourceType); break;
    case kPixelType30RGBL: converter = Into30RGBL(sourceType); break;
    case kPixelType48RGB: converter = FindRowConverterTo48RGB(sourceType); break;
    default: break;
    }
    if (converter == nullptr)
        throw KExceptionUnknownPixelType("TiffLineWriter: Cannot convert source to dest pixel type.");
    return converter;
}
