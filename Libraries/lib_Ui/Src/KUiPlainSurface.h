#pragma once
// The window's own surfaces (background and back buffer): plain 32-bit BGRA memory with the operations the
// window uses. Internal to the window code.
#include <memory>

#include "KIUiPixmap.h"
#include "KPixmapDisplay.h"

class KUiPlainSurface : public KIUiPixmap {
public:
    // width and height are raised to 1.
    KUiPlainSurface(int32_t width, int32_t height);
    KUiPlainSurface(const KUiPlainSurface&) = delete;
    KUiPlainSurface& operator=(const KUiPlainSurface&) = delete;
    ~KUiPlainSurface() override;

    void* GetAttribute(int id) override;
    bool SetAttribute(int id, const void* value) override;
    KPixmap_Display* GetPixmap() const override { return m_pView.get(); }
    int32_t Width() const override { return m_Width; }
    int32_t Height() const override { return m_Height; }
    void GetBounds(KRect& out) const override { out = KRect(0, 0, m_Width, m_Height); }
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

    // A new surface holding a copy of source's pixels (null for a null source).
    static KUiPlainSurface* CopyOf(const KIUiPixmap* source);

private:
    uint8_t* priAt(int32_t x, int32_t y) const;
    bool priClip(KRect& r) const;

    int32_t m_Width;
    int32_t m_Height;
    std::unique_ptr<uint8_t[]> m_pPixels;
    std::unique_ptr<KPixmap_Display> m_pView;
};
