#include "KIPEngine2.h"
#include "KRotate.h"
#include "KStageParams.h"

// Turns INIMAGE into OUTIMAGE by ROTATION's first element, in degrees.
KEngineOutcome KIPEngine2::priProcessRotate(KIPEngineRequest& request)
{
    KStageParams params(request, "KIPEngine2::priProcessRotate");
    KPixmap* input = params.Pixmap(u"INIMAGE");
    KPixmap* output = params.Pixmap(u"OUTIMAGE");
    auto* rotation = params.Matrix<FloatClass>(u"ROTATION", 1);
    if (!params.Ok())
        return params.Outcome();
    Rotate(*input, *output, rotation->Elements()[0]);
    return KEngineOutcome::Done();
}
