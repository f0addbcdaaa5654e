#pragma once
// The drawing surface as the framework and its OS layer see it: the operations every surface offers, plus the
// passes that turn rendered text into coloured translucent text and the hand-over of the pixel view.
#include <cstdint>

#include "KIUiPixmap.h"

class KIGenericUiPixmap : public KIUiPixmap {
public:
    ~KIGenericUiPixmap() override = default;
    // Deletes the current view (if any) and takes view (may be null).
    virtual void ReplacePixmap(KPixmap_Display* view) = 0;
    // Every pixel: alpha = green.
    virtual void AlphaFromGreen() = 0;
    // Every pixel: alpha = alpha x a / 255, truncated.
    virtual void ScaleAlpha(uint8_t a) = 0;
    // Every pixel gets these colour bytes; alpha kept.
    virtual void SetRGB(uint8_t r, uint8_t g, uint8_t b) = 0;
};

// The OS side of a surface: owns the pixel memory. Attribute 1 is the address of the drawable bitmap's handle,
// null when the memory is not drawable.
class KIOsUiPixmap : public KIOsObject {
public:
    ~KIOsUiPixmap() override = default;
};
