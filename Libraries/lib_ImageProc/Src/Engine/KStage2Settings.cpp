#include "KStage2Settings.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "KCalibrationAreas.h"
#include "KCamdata.h"
#include "KColorSpace.h"
#include "KDebug.h"
#include "KPropTree.h"
#include "KWString.h"

namespace {

// The calibration's property lists hold 8-bit text widened byte by byte: narrowing takes the low bytes back.
std::string LowBytes(const KWString& text)
{
    std::string bytes;
    for (KWChar c : text.View())
        bytes += static_cast<char>(c & 0xFF);
    return bytes;
}

// camera x diag(v): column j scaled by v[j].
void TimesDiagonal(KMatrix3x3& m, const KColorTriple& v)
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            m[i * 3 + j] *= v[j];
}

bool AllPositive(const KColorTriple& n)
{
    return std::all_of(n.begin(), n.end(), [](double x) { return std::isfinite(x) && x > 0.0; });
}

// The camera RGB of the D65 white (the D65 triple itself when the matrix has no inverse).
KColorTriple White(const KMatrix3x3& camera, bool singular)
{
    KColorTriple white = kD65WhitePoint;
    if (singular)
        return white;
    const KMatrix3x3 inverse = Invert3x3(camera);
    KColorTriple n;
    for (int i = 0; i < 3; ++i)
        n[i] = inverse[i * 3] * white[0] + inverse[i * 3 + 1] * white[1] + inverse[i * 3 + 2] * white[2];
    return n;
}

double IsoGain(const KCamdata& camdata, double parameterIso)
{
    double capture = GetCamdataFloat("CaptureISO", camdata);
    if (capture == 0.0)
        capture = parameterIso;
    const double sensor = GetCamdataFloat("SensorISO", camdata);
    if (!(sensor > 0.0)) {
        DebugTrace("KIPEngine2::priProcessStage2: SensorISO %g is not positive, ISO gain 1.0 used\n", sensor);
        return 1.0;
    }
    const double gain = capture / sensor;
    if (!(gain > 0.0) || !std::isfinite(gain)) {
        DebugTrace("KIPEngine2::priProcessStage2: capture ISO %g gives no ISO gain, 1.0 used\n", capture);
        return 1.0;
    }
    return gain;
}

// The camera matrix of the white balance: the illuminant's own matrix (times its correction) when the
// calibration lists illuminants, else "CAMToXYZ".
KMatrix3x3 CameraMatrix(const KCamdata& camdata, const KWString& whiteBalance, bool& haveIlluminants)
{
    KPropTree illuminants(nullptr, "WhiteBalanceIlluminants");
    camdata.GetPropertyList("WhiteBalanceIlluminants", &illuminants);
    haveIlluminants = illuminants.GetPairCount() != 0;
    if (!haveIlluminants)
        return GetCamdataColorMatrix("CAMToXYZ", camdata);
    const KWString none;
    const KWString name = illuminants.GetString(whiteBalance, none);
    if (name.IsEmpty())
        return GetCamdataColorMatrix("CamToXYZ_Flash", camdata);
    KMatrix3x3 camera = GetCamdataColorMatrix(LowBytes(name).c_str(), camdata);
    KPropTree corrections(nullptr, "WhiteBalanceCorrections");
    camdata.GetPropertyList("WhiteBalanceCorrections", &corrections);
    if (corrections.GetPairCount() != 0) {
        const KWString correction = corrections.GetString(whiteBalance, none);
        if (!correction.IsEmpty())
            camera = Multiply3x3(GetCamdataColorMatrix(LowBytes(correction).c_str(), camdata), camera);
    }
    return camera;
}

