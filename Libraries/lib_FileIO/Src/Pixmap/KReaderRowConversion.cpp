#include "KReaderRowConversion.h"

#include "KPixmapExceptions.h"

namespace {
KRowConverter From16Mono(int destinationType)
{
    switch (destinationType) {
    case kPixelType8Mono: return ConvertRow16MonoTo8Mono;
    case kPixelType12Mono: return ConvertRow16MonoTo12Mono;
    case kPixelType16Mono:
    case kPixelType16SMono: return ConvertRow16MonoTo16Mono;
    case kPixelType32Mono: return ConvertRow16MonoTo32Mono;
    default: return nullptr;
    }
}

template <class DestinationClass, int Shift>
constexpr KRowConverter From24RGBVia = ConvertRowThroughTriple<KPixelClass24RGB, DestinationClass, Shift>;

KRowConverter From24RGB(int destinationType)
{
    switch (destinationType) {
    case kPixelType24BGR: return From24RGBVia<KPixelClass24BGR, 0>;
    case kPixelType24RGB: return From24RGBVia<KPixelClass24RGB, 0>;
    case kPixelType32ARGB: return From24RGBVia<KPixelClass32ARGB, 0>;
    case kPixelType32ABGR: return From24RGBVia<KPixelClass32ABGR, 0>;
    case kPixelType32BGRA: return From24RGBVia<KPixelClass32BGRA, 0>;
    case kPixelType32RGBA: return From24RGBVia<KPixelClass32RGBA, 0>;
    case kPixelType30RGBL: return From24RGBVia<KPixelClass30RGBL, 3>;
    case kPixelType30RGB: return From24RGBVia<KPixelClass30RGB, 3>;
    case kPixelType30BGRL: return ConvertRowTo30BGRL;
    case kPixelType48RGB:
    case kPixelType48SRGB: return ConvertRow24RGBTo48RGB;
    case kPixelType48BGR: return ConvertRow24RGBTo48BGR;
    default: return nullptr;
    }
}

KRowConverter From30RGBL(int destinationType)
{
    switch (destinationType) {
    case kPixelType24BGR: return ConvertRow30RGBLTo24BGR;
    case kPixelType24RGB: return ConvertRow30RGBLTo24RGB;
    case kPixelType30RGBL: return ConvertRow30RGBLTo30RGBL;
    case kPixelType30BGRL: return ConvertRowTo30BGRL;
    case kPixelType30RGB: return ConvertRow30RGBLTo30RGB;
    case kPixelType32ARGB: return ConvertRow30RGBLTo32ARGB;
    case kPixelType32ABGR: return ConvertRow30RGBLTo32ABGR;
    case kPixelType32BGRA: return ConvertRow30RGBLTo32BGRA;
    case kPixelType32RGBA: return ConvertRow30RGBLTo32RGBA;
    case kPixelType48RGB:
    case kPixelType48SRGB: return ConvertRow30RGBLTo48RGB;
    case kPixelType48BGR: return ConvertRow30RGBLTo48BGR;
    default: return nullptr;
    }
}

KRowConverter From48RGB(int destinationType)
{
    switch (destinationType) {
    case kPixelType24BGR: return ConvertRow48RGBTo24BGR;
    case kPixelType24RGB: return ConvertRow48RGBTo24RGB;
    case kPixelType30RGBL: return ConvertRow48RGBTo30RGBL;
    case kPixelType30BGRL: return ConvertRowTo30BGRL;
    case kPixelType30RGB: return ConvertRow48RGBTo30RGB;
    case kPixelType32ARGB: return ConvertRow48RGBTo32ARGB;
    case kPixelType32ABGR: return ConvertRow48RGBTo32ABGR;
    case kPixelType32BGRA: return ConvertRow48RGBTo32BGRA;
    case kPixelType32RGBA: return ConvertRow48RGBTo32RGBA;
    case kPixelType48RGB:
    case kPixelType48SRGB: return ConvertRow48RGBTo48RGB;
    case kPixelType48BGR: return ConvertRow48RGBTo48BGR;
    default: return nullptr;
    }
}
}  // namespace

KRowConverter FindReaderRowConverter(int sourceType, int destinationType, KReaderRowRefusal* refusal)
{
    KRowConverter converter = nullptr;
    bool knownSource = true;
    switch (sourceType) {
    case kPixelType16Mono: converter = From16Mono(destinationType); break;
    case kPixelType24RGB: converter = From24RGB(destinationType); break;
    case kPixelType30RGBL: converter = From30RGBL(destinationType); break;
    case kPixelType48RGB: converter = From48RGB(destinationType); break;
    default: knownSource = false; break;
    }
    if (refusal != nullptr) {
        *refusal = converter != nullptr ? KReaderRowRefusal::None
                   : knownSource        ? KReaderRowRefusal::UnknownDestination
                                        : KReaderRowRefusal::UnknownSource;
    }
    return converter;
}

KRowConverter GetReaderRowConverter(int sourceType, int destinationType, const char* unknownSourceMessage,
                                    const char* unknownDestinationMessage)
{
    KReaderRowRefusal refusal;
    KRowConverter converter = FindReaderRowConverter(sourceType, destinationType, &refusal);
    if (refusal == KReaderRowRefusal::UnknownSource)
        throw KExceptionUnknownPixelType(unknownSourceMessage);
    if (refusal == KReaderRowRefusal::UnknownDestination)
        throw KExceptionUnknownPixelType(unknownDestinationMessage);
    return converter;
}
