#pragma once
// Colour conversion between pixel types: copies the pixels of one pixmap into another of a different type,
// optionally from a rectangle of the source. Only the representation changes (depth, channel order, grey to
// colour); no matrix, no curve. Nothing is allocated; all checks come before the first pixel is written.
// Called on any one thread at a time per output pixmap; it keeps no state.
#include "KPixmap.h"
#include "KRect.h"

// input, output: the pixmaps; crop: a rectangle of the input in pixels (right and bottom exclusive), or null
// for the whole input. Each source row y of the region fills output row y - top, with as many pixels as the
// output is wide, taken from column left on. Throws KException for a missing pixmap, an output larger than the
// input, a crop larger than the output, a region that does not fit the input or the output, and for pixel types
// that have no conversion (outputs 9, 12, 14, 16 and the grey types).
void ConvertColorPixmap(const KPixmap* input, KPixmap* output, const KRect* crop = nullptr);

// The same for grey inputs (types 1 to 5): each grey value becomes one grey level in all three channels.
void ConvertMonoPixmap(const KPixmap* input, KPixmap* output, const KRect* crop = nullptr);