// Per channel gains of a multi-frame exposure, from the dark drift and the accumulation offsets.
KColorTriple BulbGains(const KCamdata& camdata, KUInt32 frames, KUInt32 usePreComputedDrift)
{
    KDarkDrift drift = GetCamdataDarkDrift("RawDrift", camdata);
    auto& end = drift.m_Value;  // [end][kind: 0 slope, 1 mean][channel]
    if (usePreComputedDrift == 0) {
        for (int c = 0; c < 3; ++c)
            end[1][1][c] += 0.5 * end[1][0][c];
        for (int k = 0; k < 2; ++k)
            for (int c = 0; c < 3; ++c)
                end[0][k][c] = end[1][k][c];
    }
    const KIntTriple accum = GetCamdataColorInt32("BulbAccumOffset", camdata);
    const KIntTriple accumN = GetCamdataColorInt32("BulbAccumOffsetN", camdata);
    const double n = frames;
    double h[3];
    for (int c = 0; c < 3; ++c) {
        const double a = accum[c] - 4095.0, b = accumN[c] - 4095.0;
        const double top = (end[0][1][c] - b * (n - 1) - a) / n;
        const double bottom = (end[1][1][c] - b * (n - 1) - a) / n;
        h[c] = (top + bottom) / 2;
    }
    KColorTriple factor = GetCamdataColorFloat("DarkGainFactor", camdata);
    if (factor[0] == 0.0 && factor[1] == 0.0 && factor[2] == 0.0)
        factor = {1.5, 1.5, 1.5};
    const KColorTriple offset = GetCamdataColorFloat("DarkNormalOffset", camdata);
    KColorTriple g;
    for (int c = 0; c < 3; ++c) {
        const double d = h[c] - (h[(c + 1) % 3] + h[(c + 2) % 3]) / 2;
        g[c] = 1.0 + (d - offset[c]) * (factor[c] / 2) / 4096.0;
    }
    return g;
}

}  // namespace

KStage2Settings ComputeStage2Settings(const KCamdata& camdata, const KStage2Inputs& inputs)
{
    KStage2Settings s;
    s.isoGain = IsoGain(camdata, inputs.iso);
    s.frames = GetCamdataUInt32("BulbFrameCount", camdata);
    s.bulb = s.frames > 1;
    s.d = s.isoGain >= 2.0 && !s.bulb ? 2.0 : 1.0;
    s.isoRatio = s.isoGain / s.d;
    s.exposure = inputs.exposure;

    const KIntTriple saturation = GetCamdataColorInt16("SaturationLevel", camdata);
    const double bulbScale = s.bulb ? std::min(std::sqrt(s.frames - 1.0) * 0.4, 1.2) : 1.0;
    for (int c = 0; c < 3; ++c) {
        KInt32 level = saturation[c];
        if (s.bulb)
            level = static_cast<KInt32>(level * bulbScale);
        s.saturation[c] = static_cast<KInt32>(level * s.d);
    }

    if (s.bulb)
        s.noise = s.frames / 6.0 + std::sqrt(s.frames + 1.0);
    if (s.isoGain < 2.0)
        s.noise *= std::sqrt(2.0);

    const KWString whiteBalance(inputs.whiteBalance);
    bool haveIlluminants = false;
    s.camera = CameraMatrix(camdata, whiteBalance, haveIlluminants);
    s.usePreComputedDrift = GetCamdataUInt32("UsePreComputedDrift", camdata);
    if (s.bulb)
        s.bulbGain = BulbGains(camdata, s.frames, s.usePreComputedDrift);
    s.singular = std::abs(Determinant3x3(s.camera)) < 0.0001;

    KColorTriple n = inputs.override;
    if (n[1] > 0.0) {
        if (s.bulb)
            TimesDiagonal(s.camera, s.bulbGain);
    } else if (!haveIlluminants) {
        n = GetCamdataColorFloat("RGBNeutral", camdata);
        if (n[0] <= 0.0 && n[1] <= 0.0 && n[2] <= 0.0)
            n = White(s.camera, s.singular);
    } else {
        if (whiteBalance == "Auto")
            n = GetCamdataColorFloat("AutoRGBNeutral", camdata);
        else if (whiteBalance == "Custom")
            n = GetCamdataColorFloat("CustomRGBNeutral", camdata);
        if (n[1] <= 0.0) {
            if (s.bulb)
                TimesDiagonal(s.camera, s.bulbGain);
            n = White(s.camera, s.singular);
        }
    }
    // A neutral with a channel at or below zero would give that channel an infinite or negative gain.
    if (!AllPositive(n)) {
        DebugTrace("KIPEngine2::priProcessStage2: neutral (%g, %g, %g) unusable, white used\n", n[0], n[1], n[2]);
        n = White(s.camera, s.singular);
        if (!AllPositive(n))
            n = kD65WhitePoint;
    }

    s.keep = GetCamdataRect("KeepImageArea", camdata);
    const KRect active = GetCamdataRect("ActiveImageArea", camdata);
    s.active = MoveIntoKeepArea(active, s.keep);

    const double largest = std::max({n[0], n[1], n[2]});
    for (int c = 0; c < 3; ++c) {
        n[c] /= largest;
        s.channelGain[c] = 1.0 / n[c];
    }
    TimesDiagonal(s.camera, n);

    KUInt32 threshold = GetCamdataUInt32("DespeckleExpTimeThresh", camdata);
    if (threshold == 0)
        threshold = 150000;
    s.longExposure = s.bulb || s.exposure > threshold;
    return s;
}
