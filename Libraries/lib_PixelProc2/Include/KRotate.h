#pragma once
// Rotation of a pixmap into another by an angle: whole pixels move, with 16.16 fixed-point coordinates, so
// multiples of 90 degrees map exactly. Called on one thread at a time per output pixmap; keeps no state.
#include "KPixmap.h"

// angle: degrees, positive turns clockwise on screen (rows run downwards). The caller sizes the output (input
// height x input width for a quarter turn); input pixels that fall outside it are dropped, output pixels that
// no input pixel reaches keep what they held. Input and output share one of the types 24RGB, 32ARGB, 32BGRA or
// 48RGB. Throws KExceptionPpUnknownPixelType for another output type, std::bad_cast for an input of another
// type than the output, and KExceptionPixelProc for an angle that is not a finite number or a pixmap with
// pixels but no pixel data.
void Rotate(const KPixmap& input, KPixmap& output, double angle);
