// The tone curve: a three-channel table over the columns of OUTLUT from the adjustments a0-a3 and the colour
// factors.
#include "KGlobalLUTs.h"
#include "KIPEngine2.h"
#include "KStageParams.h"
#include "KToneCurve.h"
#include "KToneTableView.h"

KEngineOutcome KIPEngine2::priProcessCreateToneLUT(KIPEngineRequest& request)
{
    KStageParams params(request, "KIPEngine2::priProcessCreateToneLUT");
    auto* lut = params.Matrix<Int16Class>(u"OUTLUT");
    auto* adjustments = params.Matrix<FloatClass>(u"ADJUSTMENTS");
    auto* colour = params.Matrix<FloatClass>(u"COLORADJUST");
    if (!params.Ok())
        return params.Outcome();
    if (!HasShape(*lut, kToneTableEntries, 3))
        return params.Fail("output LUT is not big enough!");
    if (!HasShape(*adjustments, 4, 1) || !HasShape(*colour, 3, 1))
        return params.Fail("not enough adjustments given!");

    KToneTableView view(*lut);
    auto a = [&](KInt32 i) { return adjustments->At(i, 0); };
    auto c = [&](KInt32 i) { return colour->At(i, 0); };
    CreateToneLUT(a(0), a(1), a(2), a(3), c(0), c(1), c(2), *KGlobalLUTsClass::GetCubeLUT(), view);
    return KEngineOutcome::Done();
}
