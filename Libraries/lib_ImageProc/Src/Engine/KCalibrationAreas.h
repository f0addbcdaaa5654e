#pragma once
// Sensor positions of the calibration moved into the coordinates of the keep area (the part of the sensor that
// the frames hold). The calibration comes from the file: its rectangles may lie anywhere in the 32-bit range,
// so the moves saturate, and the kernels then refuse what lies outside their image.
#include "KRect.h"
#include "KTypes.h"
#include "Manager/KIpmGeometry.h"

inline KRect MoveIntoKeepArea(const KRect& r, const KRect& keep)
{
    return KRect(SaturatedDifference(r.left, keep.left), SaturatedDifference(r.top, keep.top),
                 SaturatedDifference(r.right, keep.left), SaturatedDifference(r.bottom, keep.top));
}
