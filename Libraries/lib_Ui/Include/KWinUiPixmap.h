#pragma once
// The OS side of a drawing surface: it owns the pixel memory, a drawable bitmap that windows can blit or plain
// memory, and hands the surface a view of it. The same layer makes fonts from a face name and attributes,
// measures text and renders a line of it (white coverage on black) into a new surface.
#include <cstdint>

#include "KIGenericUiPixmap.h"
#include "KPixmapDisplay.h"
#include "KWString.h"
#include "PlatformBitmap.h"
#include "PlatformText.h"

class KWinUiPixmap : public KIOsUiPixmap {
public:
    explicit KWinUiPixmap(KIGenericUiPixmap* surface) : m_pSurface(surface) {}
    KWinUiPixmap(const KWinUiPixmap&) = delete;
    KWinUiPixmap& operator=(const KWinUiPixmap&) = delete;
    // Frees the bitmap, or the plain memory.
    ~KWinUiPixmap() override;

    // Id 1: the address of the bitmap handle when the memory is a drawable bitmap, else null.
    void* GetAttribute(int id) override;
    // Id 1: takes the bitmap handle (value: the address of a handle); true. Other ids: false.
    bool SetAttribute(int id, const void* value) override;

    // Makes the memory (drawable or plain) and hands the surface its view; false when there is none.
    bool Allocate(int32_t width, int32_t height, bool osDrawable);
    uint8_t* GetBits() const { return m_pBits; }
    int32_t GetRowBytes() const { return m_RowBytes; }

private:
    KIGenericUiPixmap* m_pSurface;  // not owned
    int32_t m_Width = 0;
    int32_t m_Height = 0;
    int32_t m_RowBytes = 0;
    uint8_t* m_pBits = nullptr;
    PlatBitmap* m_hBitmap = nullptr;  // null for plain memory
};

// A font handle of the OS layer; PlatDeleteFont frees it.
using KOsFont = PlatFont*;

// A new OS pixmap for surface with width x height pixels; the surface receives its view (none when the memory
// cannot be had).
KIOsUiPixmap* CreateOsUiPixmap(KIGenericUiPixmap* surface, int32_t width, int32_t height, bool osDrawable);
// The same, holding a copy of source's pixels, row by row.
KIOsUiPixmap* CreateOsUiPixmapFromPixmap(KIGenericUiPixmap* surface, const KPixmap_Display* source,
                                         bool osDrawable);
// The text rendered white on black (alpha 0) into (extent + 2) x cell height pixels, pen at x = 1. When the
// font cannot be made the pixmap stays without memory and the surface gets no view.
KIOsUiPixmap* CreateOsUiTextPixmap(KIGenericUiPixmap* surface, const KWString& text, const KWString& fontName,
                                   int32_t height, bool bold, bool italic, bool underline, int32_t* prefixWidths,
                                   bool osDrawable);
// Null ignored.
void DeleteOsUiPixmap(KIOsUiPixmap* osPixmap);
bool GetOsFontMetrics(const KWString& fontName, int32_t height, bool bold, bool italic, bool underline,
                      int32_t* cellHeight, int32_t* averageCharWidth);
bool GetOsTextWidths(const KWString& text, const KWString& fontName, int32_t height, bool bold, bool italic,
                     bool underline, int32_t* widths);
// Weight 700 when bold, else 400; the Japanese character set when the user's language is Japanese. Null when
// the font cannot be made. The caller deletes it (PlatDeleteFont).
KOsFont CreateOsUiFont(const KWString& fontName, int32_t height, bool bold, bool italic, bool underline);
