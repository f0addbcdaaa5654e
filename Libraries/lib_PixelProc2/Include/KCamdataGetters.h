#pragma once
// Typed look-ups of calibration entries by name. Each asks KCamdata::FindMatrix for one element type and
// shape; on a miss it writes a trace naming the entry and returns the default shown. None throws.
#include <array>
#include <memory>

#include "KCamdata.h"
#include "KLUT.h"
#include "KMatrix3x3.h"
#include "KRect.h"

using KColorTriple = std::array<double, 3>;
using KIntTriple = std::array<KInt32, 3>;
using KPostPoly = std::array<float, 27>;

// A coarse gain grid: the gain of grid point (row y, column i) for channel c is element (y x columns + i) x 3 + c.
struct KSpatialGainGrid {
    const float* m_pElements = nullptr;
    KUInt32 m_Columns = 0;
    KUInt32 m_Rows = 0;
};

// Dark drift at the two ends of the frame: [end][kind][channel], end 0 top and 1 bottom, kind 0 the slopes
// and 1 the means, channel R, G, B.
struct KDarkDrift {
    double m_Value[2][2][3] = {};
};

// int16 [3][n], n > 0: three channel tables over the elements (channel c from element c x n), not owned.
std::unique_ptr<KColorLUT> GetCamdataColorLUT(const char* name, const KCamdata& camdata);
// float [3][3], row by row; all zero on a miss.
KMatrix3x3 GetCamdataColorMatrix(const char* name, const KCamdata& camdata);
// uint32 [n]: the entries (null on a miss) and their count.
const KUInt32* GetCamdataBadPixels(const char* name, const KCamdata& camdata, KUInt32* count);
// float [rows][columns][3].
std::unique_ptr<KSpatialGainGrid> GetCamdataSpatialGain(const char* name, const KCamdata& camdata);
// float [3][9].
KPostPoly GetCamdataPostPoly(const char* name, const KCamdata& camdata);
float GetCamdataFloat(const char* name, const KCamdata& camdata);
KInt32 GetCamdataInt32(const char* name, const KCamdata& camdata);
KUInt32 GetCamdataUInt32(const char* name, const KCamdata& camdata);
// float [3].
KColorTriple GetCamdataColorFloat(const char* name, const KCamdata& camdata);
KColorTriple GetCamdataColorFloatOr(const char* name, const KCamdata& camdata, const KColorTriple& defaults);
// int16 [3], sign-extended.
KIntTriple GetCamdataColorInt16(const char* name, const KCamdata& camdata);
// int32 [3].
KIntTriple GetCamdataColorInt32(const char* name, const KCamdata& camdata);
// int32 [4] {left, top, right, bottom} with right and bottom inclusive; returned with them exclusive.
KRect GetCamdataRect(const char* name, const KCamdata& camdata);
// float [2][3][2]: stored [end][channel][kind].
KDarkDrift GetCamdataDarkDrift(const char* name, const KCamdata& camdata);
