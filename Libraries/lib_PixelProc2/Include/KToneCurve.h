#pragma once
// The tone curve: a three-channel table, indexed by the cube-root encoded working value, that gives the linear
// value after exposure and colour gain, black point, a contrast power that holds middle grey (0.18), a smooth
// roll-off of the highlights and a straight toe drawn in the encoded domain of the code-2 transfer curve.
// Only 256 points per channel are evaluated; the entries between them are interpolated linearly.
#include "KLUT.h"
#include "KTransferCurve.h"

// What CreateToneLUT derives from its adjustments before it samples the curve.
struct KToneCurveParams {
    double m_Contrast;    // u: the power of the linear input, 0.64375 .. 1.935 for a2 in -2 .. 2
    double m_Highlight;   // v: the roll-off, 0 (softest ceiling) .. 1
    double m_Black;       // w: subtracted from the input before the gain
    double m_GreyHold;    // z = 0.18^(1 - u), which keeps 0.18 in place under the power
    double m_Gains[3];    // colour gain times 2^a0, per channel
    double m_ToeEnd;      // T: the toe replaces the curve below this (0 without a toe)
    double m_ToeSlope;    // slope of the toe line in the encoded domain
    double m_ToeBase;     // B: the toe line's encoded value at 0
};

// The curve that the toe is drawn in: gamma 1 / 2.4, threshold 0.00304.
KTransferCurve ToneTransferCurve();

// a0 exposure compensation in stops, a1 blackness, a2 contrast, a3 highlight (each -2 .. 2 in use); c0, c1,
// c2 the colour factors of red, green and blue. A factor that is not above 0 counts as 1.0 (neutral).
KToneCurveParams ToneCurveParameters(double a0, double a1, double a2, double a3, double c0, double c1, double c2);

// One channel's curve at linear input x (see the Part's arguments: gain, black w, power u, roll-off v, toe end
// T, toe slope and base B, grey hold z, the toe's transfer curve, and d subtracted after the gain).
double ToneCurveValue(double x, double gain, double w, double u, double v, double toeEnd, double toeSlope,
                      double toeBase, double z, const KTransferCurve& curve, double d);

// Lays view over a table of rows x 3 values stored channel after channel (channel c from element c x rows, as in
// a 65536 x 3 data matrix): 65536 entries a channel, mask 0xFFFF, data not owned. rows must be at least 65536.
void LayToneLUTView(KColorLUT& view, KInt16* data, KUInt32 rows);

// Fills entries 0 .. 65535 of every channel of out (entries 0 .. 16384, 4096 = 1.0; the negative half 0) from
// the cube table (encoded index to linear value). An out table of fewer than 65536 entries fails the
// assertion "OutToneLUT->GetSize() >= 65536" (KException) before anything is written.
void CreateToneLUT(double a0, double a1, double a2, double a3, double c0, double c1, double c2, const KLUT& cube,
                   KColorLUT& out);
