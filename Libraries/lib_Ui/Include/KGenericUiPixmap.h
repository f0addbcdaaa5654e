#pragma once
// The portable drawing surface: 32-bit pixels B, G, R, A with straight alpha over memory that its OS pixmap
// owns, and the integer arithmetic the controls draw with: fills, outlines, "over" compositing, copies that
// stretch (nearest when reducing, linear in 15-bit fixed point when enlarging), nine- and three-part skins.
// Operations on a surface without pixels do nothing; reads outside it answer zeros. UI thread only.
#include <cstdint>

#include "KIGenericUiPixmap.h"
#include "KPixmapDisplay.h"
#include "KWString.h"

class KGenericUiPixmap : public KIGenericUiPixmap {
public:
    KGenericUiPixmap() = default;
    KGenericUiPixmap(const KGenericUiPixmap&) = delete;
    KGenericUiPixmap& operator=(const KGenericUiPixmap&) = delete;
    // Deletes the OS pixmap, then the view.
    ~KGenericUiPixmap() override;

    void* GetAttribute(int id) override;
    bool SetAttribute(int id, const void* value) override;
    KPixmap_Display* GetPixmap() const override { return m_pPixmap; }
    int32_t Width() const override;
    int32_t Height() const override;
    void GetBounds(KRect& out) const override;
    void GetPixel(int32_t x, int32_t y, KUiColor& out) const override;
    uint8_t GetAlpha(int32_t x, int32_t y) const override;
    void FillRGB(uint8_t r, uint8_t g, uint8_t b) override;
    void FillRGBA(uint8_t r, uint8_t g, uint8_t b, uint8_t a) override;
    void DrawFrame(const KRect& rect, KUiColor color, const KRect* clip) override;
    void FillRect(const KRect& rect, KUiColor color) override;
    void FillRectRGBA(const KRect& rect, uint8_t r, uint8_t g, uint8_t b, uint8_t a) override;
    void FillRectRGB(const KRect& rect, uint8_t r, uint8_t g, uint8_t b) override;
    void BlendRect(const KRect& rect, KUiColor color) override;
    void CopyTo(KIUiPixmap* target, const KRect& targetRect, const KRect& sourceRect) const override;
    void BlendTo(KIUiPixmap* target, const KRect& targetRect, const KRect& sourceRect) const override;
    void DrawNinePatch(KIUiPixmap* target, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                       bool fillCentre) const override;
    void DrawNinePatch(KIUiPixmap* target, const KRect& centre, bool fillCentre) const override;
    void DrawThreePart(KIUiPixmap* target, int32_t x0, int32_t y0, int32_t x1, int32_t y1) const override;
    void DrawThreePart(KIUiPixmap* target, const KRect& centre) const override;

    void ReplacePixmap(KPixmap_Display* view) override;
    void AlphaFromGreen() override;
    void ScaleAlpha(uint8_t a) override;
    void SetRGB(uint8_t r, uint8_t g, uint8_t b) override;

    // Takes the OS pixmap that owns the pixels (the create functions below).
    void SetOsPixmap(KIOsUiPixmap* osPixmap) { m_pOsPixmap = osPixmap; }

private:
    uint8_t* priPixels() const;

    KIOsUiPixmap* m_pOsPixmap = nullptr;
    KPixmap_Display* m_pPixmap = nullptr;
};

// A new surface of that size, or null when a side is below 1, above 32767, the pixels would exceed 256 MiB or
// memory runs out. osDrawable: memory a window can blit.
KIGenericUiPixmap* CreateUiPixmap(int32_t width, int32_t height, bool osDrawable);
// A new surface holding a copy of source's pixels; null for a null source or as above.
KIGenericUiPixmap* CreateUiPixmapFromPixmap(const KPixmap_Display* source, bool osDrawable);
// The text rendered in the font, in colour, with alpha = coverage x colour alpha / 255, on a surface 2 pixels
// wider than the text's extent and as high as the font's cell. prefixWidths (when not null) receives the
// width of each prefix, one per UTF-16 unit. Null for an empty text or font name, or when the font or the
// surface cannot be made.
KIGenericUiPixmap* CreateTextUiPixmap(const KWString& text, const KWString& fontName, int32_t height, bool bold,
                                      bool italic, bool underline, KUiColor colour, int32_t* prefixWidths,
                                      bool osDrawable);
// Deletes the surface (null ignored) and clears the pointer.
void DeleteUiPixmap(KIUiPixmap*& surface);
template <class T>
void DeleteUiPixmap(T*& surface)
{
    KIUiPixmap* p = surface;
    DeleteUiPixmap(p);
    surface = nullptr;
}
// The font's cell height and average character width (either pointer may be null); false when the font
// cannot be made.
bool GetUiFontMetrics(const KWString& fontName, int32_t height, bool bold, bool italic, bool underline,
                      int32_t* cellHeight, int32_t* averageCharWidth);
// widths[i] = the pixel width of the first i + 1 UTF-16 units of text; false when the font cannot be made.
bool GetUiTextWidths(const KWString& text, const KWString& fontName, int32_t height, bool bold, bool italic,
                     bool underline, int32_t* widths);
