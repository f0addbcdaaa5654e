#include "KConvertColorPixmap.h"

#include "KColorRowConverters.h"
#include "KConversionFrame.h"
#include "KException.h"
#include "KRowConverters.h"
#include "KRowConvertersTo48RGB.h"

namespace {

// Channel depth of a colour source type: 8, 11 or 16 bits; 0 for a type that is not a colour type.
int SourceDepth(int pixelType)
{
    switch (pixelType) {
    case kPixelType24BGR:
    case kPixelType24RGB:
    case kPixelType32ARGB:
    case kPixelType32ABGR:
    case kPixelType32BGRA:
    case kPixelType32RGBA: return 8;
    case kPixelType30RGBL:
    case kPixelType30BGRL:
    case kPixelType30RGB: return 11;
    case kPixelType48RGB:
    case kPixelType48SRGB:
    case kPixelType48BGR: return 16;
    default: return 0;
    }
}

// GetRGB of the source class, the shift between the two depths, SetRGB of the output class.
template <class OutputClass, int OutputDepth>
KRowConverter ThroughTriple(int sourceType)
{
    switch (sourceType) {
    case kPixelType24BGR: return ConvertRowThroughTriple<KPixelClass24BGR, OutputClass, OutputDepth - 8>;
    case kPixelType24RGB: return ConvertRowThroughTriple<KPixelClass24RGB, OutputClass, OutputDepth - 8>;
    case kPixelType32ARGB: return ConvertRowThroughTriple<KPixelClass32ARGB, OutputClass, OutputDepth - 8>;
    case kPixelType32ABGR: return ConvertRowThroughTriple<KPixelClass32ABGR, OutputClass, OutputDepth - 8>;
    case kPixelType32BGRA: return ConvertRowThroughTriple<KPixelClass32BGRA, OutputClass, OutputDepth - 8>;
    case kPixelType32RGBA: return ConvertRowThroughTriple<KPixelClass32RGBA, OutputClass, OutputDepth - 8>;
    case kPixelType30RGBL: return ConvertRowThroughTriple<KPixelClass30RGBL, OutputClass, OutputDepth - 11>;
    case kPixelType30BGRL: return ConvertRowThroughTriple<KPixelClass30BGRL, OutputClass, OutputDepth - 11>;
    case kPixelType30RGB: return ConvertRowThroughTriple<KPixelClass30RGB, OutputClass, OutputDepth - 11>;
    case kPixelType48RGB: return ConvertRowThroughTriple<KPixelClass48RGB, OutputClass, OutputDepth - 16>;
    case kPixelType48SRGB: return ConvertRowThroughTriple<KPixelClass48SRGB, OutputClass, OutputDepth - 16>;
    case kPixelType48BGR: return ConvertRowThroughTriple<KPixelClass48BGR, OutputClass, OutputDepth - 16>;
    default: return nullptr;
    }
}

KRowConverter To32ARGB(int sourceType)
{
    switch (sourceType) {
    case kPixelType48RGB: return ConvertRow48RGBTo32ARGB;
    case kPixelType48SRGB: return ConvertRow48SRGBTo32ARGB;
    case kPixelType48BGR: return ConvertRow48BGRTo32ARGB;
    default: return ThroughTriple<KPixelClass32ARGB, 8>(sourceType);
    }
}

KRowConverter To32BGRA(int sourceType)
{
    switch (sourceType) {
    case kPixelType24BGR: return ConvertRow24BGRTo32BGRA;
    case kPixelType24RGB: return ConvertRow24RGBTo32BGRA;
    case kPixelType30RGBL: return ConvertRow30RGBLTo32BGRA;
    case kPixelType30BGRL: return ConvertRow30BGRLTo32BGRA;
    case kPixelType30RGB: return ConvertRow30RGBTo32BGRA;
    case kPixelType32ARGB: return ConvertRow32ARGBTo32BGRA;
    case kPixelType32ABGR: return ConvertRow32ABGRTo32BGRA;
    case kPixelType32BGRA: return ConvertRow32BGRATo32BGRA;
    case kPixelType32RGBA: return ConvertRow32RGBATo32BGRA;
    case kPixelType48RGB: return ConvertRow48RGBTo32BGRA;
    case kPixelType48SRGB: return ConvertRow48SRGBTo32BGRA;
    case kPixelType48BGR: return ConvertRow48BGRTo32BGRA;
    default: return nullptr;
    }
}

KRowConverter To48RGB(int sourceType) { return FindRowConverterTo48RGB(sourceType); }

KRowConverter To48BGR(int sourceType)
{
    switch (sourceType) {
    case kPixelType24BGR: return ConvertRow24BGRTo48BGR;
    case kPixelType24RGB: return ConvertRow24RGBTo48BGR;
    case kPixelType30RGBL: return ConvertRow30RGBLTo48BGR;
    case kPixelType30BGRL: return ConvertRow30BGRLTo48BGR;
    case kPixelType30RGB: return ConvertRow30RGBTo48BGR;
    case kPixelType32ARGB: return ConvertRow32ARGBTo48BGR;
    case kPixelType32ABGR: return ConvertRow32ABGRTo48BGR;
    case kPixelType32BGRA: return ConvertRow32BGRATo48BGR;
    case kPixelType32RGBA: return ConvertRow32RGBATo48BGR;
    case kPixelType48RGB: return ConvertRow48RGBTo48BGR;
    case kPixelType48SRGB: return ConvertRow48SRGBTo48BGR;
    case kPixelType48BGR: return ConvertRow48BGRTo48BGR;
    default: return nullptr;
    }
}

// The methods of the output types; null for an output type that has none.
using KSourceTable = KRowConverter (*)(int sourceType);

KSourceTable MethodOf(int outputType)
{
    switch (outputType) {
    case kPixelType24BGR: return ThroughTriple<KPixelClass24BGR, 8>;
    case kPixelType24RGB: return ThroughTriple<KPixelClass24RGB, 8>;
    case kPixelType30RGBL: return ThroughTriple<KPixelClass30RGBL, 11>;
    case kPixelType30RGB: return ThroughTriple<KPixelClass30RGB, 11>;
    case kPixelType32ARGB: return To32ARGB;
    case kPixelType32BGRA: return To32BGRA;
    case kPixelType48RGB: return To48RGB;
    case kPixelType48BGR: return To48BGR;
    default: return nullptr;
    }
}

}  // namespace

void ConvertColorPixmap(const KPixmap* input, KPixmap* output, const KRect* crop)
{
    using namespace KConversionFrame;
    CheckPixmaps(input, output);
    const int sourceType = input->GetPixelType();
    if (sourceType >= kPixelType8Mono && sourceType <= kPixelType32Mono) {
        ConvertMonoPixmap(input, output, crop);
        return;
    }
    if (SourceDepth(sourceType) == 0)
        throw KException(kUnknownSourceType);

    const KRect region =
        Region(*input, *output, crop, "The crop region is larger than the output pixmap: ConvertColorPixmap.");
    const KSourceTable method = MethodOf(output->GetPixelType());
    if (method == nullptr)
        throw KException(kUnknownDestinationType);
    const KRowConverter convert = method(sourceType);
    if (convert == nullptr)
        throw KException(kUnknownSourceType);
    ConvertRows(CheckedRows(*input, *output, region), convert);
}
