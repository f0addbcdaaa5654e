#pragma once
// A drawing surface of the user interface: 32-bit pixels B, G, R, A with straight alpha, rows top-down.
// Rectangles are left, top, right, bottom with right and bottom exclusive.
#include <cstdint>

#include "KIOsObject.h"
#include "KPixmapDisplay.h"
#include "KRect.h"
#include "KUiColor.h"

class KIUiPixmap : public KIOsObject {
public:
    // The pixel view (width, height, row bytes, buffer), or null when the surface has no pixels.
    virtual KPixmap_Display* GetPixmap() const = 0;
    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;
    // (0, 0, width, height).
    virtual void GetBounds(KRect& out) const = 0;
    // The pixel's colour; (0, 0, 0, 0) outside the surface.
    virtual void GetPixel(int32_t x, int32_t y, KUiColor& out) const = 0;
    // The pixel's alpha; 0 outside the surface.
    virtual uint8_t GetAlpha(int32_t x, int32_t y) const = 0;
    virtual void FillRGB(uint8_t r, uint8_t g, uint8_t b) = 0;
    virtual void FillRGBA(uint8_t r, uint8_t g, uint8_t b, uint8_t a) = 0;
    // One-pixel outline of rect, each side clipped to clip when given.
    virtual void DrawFrame(const KRect& rect, KUiColor color, const KRect* clip) = 0;
    virtual void FillRect(const KRect& rect, KUiColor color) = 0;
    virtual void FillRectRGBA(const KRect& rect, uint8_t r, uint8_t g, uint8_t b, uint8_t a) = 0;
    // Colour bytes only; alpha kept.
    virtual void FillRectRGB(const KRect& rect, uint8_t r, uint8_t g, uint8_t b) = 0;
    // Composites the colour over every pixel of rect.
    virtual void BlendRect(const KRect& rect, KUiColor color) = 0;
    // Copies sourceRect of this surface into targetRect of target, stretching when the sizes differ.
    virtual void CopyTo(KIUiPixmap* target, const KRect& targetRect, const KRect& sourceRect) const = 0;
    // Composites sourceRect of this surface over targetRect of target (no stretching).
    virtual void BlendTo(KIUiPixmap* target, const KRect& targetRect, const KRect& sourceRect) const = 0;
    // Nine-part skin of this surface over the whole target; (x0, y0) and (x1, y1) are the inclusive corners
    // of the centre.
    virtual void DrawNinePatch(KIUiPixmap* target, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                               bool fillCentre) const = 0;
    virtual void DrawNinePatch(KIUiPixmap* target, const KRect& centre, bool fillCentre) const = 0;
    // Horizontal three-part skin over the whole target (y0 and y1 are not used).
    virtual void DrawThreePart(KIUiPixmap* target, int32_t x0, int32_t y0, int32_t x1, int32_t y1) const = 0;
    virtual void DrawThreePart(KIUiPixmap* target, const KRect& centre) const = 0;
    ~KIUiPixmap() override = default;
};
