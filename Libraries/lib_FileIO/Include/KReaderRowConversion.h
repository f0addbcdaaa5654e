#pragma once
// How a file reader turns a row decoded in its native pixel type into the pixel type of the caller's pixmap.
// Sources: 16Mono (into the grey types), 24RGB, 30RGBL and 48RGB (into every colour type). Any other source,
// or a destination not listed for the source, is refused. Into 30BGRL the converter throws "NOT IMPLEMENTED"
// when it converts at least one pixel.
#include "KRowConverters.h"

enum class KReaderRowRefusal {
    None,
    UnknownSource,       // the source type is not in the table
    UnknownDestination,  // the source is, but not with this destination
};

// The converter, or null with the reason in *refusal (when given).
KRowConverter FindReaderRowConverter(int sourceType, int destinationType, KReaderRowRefusal* refusal = nullptr);

// The converter; a refusal throws KExceptionUnknownPixelType with the reader's own message for its reason.
KRowConverter GetReaderRowConverter(int sourceType, int destinationType, const char* unknownSourceMessage,
                                    const char* unknownDestinationMessage);
