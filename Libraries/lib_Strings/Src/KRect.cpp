#include "KRect.h"

namespace {

// Source edge moved by amount destination pixels, scaled by the axis ratio; 64-bit throughout and truncated
// back to 32 bits like the rest of the rectangle arithmetic.
int32_t priScaledEdge(int32_t edge, int64_t amount, int64_t sourceSize, int64_t destinationSize, bool forward)
{
    int64_t moved = amount * sourceSize / destinationSize;
    int64_t result = forward ? int64_t(edge) + moved : int64_t(edge) - moved;
    return static_cast<int32_t>(result);
}

}  // namespace

void KRect::ClipScaled(KRect& destination, KRect& source) const
{
    int64_t dw = int64_t(destination.right) - destination.left;
    int64_t dh = int64_t(destination.bottom) - destination.top;
    if (dw <= 0 || dh <= 0)
        return;
    int64_t sw = int64_t(source.right) - source.left;
    int64_t sh = int64_t(source.bottom) - source.top;

    if (destination.left < left) {
        source.left = priScaledEdge(source.left, int64_t(left) - destination.left, sw, dw, true);
        destination.left = left;
    }
    if (destination.top < top) {
        source.top = priScaledEdge(source.top, int64_t(top) - destination.top, sh, dh, true);
        destination.top = top;
    }
    if (int64_t(destination.right) - 1 > int64_t(right) - 1) {
        source.right = priScaledEdge(source.right, int64_t(destination.right) - right, sw, dw, false);
        destination.right = right;
    }
    if (int64_t(destination.bottom) - 1 > int64_t(bottom) - 1) {
        source.bottom = priScaledEdge(source.bottom, int64_t(destination.bottom) - bottom, sh, dh, false);
        destination.bottom = bottom;
    }
}
