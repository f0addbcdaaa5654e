#pragma once
// Calls f(PixelClass{}) with the pixel class of a type code; false for a code that names no type.
#include "KPixelClasses.h"

template <class F>
bool DispatchPixelClass(int pixelType, F&& f)
{
    switch (pixelType) {
    case kPixelType8Mono: f(KPixelClass8Mono{}); return true;
    case kPixelType12Mono: f(KPixelClass12Mono{}); return true;
    case kPixelType16Mono: f(KPixelClass16Mono{}); return true;
    case kPixelType16SMono: f(KPixelClass16SMono{}); return true;
    case kPixelType32Mono: f(KPixelClass32Mono{}); return true;
    case kPixelType24BGR: f(KPixelClass24BGR{}); return true;
    case kPixelType24RGB: f(KPixelClass24RGB{}); return true;
    case kPixelType30RGBL: f(KPixelClass30RGBL{}); return true;
    case kPixelType30BGRL: f(KPixelClass30BGRL{}); return true;
    case kPixelType30RGB: f(KPixelClass30RGB{}); return true;
    case kPixelType32ARGB: f(KPixelClass32ARGB{}); return true;
    case kPixelType32ABGR: f(KPixelClass32ABGR{}); return true;
    case kPixelType32BGRA: f(KPixelClass32BGRA{}); return true;
    case kPixelType32RGBA: f(KPixelClass32RGBA{}); return true;
    case kPixelType48RGB: f(KPixelClass48RGB{}); return true;
    case kPixelType48SRGB: f(KPixelClass48SRGB{}); return true;
    case kPixelType48BGR: f(KPixelClass48BGR{}); return true;
    default: return false;
    }
}
