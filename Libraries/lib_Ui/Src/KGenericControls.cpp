#include "KUiObjectFactory.h"

bool RegisterGenericControls(KIUiObjectFactory* factory)
{
    bool ok = true;
    // The control groups register here, in their fixed order.
    return ok;
}
