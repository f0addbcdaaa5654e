#include "KPixelClasses.h"

#include "KPixmapExceptions.h"

// The 30BGRL packer is not provided; callers see an exception of the family, not a bare text.
void ThrowPixelPackingNotImplemented() { throw KExceptionUnknownPixelType("NOT IMPLEMENTED"); }
